#!/usr/bin/env bash
# Fails when a tracked C++ source differs from what clang-format makes of it
# with the committed .clang-format. Fix with:
#   git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "formatting: clean"
