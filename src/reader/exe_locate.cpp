#include "exe_locate.h"

#include <string.h>

#include "exe_layout.h"
#include "pe_image.h"
#include "version_block.h"
#include "version_walk.h"

namespace {

const uint16_t kVersionType = 16; // RT_VERSION
const uint16_t kVersionName = 1;  // VS_VERSION_INFO

// The headers' state as the search for the resource names it.
NoVersionReason FromHeaders(HeaderState state) {
  switch (state) {
  case kHeadersOk:
    return kReasonNone;
  case kHeadersNoMz:
    return kReasonNoMzHeader;
  case kHeadersNewHeaderOutside:
    return kReasonNewHeaderOutsideFile;
  case kHeadersUnknownSignature:
    return kReasonUnknownSignature;
  case kHeadersTruncated:
  case kHeadersOptionalCut:
    return kReasonTruncatedHeaders;
  case kHeadersUnknownOptional:
    return kReasonUnknownOptionalHeader;
  case kHeadersReadFailed:
    return kReasonReadFailed;
  }
  return kReasonTruncatedHeaders;
}

// An RVA that no section covers is `unmapped`, which the caller names; a
// section table the file cuts short before one covers it is the headers'.
NoVersionReason FromMapping(RvaMapping mapping, NoVersionReason unmapped) {
  switch (mapping) {
  case kRvaMapped:
    return kReasonNone;
  case kRvaUnmapped:
    return unmapped;
  case kRvaTableCut:
    break;
  }
  return kReasonTruncatedHeaders;
}

// Looks an integer id up among a resource directory's id entries by binary
// search, as the loader does (an unsorted directory can hide an entry).
// The entry must be of the wanted kind: one of the other kind is found but
// unusable, a directory that contradicts the tree's three levels.
NoVersionReason FindIdEntry(ByteSource *src, uint64_t dir, uint16_t id,
                            bool wantDir, uint32_t *target) {
  ResourceDirectory d;
  if (!ReadResourceDirectory(src, dir, &d))
    return kReasonMalformedDirectory;
  uint32_t lo = 0, hi = d.ids;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    unsigned char entry[kResEntrySize];
    if (!ReadAt(src, d.idEntries + uint64_t{kResEntrySize} * mid, entry,
                sizeof entry))
      return kReasonMalformedDirectory;
    uint16_t entryId = Le16(entry + kResEntryId);
    if (entryId == id) {
      uint32_t data = Le32(entry + kResEntryOffsetToData);
      if (((data & kResDataIsDirectory) != 0) != wantDir)
        return kReasonMalformedDirectory;
      *target = data & ~kResDataIsDirectory;
      return kReasonNone;
    }
    if (entryId < id)
      lo = mid + 1;
    else
      hi = mid;
  }
  return kReasonNoVersionResource;
}

// The first data entry of a language directory, named entries first. A
// directory of nothing but subdirectories has a fourth level, which the
// tree does not have.
NoVersionReason FirstDataEntry(ByteSource *src, uint64_t dir,
                               uint32_t *target) {
  ResourceDirectory d;
  if (!ReadResourceDirectory(src, dir, &d))
    return kReasonMalformedDirectory;
  uint32_t total = uint32_t{d.named} + d.ids;
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t data;
    if (!ReadLe32(src,
                  d.entries + uint64_t{kResEntrySize} * i +
                      kResEntryOffsetToData,
                  &data))
      return kReasonMalformedDirectory;
    if ((data & kResDataIsDirectory) == 0) {
      *target = data;
      return kReasonNone;
    }
  }
  return total == 0 ? kReasonNoVersionResource : kReasonMalformedDirectory;
}

// The file offset of the resource tree's root, from the headers' resource
// directory entry.
NoVersionReason FindResourceRoot(ByteSource *src, const PeImage &image,
                                 uint64_t *root) {
  PeDirectory entry;
  switch (FindPeDirectory(image, kPeDirectoryEntryResource, &entry)) {
  case kDirectoryPresent:
    break;
  case kDirectoryAbsent:
    return kReasonNoResourceDirectory;
  case kDirectoryCut:
    return kReasonTruncatedHeaders;
  }
  if (entry.rva == 0 || entry.size == 0)
    return kReasonNoResourceDirectory;
  return FromMapping(MapPeDirectoryRva(src, image, entry.rva, root),
                     kReasonMalformedDirectory);
}

