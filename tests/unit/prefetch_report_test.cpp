// Read-ahead as the driver runs it, in front of real reports: the reports
// come out as they do without it, whatever the helpers read first, and the
// helpers wake only once a report is slow.
#include <stdio.h>

#include <chrono>
#include <thread>

#include "prefetch.h"
#include "prefetch_support.h"
#include "report.h"
#include "test_support.h"

namespace {

// Reports paths as the driver will with a prefetcher: queued in report
// order as far ahead as it takes them, PrefetchReached before each queued
// one is reported.
std::string ReportAll(Prefetcher *p, const std::vector<std::string> &paths) {
  return CaptureOutput([&] {
    size_t ahead = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
      if (ahead == i)
        ++ahead; // never queued
      PrefetchReached(p);
      while (PrefetchQueueing(p) && ahead < paths.size() &&
             PrefetchFile(p, paths[ahead].c_str()))
        ++ahead;
      printf("[%d]", ReportVersion(paths[i].c_str(), true));
    }
  });
}

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

// Fast reports never wake the helpers: a warm run starts no thread, and
// queues no path. Nor does one slow report among fast ones (the processor
// was taken from it); two slow ones in a row do, and only then are paths
// worth queueing.
TEST(Prefetch, HelpersStartOnlyAfterASlowReport) {
  Corpus corpus;
  size_t before = ThreadCount();
  Prefetcher *p = Start(3, 8, 1000000);
  EXPECT_FALSE(PrefetchQueueing(p));
  ReportAll(p, corpus.paths);
  EXPECT_EQ(ThreadCount(), before);
  EXPECT_FALSE(PrefetchQueueing(p));
  StopPrefetcher(p);

  p = Start(3, 8, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  PrefetchReached(p);
  EXPECT_EQ(ThreadCount(), before);
  EXPECT_FALSE(PrefetchQueueing(p));
  // A settle in between starts the count again: one more slow report
  // after it is the first in a row.
  PrefetchSettle(p);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  PrefetchReached(p);
  EXPECT_EQ(ThreadCount(), before);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  PrefetchReached(p);
  EXPECT_EQ(ThreadCount(), before + 3);
  EXPECT_TRUE(PrefetchQueueing(p));
  ASSERT_TRUE(PrefetchFile(p, corpus.paths[0].c_str()));
  StopPrefetcher(p);
  // A joined thread leaves the task list a moment after it has ended.
  for (int i = 0; i < 100 && ThreadCount() != before; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ThreadCount(), before);
}

} // namespace
