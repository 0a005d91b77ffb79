#include "version_block.h"

#include <string.h>

#include <string>

#include "byte_source.h"
#include "codepage1252.h"
#include "exe_locate.h"
#include "unicode_text.h"
#include "version_walk.h"

namespace {

// Every block that PrepareVersionBlock accepts holds at least the root's
// length, value length and type fields.
const size_t kBlockHeader = kUnicodeNodeHeader;

} // namespace

bool IsAnsiBlock(const unsigned char *block) {
  ByteSource header;
  InitMemorySource(&header, block, kBlockHeader);
  size_t extent;
  bool ansi = false;
  ReadBlockHeader(&header, &extent, &ansi);
  return ansi;
}

unsigned long VersionBufferSize(int format, unsigned long resourceSize,
                                unsigned blockLength) {
  if (format == kImagePe)
    return resourceSize * 2 + 4;
  const unsigned kFixedPart = kFixedRecordSize;
  return blockLength > kFixedPart ? (blockLength - kFixedPart) * 4ul : 0;
}

unsigned long VersionBufferSizeOf(ByteSource *src, const VersionResource &res,
                                  NoVersionReason *why) {
  uint32_t failed = src->failedReads;
  // A resource of one byte, at the file's end, has no length field.
  uint16_t blockLength = 0;
  bool read = ReadLe16(src, res.offset + kNodeLength, &blockLength);
  unsigned long size =
      read ? VersionBufferSize(res.format, res.size, blockLength) : 0;
  if (why != nullptr)
    *why = size != 0                    ? kReasonNone
           : src->failedReads != failed ? kReasonReadFailed
                                        : kReasonBlockTooShort;
  return size;
}

NoVersionReason ReadVersionBlock(ByteSource *src, const VersionResource &res,
                                 unsigned char *buffer, size_t length) {
  size_t copied = res.size < length ? res.size : length;
  if (!ReadAt(src, res.offset, buffer, copied))
    return kReasonReadFailed; // located inside the file: the file failed
  return PrepareVersionBlock(buffer, length, copied) ? kReasonNone
                                                     : kReasonBlockTooShort;
}

