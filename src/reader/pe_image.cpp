#include "pe_image.h"

#include <stddef.h>
#include <string.h>

#include "exe_layout.h"

namespace {

// The file header and the optional header up to the end of the longer
// (PE32+) directory array: what every reader of the headers uses, taken
// in one read.
const size_t kNtHeadersSpan = kPeFileHeaderSize + kPe32PlusDataDirectory +
                              size_t{kPeDataDirectorySize} * kPeMaxDirectories;

// The bytes of a range where they lie already (the memory, or a window
// read before), else copied into room; null when the source cannot give
// them all.
const unsigned char *BytesAt(ByteSource *src, uint64_t off, size_t len,
                             unsigned char *room) {
  const unsigned char *view = ViewAt(src, off, len);
  if (view != nullptr)
    return view;
  return ReadAt(src, off, room, len) ? room : nullptr;
}

HeaderState ReadNtHeaders(ByteSource *src, PeImage *image) {
  unsigned char room[kNtHeadersSpan];
  // The signature's four bytes were read: the file header's offset lies
  // inside the file. A field the file cuts off is judged below.
  uint64_t at = uint64_t{image->newHeader} + kPeFileHeader;
  size_t have = src->size - at < kNtHeadersSpan
                    ? static_cast<size_t>(src->size - at)
                    : kNtHeadersSpan;
  const unsigned char *nt = BytesAt(src, at, have, room);
  if (nt == nullptr)
    return kHeadersTruncated;
  const size_t kMagicSize = 2;
  if (have < kPeFileHeaderSize + kMagicSize)
    return kHeadersTruncated;
  image->machine = Le16(nt + kPeMachine);
  image->sectionCount = Le16(nt + kPeNumberOfSections);
  image->characteristics = Le16(nt + kPeCharacteristics);
  image->optionalHeader = at + kPeFileHeaderSize;
  image->sectionTable =
      image->optionalHeader + Le16(nt + kPeSizeOfOptionalHeader);
  const unsigned char *optional = nt + kPeFileHeaderSize;
  size_t optionalHave = have - kPeFileHeaderSize;
  image->magic = Le16(optional + kPeMagic);
  uint32_t countField, directories;
  if (image->magic == kPeMagicPe32) {
    countField = kPe32NumberOfRvaAndSizes;
    directories = kPe32DataDirectory;
  } else if (image->magic == kPeMagicPe32Plus) {
    countField = kPe32PlusNumberOfRvaAndSizes;
    directories = kPe32PlusDataDirectory;
  } else {
    return kHeadersUnknownOptional;
  }
  if (optionalHave >= kPeAddressOfEntryPoint + 4)
    image->entryPoint = Le32(optional + kPeAddressOfEntryPoint);
  // SizeOfHeaders and CheckSum lie before the count in both layouts.
  if (optionalHave < countField + 4)
    return kHeadersOptionalCut;
  image->sizeOfHeaders = Le32(optional + kPeSizeOfHeaders);
  image->checksumOffset = image->optionalHeader + kPeCheckSum;
  image->checksum = Le32(optional + kPeCheckSum);
  image->directoryCount = Le32(optional + countField);
  image->directories = image->optionalHeader + directories;
  // The entries the count claims and the file holds whole.
  size_t whole = (optionalHave - directories) / kPeDataDirectorySize;
  if (whole > image->directoryCount)
    whole = image->directoryCount;
  if (whole > kPeMaxDirectories)
    whole = kPeMaxDirectories;
  image->directoriesRead = static_cast<uint32_t>(whole);
  memcpy(image->directoryBytes, optional + directories,
         whole * kPeDataDirectorySize);
  return kHeadersOk;
}

HeaderState ReadHeaders(ByteSource *src, PeImage *image) {
  unsigned char room[kDosHeaderSize];
  const unsigned char *dos = BytesAt(src, 0, kDosHeaderSize, room);
  if (dos == nullptr || dos[kDosMagic] != 'M' || dos[kDosMagic + 1] != 'Z')
    return kHeadersNoMz;
  image->newHeader = Le32(dos + kDosLfanew);
  const unsigned char *signature =
      BytesAt(src, image->newHeader, kNewSignatureSize, room);
  if (signature == nullptr)
    return kHeadersNewHeaderOutside;
  if (memcmp(signature, "PE\0\0", kNewSignatureSize) == 0) {
    image->format = kImagePe;
    return ReadNtHeaders(src, image);
  }
  if (signature[0] == 'N' && signature[1] == 'E')
    image->format = kImageNe;
  else if (signature[0] == 'L' && signature[1] == 'E')
    image->format = kImageLe;
  else
    return kHeadersUnknownSignature;
  return kHeadersOk;
}

void DecodeSection(const unsigned char *sec, PeSection *section) {
  section->virtualAddress = Le32(sec + kPeSectionVirtualAddress);
  section->rawSize = Le32(sec + kPeSectionSizeOfRawData);
  section->rawPointer = Le32(sec + kPeSectionPointerToRawData);
  section->characteristics = Le32(sec + kPeSectionCharacteristics);
}

} // namespace

