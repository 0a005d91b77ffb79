// The prefetcher's own workings: how far ahead it queues, and that it
// stops without a file left open or a call on a null prefetcher doing
// anything.
#include "prefetch.h"
#include "prefetch_support.h"
#include "test_support.h"

namespace {

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

// A settled list's queue is let go whole: the next list queues a full
// window, however many of the last one were reached.
TEST(Prefetch, SettlingLetsGoOfTheQueueForTheNextList) {
  Prefetcher *p = Start(1, 3, 1000000);
  ASSERT_NE(p, nullptr);
  for (int list = 0; list < 3; ++list) {
    EXPECT_TRUE(PrefetchFile(p, "/nonexistent/a.dll")) << list;
    EXPECT_TRUE(PrefetchFile(p, "/nonexistent/b.dll")) << list;
    EXPECT_TRUE(PrefetchFile(p, "/nonexistent/c.dll")) << list;
    EXPECT_FALSE(PrefetchFile(p, "/nonexistent/d.dll")) << list;
    for (int i = 0; i < list; ++i)
      PrefetchReached(p);
    PrefetchSettle(p);
  }
  PrefetchSettle(p); // twice, or with nothing queued: nothing changes
  EXPECT_TRUE(PrefetchFile(p, "/nonexistent/a.dll"));
  StopPrefetcher(p);
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
    if (round % 3 == 2) {
      // Let go of a list with reads in flight, and queue the next.
      PrefetchSettle(p);
      for (const std::string &path : corpus.paths)
        if (!PrefetchFile(p, path.c_str()))
          break;
    }
    StopPrefetcher(p);
  }
  EXPECT_EQ(Entries("/proc/self/fd"), files);
}

TEST(Prefetch, ANullPrefetcherDoesNothing) {
  EXPECT_FALSE(PrefetchQueueing(nullptr));
  EXPECT_FALSE(PrefetchFile(nullptr, "a.dll"));
  PrefetchReached(nullptr);
  PrefetchSettle(nullptr);
  StopPrefetcher(nullptr);
}

} // namespace
