// The recursive walk on trees built to mislead it: folders whose names the
// path rules read as other folders' or as links, links that would loop,
// and a folder swapped for a link while the walk runs.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "run_support.h"
#include "test_support.h"

namespace {

// The paths of a run's report lines, in order.
std::vector<std::string> Reported(const std::string &output) {
  std::vector<std::string> paths;
  const std::string label = "Program Name:      ";
  for (size_t at = output.find(label); at != std::string::npos;
       at = output.find(label, at + 1)) {
    size_t start = at + label.size();
    paths.push_back(output.substr(start, output.find('\n', start) - start));
  }
  return paths;
}

// Runs quelvo with args in folder, as the user would from there.
RunResult RunIn(const std::string &folder, std::vector<std::string> args) {
  char here[4096];
  EXPECT_NE(getcwd(here, sizeof here), nullptr);
  EXPECT_EQ(chdir(folder.c_str()), 0);
  RunResult r = RunWith(std::move(args));
  EXPECT_EQ(chdir(here), 0);
  return r;
}

// Every case in a fresh folder: folders (a trailing '/'), files (holding
// the basic fixture) and links ("name -> target"), then one walk whose
// report lines are compared; no folder is announced as unreadable and no
// argument as not found.
TEST(Walk, HostileTreesAreWalkedAsTheyAreOnDisk) {
  const struct Case {
    const char *what;
    std::vector<std::string> entries;
    std::vector<std::string> args;
    std::vector<std::string> reported;
  } cases[] = {
      // Links to "." beside folders whose names end in a period: each
      // "a./" reads as the link "a/", which never ends.
      {
          "dot links",
          {"t/", "t/a./", "t/b./", "t/a -> .", "t/b -> .", "t/f.dll"},
          {"--recursive", "t"},
          {"t/f.dll"},
      },
      // "x." is not "x": neither x's files under x.'s name, nor x.'s
      // files, which no path reaches, are reported twice or as another's.
      {
          "a folder and its name with a period",
          {"t/", "t/x/", "t/x/sub/", "t/x./", "t/x/a.dll", "t/x/sub/deep.dll",
           "t/x./b.dll"},
          {"--recursive", "t"},
          {"t/x/a.dll", "t/x/sub/deep.dll"},
      },
      // "l." beside a link "l" to a folder outside the tree.
      {
          "a period beside a link",
          {"b/", "b/l./", "out/", "out/o/", "out/o/outside.dll",
           "b/l -> ../out", "b/in.dll"},
          {"--recursive", "b"},
          {"b/in.dll"},
      },
      // "y." alone: passed over, not announced as the missing "y".
      {
          "a period with nothing beside it",
          {"t/", "t/y./", "t/y./f.dll", "t/z.dll"},
          {"--recursive", "t"},
          {"t/z.dll"},
      },
      // A subfolder whose second character is a colon, under a pattern
      // without a folder part: "./" keeps it a name.
      {
          "a colon in second place",
          {"d/", "d/a:b/", "d/a:b/c.dll", "d/e.dll"},
          {"--recursive", "d/*.dll"},
          {"d/e.dll", "d/a:b/c.dll"},
      },
      {
          "a colon in second place, bare",
          {"d/", "d/a:b/", "d/a:b/c.dll", "d/e.dll"},
          {"--recursive", "*.dll"},
          {"d/e.dll", "./a:b/c.dll"},
      },
      // A link to an ancestor is never followed.
      {
          "a link to the top",
          {"t/", "t/s/", "t/s/up -> ..", "t/s/x.dll"},
          {"--recursive", "t"},
          {"t/s/x.dll"},
      },
      // Wildcards and backslashes in folder names: no path reaches their
      // files, so they are passed over with everything below them.
      {
          "wildcards in a folder's name",
          {"t/", "t/a*b/", "t/a*b/x.dll", "t/c\\d/", "t/c\\d/y.dll", "t/k.dll"},
          {"--recursive", "t"},
          {"t/k.dll"},
      },
  };
  std::string dll = ReadFile(Fixture("basic.dll"));
  for (const Case &c : cases) {
    ScratchDir dir;
    for (const std::string &e : c.entries) {
      size_t arrow = e.find(" -> ");
      if (arrow != std::string::npos) {
        ASSERT_EQ(symlink(e.substr(arrow + 4).c_str(),
                          (dir.path() + "/" + e.substr(0, arrow)).c_str()),
                  0)
            << e;
      } else if (e[e.size() - 1] == '/')
        dir.AddDir(e.substr(0, e.size() - 1));
      else
        dir.Add(e, dll);
    }
    std::string at = dir.path();
    // Bare patterns are walked from inside their folder.
    if (c.args.back() == "*.dll")
      at += "/d";
    RunResult r = RunIn(at, c.args);
    std::vector<std::string> want = c.reported;
    if (c.args.back() == "*.dll")
      for (std::string &p : want)
        if (p.compare(0, 2, "d/") == 0)
          p = p.substr(2);
    EXPECT_EQ(Reported(r.output), want) << c.what << "\n" << r.output;
    EXPECT_EQ(r.output.find("Unable to read"), std::string::npos) << c.what;
    EXPECT_EQ(r.output.find("was not found"), std::string::npos) << c.what;
  }
}

// A folder of the tree and a link to a folder outside it trade places
// over and over while the tree is walked: whatever the walk meets, it
// never reports a file from outside. Bounded by a count of walks, not by
// time.
TEST(Walk, AFolderSwappedForALinkNeverLeadsOutside) {
  ScratchDir dir;
  std::string dll = ReadFile(Fixture("basic.dll"));
  dir.AddDir("t");
  dir.AddDir("t/sub");
  dir.AddDir("outside");
  dir.Add("t/sub/inside.dll", dll);
  dir.Add("outside/outside.dll", dll);
  for (int i = 0; i < 20; ++i)
    dir.Add("t/f" + std::to_string(i) + ".dll", dll);
  std::string sub = dir.path() + "/t/sub";
  std::string link = dir.path() + "/t/swap";
  ASSERT_EQ(symlink("../outside", link.c_str()), 0);
  std::atomic<bool> stop(false);
  std::atomic<long> swaps(0);
  std::thread swapper([&] {
    while (!stop.load()) {
      if (renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, link.c_str(),
                    RENAME_EXCHANGE) != 0)
        break; // the file system cannot exchange: the walks stay plain
      ++swaps;
      // A pause between swaps, so that the walks run even where threads
      // take turns under one lock (valgrind), not only side by side.
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });
  int outside = 0, inside = 0;
  for (int run = 0; run < 200; ++run) {
    RunResult r = RunWith({"--recursive", dir.path() + "/t"});
    outside += r.output.find("outside.dll") != std::string::npos;
    inside += r.output.find("inside.dll") != std::string::npos;
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(outside, 0);
  EXPECT_GT(inside, 0); // the folder was walked while it was one
  if (swaps.load() == 0)
    GTEST_SKIP() << "renameat2 cannot exchange entries here";
}

} // namespace
