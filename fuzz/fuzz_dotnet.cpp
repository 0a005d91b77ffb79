// Bytes in as an executable: read its CLI header and metadata (or the
// bundle a host carries) as --dotnet does, from memory and again through
// file windows as the program reads a file (the metadata in one piece up
// to its limit, by windows beyond), which must agree; then write the
// "dotnet" value as the JSON report does, so that whatever the reader
// hands on is also printed.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "byte_source.h"
#include "dotnet_meta.h"
#include "dotnet_report.h"
#include "json_writer.h"

namespace {

std::string Json(const DotnetFacts &facts) {
  JsonWriter w = JsonWriter();
  WriteDotnetJson(&w, &facts);
  return JsonFinish(&w);
}

// The same bytes as a file (in memory, never on disk), read as the
// platform reads a record's file.
bool ReadAsFile(const uint8_t *data, size_t size, DotnetFacts *facts) {
  int fd = memfd_create("fuzz_dotnet", 0);
  if (fd < 0)
    return false;
  bool ok = write(fd, data, size) == static_cast<ssize_t>(size);
  if (ok) {
    FileWindow windows[2];
    ByteSource src;
    InitFileSource(&src, fd, size, windows, 2);
    facts->found = ReadDotnetInfo(&src, &facts->info);
    facts->versionMismatch = -1;
  }
  close(fd);
  return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ByteSource src;
  InitMemorySource(&src, data, size);
  DotnetFacts facts;
  facts.found = ReadDotnetInfo(&src, &facts.info);
  facts.versionMismatch = CompareDotnetVersions(facts.info, nullptr);
  std::string fromMemory = Json(facts);
  DotnetFacts file;
  if (ReadAsFile(data, size, &file) && Json(file) != fromMemory) {
    fprintf(stderr, "memory: %s\nfile:   %s\n", fromMemory.c_str(),
            Json(file).c_str());
    abort();
  }
  return 0;
}
