#include "driver.h"

#include <stdio.h>
#include <string.h>

#include "match.h"
#include "report.h"

namespace {

const char kMaker[] = "Korvane ";
const char kVersion[] = "4.02";
const char kBuildStamp[] = "11/17/95 14:59";
const char kNotice[] = "Copyright (C) Korvane 1995. All rights reserved.";

// Paths live in buffers of the platform's limit: 259 characters and a zero.
const size_t kPathBuffer = 260;

void PrintUsage() {
  printf("\nusage:\tquelvo filename(s)");
  printf("\n\tYou can use wildcards and multiple filenames.");
}

// A path that does not fit is never cut short silently: it is named and
// left alone.
void ReportTooLong(const char *head, const char *tail) {
  printf("\n%s%s is longer than %u characters and was not examined.", head,
         tail, static_cast<unsigned>(kPathBuffer - 1));
}

// The length of a pattern's directory prefix: up to and including its last
// ':', '\' or '/'. The slash counts too, since on POSIX systems paths are
// written with it.
size_t PrefixLength(const char *pattern) {
  size_t prefix = strlen(pattern);
  while (prefix > 0 && pattern[prefix - 1] != ':' &&
         pattern[prefix - 1] != '\\' && pattern[prefix - 1] != '/')
    --prefix;
  return prefix;
}

// Builds the pattern's directory prefix followed by name in buffer; false
// when the result does not fit.
bool ComposePath(const char *pattern, const char *name, char *buffer) {
  size_t prefix = PrefixLength(pattern);
  size_t nameLen = strlen(name);
  if (prefix + nameLen >= kPathBuffer)
    return false;
  memcpy(buffer, pattern, prefix);
  memcpy(buffer + prefix, name, nameLen + 1);
  return true;
}

void ReportMatches(const char *pattern, MatchList list, bool detailed) {
  char buffer[kPathBuffer];
  for (MatchNode *node = list; node != nullptr; node = node->next) {
    if (!ComposePath(pattern, node->name, buffer)) {
      char prefix[kPathBuffer];
      size_t prefixLen = PrefixLength(pattern);
      memcpy(prefix, pattern, prefixLen);
      prefix[prefixLen] = '\0';
      ReportTooLong(prefix, node->name);
      continue;
    }
    int status = CheckRegularFile(buffer);
    if (status == 107)
      continue; // a directory: passed over silently
    if (status != 0) {
      ReportStatus(113, buffer);
      continue;
    }
    if (ReportVersion(buffer, detailed) != 0)
      printf("\n%s does not contain version information.\n", buffer);
  }
}

} // namespace

void ReportStatus(int code, const char *path) {
  if (path == nullptr)
    path = "";
  switch (code) {
  case -1:
    printf("\nOut of memory while processing file\n%s.", path);
    break;
  case 100:
  case 112:
    printf("\n%s is not a Win32 executable.", path);
    break;
  case 101:
  case 102:
  case 103:
  case 104:
  case 105:
  case 106:
    printf("\n%s -- %i:\n%s.",
           "Call to Microsoft version library VER.DLL failed", code, path);
    break;
  case 108:
    PrintUsage();
    break;
  case 109:
    printf("\nNo file specified.");
    PrintUsage();
    break;
  case 110:
    printf("\nUnable to read file %s.", path);
    printf("\n%s is not an executable file.", path);
    break;
  case 111:
    printf("\n%s is not an executable file.", path);
    break;
  case 113:
    printf("\nUnable to open file %s.", path);
    break;
  case 114:
    printf("\n%s was not found", path);
    break;
  default:
    printf("\nInternal Error: %s -- %i.", path, code);
    break;
  }
}

int RunQuelvo(int argc, char **argv) {
  if (argc < 2) {
    ReportStatus(109, nullptr);
    return 0;
  }
  if (strcmp(argv[1], "-?") == 0) {
    ReportStatus(108, nullptr);
    printf("\n");
    return 0;
  }
  bool detailed = strcmp(argv[1], "-d") == 0;
  printf("\n");
  printf("%s Win32 Executable Version Checker %s %s\n", kMaker, kVersion,
         kBuildStamp);
  printf("%s\n", kNotice);
  if (argv[1][0] == '-' && (argv[1][1] == 'v' || argv[1][1] == 'V'))
    return -1;

  MatchList list = nullptr;
  for (int i = detailed ? 2 : 1; i < argc; ++i) {
    if (list != nullptr) {
      FreeMatchList(list);
      list = nullptr;
    }
    const char *pattern = argv[i];
    if (strlen(pattern) >= kPathBuffer) {
      ReportTooLong(pattern, "");
      continue;
    }
    ExpandPattern(pattern, &list);
    if (list == nullptr) {
      ReportStatus(114, pattern);
      continue;
    }
    ReportMatches(pattern, list, detailed);
  }
  FreeMatchList(list);
  printf("\n");
  return 0;
}
