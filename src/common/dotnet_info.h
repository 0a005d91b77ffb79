// What --dotnet reports of a file: the CLI header and metadata of a .NET
// assembly or module, or the host a single-file bundle or apphost is. Read
// by the reader from the file's bytes; the platform adds the public key
// tokens, which need a SHA-1 digest the reader does not link; the report
// prints it.
#ifndef QUELVO_DOTNET_INFO_H
#define QUELVO_DOTNET_INFO_H

#include <stdint.h>

#include <string>
#include <vector>

// The first thing found wrong on the way, in the order the reader reads;
// whatever was read before it (and beside it, for an attribute or a
// reference that could not be read) is still reported. The values are
// stable, and so are the words DotnetMalformedName gives them.
enum DotnetMalformed {
  kDotnetWellFormed = 0,
  kDotnetCliHeaderUnmapped = 1,  // the directory's RVA is in no section
  kDotnetCliHeaderTruncated = 2, // the file ends inside the CLI header
  kDotnetMetadataUnmapped = 3,   // no metadata, or its RVA is in no section
  kDotnetMetadataTruncated = 4,  // the metadata runs past the file's end
  kDotnetBadSignature = 5,       // the metadata root is not "BSJB"
  kDotnetRootTruncated = 6,      // the root or its stream headers are cut
  kDotnetStreamOutside = 7,      // a stream runs past the metadata
  kDotnetNoTableStream = 8,      // no #~ (or #-) stream
  kDotnetTablesTruncated = 9,    // the row counts run past the stream
  kDotnetTableOutside = 10,      // a table's rows run past the stream
  kDotnetBadIndex = 11,          // a row or coded index out of range
  kDotnetBadString = 12,         // a #Strings offset or string past its end
  kDotnetBadBlob = 13,           // a #Blob offset or length past its end
  kDotnetBadAttribute = 14,      // an attribute's value blob cannot be read
  kDotnetBadBundle = 15,         // the bundle header or manifest is cut
  kDotnetReadFailed = 16,        // the file itself could not be read
  kDotnetTooLarge = 17,          // more to keep than one file may have
};

// A short lowercase word for each reason ("bad-blob"), "none" for
// kDotnetWellFormed and "unknown" for a value outside the enumeration.
inline const char *DotnetMalformedName(int why) {
  static const char *const kNames[] = {"none",
                                       "cli-header-unmapped",
                                       "cli-header-truncated",
                                       "metadata-unmapped",
                                       "metadata-truncated",
                                       "bad-signature",
                                       "root-truncated",
                                       "stream-outside",
                                       "no-table-stream",
                                       "tables-truncated",
                                       "table-outside",
                                       "bad-index",
                                       "bad-string",
                                       "bad-blob",
                                       "bad-attribute",
                                       "bad-bundle",
                                       "read-failed",
                                       "too-large"};
  if (why < 0 || static_cast<size_t>(why) >= sizeof kNames / sizeof kNames[0])
    return "unknown";
  return kNames[why];
}

// IMAGE_COR20_HEADER.Flags (COMIMAGE_FLAGS_*).
const uint32_t kCliFlagIlOnly = 0x1;
const uint32_t kCliFlag32BitRequired = 0x2;
const uint32_t kCliFlagIlLibrary = 0x4;
const uint32_t kCliFlagStrongNameSigned = 0x8;
const uint32_t kCliFlagNativeEntryPoint = 0x10;
const uint32_t kCliFlagTrackDebugData = 0x10000;
const uint32_t kCliFlag32BitPreferred = 0x20000;

// AssemblyFlags (II.23.1.2): the public key bit also says whether an
// AssemblyRef's blob is a whole key or its token.
const uint32_t kAssemblyFlagPublicKey = 0x1;
const uint32_t kAssemblyFlagRetargetable = 0x100;
const uint32_t kAssemblyFlagWindowsRuntime = 0x200; // its content type

struct DotnetStream {
  std::string name; // as stored, up to 31 bytes
  uint32_t offset;  // from the metadata root
  uint32_t size;
};

// An assembly's identity, its own (Assembly) or one it refers to
// (AssemblyRef).
struct DotnetIdentity {
  std::string name; // UTF-8 as stored
  uint16_t version[4];
  std::string culture; // empty: neutral
  uint32_t flags;
  // Assembly: the public key (empty when none). AssemblyRef: the key when
  // flags hold kAssemblyFlagPublicKey, else the token as stored.
  std::vector<unsigned char> publicKey;
  bool keyTooLong; // a key past the reader's bound, not kept: token unknown
  bool hasToken;   // filled by the platform from the key, or as stored
  unsigned char token[8];
};

// The attributes of the assembly that are reported, in this order.
enum DotnetAttribute {
  kAttrInformationalVersion,
  kAttrFileVersion,
  kAttrTitle,
  kAttrDescription,
  kAttrCompany,
  kAttrProduct,
  kAttrCopyright,
  kAttrConfiguration,
  kAttrTargetFramework,
  kAttrCount
};

struct DotnetAttributeValue {
  bool present;      // applied to the assembly, and its value read
  bool isNull;       // the value is the null string (0xFF)
  std::string value; // UTF-8 as stored
};

// A host: an apphost that carries the bundle marker, and the bundle
// appended to it when the marker points at one.
struct DotnetHost {
  bool found;
  uint64_t markerOffset; // file offset of the bundle marker
  uint64_t headerOffset; // the bundle header's, 0 for a plain apphost
  bool isBundle;         // the header was read
  uint32_t bundleMajor;  // the bundle format's version
  uint32_t bundleMinor;
  uint32_t fileCount;       // embedded files the header announces
  std::string bundleId;     // UTF-8 as stored
  std::string mainAssembly; // from the manifest's deps.json entry, or ""
};

struct DotnetInfo {
  bool hasCli; // the CLI header was found and read
  uint16_t cliMajor, cliMinor;
  uint32_t cliFlags;
  // StrongNameSignature: where the signature's room is, when it has one.
  bool hasStrongName;
  uint32_t strongNameRva;
  uint32_t strongNameSize;
  bool strongNameMapped; // strongNameOffset is known
  uint64_t strongNameOffset;
  // ManagedNativeHeader pointing at a READYTORUN_HEADER.
  bool readyToRun;
  uint16_t readyToRunMajor, readyToRunMinor;

  bool hasMetadata; // the metadata root was read
  uint16_t metadataMajor, metadataMinor;
  std::string runtimeVersion; // "v4.0.30319"
  std::vector<DotnetStream> streams;

  bool hasTables; // the #~ stream's header and row counts were read
  bool hasModule; // the Module row's name was read
  std::string moduleName;
  bool hasAssembly; // an Assembly row was read; false for a netmodule
  DotnetIdentity assembly;
  uint32_t hashAlgorithm; // the Assembly row's HashAlgId
  DotnetAttributeValue attributes[kAttrCount];
  bool hasFrameworkDisplayName; // TargetFramework's FrameworkDisplayName
  std::string frameworkDisplayName;
  uint32_t referenceCount;                // AssemblyRef rows
  std::vector<DotnetIdentity> references; // those read, in table order

  DotnetHost host;
  int malformed; // a DotnetMalformed
};

#endif
