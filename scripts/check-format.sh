#!/usr/bin/env bash
# Fails when a tracked C++ source differs from what clang-format makes of it
# with the committed .clang-format, and prints the one command that mends it.
#
# The check uses clang-format 19 by name on every release, not whatever
# `clang-format` is. The verdict must not depend on the machine, and versions
# of clang-format differ in ways no option undoes: 14 (Debian 12's default)
# writes `struct stat info {};` where 19 (Debian 13's default) writes
# `struct stat info{};`, and the only option that would make them agree
# (SpaceBeforeCpp11BracedList) restyles every braced initialiser. Debian 12
# and Debian 13 both carry clang-format-19 in their main archive, and
# scripts/install-deps.sh installs it, so the same program judges the same
# tree alike everywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
format=clang-format-19
fix="git ls-files -z '*.cpp' '*.h' | xargs -0 $format -i"
if ! command -v $format >/dev/null; then
  echo "check-format.sh: $format is missing; scripts/install-deps.sh installs it" >&2
  exit 1
fi
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 $format --dry-run --Werror; then
  echo "formatting: not clean; mend it with:" >&2
  echo "  $fix" >&2
  exit 1
fi
echo "formatting: clean ($($format --version | grep -o 'version [0-9.]*'))"
