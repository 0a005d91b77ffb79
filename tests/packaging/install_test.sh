#!/bin/sh
# Installs the build into a scratch tree as a package build would
# (DESTDIR, prefix /usr) and checks that exactly the program, the manual
# page, the completion, the JSON schema and the license land there, that
# the installed program reports the samples as the built one does, and that
# the manual page names the schema where it was installed, and that
# --signature's module lands in its folder of the library tree. A second install
# under another prefix (/opt/quelvo) must move that path with it.
#
#   install_test.sh CMAKE BUILD_DIR QUELVO TREE BINDIR MANDIR COMPLETIONS SAMPLES DATADIR DOCDIR MODULEDIR
set -u
cmake=$1 build=$2 quelvo=$3 tree=$4 bindir=$5 mandir=$6 completions=$7 samples=$8
datadir=$9 docdir=${10} moduledir=${11}
rm -rf "$tree"
mkdir -p "$tree"
failed=0

# install ROOT PREFIX: installs into ROOT (DESTDIR) under PREFIX.
install() {
  if ! DESTDIR="$1" "$cmake" --install "$build" --prefix "$2" >"$tree/install.log" 2>&1; then
    cat "$tree/install.log"
    echo "install: FAIL: cmake --install --prefix $2 failed"
    exit 1
  fi
}

# at ROOT PREFIX DIR: the path that DIR, absolute or relative to the
# prefix, has once installed (ROOT empty), or where it lies in ROOT.
at() {
  case $3 in
  /*) echo "$1$3" ;;
  *) echo "$1$2/$3" ;;
  esac
}

# names_schema ROOT PREFIX: the installed manual page must name the
# installed schema, and no other path for it.
names_schema() {
  local root=$1 prefix=$2
  local page schema
  page="$(at "$root" "$prefix" "$mandir")/man1/quelvo.1"
  schema="$(at "" "$prefix" "$datadir")/quelvo/quelvo.schema.json"
  if ! [ -f "$root$schema" ]; then
    echo "install: FAIL: the schema is not at $schema under prefix $prefix"
    failed=1
  fi
  # Every absolute path of the schema the page gives, one per line.
  local named
  named=$(grep -o '[[:space:]]/[^[:space:]]*quelvo\.schema\.json' "$page" | sed 's/^[[:space:]]//' | sort -u)
  if [ "$named" != "$schema" ]; then
    echo "install: FAIL: under prefix $prefix the manual page names the schema otherwise than $schema:"
    grep -n 'quelvo\.schema\.json' "$page"
    failed=1
  fi
}

root="$tree/root"
install "$root" /usr
printf '%s\n' "$(at "$root" /usr "$bindir")/quelvo" "$(at "$root" /usr "$mandir")/man1/quelvo.1" \
  "$(at "$root" /usr "$completions")/quelvo" "$(at "$root" /usr "$datadir")/quelvo/quelvo.schema.json" \
  "$(at "$root" /usr "$docdir")/LICENSE" "$(at "$root" /usr "$moduledir")/quelvo-signature.so" |
  sort >"$tree/want"
find "$root" -type f | sort >"$tree/got"
if ! cmp -s "$tree/want" "$tree/got"; then
  echo "install: FAIL: the installed files differ from the expected ones:"
  diff "$tree/want" "$tree/got"
  failed=1
fi
names_schema "$root" /usr

installed="$(at "$root" /usr "$bindir")/quelvo"
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

install "$tree/opt" /opt/quelvo
names_schema "$tree/opt" /opt/quelvo

[ "$failed" = 0 ] && echo "install: $(wc -l <"$tree/got") files, the program runs, the page names the schema"
exit "$failed"
