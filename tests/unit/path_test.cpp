#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_path.h"
#include "posix_record.h"
#include "posix_time.h"
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
  // Paths already in their normal form come back as they are; the ones
  // that only look so do not.
  EXPECT_EQ(Normal("dir/x.dll", false), "dir/x.dll");
  EXPECT_EQ(Normal("/a b/c. ", false), "/a b/c. ");
  EXPECT_EQ(Normal("/a b/c. ", true), "/a b/c");
  EXPECT_EQ(Normal("x..", false), "x..");
  EXPECT_EQ(Normal("a//b", false), "a/b");
  EXPECT_EQ(Normal("a/./b/.", false), "a/b");
  EXPECT_EQ(Normal("a/b/..", false), "a");
  EXPECT_EQ(Normal("a/b./c", false), "a/b/c");
  EXPECT_EQ(Normal("a\\b", false), "a/b");
  EXPECT_EQ(Normal("//a", false), "/a");
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

// The same at every length and place: names of 1 to 40 bytes with '\\',
// '*' or '?' at either end, and at and beside the edges of every sixteen
// bytes, are passed over; the same names without it are delivered.
TEST(DirectorySearch, NamesWithSearchSyntaxArePassedOverAtAnyPlace) {
  ScratchDir dir;
  std::vector<std::string> expected = {".", ".."};
  const size_t lengths[] = {1, 2, 15, 16, 17, 31, 32, 33, 40};
  for (size_t len : lengths) {
    std::string clean(len, 'a');
    clean[0] = static_cast<char>('A' + len % 26); // names apart by length
    dir.Add(clean);
    expected.push_back(clean);
    for (size_t at : {size_t{0}, size_t{1}, size_t{14}, size_t{15}, size_t{16},
                      size_t{17}, size_t{31}, size_t{32}, len - 2, len - 1}) {
      if (at >= len)
        continue;
      for (char c : {'\\', '*', '?'}) {
        std::string name = clean;
        name[at] = c;
        dir.Add(name);
      }
    }
  }
  std::sort(expected.begin() + 2, expected.end());
  EXPECT_EQ(Search(dir.path() + "/*"), expected);
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

// Names come in upper-case order, as NTFS collates them, a directory's
// name as it is: the characters between 'Z' and 'a' after the letters, and
// a directory before the names it begins. The recursive walk visits
// folders in this order; the match list puts them in its own.
TEST(DirectorySearch, NamesComeInUpperCaseOrder) {
  ScratchDir dir;
  dir.AddDir("lib");
  ASSERT_EQ(symlink("lib", (dir.path() + "/Lib_link").c_str()), 0);
  for (const char *name : {"lib.dll", "lib_old.dll", "LIBS", "a_b", "aB"})
    dir.Add(name);
  EXPECT_EQ(Search(dir.path() + "/*"),
            (std::vector<std::string>{".", "..", "aB", "a_b", "lib", "lib.dll",
                                      "LIBS", "Lib_link", "lib_old.dll"}));
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

// Whether a stat's times convert, every time tried in the zones farthest
// from UTC either way: the answer is the local conversion's, for times at
// and around two days from either end (where the query stops asking the
// zone) as well as at the ends.
TEST(FileTimes, TheStatusQueryConvertsWhatTheLocalConversionTakes) {
  const int64_t kFirst = -11644473600; // 1601-01-01
  const int64_t kLast = 910692730085;  // the last whole second
  const int64_t kDays2 = 2 * 24 * 3600;
  const int64_t seconds[] = {kFirst - 1,
                             kFirst,
                             kFirst + 3600,
                             kFirst + 24 * 3600,
                             kFirst + kDays2 - 1,
                             kFirst + kDays2,
                             kFirst + kDays2 + 1,
                             0,
                             1700000000,
                             kLast - kDays2 - 1,
                             kLast - kDays2,
                             kLast - kDays2 + 1,
                             kLast - 24 * 3600,
                             kLast - 3600,
                             kLast,
                             kLast + 1};
  const long nanos[] = {0, 999999999};
  const char *zones[] = {"UTC", "XXX-24:59:59", "XXX+24:59:59"};
  const char *before = getenv("TZ");
  std::string saved = before != nullptr ? before : "";
  for (const char *zone : zones) {
    setenv("TZ", zone, 1);
    tzset();
    for (int64_t s : seconds)
      for (long ns : nanos) {
        struct timespec t = {static_cast<time_t>(s), ns};
        FILETIME ft = FileTimeFromPosix(t), local;
        bool converts = FileTimeToLocalFileTime(&ft, &local) != 0;
        struct stat st = {};
        st.st_mtim = st.st_atim = st.st_ctim = t;
        EXPECT_EQ(FileTimesConvert(st), converts)
            << s << "." << ns << " in " << zone;
        // One time that fails fails the query, whichever of the three.
        struct stat one = {};
        one.st_mtim = one.st_atim = one.st_ctim = {1700000000, 0};
        one.st_ctim = t;
        EXPECT_EQ(FileTimesConvert(one),
                  converts || (ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0))
            << s << "." << ns << " as a creation time in " << zone;
      }
  }
  if (before != nullptr)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

} // namespace

namespace {

// The search answers from the listing it read when it started, as the
// Windows search answers from its buffer: an entry removed later is still
// delivered, and the status query of its path then says it is gone.
TEST(DirectorySearch, EntriesRemovedAfterTheListingAreDeliveredAsListed) {
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
  EXPECT_EQ(rest, (std::vector<std::string>{"b.dll", "c.dll", "d.dll"}));
  unsigned mode;
  EXPECT_EQ(QueryFileMode((dir.path() + "/b.dll").c_str(), &mode), -1);
  EXPECT_EQ(QueryFileMode((dir.path() + "/c.dll").c_str(), &mode), 0);
}

} // namespace

namespace {

// The file description a record's file reads as, through the version
// service; "" when it has none, "<none>" when the service finds nothing to
// read.
std::string DescriptionOf(FileRecord *record) {
  DWORD handle;
  DWORD size = GetRecordVersionInfoSize(record, &handle);
  if (size == 0)
    return "<none>";
  std::string block(size, '\0');
  if (!GetRecordVersionInfo(record, handle, size, &block[0]))
    return "<none>";
  LPVOID value;
  UINT len;
  if (!VerQueryValueA(&block[0], "\\StringFileInfo\\040904b0\\FileDescription",
                      &value, &len))
    return "";
  return static_cast<const char *>(value);
}

std::string DescriptionOf(const std::string &path) {
  std::string copy = path;
  FileRecord record;
  OpenFileRecord(&record, &copy[0], nullptr, nullptr);
  std::string description = DescriptionOf(&record);
  CloseFileRecord(&record);
  return description;
}

int ModeOf(FileRecord *record) {
  unsigned mode = 0;
  return QueryRecordMode(record, &mode) == 0 ? static_cast<int>(mode) : -1;
}

int ModeOf(const std::string &path) {
  unsigned mode = 0;
  return QueryFileMode(path.c_str(), &mode) == 0 ? static_cast<int>(mode) : -1;
}

const int kRegular = QUELVO_MODE_REGULAR;
const int kDirectory = QUELVO_MODE_DIRECTORY;

// A query by path keeps nothing: after a search of the same path, or of
// another, the next query asks the file system again.
TEST(FileRecord, APathQueryAsksTheFileSystemEveryTime) {
  ScratchDir dir;
  std::string file = dir.Add("a.dll");
  std::string sub = dir.AddDir("sub");
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(file.c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_EQ(ModeOf(sub), kDirectory);
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
  EXPECT_EQ(ModeOf(file), kDirectory);

  h = FindFirstFileA(sub.c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  h = FindFirstFileA((dir.path() + "/*").c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  ASSERT_EQ(rmdir(sub.c_str()), 0);
  EXPECT_EQ(ModeOf(sub), -1);
}

// A folder typed in another case is found once per expansion and then
// serves the paths below it, each folder its own; a folder that exists in
// the case typed is always the one read, even beside a case variant.
TEST(FileRecord, FoldersFoundInAnotherCaseAnswerOnlyForThemselves) {
  ScratchDir dir;
  const std::string at = dir.path() + "/";
  for (const char *folder : {"A", "A/sub", "B", "B/Sub", "C", "C/sub", "C/SUB"})
    dir.AddDir(folder);
  const std::string app32 = ReadFile(Fixture("app32.exe"));
  const std::string app64 = ReadFile(Fixture("app64.exe"));
  const std::string basic = ReadFile(Fixture("basic.dll"));
  dir.Add("A/sub/x.dll", app32);
  dir.Add("B/Sub/x.dll", app64);
  dir.Add("C/sub/x.dll", app32);
  dir.Add("C/SUB/y.dll", basic);

  const struct {
    const char *search; // the expansion the queries belong to
    const char *path;
    int mode;
    const char *description;
  } cases[] = {
      {"A/SUB/*", "A/SUB/x.dll", kRegular, "Sample 32-bit tool"},
      {"A/SUB/*", "B/SUB/x.dll", kRegular, "Sample 64-bit tool"},
      {"A/SUB/*", "A/SUB/X.DLL", kRegular, "Sample 32-bit tool"},
      {"B/sub/*", "A/SUB/x.dll", kRegular, "Sample 32-bit tool"},
      {"B/sub/*", "B/SUB/x.dll", kRegular, "Sample 64-bit tool"},
      {"C/SUB/*", "C/SUB/y.dll", kRegular, "basic fixture"},
      {"C/SUB/*", "C/SUB/x.dll", -1, "<none>"},
      {"C/sub/*", "C/SUB/x.dll", -1, "<none>"},
      {"C/sub/*", "C/sub/x.dll", kRegular, "Sample 32-bit tool"},
      {"A/SUB/*", "A/SUB/nothing.dll", -1, "<none>"},
  };
  for (const auto &c : cases) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((at + c.search).c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.search;
    FindClose(h);
    std::string path = at + c.path;
    EXPECT_EQ(ModeOf(path), c.mode) << c.search << ", " << c.path;
    EXPECT_EQ(DescriptionOf(path), c.description) << c.search << ", " << c.path;
  }
  // What the status query located serves the read of that path alone.
  ASSERT_EQ(ModeOf(at + "A/SUB/x.dll"), kRegular);
  EXPECT_EQ(DescriptionOf(at + "B/SUB/x.dll"), "Sample 64-bit tool");
}

// The note a search of pattern hands on, taken before the search is
// closed; null when the search found nothing or handed on no note.
FolderNote *NoteOfSearch(const std::string &pattern) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << pattern;
  if (h == INVALID_HANDLE_VALUE)
    return nullptr;
  FolderNote *note = TakeFolderNote(h);
  FindClose(h);
  return note;
}

// The note a search hands on answers for exactly the regular files its
// folder listed: not for a case variant, a longer or shorter name with the
// same start, a directory, a link, or a name the listing never saw.
TEST(FolderNote, AnswersForTheRegularFilesItListedOnly) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const char *name : {"a.dll", "b.dll", "x", "xy", "xyz", "xyz0"})
    dir.Add(name);
  dir.AddDir("sub");
  ASSERT_EQ(symlink("a.dll", (dir.path() + "/link.dll").c_str()), 0);
  FolderNote *note = NoteOfSearch(dir.path() + "/*");
  ASSERT_NE(note, nullptr);
  const struct {
    const char *name;
    bool listedAsRegular;
  } cases[] = {
      {"a.dll", true},   {"b.dll", true},     {"A.dll", false}, {"a.dl", false},
      {"a.dlll", false}, {"xy", true},        {"xyz1", false},  {"", false},
      {"sub", false},    {"link.dll", false}, {"c.dll", false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ListedAsRegular(note, c.name), c.listedAsRegular) << c.name;
  FreeFolderNote(note);
  // A search that failed, and a search of a name typed exactly, hand on
  // no listing.
  EXPECT_EQ(TakeFolderNote(INVALID_HANDLE_VALUE), nullptr);
  note = NoteOfSearch(dir.path() + "/a.dll");
  ASSERT_NE(note, nullptr);
  EXPECT_FALSE(ListedAsRegular(note, "b.dll"));
  FreeFolderNote(note);
}

// Every file a listing holds is found, the first and the last included,
// whatever the number of files, and no name beside them.
TEST(FolderNote, FindsEveryListedFileInAFolderOfAnySize) {
  for (size_t count : {1u, 2u, 3u, 4u, 5u, 8u, 31u, 64u, 65u, 100u}) {
    ScratchDir dir;
    ASSERT_FALSE(dir.path().empty());
    for (size_t i = 0; i < count; ++i)
      dir.Add("f" + std::to_string(i) + ".dll");
    FolderNote *note = NoteOfSearch(dir.path() + "/*");
    ASSERT_NE(note, nullptr);
    for (size_t i = 0; i < count; ++i) {
      std::string name = "f" + std::to_string(i) + ".dll";
      EXPECT_TRUE(ListedAsRegular(note, name.c_str())) << count << " " << name;
    }
    for (const std::string &name : {"f" + std::to_string(count) + ".dll",
                                    std::string("a.dll"), std::string("z.dll")})
      EXPECT_FALSE(ListedAsRegular(note, name.c_str())) << count << " " << name;
    FreeFolderNote(note);
  }
}

TEST(FolderNote, KnowsTheSameFolderByAnyPath) {
  ScratchDir dir;
  dir.AddDir("a");
  dir.AddDir("b");
  ASSERT_EQ(symlink("a", (dir.path() + "/l").c_str()), 0);
  int error = 0;
  FolderNote *a = OpenFolderNote((dir.path() + "/a").c_str(), &error);
  FolderNote *l = OpenFolderNote((dir.path() + "/L").c_str(), &error);
  FolderNote *b = OpenFolderNote((dir.path() + "/b/").c_str(), &error);
  ASSERT_TRUE(a != nullptr && l != nullptr && b != nullptr);
  EXPECT_TRUE(IsSameFolder(a, l));
  EXPECT_FALSE(IsSameFolder(a, b));
  FolderNote *top = OpenFolderNote(dir.path().c_str(), &error);
  ASSERT_NE(top, nullptr);
  // From its parent, a link is no folder to enter.
  EXPECT_EQ(OpenSubfolderNote(top, "l", "", &error), nullptr);
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_EQ(OpenSubfolderNote(top, "gone", "", &error), nullptr);
  EXPECT_EQ(error, ENOENT);
  FolderNote *sub = OpenSubfolderNote(top, "a", "", &error);
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(IsSameFolder(sub, a));
  for (FolderNote *n : {a, l, b, top, sub})
    FreeFolderNote(n);
  EXPECT_EQ(OpenFolderNote((dir.path() + "/none").c_str(), &error), nullptr);
  EXPECT_EQ(error, ENOENT);
}

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr)
      ++count;
    closedir(d);
  }
  return count;
}

// A pattern's listing lets the status query open the regular files it
// listed and answer from the open file, which the read then uses. Whatever
// took a listed file's place before the status query is answered as it is
// now (a FIFO neither blocks nor reads as a file); what took its place
// after the status query is not seen by the read of the file the query
// found. No descriptor outlives the record it was opened for, whether a
// read takes it or not.
TEST(FileRecord, AListedFileIsOpenedByTheStatusQueryAndReadFromThere) {
  alarm(60);
  const std::string app32 = ReadFile(Fixture("app32.exe"));
  const std::string app64 = ReadFile(Fixture("app64.exe"));
  const int kOther = 0x2000;
  const struct {
    const char *what;
    bool afterQuery; // replaced after the status query, else before it
    int mode;
    const char *description;
  } cases[] = {
      {"fifo", false, kOther, "<none>"},
      {"link to a fifo", false, kOther, "<none>"},
      {"directory", false, kDirectory, "<none>"},
      {"removed", false, -1, "<none>"},
      {"link to another file", false, kRegular, "Sample 64-bit tool"},
      {"another file", false, kRegular, "Sample 64-bit tool"},
      {"another file", true, kRegular, "Sample 32-bit tool"},
      {"removed", true, kRegular, "Sample 32-bit tool"},
      {"fifo", true, kRegular, "Sample 32-bit tool"},
  };
  size_t before = OpenDescriptors();
  for (const auto &c : cases) {
    ScratchDir dir;
    std::string file = dir.Add("x.dll", app32);
    dir.Add("other.dll", app64);
    auto replace = [&] {
      std::string what = c.what;
      ASSERT_EQ(unlink(file.c_str()), 0);
      if (what == "fifo")
        ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
      else if (what == "link to a fifo") {
        ASSERT_EQ(mkfifo((dir.path() + "/pipe").c_str(), 0644), 0);
        ASSERT_EQ(symlink("pipe", file.c_str()), 0);
      } else if (what == "directory")
        ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
      else if (what == "link to another file")
        ASSERT_EQ(symlink("other.dll", file.c_str()), 0);
      else if (what == "another file")
        dir.Add("x.dll", app64);
    };
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir.path() + "/*.dll").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FolderNote *note = TakeFolderNote(h);
    FindClose(h);
    std::string path = file;
    FileRecord record;
    OpenFileRecord(&record, &path[0], note, "x.dll");
    if (!c.afterQuery)
      replace();
    EXPECT_EQ(ModeOf(&record), c.mode) << c.what;
    if (c.afterQuery)
      replace();
    EXPECT_EQ(DescriptionOf(&record), c.description)
        << c.what << (c.afterQuery ? " after" : " before");
    CloseFileRecord(&record);
    FreeFolderNote(note);
    // A query whose file no read takes, then one of another path.
    ASSERT_EQ(ModeOf(dir.path() + "/other.dll"), kRegular);
    ASSERT_EQ(ModeOf(dir.path()), kDirectory);
  }
  EXPECT_EQ(OpenDescriptors(), before);
  alarm(0);
}

