#!/usr/bin/env bash
# Lists what a CTest run in a build folder skipped, and why, one line each:
#
#   BUILD: TEST: REASON
#
# The tests are those CTest's summary names as skipped (a script's exit
# status 77, a GoogleTest skip); the reason is what the test printed, from
# CTest's log: a GoogleTest skip's message, else the first line that says
# "skipped", else the last line. The end-to-end test passes while it skips
# cases; its "SKIP: NAME (REASON)" lines are listed as "end_to_end NAME".
#
#   ctest_skips.sh BUILD_DIR CTEST_OUTPUT
#
# CTEST_OUTPUT is what ctest printed on standard output.
set -euo pipefail
dir=$1
output=$2
log=$dir/Testing/Temporary/LastTest.log
names=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$output")
[ -f "$log" ] || { [ -z "$names" ] || echo "$dir: (CTest's log is missing): $names"; exit 0; }
# The names go in through the environment, which awk reads as they are
# (a -v value would have its backslashes taken as escapes).
SKIPPED_NAMES=$names awk -v build="$(basename "$dir")" '
  BEGIN {
    n = split(ENVIRON["SKIPPED_NAMES"], list, "\n")
    for (i = 1; i <= n; i++) skipped[list[i]] = 1
  }
  /^[0-9]+\/[0-9]+ Testing: / { sub(/^[0-9]+\/[0-9]+ Testing: /, ""); test = $0; next }
  /^Output:$/ { inside = 1; getline; reason = ""; gtest = 0; said = ""; last = ""; next }
  /^<end of output>$/ {
    inside = 0
    if (test in skipped) {
      if (reason == "") reason = said
      if (reason == "") reason = last
      if (reason == "") reason = "(it printed no reason)"
      print build ": " test ": " reason
    }
    next
  }
  !inside { next }
  gtest == 1 { reason = $0; gtest = 2 }
  gtest == 0 && /: Skipped$/ { gtest = 1 }
  test == "end_to_end" && /^SKIP: / {
    line = substr($0, 7)
    name = line
    sub(/ .*/, "", name)
    why = line
    if (sub(/^[^ ]* [(]/, "", why)) sub(/[)]$/, "", why)
    else why = "listed in QUELVO_SKIP_CASES"
    print build ": end_to_end " name ": " why
  }
  said == "" && tolower($0) ~ /skipped/ { said = $0 }
  NF { last = $0 }
' "$log"
