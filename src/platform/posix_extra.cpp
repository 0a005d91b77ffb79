// The long options' services over our own reader: the same walk and the
// same code page table as the emulated version library, so that a value
// found here is the one the classic report finds.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "byte_source.h"
#include "codepage1252.h"
#include "platform_extra.h"
#include "posix_open.h"
#include "posix_path.h"
#include "unicode_text.h"
#include "version_strings.h"

void AppendUnitsAsUtf8(const char16_t *units, size_t count, std::string *out) {
  AppendUtf16AsUtf8(units, count, out);
}

void AppendUnitsAsAnsi(const char16_t *units, size_t count, std::string *out) {
  for (size_t i = 0; i < count; ++i)
    out->push_back(static_cast<char>(UnicodeToCp1252(units[i])));
}

void AppendPathAsUtf8(const char *path, std::string *out) {
  size_t len = 0;
  while (path[len] != '\0')
    ++len;
  AppendBytesAsUtf8(path, len, out);
}

bool QueryVersionTextUtf8(const void *block, size_t blockSize,
                          const char *subBlock, std::string *out) {
  out->clear();
  std::u16string text;
  if (!QueryVersionText(block, blockSize, subBlock, &text))
    return false;
  AppendUtf16AsUtf8(text.data(), text.size(), out);
  return true;
}

namespace {

// One parked file: the description opens a file just before the version
// library opens the same path, so the descriptor is passed on, not closed.
struct ParkedFile {
  char path[kHostPathMax];
  int fd;
  uint64_t size;
};
ParkedFile gParked = {{0}, -1, 0};

void DropParked() {
  if (gParked.fd >= 0)
    close(gParked.fd);
  gParked.fd = -1;
  gParked.path[0] = '\0';
}

void Park(const char *path, int fd, uint64_t size) {
  DropParked();
  size_t len = strlen(path);
  if (len >= sizeof gParked.path) {
    close(fd);
    return;
  }
  memcpy(gParked.path, path, len + 1);
  gParked.fd = fd;
  gParked.size = size;
}

} // namespace

int TakeParkedFile(const char *path, uint64_t *size) {
  if (gParked.fd < 0 || strcmp(gParked.path, path) != 0) {
    DropParked();
    return -1;
  }
  int fd = gParked.fd;
  *size = gParked.size;
  gParked.fd = -1;
  gParked.path[0] = '\0';
  return fd;
}

int QueryImageDescription(const char *path, ImageInfo *info,
                          std::vector<uint16_t> *languages) {
  info->kind = kKindUnknown;
  info->machine = 0;
  languages->clear();
  uint64_t size;
  int fd = OpenRegularFile(path, &size);
  if (fd < 0)
    return -1;
  // The source carries an 8 KiB window: on the heap, not the stack.
  ByteSource *src = static_cast<ByteSource *>(malloc(sizeof(ByteSource)));
  if (src != nullptr) {
    InitFileSource(src, fd, size);
    if (ReadImageInfo(src, info) == 0 &&
        (info->kind == kKindPe32 || info->kind == kKindPe32Plus))
      ListVersionLanguages(src, languages);
    free(src);
  }
  // The version library is asked about this file next.
  Park(path, fd, size);
  return info->kind == kKindUnknown ? -1 : 0;
}

bool IsLinkOrReparsePoint(const char *path) {
  char normal[kHostPathMax];
  if (NormalisePath(path, true, normal, sizeof normal) != 0)
    return false;
  struct stat st;
  if (lstat(normal, &st) == 0)
    return S_ISLNK(st.st_mode);
  char real[kHostPathMax];
  return ResolvePath(normal, real, sizeof real) == 0 && lstat(real, &st) == 0 &&
         S_ISLNK(st.st_mode);
}
