// Where the .NET formats keep the fields the reader reads, by the names
// ECMA-335 (Partition II) and the .NET host's bundle format give them.
// Offsets count from the start of the record they belong to.
#ifndef QUELVO_DOTNET_LAYOUT_H
#define QUELVO_DOTNET_LAYOUT_H

#include <stdint.h>

// IMAGE_COR20_HEADER (II.25.3.3), each directory an RVA and a size.
const uint32_t kCliHeaderSize = 72;
const uint32_t kCliMajorRuntimeVersion = 4;
const uint32_t kCliMinorRuntimeVersion = 6;
const uint32_t kCliMetaData = 8;
const uint32_t kCliFlags = 16;
const uint32_t kCliStrongNameSignature = 32;
const uint32_t kCliManagedNativeHeader = 64;

// READYTORUN_HEADER, where ManagedNativeHeader points in a ReadyToRun
// image: "RTR" and the format's version.
const uint32_t kReadyToRunSignature = 0;
const uint32_t kReadyToRunMajorVersion = 4;
const uint32_t kReadyToRunMinorVersion = 6;
const uint32_t kReadyToRunHeaderSize = 8; // what is read of it
const uint32_t kReadyToRunMagic = 0x00525452;

// The metadata root (II.24.2.1): the version string's length (a multiple
// of 4 that holds its zero) follows the fixed part, then the flags and the
// stream count, then the stream headers.
const uint32_t kMetaSignature = 0;
const uint32_t kMetaMajorVersion = 4;
const uint32_t kMetaMinorVersion = 6;
const uint32_t kMetaVersionLength = 12;
const uint32_t kMetaVersion = 16;
const uint32_t kMetaMagic = 0x424A5342; // "BSJB"
const uint32_t kMetaMaxVersionLength = 255;
const uint32_t kMetaStreamsField = 2; // after the flags, from their start
const uint32_t kMetaFlagsAndStreamsSize = 4;

// A stream header (II.24.2.2): offset and size, then the name, zero ended
// and padded to a multiple of 4, of at most 32 bytes with its zero.
const uint32_t kStreamOffset = 0;
const uint32_t kStreamSize = 4;
const uint32_t kStreamName = 8;
const uint32_t kStreamMaxName = 32;

// The #~ stream's header (II.24.2.6); the row counts follow it, one for
// each bit of Valid, and with HeapSizes' extra-data bit (written by edit
// and continue in #- streams) four more bytes before the tables.
const uint32_t kTablesHeapSizes = 6;
const uint32_t kTablesValid = 8;
const uint32_t kTablesSorted = 16;
const uint32_t kTablesRows = 24;
const uint8_t kHeapStringsWide = 0x01;
const uint8_t kHeapGuidWide = 0x02;
const uint8_t kHeapBlobWide = 0x04;
const uint8_t kHeapExtraData = 0x40;

// Table numbers (II.22) the reader reads or sizes.
enum DotnetTable {
  kTableModule = 0x00,
  kTableTypeRef = 0x01,
  kTableTypeDef = 0x02,
  kTableField = 0x04,
  kTableMethodDef = 0x06,
  kTableParam = 0x08,
  kTableInterfaceImpl = 0x09,
  kTableMemberRef = 0x0A,
  kTableConstant = 0x0B,
  kTableCustomAttribute = 0x0C,
  kTableDeclSecurity = 0x0E,
  kTableStandAloneSig = 0x11,
  kTableEvent = 0x14,
  kTableProperty = 0x17,
  kTableModuleRef = 0x1A,
  kTableTypeSpec = 0x1B,
  kTableAssembly = 0x20,
  kTableAssemblyRef = 0x23,
  kTableFile = 0x26,
  kTableExportedType = 0x27,
  kTableManifestResource = 0x28,
  kTableGenericParam = 0x2A,
  kTableMethodSpec = 0x2B,
  kTableGenericParamConstraint = 0x2C,
  kTableKnownCount = 0x2D, // tables past these follow every one read
};

