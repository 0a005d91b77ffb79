// The signature service over POSIX: the module that holds it loaded on
// demand, the record's one source read through the reader, and the
// catalog folder walked with the directory calls.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "byte_source.h"
#include "platform_extra.h"
#include "signature_module.h"

#if !defined(QUELVO_MODULE_DIR) || !defined(QUELVO_MODULE_FROM_PROGRAM)
#error                                                                         \
    "QUELVO_MODULE_DIR and QUELVO_MODULE_FROM_PROGRAM come from CMakeLists.txt"
#endif

struct SignatureChecks {
  void *handle; // the module, open
  const SignatureModule *module;
  SignatureSetup *setup;
};

namespace {

// The module beside the program (a build tree), else where the program's
// own installation put it, else where it is installed by default.
const SignatureModule *LoadModule(void **handle, std::string *error) {
  std::vector<std::string> places;
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string program(self, static_cast<size_t>(length));
    size_t slash = program.rfind('/');
    if (slash != std::string::npos) {
      std::string folder = program.substr(0, slash + 1);
      places.push_back(folder + QUELVO_SIGNATURE_MODULE_FILE);
      places.push_back(folder + QUELVO_MODULE_FROM_PROGRAM + "/" +
                       QUELVO_SIGNATURE_MODULE_FILE);
    }
  }
  places.push_back(std::string(QUELVO_MODULE_DIR) + "/" +
                   QUELVO_SIGNATURE_MODULE_FILE);
  std::string why;
  for (const std::string &place : places) {
    if (access(place.c_str(), F_OK) != 0)
      continue;
    *handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (*handle == nullptr) {
      const char *text = dlerror();
      why = text != nullptr ? text : place;
      continue;
    }
    using Entry = const SignatureModule *(*)();
    Entry entry =
        reinterpret_cast<Entry>(dlsym(*handle, QUELVO_SIGNATURE_MODULE_ENTRY));
    const SignatureModule *module = entry != nullptr ? entry() : nullptr;
    if (module != nullptr && module->version == kSignatureModuleVersion)
      return module;
    dlclose(*handle);
    why = place + " is of another build";
  }
  *handle = nullptr;
  *error = "--signature needs " + places.back() +
           (why.empty() ? std::string(", which is not installed") : ": " + why);
  return nullptr;
}

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
void WalkCatalogs(const SignatureChecks *checks, int folder,
                  const std::string &path, int depth) {
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
    // The type first, from the entry itself: a FIFO or a device is never
    // opened (opening one may block, or do something), and a link is not
    // followed.
    std::string full = path + "/" + name;
    bool catalog = EndsWithCat(name.c_str());
    struct stat st;
    if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (catalog)
        checks->module->skipCatalog(checks->setup, full.c_str(),
                                    kCatalogCannotOpen);
      continue;
    }
    bool subfolder = S_ISDIR(st.st_mode) && depth < kMaxCatalogDepth;
    if (!subfolder && !(catalog && S_ISREG(st.st_mode))) {
      if (catalog && !S_ISDIR(st.st_mode))
        checks->module->skipCatalog(checks->setup, full.c_str(),
                                    kCatalogNotRegular);
      continue;
    }
    int fd = openat(dirfd(dir), name.c_str(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    // Asked again of the open file: the entry may have been replaced.
    if (fd < 0 || fstat(fd, &st) != 0) {
      if (fd >= 0)
        close(fd);
      if (catalog)
        checks->module->skipCatalog(checks->setup, full.c_str(),
                                    kCatalogCannotOpen);
    } else if (subfolder && S_ISDIR(st.st_mode)) {
      WalkCatalogs(checks, fd, full, depth + 1);
    } else if (!subfolder && S_ISREG(st.st_mode)) {
      FileWindow window;
      ByteSource src;
      InitFileSource(&src, fd, static_cast<uint64_t>(st.st_size), &window);
      checks->module->addCatalog(checks->setup, full.c_str(), &src);
      close(fd);
    } else {
      if (catalog)
        checks->module->skipCatalog(checks->setup, full.c_str(),
                                    kCatalogNotRegular);
      close(fd);
    }
  }
  closedir(dir);
}

} // namespace

SignatureChecks *PrepareSignatureChecks(const SignatureOptions &options,
                                        std::string *error) {
  SignatureChecks *checks = new (std::nothrow) SignatureChecks();
  if (checks == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  checks->module = LoadModule(&checks->handle, error);
  if (checks->module != nullptr)
    checks->setup = checks->module->openSetup(options, error);
  if (checks->setup == nullptr) {
    ReleaseSignatureChecks(checks);
    return nullptr;
  }
  if (options.catalogDir == nullptr)
    return checks;
  int folder = open(options.catalogDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    *error =
        std::string("cannot read the catalog folder ") + options.catalogDir;
    ReleaseSignatureChecks(checks);
    return nullptr;
  }
  std::string path = options.catalogDir;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  WalkCatalogs(checks, folder, path, 0);
  return checks;
}

void SignatureCheckNotes(const SignatureChecks *checks,
                         std::vector<std::string> *lines) {
  lines->clear();
  if (checks != nullptr && checks->setup != nullptr)
    checks->module->setupNotes(checks->setup, lines);
}

void ReleaseSignatureChecks(SignatureChecks *checks) {
  if (checks == nullptr)
    return;
  if (checks->setup != nullptr)
    checks->module->closeSetup(checks->setup);
  // The module stays loaded to the end: libcrypto and the C++ runtime it
  // brought keep state of their own until the process ends, which an
  // unloaded library would leave without an owner.
  delete checks;
}

int QueryRecordSignature(ByteSource *source, const SignatureChecks *checks,
                         SignatureFacts *facts) {
  *facts = SignatureFacts();
  facts->status = kSignatureUnreadable;
  facts->problem = "read-failed";
  if (source == nullptr)
    return -1;
  // Read from start to end, as --hash reads.
  if (source->fd >= 0)
    posix_fadvise(source->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  checks->module->examine(source, checks->setup, facts);
  return 0;
}

int QueryRecordSignature(FileRecord *record, const SignatureChecks *checks,
                         SignatureFacts *facts) {
  return QueryRecordSignature(RecordSource(record), checks, facts);
}
