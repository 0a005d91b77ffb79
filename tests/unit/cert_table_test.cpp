// The reader's certificate table walk, Authentihash ranges and checksum,
// on images built here and bent one field at a time, and on the fixtures.
#include <stdint.h>

#include <random>
#include <string>
#include <vector>

#include "byte_source.h"
#include "cert_table.h"
#include "exe_layout.h"
#include "image_builder.h"
#include "test_support.h"

namespace {

PeSignatureLayout Layout(const std::string &image) {
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  PeSignatureLayout layout;
  ReadSignatureLayout(&src, &layout);
  return layout;
}

// A PE32+ image with a certificate table of the given entries (each a
// WIN_CERTIFICATE of that many payload bytes, padded to 8) after its last
// section, and the directory entry pointing at it.
struct Signed {
  std::string image;
  ImageLayout at;
  size_t directory; // DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]
  size_t table;
  size_t checksum;
};

Signed BuildSigned(std::vector<uint32_t> payloads) {
  Signed s;
  s.image = BuildPe(true, AnsiVersionInfo(), &s.at);
  s.image.resize((s.image.size() + 7) / 8 * 8, '\0');
  s.directory = s.at.optional + kPe32PlusDataDirectory +
                kPeDirectoryEntrySecurity * kPeDataDirectorySize;
  s.checksum = s.at.optional + kPeCheckSum;
  s.table = s.image.size();
  for (uint32_t payload : payloads) {
    std::string entry(kWinCertHeaderSize + payload, '\x30');
    PutLe32(entry, kWinCertLength, static_cast<uint32_t>(entry.size()));
    PutLe16(entry, kWinCertRevision, kWinCertRevision2);
    PutLe16(entry, kWinCertType, kWinCertTypePkcsSignedData);
    entry.resize((entry.size() + 7) / 8 * 8, '\0');
    s.image += entry;
  }
  PutLe32(s.image, s.directory, static_cast<uint32_t>(s.table));
  PutLe32(s.image, s.directory + 4,
          static_cast<uint32_t>(s.image.size() - s.table));
  return s;
}

TEST(CertTable, UnsignedImageHashesAllButTheTwoFields) {
  Signed s = BuildSigned({});
  PutLe32(s.image, s.directory, 0);
  PutLe32(s.image, s.directory + 4, 0);
  s.image += "tail"; // 4 bytes past a multiple of 8: padded in the digest
  PeSignatureLayout l = Layout(s.image);
  ASSERT_TRUE(l.isPe);
  EXPECT_EQ(l.table, kCertTableAbsent);
  ASSERT_EQ(l.hash, kHashLayoutOk);
  EXPECT_EQ(l.checksumOffset, s.checksum);
  std::vector<HashRange> want = {
      {0, s.checksum},
      {s.checksum + 4, s.directory - s.checksum - 4},
      {s.directory + 8, s.at.root - s.directory - 8},
      {s.at.root, s.image.size() - 4 - s.at.root - 4}, // the section
      {s.image.size() - 8, 8}, // trailing data up to the end
  };
  // The section is the tree's raw data; whatever the builder padded after
  // it is trailing data.
  ASSERT_EQ(l.hashed.size(), want.size());
  for (size_t i = 0; i < want.size() - 2; ++i) {
    EXPECT_EQ(l.hashed[i].offset, want[i].offset) << i;
    EXPECT_EQ(l.hashed[i].length, want[i].length) << i;
  }
  EXPECT_EQ(l.hashed.back().offset + l.hashed.back().length, s.image.size());
  EXPECT_EQ(l.hashPadding, 4u);
  EXPECT_EQ(l.unhashedBytes, 0u);
  EXPECT_TRUE(HashRangesInFileOrder(l));
}

TEST(CertTable, SignedImageStopsTheDigestAtTheTable) {
  Signed s = BuildSigned({100, 5});
  PeSignatureLayout l = Layout(s.image);
  ASSERT_EQ(l.table, kCertTableOk);
  ASSERT_EQ(l.entries.size(), 2u);
  EXPECT_EQ(l.entries[0].offset, s.table);
  EXPECT_EQ(l.entries[0].length, 108u);
  EXPECT_EQ(l.entries[0].revision, kWinCertRevision2);
  EXPECT_EQ(l.entries[0].type, kWinCertTypePkcsSignedData);
  EXPECT_EQ(l.entries[1].offset, s.table + 112); // 108 rounded up to 8
  EXPECT_TRUE(l.entries[1].aligned);
  EXPECT_EQ(l.trailingBytes, 0u);
  ASSERT_EQ(l.hash, kHashLayoutOk);
  EXPECT_EQ(l.hashed.back().offset + l.hashed.back().length, s.table);
  EXPECT_EQ(l.hashPadding, 0u);
}

// Each way a table can be wrong, made by bending one field of a good one.
struct TableCase {
  const char *name;
  void (*bend)(Signed *s);
  CertTableState want;
  size_t entries; // entries walked, the bad one included
};

const TableCase kTableCases[] = {
    {"size past the end",
     [](Signed *s) { PutLe32(s->image, s->directory + 4, 0x1000); },
     kCertTableOutsideFile, 0},
    {"offset past 4 GiB when added",
     [](Signed *s) {
       PutLe32(s->image, s->directory, 0xFFFFFFF8u);
       PutLe32(s->image, s->directory + 4, 0x10);
     },
     kCertTableOutsideFile, 0},
    {"inside the headers",
     [](Signed *s) { PutLe32(s->image, s->directory, 0x80); },
     kCertTableOverlapsHeaders, 0},
    {"inside the section",
     [](Signed *s) {
       PutLe32(s->image, s->directory, static_cast<uint32_t>(s->at.block));
     },
     kCertTableOverlapsSections, 0},
    {"misaligned start",
     [](Signed *s) {
       s->image.insert(s->table, 4, '\0');
       PutLe32(s->image, s->directory, static_cast<uint32_t>(s->table + 4));
     },
     kCertTableMisaligned, 1},
    {"entry length 0",
     [](Signed *s) { PutLe32(s->image, s->table + kWinCertLength, 0); },
     kCertTableBadEntry, 1},
    {"entry length 0xFFFFFFFF",
     [](Signed *s) {
       PutLe32(s->image, s->table + kWinCertLength, 0xFFFFFFFFu);
     },
     kCertTableBadEntry, 1},
    {"entry length short of its header",
     [](Signed *s) { PutLe32(s->image, s->table + kWinCertLength, 7); },
     kCertTableBadEntry, 1},
    {"entry one byte past the table",
     [](Signed *s) { PutLe32(s->image, s->table + kWinCertLength, 113); },
     kCertTableBadEntry, 1},
    {"table shorter than a header",
     [](Signed *s) { PutLe32(s->image, s->directory + 4, 4); },
     kCertTableBadEntry, 0},
    {"bytes after the table",
     [](Signed *s) { s->image += std::string(13, 'A'); }, kCertTableDataAfter,
     1},
    {"last entry unpadded at the table's end",
     [](Signed *s) {
       PutLe32(s->image, s->directory + 4, 108);
       s->image.resize(s->table + 108);
     },
     kCertTableOk, 1},
};

TEST(CertTable, BentTablesAreReportedNeverWalkedPast) {
  for (const TableCase &c : kTableCases) {
    Signed s = BuildSigned({100});
    c.bend(&s);
    PeSignatureLayout l = Layout(s.image);
    EXPECT_EQ(l.table, c.want) << c.name;
    EXPECT_EQ(l.entries.size(), c.entries) << c.name;
    for (const CertEntry &e : l.entries)
      EXPECT_LE(e.offset + kWinCertHeaderSize, s.image.size()) << c.name;
  }
}

TEST(CertTable, TooManyEntriesStopTheWalk) {
  Signed s = BuildSigned(std::vector<uint32_t>(300, 0));
  PeSignatureLayout l = Layout(s.image);
  EXPECT_EQ(l.table, kCertTableTooManyEntries);
  EXPECT_EQ(l.entries.size(), 256u);
}

TEST(CertTable, TableInsideTheImageHasNoDigest) {
  Signed s = BuildSigned({100});
  PutLe32(s.image, s.directory, 0x80);
  PeSignatureLayout l = Layout(s.image);
  EXPECT_EQ(l.hash, kHashLayoutTableBeforeImage);
  EXPECT_TRUE(l.hashed.empty());
}

TEST(CertTable, SectionsOrHeadersPastTheDigestsEnd) {
  // In a signed image, raw data that reaches over the table puts the table
  // inside the image; in an unsigned one it lies past the end of the file.
  Signed s = BuildSigned({100});
  std::string image = s.image;
  PutLe32(image, s.at.section + kPeSectionSizeOfRawData, 0x10000);
  PeSignatureLayout l = Layout(image);
  EXPECT_EQ(l.table, kCertTableOverlapsSections);
  EXPECT_EQ(l.hash, kHashLayoutTableBeforeImage);
  PutLe32(image, s.directory, 0);
  PutLe32(image, s.directory + 4, 0);
  EXPECT_EQ(Layout(image).hash, kHashLayoutSectionOutside);
  image = s.image;
  PutLe32(image, s.directory, 0);
  PutLe32(image, s.directory + 4, 0);
  PutLe32(image, s.at.optional + kPeSizeOfHeaders, 0x100000);
  l = Layout(image);
  EXPECT_EQ(l.hash, kHashLayoutHeadersOutside);
  EXPECT_TRUE(l.hashed.empty());
  // SizeOfHeaders short of the table's directory entry: inside the file,
  // but too short to leave the entry out of.
  PutLe32(image, s.at.optional + kPeSizeOfHeaders, 0x40);
  EXPECT_EQ(Layout(image).hash, kHashLayoutHeadersShort);
  EXPECT_STREQ(HashLayoutStateName(kHashLayoutHeadersShort),
               "headers-too-short");
}

TEST(CertTable, GapsAndSharedRawDataAreTold) {
  Signed s = BuildSigned({});
  PutLe32(s.image, s.directory, 0);
  PutLe32(s.image, s.directory + 4, 0);
  // Headers end 0x40 bytes before the section starts: a gap no range reads.
  PutLe32(s.image, s.at.optional + kPeSizeOfHeaders,
          static_cast<uint32_t>(s.at.root - 0x40));
  PeSignatureLayout l = Layout(s.image);
  ASSERT_EQ(l.hash, kHashLayoutOk);
  EXPECT_EQ(l.unhashedBytes, 0x40u);
  EXPECT_TRUE(HashRangesInFileOrder(l));
  // A second section over the first one's raw data.
  Signed two = BuildSigned({});
  PutLe32(two.image, two.directory, 0);
  PutLe32(two.image, two.directory + 4, 0);
  std::string header = two.image.substr(two.at.section, kPeSectionHeaderSize);
  two.image.replace(two.at.section + kPeSectionHeaderSize, header.size(),
                    header);
  PutLe16(two.image, two.at.newHeader + kPeFileHeader + kPeNumberOfSections, 2);
  l = Layout(two.image);
  ASSERT_EQ(l.hash, kHashLayoutOk);
  EXPECT_FALSE(HashRangesInFileOrder(l));
}

// Sections that all name the same raw data would have the digest read it
// once each: 65,535 of them are refused before anything is read, two are
// read (the second again).
TEST(CertTable, RawDataSharedBeyondTheFilesSizeIsRefused) {
  Signed s = BuildSigned({});
  PutLe32(s.image, s.directory, 0);
  PutLe32(s.image, s.directory + 4, 0);
  std::string header(kPeSectionHeaderSize, '\0');
  PutLe32(header, kPeSectionSizeOfRawData, 0x200);
  PutLe32(header, kPeSectionPointerToRawData, 0);
  struct {
    uint16_t count;
    HashLayoutState hash;
  } cases[] = {{2, kHashLayoutOk}, {0xFFFF, kHashLayoutSectionsOverlap}};
  for (const auto &c : cases) {
    std::string image = s.image.substr(0, s.at.section);
    for (uint32_t i = 0; i < c.count; ++i)
      image += header;
    if (image.size() < 0x400)
      image.resize(0x400, '\0');
    PutLe16(image, s.at.newHeader + kPeFileHeader + kPeNumberOfSections,
            c.count);
    PeSignatureLayout l = Layout(image);
    EXPECT_EQ(l.hash, c.hash) << c.count;
    if (c.hash != kHashLayoutOk) {
      EXPECT_TRUE(l.hashed.empty()) << c.count;
    }
  }
  EXPECT_STREQ(HashLayoutStateName(kHashLayoutSectionsOverlap),
               "sections-overlap");
}

// The outer length of a DER element, and what may follow a signature in
// its entry.
TEST(CertTable, DerExtentAndAlignmentPadding) {
  struct {
    std::string bytes;
    bool ok;
    uint64_t extent;
  } cases[] = {
      {std::string("\x30\x03", 2), true, 5},
      {std::string("\x30\x81\x80", 3), true, 0x83},
      {std::string("\x30\x82\x17\x77", 4), true, 0x177B},
      {std::string("\x30\x84\x7F\xFF\xFF\xFF", 6), true, 0x80000005},
      {std::string("\x30\x80", 2), false, 0}, // indefinite
      {std::string("\x30\x85\x01\x00\x00\x00\x00", 7), false, 0},
      {std::string("\x30\x82\x01", 3), false, 0}, // length cut short
      {std::string("\x30", 1), false, 0},
      {std::string("\x1F\x01", 2), false, 0}, // a tag of several bytes
  };
  for (const auto &c : cases) {
    uint64_t extent = 0;
    bool ok = DerExtent(reinterpret_cast<const unsigned char *>(c.bytes.data()),
                        c.bytes.size(), &extent);
    EXPECT_EQ(ok, c.ok) << c.bytes.size();
    if (ok) {
      EXPECT_EQ(extent, c.extent) << c.bytes.size();
    }
  }
  struct {
    std::string after;
    bool padding;
  } padding[] = {
      {"", true},
      {std::string(7, '\0'), true},
      {std::string(8, '\0'), false},
      {std::string(16, '\0'), false},
      {std::string("\0\0\x01", 3), false},
      {"appended", false},
  };
  for (const auto &c : padding)
    EXPECT_EQ(OnlyAlignmentPadding(
                  reinterpret_cast<const unsigned char *>(c.after.data()),
                  c.after.size()),
              c.padding)
        << c.after.size();
}

TEST(CertTable, NotPeOrCutShort) {
  EXPECT_EQ(Layout("MZ").table, kCertTableNotPe);
  ImageLayout at;
  std::string ne = BuildNe(AnsiVersionInfo(), &at);
  EXPECT_FALSE(Layout(ne).isPe);
  Signed s = BuildSigned({100});
  for (size_t cut : {size_t{70}, s.at.optional + 10, s.at.section + 20}) {
    PeSignatureLayout l = Layout(s.image.substr(0, cut));
    EXPECT_FALSE(l.isPe) << cut;
    EXPECT_EQ(l.hash, kHashLayoutNotPe) << cut;
  }
}

TEST(CertTable, BlobIsTheEntryLessItsHeader) {
  Signed s = BuildSigned({100});
  ByteSource src;
  InitMemorySource(&src, s.image.data(), s.image.size());
  PeSignatureLayout l;
  ReadSignatureLayout(&src, &l);
  ASSERT_EQ(l.entries.size(), 1u);
  std::vector<unsigned char> blob;
  ASSERT_TRUE(ReadCertificateBlob(&src, l.entries[0], &blob));
  EXPECT_EQ(blob.size(), 100u);
  EXPECT_EQ(blob[0], 0x30);
  CertEntry bad = l.entries[0];
  bad.length = 4;
  EXPECT_FALSE(ReadCertificateBlob(&src, bad, &blob));
  bad.length = 0xFFFFFFF0u;
  EXPECT_FALSE(ReadCertificateBlob(&src, bad, &blob));
}

uint32_t ChecksumInPieces(const std::string &file, uint64_t field,
                          std::mt19937 *random) {
  PeChecksum c;
  StartChecksum(&c, field);
  const unsigned char *bytes =
      reinterpret_cast<const unsigned char *>(file.data());
  size_t at = 0;
  while (at < file.size()) {
    size_t piece = random == nullptr ? file.size() : (*random)() % 9;
    if (piece > file.size() - at)
      piece = file.size() - at;
    EXPECT_TRUE(AddToChecksum(&c, at, bytes + at, piece));
    at += piece;
  }
  return FinishChecksum(&c);
}

// The linker stores the checksum the loader computes: every fixture's
// stored value is the expected one, however the file is cut in pieces.
TEST(CertTable, ChecksumMatchesTheLinkersOnFixtures) {
  std::mt19937 random(7);
  for (const char *name : {"basic.dll", "app64.exe", "app32.exe", "nover.dll",
                           "../large/over64k.dll"}) {
    std::string file = ReadFile(Fixture(name));
    ASSERT_FALSE(file.empty()) << name;
    PeSignatureLayout l = Layout(file);
    ASSERT_TRUE(l.isPe) << name;
    EXPECT_NE(l.storedChecksum, 0u) << name;
    EXPECT_EQ(ChecksumInPieces(file, l.checksumOffset, nullptr),
              l.storedChecksum)
        << name;
    EXPECT_EQ(ChecksumInPieces(file, l.checksumOffset, &random),
              l.storedChecksum)
        << name;
  }
}

TEST(CertTable, ChecksumFieldAtAnOddOffsetAndOddLength) {
  // The field read as zero wherever it sits: an image with the field's
  // bytes set sums as the same image with them cleared.
  std::string a = "MZ\x01\x02\x03\x04\x05\x06\x07\x08\x09";
  std::string b = a;
  for (size_t i = 3; i < 7; ++i)
    b[i] = '\0';
  std::mt19937 random(3);
  EXPECT_EQ(ChecksumInPieces(a, 3, &random), ChecksumInPieces(b, 3, nullptr));
  EXPECT_EQ(ChecksumInPieces(a, 3, nullptr), ChecksumInPieces(b, 3, &random));
  PeChecksum c;
  StartChecksum(&c, 0);
  const unsigned char byte = 1;
  EXPECT_FALSE(AddToChecksum(&c, 5, &byte, 1)); // not where the last ended
}

} // namespace
