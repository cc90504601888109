#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short fixed
# time on a scratch copy of its committed corpus, so that nothing the fuzzer
# finds is written into the checkout. A crash or a failed property fails.
set -u
cd "$(dirname "$0")/../.."
src=$PWD
build=$src/build/fuzz
seconds=${ZARN_FUZZ_SECONDS:-20}
targets=(fuzz_quote_split fuzz_copy_dir fuzz_find_up fuzz_tool_name)

cmake -S "$src" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null &&
  cmake --build "$build" --target zarn_fuzzers || { echo "fuzz: build failed"; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zarn-fuzz.XXXXXX")
passed=0
failed=0
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t/corpus" "$scratch/$t/tmp"
  cp "$src/tests/fuzz/corpus/$t/"* "$scratch/$t/corpus/"
  echo "--- $t (${seconds}s)"
  if TMPDIR=$scratch/$t/tmp \
     ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     "$build/tests/fuzz/$t" "$scratch/$t/corpus" -max_total_time="$seconds" \
       -max_len=8192 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$scratch/$t/" >"$scratch/$t/log" 2>&1; then
    passed=$((passed + 1))
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units)' "$scratch/$t/log" | tail -2
  else
    failed=$((failed + 1))
    tail -40 "$scratch/$t/log"
    echo "$t failed; reproducer and log kept in $scratch/$t"
  fi
done

[ "$failed" -eq 0 ] && rm -rf "$scratch"
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
