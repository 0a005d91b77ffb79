#include "json_writer.h"

#include <stdint.h>
#include <string.h>

#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "decimal.h"
#include "unicode_text.h"

namespace {

// Room for n more bytes at the end of the text. Appends go through here
// rather than through the string's own append, which costs more than the
// copying itself for the short pieces JSON is made of.
char *Room(JsonWriter *w, size_t n) {
  if (w->buffer.size() - w->used < n) {
    size_t grown = w->buffer.size() * 2;
    if (grown < w->used + n)
      grown = w->used + n;
    // A file's object is mostly one to two KiB: one step to fit most.
    w->buffer.resize(grown < 2048 ? 2048 : grown);
  }
  return &w->buffer[w->used];
}

void Put(JsonWriter *w, const char *p, size_t n) {
  memcpy(Room(w, n), p, n);
  w->used += n;
}

void PutChar(JsonWriter *w, char c) {
  *Room(w, 1) = c;
  ++w->used;
}

void Separate(JsonWriter *w) {
  if (w->needComma)
    PutChar(w, ',');
}

void PutUnicodeEscape(JsonWriter *w, unsigned codePoint) {
  static const char kHex[] = "0123456789abcdef";
  char escape[6] = {'\\',
                    'u',
                    kHex[(codePoint >> 12) & 0xF],
                    kHex[(codePoint >> 8) & 0xF],
                    kHex[(codePoint >> 4) & 0xF],
                    kHex[codePoint & 0xF]};
  Put(w, escape, sizeof escape);
}

// The bytes that stand for themselves inside a JSON string here: printable
// ASCII but the quote and the backslash.
struct PlainBytes {
  bool plain[256];
};

PlainBytes MakePlainBytes() {
  PlainBytes t = {};
  for (int c = 0x20; c < 0x7F; ++c)
    t.plain[c] = c != '"' && c != '\\';
  return t;
}

const PlainBytes kPlain = MakePlainBytes();

// Whether any of eight bytes might not be plain: a byte of 0x80 or more,
// below 0x20, a quote, a backslash or DEL. Never wrong when it says none;
// it may say so of a plain word after such a byte (a borrow), which only
// sends that word to the byte at a time check.
bool MaybeNotPlain(uint64_t v) {
  const uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  auto hasByte = [](uint64_t x, uint64_t byte) {
    uint64_t y = x ^ (byte * kOnes);
    return (y - kOnes) & ~y & kHigh;
  };
  uint64_t below = (v - 0x20 * kOnes) & ~v & kHigh;
  return ((v & kHigh) | below | hasByte(v, '"') | hasByte(v, '\\') |
          hasByte(v, 0x7F)) != 0;
}

#ifdef __SSE2__
// One bit for each of sixteen bytes that is not plain, the first byte's
// lowest. Signed, bytes of 0x80 and more compare below the space, as the
// controls do.
unsigned NotPlainMask(const unsigned char *p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  __m128i odd =
      _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
                                _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                   _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\\')),
                                _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F))));
  return static_cast<unsigned>(_mm_movemask_epi8(odd));
}
#endif

// Where the run of plain bytes from p[run] ends: at length or at the first
// byte that is not plain. Through the plain runs most text is made of
// sixteen bytes at a time where the processor has SSE2 (every x86-64), else
// eight; the last few bytes of a run are looked at as the last whole
// sixteen or eight of the text, which may begin before the run.
size_t PlainRunEnd(const unsigned char *p, size_t run, size_t length) {
#ifdef __SSE2__
  if (length - run >= 16) {
    for (; length - run >= 16; run += 16)
      if (unsigned mask = NotPlainMask(p + run))
        return run + static_cast<size_t>(__builtin_ctz(mask));
    if (run == length)
      return run;
    size_t from = length - 16;
    unsigned mask = NotPlainMask(p + from) >> (run - from);
    return mask != 0 ? run + static_cast<size_t>(__builtin_ctz(mask)) : length;
  }
#endif
  uint64_t word;
  for (; length - run >= 8; run += 8) {
    memcpy(&word, p + run, sizeof word);
    if (MaybeNotPlain(word))
      break;
  }
  if (length - run < 8 && length >= 8 && run < length) {
    // The bytes before the run may be anything: a word that might not be
    // plain sends the run to the byte at a time check.
    memcpy(&word, p + length - 8, sizeof word);
    if (!MaybeNotPlain(word))
      return length;
  }
  while (run < length && kPlain.plain[p[run]])
    ++run;
  return run;
}

