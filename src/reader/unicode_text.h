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

// Appends bytes that should be UTF-8, each ill-formed sequence (a stray
// continuation byte, a truncated sequence, an overlong form, an encoded
// surrogate, anything past U+10FFFF) replaced by one U+FFFD per maximal
// ill-formed part, as Unicode recommends.
void AppendBytesAsUtf8(const char *bytes, size_t count, std::string *out);

// Appends bytes in code page 1252 as UTF-8; every byte has a character.
void AppendCp1252AsUtf8(const char *bytes, size_t count, std::string *out);

// The length (2 to 4) of the well-formed UTF-8 sequence of more than one
// byte at the start of p, which holds length bytes, or 0 when there is
// none: an ASCII byte, a stray continuation byte, a sequence cut short, an
// overlong form, an encoded surrogate or anything past U+10FFFF. Inline:
// the JSON writer asks it for every such character of every string.
inline size_t Utf8SequenceLength(const unsigned char *p, size_t length) {
  unsigned char lead = p[0];
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    lo = lead == 0xE0 ? 0xA0 : 0x80;
    hi = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    lo = lead == 0xF0 ? 0x90 : 0x80;
    hi = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (need > length || p[1] < lo || p[1] > hi)
    return 0;
  for (size_t i = 2; i < need; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF)
      return 0;
  return need;
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
