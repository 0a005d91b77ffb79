#include "exe_locate.h"

#include <string.h>

#include "exe_layout.h"
#include "version_block.h"
#include "version_walk.h"

namespace {

const uint16_t kVersionType = 16; // RT_VERSION
const uint16_t kVersionName = 1;  // VS_VERSION_INFO

// What the signature at e_lfanew says.
enum NewHeader { kNewHeaderPe, kNewHeaderNe, kNewHeaderLe };

struct PeImage {
  uint64_t sectionTable; // file offset of the first IMAGE_SECTION_HEADER
  uint32_t sectionCount;
  uint32_t sizeOfHeaders;
};

// Maps an RVA to a file offset the way a data-file mapping does: through
// the first section whose raw data covers it, unrounded. With headersToo,
// an RVA inside the headers is its own offset (directory lookups only).
// An RVA that no section covers is `unmapped`, which the caller names.
NoVersionReason RvaToOffset(ByteSource *src, const PeImage &pe, uint32_t rva,
                            bool headersToo, NoVersionReason unmapped,
                            uint64_t *offset) {
  if (headersToo && rva < pe.sizeOfHeaders) {
    *offset = rva;
    return kReasonNone;
  }
  // The table lies in the window of the headers nearly always: read there.
  const unsigned char *table = ViewAt(
      src, pe.sectionTable, uint64_t{kPeSectionHeaderSize} * pe.sectionCount);
  for (uint32_t i = 0; i < pe.sectionCount; ++i) {
    unsigned char copy[kPeSectionHeaderSize];
    const unsigned char *sec =
        table != nullptr ? table + size_t{kPeSectionHeaderSize} * i : copy;
    if (table == nullptr &&
        !ReadAt(src, pe.sectionTable + uint64_t{kPeSectionHeaderSize} * i, copy,
                sizeof copy))
      return kReasonTruncatedHeaders;
    uint32_t virtualAddress = Le32(sec + kPeSectionVirtualAddress);
    uint32_t rawSize = Le32(sec + kPeSectionSizeOfRawData);
    uint32_t rawPointer = Le32(sec + kPeSectionPointerToRawData);
    if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
      *offset = uint64_t{rawPointer} + (rva - virtualAddress);
      return kReasonNone;
    }
  }
  return unmapped;
}

