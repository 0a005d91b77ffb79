// The C runtime's own status query, as the program always used it.
#include <sys/stat.h>

#include "platform.h"

int QueryFileMode(const char *path, unsigned *mode) {
  struct _stat status;
  if (_stat(path, &status) != 0)
    return -1;
  *mode = status.st_mode;
  return 0;
}
