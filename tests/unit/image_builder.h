// Builds the smallest executable images the reader accepts, PE, NE and LE,
// each around a given version block, for bending one field at a time into
// the malformed layouts real tools never write. Well-formed images come
// from the fixtures; these exist so that each way of going wrong can be
// made on its own. Every offset a test bends is recorded in ImageLayout.
#ifndef QUELVO_IMAGE_BUILDER_H
#define QUELVO_IMAGE_BUILDER_H

#include <stdint.h>

#include <string>

#include "block_builder.h"
#include "exe_layout.h"

inline void PutLe32(std::string &s, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i)
    s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// File offsets of what a built image holds; those of another format are 0.
struct ImageLayout {
  size_t newHeader;    // where e_lfanew points
  size_t optional;     // PE: the optional header
  size_t directory;    // PE: DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE]
  size_t section;      // PE: the one section header, holding the resources
  size_t root;         // PE: the resource tree's root; NE: resource table
  size_t typeEntry;    // PE: the root's entry for the version type
  size_t nameDir;      // PE: the version type's directory
  size_t languageDir;  // PE: the version name's directory
  size_t dataEntry;    // PE: the IMAGE_RESOURCE_DATA_ENTRY
  size_t typeInfo;     // NE: the version type's TYPEINFO
  size_t nameInfo;     // NE: the version resource's NAMEINFO
  size_t terminator;   // NE: the zero rtTypeID that ends the table
  size_t winResHeader; // LE: the 12 bytes before the block
  size_t block;        // the version block itself
};

// A DOS header whose e_lfanew points just past it.
inline std::string DosHeader() {
  std::string dos(kDosHeaderSize, '\0');
  dos[kDosMagic] = 'M';
  dos[kDosMagic + 1] = 'Z';
  PutLe32(dos, kDosLfanew, kDosHeaderSize);
  return dos;
}

// A PE32 (or PE32+) image with one section, .rsrc at RVA 0x1000, holding a
// three-level resource tree with one entry per level, language 0x409, and
// the block.
inline std::string BuildPe(bool plus, const std::string &block,
                           ImageLayout *at) {
  *at = ImageLayout();
  const uint32_t kSectionRva = 0x1000, kSectionAt = 0x200;
  std::string image = DosHeader();
  at->newHeader = image.size();
  image += std::string("PE\0\0", 4);
  std::string fileHeader(kPeFileHeaderSize, '\0');
  PutLe16(fileHeader, kPeMachine, plus ? 0x8664 : 0x014C);
  PutLe16(fileHeader, kPeNumberOfSections, 1);
  const uint32_t directories =
      plus ? kPe32PlusDataDirectory : kPe32DataDirectory;
  const uint32_t kDirectoryCount = 16;
  const uint32_t optionalSize =
      directories + kDirectoryCount * kPeDataDirectorySize;
  PutLe16(fileHeader, kPeSizeOfOptionalHeader,
          static_cast<uint16_t>(optionalSize));
  image += fileHeader;

  // The resource tree, laid out from the root: offsets count from it.
  const uint32_t kNameDir = 0x18, kLanguageDir = 0x30, kDataEntry = 0x48,
                 kBlock = 0x58;
  std::string tree(kBlock, '\0');
  PutLe16(tree, kResNumberOfIdEntries, 1);
  PutLe16(tree, kResDirectorySize + kResEntryId, 16);
  PutLe32(tree, kResDirectorySize + kResEntryOffsetToData,
          kResDataIsDirectory | kNameDir);
  PutLe16(tree, kNameDir + kResNumberOfIdEntries, 1);
  PutLe16(tree, kNameDir + kResDirectorySize + kResEntryId, 1);
  PutLe32(tree, kNameDir + kResDirectorySize + kResEntryOffsetToData,
          kResDataIsDirectory | kLanguageDir);
  PutLe16(tree, kLanguageDir + kResNumberOfIdEntries, 1);
  PutLe16(tree, kLanguageDir + kResDirectorySize + kResEntryId, 0x409);
  PutLe32(tree, kLanguageDir + kResDirectorySize + kResEntryOffsetToData,
          kDataEntry);
  PutLe32(tree, kDataEntry + kResDataOffsetToData, kSectionRva + kBlock);
  PutLe32(tree, kDataEntry + kResDataSize, static_cast<uint32_t>(block.size()));
  tree += block;
  const uint32_t treeSize = static_cast<uint32_t>(tree.size());

  at->optional = image.size();
  std::string optional(optionalSize, '\0');
  PutLe16(optional, kPeMagic, plus ? kPeMagicPe32Plus : kPeMagicPe32);
  PutLe32(optional, kPeSizeOfHeaders, kSectionAt);
  PutLe32(optional,
          plus ? kPe32PlusNumberOfRvaAndSizes : kPe32NumberOfRvaAndSizes,
          kDirectoryCount);
  const uint32_t resource =
      directories + kPeDirectoryEntryResource * kPeDataDirectorySize;
  PutLe32(optional, resource + kPeDataDirectoryVirtualAddress, kSectionRva);
  PutLe32(optional, resource + kPeDataDirectorySizeField, treeSize);
  at->directory = at->optional + resource;
  image += optional;

  at->section = image.size();
  std::string section(kPeSectionHeaderSize, '\0');
  section.replace(0, 5, ".rsrc");
  PutLe32(section, kPeSectionVirtualSize, treeSize);
  PutLe32(section, kPeSectionVirtualAddress, kSectionRva);
  PutLe32(section, kPeSectionSizeOfRawData, treeSize);
  PutLe32(section, kPeSectionPointerToRawData, kSectionAt);
  image += section;

  image.resize(kSectionAt, '\0');
  at->root = image.size();
  at->typeEntry = at->root + kResDirectorySize;
  at->nameDir = at->root + kNameDir;
  at->languageDir = at->root + kLanguageDir;
  at->dataEntry = at->root + kDataEntry;
  at->block = at->root + kBlock;
  return image + tree;
}

