#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <random>
#include <set>

#include "match.h"
#include "test_support.h"

namespace {

MatchNode *NewNode(const char *name) {
  MatchNode *node = static_cast<MatchNode *>(malloc(sizeof(MatchNode)));
  node->name = strdup(name);
  node->next = node->previous = nullptr;
  return node;
}

// The list's names front to back, checking the back links on the way.
std::vector<std::string> Names(MatchList list) {
  std::vector<std::string> forward;
  MatchNode *last = nullptr;
  for (MatchNode *n = list; n != nullptr; n = n->next) {
    EXPECT_EQ(n->previous, last);
    forward.push_back(n->name);
    last = n;
  }
  std::vector<std::string> backward;
  for (MatchNode *n = last; n != nullptr; n = n->previous)
    backward.insert(backward.begin(), n->name);
  EXPECT_EQ(forward, backward);
  return forward;
}

// Node identities in list order, to tell equal names apart.
std::vector<MatchNode *> Order(MatchList list) {
  std::vector<MatchNode *> out;
  for (MatchNode *n = list; n != nullptr; n = n->next)
    out.push_back(n);
  return out;
}

std::vector<std::string> Expand(const std::string &pattern) {
  MatchList list = nullptr;
  ExpandPattern(pattern.c_str(), &list);
  std::vector<std::string> names = Names(list);
  FreeMatchList(list);
  return names;
}

TEST(NameOrder, FoldsOnlyAsciiLettersAndComparesBytesUnsigned) {
  EXPECT_EQ(CompareNames("ABC", "abc"), 0);
  EXPECT_LT(CompareNames("lib.dll", "lib\\"), 0);     // '.' below '\'
  EXPECT_LT(CompareNames("lib\\", "lib_old.dll"), 0); // '\' below '_'
  EXPECT_LT(CompareNames("lib\\", "libs"), 0);
  EXPECT_LT(CompareNames("_x", "a"), 0);   // 0x5F sorts before letters
  EXPECT_GT(CompareNames("{x", "z"), 0);   // '{' after every letter
  EXPECT_GT(CompareNames("\xC9", "~"), 0); // high bytes after all, unfolded
  EXPECT_NE(CompareNames("\xC9", "\xE9"), 0);
  EXPECT_LT(CompareNames("file10", "file9"), 0); // digits as characters
  EXPECT_LT(CompareNames("abc", "abcd"), 0);     // prefix first
}

TEST(InsertSorted, EqualNamesKeepFirstArrivalFirstThenReverse) {
  MatchList list = nullptr;
  MatchNode *x1 = NewNode("Readme");
  MatchNode *x2 = NewNode("README");
  MatchNode *x3 = NewNode("readme");
  InsertSorted(NewNode("zeta"), &list);
  InsertSorted(x1, &list);
  InsertSorted(NewNode("alpha"), &list);
  InsertSorted(x2, &list);
  InsertSorted(x3, &list);
  std::vector<MatchNode *> order = Order(list);
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ(order[1], x1);
  EXPECT_EQ(order[2], x3);
  EXPECT_EQ(order[3], x2);
  EXPECT_EQ(Names(list).front(), "alpha");
  FreeMatchList(list);
  FreeMatchList(nullptr); // the empty list releases nothing
}

TEST(InsertSorted, MixedFilesAndDirectoriesSortWithTheBackslash) {
  MatchList list = nullptr;
  for (const char *name : {"LIBS.DLL", "lib_old.dll", "lib\\", "lib.dll"})
    InsertSorted(NewNode(name), &list);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"lib.dll", "lib\\",
                                                   "lib_old.dll", "LIBS.DLL"}));
  FreeMatchList(list);
}

// Links the names as one gathered batch and inserts them one by one, and
// expects the same list, compared by arrival index, which tells equal names
// apart.
void ExpectLinkedAsInserted(const std::vector<std::string> &names, int round) {
  std::vector<MatchNode *> one, two;
  for (const std::string &name : names) {
    one.push_back(NewNode(name.c_str()));
    two.push_back(NewNode(name.c_str()));
  }
  MatchList inserted = nullptr, linked = nullptr;
  for (MatchNode *n : one)
    InsertSorted(n, &inserted);
  LinkSorted(two.data(), two.size(), &linked);
  std::vector<size_t> a, b;
  for (MatchNode *n : Order(inserted))
    a.push_back(static_cast<size_t>(std::find(one.begin(), one.end(), n) -
                                    one.begin()));
  for (MatchNode *n : Order(linked))
    b.push_back(static_cast<size_t>(std::find(two.begin(), two.end(), n) -
                                    two.begin()));
  EXPECT_EQ(a, b) << "round " << round;
  Names(linked);
  FreeMatchList(inserted);
  FreeMatchList(linked);
}

