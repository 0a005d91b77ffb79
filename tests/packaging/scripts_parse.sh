#!/bin/bash
# Every shell script of the tree parses: the bench and fuzz drivers run
# only in CI or by hand, where a broken one would be found last.
set -u
root=$1
status=0
while IFS= read -r -d '' f; do
  head -n1 "$f" | grep -q 'bash\|/sh' || continue
  if ! out=$(bash -n "$f" 2>&1); then
    echo "FAIL: $f does not parse: $out"
    status=1
  fi
done < <(find "$root" -path "$root/build*" -prune -o -path "$root/.git" -prune -o \
  -type f \( -name '*.sh' -o -path "$root/.ci/*" -o -path "$root/tools/*" \
  -o -path "$root/completion/*" \) -print0)
exit $status
