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
#include "version_block.h"
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

void QueryVersionValuesA(void *block, const char *parentPath,
                         const char *const *names, size_t count,
                         const char **values) {
  for (size_t done = 0; done < count;) {
    size_t step = count - done;
    if (step > kMaxQueryValues)
      step = kMaxQueryValues;
    unsigned char *found[kMaxQueryValues];
    unsigned lengths[kMaxQueryValues];
    bool ok[kMaxQueryValues];
    QueryVersionValues(static_cast<unsigned char *>(block), parentPath,
                       names + done, step, found, lengths, ok);
    for (size_t i = 0; i < step; ++i)
      values[done + i] =
          ok[i] ? reinterpret_cast<const char *>(found[i]) : nullptr;
    done += step;
  }
}

namespace {

// What the version library's last locate of one path read on the way, kept
// for the long options' description of the same file: one entry, asked for
// before the size query and taken right after it.
struct Noted {
  char path[kHostPathMax];
  bool expected; // asked for, not yet located
  bool noted;    // located, not yet taken
  ImageInfo info;
  std::vector<uint16_t> languages;
};
Noted gNoted = {{0}, false, false, {kKindUnknown, 0}, {}};

} // namespace

void ExpectImageDescription(const char *path) {
  size_t len = strlen(path);
  gNoted.noted = false;
  gNoted.expected = len < sizeof gNoted.path;
  if (gNoted.expected)
    memcpy(gNoted.path, path, len + 1);
}

int LocateNoting(const char *path, ByteSource *src, VersionResource *res) {
  if (!gNoted.expected || strcmp(gNoted.path, path) != 0)
    return LocateVersionResource(src, res);
  gNoted.expected = false;
  gNoted.noted = true;
  return LocateAndDescribe(src, res, &gNoted.info, &gNoted.languages);
}

int QueryImageDescription(const char *path, ImageInfo *info,
                          std::vector<uint16_t> *languages) {
  info->kind = kKindUnknown;
  info->machine = 0;
  languages->clear();
  if (gNoted.noted && strcmp(gNoted.path, path) == 0) {
    gNoted.noted = false;
    *info = gNoted.info;
    languages->swap(gNoted.languages);
    return info->kind == kKindUnknown ? -1 : 0;
  }
  gNoted.expected = gNoted.noted = false;
  uint64_t size;
  int fd = OpenRegularFile(path, &size);
  if (fd < 0)
    return -1;
  // The reader's window is large: on the heap, not the stack.
  FileWindow *window = static_cast<FileWindow *>(malloc(sizeof(FileWindow)));
  if (window != nullptr) {
    ByteSource source;
    ByteSource *src = &source;
    InitFileSource(src, fd, size, window);
    if (ReadImageInfo(src, info) == 0 &&
        (info->kind == kKindPe32 || info->kind == kKindPe32Plus))
      ListVersionLanguages(src, languages);
    free(window);
  }
  close(fd);
  return info->kind == kKindUnknown ? -1 : 0;
}

bool IsLinkOrReparsePoint(const char *path) {
  // The entry the status query reads: as spelled first, then the Windows
  // reading of the path.
  char entry[kHostPathMax];
  struct stat st;
  if (NormalisePath(path, false, entry, sizeof entry) == 0 &&
      lstat(entry, &st) == 0)
    return S_ISLNK(st.st_mode);
  return LocateEntry(path, entry, sizeof entry) == 0 &&
         lstat(entry, &st) == 0 && S_ISLNK(st.st_mode);
}
