// Bytes in as a file on disk: the whole detailed report through the file
// reader, exactly as the program runs it.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static char path[64];
  if (path[0] == '\0') {
    snprintf(path, sizeof path, "/tmp/quelvo-fuzz-%d.exe",
             static_cast<int>(getpid()));
    // Reports go nowhere: only crashes, leaks and hangs matter here.
    if (freopen("/dev/null", "w", stdout) == nullptr)
      abort();
  }
  FILE *f = fopen(path, "wb");
  if (f == nullptr)
    return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  ReportVersion(path, true);
  return 0;
}