void ReadPeImage(ByteSource *src, PeImage *image) {
  // The stored directory entries are read no further than
  // directoriesRead: clearing them would cost more than the rest.
  memset(image, 0, offsetof(PeImage, directoryBytes));
  uint32_t failed = src->failedReads;
  image->state = ReadHeaders(src, image);
  // Whatever step a failed read stopped, the bytes it would have read are
  // in the file: the file, not its layout, is what went wrong.
  if (src->failedReads != failed)
    image->state = kHeadersReadFailed;
}

DirectoryLookup FindPeDirectory(const PeImage &image, uint32_t index,
                                PeDirectory *entry) {
  if (index >= image.directoryCount)
    return kDirectoryAbsent;
  if (index >= image.directoriesRead)
    return kDirectoryCut;
  const unsigned char *bytes =
      image.directoryBytes + size_t{kPeDataDirectorySize} * index;
  entry->rva = Le32(bytes + kPeDataDirectoryVirtualAddress);
  entry->size = Le32(bytes + kPeDataDirectorySizeField);
  return kDirectoryPresent;
}

bool ReadPeSection(ByteSource *src, const PeImage &image, uint32_t index,
                   PeSection *section) {
  unsigned char sec[kPeSectionHeaderSize];
  if (index >= image.sectionCount ||
      !ReadAt(src, image.sectionTable + uint64_t{kPeSectionHeaderSize} * index,
              sec, sizeof sec))
    return false;
  DecodeSection(sec, section);
  return true;
}

RvaMapping MapPeDataRva(ByteSource *src, const PeImage &image, uint32_t rva,
                        uint64_t *offset) {
  // The table lies in the window of the headers nearly always: read there.
  const unsigned char *table =
      ViewAt(src, image.sectionTable,
             uint64_t{kPeSectionHeaderSize} * image.sectionCount);
  for (uint32_t i = 0; i < image.sectionCount; ++i) {
    unsigned char copy[kPeSectionHeaderSize];
    const unsigned char *sec =
        table != nullptr ? table + size_t{kPeSectionHeaderSize} * i : copy;
    if (table == nullptr &&
        !ReadAt(src, image.sectionTable + uint64_t{kPeSectionHeaderSize} * i,
                copy, sizeof copy))
      return kRvaTableCut;
    uint32_t virtualAddress = Le32(sec + kPeSectionVirtualAddress);
    uint32_t rawSize = Le32(sec + kPeSectionSizeOfRawData);
    if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
      *offset = uint64_t{Le32(sec + kPeSectionPointerToRawData)} +
                (rva - virtualAddress);
      return kRvaMapped;
    }
  }
  return kRvaUnmapped;
}

RvaMapping MapPeDirectoryRva(ByteSource *src, const PeImage &image,
                             uint32_t rva, uint64_t *offset) {
  if (rva < image.sizeOfHeaders) {
    *offset = rva;
    return kRvaMapped;
  }
  return MapPeDataRva(src, image, rva, offset);
}
