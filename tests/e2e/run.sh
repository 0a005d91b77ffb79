#!/usr/bin/env bash
# Runs the built program on the fixture folders and compares its whole
# standard output, byte for byte, with the expected files in cases/.
#
#   run.sh QUELVO TESTS_DIR            check every case
#   run.sh QUELVO TESTS_DIR --update   rewrite the expected files
#
# A case is cases/NAME.args, one argument per line, run from TESTS_DIR/
# fixtures (special* cases from a folder of special entries, tree* cases
# from a small folder tree). Its output must equal cases/NAME.out and its
# exit status cases/NAME.status (0 when absent). QUELVO_RUNNER, when set,
# is put in front of the program (an emulator, for instance); QUELVO_FOLD_CRLF=1
# turns CRLF into LF before comparing; QUELVO_SKIP_CASES lists case names
# to leave out, with the reason kept by the caller.
set -u
quelvo=$1
tests=$2
update=${3:-}
cases="$tests/e2e/cases"
runner=${QUELVO_RUNNER:-}
passed=0
failed=0
skipped=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# check NAME WORKDIR: runs case NAME from WORKDIR and compares.
check() {
  local name=$1 workdir=$2
  local -a args=()
  local line
  while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done <"$cases/$name.args"
  case " ${QUELVO_SKIP_CASES:-} " in
  *" $name "*) skipped=$((skipped + 1)); echo "SKIP: $name"; return ;;
  esac
  local out="$scratch/$name.out" status
  (cd "$workdir" && timeout 60 $runner "$quelvo" "${args[@]}") >"$out" 2>/dev/null </dev/null
  status=$?
  [ "${QUELVO_FOLD_CRLF:-0}" = 1 ] && sed -i 's/\r$//' "$out"
  local want_status=0
  [ -f "$cases/$name.status" ] && want_status=$(cat "$cases/$name.status")
  if [ "$update" = --update ]; then
    cp "$out" "$cases/$name.out"
    if [ "$status" != 0 ]; then echo "$status" >"$cases/$name.status"; else rm -f "$cases/$name.status"; fi
    return
  fi
  if cmp -s "$out" "$cases/$name.out" && [ "$status" = "$want_status" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name (exit status $status, expected $want_status)"
    diff -u "$cases/$name.out" "$out" | head -60
  fi
}

# Entries that are not regular files, made afresh since git keeps none of
# them: all must be passed over (or reported) without blocking the run.
special="$scratch/special"
mkdir -p "$special/sub" "$special/.hidden"
cp "$tests/fixtures/pe/basic.dll" "$special/real.dll"
cp "$tests/fixtures/pe/basic.dll" "$special/.dotfile.dll"
mkfifo "$special/fifo.dll"
ln -s /dev/zero "$special/zero.dll"
ln -s missing.dll "$special/dangling.dll"
ln -s sub "$special/linkdir"
python3 -c "import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])" "$special/sock.dll" 2>/dev/null || true
: >"$special/empty.dll"
printf 'not an executable\n' >"$special/plain.txt"
head -c 100 "$tests/fixtures/pe/basic.dll" >"$special/truncated.dll"

# A tree for --recursive: files at three depths, an empty folder, a hidden
# one, a text file, and a link to a folder, which the walk does not follow.
tree="$scratch/tree"
mkdir -p "$tree/alpha/inner" "$tree/beta" "$tree/empty" "$tree/.hidden"
cp "$tests/fixtures/pe/basic.dll" "$tree/top.dll"
cp "$tests/fixtures/pe/app32.exe" "$tree/alpha/app32.exe"
cp "$tests/fixtures/pe/app64.exe" "$tree/alpha/inner/app64.exe"
cp "$tests/fixtures/ne/app16.exe" "$tree/beta/app16.exe"
cp "$tests/fixtures/pe/nover.dll" "$tree/beta/nover.dll"
cp "$tests/fixtures/lossless/unicode.dll" "$tree/.hidden/unicode.dll"
printf 'not an executable\n' >"$tree/alpha/readme.txt"
ln -s alpha "$tree/link"

for argsfile in "$cases"/*.args; do
  name=$(basename "$argsfile" .args)
  case $name in
  special*) check "$name" "$special" ;;
  tree*) check "$name" "$tree" ;;
  *) check "$name" "$tests/fixtures" ;;
  esac
done

echo "end-to-end: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
