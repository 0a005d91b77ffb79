#include "exe_locate.h"

#include <string.h>

#include "exe_layout.h"

namespace {

const uint16_t kVersionType = 16; // RT_VERSION
const uint16_t kVersionName = 1;  // VS_VERSION_INFO

struct PeImage {
  uint64_t sectionTable; // file offset of the first IMAGE_SECTION_HEADER
  uint32_t sectionCount;
  uint32_t sizeOfHeaders;
};

// Maps an RVA to a file offset the way a data-file mapping does: through
// the first section whose raw data covers it, unrounded. With headersToo,
// an RVA inside the headers is its own offset (directory lookups only).
bool RvaToOffset(ByteSource *src, const PeImage &pe, uint32_t rva,
                 bool headersToo, uint64_t *offset) {
  if (headersToo && rva < pe.sizeOfHeaders) {
    *offset = rva;
    return true;
  }
  for (uint32_t i = 0; i < pe.sectionCount; ++i) {
    unsigned char sec[kPeSectionHeaderSize];
    if (!ReadAt(src, pe.sectionTable + uint64_t{kPeSectionHeaderSize} * i, sec,
                sizeof sec))
      return false;
    uint32_t virtualAddress = Le32(sec + kPeSectionVirtualAddress);
    uint32_t rawSize = Le32(sec + kPeSectionSizeOfRawData);
    uint32_t rawPointer = Le32(sec + kPeSectionPointerToRawData);
    if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
      *offset = uint64_t{rawPointer} + (rva - virtualAddress);
      return true;
    }
  }
  return false;
}

// Looks an integer id up among a resource directory's id entries by binary
// search, as the loader does (an unsorted directory can hide an entry).
// The entry must be of the wanted kind; one of the other kind is absent.
bool FindIdEntry(ByteSource *src, uint64_t dir, uint16_t id, bool wantDir,
                 uint32_t *target) {
  uint16_t named, ids;
  if (!ReadLe16(src, dir + kResNumberOfNamedEntries, &named) ||
      !ReadLe16(src, dir + kResNumberOfIdEntries, &ids))
    return false;
  uint64_t first = dir + kResDirectorySize + uint64_t{kResEntrySize} * named;
  uint32_t lo = 0, hi = ids;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    unsigned char entry[kResEntrySize];
    if (!ReadAt(src, first + uint64_t{kResEntrySize} * mid, entry,
                sizeof entry))
      return false;
    uint16_t entryId = Le16(entry + kResEntryId);
    if (entryId == id) {
      uint32_t data = Le32(entry + kResEntryOffsetToData);
      if (((data & kResDataIsDirectory) != 0) != wantDir)
        return false;
      *target = data & ~kResDataIsDirectory;
      return true;
    }
    if (entryId < id)
      lo = mid + 1;
    else
      hi = mid;
  }
  return false;
}

// The first data entry of a language directory, named entries first.
bool FirstDataEntry(ByteSource *src, uint64_t dir, uint32_t *target) {
  uint16_t named, ids;
  if (!ReadLe16(src, dir + kResNumberOfNamedEntries, &named) ||
      !ReadLe16(src, dir + kResNumberOfIdEntries, &ids))
    return false;
  uint32_t total = uint32_t{named} + ids;
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t data;
    if (!ReadLe32(src,
                  dir + kResDirectorySize + uint64_t{kResEntrySize} * i +
                      kResEntryOffsetToData,
                  &data))
      return false;
    if ((data & kResDataIsDirectory) == 0) {
      *target = data;
      return true;
    }
  }
  return false;
}

