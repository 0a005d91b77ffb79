// Read-ahead for a cold page cache, with a few helper threads that walk
// each queued file as the version reader will (headers, resource directory
// path, version resource), so that the report's own reads find the pages
// already in memory.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "byte_source.h"
#include "exe_locate.h"
#include "platform.h"
#include "posix_path.h"
#include "prefetch.h"

// Eight helpers keep the disk's queue full here; a report that takes more
// than 200 microseconds has waited for it (a cached one takes about 20).
const PrefetchSettings kPrefetchDefaults = {8, 16, 200};

namespace {

const unsigned kMaxHelpers = 32;
const size_t kHeaderBytes = 8192;
const unsigned kMaxWindow = 32;

enum SlotState {
  kFree,    // nothing queued, or reached before a helper took it
  kTyped,   // queued as the report will be given it
  kReady,   // turned into a host path, waiting for a helper
  kWorking, // a helper is reading it
  kDone,    // read, or nothing there to read
};

struct Slot {
  uint64_t sequence;
  SlotState state;
  char typed[MAX_PATH];
  char host[kHostPathMax];
};

typedef std::chrono::steady_clock Clock;

} // namespace

struct Prefetcher {
  PrefetchSettings settings;
  std::mutex lock;
  std::condition_variable wake;
  Slot *slots;      // settings.window of them; sequence s in s % window
  uint64_t queued;  // paths queued so far
  uint64_t reached; // of those, paths the report has reached
  bool awake;
  bool stopping;
  unsigned cachedInARow; // files the helpers found cached, one after another
  Clock::time_point lastReached;
  unsigned started;
  std::thread helpers[kMaxHelpers];
};

namespace {

bool ReadFully(int fd, uint64_t off, unsigned char *dst, size_t len) {
  while (len > 0) {
    ssize_t got = pread(fd, dst, len, static_cast<off_t>(off));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    dst += got;
    off += static_cast<uint64_t>(got);
    len -= static_cast<size_t>(got);
  }
  return true;
}

// Reads what the report of path will read, unless its first page is in
// memory already. True when it was not: the cache is cold.
bool WarmFile(const char *path, ByteSource *src, unsigned char *scratch) {
  struct stat st;
  // Regular files only: opening a device can have effects of its own.
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return false;
  bool cold = false;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    // Exactly the pages asked for, without the kernel's read-ahead: the
    // report's reads find them, and nothing else comes from disk. Set
    // before the first read, which would otherwise start a read-ahead
    // window whose marker pages widen it further on later reads.
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    // Fails with EAGAIN when the pages would have to come from disk, and
    // then has asked for them already, as one read: the headers the
    // reader's first window takes. A system that cannot tell counts as
    // cold.
    struct iovec probe = {scratch, kHeaderBytes};
    cold = preadv2(fd, &probe, 1, 0, RWF_NOWAIT) < 0;
    if (cold) {
      InitFileSource(src, fd, static_cast<uint64_t>(st.st_size));
      VersionResource res;
      if (LocateVersionResource(src, &res) == 0)
        ReadFully(fd, res.offset, scratch, res.size);
    }
  }
  close(fd);
  return cold;
}

// The oldest path in the window that waits for a helper.
Slot *NextReady(Prefetcher *p) {
  if (!p->awake)
    return nullptr;
  for (uint64_t s = p->reached; s < p->queued; ++s) {
    Slot *slot = &p->slots[s % p->settings.window];
    if (slot->state == kReady)
      return slot;
  }
  return nullptr;
}

void HelperLoop(Prefetcher *p) {
  ByteSource *src = static_cast<ByteSource *>(malloc(sizeof(ByteSource)));
  unsigned char *scratch =
      static_cast<unsigned char *>(malloc(kMaxVersionResource));
  std::unique_lock<std::mutex> hold(p->lock);
  for (;;) {
    Slot *slot = nullptr;
    while (!p->stopping && (slot = NextReady(p)) == nullptr)
      p->wake.wait(hold);
    if (p->stopping)
      break;
    // A working slot is left alone by the queueing side, so its path can
    // be read without the lock.
    slot->state = kWorking;
    hold.unlock();
    bool cold = src != nullptr && scratch != nullptr &&
                WarmFile(slot->host, src, scratch);
    hold.lock();
    slot->state = slot->sequence < p->reached ? kFree : kDone;
    if (cold)
      p->cachedInARow = 0;
    else if (++p->cachedInARow >= 2 * p->settings.window)
      p->awake = false; // the files are in memory already: rest
  }
  hold.unlock();
  free(scratch);
  free(src);
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
  for (; p->started < p->settings.helpers; ++p->started) {
    try {
      p->helpers[p->started] = std::thread(HelperLoop, p);
    } catch (const std::system_error &) {
      break; // fewer helpers, or none: the reports read for themselves
    }
  }
  p->wake.notify_all();
}

unsigned Clamp(unsigned value, unsigned most) {
  return value < 1 ? 1 : value > most ? most : value;
}

} // namespace

Prefetcher *StartPrefetcher(const PrefetchSettings *settings) {
  Prefetcher *p = new (std::nothrow) Prefetcher();
  if (p == nullptr)
    return nullptr;
  p->settings.helpers = Clamp(settings->helpers, kMaxHelpers);
  p->settings.window = Clamp(settings->window, kMaxWindow);
  p->settings.coldFileMicros = settings->coldFileMicros;
  p->slots = static_cast<Slot *>(calloc(p->settings.window, sizeof(Slot)));
  if (p->slots == nullptr) {
    delete p;
    return nullptr;
  }
  p->lastReached = Clock::now();
  if (p->settings.coldFileMicros == 0) {
    std::lock_guard<std::mutex> hold(p->lock);
    Wake(p);
  }
  return p;
}

bool PrefetchFile(Prefetcher *p, const char *path) {
  if (p == nullptr)
    return false;
  std::lock_guard<std::mutex> hold(p->lock);
  if (p->queued - p->reached >= p->settings.window)
    return false;
  Slot *slot = &p->slots[p->queued % p->settings.window];
  if (slot->state == kWorking)
    return false; // a helper is still on a path reached already
  slot->sequence = p->queued++;
  size_t len = strlen(path);
  if (len >= sizeof slot->typed) {
    slot->state = kDone; // no report reads a path this long
    return true;
  }
  memcpy(slot->typed, path, len + 1);
  slot->state = kTyped;
  if (p->awake) {
    Prepare(slot);
    if (slot->state == kReady)
      p->wake.notify_one();
  }
  return true;
}

void PrefetchReached(Prefetcher *p) {
  if (p == nullptr)
    return;
  Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(p->lock);
  if (p->reached < p->queued) {
    Slot *slot = &p->slots[p->reached % p->settings.window];
    if (slot->state != kWorking)
      slot->state = kFree;
    ++p->reached;
  }
  bool slow = now - p->lastReached >
              std::chrono::microseconds(p->settings.coldFileMicros);
  p->lastReached = now;
  if (slow && !p->awake)
    Wake(p);
}

void StopPrefetcher(Prefetcher *p) {
  if (p == nullptr)
    return;
  {
    std::lock_guard<std::mutex> hold(p->lock);
    p->stopping = true;
    p->wake.notify_all();
  }
  for (unsigned i = 0; i < p->started; ++i)
    p->helpers[i].join();
  free(p->slots);
  delete p;
}
