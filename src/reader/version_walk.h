// The walk over a version block's tree that VerQueryValueA performs, shared
// by the lookup (version_block.h) and the lossless reads of a table
// (version_strings.h), so that both find the same nodes.
//
// Every read goes through a bounded source over the tree: a node never
// reaches past its parent, and a key must end inside its own node.
#ifndef QUELVO_VERSION_WALK_H
#define QUELVO_VERSION_WALK_H

#include <stddef.h>

#include "byte_source.h"

inline size_t Align4(size_t x) { return (x + 3) & ~static_cast<size_t>(3); }

// A node's header: wLength, wValueLength and, in the Unicode layout only,
// wType; the key (szKey) follows the header at once.
const size_t kNodeLength = 0;      // wLength: the node, children included
const size_t kNodeValueLength = 2; // wValueLength
const size_t kNodeType = 4;        // wType: 1 for text, 0 for binary
const size_t kAnsiNodeHeader = 4;
const size_t kUnicodeNodeHeader = 6;

struct VersionNode {
  size_t start;
  size_t end;         // start + length, never past the parent's end
  size_t keyStart;    // just past the header
  size_t keyEnd;      // just past the key's terminator
  size_t valueStart;  // the value, aligned to 4 from the block's start
  size_t valueLength; // as stored: units or bytes for text, bytes else
  bool text;          // wType 1 in a Unicode block
  size_t childStart;
};

// The characters of a parsed node's key, its terminator left out.
inline size_t KeyLength(const VersionNode &n, bool ansi) {
  return ansi ? n.keyEnd - 1 - n.keyStart : (n.keyEnd - 2 - n.keyStart) / 2;
}

// Reads what the root's header says about the whole block: the extent of
// the tree and whether it is in the 16-bit layout (the byte at offset 4 is
// then the first character of the key rather than the low byte of a type).
bool ReadBlockHeader(ByteSource *b, size_t *extent, bool *ansi);

// Reads the node header at off; false when it does not fit inside limit,
// is shorter than a header, or its key is not terminated inside it. ansi:
// the 16-bit layout, without a type field and with keys in bytes. Inline:
// every walk reads a node per step, and the node stays in registers.
inline bool ParseVersionNode(ByteSource *b, size_t off, size_t limit, bool ansi,
                             VersionNode *n) {
  size_t header = ansi ? kAnsiNodeHeader : kUnicodeNodeHeader;
  if (off > limit || limit - off < header)
    return false;
  unsigned char fields[kUnicodeNodeHeader] = {}; // the type only if Unicode
  // A block in memory, as every lookup's is, is read where it lies.
  const unsigned char *at = ViewAt(b, off, header);
  if (at == nullptr) {
    if (!ReadAt(b, off, fields, header))
      return false;
    at = fields;
  }
  uint16_t length = Le16(at + kNodeLength);
  uint16_t valueLength = Le16(at + kNodeValueLength);
  uint16_t type = ansi ? 0 : Le16(at + kNodeType);
  if (length < header)
    return false;
  n->start = off;
  n->keyStart = off + header;
  n->end = length < limit - off ? off + length : limit;
  n->valueLength = valueLength;
  n->text = type != 0;
  // The key ends at its terminator, which must lie inside the node.
  unsigned width = ansi ? 1 : 2;
  uint64_t terminator;
  if (!FindZeroUnit(b, n->keyStart, n->end, width, &terminator))
    return false;
  n->keyEnd = static_cast<size_t>(terminator) + width;
  n->valueStart = Align4(n->keyEnd);
  n->childStart = Align4(n->valueStart + n->valueLength * (n->text ? 2 : 1));
  return true;
}

// Whether count little-endian units equal the code page 1252 text's
// characters without regard to case.
bool KeyUnitsEqualFolded(const unsigned char *units, const char *text,
                         size_t count);

// VersionKeyEquals for a 16-bit key, or a key that must be read.
bool VersionKeyEqualsRead(ByteSource *b, const VersionNode &n, bool ansi,
                          const char *comp, size_t compLen);

// Compares a node's key with one path component of compLen bytes, without
// regard to case: a 16-bit key byte for byte, a Unicode key with the
// component's bytes read as code page 1252. A Unicode key in memory (every
// lookup's) is compared where it lies, inline: the walks compare keys far
// more often than they find one.
inline bool VersionKeyEquals(ByteSource *b, const VersionNode &n, bool ansi,
                             const char *comp, size_t compLen) {
  if (KeyLength(n, ansi) != compLen)
    return false;
  if (!ansi)
    if (const unsigned char *key = ViewAt(b, n.keyStart, 2 * compLen))
      return KeyUnitsEqualFolded(key, comp, compLen);
  return VersionKeyEqualsRead(b, n, ansi, comp, compLen);
}

// The first child of parent whose key matches; false when there is none,
// or a child before it cannot be read.
bool FindVersionChild(ByteSource *b, const VersionNode &parent, bool ansi,
                      const char *comp, size_t compLen, VersionNode *child);

// Follows a sub-block path's components down from node (which it then
// holds); atRoot is cleared once a component was followed. False when a
// component names nothing.
bool FollowVersionPath(ByteSource *b, bool ansi, const char *subBlock,
                       VersionNode *node, bool *atRoot);

#endif
