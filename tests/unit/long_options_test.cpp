// The long options: how they are recognised, what --json exits with, and
// the order and limits of the recursive walk.
#include <sys/stat.h>
#include <unistd.h>

#include "driver.h"
#include "names.h"
#include "options.h"
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
  // A file without version information is an answer; an argument that
  // matched nothing is a failure.
  const struct {
    const char *file;
    int status;
    const char *word;
  } cases[] = {
      {"nosuch.dll", 1, "not-found"},
      {"nover.dll", 0, "no-version"},
      {"notrans.dll", 0, "no-translation"},
      {"nocompany.dll", 0, "no-company-name"},
  };
  for (const auto &c : cases) {
    for (const char *form : {"--json", "--csv"}) {
      RunResult r = RunWith({form, Fixture("basic.dll"), Fixture(c.file)});
      EXPECT_EQ(r.status, c.status) << form << " " << c.file;
      EXPECT_NE(r.output.find(c.word), std::string::npos) << r.output;
      long lines = std::count(r.output.begin(), r.output.end(), '\n');
      EXPECT_EQ(lines, form[2] == 'c' ? 3 : 2) << form << " " << c.file;
    }
  }
  ScratchDir dir;
  dir.AddDir("only.dll");
  // A folder without --recursive, named or matched by a pattern, is said
  // to be one: an answer, not a failure. Nothing a pattern matched
  // vanishes from the machine forms.
  RunResult matched =
      RunWith({"--json", "--fields", "path,status", dir.path() + "/*.dll"});
  EXPECT_EQ(matched.output, "{\"path\":\"" + dir.path() +
                                "/only.dll\",\"status\":\"folder\"}\n");
  EXPECT_EQ(matched.status, 0);
  RunResult folder = RunWith({"--json", dir.path() + "/only.dll"});
  EXPECT_EQ(folder.status, 0);
  EXPECT_NE(folder.output.find("\"status\":\"folder\",\"message\":\"" +
                               dir.path() +
                               "/only.dll is a folder; --recursive walks "
                               "every file below it.\""),
            std::string::npos)
      << folder.output;
  // The text report keeps its silence about folders.
  EXPECT_EQ(RunWith({dir.path() + "/only.dll"}).output.find("folder"),
            std::string::npos);
}

// The JSON message says what is missing where the text report has its one
// line for every stage.
TEST(RunQuelvo, JsonMessagesSayWhatIsMissing) {
  const struct {
    const char *file;
    const char *tail;
  } cases[] = {
      {"nover.dll", " has no version resource."},
      {"notrans.dll", " has no \\\\VarFileInfo\\\\Translation value."},
      {"nocompany.dll", " has no CompanyName in its string table 040904b0."},
      {"nodesc.dll", " has no FileDescription in its string table 040904b0."},
      {"noverstr.dll", " has no FileVersion in its string table 040904b0."},
      {"secondtrans.dll", " has no string table 040704e4."},
  };
  for (const auto &c : cases) {
    std::string path = Fixture(c.file);
    RunResult r = RunWith({"--json", path});
    EXPECT_NE(r.output.find("\"message\":\"" + path + c.tail + "\""),
              std::string::npos)
        << r.output;
  }
}

