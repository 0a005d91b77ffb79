// The long options: how they are recognised, what --json exits with, and
// the order and limits of the recursive walk.
#include <sys/stat.h>
#include <unistd.h>

#include "block_builder.h"
#include "driver.h"
#include "options.h"
#include "report.h"
#include "run_support.h"
#include "test_support.h"

namespace {

TEST(ParseLongOptions, ExactWordsAtTheStartOnly) {
  struct Case {
    std::vector<std::string> args;
    int first;         // the first word of the classic command line
    const char *flags; // j r a u s h v for the options set
  } cases[] = {
      {{}, 1, ""},
      {{"x.dll"}, 1, ""},
      {{"--json", "x.dll"}, 2, "j"},
      {{"--json", "--recursive", "--all", "--utf8", "-d", "x"}, 5, "jrau"},
      {{"--utf8", "--utf8"}, 3, "u"},
      {{"--hash", "--json", "x"}, 3, "js"},
      {{"--json", "--", "--hash"}, 3, "j"},
      {{"--HASH"}, 1, ""},
      {{"--", "--json"}, 2, ""},
      {{"--all", "--", "--", "x"}, 3, "a"},
      {{"-d", "--json"}, 1, ""},
      {{"--jsn", "--json"}, 1, ""},
      {{"--d"}, 1, ""},
      {{"--HELP"}, 1, ""},
      {{"--json=1"}, 1, ""},
      {{"--help", "--json"}, 2, "h"},
      {{"--json", "--version", "--help"}, 3, "jv"},
      {{"---"}, 1, ""},
      {{"-"}, 1, ""},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "quelvo");
    std::vector<char *> argv;
    for (std::string &a : args)
      argv.push_back(&a[0]);
    RunOptions o;
    int first =
        ParseLongOptions(static_cast<int>(argv.size()), argv.data(), &o);
    std::string flags;
    if (o.json)
      flags += 'j';
    if (o.recursive)
      flags += 'r';
    if (o.allStrings)
      flags += 'a';
    if (o.utf8)
      flags += 'u';
    if (o.hash)
      flags += 's';
    if (o.help)
      flags += 'h';
    if (o.version)
      flags += 'v';
    std::string line;
    for (const std::string &a : c.args)
      line += a + " ";
    EXPECT_EQ(first, c.first) << line;
    EXPECT_EQ(flags, c.flags) << line;
  }
}

TEST(RunQuelvo, HelpAndVersionStopTheRun) {
  RunResult help = RunWith({"--help", "x.dll"});
  EXPECT_EQ(help.status, 0);
  for (const char *word :
       {"--json", "--recursive", "--all", "--utf8", "--hash", "--help",
        "--version", " -d ", " -? ", " -v ", " -- "})
    EXPECT_NE(help.output.find(word), std::string::npos) << word;
  EXPECT_EQ(help.output.find("Korvane"), std::string::npos);
  RunResult version = RunWith({"--json", "--version", "x.dll"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, std::string("quelvo ") + QUELVO_VERSION + "\n");
}

// Zero only when every argument matched and every match was reported in
// full; the output covers everything either way.
TEST(RunQuelvo, JsonExitStatusSaysWhetherAnythingFailed) {
  RunResult ok =
      RunWith({"--json", Fixture("basic.dll"), Fixture("app64.exe")});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(std::count(ok.output.begin(), ok.output.end(), '\n'), 2);
  EXPECT_EQ(ok.output.find("Korvane"), std::string::npos);
  EXPECT_EQ(ok.output.back(), '\n');
  for (const char *failing : {"nosuch.dll", "nover.dll", "nocompany.dll"}) {
    RunResult r = RunWith({"--json", Fixture("basic.dll"), Fixture(failing)});
    EXPECT_EQ(r.status, 1) << failing;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 2) << failing;
  }
  ScratchDir dir;
  dir.AddDir("only.dll");
  // A folder matched without --recursive is passed over, as ever.
  EXPECT_EQ(RunWith({"--json", dir.path() + "/*.dll"}).output, "");
  EXPECT_EQ(RunWith({"--json", dir.path() + "/*.dll"}).status, 0);
  RunResult none = RunWith({"--json"});
  EXPECT_EQ(none.output, "");
  EXPECT_EQ(none.status, 0);
}

// With --json, a command line that names no file, -d or not, writes no
// JSON and gives the usage on standard error.
TEST(RunQuelvo, JsonWithoutAFileGivesTheUsageOnStandardError) {
  const std::vector<std::string> lines[] = {
      {"--json"},
      {"--json", "-d"},
      {"--json", "--recursive", "--all", "-d"},
      {"--json", "--", "-d"},
  };
  for (const std::vector<std::string> &args : lines) {
    std::string line;
    for (const std::string &a : args)
      line += a + " ";
    testing::internal::CaptureStderr();
    RunResult r = RunWith(args);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.output, "") << line;
    EXPECT_EQ(r.status, 0) << line;
    EXPECT_EQ(errors, "No file specified.\nusage:\tquelvo filename(s)"
                      "\n\tYou can use wildcards and multiple filenames.\n")
        << line;
  }
}

