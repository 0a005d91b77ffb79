#!/usr/bin/env bash
# tools/ctest_skips.sh against a real CTest run: a scratch project whose
# tests skip each way the suite's do (exit status 77 after a line that says
# why, a GoogleTest skip, nothing said at all), an end-to-end test that
# passes while skipping cases, and tests that pass or fail while printing
# "skipped", which must not be listed.
#
#   ctest_skips_test.sh SOURCE_DIR CMAKE CTEST
set -u
src=$1
cmake=$2
ctest=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

mkdir "$scratch/project"
cat >"$scratch/project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(skips NONE)
enable_testing()
add_test(NAME corpus_x COMMAND sh -c "echo 'corpus: skipped: wine64 is not installed'; exit 77")
set_tests_properties(corpus_x PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME Suite.Case COMMAND sh -c "printf '%s\n' '[ RUN      ] Suite.Case' 'a_test.cpp:12: Skipped' 'no /dev/shm to hold far-off file times' '[  SKIPPED ] Suite.Case (0 ms)'")
set_tests_properties(Suite.Case PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
add_test(NAME silent COMMAND sh -c "exit 77")
set_tests_properties(silent PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME end_to_end COMMAND sh -c "echo 'SKIP: nonroot_a (setpriv is not installed)'; echo 'SKIP: lost_output'; echo 'end-to-end: 3 passed, 0 failed, 2 skipped'")
add_test(NAME passes COMMAND sh -c "echo 'nothing skipped here'")
add_test(NAME fails COMMAND sh -c "echo 'skipped nothing, failed'; exit 1")
CMAKE
"$cmake" -S "$scratch/project" -B "$scratch/build" >/dev/null || { echo "FAIL: the scratch project does not configure"; exit 1; }
(cd "$scratch/build" && "$ctest" -j2 >"$scratch/ctest.out" 2>&1)

cat >"$scratch/expected" <<'EXPECTED'
build: Suite.Case: no /dev/shm to hold far-off file times
build: corpus_x: corpus: skipped: wine64 is not installed
build: end_to_end lost_output: listed in QUELVO_SKIP_CASES
build: end_to_end nonroot_a: setpriv is not installed
build: silent: (it printed no reason)
EXPECTED
status=0
"$src/tools/ctest_skips.sh" "$scratch/build" "$scratch/ctest.out" >"$scratch/got" || status=$?
sort "$scratch/got" -o "$scratch/got"
if [ "$status" = 0 ] && cmp -s "$scratch/expected" "$scratch/got"; then
  echo "ctest skips: every skip listed with its reason, nothing else"
  exit 0
fi
echo "FAIL: ctest_skips.sh exited with $status; expected, then got:"
cat "$scratch/expected"
echo ---
cat "$scratch/got"
exit 1
