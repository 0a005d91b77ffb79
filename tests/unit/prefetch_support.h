// What the prefetcher's tests share: a prefetcher started with given
// settings, counts of threads and open files, files made cold, and a folder
// of images to read ahead. Its own workings are the platform's tests
// (prefetch_test.cpp); that reports come out the same with it reading
// ahead are the report's (prefetch_report_test.cpp), as they need it.
#ifndef QUELVO_PREFETCH_SUPPORT_H
#define QUELVO_PREFETCH_SUPPORT_H

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "prefetch.h"
#include "test_support.h"

// A prefetcher with these settings; null without memory for it.
inline Prefetcher *Start(unsigned helpers, unsigned window,
                         unsigned coldFileMicros) {
  PrefetchSettings settings = {helpers, window, coldFileMicros};
  return StartPrefetcher(&settings);
}

// Entries in a folder, dot entries left out.
inline size_t Entries(const char *folder) {
  size_t n = 0;
  if (DIR *dir = opendir(folder)) {
    while (struct dirent *e = readdir(dir))
      if (e->d_name[0] != '.')
        ++n;
    closedir(dir);
  }
  return n;
}

// Threads of this process.
inline size_t ThreadCount() { return Entries("/proc/self/task"); }

// Drops the files' pages from the cache, so that the helpers find them
// cold and hold them open between their two steps (where the file system
// keeps its files in the cache, as tmpfs does, they stay warm).
inline void Evict(const std::vector<std::string> &paths) {
  for (const std::string &path : paths) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
      continue;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
}

// A folder of real images, and entries that are not regular files or not
// there at all, which the helpers must pass over without blocking.
struct Corpus {
  ScratchDir dir;
  std::vector<std::string> paths;
  Corpus() {
    const char *images[] = {"basic.dll",      "app32.exe",     "app64.exe",
                            "d_lang0414.dll", "nocompany.dll", "norsrc.dll"};
    for (int i = 0; i < 60; ++i) {
      std::string name = std::to_string(i) + "-" + images[i % 6];
      paths.push_back(dir.Add(name, ReadFile(Fixture(images[i % 6]))));
    }
    std::string fifo = dir.path() + "/pipe.dll";
    EXPECT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    paths.insert(paths.begin() + 5, fifo);
    paths.insert(paths.begin() + 9, dir.AddDir("sub.dll"));
    paths.insert(paths.begin() + 11, dir.path() + "/missing.dll");
    paths.insert(paths.begin() + 13, std::string(300, 'x'));
  }
};

#endif