// The id of every entry of a language directory that points at data, in
// directory order; named entries carry no id and are left out. At most
// 65,535 entries of 8 bytes: the walk is bounded by the counts.
void ListLanguageEntries(ByteSource *src, uint64_t dir,
                         std::vector<uint16_t> *languages) {
  ResourceDirectory d;
  if (!ReadResourceDirectory(src, dir, &d))
    return;
  for (uint32_t i = 0; i < d.ids; ++i) {
    unsigned char entry[kResEntrySize];
    if (!ReadAt(src, d.idEntries + uint64_t{kResEntrySize} * i, entry,
                sizeof entry))
      return; // a directory cut short lists what it holds
    if ((Le32(entry + kResEntryOffsetToData) & kResDataIsDirectory) == 0)
      languages->push_back(Le16(entry + kResEntryId));
  }
}

// A PE image's resource root and the language directory of its version
// resource (type 16, name 1): where the search and both language lists
// start from.
NoVersionReason FindVersionLanguageDir(ByteSource *src, const PeImage &image,
                                       uint64_t *root, uint32_t *languageDir) {
  uint32_t nameDir;
  NoVersionReason why = FindResourceRoot(src, image, root);
  if (why == kReasonNone)
    why = FindIdEntry(src, *root, kVersionType, true, &nameDir);
  if (why == kReasonNone)
    why = FindIdEntry(src, *root + nameDir, kVersionName, true, languageDir);
  return why;
}

NoVersionReason LocatePe(ByteSource *src, const PeImage &image,
                         VersionResource *res,
                         std::vector<uint16_t> *languageList) {
  // Offsets inside the resource tree count from its root in the flat file;
  // only the final data pointer is an RVA again. Three fixed levels: type,
  // name, language, so the walk cannot loop.
  uint64_t root;
  uint32_t languageDir, dataEntry;
  NoVersionReason why = FindVersionLanguageDir(src, image, &root, &languageDir);
  if (why != kReasonNone)
    return why;
  uint64_t languages = root + languageDir;
  // Listed while the directory is at hand, before the choice is made.
  if (languageList != nullptr)
    ListLanguageEntries(src, languages, languageList);
  // US-English Windows tries neutral, en-US, then English, then the first.
  static const uint16_t kLanguageOrder[] = {0x0000, 0x0409, 0x0009};
  // Whatever stops a preferred language's lookup, the first entry is
  // still the fallback.
  bool found = false;
  for (uint16_t language : kLanguageOrder)
    if (FindIdEntry(src, languages, language, false, &dataEntry) ==
        kReasonNone) {
      found = true;
      break;
    }
  if (!found) {
    why = FirstDataEntry(src, languages, &dataEntry);
    if (why != kReasonNone)
      return why;
  }
  uint32_t dataRva, dataSize;
  uint64_t dataOffset;
  if (!ReadLe32(src, root + dataEntry + kResDataOffsetToData, &dataRva) ||
      !ReadLe32(src, root + dataEntry + kResDataSize, &dataSize))
    return kReasonMalformedDirectory;
  if (dataSize == 0)
    return kReasonEmptyResource;
  why = FromMapping(MapPeDataRva(src, image, dataRva, &dataOffset),
                    kReasonResourceOutsideFile);
  if (why != kReasonNone)
    return why;
  // A block's length is a 16-bit field; nothing past 64 KiB is ever read.
  uint32_t wanted =
      dataSize < kMaxVersionResource ? dataSize : kMaxVersionResource;
  if (dataOffset > src->size || wanted > src->size - dataOffset)
    return kReasonResourceOutsideFile; // runs past the end of the file
  res->offset = dataOffset;
  res->size = wanted;
  res->format = kImagePe;
  return kReasonNone;
}

// Keeps what the file holds of a block that starts at offset and claims
// length bytes; only its start must lie inside the file.
NoVersionReason ClampToFile(ByteSource *src, uint64_t offset, uint64_t length,
                            VersionResource *res) {
  if (length == 0)
    return kReasonEmptyResource;
  if (offset >= src->size)
    return kReasonResourceOutsideFile;
  uint64_t available = src->size - offset;
  if (length > available)
    length = available;
  if (length > kMaxVersionResource)
    length = kMaxVersionResource;
  res->offset = offset;
  res->size = static_cast<uint32_t>(length);
  return kReasonNone;
}

