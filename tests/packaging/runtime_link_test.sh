#!/bin/sh
# What the program needs at start: libcrypto is not among the libraries the
# dynamic loader loads for it (it is loaded when --hash is given, as loading
# it cost every start 0.6 ms), and a run without it still reports, while
# --hash says SHA-256 is not available before any output and exits 1.
#
#   runtime_link_test.sh QUELVO SAMPLES_DIR
#
# The second part hides libcrypto in a mount namespace of its own (root,
# unshare); where that cannot be made it is left out.
quelvo=$1
samples=$2
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

if ! command -v readelf >/dev/null; then
  echo "readelf is not installed"
  exit 77
fi
needed=$(readelf -d "$quelvo" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
echo "NEEDED: $needed"
case " $needed" in
*" libcrypto."* | *" libssl."*) fail "$quelvo needs libcrypto at start" ;;
esac

# The digest is libcrypto's, loaded on demand.
if command -v sha256sum >/dev/null; then
  want=$(sha256sum <"$samples/app32.exe" | cut -d' ' -f1)
  got=$("$quelvo" --hash -d "$samples/app32.exe" | sed -n 's/^SHA-256: *//p')
  [ "$got" = "$want" ] || fail "--hash gave '$got', sha256sum '$want'"
fi

# Every copy of libcrypto the loader knows, hidden behind an empty file.
libraries=$(ldconfig -p 2>/dev/null | awk '$1 ~ /^libcrypto\.so\./ {print $NF}')
if [ -n "$libraries" ] && unshare -m true 2>/dev/null; then
  out=$(mktemp -d)
  # shellcheck disable=SC2016 # expanded by the inner shell
  unshare -m sh -c '
    out=$1 quelvo=$2 sample=$3 libraries=$4
    echo "$libraries" | while read -r library; do
      mount --bind /dev/null "$library" || exit 2
    done || exit 2
    "$quelvo" -d "$sample" >"$out/plain.out" 2>"$out/plain.err"
    echo $? >"$out/plain.status"
    "$quelvo" --hash -d "$sample" >"$out/hash.out" 2>"$out/hash.err"
    echo $? >"$out/hash.status"
  ' sh "$out" "$quelvo" "$samples/app32.exe" "$libraries" ||
    fail "libcrypto could not be hidden"
  if [ -f "$out/hash.status" ]; then
    [ "$(cat "$out/plain.status")" = 0 ] || fail "without libcrypto, a run without --hash exited $(cat "$out/plain.status")"
    grep -q '^Program Name:' "$out/plain.out" || fail "without libcrypto, a run without --hash reported nothing"
    [ "$(cat "$out/hash.status")" = 1 ] || fail "without libcrypto, --hash exited $(cat "$out/hash.status"), not 1"
    [ -s "$out/hash.out" ] && fail "without libcrypto, --hash wrote output"
    grep -q '^quelvo: --hash: SHA-256 is not available: libcrypto\.so\.[^ ]* cannot be loaded$' "$out/hash.err" ||
      fail "without libcrypto, --hash said: $(cat "$out/hash.err")"
  fi
  rm -rf "$out"
else
  echo "libcrypto cannot be hidden here (no root or no unshare): that part is left out"
fi
[ "$failed" = 0 ] && echo "runtime_link: ok"
exit "$failed"
