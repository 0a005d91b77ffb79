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
  // A digit alone is most of what a version number holds.
  if (value < 10 && minDigits <= 1) {
    out[0] = static_cast<char>('0' + value);
    return 1;
  }
  // Counted first and written in place from the last digit back: a copy of
  // a few bytes of varying length costs more than the digits.
  size_t count = 1;
  for (unsigned long long rest = value; rest >= 10; rest /= 10)
    ++count;
  if (minDigits > kMaxDecimalDigits)
    minDigits = kMaxDecimalDigits;
  if (count < minDigits)
    count = minDigits;
  for (size_t i = count; i-- > 0;) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return count;
}

#endif
