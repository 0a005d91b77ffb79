// The lossless side of the reader: UTF-16 and stray bytes to UTF-8, every
// string of a table, and the image's kind and languages.

#include "block_builder.h"
#include "byte_source.h"
#include "exe_locate.h"
#include "test_support.h"
#include "unicode_text.h"
#include "version_block.h"
#include "version_strings.h"

namespace {

std::string Utf8(std::initializer_list<char16_t> units) {
  std::u16string text(units);
  std::string out;
  AppendUtf16AsUtf8(text.data(), text.size(), &out);
  return out;
}

TEST(AppendUtf16AsUtf8, PairsJoinAndEverySurrogateAloneIsReplaced) {
  const std::string kFffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf8({u'A', 0x00FC, 0x20AC}), "A\xC3\xBC\xE2\x82\xAC");
  EXPECT_EQ(Utf8({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"); // U+1F600
  EXPECT_EQ(Utf8({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"); // U+10FFFF
  EXPECT_EQ(Utf8({0xD800}), kFffd);                      // high at the end
  EXPECT_EQ(Utf8({0xDC00, u'x'}), kFffd + "x");          // low alone
  EXPECT_EQ(Utf8({0xDE00, 0xD83D}), kFffd + kFffd);      // the wrong order
  EXPECT_EQ(Utf8({0xD800, 0xD800, 0xDC00}), kFffd + "\xF0\x90\x80\x80");
  EXPECT_EQ(Utf8({0xD800, u'a', 0xDC00}), kFffd + "a" + kFffd);
  EXPECT_EQ(Utf8({0x07FF, 0x0800, 0xFFFF}), "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(Utf8({0x0000, u'b'}), std::string("\0b", 2));
}

// ASCII runs of any length, with a unit at the edge of ASCII, or one whose
// low byte is, anywhere in them: appended after what the text held.
TEST(AppendUtf16AsUtf8, AsciiRunsAndTheFirstUnitPastThem) {
  const struct {
    char16_t unit;
    const char *utf8;
  } marks[] = {{0x007F, "\x7F"},         {0x0080, "\xC2\x80"},
               {0x00FF, "\xC3\xBF"},     {0x0100, "\xC4\x80"},
               {0x0141, "\xC5\x81"},     {0x7F41, "\xE7\xBD\x81"},
               {0x8000, "\xE8\x80\x80"}, {0xFF41, "\xEF\xBD\x81"}};
  const std::u16string plain = u"abcdefghijklmnopqrstuvwxyz0123456789";
  const std::string ascii = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (size_t length = 0; length <= plain.size(); ++length) {
    std::string out = "held";
    AppendUtf16AsUtf8(plain.data(), length, &out);
    EXPECT_EQ(out, "held" + ascii.substr(0, length));
    for (const auto &m : marks)
      for (size_t at = 0; at <= length; ++at) {
        std::u16string text = plain.substr(0, length);
        text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), m.unit);
        out = "held";
        AppendUtf16AsUtf8(text.data(), text.size(), &out);
        EXPECT_EQ(out, "held" + ascii.substr(0, at) + m.utf8 +
                           ascii.substr(at, length - at))
            << length << " " << at << " " << static_cast<unsigned>(m.unit);
      }
  }
  // Runs longer than the buffer they go through.
  for (size_t length : {127u, 128u, 129u, 255u, 256u, 300u})
    for (size_t at : {size_t{0}, size_t{120}, size_t{127}, size_t{128},
                      size_t{129}, length - 1, length}) {
      std::u16string text(length, u'q');
      std::string want(length, 'q');
      if (at < length) {
        text[at] = 0x00E9;
        want.replace(at, 1, "\xC3\xA9");
      }
      std::string out;
      AppendUtf16AsUtf8(text.data(), text.size(), &out);
      EXPECT_EQ(out, want) << length << " " << at;
    }
}

TEST(AppendBytesAsUtf8, EachIllFormedPartBecomesOneReplacement) {
  const std::string kFffd = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain/ascii.dll", "plain/ascii.dll"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},           // well formed
      {"\xFF\xFE.dll", kFffd + kFffd + ".dll"}, // never in UTF-8
      {"a\x80z", "a" + kFffd + "z"},            // stray continuation
      {"\xC3", kFffd},                          // cut at the end
      {"\xE2\x82z", kFffd + "z"},               // cut in the middle
      {"\xC0\x80", kFffd + kFffd},              // overlong NUL
      {"\xE0\x80\x80", kFffd + kFffd + kFffd},  // overlong
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},  // an encoded surrogate
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd}, // past U+10FFFF
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"\xF0\x9F\x98", kFffd}, // one part, cut short
  };
  for (const Case &c : cases) {
    std::string out;
    AppendBytesAsUtf8(c.in.data(), c.in.size(), &out);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(Utf8SequenceLength, WholeSequencesAndMaximalIllFormedParts) {
  // The edges of each range of leads and second bytes, where overlong
  // forms, surrogates and values past U+10FFFF begin.
  struct Case {
    std::string in;
    size_t length;
    bool wellFormed;
  } cases[] = {
      {"A", 1, true},
      {"\xC2\x80", 2, true},         // U+0080
      {"\xDF\xBF", 2, true},         // U+07FF
      {"\xE0\xA0\x80", 3, true},     // U+0800
      {"\xED\x9F\xBF", 3, true},     // U+D7FF
      {"\xEE\x80\x80", 3, true},     // U+E000
      {"\xEF\xBF\xBF", 3, true},     // U+FFFF
      {"\xF0\x90\x80\x80", 4, true}, // U+10000
      {"\xF4\x8F\xBF\xBF", 4, true}, // U+10FFFF
      {"\xC2\x80z", 2, true},        // what follows is not measured
      {"\x80", 1, false},            // a continuation alone
      {"\xBF\xBF", 1, false},
      {"\xC0\x80", 1, false},         // overlong NUL
      {"\xC1\xBF", 1, false},         // overlong U+007F
      {"\xE0\x9F\xBF", 1, false},     // overlong U+07FF
      {"\xF0\x8F\xBF\xBF", 1, false}, // overlong U+FFFF
      {"\xED\xA0\x80", 1, false},     // U+D800
      {"\xED\xBF\xBF", 1, false},     // U+DFFF
      {"\xF4\x90\x80\x80", 1, false}, // U+110000
      {"\xF5\x80\x80\x80", 1, false}, // no lead past F4
      {"\xFF", 1, false},
      {"\xC2", 1, false}, // cut at the end
      {"\xE0\xA0", 2, false},
      {"\xF0\x90\x80", 3, false},
      {"\xE1\x80"
       "A",
       2, false}, // cut by the next character
      {"\xF4\x8F\xC0", 2, false},
  };
  for (const Case &c : cases) {
    bool wellFormed = !c.wellFormed;
    EXPECT_EQ(
        Utf8SequenceLength(reinterpret_cast<const unsigned char *>(c.in.data()),
                           c.in.size(), &wellFormed),
        c.length)
        << c.in;
    EXPECT_EQ(wellFormed, c.wellFormed) << c.in;
  }
}

TEST(AppendCp1252AsUtf8, EveryByteHasItsCharacter) {
  std::string out;
  AppendCp1252AsUtf8("\x80\x81\xE5\x9F", 4, &out);
  EXPECT_EQ(out, "\xE2\x82\xAC\xC2\x81\xC3\xA5\xC5\xB8");
}

std::string Ascii(const std::u16string &text) {
  std::string out;
  AppendUtf16AsUtf8(text.data(), text.size(), &out);
  return out;
}

std::string Table(const std::string &key, const std::string &strings) {
  return Node("StringFileInfo", 1, 0, "", Node(key, 1, 0, "", strings));
}

// Every string in stored order, duplicates and odd lengths included; and
// the walk finds exactly the table the lookup finds.
TEST(ListVersionStrings, EveryStringInStoredOrder) {
  std::string units = Units({u'M', 0x00FC, u'l', 0xD800, 0});
  std::string resource = VersionInfo(Siblings(
      {Table("040904B0", // the lookup matches keys without regard to case
             Siblings({Text("CompanyName", "Acme"), Text("Custom Key", "x"),
                       Node("Lossy", 1, 5, units),
                       Node("NoLength", 1, 0, U16("ignored")),
                       Text("CompanyName", "second"), Text("Empty", "")})),
       Translation(0x0409, 0x04B0)}));
  std::vector<VersionString> strings;
  ASSERT_TRUE(ListVersionStrings(resource.data(), resource.size(), 0x04B00409u,
                                 &strings));
  ASSERT_EQ(strings.size(), 6u);
  const char *keys[] = {"CompanyName", "Custom Key",  "Lossy",
                        "NoLength",    "CompanyName", "Empty"};
  const char *values[] = {"Acme", "x",      "M\xC3\xBCl\xEF\xBF\xBD",
                          "",     "second", ""};
  for (size_t i = 0; i < strings.size(); ++i) {
    EXPECT_EQ(Ascii(strings[i].key), keys[i]);
    EXPECT_EQ(Ascii(strings[i].value), values[i]) << keys[i];
  }
  EXPECT_FALSE(ListVersionStrings(resource.data(), resource.size(), 0x04E40409u,
                                  &strings));
  EXPECT_TRUE(strings.empty());
}

// A value that runs to its node's end without a terminator is cut there;
// a node whose length field is shorter than a header ends the table.
TEST(ListVersionStrings, MalformedNodesEndAtTheirBounds) {
  std::string unterminated = Node("Open", 1, 9, U16("abc", false));
  std::string broken = Text("Broken", "y");
  PutLe16(broken, 0, 3); // shorter than a node header
  std::string resource = VersionInfo(Siblings(
      {Table("040904b0", Siblings({Text("First", "1"), unterminated, broken,
                                   Text("After", "never")}))}));
  std::vector<VersionString> strings;
  ASSERT_TRUE(ListVersionStrings(resource.data(), resource.size(), 0x04B00409u,
                                 &strings));
  ASSERT_EQ(strings.size(), 2u);
  EXPECT_EQ(Ascii(strings[1].key), "Open");
  EXPECT_EQ(Ascii(strings[1].value), "abc");
  // Cut anywhere, the walk stays inside what it was given.
  for (size_t len = 0; len < resource.size(); ++len) {
    std::string cut = resource.substr(0, len);
    ListVersionStrings(cut.data(), cut.size(), 0x04B00409u, &strings);
  }
}

TEST(ListVersionStrings, SixteenBitTablesReadAsCodePage1252) {
  std::string resource = AnsiNode(
      "VS_VERSION_INFO", std::string(52, '\0'),
      AnsiNode("StringFileInfo", "",
               AnsiNode("040904E4", "",
                        Siblings({AnsiNode("CompanyName",
                                           std::string("Caf\xE9\0", 5)),
                                  AnsiNode("Empty", "")}))));
  std::vector<VersionString> strings;
  ASSERT_TRUE(ListVersionStrings(resource.data(), resource.size(), 0x04E40409u,
                                 &strings));
  ASSERT_EQ(strings.size(), 2u);
  EXPECT_EQ(Ascii(strings[0].value), "Caf\xC3\xA9");
  EXPECT_EQ(Ascii(strings[1].value), "");
}

// Every table of \StringFileInfo, in stored order and with its key as
// stored, tables no translation names included; the one the translation's
// lookup finds is marked, and its strings are what ListVersionStrings
// lists for that translation.
TEST(ListVersionTables, EveryTableInStoredOrder) {
  std::string broken = Node("Broken", 1, 0, "", Text("Never", "x"));
  PutLe16(broken, 0, 3); // shorter than a node header: ends the listing
  std::string resource = VersionInfo(Siblings(
      {Translation(0x0409, 0x04B0),
       Node("StringFileInfo", 1, 0, "",
            Siblings({Node("040704b0", 1, 0, "", Text("CompanyName", "de")),
                      Node("040904B0", 1, 0, "",
                           Siblings({Text("CompanyName", "us"),
                                     Text("CompanyName", "again")})),
                      Node("040904b0", 1, 0, "", Text("CompanyName", "twin")),
                      Node("odd key", 1, 0, ""), broken,
                      Node("041104b0", 1, 0, "", Text("After", "never"))}))}));
  struct Case {
    uint32_t translation;
    size_t chosen; // 4, the count, when no table matches
  } cases[] = {{0x04B00409u, 1}, {0x04B00407u, 0}, {0x04E40409u, 4}};
  for (const Case &c : cases) {
    std::vector<VersionTable> tables;
    size_t chosen = 99;
    ASSERT_TRUE(ListVersionTables(resource.data(), resource.size(),
                                  c.translation, &tables, &chosen));
    ASSERT_EQ(tables.size(), 4u);
    const char *keys[] = {"040704b0", "040904B0", "040904b0", "odd key"};
    for (size_t i = 0; i < 4; ++i)
      EXPECT_EQ(Ascii(tables[i].key), keys[i]);
    EXPECT_EQ(chosen, c.chosen) << std::hex << c.translation;
    std::vector<VersionString> strings;
    bool found = ListVersionStrings(resource.data(), resource.size(),
                                    c.translation, &strings);
    EXPECT_EQ(found, c.chosen < tables.size());
    if (found) {
      ASSERT_EQ(strings.size(), tables[chosen].strings.size());
      for (size_t i = 0; i < strings.size(); ++i)
        EXPECT_EQ(strings[i].value, tables[chosen].strings[i].value);
    }
  }
  std::vector<VersionTable> tables;
  size_t chosen;
  ASSERT_TRUE(ListVersionTables(resource.data(), resource.size(), 0x04B00409u,
                                &tables, &chosen));
  ASSERT_EQ(tables[1].strings.size(), 2u);
  EXPECT_EQ(Ascii(tables[1].strings[1].value), "again");
  EXPECT_TRUE(tables[3].strings.empty());
  // No \StringFileInfo, no tables; cut anywhere, the walk stays inside.
  std::string bare = VersionInfo(Translation(0x0409, 0x04B0));
  EXPECT_FALSE(ListVersionTables(bare.data(), bare.size(), 0x04B00409u, &tables,
                                 &chosen));
  EXPECT_TRUE(tables.empty());
  for (size_t len = 0; len < resource.size(); ++len) {
    std::string cut = resource.substr(0, len);
    ListVersionTables(cut.data(), cut.size(), 0x04B00409u, &tables, &chosen);
    EXPECT_LE(chosen, tables.size());
  }
}

TEST(ListVersionTables, SixteenBitKeysReadAsCodePage1252) {
  std::string resource = AnsiNode(
      "VS_VERSION_INFO", std::string(52, '\0'),
      AnsiNode(
          "StringFileInfo", "",
          Siblings({AnsiNode("040904E4", "",
                             AnsiNode("CompanyName", std::string("a\0", 2))),
                    AnsiNode("04\xE9"
                             "04E4",
                             "",
                             AnsiNode("CompanyName",
                                      std::string("Caf\xE9\0", 5)))})));
  std::vector<VersionTable> tables;
  size_t chosen;
  ASSERT_TRUE(ListVersionTables(resource.data(), resource.size(), 0x04E40409u,
                                &tables, &chosen));
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(chosen, 0u);
  EXPECT_EQ(Ascii(tables[1].key), "04\xC3\xA9"
                                  "04E4");
  EXPECT_EQ(Ascii(tables[1].strings[0].value), "Caf\xC3\xA9");
}

ImageInfo Describe(const std::string &image) {
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  ImageInfo info;
  ReadImageInfo(&src, &info);
  return info;
}

std::vector<uint16_t> Languages(const std::string &image, int *result) {
  ByteSource src;
  InitMemorySource(&src, image.data(), image.size());
  std::vector<uint16_t> languages;
  *result = ListVersionLanguages(&src, &languages) == kReasonNone ? 0 : -1;
  return languages;
}

TEST(ReadImageInfo, KindAndMachineFromTheHeaders) {
  struct Case {
    std::string file;
    int kind;
    uint16_t machine;
  } cases[] = {
      {Fixture("app32.exe"), kKindPe32, 0x014C},
      {Fixture("app64.exe"), kKindPe32Plus, 0x8664},
      {Fixture("norsrc.dll"), kKindPe32, 0x014C},
      {Fixture("../ne/app16.exe"), kKindNe, 0},
      {Fixture("../ne/driver.vxd"), kKindLe, 0},
  };
  for (const Case &c : cases) {
    ImageInfo info = Describe(ReadFile(c.file));
    EXPECT_EQ(info.kind, c.kind) << c.file;
    EXPECT_EQ(info.machine, c.machine) << c.file;
  }
  std::string image = ReadFile(Fixture("app64.exe"));
  size_t nt =
      Le32(reinterpret_cast<const unsigned char *>(image.data()) + 0x3C);
  PutLe16(image, nt + 4, 0xAA64);
  EXPECT_EQ(Describe(image).machine, 0xAA64);
  PutLe16(image, nt + 24, 0x0107); // a ROM image's magic: no kind we read
  EXPECT_EQ(Describe(image).kind, kKindUnknown);
  EXPECT_EQ(Describe("not an executable").kind, kKindUnknown);
  EXPECT_EQ(Describe(image.substr(0, 0x40)).kind, kKindUnknown);
}

TEST(ListVersionLanguages, EveryLanguageInDirectoryOrder) {
  int result;
  EXPECT_EQ(Languages(ReadFile(Fixture("lang9.dll")), &result),
            (std::vector<uint16_t>{0x0001, 0x0007, 0x0009}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Languages(ReadFile(Fixture("langneutral.dll")), &result),
            (std::vector<uint16_t>{0x0000, 0x0409}));
  EXPECT_EQ(Languages(ReadFile(Fixture("basic.dll")), &result),
            (std::vector<uint16_t>{0x0409}));
  for (const char *none : {"norsrc.dll", "nover.dll", "../ne/app16.exe"}) {
    EXPECT_TRUE(Languages(ReadFile(Fixture(none)), &result).empty()) << none;
    EXPECT_EQ(result, -1) << none;
  }
  // Every cut of a file with three languages lists a prefix of them, or
  // fails cleanly.
  std::string image = ReadFile(Fixture("lang9.dll"));
  for (size_t len = 0; len < image.size(); len += 7) {
    std::vector<uint16_t> got = Languages(image.substr(0, len), &result);
    EXPECT_LE(got.size(), 3u);
  }
}

} // namespace
