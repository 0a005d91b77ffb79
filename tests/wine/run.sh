#!/usr/bin/env bash
# Builds quelvo for Windows with mingw-w64 and runs the end-to-end suite on
# the real Windows API under Wine: the same cases and the same expected
# bytes as the Linux build, CRLF line ends folded to LF. Then the Linux
# build and the Windows build are run side by side on a folder of entries
# that both systems can hold, and must print the same bytes. Each program
# must carry the project version in its own version resource, which the
# Linux build reads and the program itself reports under Wine. Last, each
# build is packed into its zip (cpack), which is unpacked afresh; its
# program must be stripped, and is run on the samples and on itself, side
# by side with the Linux build again. A third, 64-bit build leaves the C++
# runtime out of the program (QUELVO_STATIC_RUNTIME=OFF): its zip must
# carry the runtime's DLLs and run all the same.
#
#   tests/wine/run.sh                     64-bit build under wine64
#   QUELVO_WINE32=1 tests/wine/run.sh     32-bit build too (installs wine32,
#                                         which needs the i386 architecture)
#   QUELVO_ZIP_DIR=DIR tests/wine/run.sh  copies the zips into DIR
#
# Installs what it lacks with apt-get (as root). Slow, so tools/test.sh
# leaves it out; .ci/run runs it after the Linux suite.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

updated=0
# install PACKAGE...: installs the packages, updating the lists once.
install() {
  if [ "$updated" = 0 ]; then
    apt-get update -qq
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

command -v cmake >/dev/null || install cmake
command -v g++ >/dev/null || install g++
# The Linux build beside the Windows ones hashes with libcrypto.
[ -f /usr/include/openssl/evp.h ] || install libssl-dev
command -v i686-w64-mingw32-g++ >/dev/null || install g++-mingw-w64-i686
command -v x86_64-w64-mingw32-g++ >/dev/null || install g++-mingw-w64-x86-64
# Debian's wine64 puts its loader outside PATH unless the wine package is in.
find_wine64() { command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; }; }
wine64=$(find_wine64) || { install wine64 && wine64=$(find_wine64); }
wineserver=$(command -v wineserver || echo "$(dirname "$wine64")/wineserver")

wine32=0
if [ "${QUELVO_WINE32:-0}" = 1 ]; then
  if dpkg -s wine32:i386 >/dev/null 2>&1; then
    wine32=1
  else
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      dpkg --add-architecture i386
      updated=0
    fi
    if install wine32:i386; then wine32=1; else echo "== wine32 did not install: 32-bit build not run"; fi
  fi
fi

# configure_build DIR ARGS...: configures and builds quelvo in DIR.
configure_build() {
  local dir=$1
  shift
  echo "== $dir: configure and build"
  cmake -S . -B "$dir" --no-warn-unused-cli -DQUELVO_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" >/dev/null
}
configure_build build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
configure_build build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The C++ runtime left as DLLs: the zip must then carry them.
configure_build build-win64-dynamic -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DQUELVO_STATIC_RUNTIME=OFF
configure_build build-wine-ref -DBUILD_TESTING=OFF

# A private Wine prefix, made without any dialog: no display, and neither
# the Mono nor the Gecko installer.
scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
echo "== Wine prefix"
"$wine64" wineboot -i >/dev/null 2>&1 </dev/null || true

