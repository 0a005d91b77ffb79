// The .NET metadata reader on real assemblies built by Mono's compiler
// (tests/fixtures/build_dotnet.sh), on those assemblies bent one field at a
// time, and on metadata made here for the layouts a compiler rarely
// writes. Reader headers only.
#include <ctype.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
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
  for (unsigned i = 0; i < 4; ++i)
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
  PeImage pe;
  ReadPeImage(&src, &pe);
  EXPECT_TRUE(IsPeImage(pe));
  p.cliDirectory = static_cast<size_t>(pe.directories) +
                   kPeDataDirectorySize * kPeDirectoryEntryCli;
  uint64_t at = 0;
  EXPECT_EQ(MapPeDirectoryRva(&src, pe, GetLe32(file, p.cliDirectory), &at),
            kRvaMapped);
  p.cli = static_cast<size_t>(at);
  EXPECT_EQ(
      MapPeDirectoryRva(&src, pe, GetLe32(file, p.cli + kCliMetaData), &at),
      kRvaMapped);
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

// Printed by name: GoogleTest would print the record's bytes, padding
// included, which valgrind rightly calls uninitialised.
void PrintTo(const FixtureCase &c, std::ostream *os) { *os << c.file; }

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
        FixtureCase{"prefer32.exe", "prefer32", "3.1.0.0", "", 0x20003, false,
                    4},
        FixtureCase{"refs.exe", "refs", "3.1.0.0", "", 0x1, false, 4},
        FixtureCase{"selfattr.dll", "selfattr", "0.0.0.0", "", 0x1, false, 1},
        FixtureCase{"wide.dll", "wide", "5.6.7.8", "", 0x1, false, 1}),
    [](const testing::TestParamInfo<FixtureCase> &p) {
      std::string name;
      for (const char *c = p.param.file; *c != '\0'; ++c)
        if (isalnum(static_cast<unsigned char>(*c)))
          name.push_back(*c);
      return name;
    });

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
// row index are 4 bytes wide (no compiler writes 64 KiB of GUIDs); the identity
// after those tables is read all the same.
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

