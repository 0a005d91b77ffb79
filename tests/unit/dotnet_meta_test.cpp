// The .NET metadata reader on real assemblies built by Mono's compiler
// (tests/fixtures/build_dotnet.sh), on those assemblies bent one field at a
// time, and on metadata made here for the layouts a compiler rarely
// writes. Reader headers only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "byte_source.h"
#include "dotnet_layout.h"
#include "dotnet_meta.h"
#include "exe_layout.h"
#include "exe_locate.h"
#include "test_support.h"

namespace {

std::string DotnetFixture(const std::string &name) {
  return std::string(QUELVO_FIXTURES) + "/../dotnet/" + name;
}

DotnetInfo ReadBytes(const std::string &bytes, bool *found = nullptr) {
  ByteSource src;
  InitMemorySource(&src, bytes.data(), bytes.size());
  DotnetInfo info;
  bool result = ReadDotnetInfo(&src, &info);
  if (found != nullptr)
    *found = result;
  return info;
}

// The same file read through file windows, as the program reads it.
DotnetInfo ReadThroughFile(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0) << path;
  off_t size = lseek(fd, 0, SEEK_END);
  std::vector<FileWindow> windows(4);
  ByteSource src;
  InitFileSource(&src, fd, static_cast<uint64_t>(size), windows.data(), 4);
  DotnetInfo info;
  ReadDotnetInfo(&src, &info);
  close(fd);
  return info;
}

std::string Version(const uint16_t v[4]) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
         std::to_string(v[2]) + "." + std::to_string(v[3]);
}

uint32_t GetLe32(const std::string &s, size_t at) {
  return Le32(reinterpret_cast<const unsigned char *>(s.data() + at));
}

void SetLe32(std::string *s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    (*s)[at + i] = static_cast<char>(v >> (8 * i));
}

// Where a fixture keeps what the bending tests change, found from its
// bytes with the reader's own PE helpers.
struct Places {
  size_t cliDirectory; // the data directory entry of the CLI header
  size_t cli;          // the CLI header
  size_t root;         // the metadata root
  size_t streamHeaders;
  size_t tables; // the #~ stream
  size_t strings;
  size_t blob;
};

Places Find(const std::string &file) {
  Places p = Places();
  ByteSource src;
  InitMemorySource(&src, file.data(), file.size());
  PeHeaders pe;
  EXPECT_TRUE(ReadPeHeaders(&src, &pe));
  p.cliDirectory = static_cast<size_t>(pe.directories) +
                   kPeDataDirectorySize * kPeDirectoryEntryCli;
  uint64_t at = 0;
  EXPECT_TRUE(MapPeRva(&src, pe, GetLe32(file, p.cliDirectory), &at));
  p.cli = static_cast<size_t>(at);
  EXPECT_TRUE(MapPeRva(&src, pe, GetLe32(file, p.cli + kCliMetaData), &at));
  p.root = static_cast<size_t>(at);
  uint32_t length = GetLe32(file, p.root + kMetaVersionLength);
  p.streamHeaders = p.root + kMetaVersion + length + kMetaFlagsAndStreamsSize;
  size_t h = p.streamHeaders;
  uint16_t count = Le16(reinterpret_cast<const unsigned char *>(
      file.data() + p.root + kMetaVersion + length + kMetaStreamsField));
  for (uint16_t i = 0; i < count; ++i) {
    std::string name = file.c_str() + h + kStreamName;
    size_t offset = p.root + GetLe32(file, h + kStreamOffset);
    if (name == "#~")
      p.tables = offset;
    else if (name == "#Strings")
      p.strings = offset;
    else if (name == "#Blob")
      p.blob = offset;
    h += kStreamName + ((name.size() + 4) & ~size_t{3});
  }
  return p;
}

// The stream header named name, for bending its fields.
size_t StreamHeader(const std::string &file, const Places &p,
                    const std::string &name) {
  size_t h = p.streamHeaders;
  while (std::string(file.c_str() + h + kStreamName) != name)
    h += kStreamName +
         ((strlen(file.c_str() + h + kStreamName) + 4) & ~size_t{3});
  return h;
}

