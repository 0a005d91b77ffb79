#include <dirent.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "byte_source.h"
#include "cert_table.h"
#include "dotnet_meta.h"
#include "exe_locate.h"
#include "image_builder.h"
#include "pe_image.h"
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

std::vector<std::string> RegularFilesIn(const std::string &folder) {
  std::vector<std::string> files;
  DIR *d = opendir(folder.c_str());
  if (d == nullptr)
    return files;
  while (const dirent *e = readdir(d)) {
    std::string path = folder + "/" + e->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      files.push_back(path);
  }
  closedir(d);
  std::sort(files.begin(), files.end());
  return files;
}

// The headers as the one header reader reads them, and what the readers
// that take them make of each state: the search, the description, the
// certificate table and .NET.
struct HeaderAnswers {
  PeImage image;
  NoVersionReason located;
  ImageInfo info;
  PeSignatureLayout layout;
  bool dotnet;
};

HeaderAnswers AskAll(const std::string &file) {
  HeaderAnswers a;
  ByteSource src;
  InitMemorySource(&src, file.data(), file.size());
  ReadPeImage(&src, &a.image);
  VersionResource res;
  a.located = LocateVersionResource(&src, a.image, &res);
  ImageInfoFromHeaders(a.image, &a.info);
  ReadSignatureLayout(&src, a.image, &a.layout);
  DotnetInfo dotnet;
  a.dotnet = ReadDotnetInfo(&src, a.image, &dotnet);
  // Each entry point that reads the headers itself answers the same.
  VersionResource again;
  EXPECT_EQ(LocateVersionResource(&src, &again), a.located);
  ImageInfo info;
  ReadImageInfo(&src, &info);
  EXPECT_EQ(info.kind, a.info.kind);
  PeSignatureLayout layout;
  ReadSignatureLayout(&src, &layout);
  EXPECT_EQ(layout.table, a.layout.table);
  EXPECT_EQ(layout.hash, a.layout.hash);
  EXPECT_EQ(ReadDotnetInfo(&src, &dotnet), a.dotnet);
  return a;
}

TEST(ReadPeImage, Pe32AndPe32PlusReadAlike) {
  for (bool plus : {false, true}) {
    ImageLayout at;
    const std::string file =
        BuildPe(plus, VersionInfo(Translation(0x409, 1200)), &at);
    HeaderAnswers a = AskAll(file);
    const PeImage &pe = a.image;
    const uint32_t directories =
        plus ? kPe32PlusDataDirectory : kPe32DataDirectory;
    EXPECT_EQ(pe.state, kHeadersOk) << plus;
    EXPECT_EQ(pe.format, kImagePe) << plus;
    EXPECT_EQ(pe.magic, plus ? kPeMagicPe32Plus : kPeMagicPe32) << plus;
    EXPECT_EQ(pe.machine, plus ? 0x8664 : 0x014C) << plus;
    EXPECT_EQ(pe.newHeader, at.newHeader) << plus;
    EXPECT_EQ(pe.optionalHeader, at.optional) << plus;
    EXPECT_EQ(pe.directories, at.optional + directories) << plus;
    EXPECT_EQ(pe.checksumOffset, at.optional + kPeCheckSum) << plus;
    EXPECT_EQ(pe.sizeOfHeaders, 0x200u) << plus;
    EXPECT_EQ(pe.directoryCount, 16u) << plus;
    EXPECT_EQ(pe.directoriesRead, 16u) << plus;
    EXPECT_EQ(pe.sectionTable, at.section) << plus;
    EXPECT_EQ(pe.sectionCount, 1u) << plus;
    PeDirectory resource;
    ASSERT_EQ(FindPeDirectory(pe, kPeDirectoryEntryResource, &resource),
              kDirectoryPresent);
    EXPECT_EQ(resource.rva, 0x1000u) << plus;
    EXPECT_EQ(a.located, kReasonNone) << plus;
    EXPECT_EQ(a.info.kind, plus ? kKindPe32Plus : kKindPe32) << plus;
    EXPECT_TRUE(a.layout.isPe) << plus;
    EXPECT_EQ(a.layout.table, kCertTableAbsent) << plus;
    EXPECT_FALSE(a.dotnet) << plus;
  }
}

