#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "prefetch.h"
#include "report.h"
#include "test_support.h"

namespace {

Prefetcher *Start(unsigned helpers, unsigned window, unsigned coldFileMicros) {
  PrefetchSettings settings = {helpers, window, coldFileMicros};
  return StartPrefetcher(&settings);
}

size_t Entries(const char *folder) {
  size_t n = 0;
  if (DIR *dir = opendir(folder)) {
    while (struct dirent *e = readdir(dir))
      if (e->d_name[0] != '.')
        ++n;
    closedir(dir);
  }
  return n;
}

size_t ThreadCount() { return Entries("/proc/self/task"); }

// Drops the files' pages from the cache, so that the helpers find them
// cold and hold them open between their two steps (where the file system
// keeps its files in the cache, as tmpfs does, they stay warm).
void Evict(const std::vector<std::string> &paths) {
  for (const std::string &path : paths) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
      continue;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
}

// Reports paths as the driver will with a prefetcher: queued in report
// order as far ahead as it takes them, PrefetchReached before each queued
// one is reported.
std::string ReportAll(Prefetcher *p, const std::vector<std::string> &paths) {
  return CaptureOutput([&] {
    size_t ahead = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
      if (ahead == i)
        ++ahead;
      else
        PrefetchReached(p);
      while (ahead < paths.size() && PrefetchFile(p, paths[ahead].c_str()))
        ++ahead;
      printf("[%d]", ReportVersion(paths[i].c_str(), true));
    }
  });
}

// A folder of real images, and entries that are not regular files or not
// there at all, which the helpers must pass over without blocking.
struct Corpus {
  ScratchDir dir;
  std::vector<std::string> paths;
  Corpus() {
    const char *images[] = {"basic.dll",      "app32.exe",     "app64.exe",
                            "d_lang0414.dll", "nocompany.dll", "norsrc.dll"};
    for (int i = 0; i < 60; ++i) {
      std::string name = std::to_string(i) + "-" + images[i % 6];
      paths.push_back(dir.Add(name, ReadFile(Fixture(images[i % 6]))));
    }
    std::string fifo = dir.path() + "/pipe.dll";
    EXPECT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    paths.insert(paths.begin() + 5, fifo);
    paths.insert(paths.begin() + 9, dir.AddDir("sub.dll"));
    paths.insert(paths.begin() + 11, dir.path() + "/missing.dll");
    paths.insert(paths.begin() + 13, std::string(300, 'x'));
  }
};

TEST(Prefetch, ReportsAreTheSameWithHelpersReadingAhead) {
  Corpus corpus;
  std::string alone = ReportAll(nullptr, corpus.paths);
  ASSERT_NE(alone.find("Quelvo Test Co"), std::string::npos);
  for (unsigned helpers : {1u, 4u, 32u}) {
    Evict(corpus.paths);
    Prefetcher *p = Start(helpers, 16, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(ReportAll(p, corpus.paths), alone) << helpers;
    StopPrefetcher(p);
  }
}

// A file replaced after it was read ahead is reported as it is now.
TEST(Prefetch, AFileChangedAfterItsReadAheadIsReportedAsItIsNow) {
  ScratchDir dir;
  std::string path = dir.Add("x.dll", ReadFile(Fixture("basic.dll")));
  Prefetcher *p = Start(2, 4, 0);
  ASSERT_TRUE(PrefetchFile(p, path.c_str()));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  dir.Add("x.dll", ReadFile(Fixture("d_lang0414.dll")));
  PrefetchReached(p);
  std::string now =
      CaptureOutput([&] { EXPECT_EQ(ReportVersion(path.c_str(), true), 0); });
  StopPrefetcher(p);
  EXPECT_NE(now.find("Norwegian"), std::string::npos);
  EXPECT_EQ(now.find("basic fixture"), std::string::npos);
}

TEST(Prefetch, TheWindowBoundsHowFarAheadPathsAreQueued) {
  Prefetcher *p = Start(1, 3, 1000000);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(PrefetchFile(p, "/nonexistent/a.dll"));
  EXPECT_TRUE(PrefetchFile(p, "/nonexistent/b.dll"));
  EXPECT_TRUE(PrefetchFile(p, "/nonexistent/c.dll"));
  EXPECT_FALSE(PrefetchFile(p, "/nonexistent/d.dll"));
  PrefetchReached(p);
  EXPECT_TRUE(PrefetchFile(p, "/nonexistent/d.dll"));
  EXPECT_FALSE(PrefetchFile(p, "/nonexistent/e.dll"));
  for (int i = 0; i < 5; ++i) // more than were queued: nothing breaks
    PrefetchReached(p);
  EXPECT_TRUE(PrefetchFile(p, "/nonexistent/e.dll"));
  StopPrefetcher(p);
}

// Fast reports never wake the helpers: a warm run starts no thread. A slow
// one does.
TEST(Prefetch, HelpersStartOnlyAfterASlowReport) {
  Corpus corpus;
  size_t before = ThreadCount();
  Prefetcher *p = Start(3, 8, 1000000);
  ReportAll(p, corpus.paths);
  EXPECT_EQ(ThreadCount(), before);
  StopPrefetcher(p);

  p = Start(3, 8, 1);
  ASSERT_TRUE(PrefetchFile(p, corpus.paths[0].c_str()));
  ASSERT_TRUE(PrefetchFile(p, corpus.paths[1].c_str()));
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  PrefetchReached(p);
  EXPECT_EQ(ThreadCount(), before + 3);
  StopPrefetcher(p);
  // A joined thread leaves the task list a moment after it has ended.
  for (int i = 0; i < 100 && ThreadCount() != before; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ThreadCount(), before);
}

// Files the helpers hold open between asking for the headers and walking
// them are closed whichever way they end: walked, reached first, or still
// queued at the stop.
TEST(Prefetch, StoppingWithReadsQueuedOrInFlightWaitsAndReleases) {
  Corpus corpus;
  size_t files = Entries("/proc/self/fd");
  for (int round = 0; round < 20; ++round) {
    if (round % 4 == 0)
      Evict(corpus.paths);
    Prefetcher *p = Start(8, 32, 0);
    for (const std::string &path : corpus.paths)
      if (!PrefetchFile(p, path.c_str()))
        break;
    if (round % 2)
      PrefetchReached(p);
    StopPrefetcher(p);
  }
  EXPECT_EQ(Entries("/proc/self/fd"), files);
}

TEST(Prefetch, ANullPrefetcherDoesNothing) {
  EXPECT_FALSE(PrefetchFile(nullptr, "a.dll"));
  PrefetchReached(nullptr);
  StopPrefetcher(nullptr);
}

} // namespace
