#!/usr/bin/env bash
# scripts/install-deps.sh against a made-up release: dpkg-query, apt-cache and
# apt-get are stand-ins on the PATH, told which packages are installed and
# which the release does not offer. Each case says what apt-get must be asked.
#
#   install_deps_test.sh PATH/TO/install-deps.sh
set -uo pipefail
script=$1
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
# INSTALLED ("*" for all) and MISSING hold names separated by spaces; any
# other package is offered by the release and not installed.
cat >"$fake/dpkg-query" <<'STUB'
#!/bin/bash
case " $INSTALLED " in
  " * " | *" ${!#} "*) echo "install ok installed" ;;
  *) exit 1 ;;
esac
STUB
cat >"$fake/apt-cache" <<'STUB'
#!/bin/bash
case " $MISSING " in
  *" $2 "*) printf '%s:\n  Installed: (none)\n  Candidate: (none)\n' "$2" ;;
  *) printf '%s:\n  Installed: (none)\n  Candidate: 1.0-1\n' "$2" ;;
esac
STUB
printf '#!/bin/sh\necho "apt-get $*" >>"$APT_LOG"\n' >"$fake/apt-get"
printf '#!/bin/sh\nexec "$@"\n' >"$fake/sudo"
chmod +x "$fake"/*

failed=0
# case | installed | not offered | exit status | apt-get install asked for
# (NOTHING: no install at all) | the output says
cases=(
  "everything there|*||0|NOTHING|"
  "a new machine|||0|libglut-dev|Installing:"
  "only the older name offered||libglut-dev|0|freeglut3-dev|"
  "a release without two needs||clang-format-19 libclang-rt-dev|1|NOTHING|clang-format-19"
  "neither name of a need||libglut-dev freeglut3-dev|1|NOTHING|libglut-dev or freeglut3-dev"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name installed missing status installs says <<<"$c"
  log=$fake/apt.log
  rm -f "$log"
  out=$(PATH="$fake:$PATH" INSTALLED="$installed" MISSING="$missing" APT_LOG="$log" \
    bash "$script" 2>&1)
  got=$?
  asked=$(grep ' install ' "$log" 2>/dev/null)
  problem=""
  [ "$got" = "$status" ] || problem="exit status $got, not $status"
  if [ "$installs" = NOTHING ]; then
    [ -z "$asked" ] || problem="$problem; asked: $asked"
  else
    grep -qw -- "$installs" <<<"$asked" || problem="$problem; $installs not installed"
  fi
  [ -z "$says" ] || grep -qF -- "$says" <<<"$out" || problem="$problem; '$says' not said"
  if [ -n "$problem" ]; then
    echo "FAILED: $name: $problem"
    sed 's/^/    /' <<<"$out"
    failed=$((failed + 1))
  else
    echo "ok: $name"
  fi
done
echo "install-deps.sh: $((${#cases[@]} - failed)) passed, $failed failed"
[ $failed -eq 0 ]