// 16-bit Windows: the resource table lists types, each followed by its
// resources; offsets and lengths count in units of 1 << rscAlignShift.
NoVersionReason LocateNe(ByteSource *src, uint64_t neHeader,
                         VersionResource *res) {
  uint16_t tableOffset, residentNames;
  if (!ReadLe16(src, neHeader + kNeRsrcTab, &tableOffset) ||
      !ReadLe16(src, neHeader + kNeResTab, &residentNames))
    return kReasonTruncatedHeaders;
  // The resident names follow the resource table at once: none between
  // them is an empty table, and names before it leave it no room.
  if (residentNames == tableOffset)
    return kReasonNoResourceDirectory;
  if (residentNames < tableOffset)
    return kReasonMalformedDirectory;
  uint64_t table = neHeader + tableOffset;
  uint64_t tableEnd = neHeader + residentNames;
  uint16_t shift;
  if (!ReadLe16(src, table + kNeRscAlignShift, &shift) || shift > 31)
    return kReasonMalformedDirectory; // a larger shift overflows any offset
  const uint16_t kNeVersionType = kNeIntegerId | kVersionType;
  const uint16_t kNeVersionName = kNeIntegerId | kVersionName;
  uint64_t pos = table + kNeRscAlignShiftSize;
  // Every step stays inside the table, so a missing terminator or a huge
  // count ends the walk at the table's end, and the table is malformed.
  // The terminator is a zero rtTypeID alone, which may end the table
  // short of a whole TYPEINFO.
  for (;;) {
    uint16_t typeId, count;
    if (pos + sizeof typeId > tableEnd ||
        !ReadLe16(src, pos + kNeRtTypeId, &typeId))
      return kReasonMalformedDirectory;
    if (typeId == 0)
      return kReasonNoVersionResource;
    if (pos + kNeTypeInfoSize > tableEnd ||
        !ReadLe16(src, pos + kNeRtResourceCount, &count))
      return kReasonMalformedDirectory;
    pos += kNeTypeInfoSize;
    if (typeId != kNeVersionType) {
      pos += uint64_t{kNeNameInfoSize} * count;
      continue;
    }
    uint16_t i = 0;
    for (; i < count && pos + kNeNameInfoSize <= tableEnd;
         ++i, pos += kNeNameInfoSize) {
      unsigned char name[kNeNameInfoSize];
      if (!ReadAt(src, pos, name, sizeof name))
        return kReasonMalformedDirectory;
      if (Le16(name + kNeRnId) != kNeVersionName)
        continue;
      uint64_t offset = uint64_t{Le16(name + kNeRnOffset)} << shift;
      uint64_t length = uint64_t{Le16(name + kNeRnLength)} << shift;
      // Past what the format's 32 bits can reach, so past any file it
      // describes; computed in 32 bits it would wrap instead.
      if (offset > 0xFFFFFFFFu || length > 0xFFFFFFFFu)
        return kReasonResourceOutsideFile;
      NoVersionReason why = ClampToFile(src, offset, length, res);
      if (why == kReasonNone)
        res->format = kImageNe;
      return why;
    }
    return i == count ? kReasonNoVersionResource : kReasonMalformedDirectory;
  }
}

// A Windows 9x virtual device: the LE header points straight at a 16-bit
// version resource behind a small resource header of its own: 0xFF, the
// type (16), 0xFF, the name (1), flags, and the block's size.
NoVersionReason LocateLe(ByteSource *src, uint64_t leHeader,
                         VersionResource *res) {
  uint32_t offset, length;
  if (!ReadLe32(src, leHeader + kLeWinResOff, &offset) ||
      !ReadLe32(src, leHeader + kLeWinResLen, &length))
    return kReasonTruncatedHeaders;
  if (length == 0)
    return kReasonNoVersionResource; // a VxD without one says so
  if (length < kLeResHeaderSize)
    return kReasonMalformedDirectory; // not even the header fits
  if (length == kLeResHeaderSize)
    return kReasonEmptyResource;
  unsigned char header[kLeResHeaderSize];
  if (!ReadAt(src, offset, header, sizeof header))
    return kReasonResourceOutsideFile;
  if (header[kLeResTypeMarker] != kLeResNumericMarker ||
      Le16(header + kLeResType) != kVersionType ||
      header[kLeResNameMarker] != kLeResNumericMarker ||
      Le16(header + kLeResName) != kVersionName)
    return kReasonNoVersionResource;
  uint32_t size = Le32(header + kLeResSize);
  if (size > length - kLeResHeaderSize)
    size = length - kLeResHeaderSize;
  NoVersionReason why =
      ClampToFile(src, uint64_t{offset} + kLeResHeaderSize, size, res);
  if (why == kReasonNone)
    res->format = kImageLe;
  return why;
}