TEST(ReadPeImage, EveryReaderAgreesWhereTheHeadersEnd) {
  // Each boundary of the headers, in PE32 and PE32+: what the header
  // reader says, and what the search and the description make of it.
  for (bool plus : {false, true}) {
    ImageLayout at;
    const std::string file = BuildPe(plus, VersionInfo({}), &at);
    const size_t count = at.optional + (plus ? kPe32PlusNumberOfRvaAndSizes
                                             : kPe32NumberOfRvaAndSizes);
    const size_t directories =
        at.optional + (plus ? kPe32PlusDataDirectory : kPe32DataDirectory);
    struct {
      const char *what;
      size_t keep;
      HeaderState state;
      NoVersionReason located;
      bool kindKnown;
      uint32_t directoriesRead;
    } cases[] = {
        {"nothing", 0, kHeadersNoMz, kReasonNoMzHeader, false, 0},
        {"a DOS header short of e_lfanew", kDosLfanew + 3, kHeadersNoMz,
         kReasonNoMzHeader, false, 0},
        {"a signature short of a byte", at.newHeader + 3,
         kHeadersNewHeaderOutside, kReasonNewHeaderOutsideFile, false, 0},
        {"the signature alone", at.newHeader + 4, kHeadersTruncated,
         kReasonTruncatedHeaders, false, 0},
        {"the file header alone", at.optional, kHeadersTruncated,
         kReasonTruncatedHeaders, false, 0},
        {"the magic's first byte", at.optional + 1, kHeadersTruncated,
         kReasonTruncatedHeaders, false, 0},
        {"the magic", at.optional + 2, kHeadersOptionalCut,
         kReasonTruncatedHeaders, true, 0},
        {"up to the count's last byte", count + 3, kHeadersOptionalCut,
         kReasonTruncatedHeaders, true, 0},
        {"up to the directories", directories, kHeadersOk,
         kReasonTruncatedHeaders, true, 0},
        {"two directories and most of a third", directories + 8 * 3 - 1,
         kHeadersOk, kReasonTruncatedHeaders, true, 2},
        {"three directories", directories + 8 * 3, kHeadersOk,
         kReasonTruncatedHeaders, true, 3},
        {"the section table but a byte", at.section + kPeSectionHeaderSize - 1,
         kHeadersOk, kReasonTruncatedHeaders, true, 16},
    };
    for (const auto &c : cases) {
      HeaderAnswers a = AskAll(file.substr(0, c.keep));
      EXPECT_EQ(a.image.state, c.state) << c.what << " " << plus;
      EXPECT_STREQ(NoVersionReasonName(a.located),
                   NoVersionReasonName(c.located))
          << c.what << " " << plus;
      EXPECT_EQ(a.info.kind != kKindUnknown, c.kindKnown)
          << c.what << " " << plus;
      EXPECT_EQ(a.image.directoriesRead, c.directoriesRead)
          << c.what << " " << plus;
      // Only headers read whole make a PE image for the table and .NET.
      EXPECT_EQ(a.layout.table == kCertTableNotPe,
                c.state != kHeadersOk || c.keep < at.section + 40)
          << c.what << " " << plus;
      EXPECT_FALSE(a.dotnet) << c.what << " " << plus;
    }
  }
}

TEST(ReadPeImage, ANewHeaderOutTheFileOrUnknown) {
  ImageLayout at;
  const std::string file = BuildPe(false, VersionInfo({}), &at);
  const uint32_t size = static_cast<uint32_t>(file.size());
  struct {
    const char *what;
    uint32_t lfanew;
    HeaderState state;
  } cases[] = {
      {"at the last three bytes", size - 3, kHeadersNewHeaderOutside},
      {"at the end", size, kHeadersNewHeaderOutside},
      {"past the end", size + 1, kHeadersNewHeaderOutside},
      {"where a 32-bit sum wraps", 0xFFFFFFFEu, kHeadersNewHeaderOutside},
      {"at the DOS header itself", 0, kHeadersUnknownSignature},
      {"at the last four bytes", size - 4, kHeadersUnknownSignature},
  };
  for (const auto &c : cases) {
    HeaderAnswers a = AskAll(With32(file, kDosLfanew, c.lfanew));
    EXPECT_EQ(a.image.state, c.state) << c.what;
    EXPECT_EQ(a.image.format, 0) << c.what;
    EXPECT_EQ(a.info.kind, kKindUnknown) << c.what;
    EXPECT_FALSE(a.layout.isPe) << c.what;
  }
}