// The classic words after the long options mean what they always mean.
TEST(RunQuelvo, TheRestIsAClassicCommandLine) {
  RunResult usage = RunWith({"--json", "-?"});
  EXPECT_EQ(usage.status, 0);
  EXPECT_EQ(usage.output.rfind("\nusage:\tquelvo filename(s)", 0), 0u);
  RunResult banner = RunWith({"--json", "-v"});
  EXPECT_EQ(banner.status, -1);
  RunResult none = RunWith({"--all"});
  EXPECT_EQ(none.output.rfind("\nNo file specified.", 0), 0u);
  RunResult pattern = RunWith({"--", "--json"});
  EXPECT_NE(pattern.output.find("\n--json was not found"), std::string::npos);
  EXPECT_EQ(pattern.status, 0);
}

// Depth first: a folder's own matches before its subfolders, subfolders in
// delivery order, links to folders not followed.
TEST(RunQuelvo, RecursionIsDepthFirstAndLeavesLinksAlone) {
  ScratchDir dir;
  std::string dll = ReadFile(Fixture("basic.dll"));
  dir.AddDir("b");
  dir.AddDir("b/deep");
  dir.AddDir("a");
  dir.Add("z.dll", dll);
  dir.Add("b/deep/y.dll", dll);
  dir.Add("b/x.dll", dll);
  dir.Add("a/w.dll", dll);
  ASSERT_EQ(symlink("b", (dir.path() + "/link").c_str()), 0);
  RunResult r = RunWith({"--json", "--recursive", dir.path() + "/*.dll"});
  EXPECT_EQ(r.status, 0);
  std::string p = "{\"path\":\"" + dir.path();
  EXPECT_EQ(r.output.find(p + "/z.dll\""), 0u);
  size_t w = r.output.find(p + "/a/w.dll\"");
  size_t x = r.output.find(p + "/b/x.dll\"");
  size_t y = r.output.find(p + "/b/deep/y.dll\"");
  EXPECT_TRUE(w != std::string::npos && w < x && x < y &&
              y != std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("/link/"), std::string::npos);
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 4);
  // A folder named alone, spelt with its trailing separator or without.
  for (std::string folder : {dir.path() + "/b", dir.path() + "/b/"}) {
    RunResult f = RunWith({"--json", "--recursive", folder});
    EXPECT_EQ(f.output.find(p + "/b/x.dll\""), 0u) << folder;
    EXPECT_NE(f.output.find(p + "/b/deep/y.dll\""), std::string::npos);
  }
  // Named alone, a link to a folder is walked: only links met on the way
  // are left alone.
  RunResult link = RunWith({"--json", "--recursive", dir.path() + "/link"});
  EXPECT_EQ(link.output.find(p + "/link/x.dll\""), 0u);
}

// Composed paths keep the 259-character limit: a folder whose pattern
// would not fit is named and not entered.
TEST(RunQuelvo, RecursionKeepsThePathLimit) {
  ScratchDir dir;
  std::string name(200, 'd');
  dir.AddDir(name);
  dir.AddDir(name + "/" + std::string(40, 'e'));
  dir.Add(name + "/" + std::string(40, 'e') + "/x.dll",
          ReadFile(Fixture("basic.dll")));
  std::string pattern = dir.path() + "/*.dll";
  RunResult r = RunWith({"--recursive", pattern});
  std::string folder = dir.path() + "/" + name + "/" + std::string(40, 'e');
  if (folder.size() + 7 < 260)
    GTEST_SKIP() << "the scratch folder's path is too short for this case";
  EXPECT_NE(r.output.find("\n" + folder +
                          "/*.dll is longer than 259 "
                          "characters and was not examined."),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("was not found"), std::string::npos);
}

// Folders that cannot be read are named and the walk goes on. Root reads
// everything, so the case needs an ordinary user.
TEST(RunQuelvo, AnUnreadableFolderIsNamedAndTheRunGoesOn) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads every folder (tests/json covers this as "
                    "an ordinary user)";
  ScratchDir dir;
  std::string dll = ReadFile(Fixture("basic.dll"));
  dir.AddDir("locked");
  dir.Add("locked/x.dll", dll);
  dir.AddDir("open");
  dir.Add("open/y.dll", dll);
  ASSERT_EQ(chmod((dir.path() + "/locked").c_str(), 0), 0);
  RunResult text = RunWith({"--recursive", dir.path() + "/*.dll"});
  RunResult json = RunWith({"--json", "--recursive", dir.path() + "/*.dll"});
  chmod((dir.path() + "/locked").c_str(), 0755);
  EXPECT_NE(
      text.output.find("\nUnable to read folder " + dir.path() + "/locked."),
      std::string::npos);
  EXPECT_NE(text.output.find(dir.path() + "/open/y.dll"), std::string::npos);
  EXPECT_NE(json.output.find("\"status\":\"unreadable-folder\""),
            std::string::npos);
  EXPECT_EQ(json.status, 1);
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
