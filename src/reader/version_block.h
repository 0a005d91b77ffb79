// The version block as GetFileVersionInfoA hands it out, and the walk that
// VerQueryValueA performs over it.
//
// Contract between the two: the 16-bit length at offset 0 gives the extent
// E of the tree (the reader lowers it to what was actually read). A 32-bit
// (Unicode) block lives in a buffer of at least 2*E+4 bytes: "FE2X" at E,
// then a spare area where text values are written out in code page 1252.
// A 16-bit (ANSI) block lives in a buffer of at least E+1 bytes. In both,
// the buffer's last byte is zero, so a string scan that starts inside the
// buffer ends inside it.
//
// The walk reads the tree through the same bounded reader as the file
// (byte_source.h), limited to the first E bytes; it writes only its code
// page 1252 copies, into the spare area, and no further than the buffer's
// length that its caller passes.
#ifndef QUELVO_VERSION_BLOCK_H
#define QUELVO_VERSION_BLOCK_H

#include <stddef.h>

#include "byte_source.h"
#include "exe_locate.h"

// A block is in the 16-bit layout when the byte at offset 4 is the first
// character of its key rather than the low byte of a type field.
bool IsAnsiBlock(const unsigned char *block);

// Bytes of buffer a version resource needs: the size that
// GetFileVersionInfoSizeA reports. A PE resource of n bytes gets 2n+4, room
// for its text in code page 1252 after it; a 16-bit resource (NE, LE) gets
// four times what its length field counts beyond the fixed part, as
// Windows sizes them. 0 for a 16-bit block too short to hold a record.
unsigned long VersionBufferSize(int format, unsigned long resourceSize,
                                unsigned blockLength);

// VersionBufferSize for a located resource, its length field read from
// src: the size query's whole answer. 0 when there is nothing to hand out,
// with the reason in why (when not null): kReasonBlockTooShort, or
// kReasonReadFailed when the file failed the read.
unsigned long VersionBufferSizeOf(ByteSource *src, const VersionResource &res,
                                  NoVersionReason *why = nullptr);

// Lays a raw resource of `copied` bytes, already at the front of a buffer
// of `length` bytes, out as the contract above wants. Returns false when
// the buffer cannot hold a usable block.
bool PrepareVersionBlock(unsigned char *buffer, size_t length, size_t copied);

// What GetFileVersionInfoA hands out: the located resource read from src
// into a buffer of length bytes (as much of it as fits) and laid out by
// PrepareVersionBlock. kReasonNone; kReasonReadFailed when the file failed
// the read; kReasonBlockTooShort when the buffer cannot hold a usable
// block.
NoVersionReason ReadVersionBlock(ByteSource *src, const VersionResource &res,
                                 unsigned char *buffer, size_t length);

// Bytes of a VS_FIXEDFILEINFO record.
const size_t kFixedRecordSize = 52;

// The walk behind VerQueryValueA over a block laid out by
// PrepareVersionBlock, in a buffer of capacity bytes: finds the sub-block
// path (components split at '\', keys compared without regard to case) and
// points value at it: the fixed record for the root, the raw bytes of a
// binary value, a code page 1252 copy (written into the spare area, and
// never past capacity) of a Unicode text value. False when the path names
// nothing.
bool QueryVersionBlockIn(unsigned char *block, size_t capacity,
                         const char *subBlock, unsigned char **value,
                         unsigned *length);

// The buffer a block's own header promises (2E+4 bytes, or E+1 for a
// 16-bit block): all that VerQueryValueA, which is given no length, can go
// by; 0 for a block without a header.
size_t VersionBlockCapacity(const unsigned char *block);

// QueryVersionBlockIn with the capacity the block's header promises.
bool QueryVersionBlock(unsigned char *block, const char *subBlock,
                       unsigned char **value, unsigned *length);

// Looks several names up among the children of one sub-block (the strings
// of a table, say) in one pass: each answer is the one QueryVersionBlock
// gives for parentPath + "\\" + name, found[i] says whether there was one,
// and the copies are written as those queries, made in the order of the
// names, would write them. Names beyond kMaxQueryValues take a pass of
// their own.
const size_t kMaxQueryValues = 8;
void QueryVersionValuesIn(unsigned char *block, size_t capacity,
                          const char *parentPath, const char *const *names,
                          size_t count, unsigned char **values,
                          unsigned *lengths, bool *found);
// What a report looks up from the root of a block, found in one walk of
// the root and its children: the answers QueryVersionBlock gives for
// "\\VarFileInfo\\Translation" (a text value's copy written as it writes
// it) and for "\\", and where the children of the first "StringFileInfo"
// lie, for the table lookups after it.
struct ReportRoot {
  bool hasTranslation;
  unsigned char *translation;
  unsigned translationLength;
  bool hasFixed;
  unsigned char *fixed; // a whole VS_FIXEDFILEINFO may be read there
  bool hasTables;
  size_t tablesStart, tablesEnd;
};
void LookUpReportRoot(unsigned char *block, ReportRoot *out);

// QueryVersionValuesIn for the parent path "\\StringFileInfo\\" + table,
// with the string tables found by LookUpReportRoot in the same block:
// table is one key, without a '\\'.
void QueryTableValuesIn(unsigned char *block, size_t capacity,
                        const ReportRoot &root, const char *table,
                        const char *const *names, size_t count,
                        unsigned char **values, unsigned *lengths, bool *found);

// QueryVersionValuesIn with the capacity the block's header promises.
void QueryVersionValues(unsigned char *block, const char *parentPath,
                        const char *const *names, size_t count,
                        unsigned char **values, unsigned *lengths, bool *found);

#endif
