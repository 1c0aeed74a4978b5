#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each from its committed seeds for a bounded time, two
# at a time (the machine has two cores). A crash fails the run.
#   FUZZ_SECONDS  time per target (default 60)
#   FUZZ_TARGETS  which targets (default all five)
#   FUZZ_JOBS     how many run at once (default 2)
#   FUZZ_BUILD    build folder (default build/fuzz)
#   FUZZ_XML      a JUnit XML report of the targets, for make test
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
build=${FUZZ_BUILD:-build/fuzz}
read -r -a targets <<< "${FUZZ_TARGETS:-headers session imap settings melody sntp}"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKEL_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" >/dev/null || { cmake --build "$build"; exit 1; }

# The longest input worth trying: a TOP reply or a conversation can be
# long; a settings file reads slower the longer it is; the others are small.
max_len() {
  case $1 in
    settings) echo 8192 ;;
    melody) echo 4096 ;;
    sntp) echo 256 ;;
    *) echo 20000 ;;
  esac
}

run_one() {
  local target=$1 work="$build/run-$1"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp tests/fuzz/corpus/"$target"/* "$work/corpus/"
  ( cd "$work" && "../${target}_fuzz" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
      -timeout=10 -print_final_stats=1 corpus > log.txt 2>&1 )
  echo $? > "$work/rc"
}

running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_one "$target" &
  running=$((running + 1))
done
wait

rc=0
cases=
for target in "${targets[@]}"; do
  work="$build/run-$target"
  if [ "$(cat "$work/rc" 2>/dev/null)" = 0 ]; then
    runs=$(grep -ao 'stat::number_of_executed_units: [0-9]*' "$work/log.txt" | grep -o '[0-9]*$')
    echo "fuzz-$target: $runs runs, no crash"
    cases+="<testcase classname=\"fuzz\" name=\"$target\"/>"
  else
    echo "fuzz-$target: FAILED"
    grep -aE 'ERROR|SUMMARY|runtime error|^(settings|melody|sntp): |Test unit written' "$work/log.txt" | head -20
    cases+="<testcase classname=\"fuzz\" name=\"$target\"><failure message=\"see $work/log.txt\"/></testcase>"
    rc=1
  fi
done
if [ -n "${FUZZ_XML:-}" ]; then
  mkdir -p "$(dirname "$FUZZ_XML")"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<testsuites><testsuite name="fuzz">%s</testsuite></testsuites>\n' \
    "$cases" > "$FUZZ_XML"
fi
exit $rc