TEST(ReadPeImage, ASectionTablePastTheEnd) {
  ImageLayout at;
  const std::string file = BuildPe(false, VersionInfo({}), &at);
  const size_t sections = at.newHeader + kPeFileHeader + kPeNumberOfSections;
  const size_t optionalSize =
      at.newHeader + kPeFileHeader + kPeSizeOfOptionalHeader;
  struct {
    const char *what;
    std::string file;
    RvaMapping resourceRoot; // the section's first byte
    RvaMapping elsewhere;    // an RVA no section covers
    bool sectionsWhole;
  } cases[] = {
      {"as built", file, kRvaMapped, kRvaUnmapped, true},
      // The one section is found before the table runs out.
      {"65535 sections", With16(file, sections, 0xFFFF), kRvaMapped,
       kRvaTableCut, false},
      {"the table moved past the end", With16(file, optionalSize, 0xFFFF),
       kRvaTableCut, kRvaTableCut, false},
      {"no sections", With16(file, sections, 0), kRvaUnmapped, kRvaUnmapped,
       true},
  };
  for (const auto &c : cases) {
    ByteSource src;
    InitMemorySource(&src, c.file.data(), c.file.size());
    PeImage pe;
    ReadPeImage(&src, &pe);
    ASSERT_EQ(pe.state, kHeadersOk) << c.what;
    uint64_t offset = 0;
    EXPECT_EQ(MapPeDataRva(&src, pe, 0x1000, &offset), c.resourceRoot)
        << c.what;
    if (c.resourceRoot == kRvaMapped) {
      EXPECT_EQ(offset, at.root) << c.what;
    }
    EXPECT_EQ(MapPeDataRva(&src, pe, 0x90000, &offset), c.elsewhere) << c.what;
    // Inside the headers a directory's RVA is its own offset, whatever
    // the table holds; data is never looked for there.
    EXPECT_EQ(MapPeDirectoryRva(&src, pe, 0x40, &offset), kRvaMapped) << c.what;
    EXPECT_EQ(offset, 0x40u) << c.what;
    EXPECT_NE(MapPeDataRva(&src, pe, 0x40, &offset), kRvaMapped) << c.what;
    PeSection last;
    bool whole = true;
    for (uint32_t i = 0; i < pe.sectionCount && whole; ++i)
      whole = ReadPeSection(&src, pe, i, &last);
    EXPECT_EQ(whole, c.sectionsWhole) << c.what;
    EXPECT_FALSE(ReadPeSection(&src, pe, pe.sectionCount, &last)) << c.what;
    // The digest needs every section: a table cut short is no PE image
    // to it.
    PeSignatureLayout layout;
    ReadSignatureLayout(&src, pe, &layout);
    EXPECT_EQ(layout.isPe, c.sectionsWhole) << c.what;
  }
}

TEST(FindPeDirectory, ACountBelowTheEntryAskedFor) {
  ImageLayout at;
  const std::string file = BuildPe(false, VersionInfo({}), &at);
  const size_t count = at.optional + kPe32NumberOfRvaAndSizes;
  const size_t security = at.optional + kPe32DataDirectory +
                          kPeDataDirectorySize * kPeDirectoryEntrySecurity;
  // A certificate table entry, at the end of the file: found only when
  // the count reaches it.
  std::string withTable = file + std::string(16, '\0');
  PutLe32(withTable, security, static_cast<uint32_t>(file.size()));
  PutLe32(withTable, security + kPeDataDirectorySizeField, 16);
  struct {
    uint32_t count;
    DirectoryLookup resource;
    NoVersionReason located;
    CertTableState table;
  } cases[] = {
      {0, kDirectoryAbsent, kReasonNoResourceDirectory, kCertTableAbsent},
      {2, kDirectoryAbsent, kReasonNoResourceDirectory, kCertTableAbsent},
      {3, kDirectoryPresent, kReasonNone, kCertTableAbsent},
      {4, kDirectoryPresent, kReasonNone, kCertTableAbsent},
      {5, kDirectoryPresent, kReasonNone, kCertTableBadEntry},
      // More than the array holds: the sixteen there are read.
      {0xFFFFFFFFu, kDirectoryPresent, kReasonNone, kCertTableBadEntry},
  };
  for (const auto &c : cases) {
    std::string bent = With32(withTable, count, c.count);
    HeaderAnswers a = AskAll(bent);
    PeDirectory entry;
    EXPECT_EQ(FindPeDirectory(a.image, kPeDirectoryEntryResource, &entry),
              c.resource)
        << c.count;
    EXPECT_EQ(a.image.directoriesRead, c.count < 16 ? c.count : 16) << c.count;
    EXPECT_STREQ(NoVersionReasonName(a.located), NoVersionReasonName(c.located))
        << c.count;
    EXPECT_STREQ(CertTableStateName(a.layout.table),
                 CertTableStateName(c.table))
        << c.count;
  }
}

