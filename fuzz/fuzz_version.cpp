// Bytes in as an executable image: locate the version resource, lay it out
// as a block, and ask it everything a report asks, plus keys bent by the
// input itself.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_block.h"
#include "platform.h"
#include "version_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  unsigned long length;
  unsigned char *block = PreparedBlock(data, size, &length);
  if (block == nullptr)
    return 0;
  // The last few input bytes choose an odd key to try as well.
  char odd[64];
  size_t n = size < 16 ? size : 16;
  memcpy(odd, "\\StringFileInfo\\", 16);
  memcpy(odd + 16, data + size - n, n);
  odd[16 + n] = '\0';
  const char *queries[] = {"\\",
                           "",
                           nullptr,
                           "\\VarFileInfo\\Translation",
                           "\\StringFileInfo\\040904b0\\CompanyName",
                           "\\StringFileInfo\\040904E4\\FileDescription",
                           "\\\\StringFileInfo\\\\040904b0\\FileVersion\\",
                           "\\StringFileInfo",
                           "\\VarFileInfo",
                           odd};
  for (const char *q : queries) {
    LPVOID value = nullptr;
    UINT len = 0;
    if (VerQueryValueA(block, q, &value, &len) && value != nullptr) {
      // What a report does with the answer: read a string, or a record.
      volatile size_t sink = strlen(static_cast<const char *>(value));
      (void)sink;
    }
  }
  // The one-pass lookup of a table's strings must answer as a query
  // per name does, on a copy of the block as it was before.
  unsigned char *copy = static_cast<unsigned char *>(malloc(length));
  memcpy(copy, block, length);
  const char *names[] = {"CompanyName", "FileDescription", "FileVersion",
                         odd + 16};
  const size_t count = sizeof names / sizeof names[0];
  unsigned char *values[count];
  unsigned lengths[count];
  bool found[count];
  QueryVersionValues(copy, "\\StringFileInfo\\040904b0", names, count, values,
                     lengths, found);
  for (size_t i = 0; i < count; ++i) {
    char path[96];
    snprintf(path, sizeof path, "\\StringFileInfo\\040904b0\\%s", names[i]);
    unsigned char *value = nullptr;
    unsigned len = 0;
    bool want = QueryVersionBlock(block, path, &value, &len);
    if (found[i] != want ||
        (want && (values[i] - copy != value - block || lengths[i] != len)))
      abort();
  }
  if (memcmp(copy, block, length) != 0)
    abort();
  free(copy);
  free(block);
  return 0;
}
