// Where the executable formats keep the fields the reader reads, by the
// names the formats' own documentation gives them. Offsets count from the
// start of the record they belong to; sizes are the records' sizes on disk.
//
// Prefixed kDos, kPe, kRes, kNe and kLe: the Windows build's windows.h
// defines the IMAGE_* names as macros.
#ifndef QUELVO_EXE_LAYOUT_H
#define QUELVO_EXE_LAYOUT_H

#include <stdint.h>

// IMAGE_DOS_HEADER, at the start of every kind the reader knows.
const uint32_t kDosHeaderSize = 64;
const uint32_t kDosMagic = 0x00;  // e_magic, "MZ"
const uint32_t kDosLfanew = 0x3C; // e_lfanew: file offset of the new header

// The first bytes at e_lfanew tell the kinds apart: "PE\0\0", "NE", "LE".
const uint32_t kNewSignatureSize = 4;

// IMAGE_NT_HEADERS: the signature, the file header, the optional header.
const uint32_t kPeFileHeader = 4;      // IMAGE_FILE_HEADER
const uint32_t kPeFileHeaderSize = 20; // and the optional header follows
const uint32_t kPeOptionalHeader = kPeFileHeader + kPeFileHeaderSize;

// IMAGE_FILE_HEADER
const uint32_t kPeMachine = 0;
const uint32_t kPeNumberOfSections = 2;
const uint32_t kPeSizeOfOptionalHeader = 16;
const uint32_t kPeCharacteristics = 18;
const uint16_t kPeFileDll = 0x2000;         // IMAGE_FILE_DLL
const uint16_t kPeExecutableImage = 0x0002; // IMAGE_FILE_EXECUTABLE_IMAGE

// IMAGE_OPTIONAL_HEADER32 and IMAGE_OPTIONAL_HEADER64: SizeOfHeaders at
// the same place in both (ImageBase grows into BaseOfData's room); PE32+
// widens the four sizes of stack and heap, so its NumberOfRvaAndSizes and
// data directories sit 16 bytes further on.
const uint32_t kPeMagic = 0;
const uint16_t kPeMagicPe32 = 0x10B;     // IMAGE_NT_OPTIONAL_HDR32_MAGIC
const uint16_t kPeMagicPe32Plus = 0x20B; // IMAGE_NT_OPTIONAL_HDR64_MAGIC
const uint32_t kPeAddressOfEntryPoint = 16;
const uint32_t kPeSizeOfHeaders = 60;
const uint32_t kPeCheckSum = 64; // left out of the checksum and Authentihash
const uint32_t kPe32NumberOfRvaAndSizes = 92;
const uint32_t kPe32DataDirectory = 96;
const uint32_t kPe32PlusNumberOfRvaAndSizes = 108;
const uint32_t kPe32PlusDataDirectory = 112;

// IMAGE_DATA_DIRECTORY, and the index of the resource table's entry.
const uint32_t kPeDataDirectorySize = 8;
const uint32_t kPeDataDirectoryVirtualAddress = 0;
const uint32_t kPeDataDirectorySizeField = 4; // its Size
const uint32_t kPeDirectoryEntryExport = 0;   // IMAGE_DIRECTORY_ENTRY_EXPORT
const uint32_t kPeDirectoryEntryResource = 2; // IMAGE_DIRECTORY_ENTRY_RESOURCE
// IMAGE_DIRECTORY_ENTRY_SECURITY: the certificate table. Its
// VirtualAddress is a file offset, since the table is never mapped.
const uint32_t kPeDirectoryEntrySecurity = 4;
// IMAGE_DIRECTORY_ENTRY_COM_DESCRIPTOR: the CLI header of a .NET image.
const uint32_t kPeDirectoryEntryCli = 14;

