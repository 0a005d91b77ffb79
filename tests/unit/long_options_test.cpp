// The long options: how they are recognised, what --json exits with, and
// the order and limits of the recursive walk.
#include <sys/stat.h>
#include <unistd.h>

#include "driver.h"
#include "options.h"
#include "run_support.h"
#include "test_support.h"

namespace {

TEST(ParseLongOptions, ExactWordsAtTheStartOnly) {
  struct Case {
    std::vector<std::string> args;
    int first;         // the first word of the classic command line
    const char *flags; // j r a u h v for the options set
  } cases[] = {
      {{}, 1, ""},
      {{"x.dll"}, 1, ""},
      {{"--json", "x.dll"}, 2, "j"},
      {{"--json", "--recursive", "--all", "--utf8", "-d", "x"}, 5, "jrau"},
      {{"--utf8", "--utf8"}, 3, "u"},
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
  for (const char *word : {"--json", "--recursive", "--all", "--utf8", "--help",
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

} // namespace
