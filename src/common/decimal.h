// Unsigned numbers in decimal, composed by hand: the reports print a few
// on every file, and formatted printing cost more than the rest of their
// work.
#ifndef QUELVO_DECIMAL_H
#define QUELVO_DECIMAL_H

#include <stddef.h>
#include <string.h>

// The digits of the largest 64-bit number.
const size_t kMaxDecimalDigits = 20;

// "00" to "99": the digits of a number taken two at a time.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536"
    "37383940414243444546474849505152535455565758596061626364656667686970717273"
    "7475767778798081828384858687888990919293949596979899";

// Writes value's digits in place from the last back, two at a time, and
// zeros in front of them to fill count bytes: a copy of a few bytes of
// varying length costs more than the digits. Unsigned is the narrowest
// that holds value: numbers of five digits divide faster in 32 bits.
template <typename Unsigned>
inline size_t WriteDigits(Unsigned value, char *out, size_t count) {
  size_t i = count;
  for (; value >= 100; value /= 100) {
    const char *pair = kDigitPairs + 2 * (value % 100);
    out[--i] = pair[1];
    out[--i] = pair[0];
  }
  if (value >= 10) {
    out[--i] = kDigitPairs[2 * value + 1];
    out[--i] = kDigitPairs[2 * value];
  } else {
    out[--i] = static_cast<char>('0' + value);
  }
  while (i > 0)
    out[--i] = '0';
  return count;
}

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
  // Five digits at most, every part of a version number: counted by
  // comparisons rather than a chain of multiplications.
  if (value < 100000 && minDigits <= 5) {
    unsigned v = static_cast<unsigned>(value);
    size_t digits =
        size_t{1} + (v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000);
    return WriteDigits(v, out, digits < minDigits ? minDigits : digits);
  }
  size_t digits = 1;
  for (unsigned long long bound = 10; value >= bound; bound *= 10) {
    ++digits;
    if (digits == kMaxDecimalDigits)
      break; // 10^20 is past the largest value
  }
  if (minDigits > kMaxDecimalDigits)
    minDigits = kMaxDecimalDigits;
  return WriteDigits(value, out, digits < minDigits ? minDigits : digits);
}

#endif