// The file offset of a table's row count in the #~ header.
size_t RowCountAt(const std::string &file, const Places &p, unsigned table) {
  uint64_t valid = GetLe32(file, p.tables + kTablesValid) |
                   uint64_t{GetLe32(file, p.tables + kTablesValid + 4)} << 32;
  size_t at = p.tables + kTablesRows;
  for (unsigned id = 0; id < table; ++id)
    if ((valid >> id & 1) != 0)
      at += 4;
  EXPECT_NE(valid >> table & 1, 0u) << "table " << table << " is empty";
  return at;
}

struct FixtureCase {
  const char *file;
  const char *name;
  const char *version;
  const char *culture;
  uint32_t cliFlags;
  bool hasKey;
  uint32_t references;
};

class DotnetFixtures : public testing::TestWithParam<FixtureCase> {};

// Each built assembly's identity, whichever way its bytes are read.
TEST_P(DotnetFixtures, ReadsTheIdentity) {
  const FixtureCase &c = GetParam();
  std::string path = DotnetFixture(c.file);
  bool found = false;
  DotnetInfo info = ReadBytes(ReadFile(path), &found);
  ASSERT_TRUE(found) << path;
  EXPECT_EQ(info.malformed, kDotnetWellFormed)
      << DotnetMalformedName(info.malformed);
  EXPECT_TRUE(info.hasCli);
  EXPECT_EQ(info.runtimeVersion, "v4.0.30319");
  EXPECT_EQ(info.cliFlags, c.cliFlags);
  ASSERT_TRUE(info.hasAssembly);
  EXPECT_EQ(info.assembly.name, c.name);
  EXPECT_EQ(Version(info.assembly.version), c.version);
  EXPECT_EQ(info.assembly.culture, c.culture);
  EXPECT_EQ(info.assembly.publicKey.empty(), !c.hasKey);
  EXPECT_EQ(info.hashAlgorithm, 0x8004u);
  EXPECT_EQ(info.referenceCount, c.references);
  EXPECT_EQ(info.references.size(), c.references);

  DotnetInfo windowed = ReadThroughFile(path);
  EXPECT_EQ(windowed.assembly.name, info.assembly.name);
  EXPECT_EQ(windowed.references.size(), info.references.size());
  for (int i = 0; i < kAttrCount; ++i)
    EXPECT_EQ(windowed.attributes[i].value, info.attributes[i].value);
}

INSTANTIATE_TEST_SUITE_P(
    Built, DotnetFixtures,
    testing::Values(
        FixtureCase{"attrs.dll", "attrs", "1.2.3.4", "", 0x1, false, 1},
        FixtureCase{"nulls.dll", "nulls", "0.0.0.0", "", 0x1, false, 1},
        FixtureCase{"strong.dll", "strong", "2.0.0.0", "", 0x9, true, 1},
        FixtureCase{"delay.dll", "delay", "2.0.0.0", "", 0x1, true, 1},
        FixtureCase{"de/satellite.resources.dll", "satellite.resources",
                    "1.2.3.4", "de-DE", 0x1, false, 0},
        FixtureCase{"ja/satellite.resources.dll", "satellite.resources",
                    "1.2.3.4", "ja", 0x1, false, 0},
        FixtureCase{"x86.exe", "x86", "3.1.0.0", "", 0x3, false, 4},
        FixtureCase{"prefer32.exe", "prefer32", "3.1.0.0", "", 0x20003,
                    false, 4},
        FixtureCase{"refs.exe", "refs", "3.1.0.0", "", 0x1, false, 4},
        FixtureCase{"selfattr.dll", "selfattr", "0.0.0.0", "", 0x1, false,
                    1},
        FixtureCase{"wide.dll", "wide", "5.6.7.8", "", 0x1, false, 1}));

