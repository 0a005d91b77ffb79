// Helpers shared by the unit tests: scratch directories and output capture.
#ifndef QUELVO_TEST_SUPPORT_H
#define QUELVO_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

// A fresh directory under /tmp (or base), removed with everything in it at
// the end; path() is empty when it could not be made.
class ScratchDir {
public:
  explicit ScratchDir(const std::string &base = "/tmp") {
    std::string tmpl = base + "/quelvo-test-XXXXXX";
    if (mkdtemp(&tmpl[0]) != nullptr)
      path_ = tmpl;
  }
  ~ScratchDir() {
    if (path_.empty())
      return;
    std::string cmd = "rm -rf '" + path_ + "'";
    if (system(cmd.c_str()) != 0)
      fprintf(stderr, "could not remove %s\n", path_.c_str());
  }
  const std::string &path() const { return path_; }
  std::string Add(const std::string &name, const std::string &bytes = "x") {
    std::string full = path_ + "/" + name;
    FILE *f = fopen(full.c_str(), "wb");
    EXPECT_NE(f, nullptr) << full;
    if (f != nullptr) {
      fwrite(bytes.data(), 1, bytes.size(), f);
      fclose(f);
    }
    return full;
  }
  std::string AddDir(const std::string &name) {
    std::string full = path_ + "/" + name;
    EXPECT_EQ(mkdir(full.c_str(), 0755), 0) << full;
    return full;
  }

private:
  std::string path_;
};

// Runs fn with standard output captured and returns what it printed.
template <typename Fn> std::string CaptureOutput(Fn fn) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

inline std::string ReadFile(const std::string &path) {
  std::string data;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr)
    return data;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    data.append(buf, n);
  fclose(f);
  return data;
}

inline std::string Fixture(const std::string &name) {
  return std::string(QUELVO_FIXTURES) + "/" + name;
}

// Version resources larger than the reader's window or than 64 KiB.
inline std::string LargeFixture(const std::string &name) {
  return std::string(QUELVO_FIXTURES) + "/../large/" + name;
}

#endif
