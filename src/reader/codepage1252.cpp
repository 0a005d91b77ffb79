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

// Version strings are nearly all Latin: units below 0x100 are answered
// from a direct table, built from the best-fit data on first use.
struct LatinTable {
  unsigned char byte[0x100];
};

LatinTable BuildLatinTable() {
  LatinTable table;
  for (unsigned unit = 0; unit < 0x100; ++unit)
    table.byte[unit] = LookUpBestFit(static_cast<unsigned short>(unit));
  return table;
}

} // namespace

unsigned char UnicodeToCp1252(unsigned short unit) {
  // Code page 1252 keeps ASCII as it is.
  if (unit < 0x80)
    return static_cast<unsigned char>(unit);
  if (unit < 0x100) {
    static const LatinTable kLatin = BuildLatinTable();
    return kLatin.byte[unit];
  }
  return LookUpBestFit(unit);
}

unsigned short Cp1252ToUnicode(unsigned char byte) {
  return kCp1252ToUnicode[byte];
}