TEST(DotnetAttributes, DecodesEveryStringAttribute) {
  DotnetInfo info = ReadBytes(ReadFile(DotnetFixture("attrs.dll")));
  const struct {
    DotnetAttribute which;
    const char *value;
  } expected[] = {
      {kAttrInformationalVersion, "10.0.7+sha.abc"},
      {kAttrFileVersion, "1.2.3.5"},
      {kAttrTitle, "Quelvo attrs title"},
      {kAttrDescription, "Quelvo attrs description"},
      {kAttrCompany, "Quelvo Test Co"},
      {kAttrProduct, "Quelvo Fixtures"},
      {kAttrCopyright, "Copyright \xc2\xa9 Quelvo 2026"},
      {kAttrConfiguration, "Release"},
      {kAttrTargetFramework, ".NETCoreApp,Version=v8.0"},
  };
  for (const auto &e : expected) {
    EXPECT_TRUE(info.attributes[e.which].present) << e.value;
    EXPECT_FALSE(info.attributes[e.which].isNull) << e.value;
    EXPECT_EQ(info.attributes[e.which].value, e.value);
  }
  EXPECT_TRUE(info.hasFrameworkDisplayName);
  EXPECT_EQ(info.frameworkDisplayName, ".NET 8.0");
}

TEST(DotnetAttributes, NullAndEmptyStringsAndNoDisplayName) {
  DotnetInfo info = ReadBytes(ReadFile(DotnetFixture("nulls.dll")));
  EXPECT_TRUE(info.attributes[kAttrTitle].present);
  EXPECT_TRUE(info.attributes[kAttrTitle].isNull);
  EXPECT_TRUE(info.attributes[kAttrDescription].present);
  EXPECT_FALSE(info.attributes[kAttrDescription].isNull);
  EXPECT_EQ(info.attributes[kAttrDescription].value, "");
  EXPECT_EQ(info.attributes[kAttrInformationalVersion].value, "beta");
  EXPECT_EQ(info.attributes[kAttrTargetFramework].value,
            ".NETFramework,Version=v4.8");
  EXPECT_FALSE(info.hasFrameworkDisplayName);
  EXPECT_FALSE(info.attributes[kAttrCompany].present);
}

// Attribute types the assembly defines itself are reached through the
// MethodDef constructor's owning TypeDef; a type of the same name in
// another namespace, or a constructor that takes no string, is not read.
TEST(DotnetAttributes, ResolvesConstructorsDefinedInTheAssembly) {
  DotnetInfo info = ReadBytes(ReadFile(DotnetFixture("selfattr.dll")));
  EXPECT_EQ(info.malformed, kDotnetWellFormed);
  EXPECT_TRUE(info.attributes[kAttrTitle].present);
  EXPECT_EQ(info.attributes[kAttrTitle].value, "self title");
  EXPECT_FALSE(info.attributes[kAttrCompany].present);
  EXPECT_FALSE(info.attributes[kAttrProduct].present);
}

TEST(DotnetIdentity, StrongNameKeyAndSignatureRoom) {
  DotnetInfo strong = ReadBytes(ReadFile(DotnetFixture("strong.dll")));
  DotnetInfo delay = ReadBytes(ReadFile(DotnetFixture("delay.dll")));
  // A 1024-bit RSA key in its blob: a 12-byte header and 148 bytes.
  EXPECT_EQ(strong.assembly.publicKey.size(), 160u);
  EXPECT_EQ(strong.assembly.publicKey, delay.assembly.publicKey);
  EXPECT_EQ(strong.assembly.flags & kAssemblyFlagPublicKey, 1u);
  for (const DotnetInfo *info : {&strong, &delay}) {
    EXPECT_TRUE(info->hasStrongName);
    EXPECT_EQ(info->strongNameSize, 128u);
    EXPECT_TRUE(info->strongNameMapped);
    EXPECT_FALSE(info->assembly.hasToken); // the platform's digest's
  }
  EXPECT_NE(strong.cliFlags & kCliFlagStrongNameSigned, 0u);
  EXPECT_EQ(delay.cliFlags & kCliFlagStrongNameSigned, 0u);
}

TEST(DotnetIdentity, ReferencesCarryTheirStoredTokens) {
  DotnetInfo info = ReadBytes(ReadFile(DotnetFixture("refs.exe")));
  ASSERT_EQ(info.references.size(), 4u);
  bool sawStrong = false;
  for (const DotnetIdentity &r : info.references) {
    EXPECT_TRUE(r.hasToken) << r.name;
    EXPECT_EQ(r.flags & kAssemblyFlagPublicKey, 0u);
    if (r.name == "strong") {
      sawStrong = true;
      EXPECT_EQ(Version(r.version), "2.0.0.0");
      const unsigned char token[8] = {0x6c, 0xab, 0x93, 0x58,
                                      0x8d, 0x86, 0x02, 0x94};
      EXPECT_EQ(memcmp(r.token, token, 8), 0);
    }
  }
  EXPECT_TRUE(sawStrong);
}

