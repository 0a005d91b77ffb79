// Finds the version resource inside an executable image.
#ifndef QUELVO_EXE_LOCATE_H
#define QUELVO_EXE_LOCATE_H

#include <stdint.h>

#include <vector>

#include "byte_source.h"
#include "image_info.h"
#include "pe_image.h"

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

// Every entry point below reads the headers itself, or takes them read
// already (ReadPeImage) from the same source, so that a caller that asks
// several of them about one file has its headers read once.

// Walks the resource directory to the version resource (type 16, name 1),
// choosing the language as US-English Windows does. Returns kReasonNone
// and fills res, or why the file holds no version resource that can be
// read whole; a malformed file is simply that. A read of the file that
// fails on the way is kReasonReadFailed, whatever step it stopped.
NoVersionReason LocateVersionResource(ByteSource *src, VersionResource *res);
NoVersionReason LocateVersionResource(ByteSource *src, const PeImage &image,
                                      VersionResource *res);

// What a look at the image's headers found.
enum ImageResult {
  kImageKnown = 0,      // one of the kinds ImageKind names
  kImageUnknown = 1,    // no executable the reader knows
  kImageReadFailed = 2, // the file itself could not be read
};

// The kind of executable from the DOS header, the signature at e_lfanew
// and, for PE, the optional header's magic. Anything but kImageKnown
// leaves info->kind kKindUnknown.
ImageResult ReadImageInfo(ByteSource *src, ImageInfo *info);
ImageResult ImageInfoFromHeaders(const PeImage &image, ImageInfo *info);

// The languages under which a PE file stores its version resource (type 16,
// name 1): the id of every entry of that language directory that points at
// data, in directory order (named entries carry no id and are left out).
// Returns kReasonNone, or why the file has no such directory (what it
// holds of a directory cut short is listed all the same).
NoVersionReason ListVersionLanguages(ByteSource *src,
                                     std::vector<uint16_t> *languages);
NoVersionReason ListVersionLanguages(ByteSource *src, const PeImage &image,
                                     std::vector<uint16_t> *languages);

// ListVersionLanguages with the file and product versions of each
// language's fixed record, read from the first bytes of its data. At most
// kMaxLanguageVersions languages are read.
const size_t kMaxLanguageVersions = 64;
NoVersionReason ListLanguageVersions(ByteSource *src,
                                     std::vector<LanguageVersion> *versions);
NoVersionReason ListLanguageVersions(ByteSource *src, const PeImage &image,
                                     std::vector<LanguageVersion> *versions);

// ReadImageInfo and, for PE, ListVersionLanguages: what the JSON report
// says of a file's image. kImageUnknown leaves info->kind kKindUnknown and
// languages empty; kImageReadFailed may come with the kind known and a
// list the failed read cut short.
ImageResult DescribeImage(ByteSource *src, ImageInfo *info,
                          std::vector<uint16_t> *languages);
ImageResult DescribeImage(ByteSource *src, const PeImage &image,
                          ImageInfo *info, std::vector<uint16_t> *languages);

// LocateVersionResource that also says what it read on the way: the
// image's kind (as ReadImageInfo) and, when it reaches the version
// resource's language directory, every language there (as
// ListVersionLanguages), both from the reads it makes anyway. Either
// output may be null.
NoVersionReason LocateAndDescribe(ByteSource *src, const PeImage &image,
                                  VersionResource *res, ImageInfo *info,
                                  std::vector<uint16_t> *languages);

// The largest resource worth reading: a block's length field is 16 bits.
const uint32_t kMaxVersionResource = 0x10000;

#endif