// Linking a gathered batch must give exactly the list that one-by-one
// insertion builds, down to which of several equal names stands where.
TEST(LinkSorted, SameListAsInsertionOnRandomNamesWithManyTies) {
  std::mt19937 rng(12345);
  const char *stems[] = {"a", "A", "b", "B", "ab", "AB", "a.", "_", "a_b"};
  for (int round = 0; round < 50; ++round) {
    size_t count = rng() % 300;
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
      std::string name = stems[rng() % 9];
      if (rng() % 2)
        name += stems[rng() % 9];
      names.push_back(name);
    }
    ExpectLinkedAsInserted(names, round);
    if (HasFailure())
      return;
  }
}

// The search delivers names nearly in list order (it folds to upper case,
// the list to lower), and a batch may come in any order at all: whatever
// the order, linking gives the list that insertion builds.
TEST(LinkSorted, SameListAsInsertionForOrderedReversedAndLongBatches) {
  std::mt19937 rng(777);
  const char *stems[] = {"a", "A", "b", "_", "[", "a_", "aB", "ab", "~"};
  auto upperFirst = [](const std::string &x, const std::string &y) {
    std::string ux = x, uy = y;
    for (char &c : ux)
      c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (char &c : uy)
      c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return ux != uy ? ux < uy : x < y;
  };
  for (int round = 0; round < 12; ++round) {
    size_t count = round < 6 ? rng() % 40 : 2000 + rng() % 3000;
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i)
      names.push_back(std::string(stems[rng() % 9]) + stems[rng() % 9] +
                      stems[rng() % 9]);
    switch (round % 3) {
    case 0:
      std::sort(names.begin(), names.end(), upperFirst);
      break;
    case 1:
      std::sort(names.begin(), names.end(), upperFirst);
      std::reverse(names.begin(), names.end());
      break;
    default:
      break; // as drawn
    }
    ExpectLinkedAsInserted(names, round);
    if (HasFailure())
      return;
  }
}

// ExpandPattern against the plain algorithm: every delivered entry but the
// dot-directories, named and inserted one by one. Enough long names to
// fill several of the list's blocks, names equal but for case, and the
// characters that sort differently folded up and folded down.
TEST(ExpandPattern, SameListAsInsertingEveryEntryAsDelivered) {
  ScratchDir dir;
  std::mt19937 rng(4242);
  const char *parts[] = {"readme", "README", "Readme", "lib", "LIB_", "lib[",
                         "a_b",    "aB",     "~x",     "9",   ".dll", " "};
  std::set<std::string> made;
  for (int i = 0; i < 600; ++i) {
    std::string name;
    size_t pieces = 1 + rng() % 3;
    for (size_t p = 0; p < pieces; ++p)
      name += parts[rng() % 12];
    if (rng() % 4 == 0)
      name += std::string(100 + rng() % 120, 'z');
    if (!made.insert(name).second || name == "." || name == "..")
      continue;
    if (rng() % 10 == 0)
      dir.AddDir(name);
    else
      dir.Add(name);
  }
  dir.AddDir(".hidden");
  dir.Add(".profile");
  std::string pattern = dir.path() + "/*";

  MatchList expected = nullptr;
  FindRecord record;
  ASSERT_EQ(FindFirstEntry(pattern.c_str(), &record), 0);
  int step = 0;
  while (step == 0) {
    if (!(record.directory != 0 && record.name[0] == '.')) {
      std::string name = record.name;
      if (record.directory != 0)
        name += "\\";
      InsertSorted(NewNode(name.c_str()), &expected);
    }
    step = FindNextEntry(&record);
  }
  FindClose(record.handle);

  MatchList list = nullptr;
  ExpandPattern(pattern.c_str(), &list);
  std::vector<std::string> got = Names(list);
  EXPECT_EQ(got, Names(expected));
  EXPECT_GT(got.size(), 300u);
  FreeMatchList(list);
  FreeMatchList(expected);
}

