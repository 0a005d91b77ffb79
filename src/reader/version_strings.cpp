#include "version_strings.h"

#include <stdio.h>

#include "byte_source.h"
#include "codepage1252.h"

namespace {

inline size_t Align4(size_t x) { return (x + 3) & ~static_cast<size_t>(3); }

struct Node {
  size_t start;
  size_t end;         // never past the parent's end
  size_t keyEnd;      // just past the key's terminator
  size_t valueStart;  // aligned to 4 from the block's start
  size_t valueLength; // as stored: units or bytes for text, bytes else
  bool text;          // wType 1 in a Unicode block
  size_t childStart;
};

struct Walk {
  ByteSource *src;
  bool ansi; // the 16-bit layout: no type field, keys and text in bytes
  size_t extent;
};

// A node header at off, inside limit; false when it does not fit, is
// shorter than a header, or its key is not terminated inside it.
bool ParseNode(const Walk &w, size_t off, size_t limit, Node *n) {
  size_t header = w.ansi ? 4 : 6;
  if (off > limit || limit - off < header)
    return false;
  uint16_t length, valueLength, type = 0;
  if (!ReadLe16(w.src, off, &length) ||
      !ReadLe16(w.src, off + 2, &valueLength) ||
      (!w.ansi && !ReadLe16(w.src, off + 4, &type)))
    return false;
  if (length < header)
    return false;
  n->start = off;
  n->end = length < limit - off ? off + length : limit;
  n->valueLength = valueLength;
  n->text = !w.ansi && type != 0;
  size_t pos = off + header;
  size_t unit = w.ansi ? 1 : 2;
  for (;; pos += unit) {
    if (n->end - pos < unit)
      return false;
    uint16_t c;
    if (w.ansi) {
      unsigned char b;
      if (!ReadAt(w.src, pos, &b, 1))
        return false;
      c = b;
    } else if (!ReadLe16(w.src, pos, &c)) {
      return false;
    }
    if (c == 0)
      break;
  }
  n->keyEnd = pos + unit;
  n->valueStart = Align4(n->keyEnd);
  n->childStart = Align4(n->valueStart + n->valueLength * (n->text ? 2 : 1));
  return true;
}

char16_t FoldUnit(char16_t u) {
  if (u >= 'a' && u <= 'z')
    return static_cast<char16_t>(u - 32);
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
    return static_cast<char16_t>(u - 32);
  if (u == 0xFF)
    return 0x178;
  return u;
}

// The key of a node as UTF-16; a 16-bit key's bytes through code page 1252.
std::u16string ReadKey(const Walk &w, const Node &n) {
  std::u16string key;
  size_t header = w.ansi ? 4 : 6;
  size_t unit = w.ansi ? 1 : 2;
  for (size_t pos = n.start + header; pos < n.keyEnd - unit; pos += unit) {
    if (w.ansi) {
      unsigned char b = 0;
      ReadAt(w.src, pos, &b, 1);
      key.push_back(static_cast<char16_t>(Cp1252ToUnicode(b)));
    } else {
      uint16_t u = 0;
      ReadLe16(w.src, pos, &u);
      key.push_back(static_cast<char16_t>(u));
    }
  }
  return key;
}

// Compares a node's key with one path component, as the lookup does: a
// 16-bit key byte for byte, a Unicode key with the component's bytes read
// as code page 1252.
bool KeyEquals(const Walk &w, const Node &n, const char *comp, size_t compLen) {
  size_t header = w.ansi ? 4 : 6;
  size_t unit = w.ansi ? 1 : 2;
  size_t keyUnits = (n.keyEnd - unit - (n.start + header)) / unit;
  if (keyUnits != compLen)
    return false;
  for (size_t i = 0; i < compLen; ++i) {
    unsigned char c = static_cast<unsigned char>(comp[i]);
    char16_t have, want;
    if (w.ansi) {
      unsigned char b;
      if (!ReadAt(w.src, n.start + header + i, &b, 1))
        return false;
      have = b;
      want = c;
    } else {
      uint16_t u;
      if (!ReadLe16(w.src, n.start + header + 2 * i, &u))
        return false;
      have = static_cast<char16_t>(u);
      want = static_cast<char16_t>(Cp1252ToUnicode(c));
    }
    if (FoldUnit(have) != FoldUnit(want))
      return false;
  }
  return true;
}

bool FindChild(const Walk &w, const Node &parent, const char *comp,
               size_t compLen, Node *child) {
  size_t pos = parent.childStart;
  while (pos < parent.end) {
    if (!ParseNode(w, pos, parent.end, child))
      return false;
    if (KeyEquals(w, *child, comp, compLen))
      return true;
    uint16_t length;
    if (!ReadLe16(w.src, pos, &length))
      return false;
    // ParseNode made sure the length is at least a header: the walk moves.
    pos += Align4(length);
  }
  return false;
}

// A text value, up to its first zero unit and never past its node. A
// stored length of zero is an empty string, as the lookup answers.
std::u16string ReadText(const Walk &w, const Node &n) {
  std::u16string text;
  if (n.valueLength == 0 || n.valueStart >= n.end)
    return text;
  size_t available = n.end - n.valueStart;
  if (w.ansi) {
    for (size_t i = 0; i < available; ++i) {
      unsigned char b;
      if (!ReadAt(w.src, n.valueStart + i, &b, 1) || b == 0)
        break;
      text.push_back(static_cast<char16_t>(Cp1252ToUnicode(b)));
    }
    return text;
  }
  for (size_t i = 0; 2 * (i + 1) <= available; ++i) {
    uint16_t u;
    if (!ReadLe16(w.src, n.valueStart + 2 * i, &u) || u == 0)
      break;
    text.push_back(static_cast<char16_t>(u));
  }
  return text;
}

// Opens the walk at the root; false for a block too small to hold one.
bool StartWalk(ByteSource *src, const void *block, size_t blockSize, Walk *w,
               Node *root) {
  InitMemorySource(src, block, blockSize);
  uint16_t extent;
  unsigned char fifth;
  if (!ReadLe16(src, 0, &extent) || !ReadAt(src, 4, &fifth, 1))
    return false;
  w->src = src;
  // The byte at offset 4 is the first character of the key in the 16-bit
  // layout and the low byte of the type field otherwise.
  w->ansi = fifth >= 0x20;
  w->extent = extent < blockSize ? extent : blockSize;
  return ParseNode(*w, 0, w->extent, root);
}

// Follows a sub-block path from the root; the root itself when it is
// empty (atRoot is then set).
bool FollowPath(const Walk &w, const Node &root, const char *path, Node *node,
                bool *atRoot) {
  *node = root;
  *atRoot = true;
  const char *p = path;
  while (*p != '\0') {
    while (*p == '\\')
      ++p;
    const char *comp = p;
    while (*p != '\0' && *p != '\\')
      ++p;
    size_t compLen = static_cast<size_t>(p - comp);
    if (compLen == 0)
      break;
    Node child;
    if (!FindChild(w, *node, comp, compLen, &child))
      return false;
    *node = child;
    *atRoot = false;
  }
  return true;
}

} // namespace

