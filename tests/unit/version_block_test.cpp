#include <string.h>

#include <memory>
#include <random>
#include <vector>

#include "block_builder.h"
#include "byte_source.h"
#include "exe_locate.h"
#include "reader_support.h"
#include "test_support.h"
#include "version_block.h"

namespace {

// A block laid out as GetFileVersionInfoA lays out a resource of these
// bytes: twice the size plus four, tree first, spare area after.
struct Block {
  explicit Block(const std::string &resource) : bytes(LaidOut(resource, &ok)) {}
  bool Query(const char *path, std::string *text, unsigned *len = nullptr) {
    const char *value = nullptr;
    unsigned length = 12345;
    bool found = QueryBlock(bytes, path, &value, &length);
    if (len != nullptr)
      *len = length;
    if (!found)
      return false;
    const char *begin = value;
    EXPECT_GE(begin, bytes.data());
    EXPECT_LT(begin, bytes.data() + bytes.size());
    *text = begin; // the block's last byte is zero: this stays inside
    return true;
  }
  std::string String(const char *path) {
    std::string text;
    return Query(path, &text) ? text : "<missing>";
  }
  bool ok; // set by LaidOut, which fills bytes: declared first
  std::string bytes;
};

std::string Strings(const std::string &table) {
  return Node("StringFileInfo", 1, 0, "", Node("040904b0", 1, 0, "", table));
}

std::string StandardResource() {
  return VersionInfo(
      Siblings({Strings(Siblings({Text("CompanyName", "Acme"),
                                  Text("FileDescription", "Widget"),
                                  Text("FileVersion", "1.0")})),
                Translation(0x0409, 0x04B0)}));
}

TEST(VersionBlock, LooksUpPathsAsThePlatformDoes) {
  Block b(StandardResource());
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.String("\\StringFileInfo\\040904b0\\CompanyName"), "Acme");
  // Keys fold case; empty components are skipped; '/' is part of a key.
  EXPECT_EQ(b.String("\\stringfileinfo\\040904B0\\COMPANYNAME"), "Acme");
  EXPECT_EQ(b.String("\\\\StringFileInfo\\\\040904b0\\FileVersion\\"), "1.0");
  EXPECT_EQ(b.String("StringFileInfo\\040904b0\\FileDescription"), "Widget");
  EXPECT_EQ(b.String("/StringFileInfo/040904b0/CompanyName"), "<missing>");
  EXPECT_EQ(b.String("\\StringFile\\040904b0\\CompanyName"), "<missing>");
  EXPECT_EQ(b.String("\\StringFileInfo\\040904b0\\Company"), "<missing>");
  EXPECT_EQ(b.String("\\StringFileInfo\\040704b0\\CompanyName"), "<missing>");
  std::string text;
  unsigned len;
  ASSERT_TRUE(b.Query("\\", &text, &len));
  EXPECT_EQ(len, 52u);
  ASSERT_TRUE(b.Query("\\StringFileInfo", &text, &len));
  EXPECT_EQ(len, 0u);
  const char *value;
  ASSERT_TRUE(QueryBlock(b.bytes, "\\VarFileInfo\\Translation", &value, &len));
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(memcmp(value, "\x09\x04\xB0\x04", 4), 0);
  EXPECT_EQ(
      memcmp(&b.bytes[Le16(reinterpret_cast<unsigned char *>(&b.bytes[0]))],
             "FE2X", 4),
      0);
}

// Producers disagree on what wValueLength counts; the string itself is
// measured, up to its first zero unit and never past its node.
std::string OddValue(const std::string &node) {
  Block b(VersionInfo(Strings(node)));
  std::string key = node.substr(6);
  std::string ascii;
  for (size_t i = 0; i + 1 < key.size() && key[i] != '\0'; i += 2)
    ascii += key[i];
  return b.String(("\\StringFileInfo\\040904b0\\" + ascii).c_str());
}

TEST(OddProducers, ValueLengthInBytesIsMeasuredToTheZero) {
  EXPECT_EQ(OddValue(Node("Bytes", 1, 10, U16("Acme"))), "Acme");
}

TEST(OddProducers, ValueLengthWithoutTheZeroStillGivesTheWholeString) {
  EXPECT_EQ(OddValue(Node("NoZero", 1, 4, U16("Acme"))), "Acme");
}

TEST(OddProducers, ValueLengthZeroIsAnEmptyString) {
  EXPECT_EQ(OddValue(Node("Empty", 1, 0, "")), "");
  EXPECT_EQ(OddValue(Node("ZeroFirst", 1, 1, U16(""))), "");
}

