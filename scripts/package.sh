#!/usr/bin/env bash
# Builds the Debian package in build-package/ and checks it as a Debian
# packager would: lintian (no error and no warning may remain), the AppStream
# metadata (appstreamcli validate --no-net) and the desktop entry
# (desktop-file-validate). Prints the package's path last.
#
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --packaging
# Debian's own compiler and linker flags, with every hardening option.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS CFLAGS LDFLAGS
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DORBIVUE_BUILD_TESTS=OFF -DORBIVUE_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -j2
rm -f build-package/orbivue_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/orbivue_*.deb)

echo "== lintian $deb"
# Informational tags are listed but do not fail the check.
report=$(lintian --display-info "$deb" 2>&1 || true)
echo "${report:-(no tags)}"
if grep -Eq '^[EW]: ' <<<"$report"; then
  echo "lintian: errors or warnings remain"
  exit 1
fi

echo "== appstreamcli validate"
appstreamcli validate --no-net packaging/org.orbivue.Orbivue.metainfo.xml
echo "== desktop-file-validate"
desktop-file-validate packaging/org.orbivue.Orbivue.desktop
echo "desktop entry: clean"
echo "package: $deb"
