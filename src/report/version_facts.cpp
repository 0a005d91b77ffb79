#include "version_facts.h"

#include <stdlib.h>
#include <string.h>

#include "platform_extra.h"
#include "status.h"
#include "version_strings.h"

namespace {

// Copies up to len bytes of a value that a lookup returned, never from
// outside the block; the rest of out is zero.
void CopyFromBlock(const void *block, size_t blockSize, const void *value,
                   void *out, size_t len) {
  memset(out, 0, len);
  const unsigned char *start = static_cast<const unsigned char *>(block);
  const unsigned char *at = static_cast<const unsigned char *>(value);
  if (at < start || at >= start + blockSize)
    return;
  size_t inside = static_cast<size_t>(start + blockSize - at);
  memcpy(out, at, len < inside ? len : inside);
}

// "\StringFileInfo\llllcccc\" and the name, as the report composes it
// (lowercase hexadecimal), without the cost of formatted printing.
void StringPath(uint32_t translation, const char *name, char (&out)[64]) {
  static const char kHex[] = "0123456789abcdef";
  static const char kHead[] = "\\StringFileInfo\\";
  memcpy(out, kHead, sizeof kHead - 1);
  char *p = out + sizeof kHead - 1;
  uint32_t language = translation & 0xFFFFu, codePage = translation >> 16;
  for (int shift = 12; shift >= 0; shift -= 4)
    *p++ = kHex[(language >> shift) & 0xF];
  for (int shift = 12; shift >= 0; shift -= 4)
    *p++ = kHex[(codePage >> shift) & 0xF];
  *p++ = '\\';
  size_t len = strlen(name);
  if (len > static_cast<size_t>(out + sizeof out - 1 - p))
    len = static_cast<size_t>(out + sizeof out - 1 - p);
  memcpy(p, name, len);
  p[len] = '\0';
}

// Whether the text report's lookup of a string would find it. Asked of the
// lossless lookup, which finds the same values without converting them to
// the ANSI code page first.
bool HasString(void *block, DWORD size, uint32_t translation,
               const char *name) {
  char subBlock[64];
  StringPath(translation, name, subBlock);
  return HasVersionText(block, size, subBlock);
}

int GatherLoaded(void *block, DWORD size, VersionFacts *f) {
  LPVOID pointer = nullptr;
  UINT length = 0;
  if (VerQueryValueA(block, "\\", &pointer, &length)) {
    f->hasFixed = true;
    CopyFromBlock(block, size, pointer, &f->fixed, sizeof f->fixed);
  }
  if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", &pointer, &length))
    return kStatusNoTranslation;
  f->hasTranslations = true;
  // The value's own length says how many entries it holds; the block's end
  // bounds it all the same.
  std::vector<unsigned char> raw(length);
  if (length > 0)
    CopyFromBlock(block, size, pointer, raw.data(), length);
  for (size_t i = 0; i + 4 <= raw.size(); i += 4)
    f->translations.push_back(
        static_cast<uint32_t>(raw[i] | (raw[i + 1] << 8) | (raw[i + 2] << 16) |
                              (static_cast<uint32_t>(raw[i + 3]) << 24)));
  // The report reads the first entry as far as the value goes.
  unsigned char entry[4] = {0, 0, 0, 0};
  CopyFromBlock(block, size, pointer, entry,
                length < sizeof entry ? length : sizeof entry);
  f->translation =
      static_cast<uint32_t>(entry[0] | (entry[1] << 8) | (entry[2] << 16) |
                            (static_cast<uint32_t>(entry[3]) << 24));

  std::vector<VersionString> strings;
  if (ListVersionStrings(block, size, f->translation, &strings)) {
    f->hasTable = true;
    f->strings.resize(strings.size());
    for (size_t i = 0; i < strings.size(); ++i) {
      AppendUnitsAsUtf8(strings[i].key.data(), strings[i].key.size(),
                        &f->strings[i].key);
      AppendUnitsAsUtf8(strings[i].value.data(), strings[i].value.size(),
                        &f->strings[i].value);
    }
  }

  // The stages of the text report, in its order.
  if (!HasString(block, size, f->translation, "CompanyName"))
    return kStatusNoCompanyName;
  if (!HasString(block, size, f->translation, "FileDescription"))
    return kStatusNoDescription;
  if (!HasString(block, size, f->translation, "FileVersion"))
    return kStatusNoVersionString;
  if (!f->hasFixed)
    return kStatusNoFixedInfo;
  return kStatusOk;
}

} // namespace

int GatherVersionFacts(const char *path, VersionFacts *f) {
  *f = VersionFacts();
  ExpectImageDescription(path);
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  QueryImageDescription(path, &f->image, &f->languages);
  if (size == 0)
    return kStatusNoVersionInfo;
  void *block = malloc(size);
  if (block == nullptr)
    return kStatusOutOfMemory;
  int result = kStatusReadFailed;
  if (GetFileVersionInfoA(path, handle, size, block))
    result = GatherLoaded(block, size, f);
  free(block);
  return result;
}
