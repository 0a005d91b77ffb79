// The signature service over POSIX: the record's file opened where the
// status query found it and read through the reader, and the catalog
// folder walked with the directory calls.
#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "byte_source.h"
#include "platform_extra.h"
#include "posix_record.h"
#include "signature.h"

namespace {

bool EndsWithCat(const char *name) {
  size_t length = strlen(name);
  return length > 4 && strcasecmp(name + length - 4, ".cat") == 0;
}

// A CatRoot holds its catalogs a folder or two down; deeper is no
// catalog folder, and links are not followed, so the walk ends.
const int kMaxCatalogDepth = 6;

// Reads every catalog below folder (an open descriptor, closed here), in
// name order so that the catalog that lists a hash first is the same on
// every run.
void WalkCatalogs(SignatureSetup *setup, int folder, const std::string &path,
                  int depth) {
  DIR *dir = fdopendir(folder);
  if (dir == nullptr) {
    close(folder);
    return;
  }
  std::vector<std::string> names;
  while (struct dirent *entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    int fd = openat(dirfd(dir), name.c_str(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      continue;
    struct stat st;
    if (fstat(fd, &st) != 0) {
      close(fd);
    } else if (S_ISDIR(st.st_mode) && depth < kMaxCatalogDepth) {
      WalkCatalogs(setup, fd, path + "/" + name, depth + 1);
    } else if (S_ISREG(st.st_mode) && EndsWithCat(name.c_str())) {
      FileWindow window;
      ByteSource src;
      InitFileSource(&src, fd, static_cast<uint64_t>(st.st_size), &window);
      AddCatalog(setup, (path + "/" + name).c_str(), &src);
      close(fd);
    } else {
      close(fd);
    }
  }
  closedir(dir);
}

} // namespace

SignatureSetup *PrepareSignatureChecks(const SignatureOptions &options,
                                       std::string *error) {
  SignatureSetup *setup = OpenSignatureSetup(options, error);
  if (setup == nullptr || options.catalogDir == nullptr)
    return setup;
  int folder = open(options.catalogDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    *error =
        std::string("cannot read the catalog folder ") + options.catalogDir;
    CloseSignatureSetup(setup);
    return nullptr;
  }
  std::string path = options.catalogDir;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  WalkCatalogs(setup, folder, path, 0);
  return setup;
}

void ReleaseSignatureChecks(SignatureSetup *setup) {
  CloseSignatureSetup(setup);
}

int QueryRecordSignature(FileRecord *record, const SignatureSetup *setup,
                         SignatureFacts *facts) {
  *facts = SignatureFacts();
  facts->status = kSignatureUnreadable;
  facts->problem = "read-failed";
  FileState *state = record->state;
  if (state == nullptr)
    return -1;
  uint64_t size;
  int fd = OpenRecordFile(record, &size);
  if (fd < 0)
    return -1;
  ByteSource src;
  InitFileSource(&src, fd, size, state->windows, 2);
  ExamineSignature(&src, setup, facts);
  close(fd);
  return 0;
}