// Looks an integer id up among a resource directory's id entries by binary
// search, as the loader does (an unsorted directory can hide an entry).
// The entry must be of the wanted kind: one of the other kind is found but
// unusable, a directory that contradicts the tree's three levels.
NoVersionReason FindIdEntry(ByteSource *src, uint64_t dir, uint16_t id,
                            bool wantDir, uint32_t *target) {
  uint16_t named, ids;
  if (!ReadLe16(src, dir + kResNumberOfNamedEntries, &named) ||
      !ReadLe16(src, dir + kResNumberOfIdEntries, &ids))
    return kReasonMalformedDirectory;
  uint64_t first = dir + kResDirectorySize + uint64_t{kResEntrySize} * named;
  uint32_t lo = 0, hi = ids;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    unsigned char entry[kResEntrySize];
    if (!ReadAt(src, first + uint64_t{kResEntrySize} * mid, entry,
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
  uint16_t named, ids;
  if (!ReadLe16(src, dir + kResNumberOfNamedEntries, &named) ||
      !ReadLe16(src, dir + kResNumberOfIdEntries, &ids))
    return kReasonMalformedDirectory;
  uint32_t total = uint32_t{named} + ids;
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t data;
    if (!ReadLe32(src,
                  dir + kResDirectorySize + uint64_t{kResEntrySize} * i +
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

// Reads the PE headers up to the resource directory: the section table
// and the file offset of the resource tree's root.
NoVersionReason OpenPeResources(ByteSource *src, uint64_t ntHeader, PeImage *pe,
                                uint64_t *root) {
  unsigned char fileHeader[kPeFileHeaderSize];
  if (!ReadAt(src, ntHeader + kPeFileHeader, fileHeader, sizeof fileHeader))
    return kReasonTruncatedHeaders;
  pe->sectionCount = Le16(fileHeader + kPeNumberOfSections);
  uint16_t optionalSize = Le16(fileHeader + kPeSizeOfOptionalHeader);
  uint64_t optional = ntHeader + kPeOptionalHeader;
  pe->sectionTable = optional + optionalSize;

  uint16_t magic;
  if (!ReadLe16(src, optional + kPeMagic, &magic))
    return kReasonTruncatedHeaders;
  uint64_t countField, directories;
  if (magic == kPeMagicPe32) {
    countField = optional + kPe32NumberOfRvaAndSizes;
    directories = optional + kPe32DataDirectory;
  } else if (magic == kPeMagicPe32Plus) {
    countField = optional + kPe32PlusNumberOfRvaAndSizes;
    directories = optional + kPe32PlusDataDirectory;
  } else {
    return kReasonUnknownOptionalHeader;
  }
  uint64_t resourceEntry =
      directories + kPeDataDirectorySize * kPeDirectoryEntryResource;
  uint32_t rvaCount, resourceRva, resourceSize;
  if (!ReadLe32(src, optional + kPeSizeOfHeaders, &pe->sizeOfHeaders) ||
      !ReadLe32(src, countField, &rvaCount))
    return kReasonTruncatedHeaders;
  if (rvaCount <= kPeDirectoryEntryResource)
    return kReasonNoResourceDirectory;
  if (!ReadLe32(src, resourceEntry + kPeDataDirectoryVirtualAddress,
                &resourceRva) ||
      !ReadLe32(src, resourceEntry + kPeDataDirectorySizeField, &resourceSize))
    return kReasonTruncatedHeaders;
  if (resourceRva == 0 || resourceSize == 0)
    return kReasonNoResourceDirectory;
  return RvaToOffset(src, *pe, resourceRva, true, kReasonMalformedDirectory,
                     root);
}

// The id of every entry of a language directory that points at data, in
// directory order; named entries carry no id and are left out. At most
// 65,535 entries of 8 bytes: the walk is bounded by the counts.
void ListLanguageEntries(ByteSource *src, uint64_t dir,
                         std::vector<uint16_t> *languages) {
  uint16_t named, ids;
  if (!ReadLe16(src, dir + kResNumberOfNamedEntries, &named) ||
      !ReadLe16(src, dir + kResNumberOfIdEntries, &ids))
    return;
  uint64_t first = dir + kResDirectorySize + uint64_t{kResEntrySize} * named;
  for (uint32_t i = 0; i < ids; ++i) {
    unsigned char entry[kResEntrySize];
    if (!ReadAt(src, first + uint64_t{kResEntrySize} * i, entry, sizeof entry))
      return; // a directory cut short lists what it holds
    if ((Le32(entry + kResEntryOffsetToData) & kResDataIsDirectory) == 0)
      languages->push_back(Le16(entry + kResEntryId));
  }
}

// Finds the new-style header an MZ image points at and reads its first
// four bytes, which tell PE, NE and LE apart, and which of them it is.
NoVersionReason ReadNewHeader(ByteSource *src, uint32_t *newHeader,
                              NewHeader *kind) {
  unsigned char dos[kDosHeaderSize];
  if (!ReadAt(src, 0, dos, sizeof dos) || dos[kDosMagic] != 'M' ||
      dos[kDosMagic + 1] != 'Z')
    return kReasonNoMzHeader;
  *newHeader = Le32(dos + kDosLfanew);
  unsigned char signature[kNewSignatureSize];
  if (!ReadAt(src, *newHeader, signature, kNewSignatureSize))
    return kReasonNewHeaderOutsideFile;
  if (memcmp(signature, "PE\0\0", kNewSignatureSize) == 0)
    *kind = kNewHeaderPe;
  else if (signature[0] == 'N' && signature[1] == 'E')
    *kind = kNewHeaderNe;
  else if (signature[0] == 'L' && signature[1] == 'E')
    *kind = kNewHeaderLe;
  else
    return kReasonUnknownSignature;
  return kReasonNone;
}

NoVersionReason LocatePe(ByteSource *src, uint64_t ntHeader,
                         VersionResource *res,
                         std::vector<uint16_t> *languageList) {
  PeImage pe;
  uint64_t root;
  NoVersionReason why = OpenPeResources(src, ntHeader, &pe, &root);
  if (why != kReasonNone)
    return why;
  // Offsets inside the resource tree count from its root in the flat file;
  // only the final data pointer is an RVA again. Three fixed levels: type,
  // name, language, so the walk cannot loop.
  uint32_t nameDir, languageDir, dataEntry;
  why = FindIdEntry(src, root, kVersionType, true, &nameDir);
  if (why == kReasonNone)
    why = FindIdEntry(src, root + nameDir, kVersionName, true, &languageDir);
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
  why = RvaToOffset(src, pe, dataRva, false, kReasonResourceOutsideFile,
                    &dataOffset);
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
// executable, with an entry point, exports or a CLR header (a .NET image
// for x64 or ARM64 has no entry point). The headers are read from the
// window the kind was told from; a field the file cuts off counts as zero.
bool CarriesCode(ByteSource *src, uint32_t newHeader, uint16_t magic) {
  uint64_t optional = uint64_t{newHeader} + kPeOptionalHeader;
  uint16_t characteristics = 0;
  uint32_t entry = 0, count = 0;
  ReadLe16(src, uint64_t{newHeader} + kPeFileHeader + kPeCharacteristics,
           &characteristics);
  if ((characteristics & kPeExecutableImage) == 0)
    return false;
  ReadLe32(src, optional + kPeAddressOfEntryPoint, &entry);
  if (entry != 0)
    return true;
  bool pe32 = magic == kPeMagicPe32;
  ReadLe32(src,
           optional +
               (pe32 ? kPe32NumberOfRvaAndSizes : kPe32PlusNumberOfRvaAndSizes),
           &count);
  uint64_t directories =
      optional + (pe32 ? kPe32DataDirectory : kPe32PlusDataDirectory);
  for (uint32_t index : {kPeDirectoryEntryExport, kPeDirectoryEntryClr}) {
    uint32_t size = 0;
    if (index < count)
      ReadLe32(src,
               directories + kPeDataDirectorySize * index +
                   kPeDataDirectorySizeField,
               &size);
    if (size != 0)
      return true;
  }
  return false;
}

NoVersionReason Locate(ByteSource *src, VersionResource *res,
                       std::vector<uint16_t> *languages) {
  uint32_t newHeader;
  NewHeader kind;
  NoVersionReason why = ReadNewHeader(src, &newHeader, &kind);
  if (why != kReasonNone)
    return why;
  if (kind == kNewHeaderNe)
    return LocateNe(src, newHeader, res);
  if (kind == kNewHeaderLe)
    return LocateLe(src, newHeader, res);
  return LocatePe(src, newHeader, res, languages);
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

StatusCode LocateVersionResource(ByteSource *src, VersionResource *res) {
  return LocateAndDescribe(src, res, nullptr, nullptr);
}

StatusCode LocateVersionResourceWhy(ByteSource *src, VersionResource *res,
                                    NoVersionReason *why) {
  return LocateAndDescribe(src, res, nullptr, nullptr, why);
}

StatusCode LocateAndDescribe(ByteSource *src, VersionResource *res,
                             ImageInfo *info, std::vector<uint16_t> *languages,
                             NoVersionReason *why) {
  // A failure from here on is this file's, whatever came before.
  src->readFailed = false;
  // The headers are read again just below, from the same window.
  if (info != nullptr)
    ReadImageInfo(src, info);
  if (languages != nullptr)
    languages->clear();
  NoVersionReason reason = Locate(src, res, languages);
  // Whatever step a failed read stopped at, the bytes it would have read
  // are in the file: the file, not its layout, is what went wrong.
  if (reason != kReasonNone && src->readFailed)
    reason = kReasonReadFailed;
  if (why != nullptr)
    *why = reason;
  return reason == kReasonNone ? kStatusOk : kStatusNoVersionInfo;
}

StatusCode ReadImageInfo(ByteSource *src, ImageInfo *info) {
  *info = ImageInfo();
  uint32_t newHeader;
  NewHeader kind;
  if (ReadNewHeader(src, &newHeader, &kind) != kReasonNone)
    return kStatusNotExecutable;
  if (kind == kNewHeaderPe) {
    uint16_t machine, magic;
    if (!ReadLe16(src, uint64_t{newHeader} + kPeFileHeader + kPeMachine,
                  &machine) ||
        !ReadLe16(src, uint64_t{newHeader} + kPeOptionalHeader + kPeMagic,
                  &magic))
      return kStatusNotExecutable;
    if (magic != kPeMagicPe32 && magic != kPeMagicPe32Plus)
      return kStatusNotExecutable;
    info->kind = magic == kPeMagicPe32 ? kKindPe32 : kKindPe32Plus;
    info->machine = machine;
    info->code = CarriesCode(src, newHeader, magic);
    return kStatusOk;
  }
  info->kind = kind == kNewHeaderNe ? kKindNe : kKindLe;
  return kStatusOk;
}

namespace {

// A PE image's resource root and the language directory of its version
// resource (type 16, name 1): what both language lists start from.
bool FindVersionLanguageDir(ByteSource *src, PeImage *pe, uint64_t *root,
                            uint32_t *languageDir) {
  uint32_t newHeader, nameDir;
  NewHeader kind;
  return ReadNewHeader(src, &newHeader, &kind) == kReasonNone &&
         kind == kNewHeaderPe &&
         OpenPeResources(src, newHeader, pe, root) == kReasonNone &&
         FindIdEntry(src, *root, kVersionType, true, &nameDir) == kReasonNone &&
         FindIdEntry(src, *root + nameDir, kVersionName, true, languageDir) ==
             kReasonNone;
}

} // namespace

StatusCode ListVersionLanguages(ByteSource *src,
                                std::vector<uint16_t> *languages) {
  languages->clear();
  PeImage pe;
  uint64_t root;
  uint32_t languageDir;
  if (!FindVersionLanguageDir(src, &pe, &root, &languageDir))
    return kStatusNoVersionInfo;
  ListLanguageEntries(src, root + languageDir, languages);
  return kStatusOk;
}

namespace {

// The fixed record at the front of one language's version resource, whose
// IMAGE_RESOURCE_DATA_ENTRY is at entry. The record follows the root's header
// and key; the few hundred bytes read hold it whatever the key.
void ReadLanguageVersion(ByteSource *src, const PeImage &pe, uint64_t entry,
                         LanguageVersion *out) {
  out->hasFixed = false;
  uint32_t rva, size;
  uint64_t offset;
  if (!ReadLe32(src, entry + kResDataOffsetToData, &rva) ||
      !ReadLe32(src, entry + kResDataSize, &size) ||
      RvaToOffset(src, pe, rva, false, kReasonResourceOutsideFile, &offset) !=
          kReasonNone)
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

StatusCode ListLanguageVersions(ByteSource *src,
                                std::vector<LanguageVersion> *versions) {
  versions->clear();
  PeImage pe;
  uint64_t root;
  uint32_t languageDir;
  if (!FindVersionLanguageDir(src, &pe, &root, &languageDir))
    return kStatusNoVersionInfo;
  uint64_t dir = root + languageDir;
  uint16_t named, ids;
  if (!ReadLe16(src, dir + kResNumberOfNamedEntries, &named) ||
      !ReadLe16(src, dir + kResNumberOfIdEntries, &ids))
    return kStatusOk;
  uint64_t first = dir + kResDirectorySize + uint64_t{kResEntrySize} * named;
  for (uint32_t i = 0; i < ids && versions->size() < kMaxLanguageVersions;
       ++i) {
    unsigned char entry[kResEntrySize];
    if (!ReadAt(src, first + uint64_t{kResEntrySize} * i, entry, sizeof entry))
      break;
    uint32_t data = Le32(entry + kResEntryOffsetToData);
    if ((data & kResDataIsDirectory) != 0)
      continue;
    LanguageVersion version = LanguageVersion();
    version.language = Le16(entry + kResEntryId);
    ReadLanguageVersion(src, pe, root + data, &version);
    versions->push_back(version);
  }
  return kStatusOk;
}

StatusCode DescribeImage(ByteSource *src, ImageInfo *info,
                         std::vector<uint16_t> *languages) {
  languages->clear();
  if (ReadImageInfo(src, info) != kStatusOk)
    return kStatusNotExecutable;
  if (info->kind == kKindPe32 || info->kind == kKindPe32Plus)
    ListVersionLanguages(src, languages);
  return kStatusOk;
}

bool ReadPeHeaders(ByteSource *src, PeHeaders *pe) {
  uint32_t newHeader;
  NewHeader kind;
  if (ReadNewHeader(src, &newHeader, &kind) != kReasonNone ||
      kind != kNewHeaderPe)
    return false;
  unsigned char fileHeader[kPeFileHeaderSize];
  uint64_t optional = uint64_t{newHeader} + kPeOptionalHeader;
  uint16_t magic;
  if (!ReadAt(src, uint64_t{newHeader} + kPeFileHeader, fileHeader,
              sizeof fileHeader) ||
      !ReadLe16(src, optional + kPeMagic, &magic))
    return false;
  pe->sectionCount = Le16(fileHeader + kPeNumberOfSections);
  pe->sectionTable = optional + Le16(fileHeader + kPeSizeOfOptionalHeader);
  pe->characteristics = Le16(fileHeader + kPeCharacteristics);
  uint64_t countField;
  if (magic == kPeMagicPe32) {
    countField = optional + kPe32NumberOfRvaAndSizes;
    pe->directories = optional + kPe32DataDirectory;
  } else if (magic == kPeMagicPe32Plus) {
    countField = optional + kPe32PlusNumberOfRvaAndSizes;
    pe->directories = optional + kPe32PlusDataDirectory;
  } else {
    return false;
  }
  return ReadLe32(src, optional + kPeSizeOfHeaders, &pe->sizeOfHeaders) &&
         ReadLe32(src, countField, &pe->directoryCount);
}

bool ReadPeDirectory(ByteSource *src, const PeHeaders &pe, uint32_t index,
                     uint32_t *rva, uint32_t *size) {
  if (index >= pe.directoryCount)
    return false;
  uint64_t entry = pe.directories + uint64_t{kPeDataDirectorySize} * index;
  return ReadLe32(src, entry + kPeDataDirectoryVirtualAddress, rva) &&
         ReadLe32(src, entry + kPeDataDirectorySizeField, size);
}

bool MapPeRva(ByteSource *src, const PeHeaders &pe, uint32_t rva,
              uint64_t *offset) {
  PeImage image = {pe.sectionTable, pe.sectionCount, pe.sizeOfHeaders};
  return RvaToOffset(src, image, rva, true, kReasonMalformedDirectory,
                     offset) == kReasonNone;
}
