#!/usr/bin/env bash
# Every message quelvo prints must be explained under DIAGNOSTICS in the
# manual page, and the page must point further under SEE ALSO. The messages
# are listed below as the page writes them (the argument word in place of
# the path or reason); each must really be printed, which the expected
# outputs of the end-to-end cases show for standard output and a run into
# /dev/full shows for the one on standard error. Exits 77, which CTest
# counts as skipped, when mandoc is missing.
#
#   man_diagnostics.sh PAGE QUELVO CASES_DIR SAMPLES_DIR
set -u
page=$1 quelvo=$2 cases=$3 samples=$4
if ! command -v mandoc >/dev/null; then
  echo "man page diagnostics: skipped: mandoc is not installed"
  exit 77
fi
failed=0
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}

# The page as text, bold and underline undone, one section per call.
text=$(mandoc -T ascii -O width=400 "$page" | sed 's/.\x08//g')
# section NAME: the section's text on one line, spaces squeezed.
section() {
  printf '%s\n' "$text" | awk -v name="$1" '/^[A-Z]/ { on = ($0 == name); next } on' |
    tr -s ' \n' '  ' | sed 's/^ //; s/ $//'
}
diagnostics=$(section DIAGNOSTICS)
see_also=$(section "SEE ALSO")
[ -n "$see_also" ] || fail "the page has no SEE ALSO section"

# regex TEXT WORD: TEXT as an extended regular expression matching a whole
# line, WORD standing for any text.
regex() {
  local quoted
  quoted=$(printf '%s' "$1" | sed 's/[][\.*^$?+(){}|/]/\\&/g')
  printf '^%s$' "${quoted//$2/.*}"
}

# Each message: where it goes, a tab, the argument word, a tab, the text.
while IFS=$'\t' read -r stream word message; do
  case " $diagnostics " in
  *" $message "*) ;;
  *) fail "DIAGNOSTICS does not explain '$message'" ;;
  esac
  case $stream in
  stdout)
    cat "$cases"/*.out | grep -q -E "$(regex "$message" "$word")" ||
      fail "no end-to-end case prints '$message': is it still the program's text?"
    ;;
  stderr)
    if [ -w /dev/full ]; then
      "$quelvo" -d "$samples/*" >/dev/full 2>"${TMPDIR:-/tmp}/quelvo-full.$$"
      grep -q -E "$(regex "$message" "$word")" "${TMPDIR:-/tmp}/quelvo-full.$$" ||
        fail "a run into /dev/full does not print '$message' but: $(cat "${TMPDIR:-/tmp}/quelvo-full.$$")"
      rm -f "${TMPDIR:-/tmp}/quelvo-full.$$"
    fi
    ;;
  esac
done <<'MESSAGES'
stdout	name	name was not found
stdout	path	Unable to open file path.
stdout	path	path does not contain version information.
stdout	path	path is longer than 259 characters and was not examined.
stdout	folder	Unable to read folder folder.
stdout	-	No file specified.
stderr	reason	quelvo: output could not be written: reason
MESSAGES

echo "man page diagnostics: $failed failed"
[ "$failed" = 0 ]
