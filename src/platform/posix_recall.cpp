#include "posix_recall.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

namespace {

struct KeptEntry {
  bool valid;
  char hostPath[kHostPathMax];
  EntryFacts facts;
};

struct KeptLocation {
  bool valid;
  char path[kHostPathMax];
  char hostPath[kHostPathMax];
};

// An expansion names one folder, or a few when names come from several
// arguments' worth of a list; more than that only costs a new resolution.
const size_t kFolders = 4;

struct KeptFolder {
  bool valid;
  char normalised[kHostPathMax];
  char resolved[kHostPathMax];
};

struct KeptFile {
  int fd; // -1 when none is kept
  uint64_t size;
  char path[kHostPathMax];
};

struct KeptListing {
  bool valid;
  char folder[kHostPathMax];
  uint64_t *hashes; // sorted
  size_t count;
};

KeptEntry gEntry;
KeptFile gFile = {-1, 0, {0}};
KeptListing gListing = {false, {0}, nullptr, 0};
KeptLocation gLocation;
KeptFolder gFolders[kFolders];
size_t gNextFolder;

bool CopyInto(char *dst, size_t size, const char *src) {
  size_t len = strlen(src);
  if (len >= size)
    return false;
  memcpy(dst, src, len + 1);
  return true;
}

void DropListing() {
  free(gListing.hashes);
  gListing.valid = false;
  gListing.hashes = nullptr;
  gListing.count = 0;
}

} // namespace

void ForgetAnswers() {
  gEntry.valid = false;
  gLocation.valid = false;
  if (gFile.fd >= 0)
    close(gFile.fd);
  gFile.fd = -1;
}

void ForgetEverything() {
  ForgetAnswers();
  DropListing();
  for (KeptFolder &f : gFolders)
    f.valid = false;
  gNextFolder = 0;
}

void KeepEntry(const char *hostPath, const EntryFacts &facts) {
  gEntry.valid = CopyInto(gEntry.hostPath, sizeof gEntry.hostPath, hostPath);
  gEntry.facts = facts;
}

bool TakeEntry(const char *hostPath, EntryFacts *facts) {
  bool match = gEntry.valid && strcmp(gEntry.hostPath, hostPath) == 0;
  gEntry.valid = false;
  if (match)
    *facts = gEntry.facts;
  return match;
}

void KeepLocation(const char *path, const char *hostPath) {
  gLocation.valid =
      CopyInto(gLocation.path, sizeof gLocation.path, path) &&
      CopyInto(gLocation.hostPath, sizeof gLocation.hostPath, hostPath);
}

bool TakeLocation(const char *path, char *hostPath, size_t hostPathSize) {
  bool match = gLocation.valid && strcmp(gLocation.path, path) == 0 &&
               CopyInto(hostPath, hostPathSize, gLocation.hostPath);
  gLocation.valid = false;
  return match;
}

void KeepFolder(const char *normalised, const char *resolved) {
  KeptFolder &f = gFolders[gNextFolder];
  gNextFolder = (gNextFolder + 1) % kFolders;
  f.valid = CopyInto(f.normalised, sizeof f.normalised, normalised) &&
            CopyInto(f.resolved, sizeof f.resolved, resolved);
}

bool RecallFolder(const char *normalised, char *resolved, size_t size) {
  for (const KeptFolder &f : gFolders)
    if (f.valid && strcmp(f.normalised, normalised) == 0)
      return CopyInto(resolved, size, f.resolved);
  return false;
}

bool InFolderFoundOtherwise(const char *normalised) {
  const char *slash = strrchr(normalised, '/');
  if (slash == nullptr || slash == normalised)
    return false;
  size_t len = static_cast<size_t>(slash - normalised);
  for (const KeptFolder &f : gFolders)
    if (f.valid && strncmp(f.normalised, normalised, len) == 0 &&
        f.normalised[len] == '\0')
      return true;
  return false;
}

void KeepOpenFile(const char *path, int fd, uint64_t size) {
  if (gFile.fd >= 0)
    close(gFile.fd);
  gFile.fd = -1;
  if (!CopyInto(gFile.path, sizeof gFile.path, path)) {
    close(fd);
    return;
  }
  gFile.fd = fd;
  gFile.size = size;
}

int TakeOpenFile(const char *path, uint64_t *size) {
  if (gFile.fd < 0 || strcmp(gFile.path, path) != 0)
    return -1;
  int fd = gFile.fd;
  gFile.fd = -1;
  *size = gFile.size;
  return fd;
}

uint64_t ListingHash(const char *name) {
  // The status queries come in the order of the list, which is close to
  // name order: led by the name's first three bytes, case folded, the
  // sorted keys of successive queries lie side by side, so that a binary
  // search over a large folder's keys mostly finds them in the cache. The
  // rest is 40 bits of FNV-1a over the whole name: two names that begin
  // alike share a key by a chance of about 2^-40, and a name that shares
  // one with a listed file at worst has the status query open it first,
  // which it undoes when the entry is no regular file.
  uint64_t h = 0xcbf29ce484222325ull;
  uint64_t lead = 0;
  size_t i = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
       *p != '\0'; ++p, ++i) {
    h = (h ^ *p) * 0x100000001b3ull;
    if (i < 3)
      lead |= static_cast<uint64_t>(FoldAscii(*p)) << (16 - 8 * i);
  }
  return (lead << 40) | (h >> 24);
}

void KeepListing(const char *folder, uint64_t *hashes, size_t count) {
  DropListing();
  if (!CopyInto(gListing.folder, sizeof gListing.folder, folder)) {
    free(hashes);
    return;
  }
  std::sort(hashes, hashes + count);
  // Held while the whole list is reported: no room to spare.
  if (count != 0)
    if (uint64_t *fitted =
            static_cast<uint64_t *>(realloc(hashes, count * sizeof(uint64_t))))
      hashes = fitted;
  gListing.valid = true;
  gListing.hashes = hashes;
  gListing.count = count;
}

bool ListedAsRegular(const char *normalised) {
  if (!gListing.valid || gListing.count == 0)
    return false;
  const char *slash = strrchr(normalised, '/');
  const char *name = slash == nullptr ? normalised : slash + 1;
  if (slash == nullptr) {
    if (strcmp(gListing.folder, ".") != 0)
      return false;
  } else {
    // The root's entries are "/name".
    size_t len =
        slash == normalised ? 1 : static_cast<size_t>(slash - normalised);
    if (strncmp(gListing.folder, normalised, len) != 0 ||
        gListing.folder[len] != '\0')
      return false;
  }
  return std::binary_search(gListing.hashes, gListing.hashes + gListing.count,
                            ListingHash(name));
}
