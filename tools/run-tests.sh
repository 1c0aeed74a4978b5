#!/usr/bin/env bash
# `make test`: ctest runs every test of the native and the windows build trees
# (cmake/tests.cmake), one tree after the other, each KEL_TEST_JOBS tests at
# a time (default 4: most of them wait; their resource locks keep apart what
# they share); then tools/test-results.py counts them from their XML results
# and ends with "N passed, N failed". Fails if anything failed. CTEST_ARGS
# adds arguments to both runs (-L e2e). Each test's time is in
# build/test-logs/TREE.log and TREE/Testing/Temporary/CTestCostData.txt.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
logs=build/test-logs
mkdir -p "$logs"

read -r -a extra <<< "${CTEST_ARGS:-}"
for tree in build/native build/windows; do
  name=$(basename "$tree")
  echo "== $name"
  rm -rf "$tree/test-results"
  mkdir -p "$tree/test-results"
  ctest --test-dir "$tree" -j "${KEL_TEST_JOBS:-4}" --output-junit "$root/$tree/test-results/ctest.xml" \
    --output-log "$logs/$name.log" "${extra[@]}"
done
echo
python3 tools/test-results.py build/native build/windows
