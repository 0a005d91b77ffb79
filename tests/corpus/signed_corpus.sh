#!/usr/bin/env bash
# Compares quelvo --signature with osslsigncode verify on the project's
# signed fixtures and on real signed files, timestamps' times among what
# is compared (a table of several entries entry by entry): the signed EFI
# images of Debian's shim-signed, shim-helpers-amd64-signed,
# grub-efi-amd64-signed and fwupd-amd64-signed, and the Windows programs of
# the npm package electron-winstaller (Microsoft's signtool.exe among
# them).
#
#   signed_corpus.sh QUELVO TESTS_DIR
#
# The packages are fetched once (apt-get download, npm pack) into
# QUELVO_CORPUS_CACHE (default /var/cache/quelvo-corpus) and unpacked
# there, never installed. Needs osslsigncode and python3; with
# QUELVO_INSTALL_CORPUS=1 it installs osslsigncode and fetches what the
# cache lacks; otherwise, when osslsigncode is missing, it says so and
# exits 77, which CTest counts as skipped, and it compares the fixtures
# alone when the cache is empty. npm is used when it is there.
set -u
quelvo=$1
tests=$2
here=$(cd "$(dirname "$0")" && pwd)
cache=${QUELVO_CORPUS_CACHE:-/var/cache/quelvo-corpus}
install=${QUELVO_INSTALL_CORPUS:-0}
if ! command -v osslsigncode >/dev/null && [ "$install" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends osslsigncode >/dev/null 2>&1 ||
    { apt-get update -q >/dev/null 2>&1 &&
      apt-get install -y -q --no-install-recommends osslsigncode >/dev/null 2>&1; }
fi
if ! command -v osslsigncode >/dev/null || [ ! -x /usr/bin/python3 ]; then
  echo "osslsigncode: skipped: osslsigncode is not installed (QUELVO_INSTALL_CORPUS=1 installs it)"
  exit 77
fi

debs="shim-signed shim-helpers-amd64-signed grub-efi-amd64-signed fwupd-amd64-signed"
npms="electron-winstaller@5.4.4"
if [ "$install" = 1 ] && [ ! -f "$cache/.complete" ] && mkdir -p "$cache/files"; then
  (
    cd "$cache" || exit 1
    # apt-get download runs as _apt where it can: give it the folder.
    chown _apt "$cache" 2>/dev/null || true
    apt-get download $debs >/dev/null 2>&1 ||
      { apt-get update -q >/dev/null 2>&1 && apt-get download $debs >/dev/null 2>&1; }
    for deb in ./*.deb; do [ -f "$deb" ] && dpkg-deb -x "$deb" files; done
    if command -v npm >/dev/null; then
      for p in $npms; do timeout 300 npm pack --silent "$p" >/dev/null 2>&1; done
      for t in ./*.tgz; do [ -f "$t" ] && tar -xzf "$t" -C files; done
    else
      echo "osslsigncode: npm is not installed: the npm packages are left out"
    fi
    touch .complete
  )
fi
real=()
if [ -d "$cache/files" ]; then
  while IFS= read -r -d '' f; do real+=("$f"); done < <(
    find "$cache/files" -type f \( -name '*.efi.signed' -o -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
fi
fixtures="$tests/fixtures/signed"
status=0
(cd "$tests/fixtures" && /usr/bin/python3 "$here/compare_osslsigncode.py" "$quelvo" \
  signed/pki/ca.pem signed/pki/inter.crl signed/*.exe signed/*.dll) || status=1
# Timestamps from authorities trusted and not (make_stamps.sh).
(cd "$tests/fixtures" && /usr/bin/python3 "$here/compare_osslsigncode.py" "$quelvo" \
  signed/stamps/pki/ca.pem - signed/stamps/*.exe signed/stamps/*.dll) || status=1
if [ "${#real[@]}" -gt 0 ]; then
  # No code-signing root of these signers is at hand: both check against
  # Debian's bundle, and both must find every chain untrusted alike.
  /usr/bin/python3 "$here/compare_osslsigncode.py" "$quelvo" \
    /etc/ssl/certs/ca-certificates.crt - "${real[@]}" || status=1
else
  echo "osslsigncode: no real signed files in $cache (QUELVO_INSTALL_CORPUS=1 fetches them)"
fi
[ -d "$fixtures" ] || status=1
exit "$status"