// In the opt-in modes "--" ends every option: -d, -? and -v after it are
// files. Without a long option, the classic command line is unchanged.
TEST(RunQuelvo, DoubleDashEndsEveryOptionInTheOptInModes) {
  ScratchDir dir;
  std::string dll = ReadFile(Fixture("basic.dll"));
  dir.Add("-vendor.dll", dll);
  dir.Add("-d", dll);
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  RunResult star = RunWith({"--json", "--", "-vendor.dll"});
  RunResult d = RunWith({"--json", "--", "-d", "-v"});
  RunResult dd = RunWith({"--all", "-d", "--", "-vendor.dll"});
  RunResult classic = RunWith({"--", "-d", "-vendor.dll"});
  ASSERT_EQ(chdir(here), 0);
  EXPECT_EQ(star.status, 0);
  EXPECT_EQ(star.output.find("{\"path\":\"-vendor.dll\",\"status\":\"ok\""), 0u)
      << star.output;
  EXPECT_EQ(d.output.find("{\"path\":\"-d\",\"status\":\"ok\""), 0u)
      << d.output;
  EXPECT_NE(d.output.find("{\"path\":\"-v\",\"status\":\"not-found\""),
            std::string::npos);
  EXPECT_EQ(d.status, 1);
  EXPECT_NE(dd.output.find("Program Name:      -vendor.dll"),
            std::string::npos);
  EXPECT_NE(dd.output.find("Version Number:"), std::string::npos);
  // "--" without a long option is consumed, and -d is the option.
  EXPECT_NE(classic.output.find("Program Name:      -vendor.dll"),
            std::string::npos);
  EXPECT_NE(classic.output.find("Version Number:"), std::string::npos);
}

// --fields chooses and orders the keys of --json and the columns of --csv;
// the CSV header names them; a bad list is a usage error.
TEST(RunQuelvo, FieldsChooseKeysAndColumns) {
  std::string basic = Fixture("basic.dll");
  RunResult json =
      RunWith({"--json", "--fields",
               "status,ProductName,fixed.file_flags,Nothing", basic});
  EXPECT_EQ(json.output,
            "{\"status\":\"ok\",\"ProductName\":\"Quelvo "
            "Fixtures\",\"fixed.file_flags\":0,\"Nothing\":null}\n");
  RunResult csv = RunWith({"--csv", "--fields", "version.file,CompanyName",
                           basic, Fixture("nosuch.dll")});
  EXPECT_EQ(csv.output, "version.file,CompanyName\r\n1.2.3.4,Quelvo Test "
                        "Co\r\n,\r\n");
  EXPECT_EQ(csv.status, 1);
  for (const std::vector<std::string> &bad :
       std::vector<std::vector<std::string>>{
           {"--json", "--fields", "a,,b", basic},
           {"--json", "--fields", "path,nothing", basic},
           {"--csv", "--fields", "status,path,status", basic},
           {"--json", "--fields", "fixed.nothing", basic},
           {"--json", "--fields"},
           {"--fields", "path", basic},
           {"--json", "--csv", basic},
           {"--json"}}) {
    testing::internal::CaptureStderr();
    RunResult r = RunWith(bad);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.status, 2) << bad[0] << " " << bad[1];
    EXPECT_EQ(r.output, "");
  }
}

// After a long option, a word that looks like one and is none, or stands
// among the files, is a usage error that names the option probably meant;
// so is a --fields list with a name no object has or one named twice.
// Without a long option first, such words stay patterns.
TEST(RunQuelvo, OptionsGotWrongAreUsageErrors) {
  std::string basic = Fixture("basic.dll");
  const struct {
    std::vector<std::string> args;
    const char *said; // on standard error; null: the run goes on
  } cases[] = {
      {{"--json", "--jsn", basic},
       "unknown option --jsn; did you mean --json?"},
      {{"--hash", "--HELP"}, "unknown option --HELP; did you mean --help?"},
      {{"--json", "--sig", basic},
       "unknown option --sig; did you mean --signature?"},
      {{"--json", "--json=1", basic},
       "unknown option --json=1; did you mean --json?"},
      {{"--json", "--xyzzy-plugh", basic},
       "unknown option --xyzzy-plugh (quelvo --help lists them)"},
      {{"--json", basic, "--hash"}, "--hash is out of place"},
      {{"--json", "-d", "--all", basic}, "--all is out of place"},
      {{"--all", basic, "--jsn"}, "unknown option --jsn; did you mean"},
      {{"--json", "--fields", "path,stauts", basic},
       "--fields: unknown name stauts; did you mean status?"},
      {{"--csv", "--fields", "fixed.file_flag", basic},
       "unknown name fixed.file_flag; did you mean fixed.file_flags?"},
      {{"--json", "--fields", "path,ProductName,path", basic},
       "--fields names path twice"},
      // "--" ends the options: what follows is a file, found or not.
      {{"--json", "--", "--hash"}, nullptr},
      {{"--all", "-d", "--", "--jsn"}, nullptr},
      {{"--json", "-?", "--jsn"}, nullptr},
      {{"--jsn", basic}, nullptr},
      {{"-d", "--json", basic}, nullptr},
      {{"--json", "--fields", "path,Custom,strings.lower", basic}, nullptr},
  };
  for (const auto &c : cases) {
    std::string line;
    for (const std::string &a : c.args)
      line += a + " ";
    testing::internal::CaptureStderr();
    RunResult r = RunWith(c.args);
    std::string errors = testing::internal::GetCapturedStderr();
    if (c.said == nullptr) {
      EXPECT_NE(r.status, 2) << line << errors;
      EXPECT_EQ(errors, "") << line;
      continue;
    }
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_EQ(r.output, "") << line;
    EXPECT_NE(errors.find(c.said), std::string::npos) << line << errors;
  }
}