bool PrepareVersionBlock(unsigned char *buffer, size_t length, size_t copied) {
  if (copied > length)
    copied = length;
  memset(buffer + copied, 0, length - copied);
  if (length < 8)
    return false;
  ByteSource raw;
  InitMemorySource(&raw, buffer, copied);
  size_t extent;
  bool ansi;
  if (!ReadBlockHeader(&raw, &extent, &ansi))
    return false;
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

namespace {

// A block's tree, read only up to its extent: the rest of the buffer is
// the terminator or the spare area that the queries write.
struct Tree {
  unsigned char *block;
  size_t capacity; // bytes of the buffer, spare area and all
  size_t extent;
  bool ansi;
  ByteSource src;
};

bool OpenTree(unsigned char *block, size_t capacity, Tree *t) {
  if (capacity < kBlockHeader)
    return false;
  ByteSource header;
  InitMemorySource(&header, block, kBlockHeader);
  if (!ReadBlockHeader(&header, &t->extent, &t->ansi) || t->extent > capacity)
    return false;
  t->block = block;
  t->capacity = capacity;
  InitMemorySource(&t->src, block, t->extent);
  return true;
}

// The fixed record at the root: the caller reads a whole VS_FIXEDFILEINFO
// from the value, which may run into the spare area but not past the
// buffer.
bool AnswerRoot(Tree *t, const VersionNode &node, unsigned char **value,
                unsigned *length) {
  size_t readable = t->ansi ? t->extent : 2 * t->extent + 4;
  if (readable > t->capacity)
    readable = t->capacity;
  if (node.valueStart > readable ||
      readable - node.valueStart < kFixedRecordSize)
    return false;
  *value = t->block + node.valueStart;
  *length = static_cast<unsigned>(node.valueLength);
  return true;
}

// A text value's code page 1252 copy, written to the spare area at the same
// distance past the tree's end as the string lies from its start: one byte
// per unit and a zero, cut where the buffer ends. Its stored length may
// count units, bytes, or nothing at all, so the string itself is measured,
// up to its first zero unit. Returns the units copied.
size_t CopyText(Tree *t, const VersionNode &node, size_t available,
                unsigned char **out) {
  size_t at = t->extent + 4 + node.valueStart;
  if (node.valueLength == 0 || at >= t->capacity)
    return 0;
  *out = t->block + at;
  size_t room = t->capacity - at - 1; // the zero after the copy
  ByteSource *b = &t->src;
  uint64_t end = node.valueStart + (available & ~static_cast<size_t>(1));
  uint64_t zero;
  size_t count =
      static_cast<size_t>(
          (FindZeroUnit(b, node.valueStart, end, 2, &zero) ? zero : end) -
          node.valueStart) /
      2;
  if (count > room)
    count = room;
  // The tree is in memory: the units are read where they lie.
  const unsigned char *from = ViewAt(b, node.valueStart, 2 * count);
  if (from == nullptr)
    return 0;
  size_t units = PackAsciiUnits(from, count, *out);
  for (; units < count; ++units) {
    uint16_t unit = Le16(from + 2 * units);
    (*out)[units] =
        unit < 0x80 ? static_cast<unsigned char>(unit) : UnicodeToCp1252(unit);
  }
  if (units > 0)
    (*out)[units] = 0;
  return units;
}

// What a query that ends at node answers.
bool Answer(Tree *t, const VersionNode &node, bool atRoot,
            unsigned char **value, unsigned *length) {
  unsigned char *block = t->block;
  bool ansi = t->ansi;
  *length = 0;
  if (atRoot)
    return AnswerRoot(t, node, value, length);

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

  unsigned char *out = nullptr;
  size_t units = CopyText(t, node, available, &out);
  if (units == 0) {
    // An empty string: the key's terminator serves as one.
    *value = (block + node.keyEnd - 2);
    return true;
  }
  *value = out;
  *length = static_cast<unsigned>(units + 1);
  return true;
}

// One pass over a node's children: each name takes the first child whose
// key it matches, and a child that cannot be read ends the pass for every
// name not matched before it, as it ends each name's own walk. left counts
// the names still to find.
void MatchChildren(Tree *t, const VersionNode &parent, const char *const *names,
                   const size_t *nameLengths, const bool *oneStep, size_t count,
                   size_t left, VersionNode *matched, bool *found) {
  size_t pos = parent.childStart;
  VersionNode child;
  while (left != 0 && pos < parent.end &&
         ParseVersionNode(&t->src, pos, parent.end, t->ansi, &child)) {
    size_t keyLength = KeyLength(child, t->ansi);
    for (size_t i = 0; i < count; ++i)
      if (oneStep[i] && !found[i] && nameLengths[i] == keyLength &&
          VersionKeyEquals(&t->src, child, t->ansi, names[i], nameLengths[i])) {
        matched[i] = child;
        found[i] = true;
        --left;
      }
    pos += Align4(child.end - child.start);
  }
}

// The answers for names among the children of parent (null: the path to
// it names nothing), in the order of the names, as separate queries of
// parentPath + "\\" + name would write their copies, in a block of
// capacity bytes. A name that is empty or has components of its own takes
// a walk of its own, from the root; parentTail, when not null, is one more
// component of the parent's path.
void AnswerChildren(Tree *t, const VersionNode *parent, unsigned char *block,
                    size_t capacity, const char *parentPath,
                    const char *parentTail, const char *const *names,
                    size_t count, unsigned char **values, unsigned *lengths,
                    bool *found) {
  // The callers take the names a pass of kMaxQueryValues at a time.
  if (count > kMaxQueryValues)
    count = kMaxQueryValues;
  bool oneStep[kMaxQueryValues];
  size_t nameLengths[kMaxQueryValues];
  size_t left = 0;
  for (size_t i = 0; i < count; ++i) {
    found[i] = false;
    lengths[i] = 0;
    // Measured and searched for a separator in one pass: names are a
    // word or two long.
    size_t n = 0;
    bool separator = false;
    for (const char *c = names[i]; *c != '\0'; ++c, ++n)
      separator = separator || *c == '\\';
    nameLengths[i] = n;
    oneStep[i] = n != 0 && !separator;
    left += oneStep[i] ? 1 : 0;
  }
  VersionNode matched[kMaxQueryValues];
  if (parent != nullptr)
    MatchChildren(t, *parent, names, nameLengths, oneStep, count, left, matched,
                  found);
  for (size_t i = 0; i < count; ++i) {
    if (oneStep[i]) {
      if (found[i])
        found[i] = Answer(t, matched[i], false, &values[i], &lengths[i]);
      continue;
    }
    std::string path = parentPath == nullptr ? "" : parentPath;
    if (parentTail != nullptr) {
      path += '\\';
      path += parentTail;
    }
    path += '\\';
    path += names[i];
    found[i] = QueryVersionBlockIn(block, capacity, path.c_str(), &values[i],
                                   &lengths[i]);
  }
}

} // namespace

size_t VersionBlockCapacity(const unsigned char *block) {
  ByteSource header;
  InitMemorySource(&header, block, kBlockHeader);
  size_t extent;
  bool ansi;
  if (!ReadBlockHeader(&header, &extent, &ansi))
    return 0;
  return ansi ? extent + 1 : 2 * extent + 4;
}

bool QueryVersionBlock(unsigned char *block, const char *subBlock,
                       unsigned char **value, unsigned *length) {
  return QueryVersionBlockIn(block, VersionBlockCapacity(block), subBlock,
                             value, length);
}

bool QueryVersionBlockIn(unsigned char *block, size_t capacity,
                         const char *subBlock, unsigned char **value,
                         unsigned *length) {
  *length = 0;
  Tree t;
  VersionNode node;
  if (!OpenTree(block, capacity, &t) ||
      !ParseVersionNode(&t.src, 0, t.extent, t.ansi, &node))
    return false;
  bool atRoot = true;
  return FollowVersionPath(&t.src, t.ansi, subBlock, &node, &atRoot) &&
         Answer(&t, node, atRoot, value, length);
}

void QueryVersionValues(unsigned char *block, const char *parentPath,
                        const char *const *names, size_t count,
                        unsigned char **values, unsigned *lengths,
                        bool *found) {
  QueryVersionValuesIn(block, VersionBlockCapacity(block), parentPath, names,
                       count, values, lengths, found);
}

void QueryVersionValuesIn(unsigned char *block, size_t capacity,
                          const char *parentPath, const char *const *names,
                          size_t count, unsigned char **values,
                          unsigned *lengths, bool *found) {
  if (count > kMaxQueryValues) {
    // A pass at a time, in the order of the names.
    QueryVersionValuesIn(block, capacity, parentPath, names, kMaxQueryValues,
                         values, lengths, found);
    QueryVersionValuesIn(block, capacity, parentPath, names + kMaxQueryValues,
                         count - kMaxQueryValues, values + kMaxQueryValues,
                         lengths + kMaxQueryValues, found + kMaxQueryValues);
    return;
  }
  Tree t;
  VersionNode parent;
  bool atRoot = true;
  bool walked = OpenTree(block, capacity, &t) &&
                ParseVersionNode(&t.src, 0, t.extent, t.ansi, &parent) &&
                FollowVersionPath(&t.src, t.ansi, parentPath, &parent, &atRoot);
  AnswerChildren(&t, walked ? &parent : nullptr, block, capacity, parentPath,
                 nullptr, names, count, values, lengths, found);
}

void LookUpReportRoot(unsigned char *block, ReportRoot *out) {
  *out = ReportRoot();
  Tree t;
  VersionNode root;
  if (!OpenTree(block, VersionBlockCapacity(block), &t) ||
      !ParseVersionNode(&t.src, 0, t.extent, t.ansi, &root))
    return;
  unsigned ignored;
  out->hasFixed = AnswerRoot(&t, root, &out->fixed, &ignored);
  // Each path's first component takes the first child of its name, as
  // each path's own walk would.
  static const char *const kTops[] = {"VarFileInfo", "StringFileInfo"};
  static const size_t kTopLengths[] = {11, 14};
  static const bool kOneStep[] = {true, true};
  VersionNode tops[2];
  bool found[2] = {false, false};
  MatchChildren(&t, root, kTops, kTopLengths, kOneStep, 2, 2, tops, found);
  VersionNode translation;
  if (found[0] && FindVersionChild(&t.src, tops[0], t.ansi, "Translation", 11,
                                   &translation))
    out->hasTranslation = Answer(&t, translation, false, &out->translation,
                                 &out->translationLength);
  if (found[1]) {
    out->hasTables = true;
    out->tablesStart = tops[1].childStart;
    out->tablesEnd = tops[1].end;
  }
}

void QueryTableValuesIn(unsigned char *block, size_t capacity,
                        const ReportRoot &root, const char *table,
                        const char *const *names, size_t count,
                        unsigned char **values, unsigned *lengths,
                        bool *found) {
  if (count > kMaxQueryValues) {
    QueryTableValuesIn(block, capacity, root, table, names, kMaxQueryValues,
                       values, lengths, found);
    QueryTableValuesIn(block, capacity, root, table, names + kMaxQueryValues,
                       count - kMaxQueryValues, values + kMaxQueryValues,
                       lengths + kMaxQueryValues, found + kMaxQueryValues);
    return;
  }
  Tree t;
  VersionNode tables = VersionNode();
  tables.childStart = root.tablesStart;
  tables.end = root.tablesEnd;
  VersionNode parent;
  bool walked =
      root.hasTables && OpenTree(block, capacity, &t) &&
      root.tablesEnd <= t.extent &&
      FindVersionChild(&t.src, tables, t.ansi, table, strlen(table), &parent);
  AnswerChildren(&t, walked ? &parent : nullptr, block, capacity,
                 "\\StringFileInfo", table, names, count, values, lengths,
                 found);
}