// Lists from ExpandPattern take nodes that callers allocated alone, at the
// front, in the middle and at the end, and several lists can be alive at
// once; releasing them in any order frees everything exactly once (the
// sanitizer and valgrind runs check that).
TEST(FreeMatchList, ReleasesExpandedListsWithNodesInsertedByHand) {
  ScratchDir dir;
  for (int i = 0; i < 300; ++i)
    dir.Add("file" + std::to_string(i) + std::string(40, 'x'));
  std::string pattern = dir.path() + "/*";
  MatchList first = nullptr, second = nullptr;
  ExpandPattern(pattern.c_str(), &first);
  ExpandPattern(pattern.c_str(), &second);
  for (const char *name : {"!front", "file2", "zzz-end", "FILE2"})
    InsertSorted(NewNode(name), &first);
  std::vector<std::string> names = Names(first);
  ASSERT_EQ(names.size(), 304u);
  EXPECT_EQ(names.front(), "!front");
  EXPECT_EQ(names.back(), "zzz-end");
  FreeMatchList(second);
  FreeMatchList(first);

  MatchList alone = nullptr;
  InsertSorted(NewNode("only"), &alone);
  EXPECT_EQ(Names(alone), std::vector<std::string>{"only"});
  FreeMatchList(alone);
}

TEST(ExpandPattern, SortsSkipsDotDirectoriesAndMarksSubdirectories) {
  ScratchDir dir;
  dir.Add("b.dll");
  dir.Add("A.exe");
  dir.Add(".profile");
  dir.AddDir("sub");
  dir.AddDir(".git");
  EXPECT_EQ(Expand(dir.path() + "/*"),
            (std::vector<std::string>{".profile", "A.exe", "b.dll", "sub\\"}));
  EXPECT_EQ(Expand(dir.path() + "\\*.*"),
            (std::vector<std::string>{".profile", "A.exe", "b.dll", "sub\\"}));
}

TEST(ExpandPattern, NameWithoutWildcardsYieldsTheEntryAsSpelledOnDisk) {
  ScratchDir dir;
  dir.Add("Setup.EXE");
  dir.AddDir("tools");
  dir.AddDir(".cache");
  EXPECT_EQ(Expand(dir.path() + "/setup.exe"),
            std::vector<std::string>{"Setup.EXE"});
  EXPECT_EQ(Expand(dir.path() + "/TOOLS"), std::vector<std::string>{"tools\\"});
  EXPECT_TRUE(Expand(dir.path() + "/.cache").empty());
  EXPECT_TRUE(Expand(dir.path() + "/nothing*").empty());
  EXPECT_TRUE(Expand(dir.path() + "/").empty());
  EXPECT_TRUE(Expand("").empty());
}

TEST(ExpandPattern, OverwritesTheCallersPointerEvenWhenNothingMatches) {
  MatchList list = NewNode("stale");
  MatchList held = list;
  ExpandPattern("/nonexistent-dir-for-quelvo/*", &list);
  EXPECT_EQ(list, nullptr);
  FreeMatchList(held);
}

TEST(ExpandPattern, PatternTooLongForItsBufferMatchesNothing) {
  ScratchDir dir;
  dir.Add("a.dll");
  std::string pattern = dir.path() + "/" + std::string(300, '.') + "/*";
  EXPECT_TRUE(Expand(pattern).empty());
}

// The recursive walk's subfolders, named as listed: folders whose names
// start with a dot or end with one (the walk passes the latter over
// itself) among them, never the dot entries, files, or links, whether
// they lead to a folder or nowhere.
TEST(ListSubfolders, FoldersAsListedWithoutLinksFilesOrDotEntries) {
  ScratchDir dir;
  dir.Add("a.dll");
  dir.Add("file.d");
  dir.AddDir("sub");
  dir.AddDir(".git");
  dir.AddDir("x.");
  dir.AddDir("sub/inner");
  ASSERT_EQ(
      symlink((dir.path() + "/sub").c_str(), (dir.path() + "/to-sub").c_str()),
      0);
  ASSERT_EQ(
      symlink("/nonexistent-for-quelvo", (dir.path() + "/dangling").c_str()),
      0);
  int error = 0;
  FolderNote *note = OpenFolderNote((dir.path() + "/").c_str(), &error);
  ASSERT_NE(note, nullptr) << error;
  ASSERT_EQ(ReadFolderNote(note), 0);
  std::vector<std::string> names;
  ListSubfolders(note, &names);
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{".git", "sub", "x."}));
  // The folder is listed once: asked again, the same names in the same
  // order.
  std::vector<std::string> again;
  ListSubfolders(note, &again);
  EXPECT_EQ(again, names);
  FreeFolderNote(note);

  ScratchDir empty;
  empty.Add("only.exe");
  note = OpenFolderNote(empty.path().c_str(), &error);
  ASSERT_NE(note, nullptr) << error;
  ASSERT_EQ(ReadFolderNote(note), 0);
  names.clear();
  ListSubfolders(note, &names);
  EXPECT_TRUE(names.empty());
  FreeFolderNote(note);
}

