#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for SECONDS (default 20) on
# seed corpora made fresh by make_corpus. The harnesses are those declared in
# fuzz/CMakeLists.txt, which lists them in build-fuzz/fuzz/harnesses.txt.
# Exits non-zero on any finding; the crashing input is left in
# build-fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
jobs=${2:-1}
bash scripts/install-deps.sh
# The clang that install-deps.sh brought (Debian's default one, whichever
# version the release has); else the newest versioned clang on the PATH.
cc=$(command -v clang || compgen -c clang- | grep -E '^clang-[0-9]+$' | sort -t- -k2 -n | tail -1 || true)
if [ -z "$cc" ] || ! command -v "${cc/clang/clang++}" >/dev/null; then
  echo "fuzz.sh: no clang and clang++ found; scripts/install-deps.sh installs them" >&2
  exit 1
fi
CC=$cc CXX=${cc/clang/clang++} cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORBIVUE_FUZZ=ON -DORBIVUE_BUILD_TESTS=OFF -DORBIVUE_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzzers
mapfile -t harnesses <build-fuzz/fuzz/harnesses.txt
rm -rf build-fuzz/seeds build-fuzz/work
mkdir -p build-fuzz/findings
QT_QPA_PLATFORM=offscreen ./build-fuzz/fuzz/make_corpus build-fuzz/seeds
export ASAN_OPTIONS=allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
total=0
status=0
fuzz=$PWD/build-fuzz
for harness in "${harnesses[@]}"; do
  # Each run in a folder of its own: with -jobs libFuzzer writes a
  # fuzz-N.log per job into the current folder.
  run="$fuzz/work/$harness-run"
  mkdir -p "$fuzz/work/$harness" "$run"
  log="$fuzz/fuzz_$harness.log"
  if ! (cd "$run" && "$fuzz/fuzz/fuzz_$harness" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2560 -malloc_limit_mb=2048 -print_final_stats=1 -jobs="$jobs" \
       -workers="$jobs" -artifact_prefix="$fuzz/findings/$harness-" \
       "$fuzz/work/$harness" "$fuzz/seeds/$harness") >"$log" 2>&1; then
    echo "fuzz_$harness: FINDING, see $log, $run and build-fuzz/findings/"
    tail -40 "$log"
    status=1
  fi
  runs=$( (grep -h 'stat::number_of_executed_units' "$log" "$run"/fuzz-*.log 2>/dev/null || true) \
         | awk '{s += $2} END {print s + 0}')
  total=$((total + runs))
  echo "fuzz_$harness: $runs executions in ${seconds} s"
done
echo "fuzzing: $total executions in all"
exit $status
