#include "unicode_text.h"

#include "codepage1252.h"

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

void AppendUtf16AsUtf8(const char16_t *units, size_t count, std::string *out) {
  size_t i = 0;
  // Most text is ASCII: copied through a buffer, not a byte at a time.
  while (i < count && units[i] < 0x80) {
    char ascii[64];
    size_t n = 0;
    while (i < count && units[i] < 0x80 && n < sizeof ascii)
      ascii[n++] = static_cast<char>(units[i++]);
    out->append(ascii, n);
  }
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
