#!/usr/bin/env bash
# Runs every test suite: the unit tests natively and under Wine, the Windows
# tests under Wine, and the end-to-end tests of kel.exe. Ends with the line
# "N passed, N failed" over all of them, and fails if anything failed.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source tools/wine-env.sh

passed=0
failed=0
logs=build/test-logs
mkdir -p "$logs"

# count_gtest LOG RC: adds a GoogleTest run's counts; a run that crashed
# before reporting counts as one failure.
count_gtest() {
  local log=$1 rc=$2 p f
  p=$(tr -d '\r' < "$log" | sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' | tail -n1)
  f=$(tr -d '\r' < "$log" | sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' | tail -n1)
  p=${p:-0}
  f=${f:-0}
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  passed=$((passed + p))
  failed=$((failed + f))
  echo "$3: $p passed, $f failed"
}

suite() {
  local name=$1
  shift
  local log="$logs/$name.log"
  echo "== $name"
  "$@" > "$log" 2>&1
  local rc=$?
  grep -E '^\[  FAILED  \]|Failure|error:' "$log" | tr -d '\r' | head -40
  count_gtest "$log" "$rc" "$name"
}

# A private Dovecot on loopback for the POP3 tests; stopped however this ends.
dovecot_dir="$root/build/dovecot"
python3 tools/dovecot.py stop "$dovecot_dir"
rm -rf "$dovecot_dir"
chrony_dir="$root/build/chrony"
python3 tools/chrony.py stop "$chrony_dir"
trap 'python3 tools/dovecot.py stop "$dovecot_dir"; python3 tools/chrony.py stop "$chrony_dir"' EXIT
# chronyd as the time server, on a loopback address of its own (port 123).
if python3 tools/chrony.py start "$chrony_dir" 127.0.0.2 > "$logs/chrony-start.log" 2>&1; then
  export KEL_SNTP_SERVER=127.0.0.2
else
  cat "$logs/chrony-start.log"
  failed=$((failed + 1))
fi
if python3 tools/dovecot.py start "$dovecot_dir" > "$logs/dovecot-start.log" 2>&1; then
  set -a
  source "$dovecot_dir/ports.env"
  set +a
  export KEL_POP3_PORT=$POP3_PORT KEL_POP3S_PORT=$POP3S_PORT KEL_MAILDIRS=$MAILDIRS
else
  cat "$logs/dovecot-start.log"
  failed=$((failed + 1))
fi

suite native-unit build/native/kel_unit_tests
suite native-mail build/native/kel_mail_tests

# The threads of a check under ThreadSanitizer.
echo "== tsan build"
if CC=gcc CXX=g++ cmake -S . -B build/tsan -G Ninja -DKEL_TSAN=ON > "$logs/tsan-build.log" 2>&1 &&
   cmake --build build/tsan --target kel_mail_tests >> "$logs/tsan-build.log" 2>&1; then
  python3 tools/dovecot.py reset "$dovecot_dir"
  suite tsan-mail env TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/kel_mail_tests
else
  tail -20 "$logs/tsan-build.log"
  failed=$((failed + 1))
fi

kel_prefix "$root/build/wine/unit"
suite wine-unit env WINEDEBUG=-all "$KEL_WINE" build/windows/kel_unit_tests.exe
python3 tools/dovecot.py reset "$dovecot_dir"
suite wine-mail env WINEDEBUG=-all "$KEL_WINE" build/windows/kel_mail_tests.exe
# The Windows tests draw: they start their own wineserver under a display.
kel_prefix_stop
suite wine-windows env WINEDEBUG=-all xvfb-run -a "$KEL_WINE" build/windows/kel_windows_tests.exe
kel_prefix_stop

echo "== fuzz"
bash tools/run-fuzz.sh 2>&1 | tee "$logs/fuzz.log"
p=$(grep -c '^fuzz-.*no crash$' "$logs/fuzz.log")
f=$(grep -c '^fuzz-.*FAILED$' "$logs/fuzz.log")
[ "$p" -eq 0 ] && [ "$f" -eq 0 ] && f=1
passed=$((passed + p))
failed=$((failed + f))

echo "== e2e"
python3 tests/e2e/run.py 2>&1 | tee "$logs/e2e.log"
line=$(grep -E '^e2e: [0-9]+ passed, [0-9]+ failed$' "$logs/e2e.log" | tail -n1)
if [ -n "$line" ]; then
  p=$(echo "$line" | sed 's/^e2e: \([0-9]*\) passed.*/\1/')
  f=$(echo "$line" | sed 's/.*passed, \([0-9]*\) failed/\1/')
  passed=$((passed + p))
  failed=$((failed + f))
else
  failed=$((failed + 1))
fi

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