TEST(ReadPeImage, EveryFixtureReadOnceAnswersAsReadByEachReader) {
  // Every fixture, whatever its kind: the headers read once and handed on
  // give each entry point the answers it gives reading them itself.
  size_t seen = 0;
  for (const char *folder : {"pe", "ne", "dotnet", "signed", "lint", "large",
                             "lossless", "forged", "signed/hostile"}) {
    for (const std::string &path : RegularFilesIn(Fixture("../") + folder)) {
      const std::string file = ReadFile(path);
      HeaderAnswers a = AskAll(file);
      ByteSource src;
      InitMemorySource(&src, file.data(), file.size());
      std::vector<uint16_t> once, itself;
      ImageInfo info;
      EXPECT_EQ(DescribeImage(&src, a.image, &info, &once),
                DescribeImage(&src, &info, &itself))
          << path;
      EXPECT_EQ(once, itself) << path;
      std::vector<LanguageVersion> v1, v2;
      EXPECT_EQ(ListLanguageVersions(&src, a.image, &v1),
                ListLanguageVersions(&src, &v2))
          << path;
      EXPECT_EQ(v1.size(), v2.size()) << path;
      ++seen;
    }
  }
  EXPECT_GT(seen, 100u); // the folders were found
}

TEST(FailedReads, EachEntryPointSaysItsOwnAndNoneLingers) {
  // The source is told the file is longer than it is, and the file ends
  // before the resource tree: each entry point that reads there says the
  // read failed; one whose reads all lie in the file, asked after on the
  // same source, does not, and nobody clears anything between them.
  ImageLayout at;
  const std::string file =
      BuildPe(false, VersionInfo(Translation(0x409, 1200)), &at);
  ScratchDir dir;
  std::string path = dir.Add("cut.dll", file.substr(0, at.root));
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  // Without windows each read asks for its own bytes alone.
  ByteSource src;
  InitFileSource(&src, fd, file.size(), nullptr, 0);
  PeImage pe;
  ReadPeImage(&src, &pe);
  EXPECT_EQ(pe.state, kHeadersOk);
  VersionResource res;
  EXPECT_EQ(LocateVersionResource(&src, pe, &res), kReasonReadFailed);
  ImageInfo info;
  EXPECT_EQ(ReadImageInfo(&src, &info), kImageKnown);
  EXPECT_EQ(info.kind, kKindPe32);
  std::vector<uint16_t> languages;
  EXPECT_EQ(ListVersionLanguages(&src, pe, &languages), kReasonReadFailed);
  EXPECT_EQ(DescribeImage(&src, pe, &info, &languages), kImageReadFailed);
  EXPECT_EQ(info.kind, kKindPe32); // the kind stands
  PeSignatureLayout layout;
  ReadSignatureLayout(&src, pe, &layout);
  EXPECT_EQ(layout.table, kCertTableAbsent);
  DotnetInfo dotnet;
  EXPECT_FALSE(ReadDotnetInfo(&src, pe, &dotnet));
  EXPECT_EQ(dotnet.malformed, kDotnetWellFormed);
  close(fd);
  // Headers the file fails to give are the header reader's to say.
  int empty = open("/dev/null", O_RDONLY);
  ASSERT_GE(empty, 0);
  ByteSource gone;
  InitFileSource(&gone, empty, file.size(), nullptr, 0);
  ReadPeImage(&gone, &pe);
  EXPECT_EQ(pe.state, kHeadersReadFailed);
  EXPECT_EQ(LocateVersionResource(&gone, pe, &res), kReasonReadFailed);
  EXPECT_EQ(ImageInfoFromHeaders(pe, &info), kImageReadFailed);
  ReadSignatureLayout(&gone, pe, &layout);
  EXPECT_EQ(layout.table, kCertTableReadFailed);
  close(empty);
}

TEST(ReadVersionBlock, SaysWhetherTheFileOrTheBufferFailed) {
  ImageLayout at;
  const std::string file =
      BuildPe(false, VersionInfo(Translation(0x409, 1200)), &at);
  ScratchDir dir;
  // The file ends halfway through the block; the source is told it is
  // whole, so the block's read fails in the file.
  std::string path = dir.Add("cut.dll", file.substr(0, at.block + 8));
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct {
    const char *what;
    bool fromCutFile;
    size_t length; // 0: what the size query says
    NoVersionReason why;
  } cases[] = {
      {"the whole block", false, 0, kReasonNone},
      {"a buffer of its first bytes", false, 64, kReasonNone},
      {"a buffer too small for any block", false, 4, kReasonBlockTooShort},
      {"a file cut inside the block", true, 0, kReasonReadFailed},
  };
  for (const auto &c : cases) {
    ByteSource src;
    if (c.fromCutFile)
      InitFileSource(&src, fd, file.size(), nullptr, 0);
    else
      InitMemorySource(&src, file.data(), file.size());
    VersionResource res;
    ASSERT_EQ(LocateVersionResource(&src, &res), kReasonNone) << c.what;
    size_t length =
        c.length != 0 ? c.length : VersionBufferSizeOf(&src, res, nullptr);
    std::string buffer(length, '\x55');
    EXPECT_STREQ(
        NoVersionReasonName(ReadVersionBlock(
            &src, res, reinterpret_cast<unsigned char *>(&buffer[0]), length)),
        NoVersionReasonName(c.why))
        << c.what;
  }
  close(fd);
}

