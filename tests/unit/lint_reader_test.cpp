// What the reader tells --lint beyond the report: whether an image carries
// code, each language's fixed record, every table's key, and what a
// value's stored length counts past its terminator.
#include <string>
#include <vector>

#include "block_builder.h"
#include "byte_source.h"
#include "exe_locate.h"
#include "test_support.h"
#include "version_strings.h"

namespace {

std::string LintFixture(const std::string &name) {
  return Fixture("../lint/" + name);
}

ImageInfo Describe(const std::string &path) {
  std::string image = ReadFile(path);
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  ImageInfo info = ImageInfo();
  ReadImageInfo(&src, &info);
  return info;
}

// A program or a DLL with an entry point carries code; a DLL of resources
// alone (ld -e 0, no exports) is data.
TEST(ReadImageInfo, CodeIsAnEntryPointExportsOrAClrHeader) {
  const struct {
    std::string path;
    bool code;
  } cases[] = {
      {Fixture("norsrc.dll"), true},       {Fixture("app32.exe"), true},
      {Fixture("app64.exe"), true},        {LintFixture("l_clean.exe"), true},
      {Fixture("nover.dll"), false},       {Fixture("basic.dll"), false},
      {Fixture("../ne/app16.exe"), false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(Describe(c.path).code, c.code) << c.path;
  // An image cut inside its optional header reads as no code, never past
  // what it holds.
  std::string image = ReadFile(Fixture("norsrc.dll"));
  for (size_t len = 0x80; len < 0x140; len += 4) {
    std::string cut = image.substr(0, len);
    ByteSource src;
    InitMemorySource(&src, cut.data(), cut.size());
    ImageInfo info;
    ReadImageInfo(&src, &info);
  }
}

std::vector<LanguageVersion> Languages(const std::string &path) {
  std::string image = ReadFile(path);
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  std::vector<LanguageVersion> versions;
  EXPECT_EQ(ListLanguageVersions(&src, &versions), kReasonNone) << path;
  return versions;
}

TEST(ListLanguageVersions, EachLanguagesFixedRecord) {
  std::vector<LanguageVersion> v = Languages(LintFixture("l_langdiff.dll"));
  ASSERT_EQ(v.size(), 2u);
  // windres sorts the languages by id.
  EXPECT_EQ(v[0].language, 0x0407);
  EXPECT_TRUE(v[0].hasFixed);
  EXPECT_EQ(v[0].fileMs, 0x00010000u);
  EXPECT_EQ(v[0].fileLs, 0u);
  EXPECT_EQ(v[1].language, 0x0409);
  EXPECT_EQ(v[1].fileMs, 0x00010002u);
  EXPECT_EQ(v[1].productLs, 0x00030004u);
  v = Languages(Fixture("lang9.dll"));
  ASSERT_EQ(v.size(), 3u);
  for (const LanguageVersion &l : v)
    EXPECT_EQ(l.fileLs, 0x00030004u) << l.language;
  // No version directory: no languages; cut anywhere, no read past the end.
  std::string image = ReadFile(Fixture("nover.dll"));
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  EXPECT_EQ(ListLanguageVersions(&src, &v), kReasonNoVersionResource);
  EXPECT_TRUE(v.empty());
  image = ReadFile(LintFixture("l_langdiff.dll"));
  for (size_t len = 0; len < image.size(); len += 7) {
    std::string cut = image.substr(0, len);
    InitMemorySource(&src, cut.data(), cut.size());
    ListLanguageVersions(&src, &v);
    for (const LanguageVersion &l : v)
      EXPECT_TRUE(!l.hasFixed || l.fileMs != 0) << len;
  }
}

std::string TableNode(const std::string &key, const std::string &strings) {
  return Node(key, 1, 0, "", strings);
}

TEST(ListStringTableKeys, EveryTableAsStored) {
  std::string resource = VersionInfo(
      Siblings({Node("StringFileInfo", 1, 0, "",
                     Siblings({TableNode("040904B0", Text("A", "1")),
                               TableNode("000004b0", Text("B", "2")),
                               TableNode("odd key", "")})),
                Translation(0x0409, 0x04B0)}));
  std::vector<std::u16string> keys;
  ASSERT_TRUE(ListStringTableKeys(resource.data(), resource.size(), &keys));
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], u"040904B0");
  EXPECT_EQ(keys[1], u"000004b0");
  EXPECT_EQ(keys[2], u"odd key");
  std::string none = VersionInfo(Translation(0x0409, 0x04B0));
  EXPECT_FALSE(ListStringTableKeys(none.data(), none.size(), &keys));
  EXPECT_TRUE(keys.empty());
}

// wValueLength against the text: one terminator is what every compiler
// counts; more zeros come from a "\0" in the script, anything else after
// a zero is hidden text; a length that counts bytes holds no more.
TEST(ListVersionStrings, WhatTheStoredLengthCountsPastTheTerminator) {
  const struct {
    const char *name;
    uint16_t valueLength;
    std::string units;
    size_t zerosPast;
    bool textPastZero;
  } cases[] = {
      {"one terminator", 4, Units({'1', '.', '0', 0}), 0, false},
      {"none counted", 3, Units({'1', '.', '0', 0}), 0, false},
      {"empty", 0, Units({0}), 0, false},
      {"a second zero", 5, Units({'1', '.', '0', 0, 0}), 1, false},
      {"three zeros", 8, Units({'1', '.', '0', '.', '0', 0, 0, 0}), 2, false},
      {"hidden text", 6, Units({'a', 0, 'b', 'c', 0, 0}), 0, true},
      {"bytes with terminator", 8, Units({'1', '.', '0', 0}), 0, false},
      {"bytes without", 6, Units({'1', '.', '0', 0}), 0, false},
      {"longer than its node", 40, Units({'a', 0, 0}), 1, false},
  };
  for (const auto &c : cases) {
    std::string resource = VersionInfo(
        Node("StringFileInfo", 1, 0, "",
             TableNode("040904b0", Node("Key", 1, c.valueLength, c.units))));
    std::vector<VersionString> strings;
    ASSERT_TRUE(ListVersionStrings(resource.data(), resource.size(),
                                   0x04B00409u, &strings))
        << c.name;
    ASSERT_EQ(strings.size(), 1u) << c.name;
    EXPECT_EQ(strings[0].zerosPast, c.zerosPast) << c.name;
    EXPECT_EQ(strings[0].textPastZero, c.textPastZero) << c.name;
  }
}

} // namespace
