#!/bin/sh
# Starts the window manager named first on the display, waits until it says
# on the root window that it manages it, runs the rest of the command line,
# and ends the manager again.
#
#   with-window-manager.sh MANAGER COMMAND [ARGUMENT ...]
manager=$1
shift
"$manager" >/dev/null 2>&1 &
pid=$!
i=0
while [ $i -lt 100 ] && ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  sleep 0.1
  i=$((i + 1))
done
"$@"
status=$?
kill $pid 2>/dev/null
exit $status
