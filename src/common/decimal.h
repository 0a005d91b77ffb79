// Unsigned numbers in decimal, composed by hand: the reports print a few
// on every file, and formatted printing cost more than the rest of their
// work.
#ifndef QUELVO_DECIMAL_H
#define QUELVO_DECIMAL_H

#include <stddef.h>
#include <string.h>

// The digits of the largest 64-bit number.
const size_t kMaxDecimalDigits = 20;

// Writes value's digits to out, with zeros in front to make at least
// minDigits (as "%0*u" would; no more than kMaxDecimalDigits count), and
// returns how many it wrote, which is all out needs room for. No
// terminator.
inline size_t FormatDecimal(unsigned long long value, char *out,
                            size_t minDigits = 1) {
  char digits[kMaxDecimalDigits];
  size_t at = sizeof digits;
  do {
    digits[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (minDigits > sizeof digits)
    minDigits = sizeof digits;
  while (sizeof digits - at < minDigits)
    digits[--at] = '0';
  memcpy(out, digits + at, sizeof digits - at);
  return sizeof digits - at;
}

#endif