# Cases left out, each for a reason that lies outside quelvo:
# - special_entries, special_detailed, special_hash, special_hash_json,
#   special_not_regular_json, special_not_regular_csv,
#   special_not_regular_recursive, special_not_regular_text: their folder
#   also holds a FIFO, a Unix socket, a link to /dev/zero and a dangling
#   link (and they name /dev/zero), entries that Windows has no
#   counterpart for. Wine lists
#   the first three as files that the C runtime's status query then refuses
#   ("Unable to open file"), and leaves the dangling link out. The entries
#   of that folder that Windows can hold are compared below, between the
#   two builds.
# - ne_le_short, ne_le_detailed, json_ne_le: Wine 8's version library does
#   not read LE (VxD) version records at all, follows the resource table of two
#   hostile NE fixtures off the end of its buffer and crashes, and for a
#   truncated NE file hands out whatever its heap held before. The NE files
#   it reads soundly are compared below, between the two builds.
# - toolong_and_drives: on Linux a drive path names no drive, so
#   "c:\windows\*.dll" matches nothing; on Windows it names the Windows
#   folder, and Wine's holds DLLs. Its other arguments are compared below,
#   between the two builds.
# - wildcard_rules: Wine's matcher departs from Windows' on the rules this
#   case pins down: it lets "*." match names with a dot, does not let '?'
#   match nothing before a dot or at the end ("basic.dll?", "basi??.dll"),
#   and lets '?' match the dot itself ("basic????").
# - names_listed, names_with_prefix: Linux names that Windows cannot hold
#   (trailing dots and spaces, '\', '*', '?', ':'). Wine's search lists them
#   as they are and its path rules then read them as other files; on Windows
#   no such names exist.
# - controls_names, controls_names_json: names with C1 controls and the
#   line and paragraph separators. Windows hands names over in the ANSI
#   code page, which has no such characters (its bytes 0x80 to 0x9F are
#   letters and signs), so the Windows build prints them as they come and
#   Linux alone hides them.
# - times_far_off: Wine makes file times of its own from Unix times that
#   Windows cannot hold, and its C runtime's status query accepts them, so
#   those files are reported rather than refused.
# - deep_working_directory: Wine does not start a program whose Unix working
#   directory is longer than the system's path limit.
# - nonroot_search_only_folder, nonroot_locked_folders(_json),
#   nonroot_read_only_folder(_json, _patterns): they run as another user,
#   who has no Wine prefix.
# - signature_fixtures, signature_trust, signature_json, signature_stamps,
#   signature_hostile: Wine 8's CryptoAPI cannot answer for part of them: it does not decode an RFC 3161 token's
#   TSTInfo (TIMESTAMP_INFO), so no timestamp has a time and the chains are
#   checked at the present; it decodes SpcSpOpusInfo's program name
#   (a BMPString) without swapping its bytes; its CryptMsgControl does not
#   verify ECDSA signatures; and its CryptMsgVerifyCountersignatureEncoded
#   does not verify PKCS #9 countersignatures. The signed fixtures without any of these
#   are compared below, between the two builds.
# - signature_missing_value, signature_unreadable_ca: they print nothing
#   on standard output; their message is compared below.
# - expect_bad_regex: its message gives the regular expression library's
#   reason, the C library's on Linux and the C++ library's on Windows,
#   which word it differently.
skip="expect_bad_regex special_entries special_detailed special_hash special_hash_json special_not_regular_json special_not_regular_csv special_not_regular_recursive special_not_regular_text ne_le_short ne_le_detailed json_ne_le toolong_and_drives wildcard_rules names_listed names_with_prefix controls_names controls_names_json times_far_off deep_working_directory nonroot_search_only_folder nonroot_locked_folders nonroot_locked_folders_json nonroot_read_only_folder nonroot_read_only_folder_json nonroot_read_only_folder_patterns signature_fixtures signature_trust signature_json signature_stamps signature_hostile signature_missing_value signature_unreadable_ca"