// Reads the PE headers up to the resource directory: the section table
// and the file offset of the resource tree's root. False when the image
// has no resource directory that can be reached.
bool OpenPeResources(ByteSource *src, uint64_t ntHeader, PeImage *pe,
                     uint64_t *root) {
  unsigned char fileHeader[kPeFileHeaderSize];
  if (!ReadAt(src, ntHeader + kPeFileHeader, fileHeader, sizeof fileHeader))
    return false;
  pe->sectionCount = Le16(fileHeader + kPeNumberOfSections);
  uint16_t optionalSize = Le16(fileHeader + kPeSizeOfOptionalHeader);
  uint64_t optional = ntHeader + kPeOptionalHeader;
  pe->sectionTable = optional + optionalSize;

  uint16_t magic;
  if (!ReadLe16(src, optional + kPeMagic, &magic))
    return false;
  uint64_t countField, directories;
  if (magic == kPeMagicPe32) {
    countField = optional + kPe32NumberOfRvaAndSizes;
    directories = optional + kPe32DataDirectory;
  } else if (magic == kPeMagicPe32Plus) {
    countField = optional + kPe32PlusNumberOfRvaAndSizes;
    directories = optional + kPe32PlusDataDirectory;
  } else {
    return false;
  }
  uint64_t resourceEntry =
      directories + kPeDataDirectorySize * kPeDirectoryEntryResource;
  uint32_t rvaCount, resourceRva, resourceSize;
  if (!ReadLe32(src, optional + kPeSizeOfHeaders, &pe->sizeOfHeaders) ||
      !ReadLe32(src, countField, &rvaCount) ||
      rvaCount <= kPeDirectoryEntryResource ||
      !ReadLe32(src, resourceEntry + kPeDataDirectoryVirtualAddress,
                &resourceRva) ||
      !ReadLe32(src, resourceEntry + kPeDataDirectorySizeField,
                &resourceSize) ||
      resourceRva == 0 || resourceSize == 0)
    return false;
  return RvaToOffset(src, *pe, resourceRva, true, root);
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
// four bytes, which tell PE, NE and LE apart; false for anything else.
bool ReadNewHeader(ByteSource *src, uint32_t *newHeader,
                   unsigned char signature[kNewSignatureSize]) {
  unsigned char dos[kDosHeaderSize];
  if (!ReadAt(src, 0, dos, sizeof dos) || dos[kDosMagic] != 'M' ||
      dos[kDosMagic + 1] != 'Z')
    return false;
  *newHeader = Le32(dos + kDosLfanew);
  return ReadAt(src, *newHeader, signature, kNewSignatureSize);
}

int LocatePe(ByteSource *src, uint64_t ntHeader, VersionResource *res,
             std::vector<uint16_t> *languageList) {
  PeImage pe;
  uint64_t root;
  if (!OpenPeResources(src, ntHeader, &pe, &root))
    return -1;
  // Offsets inside the resource tree count from its root in the flat file;
  // only the final data pointer is an RVA again. Three fixed levels: type,
  // name, language, so the walk cannot loop.
  uint32_t nameDir, languageDir, dataEntry;
  if (!FindIdEntry(src, root, kVersionType, true, &nameDir) ||
      !FindIdEntry(src, root + nameDir, kVersionName, true, &languageDir))
    return -1;
  uint64_t languages = root + languageDir;
  // Listed while the directory is at hand, before the choice is made.
  if (languageList != nullptr)
    ListLanguageEntries(src, languages, languageList);
  // US-English Windows tries neutral, en-US, then English, then the first.
  static const uint16_t kLanguageOrder[] = {0x0000, 0x0409, 0x0009};
  bool found = false;
  for (uint16_t language : kLanguageOrder)
    if (FindIdEntry(src, languages, language, false, &dataEntry)) {
      found = true;
      break;
    }
  if (!found && !FirstDataEntry(src, languages, &dataEntry))
    return -1;
  uint32_t dataRva, dataSize;
  uint64_t dataOffset;
  if (!ReadLe32(src, root + dataEntry + kResDataOffsetToData, &dataRva) ||
      !ReadLe32(src, root + dataEntry + kResDataSize, &dataSize) ||
      dataSize == 0 || !RvaToOffset(src, pe, dataRva, false, &dataOffset))
    return -1;
  // A block's length is a 16-bit field; nothing past 64 KiB is ever read.
  uint32_t wanted =
      dataSize < kMaxVersionResource ? dataSize : kMaxVersionResource;
  if (dataOffset > src->size || wanted > src->size - dataOffset)
    return -1; // the resource runs past the end of the file
  res->offset = dataOffset;
  res->size = wanted;
  res->format = kImagePe;
  return 0;
}

// Keeps what the file holds of a block that starts at offset and claims
// length bytes; false when it starts outside the file.
bool ClampToFile(ByteSource *src, uint64_t offset, uint64_t length,
                 VersionResource *res) {
  if (offset >= src->size || length == 0)
    return false;
  uint64_t available = src->size - offset;
  if (length > available)
    length = available;
  if (length > kMaxVersionResource)
    length = kMaxVersionResource;
  res->offset = offset;
  res->size = static_cast<uint32_t>(length);
  return true;
}

// 16-bit Windows: the resource table lists types, each followed by its
// resources; offsets and lengths count in units of 1 << rscAlignShift.
int LocateNe(ByteSource *src, uint64_t neHeader, VersionResource *res) {
  uint16_t tableOffset, residentNames;
  if (!ReadLe16(src, neHeader + kNeRsrcTab, &tableOffset) ||
      !ReadLe16(src, neHeader + kNeResTab, &residentNames) ||
      residentNames <= tableOffset)
    return -1;
  uint64_t table = neHeader + tableOffset;
  uint64_t tableEnd = neHeader + residentNames;
  uint16_t shift;
  if (!ReadLe16(src, table + kNeRscAlignShift, &shift) || shift > 31)
    return -1; // a larger shift overflows any offset
  const uint16_t kNeVersionType = kNeIntegerId | kVersionType;
  const uint16_t kNeVersionName = kNeIntegerId | kVersionName;
  uint64_t pos = table + kNeRscAlignShiftSize;
  // Every step stays inside the table, so a missing terminator or a huge
  // count ends the walk at the table's end.
  while (pos + kNeTypeInfoSize <= tableEnd) {
    unsigned char type[kNeTypeInfoSize];
    if (!ReadAt(src, pos, type, sizeof type))
      return -1;
    uint16_t typeId = Le16(type + kNeRtTypeId);
    uint16_t count = Le16(type + kNeRtResourceCount);
    if (typeId == 0)
      return -1;
    pos += kNeTypeInfoSize;
    if (typeId != kNeVersionType) {
      pos += uint64_t{kNeNameInfoSize} * count;
      continue;
    }
    for (uint16_t i = 0; i < count && pos + kNeNameInfoSize <= tableEnd;
         ++i, pos += kNeNameInfoSize) {
      unsigned char name[kNeNameInfoSize];
      if (!ReadAt(src, pos, name, sizeof name))
        return -1;
      if (Le16(name + kNeRnId) != kNeVersionName)
        continue;
      uint64_t offset = uint64_t{Le16(name + kNeRnOffset)} << shift;
      uint64_t length = uint64_t{Le16(name + kNeRnLength)} << shift;
      if (offset > 0xFFFFFFFFu || length > 0xFFFFFFFFu)
        return -1; // would wrap in the 32 bits the format has
      if (!ClampToFile(src, offset, length, res))
        return -1;
      res->format = kImageNe;
      return 0;
    }
    return -1;
  }
  return -1;
}

// A Windows 9x virtual device: the LE header points straight at a 16-bit
// version resource behind a small resource header of its own: 0xFF, the
// type (16), 0xFF, the name (1), flags, and the block's size.
int LocateLe(ByteSource *src, uint64_t leHeader, VersionResource *res) {
  uint32_t offset, length;
  if (!ReadLe32(src, leHeader + kLeWinResOff, &offset) ||
      !ReadLe32(src, leHeader + kLeWinResLen, &length) ||
      length <= kLeResHeaderSize)
    return -1;
  unsigned char header[kLeResHeaderSize];
  if (!ReadAt(src, offset, header, sizeof header) ||
      header[kLeResTypeMarker] != kLeResNumericMarker ||
      Le16(header + kLeResType) != kVersionType ||
      header[kLeResNameMarker] != kLeResNumericMarker ||
      Le16(header + kLeResName) != kVersionName)
    return -1;
  uint32_t size = Le32(header + kLeResSize);
  if (size > length - kLeResHeaderSize)
    size = length - kLeResHeaderSize;
  if (!ClampToFile(src, uint64_t{offset} + kLeResHeaderSize, size, res))
    return -1;
  res->format = kImageLe;
  return 0;
}

} // namespace

