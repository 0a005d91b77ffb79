// The signature service on the Windows API: the record's one source read
// through the reader, the catalog folder walked with the directory search
// (each catalog opened by path for shared reading), and the cryptography
// CryptoAPI's.
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "byte_source.h"
#include "platform_extra.h"
#include "signature.h"

struct SignatureChecks {
  SignatureSetup *setup;
};

namespace {

// Opens a path for shared reading as a C runtime descriptor, with its
// size; -1 when it cannot be opened.
int OpenShared(const char *path, uint64_t *size) {
  HANDLE handle =
      CreateFileA(path, GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return -1;
  LARGE_INTEGER length;
  if (!GetFileSizeEx(handle, &length) || length.QuadPart < 0) {
    CloseHandle(handle);
    return -1;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                           _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return -1;
  }
  *size = static_cast<uint64_t>(length.QuadPart);
  return fd;
}

bool EndsWithCat(const char *name) {
  size_t length = strlen(name);
  return length > 4 && _stricmp(name + length - 4, ".cat") == 0;
}

const int kMaxCatalogDepth = 6;

// Every catalog below folder, in name order, links and junctions not
// entered; names are composed with the separator the folder was named
// with.
void WalkCatalogs(SignatureSetup *setup, const std::string &folder,
                  char separator, int depth) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  std::vector<std::pair<std::string, DWORD>> names;
  do
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
      names.push_back({found.cFileName, found.dwFileAttributes});
  while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  FileWindow *window = static_cast<FileWindow *>(malloc(sizeof(FileWindow)));
  for (const auto &entry : names) {
    std::string path = folder + separator + entry.first;
    if ((entry.second & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      if (EndsWithCat(entry.first.c_str()))
        SkipCatalog(setup, path.c_str(), kCatalogNotRegular);
      continue;
    }
    if ((entry.second & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (depth < kMaxCatalogDepth)
        WalkCatalogs(setup, path, separator, depth + 1);
      continue;
    }
    uint64_t size;
    int fd;
    if (!EndsWithCat(entry.first.c_str()))
      continue;
    if (window == nullptr || (fd = OpenShared(path.c_str(), &size)) < 0) {
      SkipCatalog(setup, path.c_str(), kCatalogCannotOpen);
      continue;
    }
    ByteSource src;
    InitFileSource(&src, fd, size, window);
    AddCatalog(setup, path.c_str(), &src);
    _close(fd);
  }
  free(window);
}

} // namespace

SignatureChecks *PrepareSignatureChecks(const SignatureOptions &options,
                                        std::string *error) {
  SignatureSetup *setup = OpenSignatureSetup(options, error);
  if (setup == nullptr)
    return nullptr;
  if (options.catalogDir != nullptr) {
    DWORD attributes = GetFileAttributesA(options.catalogDir);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      *error =
          std::string("cannot read the catalog folder ") + options.catalogDir;
      CloseSignatureSetup(setup);
      return nullptr;
    }
    std::string folder = options.catalogDir;
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/'))
      folder.pop_back();
    size_t last = folder.find_last_of("\\/");
    WalkCatalogs(setup, folder, last == std::string::npos ? '\\' : folder[last],
                 0);
  }
  SignatureChecks *checks = new (std::nothrow) SignatureChecks{setup};
  if (checks == nullptr) {
    *error = "out of memory";
    CloseSignatureSetup(setup);
  }
  return checks;
}

void SignatureCheckNotes(const SignatureChecks *checks,
                         std::vector<std::string> *lines) {
  lines->clear();
  if (checks != nullptr)
    SetupNotes(checks->setup, lines);
}

void ReleaseSignatureChecks(SignatureChecks *checks) {
  if (checks == nullptr)
    return;
  CloseSignatureSetup(checks->setup);
  delete checks;
}

int QueryRecordSignature(ByteSource *source, const SignatureChecks *checks,
                         SignatureFacts *facts) {
  *facts = SignatureFacts();
  facts->status = kSignatureUnreadable;
  facts->problem = "read-failed";
  if (source == nullptr)
    return -1;
  ExamineSignature(source, checks->setup, facts);
  return 0;
}

int QueryRecordSignature(FileRecord *record, const SignatureChecks *checks,
                         SignatureFacts *facts) {
  return QueryRecordSignature(RecordSource(record), checks, facts);
}
