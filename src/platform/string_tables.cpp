// The string tables of a version block, as the reader walks them: the
// same walk on every system, since no version library lists the tables.
#include "platform_extra.h"
#include "version_strings.h"

bool ListTableStrings(const void *block, size_t blockSize, uint32_t translation,
                      std::vector<VersionString> *out) {
  return ListVersionStrings(block, blockSize, translation, out);
}

bool ListStringTables(const void *block, size_t blockSize, uint32_t translation,
                      std::vector<VersionTable> *out, size_t *chosen) {
  return ListVersionTables(block, blockSize, translation, out, chosen);
}

bool VisitStringTables(const void *block, size_t blockSize,
                       uint32_t translation, const VersionTableSink &sink,
                       size_t *chosen) {
  return VisitVersionTables(block, blockSize, translation, sink, chosen);
}
