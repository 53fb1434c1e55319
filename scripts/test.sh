#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite,
# under a virtual X display for the suites that open GL windows.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
cd build
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --output-on-failure -j1 "$@"
