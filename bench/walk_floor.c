/* The I/O floor for a recursive walk: the least work any version reader
 * must do to report every file below a folder. Each folder is opened by a
 * descriptor relative to its parent and listed once; each regular file gets
 * what floor.c's probe gives it (stat, open, a 4 KiB pread at the start and
 * one over the last 4 KiB, close, one short line), with the calls made
 * relative to the folder's descriptor, so that no path is resolved twice.
 *
 * usage: walk_floor DIR     every file below DIR, at any depth
 *        walk_floor         nothing: start-up and exit alone, for counting
 *                           the calls that belong to no file
 */
#define _DEFAULT_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define DIR_FLAGS (O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)

static unsigned char buf[4096];
static char path[4096]; /* the entry's path, for the output line only */

static void probe(int dfd, const char *name) {
  struct stat st;
  /* Followed, as stat() follows: a link to a file is a file here too. */
  if (fstatat(dfd, name, &st, 0) != 0) {
    printf("%s: not found\n", path);
    return;
  }
  if (!S_ISREG(st.st_mode))
    return;
  int fd = openat(dfd, name, O_RDONLY | O_CLOEXEC);
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

/* Takes over dfd. len is the length of the folder's path in path[],
 * separator included. A subfolder is entered as soon as it is met, while
 * its parent stays open, so every folder is read exactly once. */
static int walk(int dfd, size_t len) {
  DIR *d = fdopendir(dfd);
  if (d == NULL) {
    close(dfd);
    return 1;
  }
  int failed = 0;
  struct dirent *e;
  while ((e = readdir(d)) != NULL) {
    const char *name = e->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
      continue;
    size_t n = strlen(name);
    if (len + n + 2 > sizeof path)
      continue;
    memcpy(path + len, name, n + 1);
    /* The type readdir gives spares a stat of every folder; a file system
     * that gives none leaves it to the stat that every file gets anyway. */
    int folder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      folder = fstatat(dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISDIR(st.st_mode);
    }
    if (!folder) {
      probe(dirfd(d), name);
      continue;
    }
    /* O_NOFOLLOW: a link to a folder is not entered, so the walk cannot
     * loop, as quelvo's walk does not follow them either. */
    int sub = openat(dirfd(d), name, DIR_FLAGS);
    if (sub < 0) {
      printf("%s: cannot read folder\n", path);
      failed = 1;
      continue;
    }
    path[len + n] = '/';
    path[len + n + 1] = '\0';
    failed |= walk(sub, len + n + 1);
  }
  closedir(d);
  return failed;
}

int main(int argc, char **argv) {
  static char out[1 << 16];
  setvbuf(stdout, out, _IOFBF, sizeof out);
  if (argc < 2)
    return 0;
  if (argc > 2) {
    fprintf(stderr, "usage: walk_floor [DIR]\n");
    return 2;
  }
  size_t len = strlen(argv[1]);
  if (len + 2 > sizeof path) {
    fprintf(stderr, "walk_floor: %s: name too long\n", argv[1]);
    return 1;
  }
  /* The folder named on the command line is followed if it is a link. */
  int dfd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) {
    fprintf(stderr, "walk_floor: %s: %s\n", argv[1], strerror(errno));
    return 1;
  }
  memcpy(path, argv[1], len + 1);
  if (len == 0 || path[len - 1] != '/')
    path[len++] = '/';
  path[len] = '\0';
  return walk(dfd, len);
}
