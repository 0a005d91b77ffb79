#!/bin/sh
# The manual page must pass mandoc's checks without a single message, down
# to style, and groff's with every warning on where groff is installed (the
# package checker formats it with groff). Exits 77, which CTest counts as
# skipped, when mandoc is missing.
#
#   man_lint.sh PAGE
page=$1
if ! command -v mandoc >/dev/null; then
  echo "man page lint: skipped: mandoc is not installed"
  exit 77
fi
status=0
out=$(mandoc -T lint -W style "$page" 2>&1) || status=1
if command -v groff >/dev/null; then
  more=$(groff -mandoc -ww -z "$page" 2>&1) || status=1
  out=$out$more
fi
if [ -n "$out" ] || [ "$status" != 0 ]; then
  printf '%s\n' "$out"
  echo "man page lint: FAIL"
  exit 1
fi
echo "man page lint: clean"
