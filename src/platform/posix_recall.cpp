#include "posix_recall.h"

#include <string.h>

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

KeptEntry gEntry;
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

} // namespace

void ForgetAnswers() {
  gEntry.valid = false;
  gLocation.valid = false;
}

void ForgetEverything() {
  ForgetAnswers();
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
