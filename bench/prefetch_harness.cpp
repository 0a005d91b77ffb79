// Compares ways of reading ahead for a cold page cache, on the real report
// path: the harness expands one pattern as quelvo does and reports every
// match with -d, while one of these warms the files ahead of the report.
//
//   prefetch_harness MODE PATTERN
//
//   off          nothing ahead: the files are read one after another
//   module[:N[:W]]  the prefetcher, its N helpers woken by a slow report,
//                W paths ahead (16 unless given)
//   awake[:N[:W]]   the same, its helpers awake from the start
//   fadvise      POSIX_FADV_WILLNEED over each file's first 8 KiB, from the
//                reporting thread (all that is known before parsing)
//   uring        the same first 8 KiB read through io_uring (only when
//                built with liburing)
//
// Every mode keeps 16 files ahead of the report, and every mode prints
// the same reports, which the caller can compare.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifdef QUELVO_HAVE_LIBURING
#include <liburing.h>
#endif

#include "match.h"
#include "posix_path.h"
#include "prefetch.h"
#include "report.h"

namespace {

const unsigned kAhead = 16;
const size_t kHintBytes = 8192;

struct Composer {
  const char *pattern;
  size_t prefix;
  char buffer[MAX_PATH];
};

const char *Compose(Composer *c, const MatchNode *node) {
  size_t len = strlen(node->name);
  if (c->prefix + len >= sizeof c->buffer)
    return nullptr;
  memcpy(c->buffer, c->pattern, c->prefix);
  memcpy(c->buffer + c->prefix, node->name, len + 1);
  return c->buffer;
}

void ReportOne(const char *path) {
  char buffer[MAX_PATH];
  snprintf(buffer, sizeof buffer, "%s", path);
  if (CheckRegularFile(buffer) != 0)
    return;
  if (ReportVersion(buffer, true) != 0)
    printf("\n%s does not contain version information.\n", buffer);
}

int OpenHost(const char *path) {
  char host[kHostPathMax];
  if (NormalisePath(path, true, host, sizeof host) != 0)
    return -1;
  return open(host, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// A hint for the first pages of one file.
void Advise(const char *path) {
  int fd = OpenHost(path);
  if (fd < 0)
    return;
  posix_fadvise(fd, 0, kHintBytes, POSIX_FADV_WILLNEED);
  close(fd);
}

#ifdef QUELVO_HAVE_LIBURING
struct UringAhead {
  struct io_uring ring;
  int fds[kAhead];
  unsigned char buffers[kAhead][kHintBytes];
  unsigned inFlight;
};

// Reaps every finished read, or waits for one when wait is set.
void Reap(UringAhead *u, bool wait) {
  struct io_uring_cqe *cqe;
  while (u->inFlight > 0 && (wait ? io_uring_wait_cqe(&u->ring, &cqe)
                                  : io_uring_peek_cqe(&u->ring, &cqe)) == 0) {
    unsigned slot = static_cast<unsigned>(io_uring_cqe_get_data64(cqe));
    close(u->fds[slot]);
    u->fds[slot] = -1;
    io_uring_cqe_seen(&u->ring, cqe);
    --u->inFlight;
    wait = false;
  }
}

void Submit(UringAhead *u, const char *path) {
  unsigned slot = 0;
  while (u->fds[slot] >= 0) {
    if (++slot == kAhead) {
      Reap(u, true);
      slot = 0;
    }
  }
  int fd = OpenHost(path);
  if (fd < 0)
    return;
  struct io_uring_sqe *sqe = io_uring_get_sqe(&u->ring);
  io_uring_prep_read(sqe, fd, u->buffers[slot], kHintBytes, 0);
  io_uring_sqe_set_data64(sqe, slot);
  io_uring_submit(&u->ring);
  u->fds[slot] = fd;
  ++u->inFlight;
}
#endif

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: prefetch_harness MODE PATTERN\n");
    return 2;
  }
  const char *mode = argv[1];
  Composer composer = {argv[2], 0, {0}};
  for (size_t i = strlen(argv[2]); i > 0; --i)
    if (argv[2][i - 1] == '/' || argv[2][i - 1] == '\\') {
      composer.prefix = i;
      break;
    }
  static char out[1 << 16];
  setvbuf(stdout, out, _IOFBF, sizeof out);

  MatchList list = nullptr;
  ExpandPattern(argv[2], &list);

  Prefetcher *prefetcher = nullptr;
  bool hints = strcmp(mode, "fadvise") == 0;
  bool uring = strcmp(mode, "uring") == 0;
  if (strncmp(mode, "module", 6) == 0 || strncmp(mode, "awake", 5) == 0) {
    PrefetchSettings settings = kPrefetchDefaults;
    settings.window = kAhead;
    const char *count = strchr(mode, ':');
    if (count != nullptr) {
      settings.helpers = static_cast<unsigned>(atoi(count + 1));
      const char *window = strchr(count + 1, ':');
      if (window != nullptr)
        settings.window = static_cast<unsigned>(atoi(window + 1));
    }
    if (mode[0] == 'a')
      settings.coldFileMicros = 0;
    prefetcher = StartPrefetcher(&settings);
  } else if (strcmp(mode, "off") != 0 && !hints && !uring) {
    fprintf(stderr, "prefetch_harness: unknown mode %s\n", mode);
    return 2;
  }
#ifdef QUELVO_HAVE_LIBURING
  UringAhead *u = nullptr;
  if (uring) {
    u = static_cast<UringAhead *>(calloc(1, sizeof *u));
    if (u == nullptr || io_uring_queue_init(kAhead, &u->ring, 0) != 0) {
      fprintf(stderr, "prefetch_harness: no io_uring\n");
      return 2;
    }
    for (unsigned i = 0; i < kAhead; ++i)
      u->fds[i] = -1;
  }
#else
  if (uring) {
    fprintf(stderr, "prefetch_harness: built without liburing\n");
    return 2;
  }
#endif

  // The protocol the driver follows: PrefetchReached before each file is
  // reported, and paths queued in report order as far ahead as the
  // prefetcher takes them, once it says they are worth queueing. The hint
  // modes keep the same distance by hand.
  MatchNode *ahead = list;
  unsigned hinted = 0; // hint modes: files hinted beyond the current one
  for (MatchNode *node = list; node != nullptr; node = node->next) {
    if (prefetcher != nullptr) {
      if (ahead == node)
        ahead = node->next; // never queued: reported without a hint
      PrefetchReached(prefetcher);
      const char *path;
      while (PrefetchQueueing(prefetcher) && ahead != nullptr &&
             (path = Compose(&composer, ahead)) != nullptr &&
             PrefetchFile(prefetcher, path))
        ahead = ahead->next;
    } else if (hints || uring) {
      if (ahead == node)
        ahead = node->next;
      else
        --hinted;
      for (; ahead != nullptr && hinted < kAhead; ahead = ahead->next) {
        const char *path = Compose(&composer, ahead);
        if (path == nullptr)
          continue;
        ++hinted;
        if (hints)
          Advise(path);
#ifdef QUELVO_HAVE_LIBURING
        else
          Submit(u, path);
#endif
      }
#ifdef QUELVO_HAVE_LIBURING
      if (uring)
        Reap(u, false);
#endif
    }
    const char *path = Compose(&composer, node);
    if (path != nullptr)
      ReportOne(path);
  }
  StopPrefetcher(prefetcher);
#ifdef QUELVO_HAVE_LIBURING
  if (uring) {
    while (u->inFlight > 0)
      Reap(u, true);
    io_uring_queue_exit(&u->ring);
    free(u);
  }
#endif
  FreeMatchList(list);
  printf("\n");
  return 0;
}
