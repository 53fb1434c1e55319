#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Orbivue
# needs. Safe to run again: it only asks apt-get for packages that are missing.
#
#   scripts/install-deps.sh               building, running, testing
#   scripts/install-deps.sh --packaging   also checking the Debian package
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev libqt6opengl6-dev qt6-svg-dev
  freeglut3-dev libglu1-mesa-dev libgl1-mesa-dev libgl1-mesa-dri
  libturbojpeg0-dev libjpeg62-turbo-dev libpng-dev liblcms2-dev zlib1g-dev
  libgtest-dev libgmock-dev
  clang-14 libclang-rt-14-dev
  libx11-dev xvfb xauth x11-utils
  fonts-dejavu-core
  python3
)
if [ "${1:-}" = "--packaging" ]; then
  packages+=(lintian appstream desktop-file-utils)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
