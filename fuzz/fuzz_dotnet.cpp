// Bytes in as an executable: read its CLI header and metadata (or the
// bundle a host carries) as --dotnet does, then write the "dotnet" value
// as the JSON report does, so that whatever the reader hands on is also
// printed.
#include <stddef.h>
#include <stdint.h>

#include "byte_source.h"
#include "dotnet_meta.h"
#include "dotnet_report.h"
#include "json_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ByteSource src;
  InitMemorySource(&src, data, size);
  DotnetFacts facts;
  facts.found = ReadDotnetInfo(&src, &facts.info);
  facts.versionMismatch = CompareDotnetVersions(facts.info, nullptr);
  JsonWriter w = JsonWriter();
  WriteDotnetJson(&w, &facts);
  std::string text = JsonFinish(&w);
  volatile size_t sink = text.size();
  (void)sink;
  return 0;
}
