#include "version_strings.h"

#include <utility>

#include "byte_source.h"
#include "codepage1252.h"

namespace {

inline size_t Align4(size_t x) { return (x + 3) & ~static_cast<size_t>(3); }

struct Node {
  size_t start;
  size_t length;      // as stored: the next sibling is this far on, aligned
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
  unsigned char head[6];
  if (!ReadAt(w.src, off, head, header))
    return false;
  size_t length = Le16(head);
  if (length < header)
    return false;
  n->start = off;
  n->length = length;
  n->end = length < limit - off ? off + length : limit;
  n->valueLength = Le16(head + 2);
  n->text = !w.ansi && Le16(head + 4) != 0;
  // The key's terminator, looked for a chunk at a time.
  size_t unit = w.ansi ? 1 : 2;
  size_t pos = off + header;
  unsigned char chunk[64];
  for (;;) {
    size_t len = n->end - pos < sizeof chunk ? n->end - pos : sizeof chunk;
    len -= len % unit;
    if (len == 0 || !ReadAt(w.src, pos, chunk, len))
      return false;
    for (size_t i = 0; i < len; i += unit)
      if (chunk[i] == 0 && (unit == 1 || chunk[i + 1] == 0)) {
        n->keyEnd = pos + i + unit;
        n->valueStart = Align4(n->keyEnd);
        n->childStart =
            Align4(n->valueStart + n->valueLength * (n->text ? 2 : 1));
        return true;
      }
    pos += len;
  }
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

// Appends the units of [from, to) to out, read through the cursor in
// chunks; a 16-bit block's bytes through code page 1252. Stops at the
// first zero unit when stopAtZero is set.
void AppendUnits(const Walk &w, size_t from, size_t to, bool stopAtZero,
                 std::u16string *out) {
  unsigned char chunk[256];
  char16_t units[256];
  while (from < to) {
    size_t len = to - from < sizeof chunk ? to - from : sizeof chunk;
    if (!w.ansi)
      len &= ~static_cast<size_t>(1);
    if (len == 0 || !ReadAt(w.src, from, chunk, len))
      return;
    size_t n = 0;
    bool stopped = false;
    if (w.ansi) {
      for (size_t i = 0; i < len && !stopped; ++i) {
        if (stopAtZero && chunk[i] == 0)
          stopped = true;
        else
          units[n++] = static_cast<char16_t>(Cp1252ToUnicode(chunk[i]));
      }
    } else {
      for (size_t i = 0; i < len && !stopped; i += 2) {
        char16_t unit = static_cast<char16_t>(chunk[i] | (chunk[i + 1] << 8));
        if (stopAtZero && unit == 0)
          stopped = true;
        else
          units[n++] = unit;
      }
    }
    out->append(units, n);
    if (stopped)
      return;
    from += len;
  }
}

// The key of a node as UTF-16, without its terminator.
std::u16string ReadKey(const Walk &w, const Node &n) {
  std::u16string key;
  size_t unit = w.ansi ? 1 : 2;
  AppendUnits(w, n.start + (w.ansi ? 4 : 6), n.keyEnd - unit, false, &key);
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
  unsigned char key[128];
  if (compLen * unit > sizeof key)
    return false; // longer than any name a lookup asks for
  if (!ReadAt(w.src, n.start + header, key, compLen * unit))
    return false;
  for (size_t i = 0; i < compLen; ++i) {
    unsigned char c = static_cast<unsigned char>(comp[i]);
    char16_t have =
        w.ansi ? key[i]
               : static_cast<char16_t>(key[2 * i] | (key[2 * i + 1] << 8));
    char16_t want = w.ansi ? c : static_cast<char16_t>(Cp1252ToUnicode(c));
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
    // ParseNode made sure the length is at least a header: the walk moves.
    pos += Align4(child->length);
  }
  return false;
}

// A text value, up to its first zero unit and never past its node. A
// stored length of zero is an empty string, as the lookup answers.
std::u16string ReadText(const Walk &w, const Node &n) {
  std::u16string text;
  if (n.valueLength == 0 || n.valueStart >= n.end)
    return text;
  AppendUnits(w, n.valueStart, n.end, true, &text);
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
  // The table key as the report composes it: lowercase hexadecimal.
  static const char kHex[] = "0123456789abcdef";
  char key[9];
  for (int i = 0; i < 4; ++i) {
    key[i] = kHex[(translation >> (12 - 4 * i)) & 0xF];
    key[4 + i] = kHex[(translation >> (28 - 4 * i)) & 0xF];
  }
  key[8] = '\0';
  Node info, table;
  if (!FindChild(w, root, "StringFileInfo", 14, &info) ||
      !FindChild(w, info, key, 8, &table))
    return false;
  // Tables hold about a dozen strings: room for them without regrowing.
  out->reserve(16);
  size_t pos = table.childStart;
  while (pos < table.end) {
    Node child;
    // A malformed entry ends the table, as it ends the lookup's search.
    if (!ParseNode(w, pos, table.end, &child))
      break;
    VersionString entry;
    entry.key = ReadKey(w, child);
    entry.value = ReadText(w, child);
    out->push_back(std::move(entry));
    pos += Align4(child.length);
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