// Whether a PE image is a program or DLL with code of its own: marked
// executable, with an entry point, exports or a CLI header (a .NET image
// for x64 or ARM64 has no entry point). A field the file cuts off counts
// as zero.
bool CarriesCode(const PeImage &image) {
  if ((image.characteristics & kPeExecutableImage) == 0)
    return false;
  if (image.entryPoint != 0)
    return true;
  for (uint32_t index : {kPeDirectoryEntryExport, kPeDirectoryEntryCli}) {
    PeDirectory entry;
    if (FindPeDirectory(image, index, &entry) == kDirectoryPresent &&
        entry.size != 0)
      return true;
  }
  return false;
}

NoVersionReason Locate(ByteSource *src, const PeImage &image,
                       VersionResource *res, std::vector<uint16_t> *languages) {
  if (image.state != kHeadersOk)
    return FromHeaders(image.state);
  if (image.format == kImageNe)
    return LocateNe(src, image.newHeader, res);
  if (image.format == kImageLe)
    return LocateLe(src, image.newHeader, res);
  return LocatePe(src, image, res, languages);
}

// The reason a search that read the file gives: whatever step a failed
// read stopped at, the bytes it would have read are in the file, so the
// file, not its layout, is what went wrong.
NoVersionReason UnlessReadFailed(const ByteSource *src, uint32_t failedBefore,
                                 NoVersionReason why) {
  return why != kReasonNone && src->failedReads != failedBefore
             ? kReasonReadFailed
             : why;
}

} // namespace

const char *NoVersionReasonName(NoVersionReason why) {
  switch (why) {
  case kReasonNone:
    return "none";
  case kReasonNoMzHeader:
    return "no-mz-header";
  case kReasonNewHeaderOutsideFile:
    return "new-header-outside-file";
  case kReasonUnknownSignature:
    return "unknown-signature";
  case kReasonTruncatedHeaders:
    return "truncated-headers";
  case kReasonUnknownOptionalHeader:
    return "unknown-optional-header";
  case kReasonNoResourceDirectory:
    return "no-resource-directory";
  case kReasonMalformedDirectory:
    return "malformed-directory";
  case kReasonNoVersionResource:
    return "no-version-resource";
  case kReasonEmptyResource:
    return "empty-resource";
  case kReasonResourceOutsideFile:
    return "resource-outside-file";
  case kReasonBlockTooShort:
    return "block-too-short";
  case kReasonReadFailed:
    return "read-failed";
  }
  return "unknown";
}

NoVersionReason LocateVersionResource(ByteSource *src, VersionResource *res) {
  PeImage image;
  ReadPeImage(src, &image);
  return LocateVersionResource(src, image, res);
}

NoVersionReason LocateVersionResource(ByteSource *src, const PeImage &image,
                                      VersionResource *res) {
  return LocateAndDescribe(src, image, res, nullptr, nullptr);
}

NoVersionReason LocateAndDescribe(ByteSource *src, const PeImage &image,
                                  VersionResource *res, ImageInfo *info,
                                  std::vector<uint16_t> *languages) {
  uint32_t failed = src->failedReads;
  if (info != nullptr)
    ImageInfoFromHeaders(image, info);
  if (languages != nullptr)
    languages->clear();
  return UnlessReadFailed(src, failed, Locate(src, image, res, languages));
}

ImageResult ReadImageInfo(ByteSource *src, ImageInfo *info) {
  PeImage image;
  ReadPeImage(src, &image);
  return ImageInfoFromHeaders(image, info);
}

ImageResult ImageInfoFromHeaders(const PeImage &image, ImageInfo *info) {
  *info = ImageInfo();
  if (image.state == kHeadersReadFailed)
    return kImageReadFailed;
  // The kind and the machine need no more than the optional header's
  // magic; the rest of it may be cut off.
  if (image.format == kImagePe &&
      (image.state == kHeadersOk || image.state == kHeadersOptionalCut)) {
    info->kind = image.magic == kPeMagicPe32 ? kKindPe32 : kKindPe32Plus;
    info->machine = image.machine;
    info->code = CarriesCode(image);
    return kImageKnown;
  }
  if (image.state != kHeadersOk)
    return kImageUnknown;
  info->kind = image.format == kImageNe ? kKindNe : kKindLe;
  return kImageKnown;
}

NoVersionReason ListVersionLanguages(ByteSource *src,
                                     std::vector<uint16_t> *languages) {
  PeImage image;
  ReadPeImage(src, &image);
  return ListVersionLanguages(src, image, languages);
}

namespace {

// Where a PE image's version resource keeps its languages, or why it has
// no such directory.
NoVersionReason FindLanguages(ByteSource *src, const PeImage &image,
                              uint64_t *dir, uint64_t *root) {
  if (image.state != kHeadersOk)
    return FromHeaders(image.state);
  if (image.format != kImagePe)
    return kReasonNoVersionResource; // a 16-bit image lists none
  uint32_t languageDir;
  NoVersionReason why = FindVersionLanguageDir(src, image, root, &languageDir);
  *dir = *root + languageDir;
  return why;
}

} // namespace

