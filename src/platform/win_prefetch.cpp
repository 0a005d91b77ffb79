// Windows fills its cache for its own version service; there is nothing
// to warm here, and every call does nothing.
#include "prefetch.h"

const PrefetchSettings kPrefetchDefaults = {1, 1, 0};

Prefetcher *StartPrefetcher(const PrefetchSettings *) { return nullptr; }

bool PrefetchQueueing(const Prefetcher *) { return false; }

bool PrefetchFile(Prefetcher *, const char *) { return false; }

void PrefetchReached(Prefetcher *) {}

void PrefetchSettle(Prefetcher *) {}

void StopPrefetcher(Prefetcher *) {}
