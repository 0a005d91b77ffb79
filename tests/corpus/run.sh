#!/usr/bin/env bash
# Compares quelvo with pefile over every PE file of Debian's wine64 package.
#
#   run.sh QUELVO
#
# Needs wine64 (only as a source of real DLLs) and python3-pefile. With
# QUELVO_INSTALL_CORPUS=1 it installs them; otherwise, when they are
# missing, it says so and exits 77, which CTest counts as skipped.
set -u
quelvo=$1
here=$(cd "$(dirname "$0")" && pwd)
dirs=(/usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/x86_64-linux-gnu/wine/i386-windows /usr/lib/i386-linux-gnu/wine/i386-windows)

have() {
  [ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import pefile' 2>/dev/null &&
    [ -d /usr/lib/x86_64-linux-gnu/wine/x86_64-windows ]
}

if ! have && [ "${QUELVO_INSTALL_CORPUS:-0}" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends wine64 python3-pefile >/dev/null 2>&1 ||
    { apt-get update -q >/dev/null 2>&1 &&
      apt-get install -y -q --no-install-recommends wine64 python3-pefile >/dev/null 2>&1; }
fi
if ! have; then
  echo "corpus: skipped: wine64 and python3-pefile are not installed" \
    "(QUELVO_INSTALL_CORPUS=1 installs them)"
  exit 77
fi
files=()
for d in "${dirs[@]}"; do
  [ -d "$d" ] || continue
  while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$d" -maxdepth 1 -type f -print0 | sort -z)
done
exec /usr/bin/python3 "$here/compare_pefile.py" "$quelvo" "$here/expectations.txt" "${files[@]}"
