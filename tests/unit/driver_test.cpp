#include "driver.h"
#include "run_support.h"
#include "test_support.h"

namespace {

std::string Status(int code, const char *path) {
  return CaptureOutput([&] { ReportStatus(code, path); });
}

const char kBanner[] =
    "\nKorvane  Win32 Executable Version Checker 4.02 11/17/95 14:59\n";

TEST(ReportStatus, EveryCodeHasItsMessage) {
  EXPECT_EQ(Status(-1, "f.dll"),
            "\nOut of memory while processing file\nf.dll.");
  EXPECT_EQ(Status(100, "f.dll"), "\nf.dll is not a Win32 executable.");
  EXPECT_EQ(Status(112, "f.dll"), "\nf.dll is not a Win32 executable.");
  for (int code = 101; code <= 106; ++code)
    EXPECT_EQ(Status(code, "f.dll"),
              "\nCall to Microsoft version library VER.DLL failed -- " +
                  std::to_string(code) + ":\nf.dll.");
  EXPECT_EQ(Status(108, nullptr),
            "\nusage:\tquelvo filename(s)"
            "\n\tYou can use wildcards and multiple filenames.");
  EXPECT_EQ(Status(109, nullptr),
            "\nNo file specified.\nusage:\tquelvo filename(s)"
            "\n\tYou can use wildcards and multiple filenames.");
  EXPECT_EQ(Status(110, "f.dll"),
            "\nUnable to read file f.dll.\nf.dll is not an executable file.");
  EXPECT_EQ(Status(111, "f.dll"), "\nf.dll is not an executable file.");
  EXPECT_EQ(Status(113, "f.dll"), "\nUnable to open file f.dll.");
  EXPECT_EQ(Status(114, "*.xyz"), "\n*.xyz was not found");
  EXPECT_EQ(Status(107, "f.dll"), "\nInternal Error: f.dll -- 107.");
  EXPECT_EQ(Status(5, "f.dll"), "\nInternal Error: f.dll -- 5.");
  EXPECT_EQ(Status(200, "f.dll"), "\nInternal Error: f.dll -- 200.");
  EXPECT_EQ(Status(0, "f.dll"), "\nInternal Error: f.dll -- 0.");
}

// A path is printed with its control bytes as '?', in every message and in
// the report, so that no name can forge a line or drive the terminal;
// bytes from 0x80 up (UTF-8 names) are printed as they are.
TEST(ReportStatus, ControlBytesOfPathsPrintAsQuestionMarks) {
  EXPECT_EQ(Status(113, "a\tb\nc\x1b[2J\x7f\x01\x1f d\xc3\xa9\xff"),
            "\nUnable to open file a?b?c?[2J??? d\xc3\xa9\xff.");
  EXPECT_EQ(Status(110, "x\ry"),
            "\nUnable to read file x?y.\nx?y is not an executable file.");
  EXPECT_EQ(Status(104, "\n"),
            "\nCall to Microsoft version library VER.DLL failed -- 104:\n?.");
  EXPECT_EQ(Status(5, "\b"), "\nInternal Error: ? -- 5.");
}

TEST(RunQuelvo, ControlBytesOfNamesPrintAsQuestionMarks) {
  ScratchDir dir;
  const std::string image = ReadFile(Fixture("basic.dll"));
  dir.Add("nl\nCompany Name:      Evil Corp.dll", "text");
  dir.Add("esc\x1b[31m.dll", image);
  dir.Add("caf\xc3\xa9.dll", image);
  dir.Add("del\x7f.dll", image);
  RunResult r = RunWith({dir.path() + "/*", dir.path() + "/\x01*",
                         "\x1b" + std::string(300, 'p')});
  const std::string at = dir.path() + "/";
  for (const std::string &line :
       {"\n" + at +
            "nl?Company Name:      Evil Corp.dll does not contain "
            "version information.\n",
        "\nProgram Name:      " + at + "esc?[31m.dll\n",
        "\nProgram Name:      " + at + "caf\xc3\xa9.dll\n",
        "\nProgram Name:      " + at + "del?.dll\n",
        "\n" + at + "?* was not found",
        "\n?" + std::string(300, 'p') + " is longer than 259 characters"})
    EXPECT_NE(r.output.find(line), std::string::npos) << line;
  EXPECT_EQ(r.output.find_first_of("\x01\x1b\x7f"), std::string::npos);
  EXPECT_EQ(r.output.find("\nCompany Name:      Evil"), std::string::npos);
}

TEST(RunQuelvo, OptionsAndExitStatuses) {
  RunResult none = RunWith({});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.output, Status(109, nullptr));
  RunResult help = RunWith({"-?", "ignored.dll"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output, Status(108, nullptr) + "\n");
  for (const char *v : {"-v", "-V", "-ver", "-VER", "-vanything"}) {
    RunResult version = RunWith({v, Fixture("basic.dll")});
    EXPECT_EQ(version.status, -1) << v;
    EXPECT_EQ(version.output.rfind(kBanner, 0), 0u);
    EXPECT_EQ(version.output.find("Program Name"), std::string::npos);
  }
  RunResult detailedOnly = RunWith({"-d"});
  EXPECT_EQ(detailedOnly.status, 0);
  EXPECT_EQ(detailedOnly.output,
            std::string(kBanner) +
                "Copyright (C) Korvane 1995. All rights reserved.\n\n");
}

TEST(RunQuelvo, PrefixesEndAtBackslashColonAndSlash) {
  std::string dir = QUELVO_FIXTURES;
  RunResult r = RunWith({dir + "/app3?.exe", dir + "\\APP64.EXE", "-d"});
  EXPECT_NE(r.output.find("\nProgram Name:      " + dir + "/app32.exe\n"),
            std::string::npos);
  EXPECT_NE(r.output.find("\nProgram Name:      " + dir + "\\app64.exe\n"),
            std::string::npos);
  EXPECT_NE(r.output.find("\n-d was not found"), std::string::npos);
  EXPECT_EQ(r.output.find("Version Number"), std::string::npos);
  EXPECT_EQ(r.status, 0);
}

// A colon inside a Linux name is part of the name; only a drive form at
// the start ends the directory prefix there.
TEST(RunQuelvo, AColonInsideANameDoesNotEndThePrefix) {
  ScratchDir dir;
  const std::string image = ReadFile(Fixture("basic.dll"));
  dir.Add("ab:c.dll", image);
  RunResult r = RunWith({dir.path() + "/ab:c.dll", dir.path() + "\\AB:C.DLL",
                         dir.path() + "/a?:c.dll", "c:ab:c.dll"});
  for (const char *sep : {"/", "\\", "/"}) {
    std::string line =
        "\nProgram Name:      " + dir.path() + sep + "ab:c.dll\n";
    size_t at = r.output.find(line);
    EXPECT_NE(at, std::string::npos) << sep;
    if (at != std::string::npos)
      r.output.erase(at, line.size());
  }
  EXPECT_EQ(r.output.find("Unable to open"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\nc:ab:c.dll was not found"), std::string::npos);
}

TEST(RunQuelvo, DirectoriesAreSilentAndMissingVersionsSaySo) {
  ScratchDir dir;
  dir.AddDir("sub.dll");
  dir.Add("text.dll", "just text");
  RunResult r = RunWith({dir.path() + "/*.dll"});
  EXPECT_EQ(r.output.substr(r.output.find("reserved.\n") + 10),
            "\n" + dir.path() +
                "/text.dll does not contain version "
                "information.\n\n");
}

TEST(RunQuelvo, PathsThatDoNotFitAreNamedNotCut) {
  ScratchDir dir;
  std::string longName(250, 'n');
  dir.Add(longName + ".dll", "x");
  RunResult r = RunWith({dir.path() + "/n*", std::string(300, 'p')});
  EXPECT_NE(r.output.find("\n" + dir.path() + "/" + longName +
                          ".dll is longer than 259 characters and was not "
                          "examined."),
            std::string::npos);
  EXPECT_NE(r.output.find("\n" + std::string(300, 'p') + " is longer than"),
            std::string::npos);
  EXPECT_EQ(r.status, 0);
}

// The '\\' that marks a directory in the list is no part of its path, and
// directories are passed over silently whatever their length.
TEST(RunQuelvo, LongDirectoryNamesArePassedOverSilently) {
  ScratchDir dir;
  dir.AddDir("ddd");
  std::string prefix = dir.path() + "/ddd/";
  dir.AddDir("ddd/" + std::string(259 - prefix.size(), 'a')); // 259 with '\\'
  dir.AddDir("ddd/" + std::string(255, 'b'));
  RunResult r = RunWith({prefix + "*"});
  EXPECT_EQ(r.output.substr(r.output.find("reserved.\n") + 10), "\n");
}

} // namespace

namespace {

// Every cut of a real program is reported, once, in one of the program's
// own words: a report, or the line saying there is no version information.
TEST(RunQuelvo, EveryTruncatedCopyOfAProgramEndsInAMessage) {
  ScratchDir dir;
  const std::string image = ReadFile(Fixture("app32.exe"));
  std::vector<std::string> names;
  for (size_t len = 0; len <= image.size(); len += 37) {
    char name[32];
    snprintf(name, sizeof name, "cut%05zu.exe", len);
    dir.Add(name, image.substr(0, len));
    names.push_back(name);
  }
  RunResult r = RunWith({dir.path() + "/cut*.exe"});
  EXPECT_EQ(r.status, 0);
  for (const std::string &name : names) {
    std::string path = dir.path() + "/" + name;
    size_t report = r.output.find("\nProgram Name:      " + path + "\n");
    size_t none =
        r.output.find("\n" + path + " does not contain version information.\n");
    EXPECT_TRUE(report != std::string::npos || none != std::string::npos)
        << name;
  }
  EXPECT_NE(r.output.find("Example Corp"), std::string::npos); // the whole one
}

} // namespace
