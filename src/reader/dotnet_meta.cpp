#include "dotnet_meta.h"

#include <string.h>

#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "dotnet_layout.h"
#include "exe_layout.h"
#include "pe_image.h"

namespace {

// What a column holds, and so how wide it is in this file.
enum ColumnKind : uint8_t {
  kFixed2,  // a 2-byte constant (or a 1-byte one and its padding)
  kFixed4,  // a 4-byte constant
  kString,  // a #Strings offset
  kGuid,    // a #GUID index
  kBlob,    // a #Blob offset
  kRow,     // a row of the table `which`
  kCodedRef // a coded index of the kind `which`
};

struct Column {
  ColumnKind kind;
  uint8_t which;
};

enum CodedKind : uint8_t {
  kCodedTypeDefOrRef,
  kCodedHasConstant,
  kCodedHasCustomAttribute,
  kCodedHasFieldMarshal,
  kCodedHasDeclSecurity,
  kCodedMemberRefParent,
  kCodedHasSemantics,
  kCodedMethodDefOrRef,
  kCodedMemberForwarded,
  kCodedImplementation,
  kCodedCustomAttributeType,
  kCodedResolutionScope,
  kCodedTypeOrMethodDef,
  kCodedKindCount
};

const uint8_t kNoTable = 0xFF; // a tag no table takes

// A coded index's tag bits and the table each tag names (II.24.2.6).
struct CodedIndex {
  uint8_t bits;
  uint8_t count;
  uint8_t tables[22];
};

const CodedIndex kCodedIndexes[kCodedKindCount] = {
    {2, 3, {0x02, 0x01, 0x1B}},
    {2, 3, {0x04, 0x08, 0x17}},
    {5, 22, {0x06, 0x04, 0x01, 0x02, 0x08, 0x09, 0x0A, 0x00, 0x0E, 0x17, 0x14,
             0x11, 0x1A, 0x1B, 0x20, 0x23, 0x26, 0x27, 0x28, 0x2A, 0x2C, 0x2B}},
    {1, 2, {0x04, 0x08}},
    {2, 3, {0x02, 0x06, 0x20}},
    {3, 5, {0x02, 0x01, 0x1A, 0x06, 0x1B}},
    {1, 2, {0x14, 0x17}},
    {1, 2, {0x06, 0x0A}},
    {1, 2, {0x04, 0x06}},
    {2, 3, {0x26, 0x23, 0x27}},
    {3, 5, {kNoTable, kNoTable, 0x06, 0x0A, kNoTable}},
    {2, 4, {0x00, 0x1A, 0x23, 0x01}},
    {1, 2, {0x02, 0x06}},
};

const unsigned kMaxColumns = 9;

struct TableSchema {
  uint8_t count;
  Column columns[kMaxColumns];
};

constexpr Column F2 = {kFixed2, 0};
constexpr Column F4 = {kFixed4, 0};
constexpr Column S = {kString, 0};
constexpr Column G = {kGuid, 0};
constexpr Column B = {kBlob, 0};
constexpr Column R(uint8_t table) { return {kRow, table}; }
constexpr Column C(CodedKind kind) { return {kCodedRef, kind}; }

// Every table up to GenericParamConstraint, in number order (II.22): the
// tables lie one after the other, so each one before a table read must be
// sized to find it.
const TableSchema kSchemas[kTableKnownCount] = {
    {5, {F2, S, G, G, G}},                                    // 0x00 Module
    {3, {C(kCodedResolutionScope), S, S}},                    // 0x01 TypeRef
    {6, {F4, S, S, C(kCodedTypeDefOrRef), R(0x04), R(0x06)}}, // 0x02 TypeDef
    {1, {R(0x04)}},                                           // 0x03 FieldPtr
    {3, {F2, S, B}},                                          // 0x04 Field
    {1, {R(0x06)}},                                           // 0x05 MethodPtr
    {6, {F4, F2, F2, S, B, R(0x08)}},                         // 0x06 MethodDef
    {1, {R(0x08)}},                                           // 0x07 ParamPtr
    {3, {F2, F2, S}},                                         // 0x08 Param
    {2, {R(0x02), C(kCodedTypeDefOrRef)}}, // 0x09 InterfaceImpl
    {3, {C(kCodedMemberRefParent), S, B}}, // 0x0A MemberRef
    {3, {F2, C(kCodedHasConstant), B}},    // 0x0B Constant
    {3, {C(kCodedHasCustomAttribute), C(kCodedCustomAttributeType), B}}, // 0x0C
    {2, {C(kCodedHasFieldMarshal), B}},        // 0x0D FieldMarshal
    {3, {F2, C(kCodedHasDeclSecurity), B}},    // 0x0E DeclSecurity
    {3, {F2, F4, R(0x02)}},                    // 0x0F ClassLayout
    {2, {F4, R(0x04)}},                        // 0x10 FieldLayout
    {1, {B}},                                  // 0x11 StandAloneSig
    {2, {R(0x02), R(0x14)}},                   // 0x12 EventMap
    {1, {R(0x14)}},                            // 0x13 EventPtr
    {3, {F2, S, C(kCodedTypeDefOrRef)}},       // 0x14 Event
    {2, {R(0x02), R(0x17)}},                   // 0x15 PropertyMap
    {1, {R(0x17)}},                            // 0x16 PropertyPtr
    {3, {F2, S, B}},                           // 0x17 Property
    {3, {F2, R(0x06), C(kCodedHasSemantics)}}, // 0x18 MethodSemantics
    {3,
     {R(0x02), C(kCodedMethodDefOrRef),
      C(kCodedMethodDefOrRef)}},                     // 0x19 MethodImpl
    {1, {S}},                                        // 0x1A ModuleRef
    {1, {B}},                                        // 0x1B TypeSpec
    {4, {F2, C(kCodedMemberForwarded), S, R(0x1A)}}, // 0x1C ImplMap
    {2, {F4, R(0x04)}},                              // 0x1D FieldRVA
    {2, {F4, F4}},                                   // 0x1E EncLog
    {1, {F4}},                                       // 0x1F EncMap
    {9, {F4, F2, F2, F2, F2, F4, B, S, S}},          // 0x20 Assembly
    {1, {F4}},                                       // 0x21 AssemblyProcessor
    {3, {F4, F4, F4}},                               // 0x22 AssemblyOS
    {9, {F2, F2, F2, F2, F4, B, S, S, B}},           // 0x23 AssemblyRef
    {2, {F4, R(0x23)}},                           // 0x24 AssemblyRefProcessor
    {4, {F4, F4, F4, R(0x23)}},                   // 0x25 AssemblyRefOS
    {3, {F4, S, B}},                              // 0x26 File
    {5, {F4, F4, S, S, C(kCodedImplementation)}}, // 0x27 ExportedType
    {4, {F4, F4, S, C(kCodedImplementation)}},    // 0x28 ManifestResource
    {2, {R(0x02), R(0x02)}},                      // 0x29 NestedClass
    {4, {F2, F2, C(kCodedTypeOrMethodDef), S}},   // 0x2A GenericParam
    {2, {C(kCodedMethodDefOrRef), B}},            // 0x2B MethodSpec
    {2, {R(0x2A), C(kCodedTypeDefOrRef)}},        // 0x2C GenericParamConstraint
};

// A heap's place in the file; size 0 when the file has none.
struct Heap {
  uint64_t offset;
  uint32_t size;
};

// Where each table lies in this file and how its rows are laid out.
struct Tables {
  uint32_t rows[64];
  uint64_t sorted; // the header's Sorted bits
  uint64_t start[kTableKnownCount];
  bool inside[kTableKnownCount]; // every row lies inside the stream
  uint8_t rowSize[kTableKnownCount];
  uint8_t offset[kTableKnownCount][kMaxColumns];
  uint8_t width[kTableKnownCount][kMaxColumns];
};

// What an attribute constructor was found to be, kept so that the rows
// that share one (a file may hold a million) resolve it once: none of the
// attributes reported, or the string constructor of the one in `which`.
enum CtorKind : uint8_t { kCtorUnseen, kCtorOther, kCtorString };

struct CtorMemo {
  uint32_t value; // the CustomAttributeType cell
  uint8_t kind;   // a CtorKind
  uint8_t which;  // a DotnetAttribute, for kCtorString
};

// Direct-mapped by the cell's value: a file's attributes use a handful of
// constructors, and a miss costs only the bounded resolution again.
const size_t kCtorMemos = 256;
const unsigned kCtorMemoShift = 24; // 32 bits less log2(kCtorMemos)
static_assert(kCtorMemos == size_t{1} << (32 - kCtorMemoShift),
              "the memo's slots and its hash agree");

struct Meta {
  ByteSource *src;
  uint32_t failedBefore; // src->failedReads when the walk began
  DotnetInfo *info;
  Heap strings;
  Heap blob;
  Tables tables;
  // What the identities may still take from the heaps
  // (kDotnetMaxIdentityBytes to begin with).
  uint64_t identityBytesLeft;
  CtorMemo ctors[kCtorMemos];
  // Reused for every attribute row, so that rows of attributes not
  // reported cost no allocation.
  std::string scratchName;
  std::string scratchSpace;
  std::vector<unsigned char> scratchBlob;
};

// Keeps the first thing found wrong.
void Note(DotnetInfo *info, DotnetMalformed why) {
  if (info->malformed == kDotnetWellFormed)
    info->malformed = why;
}

uint64_t Le64(const unsigned char *p) {
  return uint64_t{Le32(p)} | (uint64_t{Le32(p + 4)} << 32);
}

unsigned ColumnWidth(const Tables &t, const uint8_t heapSizes, Column c) {
  switch (c.kind) {
  case kFixed2:
    return 2;
  case kFixed4:
    return 4;
  case kString:
    return (heapSizes & kHeapStringsWide) != 0 ? 4 : 2;
  case kGuid:
    return (heapSizes & kHeapGuidWide) != 0 ? 4 : 2;
  case kBlob:
    return (heapSizes & kHeapBlobWide) != 0 ? 4 : 2;
  case kRow:
    return t.rows[c.which] < 0x10000 ? 2 : 4;
  case kCodedRef: {
    // Two bytes while the largest table it may name leaves the tag room.
    const CodedIndex &coded = kCodedIndexes[c.which];
    uint32_t most = 0;
    for (unsigned i = 0; i < coded.count; ++i)
      if (coded.tables[i] != kNoTable && t.rows[coded.tables[i]] > most)
        most = t.rows[coded.tables[i]];
    return most < (1u << (16 - coded.bits)) ? 2 : 4;
  }
  }
  return 4;
}

// Reads the #~ stream's header and row counts, and places every table up
// to the last one that lies wholly inside the stream.
bool OpenTables(Meta *m, uint64_t offset, uint32_t size) {
  Tables &t = m->tables;
  unsigned char header[kTablesRows];
  if (size < sizeof header || !ReadAt(m->src, offset, header, sizeof header)) {
    Note(m->info, kDotnetTablesTruncated);
    return false;
  }
  uint8_t heapSizes = header[kTablesHeapSizes];
  uint64_t valid = Le64(header + kTablesValid);
  t.sorted = Le64(header + kTablesSorted);
  uint64_t pos = kTablesRows;
  for (unsigned id = 0; id < 64; ++id) {
    t.rows[id] = 0;
    if ((valid >> id & 1) == 0)
      continue;
    if (pos + 4 > size || !ReadLe32(m->src, offset + pos, &t.rows[id])) {
      Note(m->info, kDotnetTablesTruncated);
      return false;
    }
    pos += 4;
  }
  if ((heapSizes & kHeapExtraData) != 0)
    pos += 4;
  if (pos > size) {
    Note(m->info, kDotnetTablesTruncated);
    return false;
  }
  m->info->hasTables = true;
  bool inside = true;
  for (unsigned id = 0; id < kTableKnownCount; ++id) {
    const TableSchema &schema = kSchemas[id];
    unsigned rowSize = 0;
    for (unsigned c = 0; c < schema.count; ++c) {
      unsigned width = ColumnWidth(t, heapSizes, schema.columns[c]);
      t.offset[id][c] = static_cast<uint8_t>(rowSize);
      t.width[id][c] = static_cast<uint8_t>(width);
      rowSize += width;
    }
    t.rowSize[id] = static_cast<uint8_t>(rowSize);
    t.start[id] = offset + pos;
    // At most 2^32 rows of at most 36 bytes: no overflow in 64 bits.
    uint64_t bytes = uint64_t{t.rows[id]} * rowSize;
    if (inside && bytes > size - pos) {
      // Every table from here on starts past the stream's end.
      Note(m->info, kDotnetTableOutside);
      inside = false;
    }
    t.inside[id] = inside;
    if (inside)
      pos += bytes;
  }
  return true;
}

// One cell of a row (rows count from 1), as a number.
bool ReadCell(Meta *m, unsigned table, uint32_t row, unsigned column,
              uint32_t *value) {
  const Tables &t = m->tables;
  if (table >= kTableKnownCount || column >= kSchemas[table].count)
    return false; // no such cell in any file
  if (row == 0 || row > t.rows[table]) {
    Note(m->info, kDotnetBadIndex);
    return false;
  }
  if (!t.inside[table])
    return false; // noted when the tables were placed
  uint64_t at = t.start[table] + uint64_t{row - 1} * t.rowSize[table] +
                t.offset[table][column];
  unsigned char bytes[4];
  unsigned width = t.width[table][column];
  if (!ReadAt(m->src, at, bytes, width))
    return false;
  *value = width == 2 ? Le16(bytes) : Le32(bytes);
  return true;
}

// A coded index's table and row; false (noted) for a tag that names no
// table or a row past that table's end or the null row.
bool DecodeCoded(Meta *m, CodedKind kind, uint32_t value, unsigned *table,
                 uint32_t *row) {
  const CodedIndex &coded = kCodedIndexes[kind];
  uint32_t tag = value & ((1u << coded.bits) - 1);
  *row = value >> coded.bits;
  if (tag >= coded.count || coded.tables[tag] == kNoTable || *row == 0 ||
      *row > m->tables.rows[coded.tables[tag]]) {
    Note(m->info, kDotnetBadIndex);
    return false;
  }
  *table = coded.tables[tag];
  return true;
}

// How a string at a #Strings offset ends, within the bytes looked at.
enum StringEnd {
  kStringEnded,   // at a zero
  kStringLonger,  // past the bytes the caller would look at
  kStringUnended, // the heap or the longest string ends first (noted), or
                  // the file could not be read
};

// Finds the zero that ends the string at a #Strings offset, looking at no
// more than `most` bytes before it: where the string lies and its length
// when it ends; *looked counts the bytes looked at either way. Offset 0 is
// the empty string, with or without a heap. Read a piece at a time where
// the bytes are in no window, up to the zero that a name's first piece
// nearly always holds.
StringEnd FindStringEnd(Meta *m, uint32_t index, uint32_t most, uint64_t *at,
                        uint32_t *length, uint64_t *looked) {
  *at = 0;
  *length = 0;
  *looked = 0;
  if (index == 0 && m->strings.size == 0)
    return kStringEnded;
  if (index >= m->strings.size) {
    Note(m->info, kDotnetBadString);
    return kStringUnended;
  }
  uint64_t pos = m->strings.offset + index;
  uint64_t heapEnd = m->strings.offset + m->strings.size;
  // A string that runs past kDotnetMaxString is as bad as one that runs
  // past the heap; one that runs past a shorter `most` only longer.
  uint64_t most64 = most < kDotnetMaxString ? most : kDotnetMaxString;
  uint64_t end = heapEnd - pos > most64 + 1 ? pos + most64 + 1 : heapEnd;
  bool cutByHeap = end == heapEnd || most64 == kDotnetMaxString;
  *at = pos;
  if (const unsigned char *view = ViewAt(m->src, pos, end - pos)) {
    // Metadata read whole, or the range in a window: found where it lies.
    const void *zero = memchr(view, 0, static_cast<size_t>(end - pos));
    if (zero != nullptr) {
      *length = static_cast<uint32_t>(static_cast<const unsigned char *>(zero) -
                                      view);
      *looked = *length + 1;
      return kStringEnded;
    }
    *looked = end - pos;
  } else {
    for (uint64_t from = pos; from < end;) {
      char piece[128];
      size_t n = end - from < sizeof piece ? static_cast<size_t>(end - from)
                                           : sizeof piece;
      if (!ReadAt(m->src, from, piece, n))
        return kStringUnended;
      const void *zero = memchr(piece, 0, n);
      if (zero != nullptr) {
        *length = static_cast<uint32_t>(
            from - pos +
            static_cast<size_t>(static_cast<const char *>(zero) - piece));
        *looked = *length + 1;
        return kStringEnded;
      }
      from += n;
      *looked = from - pos;
    }
  }
  if (!cutByHeap)
    return kStringLonger;
  Note(m->info, kDotnetBadString);
  return kStringUnended;
}

// Copies a string found by FindStringEnd.
bool CopyString(Meta *m, uint64_t at, uint32_t length, std::string *out) {
  out->resize(length);
  if (length != 0 && !ReadAt(m->src, at, &(*out)[0], length)) {
    out->clear();
    return false;
  }
  return true;
}

// The zero-ended string at a #Strings offset.
bool ReadHeapString(Meta *m, uint32_t index, std::string *out) {
  out->clear();
  uint64_t at, looked;
  uint32_t length;
  return FindStringEnd(m, index, kDotnetMaxString, &at, &length, &looked) ==
             kStringEnded &&
         CopyString(m, at, length, out);
}

// A cell that holds a #Strings offset, read as its string.
bool ReadStringCell(Meta *m, unsigned table, uint32_t row, unsigned column,
                    std::string *out) {
  uint32_t index;
  out->clear();
  return ReadCell(m, table, row, column, &index) &&
         ReadHeapString(m, index, out);
}

// A cell's string when it is no longer than `most` bytes, which is all a
// comparison with a shorter name needs: kStringLonger (out empty) for a
// longer one, whatever its length, at the cost of `most` bytes.
StringEnd ReadShortStringCell(Meta *m, unsigned table, uint32_t row,
                              unsigned column, uint32_t most,
                              std::string *out) {
  out->clear();
  uint32_t index, length;
  uint64_t at, looked;
  if (!ReadCell(m, table, row, column, &index))
    return kStringUnended;
  StringEnd end = FindStringEnd(m, index, most, &at, &length, &looked);
  if (end == kStringEnded && !CopyString(m, at, length, out))
    return kStringUnended;
  return end;
}

// Where the blob at a #Blob offset lies: its packed length, then its
// bytes, all inside the heap. Offset 0 is the empty blob.
bool FindHeapBlob(Meta *m, uint32_t index, uint64_t *at, uint32_t *length) {
  *at = 0;
  *length = 0;
  if (index == 0 && m->blob.size == 0)
    return true;
  if (index >= m->blob.size) {
    Note(m->info, kDotnetBadBlob);
    return false;
  }
  uint32_t room = m->blob.size - index;
  unsigned char head[4];
  size_t got = room < sizeof head ? room : sizeof head;
  if (!ReadAt(m->src, m->blob.offset + index, head, got))
    return false;
  size_t used;
  if (!DecodePackedLength(head, got, length, &used) || *length > room - used ||
      *length > kDotnetMaxBlob) {
    *length = 0;
    Note(m->info, kDotnetBadBlob);
    return false;
  }
  *at = m->blob.offset + index + used;
  return true;
}

// Copies a blob found by FindHeapBlob.
bool CopyBlob(Meta *m, uint64_t at, uint32_t length,
              std::vector<unsigned char> *out) {
  out->resize(length);
  if (length != 0 && !ReadAt(m->src, at, out->data(), length)) {
    out->clear();
    return false;
  }
  return true;
}

// A cell that holds a #Blob offset: where its blob lies.
bool FindBlobCell(Meta *m, unsigned table, uint32_t row, unsigned column,
                  uint64_t *at, uint32_t *length) {
  uint32_t index;
  *at = 0;
  *length = 0;
  return ReadCell(m, table, row, column, &index) &&
         FindHeapBlob(m, index, at, length);
}

// Takes bytes from what the identities may still take; false, with
// nothing taken, when they are more.
bool TakeIdentityBytes(Meta *m, uint64_t bytes) {
  if (bytes > m->identityBytesLeft)
    return false;
  m->identityBytesLeft -= bytes;
  return true;
}

enum IdentityRead {
  kIdentityRead,
  kIdentityPartial,    // something could not be read (noted); the rest was
  kIdentityTooLarge,   // its strings and key would pass what may be taken
  kIdentityKeyTooLong, // read but for its key, longer than any strong name's
};

// An identity's string, charged to what the identities may take: the
// bytes looked at, whether or not a string was found in them.
IdentityRead TakeStringCell(Meta *m, unsigned table, uint32_t row,
                            unsigned column, std::string *out) {
  out->clear();
  uint32_t index, length;
  uint64_t at, looked;
  if (!ReadCell(m, table, row, column, &index))
    return kIdentityPartial;
  StringEnd end =
      FindStringEnd(m, index, kDotnetMaxString, &at, &length, &looked);
  if (!TakeIdentityBytes(m, looked))
    return kIdentityTooLarge;
  return end == kStringEnded && CopyString(m, at, length, out)
             ? kIdentityRead
             : kIdentityPartial;
}

// The four 2-byte version columns that start at column first, then flags,
// key or token, name and culture at the columns given.
IdentityRead ReadIdentity(Meta *m, unsigned table, uint32_t row, unsigned first,
                          unsigned flags, unsigned key, unsigned name,
                          unsigned culture, DotnetIdentity *id) {
  *id = DotnetIdentity();
  uint32_t value;
  for (unsigned i = 0; i < 4; ++i) {
    if (!ReadCell(m, table, row, first + i, &value))
      return kIdentityPartial;
    id->version[i] = static_cast<uint16_t>(value);
  }
  if (!ReadCell(m, table, row, flags, &id->flags))
    return kIdentityPartial;
  // Name first: an identity whose key cannot be read is still named.
  IdentityRead result = TakeStringCell(m, table, row, name, &id->name);
  if (result == kIdentityTooLarge)
    return result;
  IdentityRead read = TakeStringCell(m, table, row, culture, &id->culture);
  if (read != kIdentityRead)
    result = read;
  if (result == kIdentityTooLarge)
    return result;
  // The key's length is known before its bytes are copied: a key that
  // many rows share is taken once for each.
  uint64_t at;
  uint32_t length;
  if (!FindBlobCell(m, table, row, key, &at, &length))
    return kIdentityPartial;
  if (length > kDotnetMaxKey) {
    id->keyTooLong = true;
    return kIdentityKeyTooLong;
  }
  if (!TakeIdentityBytes(m, length))
    return kIdentityTooLarge;
  if (!CopyBlob(m, at, length, &id->publicKey))
    return kIdentityPartial;
  return result;
}

void ReadAssembly(Meta *m) {
  DotnetInfo *info = m->info;
  if (m->tables.rows[kTableModule] != 0)
    info->hasModule =
        ReadStringCell(m, kTableModule, 1, kModuleName, &info->moduleName);
  if (m->tables.rows[kTableAssembly] == 0)
    return; // a netmodule: no manifest
  if (!ReadCell(m, kTableAssembly, 1, kAssemblyHashAlgId, &info->hashAlgorithm))
    return;
  info->hasAssembly = true;
  // Its longest name, culture and key together fit what may be taken.
  IdentityRead read = ReadIdentity(
      m, kTableAssembly, 1, kAssemblyVersion, kAssemblyFlags,
      kAssemblyPublicKey, kAssemblyName, kAssemblyCulture, &info->assembly);
  if (read == kIdentityTooLarge || read == kIdentityKeyTooLong)
    Note(info, kDotnetTooLarge);
}

void ReadReferences(Meta *m) {
  DotnetInfo *info = m->info;
  uint32_t rows = m->tables.rows[kTableAssemblyRef];
  info->referenceCount = rows;
  if (!m->tables.inside[kTableAssemblyRef])
    return;
  uint32_t listed = rows < kDotnetMaxReferences ? rows : kDotnetMaxReferences;
  for (uint32_t row = 1; row <= listed; ++row) {
    DotnetIdentity id;
    IdentityRead read =
        ReadIdentity(m, kTableAssemblyRef, row, kAssemblyRefVersion,
                     kAssemblyRefFlags, kAssemblyRefPublicKeyOrToken,
                     kAssemblyRefName, kAssemblyRefCulture, &id);
    if (read == kIdentityTooLarge) {
      // The rest are counted, not listed.
      Note(info, kDotnetTooLarge);
      return;
    }
    if (read == kIdentityKeyTooLong)
      Note(info, kDotnetTooLarge);
    if (read != kIdentityRead && id.name.empty())
      continue;
    // A reference names its target by token unless its flags say the
    // blob is the whole key.
    if ((id.flags & kAssemblyFlagPublicKey) == 0 && id.publicKey.size() == 8) {
      memcpy(id.token, id.publicKey.data(), 8);
      id.hasToken = true;
    }
    info->references.push_back(std::move(id));
  }
}

// The attributes reported, by the namespace and name of their type.
struct KnownAttribute {
  std::string_view space;
  std::string_view name;
  DotnetAttribute which;
};

const KnownAttribute kKnownAttributes[] = {
    {"System.Reflection", "AssemblyInformationalVersionAttribute",
     kAttrInformationalVersion},
    {"System.Reflection", "AssemblyFileVersionAttribute", kAttrFileVersion},
    {"System.Reflection", "AssemblyTitleAttribute", kAttrTitle},
    {"System.Reflection", "AssemblyDescriptionAttribute", kAttrDescription},
    {"System.Reflection", "AssemblyCompanyAttribute", kAttrCompany},
    {"System.Reflection", "AssemblyProductAttribute", kAttrProduct},
    {"System.Reflection", "AssemblyCopyrightAttribute", kAttrCopyright},
    {"System.Reflection", "AssemblyConfigurationAttribute", kAttrConfiguration},
    {"System.Runtime.Versioning", "TargetFrameworkAttribute",
     kAttrTargetFramework},
};

// The TypeDef that owns a method: the last whose MethodList starts at or
// before it (the lists are in row order).
bool FindMethodOwner(Meta *m, uint32_t method, uint32_t *owner) {
  uint32_t lo = 1, hi = m->tables.rows[kTableTypeDef], found = 0;
  while (lo <= hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    uint32_t first;
    if (!ReadCell(m, kTableTypeDef, mid, kTypeDefMethodList, &first))
      return false;
    if (first <= method) {
      found = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  if (found == 0) {
    Note(m->info, kDotnetBadIndex);
    return false;
  }
  *owner = found;
  return true;
}

// Where an attribute constructor's type and signature are: through
// MemberRef to its TypeRef or TypeDef, or through MethodDef to the TypeDef
// that owns it. The strings are read only for a name worth reading.
struct Constructor {
  unsigned typeTable; // kTableTypeRef or kTableTypeDef
  uint32_t typeRow;
  unsigned sigTable; // kTableMemberRef or kTableMethodDef
  uint32_t sigRow;
};

bool ResolveConstructor(Meta *m, uint32_t typeValue, Constructor *ctor) {
  unsigned table;
  uint32_t row;
  if (!DecodeCoded(m, kCodedCustomAttributeType, typeValue, &table, &row))
    return false;
  ctor->sigTable = table;
  ctor->sigRow = row;
  if (table == kTableMethodDef) {
    ctor->typeTable = kTableTypeDef;
    return FindMethodOwner(m, row, &ctor->typeRow);
  }
  uint32_t parent;
  if (!ReadCell(m, kTableMemberRef, row, kMemberRefClass, &parent) ||
      !DecodeCoded(m, kCodedMemberRefParent, parent, &ctor->typeTable,
                   &ctor->typeRow))
    return false;
  // A constructor on a TypeSpec or ModuleRef is no attribute reported.
  return ctor->typeTable == kTableTypeDef || ctor->typeTable == kTableTypeRef;
}

// A SerString (II.23.3) at *pos of a value blob: 0xFF for null, or a
// packed length and that many bytes.
bool ReadSerString(const std::vector<unsigned char> &blob, size_t *pos,
                   bool *isNull, std::string *text) {
  text->clear();
  *isNull = false;
  if (*pos >= blob.size())
    return false;
  if (blob[*pos] == kNullString) {
    *isNull = true;
    ++*pos;
    return true;
  }
  uint32_t length;
  size_t used;
  if (!DecodePackedLength(blob.data() + *pos, blob.size() - *pos, &length,
                          &used) ||
      length > blob.size() - *pos - used)
    return false;
  text->assign(reinterpret_cast<const char *>(blob.data()) + *pos + used,
               length);
  *pos += used + length;
  return true;
}

// TargetFramework's named arguments, after its one string: each a field or
// property marker, its type, its name, its value. Only string arguments
// are understood; anything else ends the walk, since its length depends
// on types the blob names elsewhere.
void ReadDisplayName(const std::vector<unsigned char> &blob, size_t pos,
                     DotnetInfo *info) {
  if (blob.size() - pos < 2)
    return;
  uint16_t count = Le16(blob.data() + pos);
  pos += 2;
  for (uint16_t i = 0; i < count; ++i) {
    if (blob.size() - pos < 2)
      return;
    uint8_t marker = blob[pos], type = blob[pos + 1];
    if ((marker != kNamedField && marker != kNamedProperty) ||
        type != kElementString)
      return;
    pos += 2;
    bool isNull;
    std::string name, value;
    if (!ReadSerString(blob, &pos, &isNull, &name) ||
        !ReadSerString(blob, &pos, &isNull, &value))
      return;
    if (name == "FrameworkDisplayName" && !isNull) {
      info->hasFrameworkDisplayName = true;
      info->frameworkDisplayName = value;
      return;
    }
  }
}

// No name or namespace sought is longer: a type's strings are compared
// from at most this many bytes, however long they run.
const uint32_t kLongestSought = 40;

// Whether an attribute constructor is the string constructor of a type
// reported, and which: its type's name first (most attributes are none of
// these, and their namespace is never read), then the namespace and the
// signature. False (a reason noted where the file is at fault) for any
// other constructor; *known then stays null unless it is a reported type
// already present, which the caller must not take for any other.
bool ResolveReported(Meta *m, uint32_t typeValue,
                     const KnownAttribute **known) {
  DotnetInfo *info = m->info;
  *known = nullptr;
  Constructor ctor;
  if (!ResolveConstructor(m, typeValue, &ctor))
    return false;
  bool isRef = ctor.typeTable == kTableTypeRef;
  std::string &name = m->scratchName, &space = m->scratchSpace;
  if (ReadShortStringCell(m, ctor.typeTable, ctor.typeRow,
                          isRef ? kTypeRefName : kTypeDefName, kLongestSought,
                          &name) != kStringEnded)
    return false;
  const KnownAttribute *match = nullptr;
  for (const KnownAttribute &k : kKnownAttributes)
    if (name == k.name)
      match = &k;
  if (match == nullptr)
    return false;
  if (info->attributes[match->which].present) {
    *known = match;
    return false;
  }
  if (ReadShortStringCell(m, ctor.typeTable, ctor.typeRow,
                          isRef ? kTypeRefNamespace : kTypeDefNamespace,
                          kLongestSought, &space) != kStringEnded ||
      space != match->space)
    return false;
  // instance void .ctor(string): any other constructor's blob is not laid
  // out as one string. Its length first: a long signature is none.
  static const unsigned char kStringCtor[] = {kSigHasThis, 1, kElementVoid,
                                              kElementString};
  uint64_t at;
  uint32_t length;
  unsigned char sig[sizeof kStringCtor];
  if (!FindBlobCell(m, ctor.sigTable, ctor.sigRow,
                    ctor.sigTable == kTableMethodDef ? kMethodDefSignature
                                                     : kMemberRefSignature,
                    &at, &length) ||
      length != sizeof sig || !ReadAt(m->src, at, sig, sizeof sig) ||
      memcmp(sig, kStringCtor, sizeof sig) != 0)
    return false;
  *known = match;
  return true;
}

// Whether a value blob holds the prolog and a whole first string, from
// its first bytes: a bad value that many rows share is not copied for
// each. The same checks as the reading of it after.
bool ValueHoldsString(Meta *m, uint64_t at, uint32_t length) {
  unsigned char head[2 + 4]; // the prolog, a packed length's most
  size_t got = length < sizeof head ? length : sizeof head;
  if (got < 3 || !ReadAt(m->src, at, head, got) ||
      Le16(head) != kAttributeProlog)
    return false;
  if (head[2] == kNullString)
    return true;
  uint32_t text;
  size_t used;
  return DecodePackedLength(head + 2, got - 2, &text, &used) &&
         text <= length - 2 - used;
}

// One attribute row applied to the assembly: kept when its type is one of
// those reported and its constructor takes one string. Each constructor
// is resolved once for all the rows that name it.
void ReadAttribute(Meta *m, uint32_t row) {
  DotnetInfo *info = m->info;
  uint32_t typeValue;
  if (!ReadCell(m, kTableCustomAttribute, row, kCustomAttributeType,
                &typeValue))
    return;
  CtorMemo &memo = m->ctors[(typeValue * 2654435761u) >> kCtorMemoShift];
  const KnownAttribute *known = nullptr;
  if (memo.kind != kCtorUnseen && memo.value == typeValue) {
    if (memo.kind == kCtorOther)
      return;
    for (const KnownAttribute &k : kKnownAttributes)
      if (k.which == memo.which)
        known = &k;
  } else {
    bool reported = ResolveReported(m, typeValue, &known);
    if (!reported && known != nullptr)
      return; // present already: its namespace and signature unread
    memo.value = typeValue;
    memo.kind = reported ? kCtorString : kCtorOther;
    memo.which = reported ? static_cast<uint8_t>(known->which) : 0;
    if (!reported)
      return;
  }
  DotnetAttributeValue &v = info->attributes[known->which];
  if (v.present)
    return;
  uint64_t at;
  uint32_t length;
  if (!FindBlobCell(m, kTableCustomAttribute, row, kCustomAttributeValue, &at,
                    &length))
    return;
  if (!ValueHoldsString(m, at, length)) {
    if (m->src->failedReads == m->failedBefore) {
      v = DotnetAttributeValue();
      Note(info, kDotnetBadAttribute);
    }
    return;
  }
  std::vector<unsigned char> &blob = m->scratchBlob;
  if (!CopyBlob(m, at, length, &blob))
    return;
  size_t pos = 2;
  if (!ReadSerString(blob, &pos, &v.isNull, &v.value)) {
    v = DotnetAttributeValue();
    Note(info, kDotnetBadAttribute);
    return;
  }
  v.present = true;
  if (known->which == kAttrTargetFramework)
    ReadDisplayName(blob, pos, info);
}

// The attributes whose parent is the Assembly row: found by binary search
// where the table says it is sorted by parent (as compilers write it),
// by a walk of every row otherwise.
void ReadAttributes(Meta *m) {
  const Tables &t = m->tables;
  uint32_t rows = t.rows[kTableCustomAttribute];
  if (!m->info->hasAssembly || rows == 0 || !t.inside[kTableCustomAttribute])
    return;
  const uint32_t target =
      (1u << kHasCustomAttributeBits) | kHasCustomAttributeAssembly;
  bool sorted = (t.sorted >> kTableCustomAttribute & 1) != 0;
  uint32_t first = 1;
  if (sorted) {
    uint32_t lo = 1, hi = rows + 1;
    while (lo < hi) {
      uint32_t mid = lo + (hi - lo) / 2, parent;
      if (!ReadCell(m, kTableCustomAttribute, mid, kCustomAttributeParent,
                    &parent))
        return;
      if (parent < target)
        lo = mid + 1;
      else
        hi = mid;
    }
    first = lo;
  }
  for (uint32_t row = first; row <= rows; ++row) {
    uint32_t parent;
    if (!ReadCell(m, kTableCustomAttribute, row, kCustomAttributeParent,
                  &parent))
      return;
    if (parent == target)
      ReadAttribute(m, row);
    else if (sorted && parent > target)
      break;
  }
}

// The metadata root's fixed part, version string and stream headers; the
// heaps and the table stream are placed from them.
bool ReadRoot(Meta *m, uint64_t root, uint32_t size, Heap *tables) {
  DotnetInfo *info = m->info;
  unsigned char fixed[kMetaVersion];
  if (size < sizeof fixed || !ReadAt(m->src, root, fixed, sizeof fixed)) {
    Note(info, kDotnetRootTruncated);
    return false;
  }
  if (Le32(fixed + kMetaSignature) != kMetaMagic) {
    Note(info, kDotnetBadSignature);
    return false;
  }
  uint32_t length = Le32(fixed + kMetaVersionLength);
  if (length > kMetaMaxVersionLength ||
      kMetaVersion + length + kMetaFlagsAndStreamsSize > size) {
    Note(info, kDotnetRootTruncated);
    return false;
  }
  info->hasMetadata = true;
  info->metadataMajor = Le16(fixed + kMetaMajorVersion);
  info->metadataMinor = Le16(fixed + kMetaMinorVersion);
  char version[kMetaMaxVersionLength];
  if (!ReadAt(m->src, root + kMetaVersion, version, length))
    return false;
  info->runtimeVersion.assign(version, strnlen(version, length));
  uint64_t pos = kMetaVersion + length;
  uint16_t streams;
  if (!ReadLe16(m->src, root + pos + kMetaStreamsField, &streams))
    return false;
  pos += kMetaFlagsAndStreamsSize;
  *tables = Heap();
  for (uint16_t i = 0; i < streams; ++i) {
    unsigned char header[kStreamName + kStreamMaxName];
    // The name runs to its zero, within 32 bytes and the metadata.
    if (pos > size || size - pos < kStreamName + 4) {
      Note(info, kDotnetRootTruncated);
      return true;
    }
    uint64_t room = size - pos;
    size_t got =
        room < sizeof header ? static_cast<size_t>(room) : sizeof header;
    if (!ReadAt(m->src, root + pos, header, got))
      return true;
    const char *name = reinterpret_cast<const char *>(header + kStreamName);
    size_t nameLength = strnlen(name, got - kStreamName);
    if (nameLength == got - kStreamName) {
      Note(info, kDotnetRootTruncated);
      return true;
    }
    DotnetStream stream;
    stream.name.assign(name, nameLength);
    stream.offset = Le32(header + kStreamOffset);
    stream.size = Le32(header + kStreamSize);
    info->streams.push_back(stream);
    pos += kStreamName + ((nameLength + 4) & ~size_t{3});
    if (stream.offset > size || stream.size > size - stream.offset) {
      Note(info, kDotnetStreamOutside);
      continue;
    }
    Heap heap = {root + stream.offset, stream.size};
    // The first stream of each name counts.
    if ((stream.name == "#~" || stream.name == "#-") && tables->size == 0)
      *tables = heap;
    else if (stream.name == "#Strings" && m->strings.size == 0)
      m->strings = heap;
    else if (stream.name == "#Blob" && m->blob.size == 0)
      m->blob = heap;
  }
  return true;
}

// The reads the metadata's own source failed are the file's.
void PassOnFailedReads(ByteSource *src, const ByteSource *own) {
  if (own != src)
    src->failedReads += own->failedReads;
}

void ReadMetadata(ByteSource *src, const PeImage &image, uint32_t rva,
                  uint32_t size, DotnetInfo *info) {
  uint64_t root;
  if (rva == 0 || size == 0 ||
      MapPeDirectoryRva(src, image, rva, &root) != kRvaMapped ||
      root >= src->size) {
    Note(info, kDotnetMetadataUnmapped);
    return;
  }
  if (size > src->size - root) {
    Note(info, kDotnetMetadataTruncated);
    size = static_cast<uint32_t>(src->size - root);
  }
  Meta m = Meta();
  m.src = src;
  m.info = info;
  m.identityBytesLeft = kDotnetMaxIdentityBytes;
  // Metadata of ordinary size is read in one piece and parsed from
  // memory: the rows and heap entries read lie all over it, and a read
  // for each costs more than the copy. Larger metadata (a core library's)
  // is read a window at a time where it is needed. Either way no read
  // leaves the metadata: offsets from here on count from its root.
  std::unique_ptr<unsigned char[]> buffer;
  std::unique_ptr<FileWindow[]> windows;
  ByteSource own;
  // Not zeroed first: every byte is read over at once. Without the
  // memory, the windows below serve.
  if (src->fd >= 0 && size <= kDotnetBufferedMetadata)
    buffer.reset(new (std::nothrow) unsigned char[size]);
  if (buffer != nullptr) {
    if (!ReadAt(src, root, buffer.get(), size))
      return;
    InitMemorySource(&own, buffer.get(), size);
    m.src = &own;
    root = 0;
  } else if (src->fd >= 0) {
    // A window each for the places the reads return to: the tables, the
    // strings, the blobs, the attribute rows and what they name. Without
    // the memory, the caller's windows serve.
    windows.reset(new (std::nothrow) FileWindow[kDotnetMetadataWindows]);
    if (windows != nullptr) {
      InitFileSource(&own, src->fd, src->size, windows.get(),
                     kDotnetMetadataWindows);
      m.src = &own;
    }
  }
  m.failedBefore = m.src->failedReads;
  Heap tables;
  if (!ReadRoot(&m, root, size, &tables)) {
    PassOnFailedReads(src, m.src);
    return;
  }
  if (tables.size == 0) {
    Note(info, kDotnetNoTableStream);
    return;
  }
  if (OpenTables(&m, tables.offset, tables.size)) {
    ReadAssembly(&m);
    ReadReferences(&m);
    ReadAttributes(&m);
  }
  PassOnFailedReads(src, m.src);
}

// The CLI header's directories beside the metadata: the strong-name
// signature's room and a ReadyToRun header.
void ReadCliDirectories(ByteSource *src, const PeImage &image,
                        const unsigned char *cli, DotnetInfo *info) {
  info->strongNameRva = Le32(cli + kCliStrongNameSignature);
  info->strongNameSize = Le32(cli + kCliStrongNameSignature + 4);
  info->hasStrongName = info->strongNameRva != 0 && info->strongNameSize != 0;
  uint64_t at;
  if (info->hasStrongName &&
      MapPeDirectoryRva(src, image, info->strongNameRva, &at) == kRvaMapped &&
      at <= src->size && info->strongNameSize <= src->size - at) {
    info->strongNameMapped = true;
    info->strongNameOffset = at;
  }
  uint32_t nativeRva = Le32(cli + kCliManagedNativeHeader);
  uint32_t nativeSize = Le32(cli + kCliManagedNativeHeader + 4);
  unsigned char r2r[kReadyToRunHeaderSize];
  if (nativeRva != 0 && nativeSize >= kReadyToRunHeaderSize &&
      MapPeDirectoryRva(src, image, nativeRva, &at) == kRvaMapped &&
      ReadAt(src, at, r2r, sizeof r2r) &&
      Le32(r2r + kReadyToRunSignature) == kReadyToRunMagic) {
    info->readyToRun = true;
    info->readyToRunMajor = Le16(r2r + kReadyToRunMajorVersion);
    info->readyToRunMinor = Le16(r2r + kReadyToRunMinorVersion);
  }
}

// A string with a 7-bit-encoded length (the bundle's): at most five bytes
// of seven bits each, low first.
bool ReadBundleString(ByteSource *src, uint64_t *pos, std::string *out) {
  uint32_t length = 0;
  for (unsigned shift = 0;; shift += 7) {
    uint8_t byte;
    if (shift > 28 || !ReadByte(src, *pos, &byte))
      return false;
    ++*pos;
    length |= uint32_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0)
      break;
  }
  if (length > kDotnetMaxString)
    return false;
  out->resize(length);
  if (length != 0 && !ReadAt(src, *pos, &(*out)[0], length))
    return false;
  *pos += length;
  return true;
}

bool EndsWith(const std::string &text, const char *tail) {
  size_t n = strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// Walks the manifest's entries from pos: the deps.json entry names the
// application ("app.deps.json"), and the main assembly is the entry of
// that name with ".dll" that the manifest lists as an assembly.
bool WalkManifest(ByteSource *src, uint64_t pos, const DotnetHost &host,
                  const std::string &wanted, std::string *depsBase,
                  bool *foundWanted) {
  for (uint32_t i = 0; i < host.fileCount; ++i) {
    pos += kBundleEntryFixed;
    if (host.bundleMajor >= 6)
      pos += kBundleEntryCompressedSize;
    uint8_t type;
    std::string path;
    if (!ReadByte(src, pos, &type))
      return false;
    ++pos;
    if (!ReadBundleString(src, &pos, &path))
      return false;
    if (type == kBundleFileDepsJson && depsBase->empty() &&
        EndsWith(path, ".deps.json"))
      *depsBase = path.substr(0, path.size() - strlen(".deps.json"));
    if (type == kBundleFileAssembly && !wanted.empty() && path == wanted)
      *foundWanted = true;
  }
  return true;
}

void ReadBundle(ByteSource *src, DotnetHost *host, DotnetInfo *info) {
  unsigned char fixed[kBundleId];
  if (!ReadAt(src, host->headerOffset, fixed, sizeof fixed)) {
    Note(info, kDotnetBadBundle);
    return;
  }
  host->bundleMajor = Le32(fixed + kBundleMajorVersion);
  host->bundleMinor = Le32(fixed + kBundleMinorVersion);
  host->fileCount = Le32(fixed + kBundleFileCount);
  uint64_t pos = host->headerOffset + kBundleId;
  if (host->fileCount > 0x7FFFFFFF ||
      !ReadBundleString(src, &pos, &host->bundleId)) {
    Note(info, kDotnetBadBundle);
    return;
  }
  if (host->bundleMajor >= 2)
    pos += kBundleV2Extra;
  host->isBundle = true;
  std::string depsBase;
  bool found = false;
  if (!WalkManifest(src, pos, *host, std::string(), &depsBase, &found)) {
    Note(info, kDotnetBadBundle);
    return;
  }
  if (depsBase.empty())
    return;
  std::string wanted = depsBase + ".dll";
  std::string ignored;
  WalkManifest(src, pos, *host, wanted, &ignored, &found);
  if (found)
    host->mainAssembly = wanted;
}

// Searches a native program's writable data for the bundle marker that
// an apphost carries (zero offset before it unless a bundle follows). A
// DLL is never a host: a folder of native libraries costs no search.
void FindHost(ByteSource *src, const PeImage &image, DotnetInfo *info) {
  if ((image.characteristics & kPeFileDll) != 0)
    return;
  uint64_t budget = kDotnetMaxHostScan;
  const size_t kChunk = 0x10000;
  const size_t kMarker = sizeof kBundleMarker;
  std::vector<unsigned char> chunk;
  for (uint32_t i = 0; i < image.sectionCount && budget != 0; ++i) {
    PeSection sec;
    if (!ReadPeSection(src, image, i, &sec))
      return;
    uint32_t flags = sec.characteristics;
    if ((flags & kPeScnInitializedData) == 0 || (flags & kPeScnMemWrite) == 0 ||
        (flags & kPeScnMemExecute) != 0)
      continue;
    uint64_t start = sec.rawPointer;
    uint64_t length = sec.rawSize;
    if (start >= src->size)
      continue;
    if (length > src->size - start)
      length = src->size - start;
    if (length > budget)
      length = budget;
    budget -= length;
    if (chunk.empty())
      chunk.resize(kChunk);
    // Chunks overlap by the marker's length less one, so that a marker
    // across their border is found whole.
    for (uint64_t done = 0; length - done >= kMarker;) {
      size_t want =
          length - done < kChunk ? static_cast<size_t>(length - done) : kChunk;
      if (!ReadAt(src, start + done, chunk.data(), want))
        return;
      for (size_t at = 0; want - at >= kMarker; ++at) {
        const void *hit = memchr(chunk.data() + at, kBundleMarker[0],
                                 want - at - kMarker + 1);
        if (hit == nullptr)
          break;
        at = static_cast<size_t>(static_cast<const unsigned char *>(hit) -
                                 chunk.data());
        uint64_t where = start + done + at;
        unsigned char offset[kBundleOffsetSize];
        if (memcmp(chunk.data() + at, kBundleMarker, kMarker) != 0 ||
            where < kBundleOffsetSize ||
            !ReadAt(src, where - kBundleOffsetSize, offset, sizeof offset))
          continue;
        DotnetHost &host = info->host;
        host.found = true;
        host.markerOffset = where;
        host.headerOffset = Le64(offset);
        if (host.headerOffset != 0)
          ReadBundle(src, &host, info);
        return;
      }
      if (want < kChunk)
        break;
      done += want - (kMarker - 1);
    }
  }
}

} // namespace

bool DecodePackedLength(const unsigned char *p, size_t count, uint32_t *value,
                        size_t *used) {
  if (count == 0)
    return false;
  if ((p[0] & 0x80) == 0) {
    *value = p[0];
    *used = 1;
    return true;
  }
  if ((p[0] & 0xC0) == 0x80) {
    if (count < 2)
      return false;
    *value = (uint32_t{p[0] & 0x3Fu} << 8) | p[1];
    *used = 2;
    return true;
  }
  if ((p[0] & 0xE0) == 0xC0) {
    if (count < 4)
      return false;
    *value = (uint32_t{p[0] & 0x1Fu} << 24) | (uint32_t{p[1]} << 16) |
             (uint32_t{p[2]} << 8) | p[3];
    *used = 4;
    return true;
  }
  return false;
}

void TokenFromDigest(const unsigned char digest[20], unsigned char token[8]) {
  for (unsigned i = 0; i < 8; ++i)
    token[i] = digest[19 - i];
}

namespace {

void ReadDotnet(ByteSource *src, const PeImage &image, DotnetInfo *info) {
  PeDirectory cli;
  if (FindPeDirectory(image, kPeDirectoryEntryCli, &cli) != kDirectoryPresent ||
      cli.rva == 0 || cli.size == 0) {
    FindHost(src, image, info);
    return;
  }
  uint64_t at;
  unsigned char header[kCliHeaderSize];
  if (MapPeDirectoryRva(src, image, cli.rva, &at) != kRvaMapped) {
    Note(info, kDotnetCliHeaderUnmapped);
  } else if (!ReadAt(src, at, header, sizeof header)) {
    Note(info, kDotnetCliHeaderTruncated);
  } else {
    info->hasCli = true;
    info->cliMajor = Le16(header + kCliMajorRuntimeVersion);
    info->cliMinor = Le16(header + kCliMinorRuntimeVersion);
    info->cliFlags = Le32(header + kCliFlags);
    ReadCliDirectories(src, image, header, info);
    ReadMetadata(src, image, Le32(header + kCliMetaData),
                 Le32(header + kCliMetaData + 4), info);
  }
}

} // namespace

bool ReadDotnetInfo(ByteSource *src, DotnetInfo *info) {
  PeImage image;
  ReadPeImage(src, &image);
  return ReadDotnetInfo(src, image, info);
}

bool ReadDotnetInfo(ByteSource *src, const PeImage &image, DotnetInfo *info) {
  *info = DotnetInfo();
  if (!IsPeImage(image))
    return false;
  uint32_t failed = src->failedReads;
  try {
    ReadDotnet(src, image, info);
  } catch (const std::bad_alloc &) {
    // Every piece kept is bounded; should memory run out all the same,
    // the file gets what was read so far and the run goes on.
    Note(info, kDotnetTooLarge);
  }
  // Whatever step a failed read stopped, the file is what went wrong.
  if (src->failedReads != failed)
    info->malformed = kDotnetReadFailed;
  // A CLI directory that leads nowhere is still a .NET file, malformed.
  return info->hasCli || info->host.found ||
         info->malformed != kDotnetWellFormed;
}