// IMAGE_SECTION_HEADER
const uint32_t kPeSectionHeaderSize = 40;
const uint32_t kPeSectionVirtualSize = 8;
const uint32_t kPeSectionVirtualAddress = 12;
const uint32_t kPeSectionSizeOfRawData = 16;
const uint32_t kPeSectionPointerToRawData = 20;
const uint32_t kPeSectionCharacteristics = 36;
const uint32_t kPeScnInitializedData = 0x40;  // IMAGE_SCN_CNT_INITIALIZED_DATA
const uint32_t kPeScnMemExecute = 0x20000000; // IMAGE_SCN_MEM_EXECUTE
const uint32_t kPeScnMemWrite = 0x80000000;   // IMAGE_SCN_MEM_WRITE

// WIN_CERTIFICATE, one entry of the certificate table: bCertificate
// follows the header, and each entry starts on an 8-byte boundary.
const uint32_t kWinCertHeaderSize = 8;
const uint32_t kWinCertLength = 0; // dwLength, the header included
const uint32_t kWinCertRevision = 4;
const uint32_t kWinCertType = 6;
const uint32_t kWinCertAlignment = 8;
const uint16_t kWinCertRevision1 = 0x0100;          // WIN_CERT_REVISION_1_0
const uint16_t kWinCertRevision2 = 0x0200;          // WIN_CERT_REVISION_2_0
const uint16_t kWinCertTypeX509 = 0x0001;           // WIN_CERT_TYPE_X509
const uint16_t kWinCertTypePkcsSignedData = 0x0002; // an Authenticode signature

// IMAGE_RESOURCE_DIRECTORY: its entries follow it, named ones first.
const uint32_t kResDirectorySize = 16;
const uint32_t kResNumberOfNamedEntries = 12;
const uint32_t kResNumberOfIdEntries = 14;

// IMAGE_RESOURCE_DIRECTORY_ENTRY
const uint32_t kResEntrySize = 8;
const uint32_t kResEntryId = 0;           // Name's low 16 bits: the Id
const uint32_t kResEntryOffsetToData = 4; // from the resource tree's root
const uint32_t kResDataIsDirectory = 0x80000000u; // in OffsetToData

// IMAGE_RESOURCE_DATA_ENTRY
const uint32_t kResDataOffsetToData = 0; // an RVA, unlike the tree's offsets
const uint32_t kResDataSize = 4;

// IMAGE_OS2_HEADER (NE): tables at offsets from the header itself.
const uint32_t kNeRsrcTab = 0x24; // ne_rsrctab: the resource table
const uint32_t kNeResTab = 0x26;  // ne_restab: the resident names after it

// The NE resource table: rscAlignShift, then TYPEINFO records each
// followed by its NAMEINFO records, ended by a zero rtTypeID.
const uint32_t kNeRscAlignShift = 0;
const uint32_t kNeRscAlignShiftSize = 2;
const uint32_t kNeTypeInfoSize = 8; // TYPEINFO
const uint32_t kNeRtTypeId = 0;
const uint32_t kNeRtResourceCount = 2;
const uint32_t kNeNameInfoSize = 12; // NAMEINFO
const uint32_t kNeRnOffset = 0;      // in units of 1 << rscAlignShift
const uint32_t kNeRnLength = 2;      // likewise
const uint32_t kNeRnId = 6;
const uint16_t kNeIntegerId = 0x8000; // an id, not a name's offset

// IMAGE_VXD_HEADER (LE): where a Windows 9x VxD keeps its version resource.
const uint32_t kLeWinResOff = 0xB8; // e32_winresoff: a file offset
const uint32_t kLeWinResLen = 0xBC; // e32_winreslen: its header included

// The 12-byte header in front of a VxD's version block, a 16-bit .res
// entry's header with numeric type and name.
const uint32_t kLeResHeaderSize = 12;
const uint32_t kLeResTypeMarker = 0; // 0xFF: a numeric type follows
const uint32_t kLeResType = 1;
const uint32_t kLeResNameMarker = 3; // 0xFF: a numeric name follows
const uint32_t kLeResName = 4;
const uint32_t kLeResSize = 8; // the block's size
const uint8_t kLeResNumericMarker = 0xFF;

#endif
