#include "report.h"
#include "test_support.h"

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
  EXPECT_EQ(
      Report("d_ver.dll", true)
          .output.find(
              "\nVersion Number:\t   4.00.0.1\nProduct Number:\t   4.0.0.1"),
      Report("d_ver.dll", true).output.find("\nVersion Number:"));
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

} // namespace