TEST(FindEntry, FailedStartLeavesAnInvalidHandleAndNextSaysSo) {
  FindRecord record;
  EXPECT_EQ(FindFirstEntry("/nonexistent-dir-for-quelvo/x*", &record), 1);
  EXPECT_EQ(record.handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindNextEntry(&record), -1);
}

TEST(FindEntry, FillsTheRecordAndKeepsTheLastEntryAfterTheEnd) {
  ScratchDir dir;
  dir.Add("only.dll", std::string(1234, 'z'));
  dir.AddDir("sub");
  FindRecord record;
  ASSERT_EQ(FindFirstEntry((dir.path() + "/*").c_str(), &record), 0);
  std::vector<std::string> seen;
  int step = 0;
  while (step == 0) {
    seen.push_back(record.name);
    EXPECT_EQ(record.directory,
              strcmp(record.name, "only.dll") == 0 ? 0u : 0x10u)
        << record.name;
    step = FindNextEntry(&record);
  }
  EXPECT_EQ(step, 1);
  EXPECT_EQ(std::string(record.name), seen.back());
  // The dot entries of a directory that is not a root come first.
  EXPECT_EQ(seen, (std::vector<std::string>{".", "..", "only.dll", "sub"}));
  FindClose(record.handle);
  // A listing answers with names and types; the lookup of one name also
  // brings its size and times.
  ASSERT_EQ(FindFirstEntry((dir.path() + "/only.dll").c_str(), &record), 0);
  EXPECT_EQ(record.size, 1234u);
  EXPECT_EQ(record.directory, 0u);
  EXPECT_GE(record.year, 2020);
  EXPECT_GE(record.month, 1);
  EXPECT_LE(record.month, 12);
  FindClose(record.handle);
}

TEST(CheckRegularFile, AnswersForFilesDirectoriesAndWhatCannotBeRead) {
  ScratchDir dir;
  std::string file = dir.Add("x.dll");
  std::string sub = dir.AddDir("sub");
  char buf[600];
  auto check = [&](const std::string &path) {
    snprintf(buf, sizeof buf, "%s", path.c_str());
    return CheckRegularFile(buf);
  };
  EXPECT_EQ(check(file), 0);
  EXPECT_EQ(std::string(buf), file); // unchanged
  chmod(file.c_str(), 0);            // permissions play no part
  EXPECT_EQ(check(file), 0);
  EXPECT_EQ(check(sub + "\\"), 107);
  EXPECT_EQ(std::string(buf), sub);    // one backslash removed, and kept so
  EXPECT_EQ(check(sub + "\\\\"), 110); // the second one stays: fails
  EXPECT_EQ(check(sub + "/"), 110);    // a trailing slash is not removed
  EXPECT_EQ(check("\\"), 107);
  EXPECT_EQ(std::string(buf), "\\");
  EXPECT_EQ(check("/"), 107);
  EXPECT_EQ(check("C:\\"), 110);
  EXPECT_EQ(std::string(buf), "C:");
  EXPECT_EQ(check("C:"), 110);
  EXPECT_EQ(check(dir.path() + "/*.dll"), 110);
  EXPECT_EQ(check(dir.path() + "/x.dl?"), 110);
  EXPECT_EQ(check(dir.path() + "/nothing.dll"), 110);
  EXPECT_EQ(check(""), 110);
  EXPECT_EQ(check(dir.path() + "\\X.DLL"), 0);  // case-insensitive
  EXPECT_EQ(check(dir.path() + "/x.dll. "), 0); // trailing dot and space
  EXPECT_EQ(check(dir.path() + "/sub/../x.dll"), 0);
}