TEST(DotnetIdentity, NetmoduleHasNoAssemblyRow) {
  DotnetInfo info = ReadBytes(ReadFile(DotnetFixture("module.netmodule")));
  EXPECT_TRUE(info.hasCli);
  EXPECT_TRUE(info.hasTables);
  EXPECT_FALSE(info.hasAssembly);
  EXPECT_TRUE(info.hasModule);
  EXPECT_EQ(info.moduleName, "module.netmodule");
  EXPECT_EQ(info.malformed, kDotnetWellFormed);
}

// wide.dll is built so that the #Strings and #Blob indexes and the Field
// row index are 4 bytes wide (no compiler writes 64 KiB of GUIDs); the identity after those tables is read all the same.
TEST(DotnetIdentity, WideIndexes) {
  std::string file = ReadFile(DotnetFixture("wide.dll"));
  Places p = Find(file);
  EXPECT_EQ(file[p.tables + kTablesHeapSizes] & 0x7,
            kHeapStringsWide | kHeapBlobWide);
  EXPECT_GT(GetLe32(file, RowCountAt(file, p, kTableField)), 0xFFFFu);
  DotnetInfo info = ReadBytes(file);
  EXPECT_EQ(info.malformed, kDotnetWellFormed);
  EXPECT_EQ(info.assembly.name, "wide");
  EXPECT_EQ(info.attributes[kAttrInformationalVersion].value, "5.6.7-wide");
  ASSERT_EQ(info.references.size(), 1u);
  EXPECT_EQ(info.references[0].name, "mscorlib");
}

TEST(DotnetHost, ApphostAndBundles) {
  bool found = false;
  DotnetInfo plain = ReadBytes(ReadFile(DotnetFixture("apphost.exe")), &found);
  EXPECT_TRUE(found);
  EXPECT_FALSE(plain.hasCli);
  EXPECT_TRUE(plain.host.found);
  EXPECT_EQ(plain.host.headerOffset, 0u);
  EXPECT_FALSE(plain.host.isBundle);
  for (const char *name : {"bundle1.exe", "bundle6.exe"}) {
    DotnetInfo info = ReadBytes(ReadFile(DotnetFixture(name)));
    EXPECT_TRUE(info.host.found) << name;
    EXPECT_TRUE(info.host.isBundle) << name;
    EXPECT_EQ(info.host.fileCount, 3u);
    EXPECT_EQ(info.host.bundleId, "QuelvoBundleId");
    EXPECT_EQ(info.host.mainAssembly, "app.dll");
    EXPECT_EQ(info.malformed, kDotnetWellFormed);
  }
  EXPECT_EQ(ReadBytes(ReadFile(DotnetFixture("bundle1.exe"))).host.bundleMajor,
            1u);
  EXPECT_EQ(ReadBytes(ReadFile(DotnetFixture("bundle6.exe"))).host.bundleMajor,
            6u);
}

TEST(DotnetHost, NativeFilesAreNeither) {
  bool found = true;
  DotnetInfo info = ReadBytes(ReadFile(Fixture("app64.exe")), &found);
  EXPECT_FALSE(found);
  EXPECT_FALSE(info.hasCli);
  EXPECT_FALSE(info.host.found);
  EXPECT_EQ(info.malformed, kDotnetWellFormed);
  ReadBytes("MZ not a PE at all", &found);
  EXPECT_FALSE(found);
}

// A bundle whose header offset points past the file, or whose manifest is
// cut short, is a host all the same, and malformed.
TEST(DotnetHost, BrokenBundles) {
  std::string file = ReadFile(DotnetFixture("bundle6.exe"));
  DotnetInfo good = ReadBytes(file);
  ASSERT_TRUE(good.host.isBundle);
  std::string far = file;
  SetLe32(&far, static_cast<size_t>(good.host.markerOffset - 8), 0x7FFFFFF0);
  DotnetInfo info = ReadBytes(far);
  EXPECT_TRUE(info.host.found);
  EXPECT_FALSE(info.host.isBundle);
  EXPECT_EQ(info.malformed, kDotnetBadBundle);
  std::string cut = file.substr(0, file.size() - 10);
  info = ReadBytes(cut);
  EXPECT_TRUE(info.host.found);
  EXPECT_EQ(info.malformed, kDotnetBadBundle);
  EXPECT_EQ(info.host.mainAssembly, "");
}

