#include "codepage1252.h"

#include <stddef.h>

#include "bestfit1252.inc"

namespace {

unsigned char LookUpBestFit(unsigned short unit) {
  size_t lo = 0, hi = sizeof kBestFit1252 / sizeof kBestFit1252[0];
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (kBestFit1252[mid].unit < unit)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo < sizeof kBestFit1252 / sizeof kBestFit1252[0] &&
      kBestFit1252[lo].unit == unit)
    return kBestFit1252[lo].byte;
  return '?';
}

} // namespace

unsigned char UnicodeToCp1252(unsigned short unit) {
  // Version strings are nearly all ASCII, which the code page keeps as it
  // is, or Latin-1, kept too wherever the code page's own table maps the
  // byte back to the same unit; only the rest needs the search.
  if (unit < 0x80)
    return static_cast<unsigned char>(unit);
  if (unit < 0x100 && kCp1252ToUnicode[unit] == unit)
    return static_cast<unsigned char>(unit);
  return LookUpBestFit(unit);
}

unsigned short Cp1252ToUnicode(unsigned char byte) {
  return kCp1252ToUnicode[byte];
}
