/* The I/O floor for the benchmark: the least work any version reader must
 * do per file. For each file it does stat, open, a 4 KiB pread at the start
 * and one over the last 4 KiB (or whatever exists), close, and prints one
 * short line, so that output cost is comparable to quelvo's report.
 *
 * usage: floor path...      every argument is a file; nothing is expanded
 *        floor -r DIR       every entry of DIR, listed with readdir, for
 *                           folders too large for one argument list
 */
#define _POSIX_C_SOURCE 200809L
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static unsigned char buf[4096];

static void probe(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0) {
    printf("%s: not found\n", path);
    return;
  }
  if (!S_ISREG(st.st_mode))
    return; /* quelvo passes over directories silently too */
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    printf("%s: cannot open\n", path);
    return;
  }
  off_t tail =
      st.st_size > (off_t)sizeof buf ? st.st_size - (off_t)sizeof buf : 0;
  ssize_t a = pread(fd, buf, sizeof buf, 0);
  ssize_t b = pread(fd, buf, sizeof buf, tail);
  close(fd);
  printf("%s: %lld bytes, read %zd+%zd\n", path, (long long)st.st_size, a, b);
}

static int probe_dir(const char *dir) {
  DIR *d = opendir(dir);
  if (d == NULL) {
    fprintf(stderr, "floor: %s: %s\n", dir, strerror(errno));
    return 1;
  }
  char path[4096];
  struct dirent *e;
  while ((e = readdir(d)) != NULL) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
      continue;
    snprintf(path, sizeof path, "%s/%s", dir, e->d_name);
    probe(path);
  }
  closedir(d);
  return 0;
}

int main(int argc, char **argv) {
  static char out[1 << 16];
  setvbuf(stdout, out, _IOFBF, sizeof out);
  if (argc == 3 && strcmp(argv[1], "-r") == 0)
    return probe_dir(argv[2]);
  for (int i = 1; i < argc; ++i)
    probe(argv[i]);
  return 0;
}