// Every entry point's answers for one file, in one line: what the record
// of the fixtures' answers holds.
std::string AnswerLine(const std::string &file) {
  char buf[512];
  std::string out;
  ByteSource src;
  InitMemorySource(&src, file.data(), file.size());
  VersionResource res = VersionResource();
  NoVersionReason why = LocateVersionResource(&src, &res);
  snprintf(buf, sizeof buf, "locate=%s", NoVersionReasonName(why));
  out += buf;
  if (why == kReasonNone) {
    snprintf(buf, sizeof buf, ":%llu:%u:%d",
             static_cast<unsigned long long>(res.offset), res.size, res.format);
    out += buf;
  }
  ImageInfo info;
  std::vector<uint16_t> languages;
  DescribeImage(&src, &info, &languages);
  snprintf(buf, sizeof buf, " image=%d:%04x:%d langs=", info.kind, info.machine,
           info.code ? 1 : 0);
  out += buf;
  for (uint16_t l : languages) {
    snprintf(buf, sizeof buf, "%04x,", l);
    out += buf;
  }
  std::vector<LanguageVersion> versions;
  ListLanguageVersions(&src, &versions);
  out += " versions=";
  for (const LanguageVersion &v : versions) {
    snprintf(buf, sizeof buf, "%04x:%d:%08x%08x%08x%08x,", v.language,
             v.hasFixed ? 1 : 0, v.hasFixed ? v.fileMs : 0,
             v.hasFixed ? v.fileLs : 0, v.hasFixed ? v.productMs : 0,
             v.hasFixed ? v.productLs : 0);
    out += buf;
  }
  PeSignatureLayout l;
  ReadSignatureLayout(&src, &l);
  unsigned long long sum = 0;
  for (const HashRange &h : l.hashed)
    sum += h.offset * 31 + h.length;
  snprintf(buf, sizeof buf,
           " cert=%s:%s:%d:%llu:%08x:%u:%u:%zu:%llu:%zu:%llu:%u:%llu",
           CertTableStateName(l.table), HashLayoutStateName(l.hash),
           l.isPe ? 1 : 0, static_cast<unsigned long long>(l.checksumOffset),
           l.storedChecksum, l.tableOffset, l.tableSize, l.entries.size(),
           static_cast<unsigned long long>(l.trailingBytes), l.hashed.size(),
           sum, l.hashPadding,
           static_cast<unsigned long long>(l.unhashedBytes));
  out += buf;
  DotnetInfo d;
  bool found = ReadDotnetInfo(&src, &d);
  snprintf(buf, sizeof buf, " dotnet=%d:%d:%d:%u.%u:%08x:%d:%d:%d:%zu:%d",
           found ? 1 : 0, static_cast<int>(d.malformed), d.hasCli ? 1 : 0,
           d.cliMajor, d.cliMinor, d.cliFlags, d.host.found ? 1 : 0,
           d.hasStrongName ? 1 : 0, d.readyToRun ? 1 : 0, d.references.size(),
           d.hasAssembly ? 1 : 0);
  out += buf;
  return out;
}

TEST(ReaderAnswers, EveryExecutableFixtureAnswersAsRecorded) {
  // What each entry point said of each executable fixture before the
  // headers had one reader: a change to how they are read that changes
  // an answer shows here, entry point by entry point.
  std::istringstream record(ReadFile(Fixture("../reader_answers.txt")));
  std::string line;
  size_t checked = 0;
  while (std::getline(record, line)) {
    size_t space = line.find(' ');
    ASSERT_NE(space, std::string::npos) << line;
    const std::string name = line.substr(0, space);
    EXPECT_EQ(name + " " + AnswerLine(ReadFile(Fixture("../" + name))), line);
    ++checked;
  }
  EXPECT_GT(checked, 100u);
}

} // namespace
