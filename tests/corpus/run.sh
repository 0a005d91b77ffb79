#!/usr/bin/env bash
# Compares quelvo with pefile over every PE file of Debian's wine64 package.
#
#   run.sh QUELVO            the detailed text report (compare_pefile.py)
#   run.sh QUELVO --json     the --json objects, field by field and against
#                            the JSON Schema (compare_json.py)
#   run.sh QUELVO --dotnet   the --dotnet identities and references against
#                            monodis (compare_monodis.py), over the same
#                            files, the .NET fixtures and every assembly
#                            of the Mono packages installed (/usr/lib/mono)
#
# Needs wine64 (only as a source of real DLLs), python3-pefile and, for
# --json, python3-jsonschema; --dotnet needs mono-utils (monodis, which
# brings Mono's runtime assemblies) instead of pefile. With QUELVO_INSTALL_CORPUS=1 it installs them;
# otherwise, when they are missing, it says so and exits 77, which CTest
# counts as skipped.
set -u
quelvo=$1
mode=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
packages=(wine64 python3-pefile)
modules=pefile
if [ "$mode" = --json ]; then
  packages+=(python3-jsonschema)
  modules=pefile,jsonschema
elif [ "$mode" = --dotnet ]; then
  packages=(wine64 mono-utils)
  modules=hashlib
fi
dirs=(/usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/x86_64-linux-gnu/wine/i386-windows /usr/lib/i386-linux-gnu/wine/i386-windows)

have() {
  [ -x /usr/bin/python3 ] && /usr/bin/python3 -c "import $modules" 2>/dev/null &&
    [ -d /usr/lib/x86_64-linux-gnu/wine/x86_64-windows ] &&
    { [ "$mode" != --dotnet ] || command -v monodis >/dev/null; }
}

if ! have && [ "${QUELVO_INSTALL_CORPUS:-0}" = 1 ]; then
  echo "corpus: installing ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends "${packages[@]}" >/dev/null 2>&1 ||
    { apt-get update -q >/dev/null 2>&1 &&
      apt-get install -y -q --no-install-recommends "${packages[@]}" >/dev/null 2>&1; }
fi
if ! have; then
  echo "corpus: skipped: ${packages[*]} are not all installed" \
    "(QUELVO_INSTALL_CORPUS=1 installs them)"
  exit 77
fi
files=()
for d in "${dirs[@]}"; do
  [ -d "$d" ] || continue
  while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$d" -maxdepth 1 -type f -print0 | sort -z)
done
if [ "$mode" = --dotnet ]; then
  fixtures=$(cd "$here/../fixtures" && pwd)
  for d in "$fixtures/dotnet" /usr/lib/mono; do
    [ -d "$d" ] || continue
    while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$d" -type f \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.netmodule' \) -print0 | sort -z)
  done
  exec /usr/bin/python3 "$here/compare_monodis.py" "$quelvo" "$here/monodis_expectations.txt" "${files[@]}"
fi
if [ "$mode" = --json ]; then
  exec /usr/bin/python3 "$here/compare_json.py" "$quelvo" "$here/json_expectations.txt" "${files[@]}"
fi
exec /usr/bin/python3 "$here/compare_pefile.py" "$quelvo" "$here/expectations.txt" "${files[@]}"
