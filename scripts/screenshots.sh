#!/usr/bin/env bash
# Remakes the README's pictures (docs/*.png) from the current program, on a
# virtual X display: the editor with the sample set loaded, the loading
# screen, and the viewer during a move.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target orbivue_screenshots sample_set
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
  ./build/tools/orbivue_screenshots build/sample/orbivue-sample.ini docs
ls -l docs/*.png
