// The headers at the front of an executable, read once per file and handed
// to every reader that needs them: the DOS header, the kind of header its
// e_lfanew points at and, for a PE image, the file header, the optional
// header's fields the readers use (PE32 or PE32+ told apart here, once),
// the data directories and where the section table lies. Sections are
// read from the table when asked for, most lookups end at the first one.
#ifndef QUELVO_PE_IMAGE_H
#define QUELVO_PE_IMAGE_H

#include <stdint.h>

#include "byte_source.h"
#include "exe_layout.h"

enum ImageFormat {
  kImagePe = 1, // PE32 or PE32+: a resource in the 32-bit (Unicode) layout
  kImageNe = 2, // 16-bit Windows: the 16-bit (ANSI) layout
  kImageLe = 3, // VxD: a 16-bit block behind the LE version record
};

// How far the headers could be read: kHeadersOk, or the first thing found
// wrong, in the order they are read.
enum HeaderState {
  kHeadersOk = 0,
  kHeadersNoMz = 1,             // no DOS header, or not "MZ"
  kHeadersNewHeaderOutside = 2, // e_lfanew points past the end
  kHeadersUnknownSignature = 3, // neither PE, NE nor LE at e_lfanew
  kHeadersTruncated = 4,        // PE: the file ends before the magic
  kHeadersUnknownOptional = 5,  // PE, but neither PE32 nor PE32+
  kHeadersOptionalCut = 6,      // PE32 or PE32+, but the file ends before
                                // NumberOfRvaAndSizes
  kHeadersReadFailed = 7,       // the file itself could not be read
};

// The data directories a reader may ask for: the optional header's array
// has 16 entries, whatever NumberOfRvaAndSizes claims.
const uint32_t kPeMaxDirectories = 16;

struct PeDirectory {
  uint32_t rva; // VirtualAddress; a file offset for the certificate table
  uint32_t size;
};

struct PeImage {
  HeaderState state;
  int format;         // an ImageFormat once the signature is read, else 0
  uint32_t newHeader; // e_lfanew
  // PE, when state is kHeadersOk or kHeadersOptionalCut; a field the file
  // cuts off reads as zero.
  uint16_t machine;
  uint16_t characteristics; // IMAGE_FILE_HEADER.Characteristics
  uint16_t magic;           // kPeMagicPe32 or kPeMagicPe32Plus
  uint64_t optionalHeader;  // file offset of the optional header
  uint32_t entryPoint;      // AddressOfEntryPoint
  // From here on, only when state is kHeadersOk.
  uint32_t sizeOfHeaders;
  uint64_t checksumOffset; // file offset of the CheckSum field
  uint32_t checksum;
  uint32_t directoryCount; // NumberOfRvaAndSizes, as the file says
  uint64_t directories;    // file offset of DataDirectory[0]
  uint64_t sectionTable;   // file offset of the first IMAGE_SECTION_HEADER
  uint32_t sectionCount;   // NumberOfSections
  // The entries the file holds whole, at most min(directoryCount, 16),
  // as stored (FindPeDirectory reads them). Last: ReadPeImage clears
  // every field before them, and of them only what it copies.
  uint32_t directoriesRead;
  unsigned char directoryBytes[kPeMaxDirectories * kPeDataDirectorySize];
};

// Reads the headers; image->state says how far they could be read. A read
// the file fails on the way is kHeadersReadFailed, whatever step it
// stopped.
void ReadPeImage(ByteSource *src, PeImage *image);

// A PE image whose headers were read as far as the data directories.
inline bool IsPeImage(const PeImage &image) {
  return image.state == kHeadersOk && image.format == kImagePe;
}

// What asking for a data directory finds.
enum DirectoryLookup {
  kDirectoryPresent = 0, // rva and size read; either may be zero
  kDirectoryAbsent = 1,  // NumberOfRvaAndSizes does not reach it
  kDirectoryCut = 2,     // it does, but the file ends before the entry
};
DirectoryLookup FindPeDirectory(const PeImage &image, uint32_t index,
                                PeDirectory *entry);

// One IMAGE_SECTION_HEADER's fields.
struct PeSection {
  uint32_t virtualAddress;
  uint32_t rawSize;    // SizeOfRawData
  uint32_t rawPointer; // PointerToRawData
  uint32_t characteristics;
};

// The index-th entry of the section table; false when the file cuts it
// off.
bool ReadPeSection(ByteSource *src, const PeImage &image, uint32_t index,
                   PeSection *section);

// What mapping an RVA to a file offset finds.
enum RvaMapping {
  kRvaMapped = 0,
  kRvaUnmapped = 1, // no section's raw data covers it
  kRvaTableCut = 2, // none of the sections the file holds whole does
};

// An RVA's file offset the way a data-file mapping finds it: through the
// first section whose raw data covers it, unrounded.
RvaMapping MapPeDataRva(ByteSource *src, const PeImage &image, uint32_t rva,
                        uint64_t *offset);

// MapPeDataRva for a directory's RVA, which may also lie inside the
// headers, where it is its own offset.
RvaMapping MapPeDirectoryRva(ByteSource *src, const PeImage &image,
                             uint32_t rva, uint64_t *offset);

// An IMAGE_RESOURCE_DIRECTORY's counts and where its entries start.
struct ResourceDirectory {
  uint16_t named;
  uint16_t ids;
  uint64_t entries;   // file offset of the first entry, named ones first
  uint64_t idEntries; // of the first id entry
};

// Reads the directory at offset dir; false when the file cuts it off.
// Inline: every step of a resource walk starts with one.
inline bool ReadResourceDirectory(ByteSource *src, uint64_t dir,
                                  ResourceDirectory *directory) {
  // The two counts side by side, named entries first.
  unsigned char counts[4];
  if (!ReadAt(src, dir + kResNumberOfNamedEntries, counts, sizeof counts))
    return false;
  directory->named = Le16(counts);
  directory->ids =
      Le16(counts + (kResNumberOfIdEntries - kResNumberOfNamedEntries));
  directory->entries = dir + kResDirectorySize;
  directory->idEntries =
      directory->entries + uint64_t{kResEntrySize} * directory->named;
  return true;
}

#endif