// An NE image with no segments whose resource table holds the version
// resource alone, in units of 16 bytes, as resource compilers align them.
inline std::string BuildNe(const std::string &block, ImageLayout *at) {
  *at = ImageLayout();
  const uint16_t kShift = 4;
  const uint32_t kNeHeaderSize = 0x40;
  std::string image = DosHeader();
  at->newHeader = image.size();
  std::string header(kNeHeaderSize, '\0');
  header[0] = 'N';
  header[1] = 'E';
  // The table: the shift, one TYPEINFO and its NAMEINFO, the terminator,
  // and an empty list of name strings.
  const uint32_t tableSize = kNeRscAlignShiftSize + kNeTypeInfoSize +
                             kNeNameInfoSize + sizeof(uint16_t) + 1;
  PutLe16(header, kNeRsrcTab, static_cast<uint16_t>(kNeHeaderSize));
  PutLe16(header, kNeResTab, static_cast<uint16_t>(kNeHeaderSize + tableSize));
  image += header;

  at->root = image.size();
  at->typeInfo = at->root + kNeRscAlignShiftSize;
  at->nameInfo = at->typeInfo + kNeTypeInfoSize;
  at->terminator = at->nameInfo + kNeNameInfoSize;
  const size_t unit = size_t{1} << kShift;
  const size_t resident = at->root + tableSize;
  at->block = (resident + 1 + unit - 1) / unit * unit;
  const size_t units = (block.size() + unit - 1) / unit;

  std::string table(tableSize, '\0');
  PutLe16(table, kNeRscAlignShift, kShift);
  const size_t type = at->typeInfo - at->root, name = at->nameInfo - at->root;
  PutLe16(table, type + kNeRtTypeId, kNeIntegerId | 16);
  PutLe16(table, type + kNeRtResourceCount, 1);
  PutLe16(table, name + kNeRnOffset, static_cast<uint16_t>(at->block / unit));
  PutLe16(table, name + kNeRnLength, static_cast<uint16_t>(units));
  PutLe16(table, name + kNeRnId, kNeIntegerId | 1);
  image += table;
  image += '\0'; // the resident names: none
  image.resize(at->block, '\0');
  image += block;
  image.resize(at->block + units * unit, '\0');
  return image;
}

// A Windows 9x VxD: an LE header with nothing in it but the place of the
// version resource, which follows it behind its 12-byte header.
inline std::string BuildLe(const std::string &block, ImageLayout *at) {
  *at = ImageLayout();
  const uint32_t kLeHeaderSize = 0xC4;
  std::string image = DosHeader();
  at->newHeader = image.size();
  std::string header(kLeHeaderSize, '\0');
  header[0] = 'L';
  header[1] = 'E';
  at->winResHeader = at->newHeader + kLeHeaderSize;
  at->block = at->winResHeader + kLeResHeaderSize;
  PutLe32(header, kLeWinResOff, static_cast<uint32_t>(at->winResHeader));
  PutLe32(header, kLeWinResLen,
          static_cast<uint32_t>(kLeResHeaderSize + block.size()));
  image += header;
  std::string resHeader(kLeResHeaderSize, '\0');
  resHeader[kLeResTypeMarker] = static_cast<char>(kLeResNumericMarker);
  PutLe16(resHeader, kLeResType, 16);
  resHeader[kLeResNameMarker] = static_cast<char>(kLeResNumericMarker);
  PutLe16(resHeader, kLeResName, 1);
  PutLe32(resHeader, kLeResSize, static_cast<uint32_t>(block.size()));
  return image + resHeader + block;
}

// A 16-bit version block: the root and its fixed record, nothing more.
inline std::string AnsiVersionInfo() {
  return AnsiNode("VS_VERSION_INFO", FixedInfo());
}

#endif
