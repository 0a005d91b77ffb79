#!/bin/sh
# The manual page, as the build fills it in, must pass mandoc's checks without a single message, down
# to style, and groff's with every warning on where groff is installed (the
# package checker formats it with groff). Exits 77, which CTest counts as
# skipped, when mandoc is missing.
#
#   man_lint.sh PAGE       (the page as configured: build/doc/quelvo.1)
page=$1
if ! command -v mandoc >/dev/null; then
  echo "man page lint: skipped: mandoc is not installed"
  exit 77
fi
status=0
# Whether a page that SEE ALSO names is installed, and indexed, is a fact of
# this machine, not a fault of the page: mandoc's messages about it are left
# out.
out=$(mandoc -T lint -W style "$page" 2>&1 |
  grep -v -e ': STYLE: referenced manual not found: ' -e '^mandoc: outdated mandoc.db lacks ')
# A placeholder that the build did not fill in.
if grep -n '@[A-Z_]*@' "$page"; then
  echo "$page: a placeholder is left"
  status=1
fi
if command -v groff >/dev/null; then
  more=$(groff -mandoc -ww -z "$page" 2>&1) || status=1
  out=$out${more:+
$more}
fi
if [ -n "$out" ] || [ "$status" != 0 ]; then
  printf '%s\n' "$out"
  echo "man page lint: FAIL"
  exit 1
fi
echo "man page lint: clean"
