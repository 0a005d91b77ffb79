#!/usr/bin/env bash
# Builds the Debian package (tests included, as dh_auto_test runs them) in a
# scratch copy of the tree, since dpkg-buildpackage writes its results into
# the parent folder of the tree it builds, and copies the .deb into an
# output folder. The checkout stays as it was.
#
#   tools/build-deb.sh [OUTPUT_DIR]        (default out/)
#
# Installs the build dependencies that are missing with apt-get (as root).
# DEB_BUILD_OPTIONS is passed on (nocheck leaves the tests out).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-out}" && cd "${1:-out}" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

export DEBIAN_FRONTEND=noninteractive
if ! command -v dpkg-buildpackage >/dev/null || ! dpkg-checkbuilddeps 2>/dev/null; then
  echo "== installing the build dependencies"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends build-essential dpkg-dev >/dev/null
  apt-get build-dep -y -qq ./ >/dev/null
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
src="$scratch/quelvo"
mkdir "$src"
# The files git knows, as they are in the working tree (changes included),
# and nothing of the build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$src"
else
  tar --exclude='./build*' --exclude=./out -cf - . | tar -xf - -C "$src"
fi

echo "== dpkg-buildpackage in $src"
(cd "$src" && dpkg-buildpackage -us -uc -b -j"$jobs") >"$scratch/build.log" 2>&1 || {
  tail -n 150 "$scratch/build.log"
  echo "build-deb: dpkg-buildpackage failed"
  exit 1
}
grep -E '^[0-9]+% tests passed|^Total Test|\*\*\*(Failed|Skipped|Not Run)|^ *dh_auto_test|make -j[0-9]+ test' "$scratch/build.log" || true
rm -f "$out"/quelvo_*.deb
cp "$scratch"/quelvo_*.deb "$out/"
cp "$scratch/build.log" "$out/build.log"
ls -l "$out"/quelvo_*.deb
