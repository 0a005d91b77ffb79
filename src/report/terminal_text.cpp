#include "terminal_text.h"

#include "unicode_text.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

} // namespace

unsigned Utf8CodePoint(const unsigned char *p, size_t len) {
  static const unsigned kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  unsigned c = p[0] & kLeadMask[len];
  for (size_t k = 1; k < len; ++k)
    c = c << 6 | (p[k] & 0x3Fu);
  return c;
}

bool IsBidiControl(unsigned c) {
  return c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void AppendCodePointEscape(unsigned c, std::string *out) {
  const char escape[] = {'\\',
                         'u',
                         kHexDigits[(c >> 12) & 0xF],
                         kHexDigits[(c >> 8) & 0xF],
                         kHexDigits[(c >> 4) & 0xF],
                         kHexDigits[c & 0xF]};
  out->append(escape, sizeof escape);
}

void AppendForTerminal(std::string_view line, std::string *out) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(line.data());
  size_t n = line.size();
  size_t i = 0;
  while (i < n) {
    // Runs of printable ASCII, nearly all of a line, go whole.
    size_t run = i;
    while (run < n && p[run] >= 0x20 && p[run] < 0x7F)
      ++run;
    out->append(line.data() + i, run - i);
    i = run;
    if (i >= n)
      break;
    bool wellFormed;
    size_t len = Utf8SequenceLength(p + i, n - i, &wellFormed);
    if (!wellFormed) {
      for (size_t k = 0; k < len; ++k) {
        const char escape[] = {'\\', 'x', kHexDigits[p[i + k] >> 4],
                               kHexDigits[p[i + k] & 0xF]};
        out->append(escape, sizeof escape);
      }
    } else {
      unsigned c = Utf8CodePoint(p + i, len);
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
          IsBidiControl(c))
        AppendCodePointEscape(c, out);
      else
        out->append(line.data() + i, len);
    }
    i += len;
  }
}