int LocateVersionResource(ByteSource *src, VersionResource *res) {
  return LocateAndDescribe(src, res, nullptr, nullptr);
}

int LocateAndDescribe(ByteSource *src, VersionResource *res, ImageInfo *info,
                      std::vector<uint16_t> *languages) {
  // The headers are read again just below, from the same window.
  if (info != nullptr)
    ReadImageInfo(src, info);
  if (languages != nullptr)
    languages->clear();
  uint32_t newHeader;
  unsigned char signature[kNewSignatureSize];
  if (!ReadNewHeader(src, &newHeader, signature))
    return -1;
  if (memcmp(signature, "PE\0\0", kNewSignatureSize) == 0)
    return LocatePe(src, newHeader, res, languages);
  if (signature[0] == 'N' && signature[1] == 'E')
    return LocateNe(src, newHeader, res);
  if (signature[0] == 'L' && signature[1] == 'E')
    return LocateLe(src, newHeader, res);
  return -1;
}

int ReadImageInfo(ByteSource *src, ImageInfo *info) {
  info->kind = kKindUnknown;
  info->machine = 0;
  uint32_t newHeader;
  unsigned char signature[kNewSignatureSize];
  if (!ReadNewHeader(src, &newHeader, signature))
    return -1;
  if (memcmp(signature, "PE\0\0", kNewSignatureSize) == 0) {
    uint16_t machine, magic;
    if (!ReadLe16(src, uint64_t{newHeader} + kPeFileHeader + kPeMachine,
                  &machine) ||
        !ReadLe16(src, uint64_t{newHeader} + kPeOptionalHeader + kPeMagic,
                  &magic))
      return -1;
    if (magic != kPeMagicPe32 && magic != kPeMagicPe32Plus)
      return -1;
    info->kind = magic == kPeMagicPe32 ? kKindPe32 : kKindPe32Plus;
    info->machine = machine;
    return 0;
  }
  if (signature[0] == 'N' && signature[1] == 'E') {
    info->kind = kKindNe;
    return 0;
  }
  if (signature[0] == 'L' && signature[1] == 'E') {
    info->kind = kKindLe;
    return 0;
  }
  return -1;
}

int ListVersionLanguages(ByteSource *src, std::vector<uint16_t> *languages) {
  languages->clear();
  uint32_t newHeader;
  unsigned char signature[kNewSignatureSize];
  if (!ReadNewHeader(src, &newHeader, signature) ||
      memcmp(signature, "PE\0\0", kNewSignatureSize) != 0)
    return -1;
  PeImage pe;
  uint64_t root;
  uint32_t nameDir, languageDir;
  if (!OpenPeResources(src, newHeader, &pe, &root) ||
      !FindIdEntry(src, root, kVersionType, true, &nameDir) ||
      !FindIdEntry(src, root + nameDir, kVersionName, true, &languageDir))
    return -1;
  ListLanguageEntries(src, root + languageDir, languages);
  return 0;
}
