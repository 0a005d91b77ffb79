#include "unicode_text.h"

#include "codepage1252.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

const char32_t kReplacement = 0xFFFD;

void AppendCodePoint(char32_t c, std::string *out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

} // namespace

size_t PackAsciiUnits(const unsigned char *units, size_t count,
                      unsigned char *out) {
  size_t n = 0;
#ifdef __SSE2__
  const __m128i kNotAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  while (count - n >= 8 || (n != 0 && n != count)) {
    // The last eight units taken whole, over some packed already, where
    // fewer are left.
    size_t at = count - n >= 8 ? n : count - 8;
    __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(units + 2 * at));
    __m128i ascii =
        _mm_cmpeq_epi16(_mm_and_si128(v, kNotAscii), _mm_setzero_si128());
    if (_mm_movemask_epi8(ascii) != 0xFFFF)
      break;
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + at),
                     _mm_packus_epi16(v, v));
    n = at + 8;
  }
#else
  (void)units;
  (void)count;
  (void)out;
#endif
  return n;
}

namespace {

// Appends the units up to the first that is not ASCII, a byte each, and
// returns how many. Most text is ASCII throughout: packed eight units at a
// time where it can be, through a buffer appended whole.
size_t AppendAsciiPrefix(const char16_t *units, size_t count,
                         std::string *out) {
  unsigned char ascii[128];
  size_t i = 0;
  for (;;) {
    size_t room = count - i < sizeof ascii ? count - i : sizeof ascii;
    // Where the units are packed (SSE2: x86, little-endian), a char16_t's
    // bytes are its little-endian form.
    size_t n = PackAsciiUnits(
        reinterpret_cast<const unsigned char *>(units + i), room, ascii);
    for (; n < room && units[i + n] < 0x80; ++n)
      ascii[n] = static_cast<unsigned char>(units[i + n]);
    out->append(reinterpret_cast<const char *>(ascii), n);
    i += n;
    if (n < room || i == count)
      return i;
  }
}

} // namespace

void AppendUtf16AsUtf8(const char16_t *units, size_t count, std::string *out) {
  size_t i = AppendAsciiPrefix(units, count, out);
  for (; i < count; ++i) {
    char16_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
      char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                   (static_cast<char32_t>(units[i + 1]) - 0xDC00);
      AppendCodePoint(c, out);
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendCodePoint(kReplacement, out);
    } else {
      AppendCodePoint(u, out);
    }
  }
}

bool HasUnpairedSurrogate(const char16_t *units, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (IsHighSurrogate(units[i]) && i + 1 < count &&
        IsLowSurrogate(units[i + 1]))
      ++i;
    else if (IsHighSurrogate(units[i]) || IsLowSurrogate(units[i]))
      return true;
  }
  return false;
}

void AppendBytesAsUtf8(const char *bytes, size_t count, std::string *out) {
  const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes);
  size_t i = 0;
  while (i < count) {
    unsigned char lead = b[i];
    if (lead < 0x80) {
      size_t run = i + 1;
      while (run < count && b[run] < 0x80)
        ++run;
      out->append(bytes + i, run - i);
      i = run;
      continue;
    }
    bool wellFormed;
    size_t length = Utf8SequenceLength(b + i, count - i, &wellFormed);
    if (wellFormed)
      out->append(bytes + i, length);
    else
      out->append("\xEF\xBF\xBD");
    i += length;
  }
}

void AppendCp1252AsUtf8(const char *bytes, size_t count, std::string *out) {
  size_t i = 0;
  while (i < count) {
    // ASCII is the same in both: runs of it go whole.
    size_t run = i;
    while (run < count && static_cast<unsigned char>(bytes[run]) < 0x80)
      ++run;
    out->append(bytes + i, run - i);
    if (run >= count)
      break;
    AppendCodePoint(Cp1252ToUnicode(static_cast<unsigned char>(bytes[run])),
                    out);
    i = run + 1;
  }
}