// tmpfs keeps 64-bit seconds, so it can hold times that Windows cannot:
// before 1601, or past the last tick its calendar conversion accepts. The
// search still lists such an entry (its time fields stay zero); the status
// query fails for it, as it does for any time that cannot be converted,
// and its neighbours are answered as usual.
TEST(CheckRegularFile, TimesWindowsCannotHoldFailOnlyTheirOwnFile) {
  ScratchDir dir("/dev/shm");
  if (dir.path().empty())
    GTEST_SKIP() << "no /dev/shm to hold far-off file times";
  struct Case {
    const char *name;
    time_t mtime;
    time_t atime;
  };
  const time_t now = time(nullptr);
  const Case cases[] = {
      {"far.dll", 9223372036854775000, now},   // the largest seconds
      {"atime.dll", now, 9223372036854775000}, // a last-access time too
      {"limit.dll", 910692730086, now},        // one second past the limit
      {"old.dll", -11644473601, now},          // just before 1601
  };
  for (const Case &c : cases) {
    std::string path = dir.Add(c.name);
    struct timespec times[2] = {{c.atime, 0}, {c.mtime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << c.name;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    if (st.st_mtim.tv_sec != c.mtime || st.st_atim.tv_sec != c.atime)
      GTEST_SKIP() << dir.path() << " does not keep 64-bit file times";
  }
  dir.Add("ok.dll");
  EXPECT_EQ(Expand(dir.path() + "/*.dll"),
            (std::vector<std::string>{"atime.dll", "far.dll", "limit.dll",
                                      "ok.dll", "old.dll"}));
  char buf[600];
  for (const Case &c : cases) {
    FindRecord record;
    snprintf(buf, sizeof buf, "%s/%s", dir.path().c_str(), c.name);
    ASSERT_EQ(FindFirstEntry(buf, &record), 0) << c.name;
    EXPECT_EQ(record.year == 0, c.mtime != now) << c.name;
    FindClose(record.handle);
    EXPECT_EQ(CheckRegularFile(buf), 110) << c.name;
  }
  snprintf(buf, sizeof buf, "%s/ok.dll", dir.path().c_str());
  EXPECT_EQ(CheckRegularFile(buf), 0);
}

// Sets TZ for a test and puts the one before back, whatever the test's end.
struct ZoneGuard {
  bool had = getenv("TZ") != nullptr;
  std::string before = had ? getenv("TZ") : "";
  void Set(const char *zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (had)
      setenv("TZ", before.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
};

// Within a day of either end, whether a time converts depends on the
// zone's bias now, as Windows applies it: a zone east of UTC pushes the
// last hour past the end, one west of it the first hour before 1601.
TEST(CheckRegularFile, TimesNearTheEndsConvertAsTheZoneSays) {
  ScratchDir dir("/dev/shm");
  if (dir.path().empty())
    GTEST_SKIP() << "no /dev/shm to hold far-off file times";
  struct Case {
    const char *name;
    time_t mtime;
    const char *zone;
    int status;
  };
  const time_t lastHour = 910692730085 - 3600, firstHour = -11644473600 + 3600;
  const Case cases[] = {
      {"late.dll", lastHour, "UTC", 0},
      {"late.dll", lastHour, "UTC-2", 110},
      {"late.dll", lastHour, "UTC+2", 0},
      {"early.dll", firstHour, "UTC", 0},
      {"early.dll", firstHour, "UTC+2", 110},
      {"early.dll", firstHour, "UTC-2", 0},
  };
  ZoneGuard zone;
  for (const Case &c : cases) {
    std::string path = dir.Add(c.name);
    struct timespec times[2] = {{time(nullptr), 0}, {c.mtime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << c.name;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    if (st.st_mtim.tv_sec != c.mtime)
      GTEST_SKIP() << dir.path() << " does not keep 64-bit file times";
    zone.Set(c.zone);
    EXPECT_EQ(CheckRegularFile(&path[0]), c.status)
        << c.name << " in " << c.zone;
  }
}

TEST(CheckRegularFile, SpecialFilesAreNotRegular) {
  ScratchDir dir;
  std::string fifo = dir.path() + "/pipe.dll";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::string dev = dir.path() + "/zero.dll";
  ASSERT_EQ(symlink("/dev/zero", dev.c_str()), 0);
  char buf[600];
  snprintf(buf, sizeof buf, "%s", fifo.c_str());
  EXPECT_EQ(CheckRegularFile(buf), 107);
  snprintf(buf, sizeof buf, "%s", dev.c_str());
  EXPECT_EQ(CheckRegularFile(buf), 107);
}

} // namespace
