#!/usr/bin/env bash
# Runs the checking step of the README's CI recipes exactly as written,
# with the quelvo found in BIN_DIR, in a scratch folder whose build/ holds
# fixture programs: it passes on a sound program of the version asked for,
# and fails, saying why on standard error, on another version and on a
# program without a version resource.
#
#   ci_recipe_test.sh BIN_DIR README FIXTURES_DIR
set -u
bin=$1
readme=$2
fixtures=$3
failed=0
passed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The command lines of the recipes: between the README's markers, the
# lines that run quelvo with long options, --lint among them, without their
# YAML prefix ("run: ", "- ").
mapfile -t commands < <(sed -n '/<!-- ci-recipe -->/,/<!-- \/ci-recipe -->/p' "$readme" |
  sed -n 's/^[[:space:]]*\(run:[[:space:]]*\|-[[:space:]]*\)\{0,1\}\(quelvo .*--lint.*\)$/\2/p')
if [ "${#commands[@]}" -lt 2 ]; then
  echo "FAIL: the README holds ${#commands[@]} recipe command lines, expected one per CI system"
  exit 1
fi

# expect NAME STATUS ERR_PATTERN VERSION FILE...: runs every recipe
# command in a build/ holding FILEs, with VERSION in its environment; its
# standard error must hold a line that ERR_PATTERN matches (empty: any).
expect() {
  local name=$1 want=$2 pattern=$3 version=$4
  shift 4
  rm -rf "$scratch/work" && mkdir -p "$scratch/work/build"
  cp "$@" "$scratch/work/build/"
  local command status
  for command in "${commands[@]}"; do
    status=0
    (cd "$scratch/work" && PATH="$bin:$PATH" VERSION=$version bash -c "$command") \
      >"$scratch/out" 2>"$scratch/err" </dev/null || status=$?
    if [ "$status" = "$want" ] && { [ -z "$pattern" ] || grep -q -e "$pattern" "$scratch/err"; }; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "FAIL: $name: '$command' exited with $status (expected $want)"
      head -5 "$scratch/err"
    fi
  done
}

expect "a sound program of that version" 0 '' 2.5 "$fixtures/pe/app32.exe"
expect "another version" 1 '^build/app32.exe: FileVersion is "2.5", expected "2.6"$' \
  2.6 "$fixtures/pe/app32.exe"
cp "$fixtures/pe/norsrc.dll" "$scratch/norsrc.exe"
expect "a program without a version resource" 1 '^build/norsrc.exe: QV001 error: ' \
  2.5 "$fixtures/pe/app32.exe" "$scratch/norsrc.exe"
expect "nothing built" 1 '' 2.5

echo "ci recipe: $passed passed, $failed failed"
[ "$failed" = 0 ]
