#include "version_block.h"

#include <string.h>

#include "byte_source.h"
#include "codepage1252.h"
#include "exe_locate.h"

namespace {

inline size_t Align4(size_t x) { return (x + 3) & ~static_cast<size_t>(3); }

struct Node {
  size_t start;
  size_t end;         // start + length, never past the parent's end
  size_t keyEnd;      // just past the key's terminator
  size_t valueStart;  // the value, aligned to 4 from the block's start
  size_t valueLength; // as stored: units or bytes for text, bytes else
  bool text;          // wType 1 in a Unicode block
  size_t childStart;
};

// Reads the node header at off; false when it does not fit inside limit,
// is shorter than a header, or its key is not terminated inside it.
bool ParseNode(const unsigned char *b, size_t off, size_t limit, bool ansi,
               Node *n) {
  size_t header = ansi ? 4 : 6;
  if (off > limit || limit - off < header)
    return false;
  size_t length = Le16(b + off);
  if (length < header)
    return false;
  n->start = off;
  n->end = length < limit - off ? off + length : limit;
  n->valueLength = Le16(b + off + 2);
  n->text = !ansi && Le16(b + off + 4) != 0;
  size_t pos = off + header;
  if (ansi) {
    while (pos < n->end && b[pos] != 0)
      ++pos;
    if (pos >= n->end)
      return false;
    n->keyEnd = pos + 1;
  } else {
    while (n->end - pos >= 2 && Le16(b + pos) != 0)
      pos += 2;
    if (n->end - pos < 2)
      return false;
    n->keyEnd = pos + 2;
  }
  n->valueStart = Align4(n->keyEnd);
  n->childStart = Align4(n->valueStart + n->valueLength * (n->text ? 2 : 1));
  return true;
}

// Case folding for key comparison: ASCII everywhere, Latin-1 letters too
// in Unicode keys (the platform compares those with Unicode folding).
unsigned short FoldUnit(unsigned short u) {
  if (u >= 'a' && u <= 'z')
    return static_cast<unsigned short>(u - 32);
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
    return static_cast<unsigned short>(u - 32);
  if (u == 0xFF)
    return 0x178;
  return u;
}

// Compares a child's key with one path component of compLen bytes.
bool KeyEquals(const unsigned char *b, const Node &n, bool ansi,
               const char *comp, size_t compLen) {
  if (ansi) {
    size_t keyLen = n.keyEnd - 1 - (n.start + 4);
    if (keyLen != compLen)
      return false;
    for (size_t i = 0; i < compLen; ++i)
      if (FoldUnit(b[n.start + 4 + i]) !=
          FoldUnit(static_cast<unsigned char>(comp[i])))
        return false;
    return true;
  }
  size_t keyUnits = (n.keyEnd - 2 - (n.start + 6)) / 2;
  if (keyUnits != compLen)
    return false;
  for (size_t i = 0; i < compLen; ++i) {
    unsigned short unit = Le16(b + n.start + 6 + 2 * i);
    unsigned short want = Cp1252ToUnicode(static_cast<unsigned char>(comp[i]));
    if (FoldUnit(unit) != FoldUnit(want))
      return false;
  }
  return true;
}

bool FindChild(const unsigned char *b, const Node &parent, bool ansi,
               const char *comp, size_t compLen, Node *child) {
  size_t pos = parent.childStart;
  while (pos < parent.end) {
    if (!ParseNode(b, pos, parent.end, ansi, child))
      return false;
    if (KeyEquals(b, *child, ansi, comp, compLen))
      return true;
    // Siblings sit at the aligned end of the stored length; ParseNode
    // guaranteed that length is at least a header, so the walk advances.
    pos += Align4(Le16(b + pos));
  }
  return false;
}

} // namespace

bool IsAnsiBlock(const unsigned char *block) { return block[4] >= 0x20; }