// Escapes UTF-8 into the text, copying runs of plain bytes whole. Returns
// false, having written what came before it, at the first ill-formed
// sequence, whose offset goes to done.
bool PutEscaped(JsonWriter *w, const unsigned char *p, size_t length,
                size_t *done) {
  size_t i = 0;
  while (i < length) {
    size_t run = PlainRunEnd(p, i, length);
    Put(w, reinterpret_cast<const char *>(p + i), run - i);
    i = run;
    if (i >= length)
      break;
    unsigned char c = p[i];
    if (c >= 0x80) {
      // The reader's measure, so that what passes here is what its
      // conversion keeps.
      size_t len = WellFormedUtf8Length(p + i, length - i);
      if (len == 0) {
        *done = i;
        return false;
      }
      if (!IsC1OrLineSeparator(p + i, len))
        Put(w, reinterpret_cast<const char *>(p + i), len);
      else if (len == 2)
        PutUnicodeEscape(w, p[i + 1]);
      else
        PutUnicodeEscape(w, p[i + 2] == 0xA8 ? 0x2028 : 0x2029);
      i += len;
      continue;
    }
    switch (c) {
    case '"':
      Put(w, "\\\"", 2);
      break;
    case '\\':
      Put(w, "\\\\", 2);
      break;
    case '\n':
      Put(w, "\\n", 2);
      break;
    case '\r':
      Put(w, "\\r", 2);
      break;
    case '\t':
      Put(w, "\\t", 2);
      break;
    case '\b':
      Put(w, "\\b", 2);
      break;
    case '\f':
      Put(w, "\\f", 2);
      break;
    default: // the other controls and DEL
      PutUnicodeEscape(w, c);
    }
    ++i;
  }
  *done = length;
  return true;
}

// The comma due before a value and a string's opening quote, at once.
void OpenString(JsonWriter *w) {
  char *p = Room(w, 2);
  if (w->needComma) {
    *p++ = ',';
    ++w->used;
  }
  *p = '"';
  ++w->used;
}

// Rare: text that holds ill-formed UTF-8 is made valid first, each
// ill-formed part one U+FFFD, and escaped then; what it was made goes to
// keep where given.
void PutValidated(JsonWriter *w, const char *text, size_t length,
                  std::string *keep) {
  std::string valid;
  AppendBytesAsUtf8(text, length, &valid);
  size_t done;
  PutEscaped(w, reinterpret_cast<const unsigned char *>(valid.data()),
             valid.size(), &done);
  if (keep != nullptr)
    *keep = std::move(valid);
}

// A string written on its own, its text kept as it was written.
void PutShownString(JsonWriter *w, const char *text, size_t length) {
  OpenString(w);
  size_t at = w->used, done;
  if (!PutEscaped(w, reinterpret_cast<const unsigned char *>(text), length,
                  &done)) {
    PutValidated(w, text + done, length - done, &w->shownText);
    w->shown = kShownConverted;
    w->shownText.insert(0, text, done);
  } else if (w->used - at == length) {
    // Each escape lengthens the text: as long as the text, the JSON holds
    // it as it stands.
    w->shown = kShownString;
    w->shownAt = at;
    w->shownLength = length;
  } else {
    w->shown = kShownConverted;
    w->shownText.assign(text, length);
  }
  PutChar(w, '"');
  w->needComma = true;
}

} // namespace

