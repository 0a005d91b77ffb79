#!/bin/sh
# The Debian package and the manual page carry the project version: a
# release that bumps one and not the others ships a package or a page whose
# version is not the program's.
#
#   version_test.sh VERSION DEBIAN_CHANGELOG MANUAL_PAGE
version=$1
changelog=$2
page=$3
failed=0
first=$(head -n 1 "$changelog")
case $first in
"quelvo ($version) "* | "quelvo ($version-"[0-9]*") "*) ;;
*) echo "FAIL: $changelog begins '$first'; the project version is $version"; failed=1 ;;
esac
os=$(grep '^\.Os' "$page")
if [ "$os" != ".Os quelvo $version" ]; then
  echo "FAIL: $page has '$os'; the project version is $version"
  failed=1
fi
[ "$failed" = 0 ] && echo "version $version: package and manual page agree"
exit "$failed"