unsigned long VersionBufferSize(int format, unsigned long resourceSize,
                                unsigned blockLength) {
  if (format == kImagePe)
    return resourceSize * 2 + 4;
  const unsigned kFixedPart = kFixedRecordSize;
  return blockLength > kFixedPart ? (blockLength - kFixedPart) * 4ul : 0;
}

bool PrepareVersionBlock(unsigned char *buffer, size_t length, size_t copied) {
  if (copied > length)
    copied = length;
  memset(buffer + copied, 0, length - copied);
  if (copied < 6 || length < 8)
    return false;
  bool ansi = IsAnsiBlock(buffer);
  size_t extent = Le16(buffer);
  if (extent > copied)
    extent = copied;
  if (ansi) {
    if (extent > length - 1)
      extent = length - 1;
  } else if (extent > (length - 4) / 2) {
    extent = (length - 4) / 2;
  }
  // Too short for a node header: and "FE2X" would land on the length and
  // type fields that tell the layout.
  if (extent < 6)
    return false;
  buffer[0] = static_cast<unsigned char>(extent);
  buffer[1] = static_cast<unsigned char>(extent >> 8);
  if (!ansi)
    memcpy(buffer + extent, "FE2X", 4);
  // Whatever of the raw resource lies past the extent is never walked;
  // clearing the last byte keeps every string scan inside the buffer.
  buffer[length - 1] = 0;
  return true;
}

bool QueryVersionBlock(unsigned char *block, const char *subBlock,
                       unsigned char **value, unsigned *length) {
  const unsigned char *b = block;
  *length = 0;
  bool ansi = IsAnsiBlock(b);
  size_t extent = Le16(b);
  Node node;
  if (!ParseNode(b, 0, extent, ansi, &node))
    return false;
  bool atRoot = true;
  const char *p = subBlock == nullptr ? "" : subBlock;
  while (*p != '\0') {
    // Only '\' separates; empty components are skipped.
    while (*p == '\\')
      ++p;
    const char *comp = p;
    while (*p != '\0' && *p != '\\')
      ++p;
    size_t compLen = static_cast<size_t>(p - comp);
    if (compLen == 0)
      break;
    Node child;
    if (!FindChild(b, node, ansi, comp, compLen, &child))
      return false;
    node = child;
    atRoot = false;
  }

  if (atRoot) {
    // The caller reads a whole VS_FIXEDFILEINFO from here.
    size_t readable = ansi ? extent : 2 * extent + 4;
    if (node.valueStart > readable ||
        readable - node.valueStart < kFixedRecordSize)
      return false;
    *value = (block + node.valueStart);
    *length = static_cast<unsigned>(node.valueLength);
    return true;
  }

  size_t available =
      node.valueStart < node.end ? node.end - node.valueStart : 0;
  if (!node.text) {
    if (ansi && (node.valueLength == 0 || available == 0)) {
      // Nothing stored: the key's terminator reads as an empty string.
      *value = (block + node.keyEnd - 1);
      return true;
    }
    *value = (block + node.valueStart);
    *length = static_cast<unsigned>(
        node.valueLength < available ? node.valueLength : available);
    return true;
  }

  // A text value: its stored length may count units, bytes, or nothing at
  // all, so measure the string itself, up to its first zero unit.
  size_t units = 0;
  if (node.valueLength != 0)
    while (2 * (units + 1) <= available &&
           Le16(b + node.valueStart + 2 * units) != 0)
      ++units;
  if (units == 0) {
    // An empty string: the key's terminator serves as one.
    *value = (block + node.keyEnd - 2);
    return true;
  }
  unsigned char *out = block + extent + 4 + node.valueStart;
  for (size_t i = 0; i < units; ++i)
    out[i] = UnicodeToCp1252(Le16(b + node.valueStart + 2 * i));
  out[units] = 0;
  *value = out;
  *length = static_cast<unsigned>(units + 1);
  return true;
}
