// Read-ahead for a cold page cache, with a few helper threads that walk
// each queued file as the version reader will (headers, resource directory
// path, version resource), so that the report's own reads find the pages
// already in memory.
//
// Plain POSIX threads and clock: the program links the little of the C++
// runtime it uses into itself, and the runtime's thread support would
// grow that for nothing.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include "byte_source.h"
#include "exe_locate.h"
#include "platform.h"
#include "posix_path.h"
#include "prefetch.h"

// Two helpers do best on two cores (bench/prefetch.sh): they set every
// header read of the window going at once, and more of them only contend
// for the processor that cold reads keep busy. A report that takes more
// than 200 microseconds has waited for the disk; a cached one takes 20.
const PrefetchSettings kPrefetchDefaults = {2, 16, 200};

namespace {

const unsigned kMaxHelpers = 32;
// Slow reports in a row that wake the helpers. On a cold cache every
// report is slow; on a warm one a report is now and then, when the
// processor was taken from it, and one thread started for that makes every
// later stdio call and system call of the run take a lock.
const unsigned kSlowToWake = 2;
const size_t kHeaderBytes = sizeof(FileWindow().bytes);
const unsigned kMaxWindow = 32;

enum SlotState {
  kFree,    // nothing queued, or reached and finished with
  kTyped,   // queued as the report will be given it
  kReady,   // turned into a host path, waiting for a helper
  kOpening, // a helper is opening it and asking for its headers
  kStarted, // its headers are on their way; the slot holds it open
  kWalking, // a helper is walking it to its version resource
  kDone,    // read, or nothing there to read
};

struct Slot {
  uint64_t sequence;
  SlotState state;
  int fd;        // open while started
  uint64_t size; // the file's size when opened
  char typed[MAX_PATH];
  char host[kHostPathMax];
};

} // namespace

struct Prefetcher {
  PrefetchSettings settings;
  pthread_mutex_t lock;
  pthread_cond_t wake;
  Slot *slots;      // settings.window of them; sequence s in s % window
  uint64_t queued;  // paths queued so far
  uint64_t reached; // of those, paths the report has reached
  bool awake;
  bool stopping;
  unsigned cachedInARow; // files the helpers found cached, one after another
  unsigned slowInARow;  // reports slower than coldFileMicros, one after another
  uint64_t lastReached; // microseconds, monotonic
  unsigned started;     // helpers running; only the queueing thread writes it
  pthread_t helpers[kMaxHelpers];
};

