#include "codepage1252.h"

#include <stddef.h>

#include "bestfit1252.inc"

unsigned char UnicodeToCp1252(unsigned short unit) {
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

unsigned short Cp1252ToUnicode(unsigned char byte) {
  return kCp1252ToUnicode[byte];
}
