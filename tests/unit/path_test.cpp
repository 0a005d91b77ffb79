#include <string.h>

#include "platform.h"
#include "posix_path.h"
#include "test_support.h"
#include "wildcard.h"

namespace {

std::string Normal(const char *path, bool stripLast = true) {
  char out[kHostPathMax];
  if (NormalisePath(path, stripLast, out, sizeof out) != 0)
    return "<fail>";
  return out;
}

std::string Rewrite(const char *pattern) {
  char out[64];
  RewritePattern(pattern, out, sizeof out);
  return out;
}

bool Matches(const char *pattern, const char *name) {
  char expression[64];
  RewritePattern(pattern, expression, sizeof expression);
  return MatchExpression(expression, name);
}

// Every name a search for pattern delivers, in delivery order.
std::vector<std::string> Search(const std::string &pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE)
    return names;
  do
    names.push_back(fd.cFileName);
  while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

TEST(NormalisePath, BothSeparatorsDotsAndTrailingDotsLikeWindows) {
  EXPECT_EQ(Normal("/a/b/c"), "/a/b/c");
  EXPECT_EQ(Normal("\\a\\\\b//c"), "/a/b/c");
  EXPECT_EQ(Normal("/a/./b/../c"), "/a/c");
  EXPECT_EQ(Normal("/../../x"), "/x");         // ".." stops at the root
  EXPECT_EQ(Normal("/a/nosuch/../b"), "/a/b"); // lexical, not on disk
  EXPECT_EQ(Normal("/a/b. . ."), "/a/b");
  EXPECT_EQ(Normal("/a./b"), "/a/b");    // a directory loses one period
  EXPECT_EQ(Normal("/a../b"), "/a../b"); // but only one
  EXPECT_EQ(Normal("/a/b.", false), "/a/b.");
  EXPECT_EQ(Normal("c:\\windows"), "<fail>");
  EXPECT_EQ(Normal("C:"), "<fail>");
  EXPECT_EQ(Normal(""), "<fail>");
  char out[kHostPathMax];
  // A last component of dots and spaces trims to nothing: the path names
  // its directory, as if it ended in a separator.
  EXPECT_EQ(NormalisePath("/a/...", true, out, sizeof out), 1);
  EXPECT_STREQ(out, "/a");
  EXPECT_EQ(NormalisePath("/a/.. ", true, out, sizeof out), 1);
  EXPECT_EQ(NormalisePath("/a/..", true, out, sizeof out), 0);
  // Relative paths stay relative, so that the working directory's depth
  // plays no part; ".." above it stays at the front.
  EXPECT_EQ(Normal("."), ".");
  EXPECT_EQ(Normal("a\\b/"), "a/b");
  EXPECT_EQ(Normal("a/.."), ".");
  EXPECT_EQ(Normal("a/../.."), "..");
  EXPECT_EQ(Normal("../a/../../b."), "../../b");
  EXPECT_EQ(Normal("./x./y"), "x/y");
  char tiny[8];
  EXPECT_EQ(NormalisePath("/abcdefghij", false, tiny, sizeof tiny), -1);
}

TEST(Wildcards, PatternRewriteAsTheSearchDoesIt) {
  EXPECT_EQ(Rewrite("*.*"), "*");
  EXPECT_EQ(Rewrite("*."), "<");
  EXPECT_EQ(Rewrite("*.*."), "*");
  EXPECT_EQ(Rewrite("a*.*"), "a<\"*");
  EXPECT_EQ(Rewrite("?.?"), ">\">");
  EXPECT_EQ(Rewrite("f*.f*"), "f<.f*");
  EXPECT_EQ(Rewrite("?."), ">");
  EXPECT_EQ(Rewrite("*.dll"), "<.dll");
  EXPECT_TRUE(HasWildcards("a?"));
  EXPECT_FALSE(HasWildcards("[ab].dll")); // brackets are plain characters
}

TEST(Wildcards, MatchingRulesUsersTripOver) {
  EXPECT_TRUE(Matches("*.*", "README")); // no dot needed
  EXPECT_TRUE(Matches("*.", "README"));  // "*." means no extension
  EXPECT_FALSE(Matches("*.", "a.txt"));
  EXPECT_TRUE(Matches("readme.*", "readme"));
  EXPECT_TRUE(Matches("a?.txt", "a.txt")); // '?' may match nothing
  EXPECT_TRUE(Matches("file?", "file"));
  EXPECT_TRUE(Matches("file?", "file1"));
  EXPECT_FALSE(Matches("file?", "file12"));
  EXPECT_FALSE(Matches("???", "a.b"));
  EXPECT_TRUE(Matches("*.DLL", "kernel32.dll")); // ASCII case folded
  EXPECT_TRUE(Matches("*.exe", "a.b.exe"));
  EXPECT_FALSE(Matches("*.exe", "a.exe.bak"));
  EXPECT_TRUE(Matches("*.htm", "index.htm"));
  EXPECT_FALSE(Matches("*.htm", "index.html")); // no 8.3 names here
  EXPECT_TRUE(Matches("*a*b*c", "xaxbxcxabc"));
  EXPECT_FALSE(Matches("x*", "\xC9x")); // high bytes never fold
  EXPECT_TRUE(Matches("\xC9*", "\xC9x"));
}

TEST(DirectorySearch, SeparatorsCaseAndDotsResolveLikeWindows) {
  ScratchDir dir;
  dir.AddDir("Sub");
  dir.Add("Sub/Lib.DLL");
  dir.Add("Sub/lib.txt");
  const std::string &root = dir.path();
  EXPECT_EQ(Search(root + "\\sub\\*.dll"), std::vector<std::string>{"Lib.DLL"});
  EXPECT_EQ(Search(root + "/SUB/LIB.dll"), std::vector<std::string>{"Lib.DLL"});
  EXPECT_EQ(Search(root + "/nosuch/../Sub/lib.dll."),
            std::vector<std::string>{"Lib.DLL"});
  EXPECT_EQ(Search(root + "/Sub/.."),
            std::vector<std::string>{root.substr(root.rfind('/') + 1)});
  EXPECT_EQ(Search(root + "/Sub./lib.dll"),
            std::vector<std::string>{"Lib.DLL"});
  EXPECT_TRUE(Search(root + "/Sub/...").empty());
  EXPECT_TRUE(Search(root + "/Sub/ .").empty());
  EXPECT_TRUE(Search(root + "/Sub/.. ").empty());
  EXPECT_TRUE(Search(" ").empty());
  EXPECT_TRUE(Search(root + "/Sub/").empty());
  EXPECT_TRUE(Search(root + "/Sub\\").empty());
  EXPECT_TRUE(Search("c:\\*.dll").empty());
  EXPECT_TRUE(Search("c:*").empty());
  EXPECT_TRUE(Search(root + "/Sub*/*.dll").empty()); // wildcards end paths
}

// A composed path reaches the entry spelled so before the Windows reading
// (trailing dots and spaces trimmed, then any case) may reach another.
TEST(LocateEntry, TheNameAsSpelledComesFirstEvenBelowACaseVariantFolder) {
  ScratchDir dir;
  dir.AddDir("Sub");
  for (const char *name : {"x.dll", "x.dll.", "Y.DLL", "z.dll "})
    dir.Add(std::string("Sub/") + name);
  const std::string at = dir.path() + "/";
  const struct {
    const char *path;
    const char *entry; // nullptr: nothing is there
  } cases[] = {
      {"Sub/x.dll.", "Sub/x.dll."},
      {"sub\\x.dll.", "Sub/x.dll."}, // the folder found in any case
      {"SUB/x.dll", "Sub/x.dll"},
      {"Sub/x.dll. ", "Sub/x.dll"}, // nothing spelled so: trimmed
      {"sub/y.dll..", "Sub/Y.DLL"}, // trimmed, then any case
      {"sub/z.dll ", "Sub/z.dll "}, // as spelled, in the folder found
      {"Sub/z.dll", nullptr},       // a typed name is not widened
      {"Sub./x.dll", "Sub/x.dll"},  // a folder loses one period
      {"Sub/...", "Sub"},           // a name trimmed away names its folder
      {"Sub/nothing.dll", nullptr},
  };
  for (const auto &c : cases) {
    char out[kHostPathMax];
    int result = LocateEntry((at + c.path).c_str(), out, sizeof out);
    if (c.entry == nullptr) {
      EXPECT_EQ(result, -1) << c.path;
    } else {
      EXPECT_EQ(result, 0) << c.path;
      EXPECT_EQ(std::string(out), at + c.entry) << c.path;
    }
  }
}

// The search passes over the names whose composed path would lead the
// status query elsewhere: a backslash, '*' or '?' anywhere.
TEST(DirectorySearch, NamesNoPathCanReachAreNotListed) {
  ScratchDir dir;
  for (const char *name :
       {"back\\slash.dll", "a*b.dll", "q?.dll", "a:b.dll", "x.dll.", "x.dll "})
    dir.Add(name);
  EXPECT_EQ(
      Search(dir.path() + "/*"),
      (std::vector<std::string>{".", "..", "a:b.dll", "x.dll ", "x.dll."}));
}

TEST(DirectorySearch, TheRootHasNoDotEntries) {
  std::vector<std::string> names = Search("/*");
  ASSERT_FALSE(names.empty());
  for (const std::string &name : names) {
    EXPECT_NE(name, ".");
    EXPECT_NE(name, "..");
  }
  EXPECT_TRUE(Search("/").empty());
  EXPECT_TRUE(Search("\\").empty());
  // The same root reached through a run of "..".
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  std::string up;
  for (const char *c = cwd; *c != '\0'; ++c)
    if (*c == '/')
      up += "../";
  EXPECT_EQ(Search(up + "*"), names);
  EXPECT_TRUE(Search(up + "..").empty());
}

TEST(DirectorySearch, CaseVariantsComeInAFixedOrder) {
  ScratchDir dir;
  dir.Add("readme");
  dir.Add("README");
  dir.Add("Readme");
  dir.Add("b");
  EXPECT_EQ(
      Search(dir.path() + "/*"),
      (std::vector<std::string>{".", "..", "b", "README", "Readme", "readme"}));
  // Without wildcards the exact spelling wins, then the first in byte order.
  EXPECT_EQ(Search(dir.path() + "/Readme"), std::vector<std::string>{"Readme"});
  EXPECT_EQ(Search(dir.path() + "/rEADME"), std::vector<std::string>{"README"});
}

TEST(DirectorySearch, LinksAreTypedByWhatTheyPointAt) {
  ScratchDir dir;
  dir.AddDir("real");
  ASSERT_EQ(symlink("real", (dir.path() + "/link").c_str()), 0);
  ASSERT_EQ(symlink("gone", (dir.path() + "/dangling").c_str()), 0);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir.path() + "/link").c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0x10u);
  FindClose(h);
  h = FindFirstFileA((dir.path() + "/dangling").c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  FindClose(h);
}

