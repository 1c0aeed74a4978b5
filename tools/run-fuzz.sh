#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each from its committed seeds for a bounded time, both
# at once. A crash fails the run. FUZZ_SECONDS sets the time (default 60).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${FUZZ_SECONDS:-60}
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKEL_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" >/dev/null || { cmake --build "$build"; exit 1; }

pids=()
for target in headers session; do
  work="$build/run-$target"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp tests/fuzz/corpus/$target/* "$work/corpus/"
  ( cd "$work" && "../${target}_fuzz" -max_total_time="$seconds" -max_len=20000 -timeout=10 \
      -print_final_stats=1 corpus > log.txt 2>&1 ) &
  pids+=($!)
done
rc=0
i=0
for target in headers session; do
  if wait "${pids[$i]}"; then
    echo "fuzz-$target: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$build/run-$target/log.txt" | grep -o '[0-9]*$') runs, no crash"
  else
    echo "fuzz-$target: FAILED"
    grep -E 'ERROR|SUMMARY|runtime error' "$build/run-$target/log.txt" | head -20
    rc=1
  fi
  i=$((i + 1))
done
exit $rc
