// Finds the version resource inside an executable image.
#ifndef QUELVO_EXE_LOCATE_H
#define QUELVO_EXE_LOCATE_H

#include <stdint.h>

#include <vector>

#include "byte_source.h"
#include "image_info.h"
#include "status.h"

enum ImageFormat {
  kImagePe = 1, // PE32 or PE32+: a resource in the 32-bit (Unicode) layout
  kImageNe = 2, // 16-bit Windows: the 16-bit (ANSI) layout
  kImageLe = 3, // VxD: a 16-bit block behind the LE version record
};

struct VersionResource {
  uint64_t offset; // file offset of the block's first byte
  uint32_t size;   // bytes of the block present in the file
  int format;      // an ImageFormat
};

// Why a file yields no version resource: the first thing the search for it
// found wrong, in the order the search reads, or (kReasonBlockTooShort)
// what the size query finds wrong with the block it found. The values are
// stable, for tests, fuzz triage and reports to keep.
enum NoVersionReason {
  kReasonNone = 0,                  // there is one
  kReasonNoMzHeader = 1,            // no DOS header, or not "MZ"
  kReasonNewHeaderOutsideFile = 2,  // e_lfanew points past the end
  kReasonUnknownSignature = 3,      // neither PE, NE nor LE at e_lfanew
  kReasonTruncatedHeaders = 4,      // the file ends inside the headers
  kReasonUnknownOptionalHeader = 5, // PE, but neither PE32 nor PE32+
  kReasonNoResourceDirectory = 6,   // the headers name no resources
  kReasonMalformedDirectory = 7,    // resources that cannot be walked
  kReasonNoVersionResource = 8,     // resources, but no version resource
  kReasonEmptyResource = 9,         // a version resource of no bytes
  kReasonResourceOutsideFile = 10,  // a version resource past the end
  kReasonBlockTooShort = 11,        // no length, or no more than its record
  kReasonReadFailed = 12,           // the file itself could not be read
};

// A short lowercase word for each reason ("no-mz-header"), stable for
// machine-read reports; "unknown" for a value outside the enumeration.
const char *NoVersionReasonName(NoVersionReason why);

// Reads the headers and walks the resource directory to the version
// resource (type 16, name 1), choosing the language as US-English Windows
// does. Returns kStatusOk and fills res, or kStatusNoVersionInfo when the
// file holds no version resource that can be read whole; a malformed file
// is simply that, and LocateVersionResourceWhy says what was wrong with it.
StatusCode LocateVersionResource(ByteSource *src, VersionResource *res);

// LocateVersionResource that also says why it found none: kStatusOk, or
// kStatusNoVersionInfo with the reason in why (kReasonNone on success).
// A read of the file that fails on the way is kReasonReadFailed, whatever
// step it stopped.
StatusCode LocateVersionResourceWhy(ByteSource *src, VersionResource *res,
                                    NoVersionReason *why);

// Reads the kind of executable from the DOS header, the signature at
// e_lfanew and, for PE, the optional header's magic. Returns kStatusOk, or
// kStatusNotExecutable when the file is none of the kinds above
// (info->kind is then kKindUnknown).
StatusCode ReadImageInfo(ByteSource *src, ImageInfo *info);

// The languages under which a PE file stores its version resource (type 16,
// name 1): the id of every entry of that language directory that points at
// data, in directory order (named entries carry no id and are left out).
// Returns kStatusOk, or kStatusNoVersionInfo when the file has no such
// directory.
StatusCode ListVersionLanguages(ByteSource *src,
                                std::vector<uint16_t> *languages);

// ListVersionLanguages with the file and product versions of each
// language's fixed record, read from the first bytes of its data. At most
// kMaxLanguageVersions languages are read. Returns kStatusOk, or
// kStatusNoVersionInfo when the file has no such directory.
const size_t kMaxLanguageVersions = 64;
StatusCode ListLanguageVersions(ByteSource *src,
                                std::vector<LanguageVersion> *versions);

// ReadImageInfo and, for PE, ListVersionLanguages: what the JSON report
// says of a file's image. Returns kStatusOk, or kStatusNotExecutable when
// the file is no executable we know (info->kind is then kKindUnknown and
// languages empty).
StatusCode DescribeImage(ByteSource *src, ImageInfo *info,
                         std::vector<uint16_t> *languages);

// LocateVersionResource that also says what it read on the way: the
// image's kind (as ReadImageInfo) and, when it reaches the version
// resource's language directory, every language there (as
// ListVersionLanguages), both from the reads it makes anyway, and, as
// LocateVersionResourceWhy, why it found none. Any output may be null.
StatusCode LocateAndDescribe(ByteSource *src, VersionResource *res,
                             ImageInfo *info, std::vector<uint16_t> *languages,
                             NoVersionReason *why = nullptr);

// A PE image's headers as the .NET reader needs them: where the data
// directories and the section table lie.
struct PeHeaders {
  uint64_t sectionTable; // file offset of the first IMAGE_SECTION_HEADER
  uint32_t sectionCount;
  uint32_t sizeOfHeaders;
  uint32_t directoryCount;  // NumberOfRvaAndSizes
  uint64_t directories;     // file offset of DataDirectory[0]
  uint16_t characteristics; // IMAGE_FILE_HEADER.Characteristics
};

// Reads them; false when the file is no PE32 or PE32+ image, or its
// headers are cut short.
bool ReadPeHeaders(ByteSource *src, PeHeaders *pe);

// A data directory's RVA and size; false when the headers hold no such
// entry or it cannot be read. A zero RVA or size is for the caller to
// judge.
bool ReadPeDirectory(ByteSource *src, const PeHeaders &pe, uint32_t index,
                     uint32_t *rva, uint32_t *size);

// An RVA's file offset, mapped as the version lookup maps a directory's:
// through the first section whose raw data covers it, or inside the
// headers. False when neither covers it.
bool MapPeRva(ByteSource *src, const PeHeaders &pe, uint32_t rva,
              uint64_t *offset);

// The largest resource worth reading: a block's length field is 16 bits.
const uint32_t kMaxVersionResource = 0x10000;

#endif
