#include "version_block.h"

#include <string.h>

#include <string>

#include "byte_source.h"
#include "codepage1252.h"
#include "exe_locate.h"
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
  src->readFailed = false;
  // A resource of one byte, at the file's end, has no length field.
  uint16_t blockLength = 0;
  bool read = ReadLe16(src, res.offset + kNodeLength, &blockLength);
  unsigned long size =
      read ? VersionBufferSize(res.format, res.size, blockLength) : 0;
  if (why != nullptr)
    *why = size != 0         ? kReasonNone
           : src->readFailed ? kReasonReadFailed
                             : kReasonBlockTooShort;
  return size;
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
  size_t extent;
  bool ansi;
  ByteSource src;
};

bool OpenTree(unsigned char *block, Tree *t) {
  ByteSource header;
  InitMemorySource(&header, block, kBlockHeader);
  if (!ReadBlockHeader(&header, &t->extent, &t->ansi))
    return false;
  t->block = block;
  InitMemorySource(&t->src, block, t->extent);
  return true;
}

// What a query that ends at node answers.
bool Answer(Tree *t, const VersionNode &node, bool atRoot,
            unsigned char **value, unsigned *length) {
  unsigned char *block = t->block;
  size_t extent = t->extent;
  bool ansi = t->ansi;
  *length = 0;
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
  // all, so measure the string itself, up to its first zero unit. The copy
  // goes to the spare area at the same distance past the tree's end as the
  // string lies from its start; one byte per unit, it ends inside the
  // 2 * extent + 4 bytes the buffer holds.
  ByteSource *b = &t->src;
  unsigned char *out = block + extent + 4 + node.valueStart;
  size_t units = 0;
  if (node.valueLength != 0) {
    uint64_t end = node.valueStart + (available & ~static_cast<size_t>(1));
    uint64_t zero;
    size_t count =
        static_cast<size_t>(
            (FindZeroUnit(b, node.valueStart, end, 2, &zero) ? zero : end) -
            node.valueStart) /
        2;
    unsigned char chunk[128];
    while (units < count) {
      size_t step = count - units;
      if (step > sizeof chunk / 2)
        step = sizeof chunk / 2;
      if (!ReadAt(b, node.valueStart + 2 * units, chunk, 2 * step))
        break;
      for (size_t i = 0; i < step; ++i) {
        uint16_t unit = Le16(chunk + 2 * i);
        out[units++] = unit < 0x80 ? static_cast<unsigned char>(unit)
                                   : UnicodeToCp1252(unit);
      }
    }
  }
  if (units == 0) {
    // An empty string: the key's terminator serves as one.
    *value = (block + node.keyEnd - 2);
    return true;
  }
  out[units] = 0;
  *value = out;
  *length = static_cast<unsigned>(units + 1);
  return true;
}

} // namespace

bool QueryVersionBlock(unsigned char *block, const char *subBlock,
                       unsigned char **value, unsigned *length) {
  *length = 0;
  Tree t;
  VersionNode node;
  if (!OpenTree(block, &t) ||
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
  if (count > kMaxQueryValues) {
    // A pass at a time, in the order of the names.
    QueryVersionValues(block, parentPath, names, kMaxQueryValues, values,
                       lengths, found);
    QueryVersionValues(block, parentPath, names + kMaxQueryValues,
                       count - kMaxQueryValues, values + kMaxQueryValues,
                       lengths + kMaxQueryValues, found + kMaxQueryValues);
    return;
  }
  // A name that is empty or has components of its own takes a walk of its
  // own.
  bool oneStep[kMaxQueryValues];
  size_t nameLengths[kMaxQueryValues];
  size_t left = 0;
  for (size_t i = 0; i < count; ++i) {
    found[i] = false;
    lengths[i] = 0;
    nameLengths[i] = strlen(names[i]);
    oneStep[i] = nameLengths[i] != 0 &&
                 memchr(names[i], '\\', nameLengths[i]) == nullptr;
    left += oneStep[i] ? 1 : 0;
  }
  Tree t;
  VersionNode parent;
  bool atRoot = true;
  bool walked = OpenTree(block, &t) &&
                ParseVersionNode(&t.src, 0, t.extent, t.ansi, &parent) &&
                FollowVersionPath(&t.src, t.ansi, parentPath, &parent, &atRoot);
  // One pass over the children: each name takes the first child whose key
  // it matches, and a child that cannot be read ends the pass for every
  // name not matched before it, as it ends each name's own walk.
  VersionNode matched[kMaxQueryValues];
  size_t pos = walked ? parent.childStart : 0;
  VersionNode child;
  while (walked && left != 0 && pos < parent.end &&
         ParseVersionNode(&t.src, pos, parent.end, t.ansi, &child)) {
    for (size_t i = 0; i < count; ++i)
      if (oneStep[i] && !found[i] &&
          VersionKeyEquals(&t.src, child, t.ansi, names[i], nameLengths[i])) {
        matched[i] = child;
        found[i] = true;
        --left;
      }
    pos += Align4(child.end - child.start);
  }
  // The answers in the order of the names, as separate queries would
  // write their copies.
  for (size_t i = 0; i < count; ++i) {
    if (oneStep[i]) {
      if (found[i])
        found[i] = Answer(&t, matched[i], false, &values[i], &lengths[i]);
      continue;
    }
    std::string path = parentPath == nullptr ? "" : parentPath;
    path += '\\';
    path += names[i];
    found[i] = QueryVersionBlock(block, path.c_str(), &values[i], &lengths[i]);
  }
}