TEST(OddProducers, UnterminatedValueStopsAtItsNodesEnd) {
  EXPECT_EQ(OddValue(Node("Open", 1, 4, U16("Acme", false))), "Acme");
  // Not at the block's end either: a sibling's header and key follow, and
  // their first zero unit comes only after the key.
  Block followed(VersionInfo(Strings(
      Siblings({Node("Open", 1, 4, U16("Acme", false)), Text("Next", "x")}))));
  EXPECT_EQ(followed.String("\\StringFileInfo\\040904b0\\Open"), "Acme");
}

TEST(OddProducers, StringMarkedBinaryComesBackAsRawUtf16) {
  // An ANSI reader sees one character of it, as on Windows.
  EXPECT_EQ(OddValue(Node("Binary", 0, 10, U16("Acme"))), "A");
}

TEST(VersionBlock, TextConvertsToCodePage1252WithBestFit) {
  std::string value = Units({'A', 0x0100, 0x0142, 0xFF21, 0x2013, 0x2212,
                             0x20AC, 0x4E2D, 0xD83D, 0xDE00, 0x00E9, 0});
  Block b(VersionInfo(Strings(Node("Mixed", 1, 12, value))));
  EXPECT_EQ(b.String("\\StringFileInfo\\040904b0\\Mixed"),
            "AAlA\x96-\x80???\xE9");
}

// Text of any length, with a unit that is not ASCII anywhere in it or
// none, converts a unit at a time as the best fit table says.
TEST(VersionBlock, TextOfAnyLengthConvertsUnitByUnit) {
  const struct {
    uint16_t unit;
    char cp1252;
  } marks[] = {{0x00E9, '\xE9'},
               {0x20AC, '\x80'},
               {0x0100, 'A'},
               {0x007F, '\x7F'},
               {0x0080, '?'}};
  for (size_t length = 1; length <= 40; ++length)
    for (size_t at = 0; at <= length; ++at)
      for (const auto &m : marks) {
        std::string units, want;
        for (size_t i = 0; i < length; ++i) {
          uint16_t u = i == at ? m.unit : static_cast<uint16_t>('a' + i % 26);
          units += Units({u});
          want += i == at ? m.cp1252 : static_cast<char>('a' + i % 26);
        }
        units += Units({0});
        Block b(VersionInfo(Strings(
            Node("Text", 1, static_cast<uint16_t>(length + 1), units))));
        EXPECT_EQ(b.String("\\StringFileInfo\\040904b0\\Text"), want)
            << length << " " << at << " " << m.unit;
      }
}

TEST(VersionBlock, LatinOneKeysFoldLikeUnicode) {
  Block b(VersionInfo(Strings(Text("Caf\xE9", "x"))));
  EXPECT_EQ(b.String("\\StringFileInfo\\040904b0\\CAF\xC9"), "x");
}

// A text node whose key is the units given.
std::string TextWithKeyUnits(const std::string &keyUnits,
                             const std::string &value) {
  std::string n(6, '\0');
  PutLe16(n, 2, static_cast<uint16_t>(value.size() + 1));
  PutLe16(n, 4, 1);
  n += keyUnits + std::string(2, '\0');
  n = Pad4(n) + U16(value);
  PutLe16(n, 0, static_cast<uint16_t>(n.size()));
  return n;
}

