#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Orbivue
# needs, on Debian 12 (bookworm) and Debian 13 (trixie). Safe to run again: it
# only asks apt-get for packages that are missing.
#
#   scripts/install-deps.sh               building, running, testing
#   scripts/install-deps.sh --packaging   also checking the Debian package
#
# The releases name a few things differently. Such a need is written as
# "first|second": what is installed already satisfies it, otherwise the first
# name that apt-cache offers is installed. The compilers come through Debian's
# default names (clang, libclang-rt-dev), which follow each release's own LLVM
# version; clang-format is the one version both releases carry, for the
# reason given in scripts/check-format.sh. When the release offers none of the
# names of a need, nothing at all is installed and the message names what was
# missing.
set -euo pipefail

needs=(
  build-essential cmake ninja-build pkg-config clang-format-19
  qt6-base-dev qt6-svg-dev
  "libglut-dev|freeglut3-dev" libglu1-mesa-dev "libglvnd-dev|libgl1-mesa-dev" libgl1-mesa-dri
  libturbojpeg0-dev libjpeg62-turbo-dev libpng-dev liblcms2-dev zlib1g-dev
  libgtest-dev libgmock-dev
  clang libclang-rt-dev
  libx11-dev xvfb xauth x11-utils openbox
  fonts-dejavu-core
  python3 git
)
if [ "${1:-}" = "--packaging" ]; then
  needs+=(lintian appstream desktop-file-utils file)
fi

# Both read the whole answer first: grep -q stopping early would end the
# query with SIGPIPE, which pipefail counts as a failure.
installed() {
  [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == *"install ok installed"* ]]
}
offered() {
  [[ $(apt-cache policy "$1" 2>/dev/null) =~ Candidate:\ [^\(] ]]
}

# The needs that no installed package satisfies yet.
open=()
for need in "${needs[@]}"; do
  IFS='|' read -ra names <<<"$need"
  done_already=0
  for name in "${names[@]}"; do
    if installed "$name"; then
      done_already=1
      break
    fi
  done
  [ $done_already -eq 1 ] || open+=("$need")
done
if [ ${#open[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi
if ! command -v apt-get >/dev/null || ! command -v apt-cache >/dev/null; then
  echo "install-deps.sh: no apt-get here to install: ${open[*]//|/ or }" >&2
  echo "Debian 12 (bookworm) and Debian 13 (trixie) are supported." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq

chosen=()
unknown=()
for need in "${open[@]}"; do
  IFS='|' read -ra names <<<"$need"
  pick=""
  for name in "${names[@]}"; do
    if offered "$name"; then
      pick=$name
      break
    fi
  done
  if [ -n "$pick" ]; then
    chosen+=("$pick")
  else
    unknown+=("${need//|/ or }")
  fi
done

if [ ${#unknown[@]} -gt 0 ]; then
  release=$( (. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-}") || true)
  echo "install-deps.sh: ${release:-this system} offers no package named:" >&2
  printf '  %s\n' "${unknown[@]}" >&2
  echo "Nothing was installed. Debian 12 (bookworm) and Debian 13 (trixie) are supported." >&2
  exit 1
fi

echo "Installing: ${chosen[*]}"
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${chosen[@]}"
