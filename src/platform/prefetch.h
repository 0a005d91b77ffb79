// Warming the page cache for the files a run is about to report.
//
// On a cold cache every report waits for its reads in turn. Helper threads
// read ahead, a bounded number of files before the report: each file's
// headers, its resource directory path and its version resource, the
// ranges the report will read. They only fill the cache; the report reads
// every byte it uses itself, so nothing prefetched can change an answer,
// and a file that changes in between is answered from what the report
// reads.
//
// Helpers start only when reports turn out slow enough to have waited
// for the disk, two in a row, and rest again once they find the files
// already cached, so that a warm run or a single file costs no more than
// before.
//
// Use: queue the paths in report order, as far ahead as PrefetchFile
// accepts (while PrefetchQueueing says so), and call PrefetchReached just
// before each file (queued or not) is reported; PrefetchSettle after a
// list's last report, before the next list's paths are queued. Every call
// accepts a null Prefetcher and then does nothing; on Windows
// StartPrefetcher gives null.
#ifndef QUELVO_PREFETCH_H
#define QUELVO_PREFETCH_H

struct Prefetcher;

struct PrefetchSettings {
  unsigned helpers;        // threads that read ahead, 1 to 32
  unsigned window;         // paths queued ahead at most, 1 to 32
  unsigned coldFileMicros; // a report slower than this wakes the helpers;
                           // 0 keeps them awake from the start
};

extern const PrefetchSettings kPrefetchDefaults;

// Null when there is no memory for it.
Prefetcher *StartPrefetcher(const PrefetchSettings *settings);

// Whether paths queued now are worth their copies: false until the first
// slow reports wake the helpers, as long as none has ever started (a warm
// run's whole life). A path not queued is simply not read ahead.
bool PrefetchQueueing(const Prefetcher *prefetcher);

// Queues the path of a file to be reported, as the report will be given
// it. False when the window is full; the caller tries again after the next
// PrefetchReached.
bool PrefetchFile(Prefetcher *prefetcher, const char *path);

// The oldest queued path is about to be reported: helpers leave it alone
// unless they have started on it already.
void PrefetchReached(Prefetcher *prefetcher);

// The reports of one list are out: paths still queued are let go (a
// helper drops what it is on), and the time until the next list's first
// report (a folder listed meanwhile) is not taken for a slow report. The
// helpers, awake or resting, stay for the next list: a walk of many
// folders starts them once, not once a folder.
void PrefetchSettle(Prefetcher *prefetcher);

// Waits for the reads in progress, stops the helpers and frees everything.
void StopPrefetcher(Prefetcher *prefetcher);

#endif