// Keys match a name's characters (code page 1252) without regard to case,
// whatever their length and wherever a difference lies: a unit equal to a
// name's byte above 0x7F is not that byte's character.
TEST(VersionBlock, KeysMatchNamesCharacterByCharacter) {
  const struct {
    std::string key; // units
    const char *name;
    bool found;
  } cases[] = {
      {U16("LongerKeyNameThanEight", false), "LongerKeyNameThanEight", true},
      {U16("LongerKeyNameThanEight", false), "LONGERKEYNAMETHANEIGHT", true},
      {U16("LongerKeyNameThanEight", false), "longerkeynamethaneighX", false},
      {U16("LongerKeyNameThanEight", false), "XongerKeyNameThanEight", false},
      {U16("LongerKeyNameThanEight", false), "LongerKeyNameThanEigh", false},
      {U16("ABCDEFGH\x80", false), "ABCDEFGH\x80", false},
      {U16("\x80"
           "BCDEFGHIJ",
           false),
       "\x80"
       "BCDEFGHIJ",
       false},
      {Units({0x20AC}) + U16("BCDEFGHIJ", false),
       "\x80"
       "BCDEFGHIJ",
       true},
      {U16("ABCDEFG", false) + Units({0x20AC}), "abcdefg\x80", true},
      {U16("caf\xE9"
           "abcdefgh",
           false),
       "CAF\xC9"
       "ABCDEFGH",
       true},
      {U16("abcdefgh\xFF", false), "ABCDEFGH\x9F", true}, // U+0178
      // Eight at a time, the last eight overlapping: a difference of case
      // or of character in every stretch, at both ends.
      {U16("abcdefgh", false), "ABCDEFGH", true},
      {U16("abcdefgh", false), "ABCDEFGX", false},
      {U16("abcdefghi", false), "ABCDEFGHI", true},
      {U16("abcdefghi", false), "ABCDEFGHX", false},
      {U16("StringFileInfoX", false), "STRINGFILEINFOx", true},
      {U16("StringFileInfoX", false), "STRINGFILEINFxX", false},
      {U16("0123456789abcdef", false), "0123456789ABCDEF", true},
      {U16("0123456789abcdef", false), "0123456789ABCDEg", false},
      // Only letters fold: the neighbours of 'A'-'Z' and 'a'-'z' do not.
      {U16("@@@@@@@@", false), "````````", false},
      {U16("````````", false), "@@@@@@@@", false},
      {U16("[[[[[[[[", false), "{{{{{{{{", false},
      {U16("{{{{{{{{", false), "[[[[[[[[", false},
      {U16("@[`{@[`{z", false), "@[`{@[`{Z", true},
      // A unit whose low byte is a letter is not that letter.
      {Units({0x0141}) + U16("bcdefghi", false), "Abcdefghi", false},
      {U16("abcdefgh", false) + Units({0xFF41}), "ABCDEFGHA", false},
      {U16("abcdefgh", false) + Units({0x0161}), "ABCDEFGHa", false},
  };
  for (const auto &c : cases) {
    Block b(VersionInfo(Strings(TextWithKeyUnits(c.key, "v"))));
    EXPECT_EQ(
        b.String(
            ("\\StringFileInfo\\040904b0\\" + std::string(c.name)).c_str()),
        c.found ? "v" : "<missing>")
        << c.name;
  }
}

TEST(VersionBlock, AnsiBlocksAnswerInPlace) {
  std::string strings = AnsiNode(
      "StringFileInfo", "",
      AnsiNode("040904E4", "",
               Siblings({AnsiNode("CompanyName", std::string("Old Co\0", 7)),
                         AnsiNode("Empty", "")})));
  std::string vars =
      AnsiNode("VarFileInfo", "",
               AnsiNode("Translation", std::string("\x09\x04\xE4\x04", 4)));
  std::string root =
      AnsiNode("VS_VERSION_INFO", FixedInfo(), Siblings({strings, vars}));
  Block b(root);
  ASSERT_TRUE(b.ok);
  EXPECT_TRUE(IsAnsiBlock(reinterpret_cast<unsigned char *>(&b.bytes[0])));
  EXPECT_EQ(b.String("\\StringFileInfo\\040904e4\\companyname"), "Old Co");
  EXPECT_EQ(b.String("\\StringFileInfo\\040904e4\\Empty"), "");
  std::string text;
  unsigned len;
  ASSERT_TRUE(b.Query("\\VarFileInfo\\Translation", &text, &len));
  EXPECT_EQ(len, 4u);
  ASSERT_TRUE(b.Query("\\", &text, &len));
  EXPECT_EQ(len, 52u);
}

TEST(OddProducers, ChildOverrunningItsParentIsCutAtTheParentsEnd) {
  std::string over = Text("CompanyName", "Acme");
  PutLe16(over, 0, 0x4000);
  Block overrun(VersionInfo(Strings(over)));
  EXPECT_EQ(overrun.String("\\StringFileInfo\\040904b0\\CompanyName"), "Acme");
}

TEST(OddProducers, ZeroLengthChildEndsTheWalk) {
  std::string stop = Text("First", "1");
  PutLe16(stop, 0, 0);
  Block stopped(VersionInfo(Strings(Siblings({stop, Text("Second", "2")}))));
  EXPECT_EQ(stopped.String("\\StringFileInfo\\040904b0\\Second"), "<missing>");
}