std::string JsonFinish(JsonWriter *w) {
  w->buffer.resize(w->used);
  return std::move(w->buffer);
}

void JsonRestart(JsonWriter *w) {
  w->used = 0;
  w->needComma = false;
  w->depth = 0;
  w->shown = kShownAsWritten;
}

std::string_view JsonShownText(const JsonWriter &w) {
  switch (w.shown) {
  case kShownString:
    return std::string_view(w.buffer.data() + w.shownAt, w.shownLength);
  case kShownConverted:
    return w.shownText;
  case kShownNull:
    return std::string_view();
  case kShownAsWritten:
    break;
  }
  return std::string_view(w.buffer.data(), w.used);
}

void JsonBeginObject(JsonWriter *w) {
  Separate(w);
  PutChar(w, '{');
  w->needComma = false;
  ++w->depth;
}

void JsonEndObject(JsonWriter *w) {
  PutChar(w, '}');
  w->needComma = true;
  --w->depth;
}

void JsonBeginArray(JsonWriter *w) {
  Separate(w);
  PutChar(w, '[');
  w->needComma = false;
  ++w->depth;
}

void JsonEndArray(JsonWriter *w) {
  PutChar(w, ']');
  w->needComma = true;
  --w->depth;
}

void JsonKey(JsonWriter *w, const char *key, size_t length) {
  JsonPutKeyAt(w, Room(w, length + 4), key, length);
}

void JsonMemberName(JsonWriter *w, const char *name, size_t length) {
  JsonString(w, name, length);
  PutChar(w, ':');
  w->needComma = false;
}

void JsonRawMembers(JsonWriter *w, const char *members, size_t length) {
  Separate(w);
  Put(w, members, length);
  w->needComma = true;
}

void JsonString(JsonWriter *w, const char *text, size_t length) {
  if (w->depth == 0) {
    PutShownString(w, text, length);
    return;
  }
  OpenString(w);
  size_t done;
  if (!PutEscaped(w, reinterpret_cast<const unsigned char *>(text), length,
                  &done))
    PutValidated(w, text + done, length - done, nullptr);
  PutChar(w, '"');
  w->needComma = true;
}

void JsonString(JsonWriter *w, const std::string &text) {
  JsonString(w, text.data(), text.size());
}

void JsonStringOrNull(JsonWriter *w, const char *text) {
  if (text == nullptr)
    JsonNull(w);
  else
    JsonString(w, text, strlen(text));
}

void JsonPlainString(JsonWriter *w, const char *text, size_t length) {
  Separate(w);
  char *p = Room(w, length + 2);
  p[0] = '"';
  memcpy(p + 1, text, length);
  p[length + 1] = '"';
  w->used += length + 2;
  w->needComma = true;
  if (w->depth == 0) {
    w->shown = kShownString;
    w->shownAt = w->used - length - 1;
    w->shownLength = length;
  }
}

void JsonNumber(JsonWriter *w, unsigned long value) {
  Separate(w);
  char digits[kMaxDecimalDigits];
  Put(w, digits, FormatDecimal(value, digits));
  w->needComma = true;
}

void JsonNumber64(JsonWriter *w, unsigned long long value) {
  Separate(w);
  char digits[kMaxDecimalDigits];
  Put(w, digits, FormatDecimal(value, digits));
  w->needComma = true;
}

void JsonNull(JsonWriter *w) {
  Separate(w);
  Put(w, "null", 4);
  w->needComma = true;
  if (w->depth == 0)
    w->shown = kShownNull;
}

void JsonRawValue(JsonWriter *w, const char *text, size_t length) {
  Separate(w);
  Put(w, text, length);
  w->needComma = true;
}

void JsonRawValue(JsonWriter *w, const char *value) {
  Separate(w);
  Put(w, value, strlen(value));
  w->needComma = true;
}

void JsonBool(JsonWriter *w, bool value) {
  Separate(w);
  if (value)
    Put(w, "true", 4);
  else
    Put(w, "false", 5);
  w->needComma = true;
}