// Each way of bending attrs.dll or strong.dll: the reason it gives, and
// that what lies before the fault is still read.
struct Bend {
  const char *what;
  const char *file;
  void (*apply)(std::string *file, const Places &p);
  DotnetMalformed why;
  bool stillNamed; // the assembly's name is still read
};

const Bend kBends[] = {
    {"CLI header RVA in no section", "attrs.dll",
     [](std::string *f, const Places &p) {
       SetLe32(f, p.cliDirectory, 0x7FFFFF00);
     },
     kDotnetCliHeaderUnmapped, false},
    {"file ends inside the CLI header", "attrs.dll",
     [](std::string *f, const Places &p) { f->resize(p.cli + 20); },
     kDotnetCliHeaderTruncated, false},
    {"metadata RVA in no section", "attrs.dll",
     [](std::string *f, const Places &p) {
       SetLe32(f, p.cli + kCliMetaData, 0x7FFFFF00);
     },
     kDotnetMetadataUnmapped, false},
    {"metadata size past the file", "attrs.dll",
     [](std::string *f, const Places &p) {
       SetLe32(f, p.cli + kCliMetaData + 4, 0x7FFFFF00);
     },
     kDotnetMetadataTruncated, true},
    {"not BSJB", "attrs.dll",
     [](std::string *f, const Places &p) { (*f)[p.root] = 'X'; },
     kDotnetBadSignature, false},
    {"version string longer than 255", "attrs.dll",
     [](std::string *f, const Places &p) {
       SetLe32(f, p.root + kMetaVersionLength, 0x1000);
     },
     kDotnetRootTruncated, false},
    {"stream past the metadata", "attrs.dll",
     [](std::string *f, const Places &p) {
       SetLe32(f, StreamHeader(*f, p, "#GUID") + kStreamOffset, 0x7FFFFFF0);
     },
     kDotnetStreamOutside, true},
    {"no table stream", "attrs.dll",
     [](std::string *f, const Places &p) {
       (*f)[StreamHeader(*f, p, "#~") + kStreamName + 1] = 'x';
     },
     kDotnetNoTableStream, false},
    {"table stream shorter than its header", "attrs.dll",
     [](std::string *f, const Places &p) {
       SetLe32(f, StreamHeader(*f, p, "#~") + kStreamSize, 20);
     },
     kDotnetTablesTruncated, false},
    // No index names a CustomAttribute row, so the tables before it keep
    // their layout; it and every later table lie past the stream.
    {"CustomAttribute rows past the stream", "attrs.dll",
     [](std::string *f, const Places &p) {
       SetLe32(f, RowCountAt(*f, p, kTableCustomAttribute), 0x10000000);
     },
     kDotnetTableOutside, false},
    {"#Strings heap cut to one byte", "attrs.dll",
     [](std::string *f, const Places &p) {
       SetLe32(f, StreamHeader(*f, p, "#Strings") + kStreamSize, 1);
     },
     kDotnetBadString, false},
    {"public key blob longer than its heap", "strong.dll",
     [](std::string *f, const Places &p) {
       // The key is the blob whose packed length is 0x80 0xA0 (160).
       size_t at = f->find(std::string("\x80\xa0\x00\x24", 4), p.blob);
       ASSERT_NE(at, std::string::npos);
       (*f)[at] = static_cast<char>(0xDF);
       (*f)[at + 1] = static_cast<char>(0xFF);
     },
     kDotnetBadBlob, true},
    {"attribute value without its prolog", "attrs.dll",
     [](std::string *f, const Places &p) {
       std::string value("\x01\x00\x12Quelvo attrs title", 21);
       size_t at = f->find(value, p.blob);
       ASSERT_NE(at, std::string::npos);
       (*f)[at] = 2;
     },
     kDotnetBadAttribute, true},
    {"attribute string longer than its blob", "attrs.dll",
     [](std::string *f, const Places &p) {
       std::string value("\x01\x00\x12Quelvo attrs title", 21);
       size_t at = f->find(value, p.blob);
       ASSERT_NE(at, std::string::npos);
       (*f)[at + 2] = 0x7F;
     },
     kDotnetBadAttribute, true},
};