TEST(FileTimes, CalendarFieldsOfKnownInstants) {
  SYSTEMTIME st;
  FILETIME ft = {0, 0};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 1601);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 1); // a Monday
  // 2000-02-29 12:34:56 UTC, a leap day and a Tuesday.
  uint64_t ticks = (951827696ull + 11644473600ull) * 10000000ull;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 2000);
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wHour, 12);
  EXPECT_EQ(st.wMinute, 34);
  EXPECT_EQ(st.wSecond, 56);
  EXPECT_EQ(st.wDayOfWeek, 2);
  ft.dwHighDateTime = 0x80000000u; // beyond what Windows accepts
  EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
}

} // namespace

namespace {

TEST(DirectorySearch, EntriesRemovedDuringTheSearchAreSkipped) {
  ScratchDir dir;
  for (const char *name : {"a.dll", "b.dll", "c.dll", "d.dll"})
    dir.Add(name);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir.path() + "/*.dll").c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(fd.cFileName, "a.dll");
  unlink((dir.path() + "/b.dll").c_str());
  unlink((dir.path() + "/d.dll").c_str());
  std::vector<std::string> rest;
  while (FindNextFileA(h, &fd))
    rest.push_back(fd.cFileName);
  FindClose(h);
  EXPECT_EQ(rest, std::vector<std::string>{"c.dll"});
}

} // namespace
