#!/usr/bin/env bash
# Runs the built program on the fixture folders and compares its whole
# standard output, byte for byte, with the expected files in cases/.
#
#   run.sh QUELVO TESTS_DIR            check every case
#   run.sh QUELVO TESTS_DIR --update   rewrite the expected files
#
# A case is cases/NAME.args, one argument per line, run from TESTS_DIR/
# fixtures, or, by the start of its name, from a folder made below for it
# (special, tree, names, controls, deep, times, nonroot). Its output must equal
# cases/NAME.out and its exit status cases/NAME.status (0 when absent); its
# standard error must equal cases/NAME.err where there is one (--update
# writes one for the cases of --lint and --expect, named lint_ and expect_).
# QUELVO_RUNNER, when set, is put in front of the program (an emulator, for
# instance); QUELVO_FOLD_CRLF=1 turns CRLF into LF before comparing;
# QUELVO_SKIP_CASES lists case names (and lost_output, the runs whose
# output cannot be written) to leave out, with the reason kept by the
# caller.
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

# check NAME WORKDIR [VAR=VALUE...]: runs case NAME from WORKDIR, with the
# variables given in its environment, and compares.
check() {
  local name=$1 workdir=$2
  local -a env=("${@:3}")
  local -a args=()
  local line
  while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done <"$cases/$name.args"
  case " ${QUELVO_SKIP_CASES:-} " in
  *" $name "*) skipped=$((skipped + 1)); echo "SKIP: $name"; return ;;
  esac
  local out="$scratch/$name.out" err="$scratch/$name.err" status
  (cd "$workdir" && for step in ${descend:-}; do cd "$step" || exit 125; done &&
    env -- "${env[@]}" timeout 60 ${asuser:-} $runner "${exe:-$quelvo}" "${args[@]}") >"$out" 2>"$err" </dev/null
  status=$?
  [ "${QUELVO_FOLD_CRLF:-0}" = 1 ] && sed -i 's/\r$//' "$out" "$err"
  local want_status=0
  [ -f "$cases/$name.status" ] && want_status=$(cat "$cases/$name.status")
  if [ "$update" = --update ]; then
    cp "$out" "$cases/$name.out"
    case $name in lint_* | expect_*) cp "$err" "$cases/$name.err" ;; esac
    if [ "$status" != 0 ]; then echo "$status" >"$cases/$name.status"; else rm -f "$cases/$name.status"; fi
    return
  fi
  local want="$cases/$name.out"
  if [ "${QUELVO_FOLD_CRLF:-0}" = 1 ]; then
    # CSV records end in CR LF on every platform: compare them folded too.
    want="$scratch/$name.want"
    sed 's/\r$//' "$cases/$name.out" >"$want"
  fi
  local err_ok=1
  [ -f "$cases/$name.err" ] && ! cmp -s "$err" "$cases/$name.err" && err_ok=0
  if cmp -s "$out" "$want" && [ "$status" = "$want_status" ] && [ "$err_ok" = 1 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name (exit status $status, expected $want_status)"
    diff -u "$want" "$out" | head -60
    [ "$err_ok" = 1 ] || diff -u "$cases/$name.err" "$err" | head -30
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

# Linux names that Windows path rules read otherwise: trailing dots and
# spaces, a backslash, wildcards, colons, a name of dots only, a directory
# whose name ends in a period beside a file of the name without it, and a
# dangling link beside the file its name trims to. Each listed name must
# be reported with its own data, or not listed at all.
names="$scratch/names"
mkdir -p "$names/back" "$names/dir."
for f in x.dll ... ab:c.dll a:b.dll dir trail.dll.; do cp "$tests/fixtures/pe/basic.dll" "$names/$f"; done
cp "$tests/fixtures/pe/app32.exe" "$names/back/slash.dll"
for f in 'x.dll.' 'x.dll ' 'back\slash.dll' 'a*b.dll' 'q?.dll'; do printf 'not an executable\n' >"$names/$f"; done
cp "$tests/fixtures/pe/basic.dll" "$names/gone.dll"
ln -s missing.dll "$names/gone.dll."

# Names with control characters that are no ASCII bytes: C1 controls and
# the line and paragraph separators in UTF-8, and a lone byte 0x9B (CSI to
# a terminal that reads bytes). Each must print as one '?' in every line
# that names a path, and beside them a name in well-formed UTF-8 as it is.
controls="$scratch/controls"
mkdir -p "$controls"
for f in $'a\xc2\x9b2J.dll' $'b\xc2\x85.dll' $'c\xe2\x80\xa8.dll' $'d\xe2\x80\xa9.dll' \
  $'e\x9b2J.dll' $'f\xc3\xa9\xe2\x82\xac.dll'; do
  cp "$tests/fixtures/pe/basic.dll" "$controls/$f"
done
printf 'not an executable\n' >"$controls/"$'g\xc2\x9b.txt'

# File times that Windows cannot hold, on tmpfs, which keeps 64-bit
# seconds: the largest seconds, a last-access time as large, a time that
# overflows only once the time zone's bias is added (JST, nine hours ahead
# of UTC), and one before 1601. Each fails its own status query; the
# neighbours are reported as usual.
times=""
if times=$(mktemp -d /dev/shm/quelvo-e2e-XXXXXX 2>/dev/null); then
  for f in far atime bias old ok; do cp "$tests/fixtures/pe/basic.dll" "$times/$f.dll"; done
  if ! touch -d @9223372036854775000 "$times/far.dll" ||
    ! touch -a -d @9223372036854775000 "$times/atime.dll" ||
    ! touch -d @910692730075 "$times/bias.dll" ||
    ! touch -d @-11644473601 "$times/old.dll" ||
    [ "$(stat -c %Y "$times/far.dll")" != 9223372036854775000 ]; then
    rm -rf "$times"
    times=""
  fi
fi
[ -n "$times" ] && trap 'rm -rf "$scratch" "$times"' EXIT

# A working directory deeper than the kernel's path limit (4096 bytes):
# the files below it are still named by short relative paths.
deep="$scratch/deep"
dname=$(printf 'd%.0s' $(seq 250))
descend_deep=$(for i in $(seq 18); do printf '%s ' "$dname"; done)
mkdir "$deep"
(cd "$deep" && for step in $descend_deep; do mkdir "$step" && cd "$step" || exit 1; done &&
  cp "$tests/fixtures/pe/basic.dll" x.dll && mkdir sub &&
  cp "$tests/fixtures/pe/app32.exe" sub/y.exe)

# Permissions as a user without root's privileges: as root, the cases
# run through setpriv as nobody, with a copy of the program that user can
# run; a directory of mode 0311 can be searched but not read.
perm="$scratch/perm"
mkdir -p "$perm/sx" "$scratch/bin"
cp "$tests/fixtures/pe/basic.dll" "$perm/sx/x.dll"
chmod 0311 "$perm/sx"
# A folder that cannot be entered, named alone and met on a walk.
mkdir -p "$perm/locked/in" "$perm/walk/open" "$perm/walk/shut"
cp "$tests/fixtures/pe/basic.dll" "$perm/locked/in/x.dll"
cp "$tests/fixtures/pe/basic.dll" "$perm/walk/open/y.dll"
cp "$tests/fixtures/pe/basic.dll" "$perm/walk/shut/z.dll"
chmod 0700 "$perm/locked" "$perm/walk/shut"
# A folder that can be read but not searched: no more listed than searched.
mkdir -p "$perm/readable"
cp "$tests/fixtures/pe/basic.dll" "$perm/readable/v.dll"
chmod 0744 "$perm/readable"
chmod 0755 "$scratch" "$scratch/bin"
cp "$quelvo" "$scratch/bin/"
perm_exe="$scratch/bin/$(basename "$quelvo")"
perm_as=""
perm_skip=""
if [ "$(id -u)" = 0 ]; then
  perm_as="setpriv --reuid=65534 --regid=65534 --clear-groups"
  if ! command -v setpriv >/dev/null; then
    perm_skip="setpriv is not installed"
  elif ! $perm_as test -x "$perm_exe" 2>/dev/null || $perm_as ls "$perm/sx" >/dev/null 2>&1; then
    perm_skip="cannot drop root's privileges with setpriv"
  fi
fi

for argsfile in "$cases"/*.args; do
  name=$(basename "$argsfile" .args)
  case $name in
  special*) check "$name" "$special" ;;
  tree*) check "$name" "$tree" ;;
  names*) check "$name" "$names" ;;
  controls*) check "$name" "$controls" ;;
  deep*) descend=$descend_deep check "$name" "$deep" ;;
  nonroot*)
    if [ -z "$perm_skip" ]; then
      asuser=$perm_as exe=$perm_exe check "$name" "$perm"
    else
      skipped=$((skipped + 1))
      echo "SKIP: $name ($perm_skip)"
    fi
    ;;
  times*)
    if [ -n "$times" ]; then
      check "$name" "$times" TZ=JST-9
    else
      skipped=$((skipped + 1))
      echo "SKIP: $name (no tmpfs at /dev/shm that keeps 64-bit file times)"
    fi
    ;;
  *) check "$name" "$tests/fixtures" ;;
  esac
done

# Output that cannot be written is a failure on every road through the
# program: said on standard error, exit status 1.
check_lost_output() {
  local how=$1
  shift
  local err="$scratch/lost.err" status
  case $how in
  full) (cd "$tests/fixtures" && timeout 60 $runner "$quelvo" "$@") >/dev/full 2>"$err" </dev/null ;;
  closed) (cd "$tests/fixtures" && timeout 60 $runner "$quelvo" "$@") >&- 2>"$err" </dev/null ;;
  esac
  status=$?
  if [ "$status" = 1 ] && grep -q 'output could not be written' "$err"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: lost_output ($how: $*): exit status $status, expected 1 and a message on standard error"
    head -5 "$err"
  fi
}
case " ${QUELVO_SKIP_CASES:-} " in
*" lost_output "*) skipped=$((skipped + 1)); echo "SKIP: lost_output" ;;
*)
  for how in full closed; do
    check_lost_output $how pe/basic.dll
    check_lost_output $how -d 'pe/*'
    check_lost_output $how -v pe/basic.dll
    check_lost_output $how -?
    check_lost_output $how
  done
  ;;
esac

echo "end-to-end: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
