#!/bin/sh
# The program links the C++ runtime as QUELVO_STATIC_RUNTIME says: linked
# in (the upstream default), or as the shared libstdc++ and libgcc_s that a
# distribution ships (the Debian package). Exits 77, which CTest counts as
# skipped, without readelf.
#
#   runtime_link.sh READELF QUELVO static|shared
readelf=$1 quelvo=$2 want=$3
if ! [ -x "$readelf" ]; then
  echo "runtime link: skipped: no readelf"
  exit 77
fi
needed=$("$readelf" -d "$quelvo" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p' | tr '\n' ' ')
case " $needed" in
*" libstdc++.so."*) got=shared ;;
*) got=static ;;
esac
if [ "$got" != "$want" ]; then
  echo "runtime link: FAIL: the C++ runtime is $got, expected $want (the program needs: $needed)"
  exit 1
fi
echo "runtime link: the C++ runtime is $got (the program needs: $needed)"