bool ListVersionStrings(const void *block, size_t blockSize,
                        uint32_t translation, std::vector<VersionString> *out) {
  out->clear();
  ByteSource src;
  Walk w;
  Node root;
  if (block == nullptr || !StartWalk(&src, block, blockSize, &w, &root))
    return false;
  char path[32];
  snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x",
           static_cast<unsigned>(translation & 0xFFFFu),
           static_cast<unsigned>(translation >> 16));
  Node table;
  bool atRoot;
  if (!FollowPath(w, root, path, &table, &atRoot))
    return false;
  size_t pos = table.childStart;
  while (pos < table.end) {
    Node child;
    // A malformed entry ends the table, as it ends the lookup's search.
    if (!ParseNode(w, pos, table.end, &child))
      break;
    VersionString entry;
    entry.key = ReadKey(w, child);
    entry.value = ReadText(w, child);
    out->push_back(entry);
    uint16_t length;
    if (!ReadLe16(w.src, pos, &length))
      break;
    pos += Align4(length);
  }
  return true;
}

bool QueryVersionText(const void *block, size_t blockSize, const char *subBlock,
                      std::u16string *out) {
  out->clear();
  ByteSource src;
  Walk w;
  Node root, node;
  bool atRoot;
  if (block == nullptr || !StartWalk(&src, block, blockSize, &w, &root) ||
      !FollowPath(w, root, subBlock == nullptr ? "" : subBlock, &node,
                  &atRoot) ||
      atRoot)
    return false;
  *out = ReadText(w, node);
  return true;
}