passed=0
failed=0
skipped=0
# tally LOG: adds the counts of an end-to-end summary line.
tally() {
  local line
  line=$(grep -E '^end-to-end: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' "$1" | tail -1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  set -- $line
  passed=$((passed + $2))
  failed=$((failed + $4))
  skipped=$((skipped + $6))
}

# run_suite EXE RUNNER: the end-to-end suite on EXE under RUNNER.
run_suite() {
  echo "== end-to-end under $(basename "$2"): $1"
  QUELVO_RUNNER=$2 QUELVO_FOLD_CRLF=1 QUELVO_SKIP_CASES=$skip \
    tests/e2e/run.sh "$root/$1" "$root/tests" | tee "$scratch/suite.log" || true
  tally "$scratch/suite.log"
}

# compare EXE RUNNER DIR ARGS...: the Linux build and EXE (absolute, or
# relative to the checkout), run from DIR, must print the same bytes and end
# with the same status.
compare() {
  local exe=$1 runner=$2 dir=$3
  shift 3
  case $exe in /*) ;; *) exe=$root/$exe ;; esac
  local linux_status=0 wine_status=0
  (cd "$dir" && "$root/build-wine-ref/quelvo" "$@") >"$scratch/linux.out" 2>/dev/null </dev/null || linux_status=$?
  (cd "$dir" && timeout 60 "$runner" "$exe" "$@") >"$scratch/wine.out" 2>/dev/null </dev/null || wine_status=$?
  sed -i 's/\r$//' "$scratch/wine.out"
  if cmp -s "$scratch/linux.out" "$scratch/wine.out" && [ "$linux_status" = "$wine_status" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $* (exit status $wine_status under Wine, $linux_status on Linux)"
    diff -u "$scratch/linux.out" "$scratch/wine.out" | head -60 || true
  fi
}

portable="$scratch/portable"
mkdir -p "$portable/sub" "$portable/.hidden"
cp tests/fixtures/pe/basic.dll "$portable/real.dll"
cp tests/fixtures/pe/basic.dll "$portable/.dotfile.dll"
: >"$portable/empty.dll"
printf 'not an executable\n' >"$portable/plain.txt"
head -c 100 tests/fixtures/pe/basic.dll >"$portable/truncated.dll"

toolong="pe/$(printf 'x%.0s' $(seq 300)).dll"

# run_all EXE RUNNER: the suite and the side-by-side runs for one build.
run_all() {
  run_suite "$1" "$2"
  echo "== side by side with the Linux build: $1"
  compare "$1" "$2" "$portable" '*'
  compare "$1" "$2" "$portable" -d '*'
  # CNG's digests against libcrypto's, an empty file's among them.
  compare "$1" "$2" "$portable" --hash -d '*'
  compare "$1" "$2" "$portable" --json --hash --recursive ./
  compare "$1" "$2" tests/fixtures "$toolong" C:pe 'C:pe\basic.dll' pe/basic.dll
  compare "$1" "$2" tests/fixtures ne/app16.exe 'ne\display.drv' ne/FONT.FON ne/nover16.dll
  compare "$1" "$2" tests/fixtures -d ne/app16.exe 'ne\display.drv' ne/FONT.FON ne/nover16.dll
  # --signature on what Wine's CryptoAPI can answer for (see above): RSA
  # signatures without a timestamp or a program name, and the tables that
  # are malformed, beside an unsigned image and a 16-bit one.
  local signed=(signed/sha1.dll signed/sha512.exe signed/expired.exe signed/overlay.exe
    signed/t_truncated.exe signed/t_table_past_end.exe signed/t_entry_zero.exe
    signed/t_entry_ffffffff.exe signed/t_entry_past_table.exe signed/t_misaligned.exe
    signed/t_table_in_headers.exe pe/basic.dll ne/app16.exe)
  compare "$1" "$2" tests/fixtures --signature "${signed[@]}"
  compare "$1" "$2" tests/fixtures --json --signature "${signed[@]}"
  compare "$1" "$2" tests/fixtures --ca-file signed/pki/ca.pem --crl-file signed/pki/inter.crl \
    -d signed/sha1.dll signed/sha512.exe signed/expired.exe
  compare "$1" "$2" tests/fixtures --catalog-dir signed/catalogs pe/basic.dll pe/app32.exe signed/sha1.dll
  compare_message "$1" "$2" --ca-file
  compare_message "$1" "$2" --ca-file signed/pki/missing.pem pe/basic.dll
}

# compare_message EXE RUNNER ARGS...: a run that stops before any file
# must end the same way on both builds, saying why on standard error only.
compare_message() {
  local exe=$1 runner=$2
  shift 2
  local linux_status=0 wine_status=0
  (cd tests/fixtures && "$root/build-wine-ref/quelvo" "$@") >"$scratch/linux.out" 2>/dev/null </dev/null || linux_status=$?
  (cd tests/fixtures && timeout 60 "$runner" "$root/$exe" "$@") >"$scratch/wine.out" 2>"$scratch/wine.err" </dev/null || wine_status=$?
  if [ "$linux_status" = "$wine_status" ] && [ ! -s "$scratch/wine.out" ] && grep -q '^quelvo: ' "$scratch/wine.err"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $* (exit status $wine_status under Wine, $linux_status on Linux)"
    head -5 "$scratch/wine.err"
  fi
}

version=$(sed -n 's/^project(quelvo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The fixed record's version as the detailed report prints it (1.00.0.0),
# and the company the resource names: the license's holder.
number=$(IFS=. && set -- $version && printf '%s.%02d.%s.%s' "$1" "${2:-0}" "${3:-0}" "${4:-0}")
holder=$(sed -n 's/^Copyright ([cC]) [-0-9, ]* //p' LICENSE | head -n 1)

# own_version EXE: the Linux build reports EXE's own version resource, with
# the project version and the license's holder.
own_version() {
  local out
  out=$("$root/build-wine-ref/quelvo" -d "$1" 2>&1) || true
  if grep -qxF "Version String:    $version" <<<"$out" &&
    grep -qxF "$(printf 'Version Number:\t   %s' "$number")" <<<"$out" &&
    grep -qxF "Company Name:      $holder" <<<"$out"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $1 does not report version $version ($number) of $holder:"
    printf '%s\n' "$out" | sed -n '/^Program Name:/,$p'
  fi
}

# symbols EXE: the number of entries in EXE's COFF symbol table, which
# strip empties.
symbols() {
  local pe
  pe=$(od --endian=little -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od --endian=little -An -tu4 -j$((pe + 16)) -N4 "$1" | tr -d ' '
}

# self_report DIR EXE RUNNER: EXE, run from DIR under RUNNER, reports its
# own version resource as the Linux build does.
self_report() {
  echo "== $2 reports itself under $(basename "$3")"
  compare "$1/$2" "$3" "$1" -d "$2"
}

# check_zip DIR BITS RUN [dlls]: makes DIR's zip, which must be named
# after the version and the word size and hold exactly the program, the
# README and the license in one folder, and with "dlls" the C++ runtime's
# DLLs beside them (which ones depends on the toolchain); its program must
# be stripped and carry the project version. With RUN=1 the unpacked
# program is run on the samples and on itself.
check_zip() {
  local dir=$1 bits=$2 run=$3 dlls=${4:-}
  local name="quelvo-$version-win$bits"
  echo "== $dir: $name.zip"
  rm -f "$dir"/quelvo-*.zip
  (cd "$dir" && cpack -G ZIP >/dev/null)
  local unpacked="$scratch/zip-$dir"
  mkdir -p "$unpacked"
  if ! [ -f "$dir/$name.zip" ] || ! (cd "$unpacked" && cmake -E tar xf "$root/$dir/$name.zip"); then
    failed=$((failed + 1))
    echo "FAIL: $dir/$name.zip was not made or does not unpack"
    return
  fi
  local listing
  if [ -n "$dlls" ]; then
    listing=$(cd "$unpacked" && find . -type f ! -name 'lib*.dll' | LC_ALL=C sort | tr '\n' ' ')
    [ -f "$unpacked/$name/libstdc++-6.dll" ] || listing="$listing(no libstdc++-6.dll)"
  else
    listing=$(cd "$unpacked" && find . -type f | LC_ALL=C sort | tr '\n' ' ')
  fi
  local want="./$name/LICENSE ./$name/README.md ./$name/doc/reference.md ./$name/quelvo.exe "
  if [ "$listing" = "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name.zip holds: $listing"
  fi
  local exe="$unpacked/$name/quelvo.exe" count
  count=$(symbols "$exe")
  echo "   quelvo.exe: $(wc -c <"$dir/quelvo.exe") bytes built, $(wc -c <"$exe") in the zip ($count symbols)"
  if [ "$count" = 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: the zip's quelvo.exe is not stripped ($count symbols)"
  fi
  own_version "$exe"
  if [ "$run" = 1 ]; then
    compare "$exe" "$wine64" samples -d '*'
    compare "$exe" "$wine64" . 'samples\*.exe' 'SAMPLES/*.DLL'
    self_report "$unpacked/$name" quelvo.exe "$wine64"
  fi
}

run_all build-win64/quelvo.exe "$wine64"
echo "== the programs' own version resource"
own_version build-win64/quelvo.exe
own_version build-win32/quelvo.exe
self_report build-win64 quelvo.exe "$wine64"
if [ "$wine32" = 1 ]; then
  # A 64-bit prefix runs 32-bit programs through the wine32 loader.
  run_all build-win32/quelvo.exe "$wine64"
  self_report build-win32 quelvo.exe "$wine64"
fi
check_zip build-win64 64 1
check_zip build-win32 32 "$wine32"
check_zip build-win64-dynamic 64 1 dlls
if [ -n "${QUELVO_ZIP_DIR:-}" ]; then
  mkdir -p "$QUELVO_ZIP_DIR"
  cp "build-win64/quelvo-$version-win64.zip" "build-win32/quelvo-$version-win32.zip" "$QUELVO_ZIP_DIR/"
fi

echo "wine: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
