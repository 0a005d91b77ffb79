#include "version_walk.h"

#include <string.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "ascii_case.h"
#include "codepage1252.h"

namespace {

// Case folding for key comparison: ASCII everywhere, Latin-1 letters too
// in Unicode keys (the platform compares those with Unicode folding).
unsigned short FoldUnit(unsigned short u) {
  if (u < 0x80)
    return UpperAscii(u);
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
    return static_cast<unsigned short>(u - 32);
  if (u == 0xFF)
    return 0x178;
  return u;
}

#ifdef __SSE2__
// Eight 16-bit lanes with 'a'-'z' made upper case; every other value,
// those from 0x80 up included, as it is.
__m128i UpperAscii8(__m128i v) {
  __m128i lower = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_set1_epi16('a' - 1)),
                                _mm_cmplt_epi16(v, _mm_set1_epi16('z' + 1)));
  return _mm_sub_epi16(v, _mm_and_si128(lower, _mm_set1_epi16('a' - 'A')));
}
#endif

// Whether count little-endian units equal the code page 1252 text's
// characters without regard to case, a character at a time. Out of line,
// so that the common comparison below saves no registers for it.
[[gnu::noinline]] bool UnitsEqualFoldedEach(const unsigned char *units,
                                            const char *text, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint16_t unit = Le16(units + 2 * i);
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned short want = c < 0x80 ? c : Cp1252ToUnicode(c);
    if (unit != want && FoldUnit(unit) != FoldUnit(want))
      return false;
  }
  return true;
}

} // namespace

// Eight units at a time where the text is ASCII (every name the reports
// look up), the last eight of a longer key taken whole. An ASCII
// character folds only onto ASCII: a unit from 0x80 up never equals it.
bool KeyUnitsEqualFolded(const unsigned char *units, const char *text,
                         size_t count) {
#ifdef __SSE2__
  if (count >= 8) {
    for (size_t i = 0;; i += 8) {
      if (count - i < 8)
        i = count - 8;
      __m128i stored =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(units + 2 * i));
      __m128i bytes =
          _mm_loadl_epi64(reinterpret_cast<const __m128i *>(text + i));
      if ((_mm_movemask_epi8(bytes) & 0xFF) != 0)
        break; // not ASCII: character by character
      __m128i wanted = _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(stored, wanted)) != 0xFFFF &&
          _mm_movemask_epi8(_mm_cmpeq_epi16(UpperAscii8(stored),
                                            UpperAscii8(wanted))) != 0xFFFF)
        return false;
      if (count - i == 8)
        return true;
    }
  }
#endif
  return UnitsEqualFoldedEach(units, text, count);
}

bool ReadBlockHeader(ByteSource *b, size_t *extent, bool *ansi) {
  uint16_t length;
  uint8_t fifth;
  if (!ReadLe16(b, kNodeLength, &length) || !ReadByte(b, kNodeType, &fifth))
    return false;
  *extent = length;
  *ansi = fifth >= 0x20;
  return true;
}

bool VersionKeyEqualsRead(ByteSource *b, const VersionNode &n, bool ansi,
                          const char *comp, size_t compLen) {
  if (KeyLength(n, ansi) != compLen)
    return false;
  if (ansi) {
    for (size_t i = 0; i < compLen; ++i) {
      uint8_t c;
      if (!ReadByte(b, n.keyStart + i, &c) ||
          FoldUnit(c) != FoldUnit(static_cast<unsigned char>(comp[i])))
        return false;
    }
    return true;
  }
  unsigned char chunk[128];
  for (size_t done = 0; done < compLen;) {
    size_t count = compLen - done;
    if (count > sizeof chunk / 2)
      count = sizeof chunk / 2;
    if (!ReadAt(b, n.keyStart + 2 * done, chunk, 2 * count))
      return false;
    if (!KeyUnitsEqualFolded(chunk, comp + done, count))
      return false;
    done += count;
  }
  return true;
}

bool FindVersionChild(ByteSource *b, const VersionNode &parent, bool ansi,
                      const char *comp, size_t compLen, VersionNode *child) {
  size_t pos = parent.childStart;
  while (pos < parent.end) {
    if (!ParseVersionNode(b, pos, parent.end, ansi, child))
      return false;
    if (KeyLength(*child, ansi) == compLen &&
        VersionKeyEquals(b, *child, ansi, comp, compLen))
      return true;
    // Siblings sit at the aligned end of the stored length (a length cut
    // at the parent's end ends the walk); ParseNode guaranteed that length
    // is at least a header, so the walk advances.
    pos += Align4(child->end - child->start);
  }
  return false;
}

bool FollowVersionPath(ByteSource *b, bool ansi, const char *subBlock,
                       VersionNode *node, bool *atRoot) {
  const char *p = subBlock == nullptr ? "" : subBlock;
  while (*p != '\0') {
    // Only '\' separates; empty components are skipped.
    while (*p == '\\')
      ++p;
    const char *comp = p;
    p += strcspn(p, "\\");
    size_t compLen = static_cast<size_t>(p - comp);
    if (compLen == 0)
      break;
    VersionNode child;
    if (!FindVersionChild(b, *node, ansi, comp, compLen, &child))
      return false;
    *node = child;
    *atRoot = false;
  }
  return true;
}