NoVersionReason ListVersionLanguages(ByteSource *src, const PeImage &image,
                                     std::vector<uint16_t> *languages) {
  languages->clear();
  uint32_t failed = src->failedReads;
  uint64_t dir = 0, root = 0;
  NoVersionReason why = FindLanguages(src, image, &dir, &root);
  if (why == kReasonNone)
    ListLanguageEntries(src, dir, languages);
  // A list cut short by a failed read is not the file's whole list.
  return src->failedReads != failed ? kReasonReadFailed : why;
}

namespace {

// The fixed record at the front of one language's version resource, whose
// IMAGE_RESOURCE_DATA_ENTRY is at entry. The record follows the root's header
// and key; the few hundred bytes read hold it whatever the key.
void ReadLanguageVersion(ByteSource *src, const PeImage &image, uint64_t entry,
                         LanguageVersion *out) {
  out->hasFixed = false;
  uint32_t rva, size;
  uint64_t offset;
  if (!ReadLe32(src, entry + kResDataOffsetToData, &rva) ||
      !ReadLe32(src, entry + kResDataSize, &size) ||
      MapPeDataRva(src, image, rva, &offset) != kRvaMapped)
    return;
  unsigned char head[256];
  size_t length = size < sizeof head ? size : sizeof head;
  if (offset > src->size || length > src->size - offset ||
      !ReadAt(src, offset, head, length))
    return;
  ByteSource block;
  InitMemorySource(&block, head, length);
  size_t extent;
  bool ansi;
  VersionNode root;
  if (!ReadBlockHeader(&block, &extent, &ansi) || ansi ||
      !ParseVersionNode(&block, 0, length, false, &root) ||
      root.valueLength < kFixedRecordSize || root.valueStart > length ||
      length - root.valueStart < kFixedRecordSize)
    return;
  const unsigned char *fixed = head + root.valueStart;
  out->fileMs = Le32(fixed + 8);
  out->fileLs = Le32(fixed + 12);
  out->productMs = Le32(fixed + 16);
  out->productLs = Le32(fixed + 20);
  out->hasFixed = true;
}

} // namespace

NoVersionReason ListLanguageVersions(ByteSource *src,
                                     std::vector<LanguageVersion> *versions) {
  PeImage image;
  ReadPeImage(src, &image);
  return ListLanguageVersions(src, image, versions);
}

NoVersionReason ListLanguageVersions(ByteSource *src, const PeImage &image,
                                     std::vector<LanguageVersion> *versions) {
  versions->clear();
  uint32_t failed = src->failedReads;
  uint64_t dir = 0, root = 0;
  NoVersionReason why = FindLanguages(src, image, &dir, &root);
  ResourceDirectory d;
  if (why != kReasonNone || !ReadResourceDirectory(src, dir, &d))
    return src->failedReads != failed ? kReasonReadFailed : why;
  for (uint32_t i = 0; i < d.ids && versions->size() < kMaxLanguageVersions;
       ++i) {
    unsigned char entry[kResEntrySize];
    if (!ReadAt(src, d.idEntries + uint64_t{kResEntrySize} * i, entry,
                sizeof entry))
      break;
    uint32_t data = Le32(entry + kResEntryOffsetToData);
    if ((data & kResDataIsDirectory) != 0)
      continue;
    LanguageVersion version = LanguageVersion();
    version.language = Le16(entry + kResEntryId);
    ReadLanguageVersion(src, image, root + data, &version);
    versions->push_back(version);
  }
  return src->failedReads != failed ? kReasonReadFailed : kReasonNone;
}

ImageResult DescribeImage(ByteSource *src, ImageInfo *info,
                          std::vector<uint16_t> *languages) {
  PeImage image;
  ReadPeImage(src, &image);
  return DescribeImage(src, image, info, languages);
}

ImageResult DescribeImage(ByteSource *src, const PeImage &image,
                          ImageInfo *info, std::vector<uint16_t> *languages) {
  languages->clear();
  ImageResult result = ImageInfoFromHeaders(image, info);
  if (result != kImageKnown)
    return result;
  if ((info->kind == kKindPe32 || info->kind == kKindPe32Plus) &&
      ListVersionLanguages(src, image, languages) == kReasonReadFailed)
    return kImageReadFailed; // the kind stands; the list may be cut short
  return kImageKnown;
}
