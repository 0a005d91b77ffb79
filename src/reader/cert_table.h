// The certificate table of a PE image and the bytes its Authenticode
// digest covers, read through the bounded cursor. What the signatures in
// the table say is for a layer with a cryptographic library; this unit
// only says where they are, whether the table can be trusted to hold
// them, and which byte ranges of the file the digest and the checksum
// read.
#ifndef QUELVO_CERT_TABLE_H
#define QUELVO_CERT_TABLE_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "byte_source.h"
#include "pe_image.h"

// What the certificate table's directory entry and the walk of its
// entries found. Every state but kCertTableAbsent and kCertTableOk is a
// table that is reported and never trusted. Stable values, for tests and
// reports.
enum CertTableState {
  kCertTableNotPe = 0,            // not a PE image whose headers can be read
  kCertTableAbsent = 1,           // the directory names no table
  kCertTableOk = 2,               // walked whole, entry by entry
  kCertTableOutsideFile = 3,      // the table runs past the end of the file
  kCertTableOverlapsHeaders = 4,  // it starts inside the headers
  kCertTableOverlapsSections = 5, // it starts inside a section's raw data
  kCertTableMisaligned = 6,       // it does not start on an 8-byte boundary
  kCertTableBadEntry = 7,         // an entry's length is short of its header or
                                  // runs past the table's end
  kCertTableTooManyEntries = 8,   // more entries than any signer writes
  kCertTableReadFailed = 9,       // the file itself could not be read
  // Bytes after the table's end: Windows and osslsigncode take the table
  // to end the file, and refuse a signature followed by anything.
  kCertTableDataAfter = 10,
};

// A short lowercase word for each state ("outside-file"), stable for
// machine-read reports; "unknown" outside the enumeration.
const char *CertTableStateName(CertTableState state);

// One WIN_CERTIFICATE as stored.
struct CertEntry {
  uint64_t offset;   // file offset of its header
  uint32_t length;   // dwLength, the header included
  uint16_t revision; // wRevision
  uint16_t type;     // wCertificateType
  bool aligned;      // offset is a multiple of 8
};

// A run of file bytes that a digest reads, in the order it reads them.
struct HashRange {
  uint64_t offset;
  uint64_t length;
};

// Why the Authenticode digest of an image cannot be computed.
enum HashLayoutState {
  kHashLayoutOk = 0,
  kHashLayoutNotPe = 1,            // no PE headers to read
  kHashLayoutHeadersOutside = 2,   // SizeOfHeaders past the hashed end
  kHashLayoutSectionOutside = 3,   // a section's raw data past the end
  kHashLayoutTableBeforeImage = 4, // the table starts before the image ends
  kHashLayoutHeadersShort = 5,     // SizeOfHeaders ends before the CheckSum
                                   // field or the table's directory entry
  kHashLayoutSectionsOverlap = 6,  // sections share so much raw data that
                                   // the digest would read more than twice
                                   // the bytes the file holds
};

const char *HashLayoutStateName(HashLayoutState state);

struct PeSignatureLayout {
  uint64_t fileSize;
  bool isPe;
  uint64_t checksumOffset; // file offset of the optional header's CheckSum
  uint32_t storedChecksum;
  // The certificate table as its directory entry gives it (a file
  // offset, unlike every other directory) and what the walk found.
  CertTableState table;
  uint32_t tableOffset;
  uint32_t tableSize;
  std::vector<CertEntry> entries;
  // Bytes after the table's end, which no digest covers.
  uint64_t trailingBytes;
  // The Authenticode digest's input: the headers without the CheckSum
  // field and the table's directory entry, every section's raw data in
  // file order, then whatever follows the last section up to the table
  // (or the end of an unsigned file), and zero bytes up to a multiple of
  // eight.
  HashLayoutState hash;
  std::vector<HashRange> hashed;
  uint32_t hashPadding; // zero bytes after the ranges, 0 to 7
  // Bytes before the hashed end that no range covers (gaps between the
  // headers and sections): they may change without the digest changing.
  uint64_t unhashedBytes;
};

// Reads the headers, the certificate table's entry and the table itself
// (its entries' headers only), and works out the digest's ranges. Never
// fails: whatever it cannot read is said in table and hash.
void ReadSignatureLayout(ByteSource *src, PeSignatureLayout *layout);
// The same, from headers already read from src.
void ReadSignatureLayout(ByteSource *src, const PeImage &image,
                         PeSignatureLayout *layout);

// The PE checksum as the image loader's check computes it: the file's
// 16-bit little-endian words summed with end-around carry, the CheckSum
// field read as zero, plus the file's length. Fed the whole file in order,
// in pieces of any size.
struct PeChecksum {
  uint64_t sum;         // plain sum of the words, folded at the end
  uint64_t next;        // offset of the next byte expected
  uint64_t fieldOffset; // the CheckSum field, read as zero
  bool havePending;     // an odd byte waits for its partner
  unsigned char pending;
};

void StartChecksum(PeChecksum *checksum, uint64_t fieldOffset);
// Adds the bytes at offset, which must be where the last piece ended;
// false (and nothing added) otherwise.
bool AddToChecksum(PeChecksum *checksum, uint64_t offset,
                   const unsigned char *bytes, size_t length);
uint32_t FinishChecksum(const PeChecksum *checksum);

// Whether every hashed range starts at or after the previous one's end, so
// that one pass through the file in order feeds the digest: true unless
// sections share raw data, whose bytes the digest then reads twice.
bool HashRangesInFileOrder(const PeSignatureLayout &layout);

// The largest PKCS#7 blob a signature entry is read for: signers write a
// few kilobytes, a few hundred with many nested signatures.
const uint32_t kMaxSignatureBlob = 16u << 20;

// The extent of the DER element that starts bytes: its tag, its length
// and its content, from a definite length of up to four bytes. False when
// the bytes hold no such header (an indefinite length among them), or too
// few of them to tell.
bool DerExtent(const unsigned char *bytes, size_t length, uint64_t *extent);

// Whether the bytes after a signature's DER in its entry are the 0 to 7
// zero bytes that round the entry up to 8, and no more: anything else
// lies outside the signature and the digest alike.
bool OnlyAlignmentPadding(const unsigned char *bytes, size_t length);

// The bCertificate bytes of an entry (its length less the header), bounded
// by kMaxSignatureBlob; false when they cannot be read whole.
bool ReadCertificateBlob(ByteSource *src, const CertEntry &entry,
                         std::vector<unsigned char> *blob);

#endif
