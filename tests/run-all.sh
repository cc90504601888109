#!/usr/bin/env bash
# The whole test suite: the Linux build, the same suite under the sanitizers,
# the Windows build under Wine, the fuzzers for a short while, and memory
# checks of real launches. Each leg prints its own runner's summary.
set -u
cd "$(dirname "$0")/.."

legs=(linux sanitize windows fuzz valgrind)
passed=0
failed=0
failed_legs=()
for leg in "${legs[@]}"; do
  echo "=== leg: $leg"
  if [ "$leg" = linux ]; then
    cmake --workflow --preset default
  else
    bash "tests/legs/$leg.sh"
  fi
  if [ $? -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failed_legs+=("$leg")
  fi
done

[ "$failed" -eq 0 ] || echo "failed legs: ${failed_legs[*]}"
echo "legs: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
