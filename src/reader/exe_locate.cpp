#include "exe_locate.h"

#include <string.h>

namespace {

const uint16_t kVersionType = 16; // RT_VERSION
const uint16_t kVersionName = 1;  // VS_VERSION_INFO
const uint32_t kSubdirectoryBit = 0x80000000u;

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
    unsigned char sec[40]; // IMAGE_SECTION_HEADER
    if (!ReadAt(src, pe.sectionTable + uint64_t{40} * i, sec, sizeof sec))
      return false;
    uint32_t virtualAddress = Le32(sec + 12);
    uint32_t rawSize = Le32(sec + 16);
    uint32_t rawPointer = Le32(sec + 20);
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
  if (!ReadLe16(src, dir + 12, &named) || !ReadLe16(src, dir + 14, &ids))
    return false;
  uint64_t first = dir + 16 + uint64_t{8} * named;
  uint32_t lo = 0, hi = ids;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    unsigned char entry[8]; // IMAGE_RESOURCE_DIRECTORY_ENTRY
    if (!ReadAt(src, first + uint64_t{8} * mid, entry, sizeof entry))
      return false;
    uint16_t entryId = Le16(entry);
    if (entryId == id) {
      uint32_t data = Le32(entry + 4);
      if (((data & kSubdirectoryBit) != 0) != wantDir)
        return false;
      *target = data & ~kSubdirectoryBit;
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
  if (!ReadLe16(src, dir + 12, &named) || !ReadLe16(src, dir + 14, &ids))
    return false;
  uint32_t total = uint32_t{named} + ids;
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t data;
    if (!ReadLe32(src, dir + 16 + uint64_t{8} * i + 4, &data))
      return false;
    if ((data & kSubdirectoryBit) == 0) {
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
  unsigned char fileHeader[20]; // IMAGE_FILE_HEADER
  if (!ReadAt(src, ntHeader + 4, fileHeader, sizeof fileHeader))
    return false;
  pe->sectionCount = Le16(fileHeader + 2);
  uint16_t optionalSize = Le16(fileHeader + 16);
  uint64_t optional = ntHeader + 24;
  pe->sectionTable = optional + optionalSize;

  uint16_t magic;
  if (!ReadLe16(src, optional, &magic))
    return false;
  uint64_t countField, resourceEntry;
  if (magic == 0x10B) { // PE32
    countField = optional + 92;
    resourceEntry = optional + 96 + 2 * 8;
  } else if (magic == 0x20B) { // PE32+
    countField = optional + 108;
    resourceEntry = optional + 112 + 2 * 8;
  } else {
    return false;
  }
  uint32_t rvaCount, resourceRva, resourceSize;
  if (!ReadLe32(src, optional + 60, &pe->sizeOfHeaders) ||
      !ReadLe32(src, countField, &rvaCount) || rvaCount <= 2 ||
      !ReadLe32(src, resourceEntry, &resourceRva) ||
      !ReadLe32(src, resourceEntry + 4, &resourceSize) || resourceRva == 0 ||
      resourceSize == 0)
    return false;
  return RvaToOffset(src, *pe, resourceRva, true, root);
}

// The id of every entry of a language directory that points at data, in
// directory order; named entries carry no id and are left out. At most
// 65,535 entries of 8 bytes: the walk is bounded by the counts.
void ListLanguageEntries(ByteSource *src, uint64_t dir,
                         std::vector<uint16_t> *languages) {
  uint16_t named, ids;
  if (!ReadLe16(src, dir + 12, &named) || !ReadLe16(src, dir + 14, &ids))
    return;
  uint64_t first = dir + 16 + uint64_t{8} * named;
  for (uint32_t i = 0; i < ids; ++i) {
    unsigned char entry[8]; // IMAGE_RESOURCE_DIRECTORY_ENTRY
    if (!ReadAt(src, first + uint64_t{8} * i, entry, sizeof entry))
      return; // a directory cut short lists what it holds
    if ((Le32(entry + 4) & kSubdirectoryBit) == 0)
      languages->push_back(Le16(entry));
  }
}

// Finds the new-style header an MZ image points at and reads its first
// four bytes, which tell PE, NE and LE apart; false for anything else.
bool ReadNewHeader(ByteSource *src, uint32_t *newHeader,
                   unsigned char signature[4]) {
  unsigned char dos[64]; // IMAGE_DOS_HEADER
  if (!ReadAt(src, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
    return false;
  *newHeader = Le32(dos + 0x3C); // e_lfanew
  return ReadAt(src, *newHeader, signature, 4);
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
  uint32_t dataRva, dataSize; // IMAGE_RESOURCE_DATA_ENTRY
  uint64_t dataOffset;
  if (!ReadLe32(src, root + dataEntry, &dataRva) ||
      !ReadLe32(src, root + dataEntry + 4, &dataSize) || dataSize == 0 ||
      !RvaToOffset(src, pe, dataRva, false, &dataOffset))
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
  if (!ReadLe16(src, neHeader + 0x24, &tableOffset) ||   // ne_rsrctab
      !ReadLe16(src, neHeader + 0x26, &residentNames) || // ne_restab
      residentNames <= tableOffset)
    return -1;
  uint64_t table = neHeader + tableOffset;
  uint64_t tableEnd = neHeader + residentNames;
  uint16_t shift;
  if (!ReadLe16(src, table, &shift) || shift > 31)
    return -1; // a larger shift overflows any offset
  const uint16_t kNeVersionType = 0x8000 | kVersionType;
  const uint16_t kNeVersionName = 0x8000 | kVersionName;
  uint64_t pos = table + 2;
  // Every step stays inside the table, so a missing terminator or a huge
  // count ends the walk at the table's end.
  while (pos + 8 <= tableEnd) {
    unsigned char type[8]; // TYPEINFO
    if (!ReadAt(src, pos, type, sizeof type))
      return -1;
    uint16_t typeId = Le16(type);
    uint16_t count = Le16(type + 2);
    if (typeId == 0)
      return -1;
    pos += 8;
    if (typeId != kNeVersionType) {
      pos += uint64_t{12} * count;
      continue;
    }
    for (uint16_t i = 0; i < count && pos + 12 <= tableEnd; ++i, pos += 12) {
      unsigned char name[12]; // NAMEINFO
      if (!ReadAt(src, pos, name, sizeof name))
        return -1;
      if (Le16(name + 6) != kNeVersionName)
        continue;
      uint64_t offset = uint64_t{Le16(name)} << shift;
      uint64_t length = uint64_t{Le16(name + 2)} << shift;
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
// version resource behind a small resource header of its own, 12 bytes:
// 0xFF, the type (16), 0xFF, the name (1), flags, and the block's size.
int LocateLe(ByteSource *src, uint64_t leHeader, VersionResource *res) {
  const uint32_t kHeader = 12;
  uint32_t offset, length;
  if (!ReadLe32(src, leHeader + 0xB8, &offset) || // e32_winresoff
      !ReadLe32(src, leHeader + 0xBC, &length) || // e32_winreslen
      length <= kHeader)
    return -1;
  unsigned char header[kHeader];
  if (!ReadAt(src, offset, header, sizeof header) || header[0] != 0xFF ||
      Le16(header + 1) != kVersionType || header[3] != 0xFF ||
      Le16(header + 4) != kVersionName)
    return -1;
  uint32_t size = Le32(header + 8);
  if (size > length - kHeader)
    size = length - kHeader;
  if (!ClampToFile(src, uint64_t{offset} + kHeader, size, res))
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
  unsigned char signature[4];
  if (!ReadNewHeader(src, &newHeader, signature))
    return -1;
  if (memcmp(signature, "PE\0\0", 4) == 0)
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
  unsigned char signature[4];
  if (!ReadNewHeader(src, &newHeader, signature))
    return -1;
  if (memcmp(signature, "PE\0\0", 4) == 0) {
    uint16_t machine, magic;
    if (!ReadLe16(src, uint64_t{newHeader} + 4, &machine) ||
        !ReadLe16(src, uint64_t{newHeader} + 24, &magic))
      return -1;
    if (magic != 0x10B && magic != 0x20B)
      return -1;
    info->kind = magic == 0x10B ? kKindPe32 : kKindPe32Plus;
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
  unsigned char signature[4];
  if (!ReadNewHeader(src, &newHeader, signature) ||
      memcmp(signature, "PE\0\0", 4) != 0)
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

int DescribeImage(ByteSource *src, ImageInfo *info,
                  std::vector<uint16_t> *languages) {
  languages->clear();
  if (ReadImageInfo(src, info) != 0)
    return -1;
  if (info->kind == kKindPe32 || info->kind == kKindPe32Plus)
    ListVersionLanguages(src, languages);
  return 0;
}
