#!/usr/bin/env bash
# Checks the sources' layout with clang-format, builds quelvo and runs the
# whole test suite: unit, end-to-end and corpus tests as released, built by
# g++ and by clang++, again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the unit tests under ThreadSanitizer, once
# more under valgrind's memcheck, and a replay of the fuzzing corpus and its
# regression inputs.
#
# Installs with apt-get (as root), saying so, what it lacks: libcrypto's
# headers (libssl-dev, which --hash, --signature and --dotnet need to build), GoogleTest, mandoc and
# clang-format here; nlohmann-json3-dev in the fuzz replay
# (fuzz/run.sh), which runs where clang++ is. The corpus tests need wine64
# and python3-pefile, the JSON checks python3-jsonschema; each is skipped,
# saying so, when they are missing, unless QUELVO_INSTALL_CORPUS=1 lets it
# install them. clang++ and valgrind are not installed: their runs are
# skipped without them. README.md lists the same. The Windows builds are
# tested apart, under Wine, being slow: tests/wine/run.sh. Warnings are
# errors here. It ends with every test that was skipped, in which build, and
# why (tools/ctest_skips.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# libcrypto for the program, GoogleTest for the unit tests, mandoc for the
# manual page's lint, clang-format for the layout check.
need=()
if command -v dpkg >/dev/null; then
  for package in libssl-dev libgtest-dev libgmock-dev mandoc clang-format; do
    dpkg -s "$package" >/dev/null 2>&1 || need+=("$package")
  done
fi
if [ "${#need[@]}" -gt 0 ]; then
  echo "== installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; }
fi

# What was skipped, and why, one line each ("BUILD: TEST: REASON"), listed
# at the end: a skip that only `ctest -V` shows is a skip nobody sees.
skips=$(mktemp)
trap 'rm -f "$skips"' EXIT
skip() { printf '%s: %s: %s\n' "$1" "$2" "$3" >>"$skips"; }

run_suite() {
  local dir=$1 status=0
  shift
  echo "== $dir: configure and build"
  cmake -S . -B "$dir" -DQUELVO_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $dir: tests"
  (cd "$dir" && ctest --output-on-failure -j"$jobs") | tee "$dir/ctest-output.txt" || status=$?
  [ "$status" = 0 ] || return "$status"
  tools/ctest_skips.sh "$dir" "$dir/ctest-output.txt" >>"$skips"
}

tools/format-check.sh
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The same warnings, as errors, from the other compiler.
if command -v clang++ >/dev/null; then
  CXX=clang++ run_suite build-clang -DCMAKE_BUILD_TYPE=RelWithDebInfo
else
  echo "== build-clang: skipped, clang is not installed"
  skip build-clang "every test" "clang is not installed"
fi
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUELVO_SANITIZE=ON

# The unit tests, one executable per layer.
unit_tests=(quelvo_reader_tests quelvo_platform_tests quelvo_match_tests
            quelvo_report_tests quelvo_driver_tests)

# The prefetcher's helper threads: the unit tests under ThreadSanitizer.
# Every layer's, as the driver's runs read ahead too.
echo "== build-tsan: configure and build"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELVO_TSAN=ON -DQUELVO_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target "${unit_tests[@]}"
echo "== build-tsan: unit tests"
for t in "${unit_tests[@]}"; do
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    build-tsan/tests/"$t" --gtest_brief=1
done

if command -v valgrind >/dev/null; then
  echo "== valgrind memcheck: unit and end-to-end tests"
  vg="valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect"
  for t in "${unit_tests[@]}"; do
    $vg build/tests/"$t" --gtest_brief=1
  done
  QUELVO_RUNNER=$vg tests/e2e/run.sh "$PWD/build/quelvo" "$PWD/tests"
else
  echo "== valgrind memcheck: skipped, valgrind is not installed"
  skip valgrind "unit and end-to-end tests" "valgrind is not installed"
fi

if command -v clang++ >/dev/null; then
  fuzz/run.sh 0
else
  echo "== fuzz replay: skipped, clang is not installed"
  skip fuzz "corpus and regression replay" "clang is not installed"
fi

echo "== skipped"
if [ -s "$skips" ]; then
  cat "$skips"
else
  echo "nothing"
fi