// Columns read, by their place in the row (II.22.x).
const unsigned kModuleName = 1;
const unsigned kTypeRefName = 1;
const unsigned kTypeRefNamespace = 2;
const unsigned kTypeDefName = 1;
const unsigned kTypeDefNamespace = 2;
const unsigned kTypeDefMethodList = 5;
const unsigned kMethodDefSignature = 4;
const unsigned kMemberRefClass = 0;
const unsigned kMemberRefSignature = 2;
const unsigned kCustomAttributeParent = 0;
const unsigned kCustomAttributeType = 1;
const unsigned kCustomAttributeValue = 2;
const unsigned kAssemblyHashAlgId = 0;
const unsigned kAssemblyVersion = 1; // four 2-byte columns from here
const unsigned kAssemblyFlags = 5;
const unsigned kAssemblyPublicKey = 6;
const unsigned kAssemblyName = 7;
const unsigned kAssemblyCulture = 8;
const unsigned kAssemblyRefVersion = 0; // four 2-byte columns
const unsigned kAssemblyRefFlags = 4;
const unsigned kAssemblyRefPublicKeyOrToken = 5;
const unsigned kAssemblyRefName = 6;
const unsigned kAssemblyRefCulture = 7;

// Tags of the coded indexes read (II.24.2.6).
const uint32_t kHasCustomAttributeBits = 5;
const uint32_t kHasCustomAttributeAssembly = 14;
const uint32_t kCustomAttributeTypeBits = 3;
const uint32_t kCustomAttributeTypeMethodDef = 2;
const uint32_t kCustomAttributeTypeMemberRef = 3;
const uint32_t kMemberRefParentBits = 3;
const uint32_t kMemberRefParentTypeDef = 0;
const uint32_t kMemberRefParentTypeRef = 1;

// Blobs (II.23.2, II.23.3): a constructor's signature, and a custom
// attribute's value with its prolog, packed string lengths and the named
// arguments that follow the fixed ones.
const uint8_t kSigHasThis = 0x20;
const uint8_t kElementVoid = 0x01;
const uint8_t kElementString = 0x0E;
const uint16_t kAttributeProlog = 0x0001;
const uint8_t kNamedField = 0x53;
const uint8_t kNamedProperty = 0x54;
const uint8_t kNullString = 0xFF;

// The single-file bundle (the .NET host's format): the apphost holds the
// bundle header's offset, 8 bytes, followed by this marker, in its data;
// zero for an apphost that carries no bundle.
const unsigned char kBundleMarker[32] = {
    0x8b, 0x12, 0x02, 0xb9, 0x6a, 0x61, 0x20, 0x38, 0x72, 0x7b, 0x93,
    0x02, 0x14, 0xd7, 0xa0, 0x32, 0x13, 0xf5, 0xb9, 0xe6, 0xef, 0xae,
    0x33, 0x18, 0xee, 0x3b, 0x2d, 0xce, 0x24, 0xb3, 0x6a, 0xae};
const uint32_t kBundleOffsetSize = 8;

// The bundle header: versions and the file count, then the bundle id (a
// 7-bit-encoded length and UTF-8); from version 2 on, the deps.json and
// runtimeconfig.json locations and flags follow it, and then the
// manifest's entries: offset, size, (version 6 on) compressed size, type,
// relative path.
const uint32_t kBundleMajorVersion = 0;
const uint32_t kBundleMinorVersion = 4;
const uint32_t kBundleFileCount = 8;
const uint32_t kBundleId = 12;
const uint32_t kBundleV2Extra = 8 + 8 + 8 + 8 + 8;
const uint32_t kBundleEntryFixed = 8 + 8;      // offset and size
const uint32_t kBundleEntryCompressedSize = 8; // version 6 on
const uint8_t kBundleFileDepsJson = 3;
const uint8_t kBundleFileAssembly = 1;

#endif
