#include <string.h>

#include "block_builder.h"
#include "exe_locate.h"
#include "report.h"
#include "test_support.h"
#include "version_block.h"

namespace {

struct Outcome {
  int status;
  std::string output;
};

Outcome Report(const std::string &fixture, bool detailed = false) {
  Outcome o;
  std::string path = Fixture(fixture);
  o.output =
      CaptureOutput([&] { o.status = ReportVersion(path.c_str(), detailed); });
  return o;
}

std::string Opening(const std::string &fixture) {
  return "\n\nProgram Name:      " + Fixture(fixture) + "\nCompany Name:      ";
}

TEST(PrintSafeString, OneCharacterPerByteAndOnlyPrintableAsciiAsItself) {
  EXPECT_EQ(CaptureOutput([] { PrintSafeString("a\tb\nc\xE9\x7F\x1F~ !"); }),
            "a b c   ~ !");
  EXPECT_EQ(CaptureOutput([] { PrintSafeString(""); }), "");
  // A byte that is not printable ASCII anywhere in text of any length, on
  // its own and composed with other text.
  for (size_t length = 1; length <= 40; ++length)
    for (size_t at = 0; at < length; ++at)
      for (char odd : {'\x1F', '\x7F', '\x80', '\xFF', '\t'}) {
        std::string text(length, '~');
        text[0] = ' ';
        text[at] = odd;
        std::string want = text;
        want[at] = ' ';
        EXPECT_EQ(CaptureOutput([&] { PrintSafeString(text.c_str()); }), want)
            << length << " " << at;
        EXPECT_EQ(CaptureOutput([&] {
                    ReportText out;
                    out.used = 0;
                    PutReportText(&out, "<");
                    PutSafeString(&out, text.c_str());
                    PutReportText(&out, ">");
                    FlushReportText(&out);
                  }),
                  "<" + want + ">")
            << length << " " << at;
      }
}

// What a file name can carry to the terminal: each control character is
// one '?', whether it is one byte or a UTF-8 sequence; everything else, a
// name's well-formed UTF-8 and its stray bytes above 0x9F, is kept.
TEST(PrintSafePath, EveryControlCharacterIsOneQuestionMark) {
  struct Case {
    const char *in, *out;
  } cases[] = {
      {"dir/plain name.dll", "dir/plain name.dll"},
      {"a\x01"
       "b\tc\nd\re\x1b[2Jf\x1f\x7f.dll",
       "a?b?c?d?e?[2Jf??.dll"},
      // C1 in UTF-8: CSI, NEL, the first and the last.
      {"a\xC2\x9B"
       "2J.dll",
       "a?2J.dll"},
      {"x\xC2\x85y\xC2\x80\xC2\x9F", "x?y??"},
      // Line and paragraph separators; U+2027 and U+202A beside them are
      // not controls.
      {"\xE2\x80\xA8|\xE2\x80\xA9|\xE2\x80\xA7|\xE2\x80\xAA",
       "?|?|\xE2\x80\xA7|\xE2\x80\xAA"},
      // Lone bytes 0x80 to 0x9F, C1 to a terminal that reads bytes.
      {"a\x9B"
       "2J\x80\x85\x9F",
       "a?2J???"},
      // Well-formed characters whose bytes include 0x80 to 0x9F.
      {"\xC4\x80\xE2\x82\xAC\xE4\xB8\x80\xF0\x9F\x98\x80",
       "\xC4\x80\xE2\x82\xAC\xE4\xB8\x80\xF0\x9F\x98\x80"},
      {"caf\xC3\xA9\xC2\xA0", "caf\xC3\xA9\xC2\xA0"},
      // Ill-formed: lead bytes and bytes above 0x9F are kept as they were,
      // a continuation byte 0x80 to 0x9F that follows them is not.
      {"\xE9t\xE9.dll", "\xE9t\xE9.dll"},
      {"\xC0\x9B|\xC1\xBF|\xE0\x80\xA8", "\xC0?|\xC1\xBF|\xE0?\xA8"},
      {"cut \xE2\x80", "cut \xE2?"},
      {"\xED\xA0\x80|\xF4\x90\x80\x80", "\xED\xA0?|\xF4???"},
      {"\xFF\xFE", "\xFF\xFE"},
      {"", ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(CaptureOutput([&] { PrintSafePath(c.in); }), c.out) << c.in;
  // Longer than one chunk of the printer, with a sequence at every offset.
  std::string many, want;
  for (int i = 0; i < 300; ++i) {
    many += i % 3 == 0 ? "\xC2\x9B" : i % 3 == 1 ? "\xE4\xB8\xAD" : "a";
    want += i % 3 == 0 ? "?" : i % 3 == 1 ? "\xE4\xB8\xAD" : "a";
  }
  EXPECT_EQ(CaptureOutput([&] { PrintSafePath(many.c_str()); }), want);
}

// Composed text goes out whole and in order, whatever the pieces' sizes:
// pieces that fill the buffer to the byte, that overflow it, and one
// larger than the buffer itself.
TEST(ReportText, EveryPieceGoesOutInOrder) {
  ReportText probe;
  const size_t room = sizeof probe.text;
  for (size_t first : {size_t{0}, size_t{1}, room - 1, room})
    for (size_t second : {size_t{1}, size_t{7}, room, room + 1, 3 * room}) {
      std::string a(first, 'a'), b(second, 'b');
      std::string printed = CaptureOutput([&] {
        ReportText out;
        out.used = 0;
        PutReportText(&out, a.data(), a.size());
        PutReportText(&out, b.c_str());
        PutReportText(&out, "end");
        FlushReportText(&out);
      });
      EXPECT_EQ(printed, a + b + "end") << first << " " << second;
    }
}

TEST(ReportVersion, ACompleteReportEndsWithItsClosingNewline) {
  Outcome o = Report("basic.dll");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.output, Opening("basic.dll") +
                          "Quelvo Test Co\nFile Description:  basic fixture"
                          "\nVersion String:    1.2.3.4\n");
}

// Each stage that fails leaves what was printed before it, and no closing
// newline.
TEST(ReportVersion, FailuresStopAtTheirStageWithTheirCode) {
  Outcome none = Report("nover.dll");
  EXPECT_EQ(none.status, 100);
  EXPECT_EQ(none.output, "");
  Outcome noTranslation = Report("notrans.dll");
  EXPECT_EQ(noTranslation.status, 102);
  EXPECT_EQ(noTranslation.output, "");
  Outcome noCompany = Report("nocompany.dll");
  EXPECT_EQ(noCompany.status, 103);
  EXPECT_EQ(noCompany.output, Opening("nocompany.dll"));
  Outcome secondTable =
      Report("secondtrans.dll"); // only the first entry counts
  EXPECT_EQ(secondTable.status, 103);
  EXPECT_EQ(secondTable.output, Opening("secondtrans.dll"));
  Outcome noDescription = Report("nodesc.dll");
  EXPECT_EQ(noDescription.status, 104);
  EXPECT_EQ(noDescription.output,
            Opening("nodesc.dll") + "Quelvo Test Co\nFile Description:  ");
  Outcome noVersion = Report("noverstr.dll");
  EXPECT_EQ(noVersion.status, 105);
  EXPECT_EQ(noVersion.output, Opening("noverstr.dll") +
                                  "Quelvo Test Co\nFile Description:  "
                                  "noverstr fixture\nVersion String:    ");
}

TEST(ReportVersion, ResourcesLargerThanTheReadersWindowOr64KiB) {
  // straddle.dll's block runs past the reader's first window and keeps its
  // version string beyond it; over64k.dll's is larger than 64 KiB.
  for (std::string name : {"straddle", "over64k"}) {
    std::string path = LargeFixture(name + ".dll");
    int status = -2;
    std::string out =
        CaptureOutput([&] { status = ReportVersion(path.c_str(), false); });
    EXPECT_EQ(status, 0) << name;
    EXPECT_EQ(out, "\n\nProgram Name:      " + path +
                       "\nCompany Name:      Quelvo Test Co"
                       "\nFile Description:  " +
                       name + " fixture\nVersion String:    1.2.3.4\n");
  }
}

TEST(ReportVersion, BuildNotesFollowTheFlagsNotTheMask) {
  Outcome missing = Report("buildsnostr.dll"); // 0x20 outside the mask
  EXPECT_EQ(missing.status, 0);
  EXPECT_NE(missing.output.find("\nPrivate Build:     \nSpecial Build:     \n"),
            std::string::npos);
  Outcome present = Report("privonly.dll");
  EXPECT_EQ(present.status, 0);
  EXPECT_NE(present.output.find("\nPrivate Build:     private note\n"),
            std::string::npos);
  EXPECT_EQ(present.output.find("Special Build"), std::string::npos);
}

TEST(ReportVersion, ValuesPassThroughTheSafePrinterAndBestFit) {
  Outcome o = Report("oddchars.dll");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.output.find("\nCompany Name:      Best-fit A l A   - ?   end"),
            std::string::npos);
  EXPECT_NE(o.output.find("\nFile Description:  Tab here Newline caf  end"),
            std::string::npos);
  Outcome empty = Report("emptyval.dll");
  EXPECT_NE(empty.output.find("\nFile Description:  \nVersion String:"),
            std::string::npos);
}

TEST(ReportFixedInfo, NumbersFlagsAndTablesAsPrinted) {
  Outcome o = Report("d_ver65535.dll", true);
  EXPECT_NE(o.output.find("\nVersion Number:\t   65535.65535.65535.65535"
                          "\nProduct Number:\t   65535.100.7.65535"),
            std::string::npos);
  std::string ver = Report("d_ver.dll", true).output;
  size_t numbers = ver.find("\nVersion Number:");
  ASSERT_NE(numbers, std::string::npos);
  EXPECT_EQ(ver.find("\nVersion Number:\t   4.00.0.1\nProduct Number:\t   "
                     "4.0.0.1"),
            numbers);
  EXPECT_NE(Report("d_flags3f.dll", true)
                .output.find("\nFile Flags:\t   DEBUG,INFERRED,PATCHED,"
                             "PRERELEASE,PRIVATEBUILD,SPECIALBUILD\n"),
            std::string::npos);
  EXPECT_NE(Report("d_flags03.dll", true)
                .output.find("\nFile Flags:\t   DEBUG,PRERELEASE,\n"),
            std::string::npos);
  EXPECT_NE(Report("d_flags40.dll", true).output.find("\nFile Flags:\t   \n"),
            std::string::npos);
  std::string bokmal = Report("d_lang0414.dll", true).output;
  EXPECT_NE(bokmal.find("\nLanguage:\t   Norwegian Bokm\xE5l\n"),
            std::string::npos);
  std::string font = Report("d_type4_sub4.dll", true).output;
  EXPECT_NE(font.find("\nFile Type:\t   Font\nFile Subtype:\t   \n"),
            std::string::npos);
  std::string vxd = Report("d_type5.dll", true).output;
  EXPECT_NE(vxd.find("\nFile Type:\t   Virtual device\nCharacter Set:"),
            std::string::npos);
  std::string cp437 = Report("d_cp437.dll", true).output;
  EXPECT_NE(cp437.find("\nCharacter Set:\t   \nLanguage:\t   U.S. English\n"),
            std::string::npos);
  // The detailed section ends with exactly one closing newline.
  EXPECT_EQ(o.output.substr(o.output.size() - 2), "h\n");
}

// The language names the detailed report prints: the table's ends, IDs on
// either side of a gap, and IDs it has no name for.
TEST(LanguageText, EveryNameByItsIdAndNoneBetween) {
  const struct {
    unsigned id;
    const char *name; // null: printed as nothing
  } cases[] = {
      {0x0000, "Language-Neutral"},
      {0x0001, nullptr},
      {0x03FF, nullptr},
      {0x0400, "Process Default Language"},
      {0x0401, "Arabic"},
      {0x0414, "Norwegian Bokm\xE5l"},
      {0x0421, "Bahasa"},
      {0x0422, nullptr},
      {0x0803, nullptr},
      {0x0804, "Simplified Chinese"},
      {0x100C, "Swiss French"},
      {0x100D, nullptr},
      {0xFFFF, nullptr},
  };
  for (const auto &c : cases) {
    const char *name = LanguageText(c.id);
    if (c.name == nullptr)
      EXPECT_EQ(name, nullptr) << std::hex << c.id;
    else
      EXPECT_STREQ(name, c.name) << std::hex << c.id;
  }
}

// A resource laid out as the version service lays it out, for the report
// functions that take a loaded block.
struct LoadedBlock {
  explicit LoadedBlock(const std::string &resource)
      : bytes(LaidOut(resource, &ok)) {}
  const void *data() const { return bytes.data(); }
  DWORD size() const { return static_cast<DWORD>(bytes.size()); }
  bool ok; // set by LaidOut, which fills bytes: declared first
  std::string bytes;
};

const DWORD kUsEnglishUnicode = 0x04B00409;

TEST(ReportFixedInfo, ABlockWithoutARootRecordFailsWithItsOwnCode) {
  // 106, not the 103 of a missing company name: one number, one meaning.
  LoadedBlock tiny(Node("VS_VERSION_INFO", 0, 0, ""));
  ASSERT_TRUE(tiny.ok);
  int status = 0;
  std::string out = CaptureOutput([&] {
    status = ReportFixedInfo(tiny.data(), tiny.size(), kUsEnglishUnicode);
  });
  EXPECT_EQ(status, 106);
  EXPECT_EQ(status, kStatusNoFixedInfo);
  EXPECT_EQ(out, "\nCan't get fileversion");
}

// The real service promises a pointer, not that the record behind it ends
// inside the block: told that the block ends part-way through the record,
// the report reads what lies inside and takes the rest as zero.
TEST(ReportFixedInfo, ARecordRunningPastTheBlockIsReadOnlyToItsEnd) {
  LoadedBlock root(VersionInfo("", 0x3F)); // the record at offset 40
  ASSERT_TRUE(root.ok);
  const std::string tail = "\nCharacter Set:\t   Unicode"
                           "\nLanguage:\t   U.S. English";
  struct {
    DWORD size;
    const char *numbers;
    const char *rest;
  } cases[] = {
      {root.size(), "1.02.3.4\nProduct Number:\t   1.2.3.4",
       "DEBUG,INFERRED,PATCHED,PRERELEASE,PRIVATEBUILD,SPECIALBUILD"
       "\nFile OS:\t   Win32 API running on Windows NT"
       "\nFile Type:\t   Dynamic-link library (DLL)"},
      {92, "1.02.3.4\nProduct Number:\t   1.2.3.4",
       "DEBUG,INFERRED,PATCHED,PRERELEASE,PRIVATEBUILD,SPECIALBUILD"
       "\nFile OS:\t   Win32 API running on Windows NT"
       "\nFile Type:\t   Dynamic-link library (DLL)"},
      {60, "1.02.3.4\nProduct Number:\t   1.2.0.0",
       "\nFile OS:\t   Unknown OS\nFile Type:\t   unknown to Windows"},
      {48, "0.00.0.0\nProduct Number:\t   0.0.0.0",
       "\nFile OS:\t   Unknown OS\nFile Type:\t   unknown to Windows"},
      {40, "0.00.0.0\nProduct Number:\t   0.0.0.0",
       "\nFile OS:\t   Unknown OS\nFile Type:\t   unknown to Windows"},
  };
  for (const auto &c : cases) {
    std::string out = CaptureOutput([&] {
      EXPECT_EQ(ReportFixedInfo(root.data(), c.size, kUsEnglishUnicode), 0);
    });
    EXPECT_EQ(out, std::string("\nVersion Number:\t   ") + c.numbers +
                       "\nFile Flags:\t   " + c.rest + tail)
        << c.size;
  }
}

TEST(CopyInsideBlock, TakesOnlyTheBytesInsideTheBlockAndZeroesTheRest) {
  // The block sits inside a larger buffer of 0xEE, so a copy that strays
  // past either end shows it without reading foreign memory.
  std::string buffer(96, '\xEE');
  for (size_t i = 0; i < 64; ++i)
    buffer[16 + i] = static_cast<char>(i + 1);
  const char *block = buffer.data() + 16;
  struct {
    int offset;
    size_t len;
    size_t inside;
  } cases[] = {
      {0, 52, 52},  // a whole record at the start
      {12, 52, 52}, // ending exactly at the block's end
      {20, 52, 44}, // running 8 bytes past it
      {63, 4, 1},   // only the last byte inside
      {64, 4, 0},   // starting just past the end
      {-2, 4, 0},   // starting before the block
      {20, 0, 0},
  };
  for (const auto &c : cases) {
    unsigned char out[56];
    memset(out, 0x55, sizeof out);
    CopyInsideBlock(block, 64, block + c.offset, out, c.len);
    for (size_t i = 0; i < sizeof out; ++i) {
      unsigned char want = i >= c.len ? 0x55
                           : i < c.inside
                               ? static_cast<unsigned char>(
                                     block[c.offset + static_cast<int>(i)])
                               : 0;
      EXPECT_EQ(out[i], want) << c.offset << "+" << c.len << " byte " << i;
    }
  }
}

std::string OtherStrings(const std::string &strings, DWORD flags, bool utf8) {
  std::string resource = VersionInfo(Siblings(
      {Node("StringFileInfo", 1, 0, "", Node("040904b0", 1, 0, "", strings)),
       Translation(0x0409, 0x04B0)}));
  return CaptureOutput([&] {
    PrintOtherStrings(resource.data(), resource.size(), 0x04B00409u, flags,
                      utf8);
  });
}

// Every string the classic lines did not show, under a heading, indented
// and aligned among themselves like the labels.
TEST(PrintOtherStrings, EveryOtherStringAlignedLikeTheLabels) {
  std::string strings =
      Siblings({Text("companyname", "shown"), Text("X", "1"),
                Text("OriginalFilename", "2"), Text("SeventeenCharsKey", "3"),
                Text("PrivateBuild", "p"), Text("CompanyName", "again"),
                Text("FileVersion", "shown"), Text("Empty", "")});
  EXPECT_EQ(OtherStrings(strings, 0, false), "\nOther Strings:"
                                             "\n  X:                 1"
                                             "\n  OriginalFilename:  2"
                                             "\n  SeventeenCharsKey:  3"
                                             "\n  PrivateBuild:      p"
                                             "\n  CompanyName:       again"
                                             "\n  Empty:             ");
  // With its flag set, PrivateBuild has a line of its own already.
  EXPECT_EQ(OtherStrings(strings, 0x08, false).find("PrivateBuild"),
            std::string::npos);
  std::string odd =
      Node("Schl\xFCssel", 1, 4, Units({0x4E2D, 0x0085, 0x00E9, 0}));
  EXPECT_EQ(OtherStrings(odd, 0, true),
            "\nOther Strings:"
            "\n  Schl\xC3\xBCssel:         \xE4\xB8\xAD \xC3\xA9");
  // Code page 1252 holds neither U+4E2D nor U+0085: each is a '?'.
  EXPECT_EQ(OtherStrings(odd, 0, false),
            "\nOther Strings:\n  Schl ssel:         ?? ");
  // Only shown strings: no heading either.
  std::string shownOnly =
      Siblings({Text("CompanyName", "c"), Text("FileDescription", "d"),
                Text("FileVersion", "v"), Text("PrivateBuild", "p")});
  EXPECT_EQ(OtherStrings(shownOnly, 0x08, false), "");
}

// A string whose key and value are any UTF-16 units; the value's length
// counts its terminator.
std::string UnitsText(std::initializer_list<uint16_t> key,
                      std::initializer_list<uint16_t> value) {
  std::string n(6, '\0');
  PutLe16(n, 2, static_cast<uint16_t>(value.size() + 1));
  PutLe16(n, 4, 1);
  n = Pad4(n + Units(key) + Units({0})) + Units(value) + Units({0});
  PutLe16(n, 0, static_cast<uint16_t>(n.size()));
  return n;
}

// A stored key can spell any label of the report, or break its line with
// a control character or a separator; under the heading, every line the
// other strings print starts with the indent, so none can pass for one of
// the report's own lines.
TEST(PrintOtherStrings, NoKeyCanPassForALabel) {
  std::string strings = Siblings(
      {Text("Program Name", "C:\\evil.exe"), Text("Company Name", "Evil"),
       Text("Version Number", "9.9.9.9"), Text("File Flags", ""),
       Text("Other Strings", "x"), Text("", "empty key"), Text("a\nb\rc", "v"),
       UnitsText({'k', 0x2028, 'l'}, {'v', 0x2029}),
       UnitsText({0x0085, 'm'}, {0x000D, 0x009B, '2', 'J'})});
  for (bool utf8 : {false, true}) {
    std::string out = OtherStrings(strings, 0, utf8);
    EXPECT_EQ(out.rfind("\nOther Strings:\n", 0), 0u) << out;
    size_t lines = 0;
    for (size_t at = out.find('\n', 1); at != std::string::npos;
         at = out.find('\n', at + 1), ++lines)
      EXPECT_EQ(out.compare(at + 1, 2, "  "), 0) << utf8 << "\n" << out;
    EXPECT_EQ(lines, 9u) << utf8 << "\n" << out;
    EXPECT_NE(out.find("\n  Program Name:      C:\\evil.exe"),
              std::string::npos)
        << out;
    for (const char *raw :
         {"\r", "\x1B", "\xC2\x85", "\xC2\x9B", "\xE2\x80\xA8", "\xE2\x80\xA9"})
      EXPECT_EQ(out.find(raw), std::string::npos) << utf8 << "\n" << out;
  }
}

} // namespace
