// Text conversions that must never fail or lose track of where they are:
// UTF-16 as stored in version resources, and byte strings that are meant
// to be UTF-8 but may not be.
#ifndef QUELVO_UNICODE_TEXT_H
#define QUELVO_UNICODE_TEXT_H

#include <stddef.h>

#include <string>

// Appends UTF-16 units as UTF-8. A surrogate that is not part of a pair
// becomes U+FFFD; a zero unit is converted like any other.
void AppendUtf16AsUtf8(const char16_t *units, size_t count, std::string *out);

// Writes units (count little-endian UTF-16 units) to out a byte each,
// eight at a time while all eight are ASCII, where the processor takes
// eight at once (SSE2), the last eight of more than eight taken whole over
// some written already; returns how many (a multiple of eight, or all),
// which the caller converts past.
// Nothing elsewhere: the caller converts them all.
size_t PackAsciiUnits(const unsigned char *units, size_t count,
                      unsigned char *out);

// Whether the units hold a surrogate that is not part of a pair: what the
// conversion above replaces, and no UTF-16 text may hold.
bool HasUnpairedSurrogate(const char16_t *units, size_t count);

// Measures the UTF-8 sequence that starts at p, of the count (at least
// one) bytes there: a well-formed one whole (1 for ASCII), with
// *wellFormed set; otherwise its maximal ill-formed part, the bytes that
// one U+FFFD replaces, with *wellFormed cleared. Overlong forms, encoded
// surrogates and values past U+10FFFF are refused at the second byte, so
// their parts are one byte each. Inline: the JSON writer's escaping and
// the conversion below call it for every non-ASCII character.
inline size_t Utf8SequenceLength(const unsigned char *p, size_t count,
                                 bool *wellFormed) {
  unsigned char lead = p[0];
  *wellFormed = true;
  if (lead < 0x80)
    return 1;
  // The continuation bytes wanted, and the range of the first of them.
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0)
      lo = 0xA0;
    if (lead == 0xED)
      hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0)
      lo = 0x90;
    if (lead == 0xF4)
      hi = 0x8F;
  } else {
    *wellFormed = false;
    return 1;
  }
  // A sequence cut short is one part; the byte that cut it starts afresh.
  size_t got = 0;
  while (got < need && 1 + got < count) {
    unsigned char c = p[1 + got];
    bool ok = got == 0 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
    if (!ok)
      break;
    ++got;
  }
  *wellFormed = got == need;
  return 1 + got;
}

// Appends bytes that should be UTF-8, each ill-formed sequence (a stray
// continuation byte, a truncated sequence, an overlong form, an encoded
// surrogate, anything past U+10FFFF) replaced by one U+FFFD per maximal
// ill-formed part, as Unicode recommends.
void AppendBytesAsUtf8(const char *bytes, size_t count, std::string *out);

// Appends bytes in code page 1252 as UTF-8; every byte has a character.
void AppendCp1252AsUtf8(const char *bytes, size_t count, std::string *out);

// The length of the well-formed multi-byte sequence at p, of at most
// length bytes, or 0 where none starts: an ASCII byte, a stray
// continuation byte, a sequence cut short, an overlong form, an encoded
// surrogate or anything past U+10FFFF.
inline size_t WellFormedUtf8Length(const unsigned char *p, size_t length) {
  if (p[0] < 0x80)
    return 0;
  bool wellFormed;
  size_t len = Utf8SequenceLength(p, length, &wellFormed);
  return wellFormed ? len : 0;
}

// Whether the well-formed sequence of len bytes at p is a C1 control
// (U+0080 to U+009F, NEL and CSI among them) or U+2028, U+2029: characters
// that a terminal acts on or that some line splitters take for line ends,
// though no byte of them is an ASCII control.
inline bool IsC1OrLineSeparator(const unsigned char *p, size_t len) {
  return (len == 2 && p[0] == 0xC2 && p[1] <= 0x9F) ||
         (len == 3 && p[0] == 0xE2 && p[1] == 0x80 &&
          (p[2] == 0xA8 || p[2] == 0xA9));
}

#endif