class DotnetBends : public testing::TestWithParam<Bend> {};

TEST_P(DotnetBends, ReportsWhyAndWhatItRead) {
  const Bend &b = GetParam();
  std::string file = ReadFile(DotnetFixture(b.file));
  Places p = Find(file);
  b.apply(&file, p);
  bool found = false;
  DotnetInfo info = ReadBytes(file, &found);
  EXPECT_TRUE(found) << b.what;
  EXPECT_STREQ(DotnetMalformedName(info.malformed), DotnetMalformedName(b.why))
      << b.what;
  EXPECT_EQ(info.hasAssembly && !info.assembly.name.empty(), b.stillNamed)
      << b.what;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DotnetBends, testing::ValuesIn(kBends));

TEST(DotnetBends, AttributeLeftOutOthersKept) {
  std::string file = ReadFile(DotnetFixture("attrs.dll"));
  Places p = Find(file);
  kBends[12].apply(&file, p); // the title's prolog
  DotnetInfo info = ReadBytes(file);
  EXPECT_FALSE(info.attributes[kAttrTitle].present);
  EXPECT_EQ(info.attributes[kAttrCompany].value, "Quelvo Test Co");
  EXPECT_EQ(info.attributes[kAttrInformationalVersion].value,
            "10.0.7+sha.abc");
}

// Every prefix of an assembly, and every byte of its metadata set to 0xFF
// in turn: never a read outside the bytes (the sanitizer builds check),
// never a hang, always an answer.
TEST(DotnetBends, EveryTruncationAndEveryByte) {
  std::string file = ReadFile(DotnetFixture("strong.dll"));
  for (size_t n = 0; n < file.size(); n += 7)
    ReadBytes(file.substr(0, n));
  Places p = Find(file);
  for (size_t at = p.cli; at < file.size(); ++at) {
    std::string bent = file;
    bent[at] = static_cast<char>(0xFF);
    ReadBytes(bent);
    bent[at] = static_cast<char>(bent[at] ^ 0x80 ^ 0xFF);
    ReadBytes(bent);
  }
}

TEST(DotnetBlobs, PackedLengths) {
  const struct {
    std::vector<unsigned char> bytes;
    bool ok;
    uint32_t value;
    size_t used;
  } cases[] = {
      {{0x03}, true, 3, 1},
      {{0x7F}, true, 0x7F, 1},
      {{0x80, 0x80}, true, 0x80, 2},
      {{0xBF, 0xFF}, true, 0x3FFF, 2},
      {{0xC0, 0x00, 0x40, 0x00}, true, 0x4000, 4},
      {{0xDF, 0xFF, 0xFF, 0xFF}, true, 0x1FFFFFFF, 4},
      {{0x80}, false, 0, 0},             // cut short
      {{0xC0, 0x00, 0x40}, false, 0, 0}, // cut short
      {{0xFF}, false, 0, 0},             // the null string's marker
      {{0xE0, 0, 0, 0}, false, 0, 0},    // no length has this form
      {{}, false, 0, 0},
  };
  for (const auto &c : cases) {
    uint32_t value = 0;
    size_t used = 0;
    EXPECT_EQ(DecodePackedLength(c.bytes.data(), c.bytes.size(), &value, &used),
              c.ok)
        << c.bytes.size();
    if (c.ok) {
      EXPECT_EQ(value, c.value);
      EXPECT_EQ(used, c.used);
    }
  }
}

TEST(DotnetBlobs, TokenIsTheDigestsLastBytesReversed) {
  unsigned char digest[20];
  for (int i = 0; i < 20; ++i)
    digest[i] = static_cast<unsigned char>(i);
  unsigned char token[8];
  TokenFromDigest(digest, token);
  const unsigned char want[8] = {19, 18, 17, 16, 15, 14, 13, 12};
  EXPECT_EQ(memcmp(token, want, 8), 0);
}

} // namespace
