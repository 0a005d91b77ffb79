#!/bin/sh
# Installs the build into a scratch tree as a package build would
# (DESTDIR, prefix /usr) and checks that exactly the program, the manual
# page, the completion, the JSON schema and the signature module land
# there, and that the installed program reports the samples as the built
# one does, --signature included (its module found from the program's
# own folder).
#
#   install_test.sh CMAKE BUILD_DIR QUELVO TREE BINDIR MANDIR COMPLETIONS SAMPLES MODULEDIR
set -u
cmake=$1 build=$2 quelvo=$3 tree=$4 bindir=$5 mandir=$6 completions=$7 samples=$8 moduledir=$9
rm -rf "$tree"
mkdir -p "$tree"
if ! DESTDIR="$tree/root" "$cmake" --install "$build" --prefix /usr >"$tree/install.log" 2>&1; then
  cat "$tree/install.log"
  echo "install: FAIL: cmake --install failed"
  exit 1
fi

# at DIR: where DIR, absolute or relative to the prefix, lies in the tree.
at() {
  case $1 in
  /*) echo "$tree/root$1" ;;
  *) echo "$tree/root/usr/$1" ;;
  esac
}
printf '%s\n' "$(at "$bindir")/quelvo" "$(at "$mandir")/man1/quelvo.1" \
  "$(at "$completions")/quelvo" "$(at share)/quelvo/quelvo.schema.json" \
  "$(at "$moduledir")/quelvo-signature.so" |
  sort >"$tree/want"
find "$tree/root" -type f | sort >"$tree/got"
failed=0
if ! cmp -s "$tree/want" "$tree/got"; then
  echo "install: FAIL: the installed files differ from the expected ones:"
  diff "$tree/want" "$tree/got"
  failed=1
fi

installed="$(at "$bindir")/quelvo"
if [ -x "$installed" ]; then
  "$installed" -d "$samples/*" >"$tree/installed.out" 2>&1
  "$quelvo" -d "$samples/*" >"$tree/built.out" 2>&1
  "$installed" --signature "$samples/*" >>"$tree/installed.out" 2>&1
  "$quelvo" --signature "$samples/*" >>"$tree/built.out" 2>&1
  if ! cmp -s "$tree/built.out" "$tree/installed.out" || ! grep -q 'Program Name:' "$tree/installed.out" ||
    ! grep -q '^Signature: ' "$tree/installed.out"; then
    echo "install: FAIL: the installed program reports otherwise than the built one"
    diff "$tree/built.out" "$tree/installed.out" | head -40
    failed=1
  fi
else
  echo "install: FAIL: $installed is not an executable"
  failed=1
fi
[ "$failed" = 0 ] && echo "install: $(wc -l <"$tree/got") files, the program runs"
exit "$failed"