// Whatever takes a file's place between the status query and the read,
// the read answers from what it opens itself: it never blocks, never reads
// past the end, and reads a new file as that file, for a path typed as on
// disk and for one whose folder is typed in another case.
TEST(KeptAnswers, AFileReplacedAfterTheStatusQueryIsReadAsItIsNow) {
  alarm(60); // a read that blocks fails the run rather than hang it
  const std::string app32 = ReadFile(Fixture("app32.exe"));
  const std::string app64 = ReadFile(Fixture("app64.exe"));
  const struct {
    const char *what;
    const char *description;
  } replacements[] = {
      {"fifo", "<none>"},           {"directory", "<none>"},
      {"truncated", "<none>"},      {"removed", "<none>"},
      {"link to a fifo", "<none>"}, {"another file", "Sample 64-bit tool"},
  };
  for (const char *typed : {"sub/x.dll", "SUB/x.dll"}) {
    for (const auto &r : replacements) {
      ScratchDir dir;
      dir.AddDir("sub");
      std::string file = dir.Add("sub/x.dll", app32);
      std::string path = dir.path() + "/" + typed;
      ASSERT_EQ(ModeOf(path), kRegular) << typed << ", " << r.what;
      std::string what = r.what;
      ASSERT_EQ(unlink(file.c_str()), 0);
      if (what == "fifo") {
        ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
      } else if (what == "directory") {
        ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
      } else if (what == "truncated") {
        dir.Add("sub/x.dll", app32.substr(0, 700));
      } else if (what == "link to a fifo") {
        ASSERT_EQ(mkfifo((dir.path() + "/pipe").c_str(), 0644), 0);
        ASSERT_EQ(symlink("../pipe", file.c_str()), 0);
      } else if (what == "another file") {
        dir.Add("sub/x.dll", app64);
      }
      EXPECT_EQ(DescriptionOf(path), r.description) << typed << ", " << what;
    }
  }
  alarm(0);
}

} // namespace
