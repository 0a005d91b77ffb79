#include <fcntl.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <random>

#include "byte_source.h"
#include "exe_locate.h"
#include "image_builder.h"
#include "reader_support.h"
#include "test_support.h"
#include "version_block.h"
#include "version_walk.h"

namespace {

int Locate(const std::string &image, VersionResource *res) {
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  return LocateVersionResource(&src, res) == kReasonNone ? 0 : -1;
}

uint32_t At32(const std::string &s, size_t off) {
  return Le32(reinterpret_cast<const unsigned char *>(s.data()) + off);
}
void Put32(std::string &s, size_t off, uint32_t v) {
  for (size_t i = 0; i < 4; ++i)
    s[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put16(std::string &s, size_t off, uint16_t v) {
  s[off] = static_cast<char>(v & 0xFF);
  s[off + 1] = static_cast<char>(v >> 8);
}

// File offset of the resource directory root of a well-formed PE32 image,
// found independently of the code under test.
size_t ResourceRoot(const std::string &pe) {
  size_t nt = At32(pe, 0x3C);
  size_t optional = nt + 24;
  size_t sections =
      optional +
      Le16(reinterpret_cast<const unsigned char *>(pe.data()) + nt + 20);
  bool plus = pe[optional] == 0x0B && pe[optional + 1] == 0x02;
  uint32_t rva = At32(pe, optional + (plus ? 128 : 112));
  unsigned count =
      Le16(reinterpret_cast<const unsigned char *>(pe.data()) + nt + 6);
  for (unsigned i = 0; i < count; ++i) {
    size_t sec = sections + 40 * i;
    uint32_t va = At32(pe, sec + 12), raw = At32(pe, sec + 16);
    if (rva >= va && rva < va + raw)
      return At32(pe, sec + 20) + (rva - va);
  }
  return 0;
}

// The root key as stored: "VS_VERSION_INFO" in UTF-16 with its zero.
std::string U16Key() {
  std::string out;
  for (char c : std::string("VS_VERSION_INFO")) {
    out += c;
    out += '\0';
  }
  return out;
}

// Everything a report asks of a file, on a located resource.
void ExerciseBlock(const std::string &image, const VersionResource &res) {
  ASSERT_LE(res.offset + res.size, image.size());
  unsigned length = res.size >= 2
                        ? Le16(reinterpret_cast<const unsigned char *>(
                              image.data() + res.offset))
                        : 0;
  std::string buffer(VersionBufferSize(res.format, res.size, length), '\0');
  if (buffer.empty())
    return;
  size_t copied = res.size < buffer.size() ? res.size : buffer.size();
  memcpy(&buffer[0], image.data() + res.offset, copied);
  if (!PrepareVersionBlock(reinterpret_cast<unsigned char *>(&buffer[0]),
                           buffer.size(), copied))
    return;
  const char *queries[] = {"\\", "\\VarFileInfo\\Translation",
                           "\\StringFileInfo\\040904b0\\CompanyName",
                           "\\StringFileInfo\\040904b0\\FileVersion"};
  for (const char *q : queries) {
    const char *value;
    unsigned len;
    if (!QueryBlock(buffer, q, &value, &len))
      continue;
    size_t start = static_cast<size_t>(value - &buffer[0]);
    EXPECT_LT(start + strlen(value), buffer.size());
  }
}

// Every prefix of an image: located or not, never a read past its end.
void SweepTruncations(const std::string &image) {
  for (size_t len = 0; len < image.size(); ++len) {
    std::string cut = image.substr(0, len);
    VersionResource res;
    if (Locate(cut, &res) == 0)
      ExerciseBlock(cut, res);
  }
}

TEST(LocateVersionResource, FindsItInEveryFixtureThatHasOne) {
  const char *without[] = {"nover.dll", "norsrc.dll", "strname.dll",
                           "name2.dll"};
  const char *with[] = {"basic.dll", "app32.exe",   "app64.exe",
                        "lang9.dll", "notrans.dll", "oddchars.dll"};
  for (const char *name : without) {
    VersionResource res;
    EXPECT_EQ(Locate(ReadFile(Fixture(name)), &res), -1) << name;
  }
  for (const char *name : with) {
    std::string image = ReadFile(Fixture(name));
    VersionResource res;
    ASSERT_EQ(Locate(image, &res), 0) << name;
    EXPECT_EQ(res.format, kImagePe);
    EXPECT_EQ(image.substr(res.offset + 6, 30), U16Key()) << name;
    // The size query's answer; that the service gives the same, with a
    // zero handle, is tested with the platform (version_service_test.cpp).
    EXPECT_EQ(ReaderBufferSize(Fixture(name)), res.size * 2 + 4);
  }
}

std::string Company(const std::string &path) {
  std::string block = ReaderVersionBlock(path);
  if (block.empty())
    return "<none>";
  const char *value;
  unsigned len;
  if (!QueryBlock(block, "\\StringFileInfo\\040904b0\\CompanyName", &value,
                  &len))
    return "<no company>";
  return value;
}

TEST(LocateVersionResource, ChoosesTheLanguageUSEnglishWindowsChooses) {
  EXPECT_EQ(Company(Fixture("lang9.dll")), "English neutral entry");
  EXPECT_EQ(Company(Fixture("langneutral.dll")), "Neutral entry");
  EXPECT_EQ(Company(Fixture("lang407.dll")), "Only German language");
}

TEST(LocateVersionResource, IdEntriesAreFoundByBinarySearchAsTheLoaderDoes) {
  // nover.dll holds types 6 (strings) and 10 (data), both with name 1.
  std::string image = ReadFile(Fixture("nover.dll"));
  size_t root = ResourceRoot(image);
  ASSERT_EQ(
      Le16(reinterpret_cast<const unsigned char *>(image.data()) + root + 14),
      2);
  VersionResource res;
  std::string sorted = image; // 5, 16: the data resource poses as version
  Put16(sorted, root + 16, 5);
  Put16(sorted, root + 24, 16);
  EXPECT_EQ(Locate(sorted, &res), 0);
  std::string unsorted = image; // 16, 5: binary search never sees the 16
  Put16(unsorted, root + 16, 16);
  Put16(unsorted, root + 24, 5);
  EXPECT_EQ(Locate(unsorted, &res), -1);
}

TEST(LocateVersionResource, HostileDirectoriesFailCleanly) {
  std::string image = ReadFile(Fixture("basic.dll"));
  size_t root = ResourceRoot(image);
  ASSERT_NE(root, 0u);
  VersionResource res;
  ASSERT_EQ(Locate(image, &res), 0);
  size_t typeEntry = root + 16; // the only entry: type 16
  uint32_t nameDir = At32(image, typeEntry + 4) & 0x7FFFFFFF;
  uint32_t langDir = At32(image, root + nameDir + 16 + 4) & 0x7FFFFFFF;
  uint32_t dataEntry = At32(image, root + langDir + 16 + 4);

  std::string loop = image; // the type level points back at the root
  Put32(loop, typeEntry + 4, 0x80000000u);
  EXPECT_EQ(Locate(loop, &res), -1);
  std::string kind = image; // a data entry where a directory belongs
  Put32(kind, typeEntry + 4, nameDir);
  EXPECT_EQ(Locate(kind, &res), -1);
  std::string far = image; // a subdirectory far outside the file
  Put32(far, typeEntry + 4, 0xFFFFFFF0u);
  EXPECT_EQ(Locate(far, &res), -1);
  std::string size = image; // data larger than the file
  Put32(size, root + dataEntry + 4, 0x7FFFFFFF);
  EXPECT_EQ(Locate(size, &res), -1);
  std::string nowhere = image; // data RVA inside no section
  Put32(nowhere, root + dataEntry, 0xFFFFFF00u);
  EXPECT_EQ(Locate(nowhere, &res), -1);
  std::string counts = image; // entry counts past the end of the file
  Put16(counts, root + 12, 0xFFFF);
  Put16(counts, root + 14, 0xFFFF);
  EXPECT_EQ(Locate(counts, &res), -1);
  std::string lfanew = image;
  Put32(lfanew, 0x3C, 0xFFFFFFFCu);
  EXPECT_EQ(Locate(lfanew, &res), -1);
  EXPECT_EQ(Locate("", &res), -1);
  EXPECT_EQ(Locate("MZ", &res), -1);
}

TEST(LocateVersionResource, EveryTruncationAndHeaderFlipEndsCleanly) {
  for (const char *name : {"basic.dll", "app64.exe"}) {
    const std::string image = ReadFile(Fixture(name));
    SweepTruncations(image);
    for (size_t at = 0; at < image.size(); ++at)
      for (char v : {'\x00', '\xFF', '\x80'}) {
        std::string bent = image;
        bent[at] = v;
        VersionResource res;
        if (Locate(bent, &res) == 0)
          ExerciseBlock(bent, res);
      }
  }
}

std::string Ne(const std::string &name) {
  return std::string(QUELVO_FIXTURES) + "/../ne/" + name;
}

uint16_t At16(const std::string &s, size_t off) {
  return Le16(reinterpret_cast<const unsigned char *>(s.data()) + off);
}

// Where app16.exe keeps its resource alignment shift and the NAMEINFO of
// its version resource, found by walking the resource table here,
// independently of the code under test.
void NeVersionEntry(const std::string &ne, size_t *shiftAt, size_t *nameAt) {
  size_t header = At32(ne, 0x3C);
  size_t pos = header + At16(ne, header + 0x24);
  *shiftAt = pos;
  *nameAt = 0;
  for (pos += 2; At16(ne, pos) != 0; pos += 8 + 12 * At16(ne, pos + 2))
    if (At16(ne, pos) == 0x8010 && At16(ne, pos + 8 + 6) == 0x8001) {
      *nameAt = pos + 8;
      return;
    }
}

TEST(LocateVersionResource, NeOffsetsAndLengthsMustFitTheFormats32Bits) {
  const std::string image = ReadFile(Ne("app16.exe"));
  size_t shiftAt, nameAt;
  NeVersionEntry(image, &shiftAt, &nameAt);
  ASSERT_NE(nameAt, 0u);
  const uint16_t shift = At16(image, shiftAt);
  const uint16_t offset = At16(image, nameAt);
  const uint16_t length = At16(image, nameAt + 2);
  ASSERT_EQ(shift, 4);
  // Each unit counts 1 << shift bytes. Computed in 32 bits, as the format
  // has them, 2 << 31 would wrap to 0 and find the DOS header.
  struct {
    uint16_t shift, offset, length;
    int located;
    uint64_t at;
    const char *what;
  } cases[] = {
      {shift, offset, length, 0, uint64_t{offset} << 4, "as built"},
      {31, 2, 1, -1, 0, "an offset of 2 << 31"},
      {31, 0, 2, -1, 0, "a length of 2 << 31"},
      {31, 0, 1, 0, 0, "a length of 1 << 31, cut at the file's end"},
      {32, 0, 1, -1, 0, "a shift of 32"},
      {64, offset, length, -1, 0, "a shift no integer takes"},
  };
  for (const auto &c : cases) {
    std::string bent = image;
    Put16(bent, shiftAt, c.shift);
    Put16(bent, nameAt, c.offset);
    Put16(bent, nameAt + 2, c.length);
    VersionResource res;
    ASSERT_EQ(Locate(bent, &res), c.located) << c.what;
    if (c.located == 0) {
      EXPECT_EQ(res.offset, c.at) << c.what;
      uint64_t claimed = uint64_t{c.length} << c.shift;
      EXPECT_EQ(res.size, std::min<uint64_t>(claimed, image.size() - c.at))
          << c.what;
    }
  }
}

TEST(LocateVersionResource, LeBlockIsCutToTheLengthTheLeHeaderGives) {
  // Room after the block, so the file's end does not do the cutting.
  const std::string image = ReadFile(Ne("driver.vxd")) + std::string(256, 'x');
  const size_t header = At32(image, 0x3C);
  const uint32_t resourceAt = At32(image, header + 0xB8);
  const uint32_t size = At32(image, resourceAt + 8);
  ASSERT_EQ(At32(image, header + 0xBC), 12 + size);
  const uint32_t toEnd = static_cast<uint32_t>(image.size() - resourceAt - 12);
  struct {
    uint32_t leLength, blockSize;
    int located;
    uint32_t kept;
    const char *what;
  } cases[] = {
      {12 + size, size, 0, size, "as built"},
      {12 + size, size + 100, 0, size, "the block claims more"},
      {12 + size - 10, size, 0, size - 10, "the LE header gives less"},
      {13, size, 0, 1, "one byte"},
      {12, size, -1, 0, "no room past the resource header"},
      {12 + size, 0, -1, 0, "an empty block"},
      {0xFFFFFFFFu, size, 0, size, "a length that wraps"},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0, toEnd, "cut at the file's end"},
  };
  for (const auto &c : cases) {
    std::string bent = image;
    Put32(bent, header + 0xBC, c.leLength);
    Put32(bent, resourceAt + 8, c.blockSize);
    VersionResource res;
    ASSERT_EQ(Locate(bent, &res), c.located) << c.what;
    if (c.located == 0) {
      EXPECT_EQ(res.offset, resourceAt + 12u) << c.what;
      EXPECT_EQ(res.size, c.kept) << c.what;
      EXPECT_EQ(res.format, kImageLe) << c.what;
    }
  }
}

TEST(LocateVersionResource, APeResourceOver64KiBIsReadToItsFirst64KiB) {
  // windres wraps the 16-bit lengths of a block this large; the data
  // entry still counts every byte.
  const std::string image = ReadFile(LargeFixture("over64k.dll"));
  VersionResource whole;
  ASSERT_EQ(Locate(image, &whole), 0);
  EXPECT_EQ(whole.size, 0x10000u);
  EXPECT_EQ(ReaderBufferSize(LargeFixture("over64k.dll")), 2u * 0x10000 + 4);
  EXPECT_EQ(Company(LargeFixture("over64k.dll")), "Quelvo Test Co");
  ExerciseBlock(image, whole);
  // Only what is read must be in the file.
  struct {
    size_t keep;
    int located;
  } cuts[] = {{whole.offset + 0x10000, 0}, {whole.offset + 0xFFFF, -1}};
  for (const auto &c : cuts) {
    VersionResource res;
    EXPECT_EQ(Locate(image.substr(0, c.keep), &res), c.located) << c.keep;
  }
}

TEST(LocateVersionResource, SixteenBitImagesAndTheirBrokenTables) {
  struct {
    const char *name;
    int format;
  } good[] = {{"app16.exe", kImageNe},
              {"font.fon", kImageNe},
              {"display.drv", kImageNe},
              {"driver.vxd", kImageLe}};
  for (const auto &g : good) {
    std::string image = ReadFile(Ne(g.name));
    VersionResource res;
    ASSERT_EQ(Locate(image, &res), 0) << g.name;
    EXPECT_EQ(res.format, g.format);
    EXPECT_EQ(image.substr(res.offset + 4, 16),
              std::string("VS_VERSION_INFO\0", 16));
    // Windows sizes a 16-bit block at four times its length past the
    // fixed part.
    unsigned length = Le16(
        reinterpret_cast<const unsigned char *>(image.data() + res.offset));
    EXPECT_EQ(ReaderBufferSize(Ne(g.name)), (length - 52) * 4);
  }
  // Tables that lie: a shift that overflows, types without an end, data
  // past the end of the file, a count of 65535, an LE header of the wrong
  // type or pointing outside the file.
  for (const char *name :
       {"ne_shift_overflow.exe", "ne_type_runaway.exe", "ne_past_end.exe",
        "ne_count_huge.exe", "le_past_end.vxd", "le_bad_header.vxd",
        "nover16.dll", "nover.386"}) {
    VersionResource res;
    EXPECT_EQ(Locate(ReadFile(Ne(name)), &res), -1) << name;
  }
  for (const char *name : {"app16.exe", "driver.vxd"}) {
    const std::string image = ReadFile(Ne(name));
    SweepTruncations(image);
  }
}

NoVersionReason Why(const std::string &image) {
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  VersionResource res;
  NoVersionReason why = LocateVersionResource(&src, &res);
  // Headers read first and handed on tell the same story, described on
  // the way or not, and the plain locate agrees.
  PeImage headers;
  ReadPeImage(&src, &headers);
  VersionResource again;
  EXPECT_EQ(LocateVersionResource(&src, headers, &again), why);
  ImageInfo info;
  std::vector<uint16_t> languages;
  EXPECT_EQ(LocateAndDescribe(&src, headers, &again, &info, &languages), why);
  VersionResource plain;
  EXPECT_EQ(Locate(image, &plain), why == kReasonNone ? 0 : -1);
  return why;
}

// A copy of image with a 16-bit or 32-bit field set, or cut to a length.
std::string With16(std::string image, size_t at, uint16_t v) {
  PutLe16(image, at, v);
  return image;
}
std::string With32(std::string image, size_t at, uint32_t v) {
  PutLe32(image, at, v);
  return image;
}

TEST(LocateVersionResourceWhy, EachReasonFromALayoutMadeForIt) {
  ImageLayout pe, pe64, ne, le;
  const std::string block = VersionInfo(Translation(0x409, 1200));
  const std::string pe32 = BuildPe(false, block, &pe);
  const std::string pe32Plus = BuildPe(true, block, &pe64);
  const std::string ne16 = BuildNe(AnsiVersionInfo(), &ne);
  const std::string vxd = BuildLe(AnsiVersionInfo(), &le);
  const uint32_t kDir = kResDataIsDirectory;
  const size_t peCount = pe.optional + kPe32NumberOfRvaAndSizes;
  const size_t peResourceRva = pe.directory + kPeDataDirectoryVirtualAddress;
  const size_t peTypeData = pe.typeEntry + kResEntryOffsetToData;
  const size_t peLanguageEntry = pe.languageDir + kResDirectorySize;
  struct Case {
    const char *what;
    std::string image;
    NoVersionReason why;
  } cases[] = {
      {"PE32 as built", pe32, kReasonNone},
      {"PE32+ as built", pe32Plus, kReasonNone},
      {"NE as built", ne16, kReasonNone},
      {"LE as built", vxd, kReasonNone},

      {"an empty file", "", kReasonNoMzHeader},
      {"less than a DOS header", pe32.substr(0, kDosHeaderSize - 1),
       kReasonNoMzHeader},
      {"ZM", With16(pe32, kDosMagic, 0x4D5A), kReasonNoMzHeader},

      {"e_lfanew at the last bytes",
       With32(pe32, kDosLfanew, static_cast<uint32_t>(pe32.size() - 2)),
       kReasonNewHeaderOutsideFile},
      {"e_lfanew near 4 GiB", With32(pe32, kDosLfanew, 0xFFFFFFFCu),
       kReasonNewHeaderOutsideFile},

      {"PX", With16(pe32, pe.newHeader, 0x5850), kReasonUnknownSignature},
      {"a DOS program alone", With32(pe32, pe.newHeader, 0),
       kReasonUnknownSignature},

      {"PE cut in the file header", pe32.substr(0, pe.newHeader + 10),
       kReasonTruncatedHeaders},
      {"PE cut before NumberOfRvaAndSizes", pe32.substr(0, peCount),
       kReasonTruncatedHeaders},
      {"PE32+ cut before its resource entry",
       pe32Plus.substr(0, pe64.directory + 2), kReasonTruncatedHeaders},
      {"a section table past the end",
       With16(pe32, pe.newHeader + kPeFileHeader + kPeSizeOfOptionalHeader,
              0xFFFF),
       kReasonTruncatedHeaders},
      {"NE cut before ne_rsrctab", ne16.substr(0, ne.newHeader + kNeRsrcTab),
       kReasonTruncatedHeaders},
      {"LE cut before e32_winreslen",
       vxd.substr(0, le.newHeader + kLeWinResLen), kReasonTruncatedHeaders},

      {"a ROM image's magic", With16(pe32, pe.optional + kPeMagic, 0x107),
       kReasonUnknownOptionalHeader},

      {"two data directories", With32(pe32, peCount, 2),
       kReasonNoResourceDirectory},
      {"resource RVA 0", With32(pe32, peResourceRva, 0),
       kReasonNoResourceDirectory},
      {"resource size 0",
       With32(pe32, pe.directory + kPeDataDirectorySizeField, 0),
       kReasonNoResourceDirectory},
      {"ne_restab at ne_rsrctab", With16(ne16, ne.newHeader + kNeResTab, 0x40),
       kReasonNoResourceDirectory},

      {"a resource RVA in no section", With32(pe32, peResourceRva, 0x50000),
       kReasonMalformedDirectory},
      {"data where the type's directory belongs",
       With32(pe32, peTypeData, 0x18), kReasonMalformedDirectory},
      {"a name directory far outside the file",
       With32(pe32, peTypeData, kDir | 0x7FFFFFF0), kReasonMalformedDirectory},
      {"a data entry outside the file",
       With32(pe32, peLanguageEntry + kResEntryOffsetToData, 0x7FFFFFF0),
       kReasonMalformedDirectory},
      {"a language directory of directories",
       With32(pe32, peLanguageEntry + kResEntryOffsetToData, kDir | 0x48),
       kReasonMalformedDirectory},
      {"ne_restab before ne_rsrctab",
       With16(ne16, ne.newHeader + kNeResTab, 0x3E), kReasonMalformedDirectory},
      {"an alignment shift of 32", With16(ne16, ne.root, 32),
       kReasonMalformedDirectory},
      {"a type whose count runs past the table",
       With16(With16(ne16, ne.typeInfo + kNeRtTypeId, 0x8006),
              ne.typeInfo + kNeRtResourceCount, 0xFFFF),
       kReasonMalformedDirectory},
      {"a table without its terminator",
       With16(With16(ne16, ne.typeInfo + kNeRtTypeId, 0x8006), ne.terminator,
              0x8006),
       kReasonMalformedDirectory},
      {"a version type whose names run past the table",
       With16(With16(ne16, ne.typeInfo + kNeRtResourceCount, 2),
              ne.nameInfo + kNeRnId, 0x8002),
       kReasonMalformedDirectory},
      {"an LE length shorter than its header",
       With32(vxd, le.newHeader + kLeWinResLen, 5), kReasonMalformedDirectory},

      {"strings but no version type",
       With16(pe32, pe.typeEntry + kResEntryId, 6), kReasonNoVersionResource},
      {"version name 2",
       With16(pe32, pe.nameDir + kResDirectorySize + kResEntryId, 2),
       kReasonNoVersionResource},
      {"no language", With16(pe32, pe.languageDir + kResNumberOfIdEntries, 0),
       kReasonNoVersionResource},
      {"NE strings but no version type",
       With16(ne16, ne.typeInfo + kNeRtTypeId, 0x8006),
       kReasonNoVersionResource},
      {"NE version name 2", With16(ne16, ne.nameInfo + kNeRnId, 0x8002),
       kReasonNoVersionResource},
      {"a VxD without one", With32(vxd, le.newHeader + kLeWinResLen, 0),
       kReasonNoVersionResource},
      {"a VxD resource of type 17",
       With16(vxd, le.winResHeader + kLeResType, 17), kReasonNoVersionResource},

      {"a data entry of no bytes", With32(pe32, pe.dataEntry + kResDataSize, 0),
       kReasonEmptyResource},
      {"an NE length of 0", With16(ne16, ne.nameInfo + kNeRnLength, 0),
       kReasonEmptyResource},
      {"an LE resource of its header alone",
       With32(vxd, le.newHeader + kLeWinResLen, kLeResHeaderSize),
       kReasonEmptyResource},
      {"an LE block of size 0", With32(vxd, le.winResHeader + kLeResSize, 0),
       kReasonEmptyResource},

      {"a data RVA in no section",
       With32(pe32, pe.dataEntry + kResDataOffsetToData, 0x50000),
       kReasonResourceOutsideFile},
      {"data larger than the file",
       With32(pe32, pe.dataEntry + kResDataSize, 0x7FFFFFFF),
       kReasonResourceOutsideFile},
      {"PE cut inside the block", pe32.substr(0, pe.block + 10),
       kReasonResourceOutsideFile},
      {"an NE offset past the end",
       With16(ne16, ne.nameInfo + kNeRnOffset, 0xFFFF),
       kReasonResourceOutsideFile},
      {"an NE offset past 32 bits",
       With16(With16(ne16, ne.root, 31), ne.nameInfo + kNeRnOffset, 2),
       kReasonResourceOutsideFile},
      {"an LE offset near 4 GiB",
       With32(vxd, le.newHeader + kLeWinResOff, 0xFFFFFFF0u),
       kReasonResourceOutsideFile},
  };
  for (const Case &c : cases)
    EXPECT_STREQ(NoVersionReasonName(Why(c.image)), NoVersionReasonName(c.why))
        << c.what;
}

TEST(LocateVersionResourceWhy, TheFixturesWithoutOneSayWhy) {
  struct {
    std::string file;
    NoVersionReason why;
  } cases[] = {
      {Fixture("basic.dll"), kReasonNone},
      {Fixture("norsrc.dll"), kReasonNoResourceDirectory},
      {Fixture("nover.dll"), kReasonNoVersionResource},
      {Fixture("strname.dll"), kReasonNoVersionResource},
      {Fixture("name2.dll"), kReasonNoVersionResource},
      {Ne("nover16.dll"), kReasonNoVersionResource},
      {Ne("nover.386"), kReasonNoVersionResource},
      {Ne("le_bad_header.vxd"), kReasonNoVersionResource},
      {Ne("ne_shift_overflow.exe"), kReasonMalformedDirectory},
      {Ne("ne_type_runaway.exe"), kReasonMalformedDirectory},
      {Ne("ne_count_huge.exe"), kReasonMalformedDirectory},
      {Ne("ne_past_end.exe"), kReasonResourceOutsideFile},
      {Ne("le_past_end.vxd"), kReasonResourceOutsideFile},
      {Fixture("../README.md"), kReasonNoMzHeader},
  };
  for (const auto &c : cases)
    EXPECT_STREQ(NoVersionReasonName(Why(ReadFile(c.file))),
                 NoVersionReasonName(c.why))
        << c.file;
}

TEST(LocateVersionResourceWhy, AFileThatFailsTheReadSaysSoNotWhereItStopped) {
  // The source is told the file is longer than it is: every read past the
  // real end fails in the file, inside the size the reader was given.
  // Without windows each read asks for its own bytes alone, so the walk
  // gets as far as the file goes.
  ImageLayout pe, ne;
  const std::string image = BuildPe(false, VersionInfo({}), &pe);
  const std::string ne16 = BuildNe(AnsiVersionInfo(), &ne);
  struct {
    const char *what;
    std::string image;
    size_t keep;
    size_t windows;
    NoVersionReason why;
  } cases[] = {
      {"whole", image, image.size(), 0, kReasonNone},
      {"whole, through windows", image, image.size(), 2, kReasonNone},
      {"cut in the file header", image, pe.newHeader + 8, 0, kReasonReadFailed},
      {"cut in the first window", image, pe.newHeader + 8, 2,
       kReasonReadFailed},
      {"cut before the tree", image, pe.root, 0, kReasonReadFailed},
      {"cut in the NE table", ne16, ne.nameInfo, 0, kReasonReadFailed},
  };
  for (const auto &c : cases) {
    ScratchDir dir;
    std::string path = dir.Add("cut.exe", c.image.substr(0, c.keep));
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    FileWindow windows[2];
    ByteSource src;
    InitFileSource(&src, fd, c.image.size(), windows, c.windows);
    VersionResource res;
    NoVersionReason why = LocateVersionResource(&src, &res);
    EXPECT_STREQ(NoVersionReasonName(why), NoVersionReasonName(c.why))
        << c.what;
    close(fd);
  }
}

TEST(VersionBufferSizeOf, ABlockTooShortToSizeSaysSo) {
  ImageLayout ne, pe;
  const std::string ne16 = BuildNe(AnsiVersionInfo(), &ne);
  const std::string pe32 =
      BuildPe(false, VersionInfo(Translation(0x409, 1200)), &pe);
  struct {
    const char *what;
    std::string image;
    unsigned long size; // 0: too short
  } cases[] = {
      {"a 16-bit block as built", ne16,
       (AnsiVersionInfo().size() - kFixedRecordSize) * 4},
      {"a 16-bit block of its fixed part alone",
       With16(ne16, ne.block + kNodeLength, kFixedRecordSize), 0},
      {"a 16-bit block of one byte, at the file's end",
       ne16.substr(0, ne.block + 1), 0},
      {"a PE block as built", pe32, (pe32.size() - pe.block) * 2 + 4},
      {"a PE block of one byte, at the file's end",
       With32(pe32.substr(0, pe.block + 1), pe.dataEntry + kResDataSize, 1), 0},
  };
  for (const auto &c : cases) {
    ByteSource src;
    InitMemorySource(&src, c.image.data(), c.image.size());
    VersionResource res;
    ASSERT_EQ(Locate(c.image, &res), 0) << c.what;
    NoVersionReason why = kReasonReadFailed;
    EXPECT_EQ(VersionBufferSizeOf(&src, res, &why), c.size) << c.what;
    EXPECT_STREQ(
        NoVersionReasonName(why),
        NoVersionReasonName(c.size != 0 ? kReasonNone : kReasonBlockTooShort))
        << c.what;
  }
}

TEST(NoVersionReasonName, OneStableWordForEachReason) {
  // Reports keep these words: a change here changes what they say.
  const char *const kWords[] = {
      "none",
      "no-mz-header",
      "new-header-outside-file",
      "unknown-signature",
      "truncated-headers",
      "unknown-optional-header",
      "no-resource-directory",
      "malformed-directory",
      "no-version-resource",
      "empty-resource",
      "resource-outside-file",
      "block-too-short",
      "read-failed",
  };
  const int count = sizeof kWords / sizeof kWords[0];
  for (int i = 0; i < count; ++i)
    EXPECT_STREQ(NoVersionReasonName(static_cast<NoVersionReason>(i)),
                 kWords[i]);
  EXPECT_STREQ(NoVersionReasonName(static_cast<NoVersionReason>(count)),
               "unknown");
}

} // namespace
