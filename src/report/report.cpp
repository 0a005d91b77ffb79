#include "report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "platform_extra.h"

namespace {

const DWORD kPrivateBuildFlag = 0x08; // VS_FF_PRIVATEBUILD
const DWORD kSpecialBuildFlag = 0x20; // VS_FF_SPECIALBUILD

// Looks a string of the translation's table up by name; false if absent.
bool QueryString(void *block, DWORD translation, const char *name,
                 const char **value) {
  char subBlock[256];
  snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\%s",
           static_cast<unsigned>(translation & 0xFFFFu),
           static_cast<unsigned>(translation >> 16), name);
  LPVOID pointer = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block, subBlock, &pointer, &length))
    return false;
  *value = static_cast<const char *>(pointer);
  return true;
}

// The loaded block and how its values are printed.
struct Values {
  void *block;
  DWORD size;
  DWORD translation;
  bool utf8;
};

// Looks a value up and prints it; false, printing nothing, if absent.
bool PrintValue(const Values &v, const char *name) {
  if (v.utf8) {
    char subBlock[256];
    snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\%s",
             static_cast<unsigned>(v.translation & 0xFFFFu),
             static_cast<unsigned>(v.translation >> 16), name);
    std::string text;
    if (!QueryVersionTextUtf8(v.block, v.size, subBlock, &text))
      return false;
    PrintSafeUtf8(text.data(), text.size());
    return true;
  }
  const char *value;
  if (!QueryString(v.block, v.translation, name, &value))
    return false;
  PrintSafeString(value);
  return true;
}

// A labelled string that must be there: the label is printed before the
// lookup, so a missing value leaves the label at the end of the output.
bool PrintRequired(const Values &v, const char *label, const char *name) {
  fputs(label, stdout);
  return PrintValue(v, name);
}

void PrintOptional(const Values &v, const char *label, const char *name) {
  printf(label, "   ");
  PrintValue(v, name);
}

// Everything after the block is loaded; the caller frees it.
int ReportLoaded(const char *path, void *block, DWORD size,
                 const TextOptions &options) {
  LPVOID pointer = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", &pointer, &length))
    return kStatusNoTranslation;
  // Only the first entry counts. A value shorter than one entry is read as
  // far as it goes and the rest taken as zero, never past the value.
  unsigned char entry[4] = {0, 0, 0, 0};
  memcpy(entry, pointer, length < sizeof entry ? length : sizeof entry);
  DWORD translation = static_cast<DWORD>(entry[0]) |
                      (static_cast<DWORD>(entry[1]) << 8) |
                      (static_cast<DWORD>(entry[2]) << 16) |
                      (static_cast<DWORD>(entry[3]) << 24);

  Values values = {block, size, translation, options.utf8};
  printf("\n");
  printf("\nProgram Name:  %s%s", "    ", path);
  printf("\nCompany Name:  %s", "    ");
  if (!PrintValue(values, "CompanyName"))
    return kStatusNoCompanyName;
  if (!PrintRequired(values, "\nFile Description:  ", "FileDescription"))
    return kStatusNoDescription;
  if (!PrintRequired(values, "\nVersion String:    ", "FileVersion"))
    return kStatusNoVersionString;

  if (!VerQueryValueA(block, "\\", &pointer, &length))
    return kStatusNoFixedInfo;
  VS_FIXEDFILEINFO fixed;
  memcpy(&fixed, pointer, sizeof fixed);
  if (fixed.dwFileFlags & kPrivateBuildFlag)
    PrintOptional(values, "\nPrivate Build:  %s", "PrivateBuild");
  if (fixed.dwFileFlags & kSpecialBuildFlag)
    PrintOptional(values, "\nSpecial Build:  %s", "SpecialBuild");
  if (options.allStrings)
    PrintOtherStrings(block, size, translation, fixed.dwFileFlags,
                      options.utf8);
  if (options.detailed) {
    int status = ReportFixedInfo(block, translation, options.utf8);
    if (status != 0)
      return status;
  }
  printf("\n");
  return 0;
}

} // namespace

int ReportVersion(const char *path, bool detailed) {
  TextOptions options = {detailed, false, false};
  return ReportVersionWith(path, options);
}

int ReportVersionWith(const char *path, const TextOptions &options) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0)
    return kStatusNoVersionInfo;
  void *block = malloc(size);
  if (block == nullptr)
    return kStatusOutOfMemory;
  int result = kStatusReadFailed;
  if (GetFileVersionInfoA(path, handle, size, block))
    result = ReportLoaded(path, block, size, options);
  free(block);
  return result;
}

void PrintSafeString(const char *text) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
       *p != '\0'; ++p)
    putchar(*p >= 0x20 && *p <= 0x7E ? *p : ' ');
}