// The bash completion offers for --fields exactly the names the program
// takes, in its order; and every one of them is taken.
TEST(FieldNames, TheCompletionOffersTheProgramsList) {
  std::string script = ReadFile(QUELVO_COMPLETION);
  const std::string start = "_quelvo_field_names='";
  size_t from = script.find(start);
  ASSERT_NE(from, std::string::npos);
  from += start.size();
  size_t to = script.find('\'', from);
  ASSERT_NE(to, std::string::npos);
  std::vector<std::string> offered;
  std::string word;
  for (size_t i = from; i <= to; ++i) {
    char c = script[i];
    if (c == ' ' || c == '\n' || c == '\'') {
      if (!word.empty())
        offered.push_back(word);
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  std::vector<std::string> taken(kFieldNames, kFieldNames + kFieldNameCount);
  EXPECT_EQ(offered, taken);
  for (const std::string &name : taken)
    EXPECT_TRUE(IsKnownField(name)) << name;
}

// What --fields takes beyond the list, and the names nearest to a slip.
TEST(FieldNames, StringsAndSlips) {
  const struct {
    const char *field;
    bool known;
  } fields[] = {
      {"ProductName", true},       {"MyBuildTag", true},
      {"strings.lower", true},     {"strings.", false},
      {"nothing", false},          {"fixed.nothing", false},
      {"Fixed.file_flags", false}, {"status.x", false},
  };
  for (const auto &f : fields)
    EXPECT_EQ(IsKnownField(f.field), f.known) << f.field;
  const struct {
    const char *word;
    const char *nearest; // null: none near enough
  } slips[] = {
      {"stauts", "status"},           {"fixed.file_flag", "fixed.file_flags"},
      {"ProductNmae", "ProductName"}, {"version.fil", "version.file"},
      {"zzzzzzzz", nullptr},
  };
  for (const auto &s : slips) {
    const char *got = NearestName(s.word, kFieldNames, kFieldNameCount);
    EXPECT_STREQ(got, s.nearest) << s.word;
  }
}

// With --json, a command line that names no file, -d or not, writes no
// JSON and gives the usage on standard error.
TEST(RunQuelvo, JsonWithoutAFileGivesTheUsageOnStandardError) {
  const std::vector<std::string> lines[] = {
      {"--json"},
      {"--json", "-d"},
      {"--json", "--recursive", "--all", "-d"},
      {"--csv", "-d", "--"},
  };
  for (const std::vector<std::string> &args : lines) {
    std::string line;
    for (const std::string &a : args)
      line += a + " ";
    testing::internal::CaptureStderr();
    RunResult r = RunWith(args);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.output, "") << line;
    EXPECT_EQ(r.status, 2) << line;
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
