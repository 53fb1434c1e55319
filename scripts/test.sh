#!/usr/bin/env bash
# Installs what is missing, checks the formatting, the links of README.md and
# docs/ and the picture of the libraries in docs/architecture.md, builds
# everything (any warning fails the build) and runs every test: the suites as built
# normally, the same suites built with AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails them), and a short run of each
# fuzz harness. The suites run under a virtual X display.
#
#   scripts/test.sh           everything (what CI runs)
#   scripts/test.sh --plain   the two checks and the normal build's suites only
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
display=(xvfb-run -a -s "-screen 0 1280x1024x24 -noreset")

passed=0
skipped=0
# Each step's heading says how far into the run it starts.
step() { echo "== $1 (at $SECONDS s)"; }
# Runs one build folder's suites (any failure ends the script); the cases of
# its JUnit report count towards the last line.
run_suites() {
  (cd "$1" && "${display[@]}" ctest --output-on-failure -j2 --timeout 600 \
    --output-junit ctest-results.xml)
  local attrs
  attrs=$(sed -n '/<testsuite/,/>/p' "$1/ctest-results.xml" | tr '\n\t' '  ')
  count() { sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$attrs"; }
  passed=$((passed + $(count tests) - $(count failures) - $(count skipped) - $(count disabled)))
  skipped=$((skipped + $(count skipped)))
}

step "Formatting"
bash scripts/check-format.sh
bash scripts/check-links.sh
bash scripts/architecture.sh --check

step "Test suites"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
run_suites build
if [ "${1:-}" = "--plain" ]; then
  step "Done"
  echo "tests: $passed passed, $skipped skipped, 0 failed"
  exit 0
fi

step "Test suites with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBIVUE_SANITIZE=ON \
  -DORBIVUE_BUILD_BENCH=OFF
cmake --build build-asan -j2
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS="detect_leaks=1"
run_suites build-asan

step "Fuzz harnesses, a short run each"
bash scripts/fuzz.sh 20
step "Done"
echo "tests: $passed passed, $skipped skipped, 0 failed"
