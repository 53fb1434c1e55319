#!/usr/bin/env bash
# Installs the Debian package with apt-get into a freshly bootstrapped root of
# the Debian release this machine runs (the one whose libraries the package
# names as its dependencies) and starts Orbivue there on a virtual display:
# the editor window must appear, and the installed sample set must be where
# the package says.
# Needs root (debootstrap, chroot, mounts) and access to the Debian archive;
# takes a few minutes. Not part of the test command.
#
#   scripts/try-package.sh [PACKAGE.deb]
#
# Without an argument it makes the package with scripts/package.sh first.
# The root is bootstrapped afresh in a temporary folder and removed again;
# set ORBIVUE_KEEP_ROOT=1 to keep it for a look.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "try-package.sh needs root: debootstrap and chroot" >&2
  exit 2
fi
deb=${1:-}
if [ -z "$deb" ]; then
  bash scripts/package.sh
  deb=$(ls build-package/orbivue_*.deb)
fi
deb=$(realpath "$deb")
command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ -z "$release" ]; then
  echo "try-package.sh: /etc/os-release names no Debian release" >&2
  exit 2
fi

root=$(mktemp -d "/var/tmp/orbivue-$release.XXXXXX")
cleanup() {
  for m in proc sys dev/pts dev; do
    umount "$root/$m" 2>/dev/null || umount -l "$root/$m" 2>/dev/null || true
  done
  if [ "${ORBIVUE_KEEP_ROOT:-0}" != 1 ]; then
    rm -rf --one-file-system "$root"
  else
    echo "root kept in $root"
  fi
}
trap cleanup EXIT

echo "== debootstrap $release into $root"
debootstrap --variant=minbase "$release" "$root" "$mirror" >"$root.log" 2>&1 ||
  { tail -20 "$root.log"; exit 1; }
rm -f "$root.log"
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
cp "$deb" "$root/tmp/"

echo "== apt-get install ./$(basename "$deb")"
in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 "$@"; }
in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends "./tmp/$(basename "$deb")" \
  xvfb xauth x11-utils >/dev/null
in_root dpkg -s orbivue | grep -E '^(Package|Version|Status):'
in_root test -f /usr/share/orbivue/sample/orbivue-sample.ini
in_root man -w orbivue 2>/dev/null || in_root test -f /usr/share/man/man1/orbivue.1.gz

echo "== orbivue on a virtual display"
# A display number that no server outside uses: X servers also listen on
# abstract sockets, which the chroot shares with this machine, while
# xvfb-run -a inside would look only at the root's own /tmp for lock files.
display=99
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
  display=$((display + 1))
done
in_root xvfb-run -n "$display" -s "-screen 0 1280x1024x24" sh -c '
  orbivue & program=$!
  for i in $(seq 60); do
    if xwininfo -root -tree | grep -q "\"Orbivue v"; then
      xwininfo -root -tree | grep "\"Orbivue v"
      kill $program
      exit 0
    fi
    sleep 1
  done
  kill $program
  exit 1' || { echo "no Orbivue window appeared"; exit 1; }
echo "installed and started: the editor window opened"