namespace {

// Opens the file of a ready slot and asks for its headers without waiting
// for them; the slot keeps the file open when they have to come from disk.
// True when they did: the cache is cold.
bool StartFile(Slot *slot, unsigned char *scratch) {
  struct stat st;
  // Regular files only: opening a device can have effects of its own.
  if (stat(slot->host, &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  int fd = open(slot->host, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return false;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    close(fd);
    return false;
  }
  // Exactly the pages asked for, without the kernel's read-ahead: the
  // report's reads find them, and nothing else comes from disk. Set before
  // the first read, which would otherwise start a read-ahead window whose
  // marker pages widen it further on later reads.
  posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  // Fails with EAGAIN when the headers (what the reader's first window
  // takes) would have to come from disk; a system that cannot tell counts
  // as cold. The hint then starts their read, if the probe has not.
  struct iovec probe = {scratch, kHeaderBytes};
  if (preadv2(fd, &probe, 1, 0, RWF_NOWAIT) >= 0) {
    close(fd);
    return false;
  }
  posix_fadvise(fd, 0, kHeaderBytes, POSIX_FADV_WILLNEED);
  slot->fd = fd;
  slot->size = static_cast<uint64_t>(st.st_size);
  return true;
}

// Walks a started file as the version reader will, which reads its
// resource directory path, and asks for its version resource; then closes
// it.
void FinishFile(Slot *slot, FileWindow *window) {
  VersionResource res;
  if (window != nullptr) {
    ByteSource src;
    InitFileSource(&src, slot->fd, slot->size, window);
    if (LocateVersionResource(&src, &res) == kReasonNone)
      posix_fadvise(slot->fd, static_cast<off_t>(res.offset),
                    static_cast<off_t>(res.size), POSIX_FADV_WILLNEED);
  }
  close(slot->fd);
  slot->fd = -1;
}

// The work a helper takes next: starting the oldest file not yet started,
// which costs little and sets a read going, else walking the oldest
// started one.
Slot *NextWork(Prefetcher *p) {
  if (!p->awake)
    return nullptr;
  Slot *started = nullptr;
  for (uint64_t s = p->reached; s < p->queued; ++s) {
    Slot *slot = &p->slots[s % p->settings.window];
    if (slot->state == kReady)
      return slot;
    if (slot->state == kStarted && started == nullptr)
      started = slot;
  }
  return started;
}

void *HelperLoop(void *arg) {
  Prefetcher *p = static_cast<Prefetcher *>(arg);
  FileWindow *window = static_cast<FileWindow *>(malloc(sizeof(FileWindow)));
  unsigned char *scratch = static_cast<unsigned char *>(malloc(kHeaderBytes));
  pthread_mutex_lock(&p->lock);
  for (;;) {
    Slot *slot = nullptr;
    while (!p->stopping && (slot = NextWork(p)) == nullptr)
      pthread_cond_wait(&p->wake, &p->lock);
    if (p->stopping)
      break;
    // A slot in a helper's hands is left alone by the queueing side, so
    // it can be worked on without the lock.
    bool starting = slot->state == kReady;
    slot->state = starting ? kOpening : kWalking;
    pthread_mutex_unlock(&p->lock);
    // Without memory to work with, files are left to their reports.
    bool cold = false;
    if (starting && window != nullptr && scratch != nullptr)
      cold = StartFile(slot, scratch);
    else if (!starting)
      FinishFile(slot, window);
    pthread_mutex_lock(&p->lock);
    if (slot->sequence < p->reached) {
      if (cold)
        close(slot->fd); // reached meanwhile: its report reads for itself
      slot->fd = -1;
      slot->state = kFree;
    } else {
      slot->state = cold ? kStarted : kDone;
      if (cold)
        pthread_cond_signal(&p->wake);
    }
    if (!starting)
      continue;
    if (cold)
      p->cachedInARow = 0;
    else if (++p->cachedInARow >= 2 * p->settings.window)
      p->awake = false; // the files are in memory already: rest
  }
  pthread_mutex_unlock(&p->lock);
  free(scratch);
  free(window);
  return nullptr;
}

uint64_t NowMicros() {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
    return 0;
  return static_cast<uint64_t>(now.tv_sec) * 1000000u +
         static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

// Turns a queued path into the host path the report will open. Runs on the
// queueing thread, the one the path functions serve.
void Prepare(Slot *slot) {
  slot->state =
      NormalisePath(slot->typed, true, slot->host, sizeof slot->host) == 0
          ? kReady
          : kDone;
}

void Wake(Prefetcher *p) {
  p->awake = true;
  p->cachedInARow = 0;
  for (uint64_t s = p->reached; s < p->queued; ++s) {
    Slot *slot = &p->slots[s % p->settings.window];
    if (slot->state == kTyped)
      Prepare(slot);
  }
  for (; p->started < p->settings.helpers; ++p->started)
    if (pthread_create(&p->helpers[p->started], nullptr, HelperLoop, p) != 0)
      break; // fewer helpers, or none: the reports read for themselves
  pthread_cond_broadcast(&p->wake);
}

unsigned Clamp(unsigned value, unsigned most) {
  return value < 1 ? 1 : value > most ? most : value;
}

} // namespace

Prefetcher *StartPrefetcher(const PrefetchSettings *settings) {
  Prefetcher *p = static_cast<Prefetcher *>(calloc(1, sizeof(Prefetcher)));
  if (p == nullptr)
    return nullptr;
  p->settings.helpers = Clamp(settings->helpers, kMaxHelpers);
  p->settings.window = Clamp(settings->window, kMaxWindow);
  p->settings.coldFileMicros = settings->coldFileMicros;
  p->slots = static_cast<Slot *>(calloc(p->settings.window, sizeof(Slot)));
  if (p->slots == nullptr || pthread_mutex_init(&p->lock, nullptr) != 0) {
    free(p->slots);
    free(p);
    return nullptr;
  }
  if (pthread_cond_init(&p->wake, nullptr) != 0) {
    pthread_mutex_destroy(&p->lock);
    free(p->slots);
    free(p);
    return nullptr;
  }
  p->lastReached = NowMicros();
  if (p->settings.coldFileMicros == 0) {
    pthread_mutex_lock(&p->lock);
    Wake(p);
    pthread_mutex_unlock(&p->lock);
  }
  return p;
}

namespace {

// The queueing thread is the only one there is until it starts helpers,
// and the only one that starts them: until then it takes no lock, which
// a warm walk would otherwise take twice a file for nothing.
bool Lock(Prefetcher *p) {
  if (p->started == 0)
    return false;
  pthread_mutex_lock(&p->lock);
  return true;
}

void Unlock(Prefetcher *p, bool locked) {
  if (locked)
    pthread_mutex_unlock(&p->lock);
}

} // namespace

bool PrefetchQueueing(const Prefetcher *p) {
  return p != nullptr && (p->started != 0 || p->awake);
}

bool PrefetchFile(Prefetcher *p, const char *path) {
  if (p == nullptr)
    return false;
  bool queued = false;
  bool locked = Lock(p);
  Slot *slot = &p->slots[p->queued % p->settings.window];
  // A slot in a helper's hands holds a path reached already that the
  // helper is still on.
  if (p->queued - p->reached < p->settings.window && slot->state != kOpening &&
      slot->state != kWalking) {
    slot->sequence = p->queued++;
    queued = true;
    size_t len = strlen(path);
    if (len >= sizeof slot->typed) {
      slot->state = kDone; // no report reads a path this long
    } else {
      memcpy(slot->typed, path, len + 1);
      slot->state = kTyped;
      if (p->awake) {
        Prepare(slot);
        if (slot->state == kReady)
          pthread_cond_signal(&p->wake);
      }
    }
  }
  Unlock(p, locked);
  return queued;
}

namespace {

// The oldest queued path is reached: the report reads its file for itself
// now. A slot in a helper's hands is freed by the helper, which sees it
// reached. Called with the lock held.
void LetGoOfOldest(Prefetcher *p) {
  Slot *slot = &p->slots[p->reached % p->settings.window];
  if (slot->state == kStarted)
    close(slot->fd);
  if (slot->state != kOpening && slot->state != kWalking)
    slot->state = kFree;
  ++p->reached;
}

} // namespace

void PrefetchReached(Prefetcher *p) {
  if (p == nullptr)
    return;
  uint64_t now = NowMicros();
  bool locked = Lock(p);
  if (p->reached < p->queued)
    LetGoOfOldest(p);
  bool slow = now - p->lastReached > p->settings.coldFileMicros;
  p->lastReached = now;
  p->slowInARow = slow ? p->slowInARow + 1 : 0;
  if (p->slowInARow >= kSlowToWake && !p->awake) {
    // The helpers it starts take the lock as they begin.
    if (!locked) {
      pthread_mutex_lock(&p->lock);
      locked = true;
    }
    Wake(p);
  }
  Unlock(p, locked);
}

void PrefetchSettle(Prefetcher *p) {
  if (p == nullptr)
    return;
  bool locked = Lock(p);
  while (p->reached < p->queued)
    LetGoOfOldest(p);
  p->lastReached = NowMicros();
  p->slowInARow = 0;
  Unlock(p, locked);
}

void StopPrefetcher(Prefetcher *p) {
  if (p == nullptr)
    return;
  pthread_mutex_lock(&p->lock);
  p->stopping = true;
  pthread_cond_broadcast(&p->wake);
  pthread_mutex_unlock(&p->lock);
  for (unsigned i = 0; i < p->started; ++i)
    pthread_join(p->helpers[i], nullptr);
  for (unsigned i = 0; i < p->settings.window; ++i)
    if (p->slots[i].state == kStarted)
      close(p->slots[i].fd);
  pthread_cond_destroy(&p->wake);
  pthread_mutex_destroy(&p->lock);
  free(p->slots);
  free(p);
}
