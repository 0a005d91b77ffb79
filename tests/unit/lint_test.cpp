// --lint and --expect over the facts of real fixtures and of facts built
// to bend one thing at a time.
#include <string>
#include <vector>

#include "check_report.h"
#include "expect.h"
#include "json_report.h"
#include "lint.h"
#include "test_support.h"
#include "version_facts.h"

namespace {

std::vector<LintFinding> LintFile(const std::string &path,
                                  const LintOptions &options = LintOptions()) {
  std::string copy = path;
  FileRecord record;
  OpenFileRecord(&record, &copy[0], nullptr, nullptr);
  VersionFacts facts;
  VersionPlan plan;
  plan.lintExtras = true;
  StatusCode code = GatherVersionFacts(&record, &facts, plan);
  CloseFileRecord(&record);
  std::vector<LintFinding> findings;
  LintVersionFacts(path.c_str(), code, facts, options, &findings);
  return findings;
}

std::string Rules(const std::vector<LintFinding> &findings) {
  std::string ids;
  for (const LintFinding &f : findings)
    ids += (ids.empty() ? "" : " ") + LintRuleId(f.rule);
  return ids;
}

// Every rule has a fixture that trips it, and l_clean.exe, basic.dll and
// the data-only nover.dll trip none.
TEST(LintVersionFacts, EachRuleOnTheFixtureMadeForIt) {
  const struct {
    const char *fixture;
    const char *rules;
  } cases[] = {
      {"../lint/l_clean.exe", ""},
      {"basic.dll", ""},
      {"nover.dll", ""}, // resources alone: data, not a program
      {"app64.exe", ""}, // a FileVersion with a build tag after its numbers
      {"../ne/display.drv", "QV009"}, // "3.10.061" is 3.10.0.61
      {"norsrc.dll", "QV001"},
      {"notrans.dll", "QV002"},
      {"secondtrans.dll", "QV003"},
      {"../lint/l_othertrans.dll", "QV004"},
      {"../lint/l_neutral.dll", "QV005"},
      {"../lint/l_specific.dll", "QV005"},
      {"nocompany.dll", "QV006"},
      {"nodesc.dll", "QV007"},
      {"emptyval.dll", "QV007"},
      {"noverstr.dll", "QV008"},
      {"../lint/l_noproduct.dll", "QV009 QV010"},
      {"d_ver.dll", "QV011 QV012"},
      {"../lint/l_origname.dll", "QV013"},
      {"d_flags3f.dll", "QV014 QV015 QV016"},
      {"buildsnostr.dll", "QV017 QV018"},
      {"builds.dll", ""},
      {"../lint/l_buildstr.dll", "QV019 QV020"},
      {"../lint/l_badsig.dll", "QV021"},
      {"../lint/l_strucver.dll", "QV022"},
      {"oddchars.dll", "QV023"},
      {"../lint/l_nuls.dll", "QV024 QV024"},
      {"../lint/l_codepage.dll", "QV025"},
      {"../lossless/unicode.dll", "QV009 QV010 QV023 QV025"},
      {"../lint/l_langdiff.dll", "QV026"},
      {"lang9.dll", ""}, // three languages, one version
  };
  for (const auto &c : cases) {
    std::vector<LintFinding> findings = LintFile(Fixture(c.fixture));
    EXPECT_EQ(Rules(findings), c.rules) << c.fixture;
    for (const LintFinding &f : findings)
      EXPECT_EQ(f.severity, LintRuleSeverity(f.rule)) << c.fixture;
  }
}

TEST(LintVersionFacts, TheSuggestedEntryNamesTheTableThatExists) {
  const struct {
    const char *fixture;
    const char *part;
  } cases[] = {
      {"secondtrans.dll", "the Translation entry 0x0407, 1252 names the table "
                          "040704e4, which does not exist: Windows finds no "
                          "strings; the table 040904b0 exists: VALUE "
                          "\"Translation\", 0x0409, 1200 would name it"},
      {"notrans.dll", "VALUE \"Translation\", 0x0409, 1200 would name it"},
      {"../lint/l_neutral.dll",
       "0x0000, 1200 is language neutral but the string table is "
       "language-specific"},
      {"../lint/l_specific.dll", "VALUE \"Translation\", 0x0000, 1200"},
      {"../lint/l_langdiff.dll",
       "language 0x0407 has file version 1.0.0.0 and product version "
       "1.0.0.0; the one Windows picks has 1.2.3.4 and 1.2.3.4"},
  };
  for (const auto &c : cases) {
    std::vector<LintFinding> findings = LintFile(Fixture(c.fixture));
    ASSERT_FALSE(findings.empty()) << c.fixture;
    EXPECT_NE(findings[0].message.find(c.part), std::string::npos)
        << findings[0].message;
  }
}

TEST(IgnoreLintRules, IdsSeparatedByCommasAndNothingElse) {
  const struct {
    const char *list;
    bool ok;
  } cases[] = {
      {"QV014", true},   {"qv014,QV016", true}, {"QV001", true},
      {"QV026", true},   {"QV027", false},      {"QV000", false},
      {"QV14", false},   {"QV0140", false},     {"", false},
      {"QV014,", false}, {",QV014", false},     {"XV014", false},
      {"QV01a", false},
  };
  for (const auto &c : cases) {
    LintOptions options = LintOptions();
    EXPECT_EQ(IgnoreLintRules(c.list, &options), c.ok) << c.list;
    if (c.ok)
      continue;
    for (bool ignored : options.ignored)
      EXPECT_FALSE(ignored) << c.list; // nothing half done
  }
  LintOptions options = LintOptions();
  ASSERT_TRUE(IgnoreLintRules("QV014,QV016", &options));
  EXPECT_EQ(Rules(LintFile(Fixture("d_flags3f.dll"), options)), "QV015");
  EXPECT_EQ(LintRuleId(1), "QV001");
  EXPECT_EQ(LintRuleId(26), "QV026");
}

// Facts with one string table holding the given strings and a fixed
// record of 1.2.3.4 for both versions.
VersionFacts Facts(std::vector<VersionText> strings, uint32_t translation) {
  VersionFacts f = VersionFacts();
  f.image.kind = kKindPe32;
  f.hasTranslations = true;
  f.translation = translation;
  f.translations = {translation};
  f.hasTable = true;
  f.strings = {
      {"CompanyName", "c"}, {"FileDescription", "d"}, {"ProductName", "p"}};
  for (const VersionText &s : strings)
    f.strings.push_back(s);
  f.hasFixed = true;
  f.fixed.dwSignature = 0xFEEF04BDu;
  f.fixed.dwStrucVersion = 0x00010000u;
  f.fixed.dwFileVersionMS = f.fixed.dwProductVersionMS = 0x00010002u;
  f.fixed.dwFileVersionLS = f.fixed.dwProductVersionLS = 0x00030004u;
  return f;
}

std::string LintFacts(const VersionFacts &f) {
  std::vector<LintFinding> findings;
  LintVersionFacts("dir/x.dll", kStatusOk, f, LintOptions(), &findings);
  return Rules(findings);
}

// The version strings against the fixed record 1.2.3.4.
TEST(LintVersionFacts, VersionStringsAgreeAsFarAsTheyGo) {
  const struct {
    const char *version;
    bool drift;
  } cases[] = {
      {"1.2.3.4", false},
      {"1, 2, 3, 4", false},
      {"01.02.03.04", false},
      {"1.2", false},
      {"1.2.3.4 (rtm)", false},
      {"1.2.3.4-beta+sha", false},
      {"1.2.3.4.5", false},
      {"v1.3", false}, // no number to compare
      {"1.2.4", true},
      {"1.3", true},
      {"1.2.3.5", true},
      {"1.2.3.40", true},
      {"2", true},
      {"1.2.65540.4", true},
  };
  for (const auto &c : cases) {
    VersionFacts f =
        Facts({{"FileVersion", c.version}, {"ProductVersion", c.version}},
              0x04B00409u);
    EXPECT_EQ(LintFacts(f), c.drift ? "QV011 QV012" : "") << c.version;
  }
  // Three numbers may be the Windows 9x form: 4.00.950 is 4.0.0.950.
  VersionFacts f =
      Facts({{"FileVersion", "4.00.950"}, {"ProductVersion", "4.00.950"}},
            0x04B00409u);
  f.fixed.dwFileVersionMS = f.fixed.dwProductVersionMS = 0x00040000u;
  f.fixed.dwFileVersionLS = f.fixed.dwProductVersionLS = 950;
  EXPECT_EQ(LintFacts(f), "");
}

// Each value against the control characters and its table's code page.
TEST(LintVersionFacts, ValuesAgainstControlsAndTheCodePage) {
  const struct {
    const char *value;
    uint32_t translation;
    const char *rules;
  } cases[] = {
      {"plain", 0x04E40409u, ""},
      {"caf\xC3\xA9 \xE2\x82\xAC", 0x04E40409u, ""}, // in 1252
      {"\xC4\x80", 0x04E40409u, "QV025"},            // U+0100: best fit
      {"\xE4\xB8\xAD", 0x04B00409u, ""},             // UTF-16 holds it
      {"\xE4\xB8\xAD", 0x03A40411u, ""},             // 932: not checked
      {"caf\xC3\xA9", 0x00000409u, "QV025"},         // 0: 7-bit ASCII
      {"\xF0\x9F\x98\x80", 0x04E40409u, "QV025"},    // past the plane
      {"a\tb", 0x04B00409u, "QV023"},
      {"a\x7F", 0x04B00409u, "QV023"},
      {"a\xC2\x85", 0x04B00409u, "QV023"},      // NEL
      {"a\xE2\x80\xA8", 0x04B00409u, "QV023"},  // LINE SEPARATOR
      {"\xC2\x85", 0x04E40409u, "QV023 QV025"}, // 1252 holds no U+0085
  };
  for (const auto &c : cases) {
    VersionFacts f = Facts({{"FileVersion", "1.2.3.4"},
                            {"ProductVersion", "1.2.3.4"},
                            {"Comments", c.value}},
                           c.translation);
    EXPECT_EQ(LintFacts(f), c.rules) << c.value;
  }
  VersionFacts f = Facts({{"FileVersion", "1.2.3.4"},
                          {"ProductVersion", "1.2.3.4"},
                          {"Comments", "\xEF\xBF\xBD"}},
                         0x04B00409u);
  EXPECT_EQ(LintFacts(f), ""); // a real U+FFFD is text like any other
  f.strings.back().unpairedSurrogate = true;
  EXPECT_EQ(LintFacts(f), "QV025");
}

TEST(LintVersionFacts, FileWithoutTheResourceOnlyWhenItIsAProgram) {
  VersionFacts f = VersionFacts();
  std::vector<LintFinding> findings;
  const struct {
    int kind;
    bool code;
    const char *rules;
  } cases[] = {
      {kKindPe32, true, "QV001"}, {kKindPe32Plus, true, "QV001"},
      {kKindPe32, false, ""},     {kKindNe, false, ""},
      {kKindUnknown, false, ""},
  };
  for (const auto &c : cases) {
    f.image.kind = c.kind;
    f.image.code = c.code;
    findings.clear();
    LintVersionFacts("x", kStatusNoVersionInfo, f, LintOptions(), &findings);
    EXPECT_EQ(Rules(findings), c.rules) << c.kind;
  }
}

Expectation Expect(const char *text) {
  Expectation e;
  std::string error;
  EXPECT_TRUE(ParseExpectation(text, &e, &error)) << text << ": " << error;
  return e;
}

TEST(ParseExpectation, NameOperatorValue) {
  Expectation e = Expect("FileVersion=1.2=3");
  EXPECT_EQ(e.name, "FileVersion");
  EXPECT_EQ(e.value, "1.2=3");
  EXPECT_FALSE(e.regex);
  e = Expect("ProductName~=^Quelvo( Fixtures)?$");
  EXPECT_EQ(e.name, "ProductName");
  EXPECT_TRUE(e.regex);
  ASSERT_NE(e.pattern, nullptr);
  std::vector<Expectation> all = {e, Expect("x=")};
  FreeExpectations(&all);
  const char *bad[] = {"FileVersion", "=1.0", "~=1", "Name~=(unclosed",
                       "Name~=a{2,1}"};
  for (const char *text : bad) {
    std::string error;
    EXPECT_FALSE(ParseExpectation(text, &e, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(e.pattern, nullptr) << text;
  }
}

// What the library would take time or memory without bound for is refused
// before it is compiled: back-references, and counted repetitions whose
// copies, nested ones multiplied, pass the bound. Signs inside a bracket
// expression are its members, not operators.
TEST(ParseExpectation, RefusesCostlyExpressions) {
  const struct {
    const char *regex;
    bool accepted;
  } cases[] = {
      {"(a|a)*\\1b", false},
      {"^(x)\\9", false},
      {"[\\1]", true},   // a backslash and a one
      {"\\\\1", true},   // an escaped backslash, then a one
      {"[]\\1]x", true}, // ']' first is a member
      {"[[:digit:]\\1]", true},
      {"(((a{100}){100}){100}){100}", false},
      {"(a{16}){16}", false},
      {"(a{16}){15}", true}, // 16 x 15 = 240 parts, and the pair's 15
      {".{0,255}$", true},
      {".{0,256}$", false},
      {"a{,300}", false},
      {"a{300,}", false},
      {"a{2}{3}{4}{5}{6}", false},              // repeated counts multiply
      {"(((((((((a+)+)+)+)+)+)+)+)+)+", false}, // each + is two copies
      {"^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$", true},
      {"[0-9a-f]{64}", true},
  };
  for (const auto &c : cases) {
    Expectation e;
    std::string error;
    bool ok =
        ParseExpectation((std::string("N~=") + c.regex).c_str(), &e, &error);
    EXPECT_EQ(ok, c.accepted) << c.regex << ": " << error;
    if (!c.accepted) {
      EXPECT_NE(error.find("expression refused"), std::string::npos) << error;
      EXPECT_EQ(e.pattern, nullptr) << c.regex;
    }
    std::vector<Expectation> all = {e};
    FreeExpectations(&all);
  }
  // A pattern of many characters is refused by their count, never by the
  // depth of its parentheses, which the library's parser recurses into.
  std::string deep = std::string(20000, '(') + "a" + std::string(20000, ')');
  std::string why;
  EXPECT_FALSE(EreWithinBounds(deep.c_str(), &why));
  EXPECT_FALSE(EreWithinBounds(std::string(300, 'a').c_str(), &why));
  EXPECT_TRUE(EreWithinBounds(std::string(256, 'a').c_str(), &why));
}

// NAME is a field of the object or a string of the table; fields compare
// by kind, strings exactly.
TEST(CheckExpectations, FieldsByKindStringsExactly) {
  VersionFacts f =
      Facts({{"FileVersion", "1.2.3.4 (rtm)"}, {"ProductVersion", "1.2"}},
            0x04B00409u);
  f.fixed.dwFileFlags = 0x22;
  f.image.machine = 0x8664;
  f.image.kind = kKindPe32Plus;
  FileFacts file;
  file.path = "x.dll";
  file.examined = true;
  file.version = f;
  const struct {
    const char *expectation;
    bool found, ok;
    const char *actual;
  } cases[] = {
      {"FileVersion=1.2.3.4 (rtm)", true, true, "1.2.3.4 (rtm)"},
      {"FileVersion=1.2.3.4", true, false, "1.2.3.4 (rtm)"},
      {"fileversion=1.2.3.4 (rtm)", true, true, "1.2.3.4 (rtm)"},
      {"strings.FileVersion=1.2.3.4 (rtm)", true, true, "1.2.3.4 (rtm)"},
      {"FileVersion~=^1\\.2\\.", true, true, "1.2.3.4 (rtm)"},
      {"FileVersion~=^1\\.3", true, false, "1.2.3.4 (rtm)"},
      {"ProductVersion=1.2.0.0", true, false, "1.2"}, // a string: exactly
      {"file_version=1.2.3.4", true, true, "1.2.3.4"},
      {"product_version=1.2.3.4", true, true, "1.2.3.4"},
      {"version.product=1.2.0", true, true, "1.2"}, // dotted: a version
      {"version.file_suffix=(rtm)", true, true, "(rtm)"},
      {"language=1033", true, true, "1033"},
      {"language=0x409", true, true, "1033"},
      {"language=1031", true, false, "1033"},
      {"language.name=U.S. English", true, true, "U.S. English"},
      {"charset=1200", true, true, "1200"},
      // language and charset in each form the JSON shows them, the id
      // always the value reported
      {"language=0409", true, true, "1033"},
      {"language=0x0409", true, true, "1033"},
      {"language=U.S. English", true, true, "1033"},
      {"language=u.s. english", true, false, "1033"}, // names exactly
      {"language=409", true, false, "1033"},  // decimal: no leading zero
      {"language=1009", true, false, "1033"}, // decimal, not 0x1009
      {"language=0407", true, false, "1033"},
      {"language~=^04", true, true, "1033"}, // a regex tries every form
      {"language~=English", true, true, "1033"},
      {"language~=^9", true, false, "1033"},
      {"charset=04b0", true, true, "1200"},
      {"charset=04B0", true, true, "1200"},
      {"charset=Unicode", true, true, "1200"},
      {"charset=04e4", true, false, "1200"},
      {"machine=x64", true, true, "x64"},
      {"format=PE32+", true, true, "PE32+"},
      {"fixed.file_flags=0x22", true, true, "34"},
      {"fixed.file_flags=34", true, true, "34"},
      {"fixed.file_flags=0x2", true, false, "34"},
      {"status=ok", true, true, "ok"},
      {"Comments=x", false, false, ""},
      {"message=x", false, false, ""}, // null is no value
      {"fixed.nothing=1", false, false, ""},
  };
  for (const auto &c : cases) {
    std::vector<Expectation> e = {Expect(c.expectation)};
    std::vector<ExpectResult> results;
    CheckExpectations(e, file, &results);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].found, c.found) << c.expectation;
    EXPECT_EQ(results[0].ok, c.ok) << c.expectation;
    if (c.found) {
      EXPECT_EQ(results[0].actual, c.actual) << c.expectation;
    }
    FreeExpectations(&e);
  }
}

// A language or charset that did not hold says how the value was read and
// how the file's id is written; other fields, and regexes, say no more.
TEST(CheckReport, IdFieldsNameTheirForms) {
  const struct {
    const char *expectation;
    const char *actual;
    const char *text;
  } cases[] = {
      {"language=1009", "1033",
       "language is \"1033\", expected \"1009\"; \"1009\" is read as the "
       "decimal ID 1009, and this language is 1033, 0x409, 0409 or "
       "\"U.S. English\""},
      {"language=Deutsch", "1031",
       "language is \"1031\", expected \"Deutsch\"; \"Deutsch\" is read as a "
       "name, and this language is 1031, 0x407, 0407 or \"German\""},
      {"charset=04E4", "1200",
       "charset is \"1200\", expected \"04E4\"; \"04E4\" is read as the hex "
       "ID 04e4, and this charset is 1200, 0x4b0, 04b0 or \"Unicode\""},
      {"language=1", "2048", // no name for the system default
       "language is \"2048\", expected \"1\"; \"1\" is read as the decimal "
       "ID 1, and this language is 2048, 0x800, 0800"},
      {"language~=^x", "1033",
       "language is \"1033\", expected to match \"^x\""},
      {"ProductName=x",
       "a\xE2\x80\xAE"
       "b\x1b", // bidi and ESC escaped
       "ProductName is \"a\\u202eb\\u001b\", expected \"x\""},
      {"fixed.file_flags=1", "34",
       "fixed.file_flags is \"34\", expected \"1\""},
  };
  for (const auto &c : cases) {
    std::vector<Expectation> e = {Expect(c.expectation)};
    ExpectResult r = {true, c.actual, false};
    EXPECT_EQ(ExpectFailureText(e[0], r), c.text);
    FreeExpectations(&e);
  }
  // A finding's line escapes them in the values its message quotes.
  LintFinding f = {13, kLintWarning, "ProductName \"a\xE2\x80\xAE\" is odd"};
  EXPECT_EQ(LintFindingText(f),
            "QV013 warning: ProductName \"a\\u202e\" is odd");
}

TEST(CheckReport, LinesAndMembers) {
  std::vector<Expectation> e = {Expect("FileVersion=2.0"),
                                Expect("ProductName~=^Q"),
                                Expect("Comments=x")};
  std::vector<ExpectResult> results = {
      {true, "1.0\n", false}, {true, "Quelvo", true}, {false, "", false}};
  EXPECT_EQ(ExpectFailureText(e[0], results[0]),
            "FileVersion is \"1.0\\n\", expected \"2.0\"");
  EXPECT_EQ(ExpectFailureText(e[1], results[1]),
            "ProductName is \"Quelvo\", expected to match \"^Q\"");
  EXPECT_EQ(ExpectFailureText(e[2], results[2]),
            "has no Comments, expected \"x\"");
  std::string object = "{\"path\":\"x\"}";
  AppendExpectMember(&object, e, &results);
  std::vector<LintFinding> findings = {{13, kLintWarning, "m \"q\""}};
  AppendLintMember(&object, &findings);
  EXPECT_EQ(object,
            "{\"path\":\"x\",\"expect\":["
            "{\"name\":\"FileVersion\",\"expected\":\"2.0\",\"regex\":false,"
            "\"actual\":\"1.0\\n\",\"ok\":false},"
            "{\"name\":\"ProductName\",\"expected\":\"^Q\",\"regex\":true,"
            "\"actual\":\"Quelvo\",\"ok\":true},"
            "{\"name\":\"Comments\",\"expected\":\"x\",\"regex\":false,"
            "\"actual\":null,\"ok\":false}],"
            "\"lint\":[{\"rule\":\"QV013\",\"severity\":\"warning\","
            "\"message\":\"m \\\"q\\\"\"}]}");
  EXPECT_EQ(LintFindingText(findings[0]), "QV013 warning: m \"q\"");
  object = "{\"path\":\"x\"}";
  AppendExpectMember(&object, e, nullptr);
  AppendLintMember(&object, nullptr);
  EXPECT_EQ(object, "{\"path\":\"x\",\"expect\":null,\"lint\":null}");
  FreeExpectations(&e);
}

} // namespace