// The marker in a DLL's data makes no host: only programs are searched.
TEST(DotnetHost, ADllIsNeverAHost) {
  std::string file = ReadFile(DotnetFixture("apphost.exe"));
  size_t characteristics =
      GetLe32(file, kDosLfanew) + kPeFileHeader + kPeCharacteristics;
  file[characteristics + 1] =
      static_cast<char>(file[characteristics + 1] | (kPeFileDll >> 8));
  bool found = true;
  DotnetInfo info = ReadBytes(file, &found);
  EXPECT_FALSE(found);
  EXPECT_FALSE(info.host.found);
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

void PrintTo(const Bend &b, std::ostream *os) { *os << b.what; }

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

// Each case named by its place and the reason it expects.
std::string BendName(const testing::TestParamInfo<Bend> &p) {
  std::string name = std::to_string(p.index) + "_";
  for (const char *c = DotnetMalformedName(p.param.why); *c != '\0'; ++c)
    name.push_back(*c == '-' ? '_' : *c);
  return name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DotnetBends, testing::ValuesIn(kBends),
                         BendName);

TEST(DotnetBends, AttributeLeftOutOthersKept) {
  std::string file = ReadFile(DotnetFixture("attrs.dll"));
  Places p = Find(file);
  kBends[12].apply(&file, p); // the title's prolog
  DotnetInfo info = ReadBytes(file);
  EXPECT_FALSE(info.attributes[kAttrTitle].present);
  EXPECT_EQ(info.attributes[kAttrCompany].value, "Quelvo Test Co");
  EXPECT_EQ(info.attributes[kAttrInformationalVersion].value, "10.0.7+sha.abc");
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

// Metadata made here, for the layouts a compiler rarely writes: a PE32
// image with one section holding the CLI header, the metadata root and
// three streams, the tables given row by row with the index widths the
// test chose (2 bytes unless it says otherwise).
struct MadeTables {
  uint8_t heapSizes = 0;
  uint64_t sorted = 0;
  std::string tableStream = "#~";
  bool extraData = false;
  bool readyToRun = false; // a READYTORUN_HEADER (version 9.2) after it all
  uint32_t rows[64] = {};
  std::string data[64];
  std::string strings = std::string(1, '\0');
  std::string blob = std::string(1, '\0');
};

void Put16(std::string *s, uint32_t v) {
  s->push_back(static_cast<char>(v));
  s->push_back(static_cast<char>(v >> 8));
}

void Put32(std::string *s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

uint16_t AddString(MadeTables *t, const std::string &text) {
  size_t at = t->strings.size();
  t->strings += text;
  t->strings.push_back('\0');
  return static_cast<uint16_t>(at);
}

uint16_t AddBlob(MadeTables *t, const std::string &bytes) {
  size_t at = t->blob.size();
  t->blob.push_back(static_cast<char>(bytes.size())); // short blobs only
  t->blob += bytes;
  return static_cast<uint16_t>(at);
}

void AddRow(MadeTables *t, unsigned table, const std::string &row) {
  ++t->rows[table];
  t->data[table] += row;
}

std::string Padded(std::string s) {
  while (s.size() % 4 != 0)
    s.push_back('\0');
  return s;
}

std::string MakeImage(const MadeTables &t) {
  std::string tables;
  Put32(&tables, 0);
  tables += std::string("\x02\x00", 2);
  tables.push_back(static_cast<char>(t.heapSizes | (t.extraData ? 0x40 : 0)));
  tables.push_back('\x01');
  uint64_t valid = 0;
  for (unsigned id = 0; id < 64; ++id)
    if (t.rows[id] != 0)
      valid |= uint64_t{1} << id;
  Put32(&tables, static_cast<uint32_t>(valid));
  Put32(&tables, static_cast<uint32_t>(valid >> 32));
  Put32(&tables, static_cast<uint32_t>(t.sorted));
  Put32(&tables, static_cast<uint32_t>(t.sorted >> 32));
  for (unsigned id = 0; id < 64; ++id)
    if (t.rows[id] != 0)
      Put32(&tables, t.rows[id]);
  if (t.extraData)
    Put32(&tables, 0xDEADBEEF);
  for (unsigned id = 0; id < 64; ++id)
    tables += t.data[id];
  tables = Padded(tables);
  std::string strings = Padded(t.strings), blob = Padded(t.blob);

  const char kVersion[] = "v4.0.30319\0\0"; // 12 bytes with its padding
  std::string names[3] = {Padded(t.tableStream + std::string(1, '\0')),
                          Padded(std::string("#Strings") + '\0'),
                          Padded(std::string("#Blob") + '\0')};
  const std::string *bodies[3] = {&tables, &strings, &blob};
  size_t headers = 0;
  for (const std::string &n : names)
    headers += 8 + n.size();
  std::string meta = "BSJB";
  Put16(&meta, 1);
  Put16(&meta, 1);
  Put32(&meta, 0);
  Put32(&meta, 12);
  meta.append(kVersion, 12);
  Put16(&meta, 0);
  Put16(&meta, 3);
  uint32_t offset = static_cast<uint32_t>(meta.size() + headers);
  for (int i = 0; i < 3; ++i) {
    Put32(&meta, offset);
    Put32(&meta, static_cast<uint32_t>(bodies[i]->size()));
    meta += names[i];
    offset += static_cast<uint32_t>(bodies[i]->size());
  }
  for (const std::string *body : bodies)
    meta += *body;

  const uint32_t kRva = 0x2000, kRaw = 0x200;
  std::string cli;
  Put32(&cli, kCliHeaderSize);
  Put16(&cli, 2);
  Put16(&cli, 5);
  Put32(&cli, kRva + kCliHeaderSize);
  Put32(&cli, static_cast<uint32_t>(meta.size()));
  Put32(&cli, kCliFlagIlOnly);
  cli.resize(kCliHeaderSize, '\0');
  std::string section = cli + meta;
  if (t.readyToRun) {
    SetLe32(&cli, kCliManagedNativeHeader,
            kRva + static_cast<uint32_t>(section.size()));
    SetLe32(&cli, kCliManagedNativeHeader + 4, 16);
    section = cli + meta;
    Put32(&section, kReadyToRunMagic);
    Put16(&section, 9);
    Put16(&section, 2);
    section += std::string(8, '\0');
  }

  std::string image(kRaw, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  SetLe32(&image, kDosLfanew, kDosHeaderSize);
  size_t nt = kDosHeaderSize;
  image.replace(nt, 4, std::string("PE\0\0", 4));
  size_t fh = nt + kPeFileHeader, opt = nt + kPeOptionalHeader;
  SetLe32(&image, fh + kPeMachine, 0x014C);
  image[fh + kPeNumberOfSections] = 1;
  image[fh + kPeSizeOfOptionalHeader] = static_cast<char>(224);
  image[opt + kPeMagic] = 0x0B;
  image[opt + kPeMagic + 1] = 0x01;
  SetLe32(&image, opt + kPeSizeOfHeaders, kRaw);
  SetLe32(&image, opt + kPe32NumberOfRvaAndSizes, 16);
  size_t dir = opt + kPe32DataDirectory + kPeDataDirectorySize * 14;
  SetLe32(&image, dir, kRva);
  SetLe32(&image, dir + 4, kCliHeaderSize);
  size_t sec = opt + 224;
  SetLe32(&image, sec + kPeSectionVirtualSize,
          static_cast<uint32_t>(section.size()));
  SetLe32(&image, sec + kPeSectionVirtualAddress, kRva);
  SetLe32(&image, sec + kPeSectionSizeOfRawData,
          static_cast<uint32_t>(section.size()));
  SetLe32(&image, sec + kPeSectionPointerToRawData, kRaw);
  return image + section;
}

// A #Strings or #Blob index, as wide as the heap sizes make it.
void PutIndex(std::string *row, const MadeTables &t, uint8_t wideBit,
              uint32_t index) {
  if ((t.heapSizes & wideBit) != 0)
    Put32(row, index);
  else
    Put16(row, index);
}

// A blob of any length, its length packed in 1, 2 or 4 bytes.
uint32_t AddLongBlob(MadeTables *t, const std::string &bytes) {
  uint32_t at = static_cast<uint32_t>(t->blob.size());
  uint32_t n = static_cast<uint32_t>(bytes.size());
  if (n < 0x80) {
    t->blob.push_back(static_cast<char>(n));
  } else if (n < 0x4000) {
    t->blob.push_back(static_cast<char>(0x80 | n >> 8));
    t->blob.push_back(static_cast<char>(n));
  } else {
    for (int shift = 24; shift >= 0; shift -= 8)
      t->blob.push_back(
          static_cast<char>((shift == 24 ? 0xC0 : 0) | n >> shift));
  }
  t->blob += bytes;
  return at;
}

// Module and Assembly rows, 2-byte indexes unless heapSizes says: the
// smallest assembly.
MadeTables MinimalAssembly(const std::string &name, uint8_t heapSizes = 0) {
  MadeTables t;
  t.heapSizes = heapSizes;
  std::string module;
  Put16(&module, 0);
  PutIndex(&module, t, kHeapStringsWide, AddString(&t, name + ".dll"));
  module += std::string(6, '\0');
  AddRow(&t, kTableModule, module);
  std::string assembly;
  Put32(&assembly, 0x8004);
  for (uint32_t v : {1u, 2u, 3u, 4u})
    Put16(&assembly, v);
  Put32(&assembly, 0);
  PutIndex(&assembly, t, kHeapBlobWide, 0);
  PutIndex(&assembly, t, kHeapStringsWide, AddString(&t, name));
  PutIndex(&assembly, t, kHeapStringsWide, 0);
  AddRow(&t, kTableAssembly, assembly);
  return t;
}

// A TypeRef to System.Reflection.AssemblyTitleAttribute, a MemberRef to
// its string constructor, and the attribute rows whose parents are given
// (46: the Assembly row), each with the type given (its MemberRef, unless
// the test bends it) and the value "made title".
MadeTables WithTitle(const std::vector<uint32_t> &parents, uint32_t type,
                     uint32_t memberClass = (1 << 3) | 1) {
  MadeTables t = MinimalAssembly("made");
  std::string typeRef;
  Put16(&typeRef, 0);
  Put16(&typeRef, AddString(&t, "AssemblyTitleAttribute"));
  Put16(&typeRef, AddString(&t, "System.Reflection"));
  AddRow(&t, kTableTypeRef, typeRef);
  std::string memberRef;
  Put16(&memberRef, memberClass);
  Put16(&memberRef, AddString(&t, ".ctor"));
  Put16(&memberRef, AddBlob(&t, std::string("\x20\x01\x01\x0e", 4)));
  AddRow(&t, kTableMemberRef, memberRef);
  uint16_t value =
      AddBlob(&t, std::string("\x01\x00\x0amade title\x00\x00", 15));
  for (uint32_t parent : parents) {
    std::string row;
    Put16(&row, parent);
    Put16(&row, type);
    Put16(&row, value);
    AddRow(&t, kTableCustomAttribute, row);
  }
  return t;
}

const uint32_t kAssemblyParent = (1 << 5) | 14;
const uint32_t kTitleCtor = (1 << 3) | 3; // MemberRef row 1

TEST(DotnetMade, MinimalAssemblyReads) {
  DotnetInfo info =
      ReadBytes(MakeImage(WithTitle({kAssemblyParent}, kTitleCtor)));
  EXPECT_EQ(info.malformed, kDotnetWellFormed)
      << DotnetMalformedName(info.malformed);
  EXPECT_EQ(info.assembly.name, "made");
  EXPECT_EQ(Version(info.assembly.version), "1.2.3.4");
  EXPECT_EQ(info.moduleName, "made.dll");
  EXPECT_EQ(info.attributes[kAttrTitle].value, "made title");
}

// The attribute rows' order and the Sorted bit: the binary search trusts
// the bit, the walk of every row does not need it.
TEST(DotnetMade, SortedAndUnsortedAttributes) {
  const struct {
    std::vector<uint32_t> parents;
    bool sortedBit;
    bool found;
  } cases[] = {
      {{39, kAssemblyParent, 100}, true, true},
      {{39, 40, 41, kAssemblyParent}, true, true},
      {{100, kAssemblyParent}, false, true},
      {{100, kAssemblyParent}, true, false}, // a false claim hides it
      {{39, 100}, false, false},
  };
  for (const auto &c : cases) {
    MadeTables t = WithTitle(c.parents, kTitleCtor);
    if (c.sortedBit)
      t.sorted = uint64_t{1} << kTableCustomAttribute;
    DotnetInfo info = ReadBytes(MakeImage(t));
    EXPECT_EQ(info.attributes[kAttrTitle].present, c.found)
        << c.parents.size() << " rows, sorted bit " << c.sortedBit;
    EXPECT_EQ(info.malformed, kDotnetWellFormed);
  }
}

TEST(DotnetMade, CodedIndexesOutOfRange) {
  const struct {
    const char *what;
    uint32_t type;
    uint32_t memberClass;
  } cases[] = {
      {"an unused CustomAttributeType tag", (1 << 3) | 0, (1 << 3) | 1},
      {"a MemberRef past the table", (2 << 3) | 3, (1 << 3) | 1},
      {"the null MemberRef", (0 << 3) | 3, (1 << 3) | 1},
      {"a TypeRef past the table", kTitleCtor, (5 << 3) | 1},
      {"a MemberRefParent tag past the list", kTitleCtor, (1 << 3) | 7},
      {"a MethodDef with no table", (1 << 3) | 2, (1 << 3) | 1},
  };
  for (const auto &c : cases) {
    DotnetInfo info = ReadBytes(
        MakeImage(WithTitle({kAssemblyParent}, c.type, c.memberClass)));
    EXPECT_EQ(info.malformed, kDotnetBadIndex) << c.what;
    EXPECT_FALSE(info.attributes[kAttrTitle].present) << c.what;
    EXPECT_EQ(info.assembly.name, "made") << c.what;
  }
}

TEST(DotnetMade, UncompressedStreamAndExtraData) {
  MadeTables t = WithTitle({kAssemblyParent}, kTitleCtor);
  t.tableStream = "#-";
  t.extraData = true;
  DotnetInfo info = ReadBytes(MakeImage(t));
  EXPECT_EQ(info.malformed, kDotnetWellFormed);
  EXPECT_EQ(info.attributes[kAttrTitle].value, "made title");
}

TEST(DotnetMade, ReadyToRunHeader) {
  MadeTables t = MinimalAssembly("r2r");
  EXPECT_FALSE(ReadBytes(MakeImage(t)).readyToRun);
  t.readyToRun = true;
  DotnetInfo info = ReadBytes(MakeImage(t));
  EXPECT_TRUE(info.readyToRun);
  EXPECT_EQ(info.readyToRunMajor, 9);
  EXPECT_EQ(info.readyToRunMinor, 2);
  EXPECT_EQ(info.assembly.name, "r2r");
}

TEST(DotnetMade, StringWithoutItsZero) {
  MadeTables t = MinimalAssembly("made");
  // The last string, the name, runs to the heap's end: no zero, and no
  // padding that would end it.
  t.strings.pop_back();
  while (t.strings.size() % 4 != 0)
    t.strings.push_back('x');
  DotnetInfo info = ReadBytes(MakeImage(t));
  EXPECT_EQ(info.malformed, kDotnetBadString);
  EXPECT_EQ(info.moduleName, "made.dll");
  EXPECT_EQ(info.assembly.name, "");
}

// More references than are listed: the first ones are, all are counted.
// 70,000 rows make AssemblyRef's coded indexes 4 bytes wide (none is read
// here before the table).
TEST(DotnetMade, ReferencesPastTheListedLimit) {
  MadeTables t = MinimalAssembly("many");
  uint16_t name = AddString(&t, "dep");
  std::string row;
  for (uint32_t v : {4u, 0u, 0u, 0u})
    Put16(&row, v);
  Put32(&row, 0);
  Put16(&row, 0);
  Put16(&row, name);
  Put16(&row, 0);
  Put16(&row, 0);
  const uint32_t kRows = 70000;
  t.rows[kTableAssemblyRef] = kRows;
  for (uint32_t i = 0; i < kRows; ++i)
    t.data[kTableAssemblyRef] += row;
  DotnetInfo info = ReadBytes(MakeImage(t));
  EXPECT_EQ(info.malformed, kDotnetWellFormed);
  EXPECT_EQ(info.referenceCount, kRows);
  ASSERT_EQ(info.references.size(), kDotnetMaxReferences);
  EXPECT_EQ(info.references.back().name, "dep");
  EXPECT_EQ(Version(info.references.back().version), "4.0.0.0");
}

// References that all name one heap entry: each row's copy counts
// toward what a file's identities may take, so a list that would pass it
// stops there, counted in full and reported too large, instead of a copy
// of the entry for every row (65,536 copies of a 1 MiB key ran out of
// memory). Wide blob indexes for the keys of a megabyte.
TEST(DotnetMade, ReferencesSharingOneEntryAreBounded) {
  const struct {
    const char *what;
    uint32_t rows;
    uint32_t flags;
    size_t keyLength;
    size_t nameLength;
    size_t listed;
    DotnetMalformed why;
  } cases[] = {
      // A key no strong name needs is not kept, and hides no row.
      {"400 rows, one 1 MiB key", 400, kAssemblyFlagPublicKey, 1u << 20, 3, 400,
       kDotnetTooLarge},
      {"65,536 rows, one 1 MiB key", 65536, kAssemblyFlagPublicKey, 1u << 20, 3,
       65536, kDotnetTooLarge},
      {"65,536 rows, one key just too long", 65536, kAssemblyFlagPublicKey,
       kDotnetMaxKey + 1, 3, 65536, kDotnetTooLarge},
      // Keys short enough to keep are charged to the file row by row.
      {"65,536 rows, one 4 KiB key", 65536, kAssemblyFlagPublicKey,
       kDotnetMaxKey, 3, 511, kDotnetTooLarge},
      {"1,000 rows, one 60,000-byte name", 1000, 0, 8, 60000, 34,
       kDotnetTooLarge},
      {"2,000 rows, one 700-byte key", 2000, kAssemblyFlagPublicKey, 700, 3,
       2000, kDotnetWellFormed},
  };
  for (const auto &c : cases) {
    MadeTables t = MinimalAssembly("many", kHeapBlobWide);
    std::string key(c.keyLength, '\0');
    for (size_t i = 0; i < key.size(); ++i)
      key[i] = static_cast<char>(i * 7);
    uint32_t keyAt = AddLongBlob(&t, key);
    uint16_t name = AddString(&t, std::string(c.nameLength, 'n'));
    std::string row;
    for (uint32_t v : {4u, 0u, 0u, 0u})
      Put16(&row, v);
    Put32(&row, c.flags);
    Put32(&row, keyAt);
    Put16(&row, name);
    Put16(&row, 0);
    Put32(&row, 0);
    t.rows[kTableAssemblyRef] = c.rows;
    for (uint32_t i = 0; i < c.rows; ++i)
      t.data[kTableAssemblyRef] += row;
    DotnetInfo info = ReadBytes(MakeImage(t));
    EXPECT_STREQ(DotnetMalformedName(info.malformed),
                 DotnetMalformedName(c.why))
        << c.what;
    EXPECT_EQ(info.assembly.name, "many") << c.what;
    EXPECT_EQ(info.referenceCount, c.rows) << c.what;
    ASSERT_EQ(info.references.size(), c.listed) << c.what;
    size_t kept = 0;
    bool keyKept = c.keyLength <= kDotnetMaxKey;
    for (const DotnetIdentity &r : info.references) {
      EXPECT_EQ(r.name.size(), c.nameLength) << c.what;
      EXPECT_EQ(r.publicKey.size(), keyKept ? c.keyLength : 0) << c.what;
      EXPECT_EQ(r.keyTooLong, !keyKept) << c.what;
      kept += r.name.size() + r.publicKey.size();
    }
    EXPECT_LE(kept, kDotnetMaxIdentityBytes) << c.what;
    // A reference stored by its token keeps it whatever the rest.
    EXPECT_EQ(info.references.front().hasToken, c.flags == 0) << c.what;
  }
}

// The assembly's own key past the bound: named and versioned all the
// same, its token unknown rather than none.
TEST(DotnetMade, AnOwnKeyTooLongLeavesItsTokenUnknown) {
  MadeTables t = MinimalAssembly("big", kHeapBlobWide);
  std::string key(kDotnetMaxKey + 1, '\x5a');
  uint32_t keyAt = AddLongBlob(&t, key);
  std::string column;
  Put32(&column, keyAt);
  t.data[kTableAssembly].replace(16, 4, column); // after id, version, flags
  DotnetInfo info = ReadBytes(MakeImage(t));
  EXPECT_EQ(info.assembly.name, "big");
  EXPECT_EQ(info.assembly.version[3], 4);
  EXPECT_TRUE(info.assembly.keyTooLong);
  EXPECT_TRUE(info.assembly.publicKey.empty());
  EXPECT_STREQ(DotnetMalformedName(info.malformed),
               DotnetMalformedName(kDotnetTooLarge));
}

// Attribute rows on the assembly that share one constructor, bent so that
// none is reported: a type name of 60,000 bytes, a 1 MiB signature, a
// 1 MiB value with no prolog or a string past its end. Each row once
// read the whole name or copied the whole blob (a 9.7 MB file took 39 s);
// now the constructor is resolved once and a value looked at before it is
// copied, so each takes about as long as the same rows unbent. Timed
// against those, the best of three, with room for a busy machine.
struct AttributeLayout {
  const char *what;
  uint32_t rows;
  std::string typeName;
  std::string signature;
  std::string value;
  DotnetMalformed why;
};

MadeTables ManyAttributes(const AttributeLayout &a) {
  MadeTables t = MinimalAssembly("made", kHeapBlobWide);
  std::string typeRef;
  Put16(&typeRef, 0);
  Put16(&typeRef, AddString(&t, a.typeName));
  Put16(&typeRef, AddString(&t, "System.Reflection"));
  AddRow(&t, kTableTypeRef, typeRef);
  std::string memberRef;
  Put16(&memberRef, (1 << 3) | 1);
  Put16(&memberRef, AddString(&t, ".ctor"));
  Put32(&memberRef, AddLongBlob(&t, a.signature));
  AddRow(&t, kTableMemberRef, memberRef);
  std::string row;
  Put16(&row, (1 << 5) | 14);
  Put16(&row, (1 << 3) | 3);
  Put32(&row, AddLongBlob(&t, a.value));
  t.rows[kTableCustomAttribute] = a.rows;
  for (uint32_t i = 0; i < a.rows; ++i)
    t.data[kTableCustomAttribute] += row;
  return t;
}

double BestSeconds(const std::string &image, DotnetInfo *info) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    auto start = std::chrono::steady_clock::now();
    *info = ReadBytes(image);
    std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    if (took.count() < best)
      best = took.count();
  }
  return best;
}

TEST(DotnetMade, AttributeRowsSharingAConstructorCostEachTheSame) {
  const std::string kTitle = "AssemblyTitleAttribute";
  const std::string kCtor("\x20\x01\x01\x0e", 4);
  const std::string kValue("\x01\x00\x0amade title\x00\x00", 15);
  std::string noProlog(1u << 20, 'v'), pastItsEnd(1u << 20, 'v');
  pastItsEnd.replace(0, 6, std::string("\x01\x00\xdf\xff\xff\xff", 6));
  const AttributeLayout cases[] = {
      {"a 60,000-byte type name", 200000, std::string(60000, 'A'), kCtor,
       kValue, kDotnetWellFormed},
      {"a 1 MiB signature", 10000, kTitle, std::string(1u << 20, 's'), kValue,
       kDotnetWellFormed},
      {"a 1 MiB value without its prolog", 10000, kTitle, kCtor, noProlog,
       kDotnetBadAttribute},
      {"a 1 MiB value's string past its end", 10000, kTitle, kCtor, pastItsEnd,
       kDotnetBadAttribute},
  };
  for (const AttributeLayout &c : cases) {
    AttributeLayout plain = {"",    c.rows, kTitle,
                             kCtor, kValue, kDotnetWellFormed};
    DotnetInfo info;
    double unbent = BestSeconds(MakeImage(ManyAttributes(plain)), &info);
    EXPECT_EQ(info.attributes[kAttrTitle].value, "made title");
    double bent = BestSeconds(MakeImage(ManyAttributes(c)), &info);
    EXPECT_FALSE(info.attributes[kAttrTitle].present) << c.what;
    EXPECT_STREQ(DotnetMalformedName(info.malformed),
                 DotnetMalformedName(c.why))
        << c.what;
    EXPECT_LT(bent, 4 * unbent + 0.1)
        << c.what << ": " << bent << " s, " << unbent << " s unbent";
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
