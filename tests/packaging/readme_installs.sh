#!/usr/bin/env bash
# The README's account of the test command must name every package that
# the command, or a script it runs, installs with apt-get: a script that
# starts installing something new without the README saying so fails here.
# The names are read from the scripts' apt-get lines and their package
# lists (a `for package in` loop, a `packages=(...)` array).
#
#   readme_installs.sh SOURCE_DIR
set -u
src=$1
scripts=(tools/test.sh fuzz/run.sh tests/corpus/run.sh tests/json/run.sh)
# The README from the test command to the next heading.
readme=$(sed -n '/^    tools\/test.sh$/,/^## /p' "$src/README.md")
failed=0
names=$(cd "$src" && cat "${scripts[@]}" |
  sed -n -e 's/.*apt-get install \(.*\)/\1/p' -e 's/.*for package in \(.*\); do.*/\1/p' \
    -e 's/.*packages+\{0,1\}=(\(.*\)).*/\1/p' |
  sed 's/[>|{}].*//' | tr ' ' '\n' | grep -E '^[a-z0-9][a-z0-9.+-]+$' | sort -u)
[ -n "$names" ] || { echo "readme installs: FAIL: no package names found in ${scripts[*]}"; exit 1; }
for name in $names; do
  if ! grep -qF "\`$name\`" <<<"$readme"; then
    echo "readme installs: FAIL: the scripts install $name; the README does not say so"
    failed=1
  fi
done
[ "$failed" = 0 ] && echo "readme installs: the README names all of:" $names
exit "$failed"