TEST(OddProducers, KeyWithoutTerminatorInsideItsNodeIsNoKey) {
  std::string open = Node("CompanyName", 1, 0, ""); // 2 bytes of padding
  open.resize(open.size() - 4);
  PutLe16(open, 0, static_cast<uint16_t>(open.size()));
  Block unterminated(VersionInfo(Strings(open)));
  EXPECT_EQ(unterminated.String("\\StringFileInfo\\040904b0\\CompanyName"),
            "<missing>");
}

TEST(OddProducers, RootLengthBeyondTheResourceIsCutToWhatWasRead) {
  std::string big = StandardResource();
  PutLe16(big, 0, 0xFFFF);
  Block claimed(big);
  EXPECT_EQ(claimed.String("\\StringFileInfo\\040904b0\\CompanyName"), "Acme");
}

TEST(OddProducers, RootLengthBelowANodeHeaderGivesNoBlock) {
  // "FE2X" would otherwise land on the length and type fields themselves
  // (found by fuzzing).
  for (uint16_t len : {uint16_t{1}, uint16_t{2}, uint16_t{4}, uint16_t{5}}) {
    std::string stub = StandardResource();
    PutLe16(stub, 0, len);
    Block shortRoot(stub);
    EXPECT_FALSE(shortRoot.ok) << len;
  }
}

TEST(OddProducers, RootTooShortForAFixedRecordHasNone) {
  Block tiny(Node("VS_VERSION_INFO", 0, 0, ""));
  std::string text;
  EXPECT_FALSE(tiny.Query("\\", &text));
}

TEST(OddProducers, FirstKeyOtherThanVsVersionInfoIsStillWalked) {
  Block renamed(
      Node("SOMETHING_ELSE", 0, 52, FixedInfo(), Translation(0x0409, 0x04B0)));
  std::string text;
  EXPECT_TRUE(renamed.Query("\\VarFileInfo\\Translation", &text));
}

// Several names looked up in one pass answer exactly as a query each, made
// in order, on a copy of the same block: the same found flags, values at
// the same places, and the same bytes left in the spare area.
void ExpectOnePassAgreesWithQueries(const std::string &resource) {
  Block one(resource), each(resource);
  if (!one.ok)
    return;
  struct Case {
    const char *parent;
    std::vector<const char *> names;
  };
  const Case cases[] = {
      {"\\StringFileInfo\\040904b0",
       {"CompanyName", "FileDescription", "FileVersion"}},
      {"\\StringFileInfo\\040904B0\\",
       {"fileversion", "PrivateBuild", "COMPANYNAME", "CompanyName"}},
      {"\\VarFileInfo", {"Translation", "", "Translation\\x"}},
      {"", {"StringFileInfo", "VarFileInfo", "Nothing"}},
      {"\\StringFileInfo\\040904e4", {"CompanyName"}},
      {"\\StringFileInfo\\040904b0",
       {"A", "B", "C", "D", "E", "F", "G", "H", "FileVersion", "CompanyName"}},
  };
  for (const Case &c : cases) {
    size_t n = c.names.size();
    std::vector<unsigned char *> values(n);
    std::vector<unsigned> lengths(n);
    std::unique_ptr<bool[]> found(new bool[n]);
    unsigned char *oneBase = reinterpret_cast<unsigned char *>(&one.bytes[0]);
    unsigned char *eachBase = reinterpret_cast<unsigned char *>(&each.bytes[0]);
    QueryVersionValues(oneBase, c.parent, c.names.data(), n, values.data(),
                       lengths.data(), found.get());
    for (size_t i = 0; i < n; ++i) {
      std::string path = std::string(c.parent) + "\\" + c.names[i];
      unsigned char *value = nullptr;
      unsigned length = 0;
      bool want = QueryVersionBlock(eachBase, path.c_str(), &value, &length);
      ASSERT_EQ(found[i], want) << path;
      if (!want)
        continue;
      EXPECT_EQ(values[i] - oneBase, value - eachBase) << path;
      EXPECT_EQ(lengths[i], length) << path;
    }
    ASSERT_EQ(one.bytes, each.bytes) << c.parent;
  }
}

TEST(VersionBlock, OnePassOverATableAnswersAsAQueryPerName) {
  ExpectOnePassAgreesWithQueries(StandardResource());
  std::string stop = Text("FileDescription", "1");
  PutLe16(stop, 0, 0);
  ExpectOnePassAgreesWithQueries(VersionInfo(Strings(Siblings(
      {Text("CompanyName", "Acme"), stop, Text("FileVersion", "2")}))));
  ExpectOnePassAgreesWithQueries(VersionInfo(Strings(
      Siblings({Text("companyname", "first"), Text("CompanyName", "second"),
                Text("FileVersion", "")}))));
}

TEST(VersionBlock, EveryTruncationAndByteFlipStaysInsideTheBuffer) {
  const std::string good = StandardResource();
  const char *queries[] = {"\\",
                           "\\VarFileInfo\\Translation",
                           "\\StringFileInfo\\040904b0\\CompanyName",
                           "\\StringFileInfo\\040904b0\\FileDescription",
                           "\\StringFileInfo\\040904b0\\FileVersion",
                           "\\StringFileInfo\\040904b0\\PrivateBuild",
                           "\\StringFileInfo",
                           ""};
  auto exercise = [&](const std::string &resource) {
    Block b(resource);
    if (!b.ok)
      return;
    std::string text;
    for (const char *q : queries)
      b.Query(q, &text);
    ExpectOnePassAgreesWithQueries(resource);
  };
  for (size_t len = 0; len <= good.size(); ++len)
    exercise(good.substr(0, len));
  std::mt19937 rng(7);
  for (size_t at = 0; at < good.size(); ++at)
    for (char v : {'\x00', '\xFF', '\x01', '\x7F'}) {
      std::string bent = good;
      bent[at] = v;
      exercise(bent);
    }
  for (int round = 0; round < 2000; ++round) {
    std::string bent = good;
    for (int k = 0; k < 4; ++k)
      bent[rng() % bent.size()] = static_cast<char>(rng());
    exercise(bent);
  }
}

} // namespace

namespace {

// The code page copies go no further than the capacity the caller passes,
// however short: a value whose copy would not fit is cut, and a canary
// just past the capacity keeps its bytes.
TEST(VersionBlock, CopiesStayInsideTheCapacityThePassedLengthGives) {
  Block b(StandardResource());
  ASSERT_TRUE(b.ok);
  const std::string laid = b.bytes;
  const size_t full = VersionBlockCapacity(
      reinterpret_cast<const unsigned char *>(laid.data()));
  ASSERT_EQ(full, laid.size());
  const size_t extent = (full - 4) / 2;
  for (size_t capacity = extent; capacity <= full; ++capacity) {
    std::string buffer = laid.substr(0, capacity) + std::string(16, '\x5A');
    unsigned char *block = reinterpret_cast<unsigned char *>(&buffer[0]);
    unsigned char *value = nullptr;
    unsigned length = 0;
    bool found = QueryVersionBlockIn(
        block, capacity, "\\StringFileInfo\\040904b0\\FileDescription", &value,
        &length);
    EXPECT_EQ(buffer.substr(capacity), std::string(16, '\x5A')) << capacity;
    if (found && length > 1) {
      // A copy in the spare area, its zero inside the capacity.
      EXPECT_LE(value + length, block + capacity) << capacity;
      EXPECT_EQ(std::string(reinterpret_cast<char *>(value)),
                std::string("Widget").substr(0, length - 1));
    }
  }
  unsigned char *value;
  unsigned length;
  std::string tiny = laid.substr(0, 4);
  EXPECT_FALSE(QueryVersionBlockIn(reinterpret_cast<unsigned char *>(&tiny[0]),
                                   tiny.size(), "\\", &value, &length));
}

} // namespace

namespace {

// Where an answer points, as an offset into its own copy of the block.
long Offset(const std::string &block, const unsigned char *value) {
  return value == nullptr
             ? -1
             : reinterpret_cast<const char *>(value) - block.data();
}

} // namespace

// The report's one walk from the root answers what the separate lookups
// answer, and writes the same copies, however the root's children lie.
TEST(VersionBlock, TheReportsWalkAnswersAsSeparateLookups) {
  std::string standardStrings = Strings(
      Siblings({Text("CompanyName", "Acme"), Text("FileDescription", "Widget"),
                Text("FileVersion", "1.0")}));
  std::string broken(8, '\0'); // a child whose length is short of a header
  PutLe16(broken, 0, 2);
  const struct {
    const char *what;
    std::string resource;
    bool ansi;
  } cases[] = {
      {"standard", StandardResource(), false},
      {"translation first",
       VersionInfo(Siblings({Translation(0x0409, 0x04B0), standardStrings})),
       false},
      {"no translation", VersionInfo(standardStrings), false},
      {"no strings", VersionInfo(Translation(0x0409, 0x04B0)), false},
      {"nothing", VersionInfo(""), false},
      {"the first StringFileInfo lacks the table",
       VersionInfo(Siblings(
           {Node("StringFileInfo", 1, 0, "",
                 Node("040704b0", 1, 0, "", Text("CompanyName", "Other"))),
            standardStrings, Translation(0x0409, 0x04B0)})),
       false},
      {"a broken child before the translation",
       VersionInfo(
           Siblings({standardStrings, broken, Translation(0x0409, 0x04B0)})),
       false},
      {"a broken child first",
       VersionInfo(
           Siblings({broken, standardStrings, Translation(0x0409, 0x04B0)})),
       false},
      {"a text translation",
       VersionInfo(Siblings({standardStrings, Node("VarFileInfo", 1, 0, "",
                                                   Node("Translation", 1, 3,
                                                        U16("\x09\x04")))})),
       false},
      {"a short translation",
       VersionInfo(Siblings({standardStrings, Node("VarFileInfo", 1, 0, "",
                                                   Node("Translation", 0, 2,
                                                        Units({0x0409})))})),
       false},
      {"keys in other cases",
       VersionInfo(Siblings(
           {Node("STRINGFILEINFO", 1, 0, "",
                 Node("040904B0", 1, 0, "",
                      Siblings({Text("COMPANYNAME", "Acme"),
                                Text("fileversion", "2.0")}))),
            Node("varfileinfo", 1, 0, "",
                 Node("TRANSLATION", 0, 4, Units({0x0409, 0x04B0})))})),
       false},
      {"16-bit",
       AnsiNode(
           "VS_VERSION_INFO", FixedInfo(),
           Siblings({AnsiNode("StringFileInfo", "",
                              AnsiNode("040904b0", "",
                                       AnsiNode("CompanyName",
                                                std::string("Old\0", 4)))),
                     AnsiNode("VarFileInfo", "",
                              AnsiNode("Translation",
                                       std::string("\x09\x04\xB0\x04", 4)))})),
       true},
  };
  const char *const names[] = {
      "CompanyName", "FileDescription", "FileVersion", "Missing", "", "x\\y"};
  const size_t count = sizeof names / sizeof names[0];
  for (const auto &c : cases) {
    std::string one, apart;
    if (c.ansi) {
      one = c.resource + std::string(1, '\0');
    } else {
      bool ok;
      one = LaidOut(c.resource, &ok);
      ASSERT_TRUE(ok) << c.what;
    }
    apart = one;
    auto *oneBytes = reinterpret_cast<unsigned char *>(&one[0]);
    auto *apartBytes = reinterpret_cast<unsigned char *>(&apart[0]);

    ReportRoot root;
    LookUpReportRoot(oneBytes, &root);
    unsigned char *value = nullptr;
    unsigned length = 0;
    bool found = QueryVersionBlock(apartBytes, "\\VarFileInfo\\Translation",
                                   &value, &length);
    EXPECT_EQ(root.hasTranslation, found) << c.what;
    if (found) {
      EXPECT_EQ(Offset(one, root.translation), Offset(apart, value)) << c.what;
      EXPECT_EQ(root.translationLength, length) << c.what;
    }
    found = QueryVersionBlock(apartBytes, "\\", &value, &length);
    EXPECT_EQ(root.hasFixed, found) << c.what;
    if (found) {
      EXPECT_EQ(Offset(one, root.fixed), Offset(apart, value)) << c.what;
    }

    unsigned char *oneValues[count], *apartValues[count];
    unsigned oneLengths[count], apartLengths[count];
    bool oneFound[count], apartFound[count];
    QueryTableValuesIn(oneBytes, one.size(), root, "040904b0", names, count,
                       oneValues, oneLengths, oneFound);
    QueryVersionValuesIn(apartBytes, apart.size(), "\\StringFileInfo\\040904b0",
                         names, count, apartValues, apartLengths, apartFound);
    for (size_t i = 0; i < count; ++i) {
      EXPECT_EQ(oneFound[i], apartFound[i]) << c.what << " " << names[i];
      if (oneFound[i] && apartFound[i]) {
        EXPECT_EQ(Offset(one, oneValues[i]), Offset(apart, apartValues[i]))
            << c.what << " " << names[i];
        EXPECT_EQ(oneLengths[i], apartLengths[i]) << c.what << " " << names[i];
      }
    }
    EXPECT_EQ(one, apart) << c.what; // the same copies, in the same places
  }
}
