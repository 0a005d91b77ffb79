// The bounded reader over a file: reads served from its window, reads
// that straddle or exceed it, and a file that shrinks under it.
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include "byte_source.h"
#include "test_support.h"

namespace {

const uint64_t kWindow = sizeof(FileWindow().bytes);
const uint64_t kFileSize = 3 * kWindow + 100;

// Bytes that differ from page to page and from window to window, so that
// a read served from the wrong place shows.
std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i)
    s[i] = static_cast<char>((i * 131) ^ (i >> 8) ^ (i >> 13));
  return s;
}

struct OpenSource {
  explicit OpenSource(const std::string &path) {
    fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    struct stat st;
    EXPECT_EQ(fstat(fd, &st), 0);
    InitFileSource(&src, fd, static_cast<uint64_t>(st.st_size), &window);
  }
  ~OpenSource() { close(fd); }
  int fd;
  ByteSource src;
  FileWindow window;
};

struct Read {
  uint64_t off;
  size_t len;
  bool ok;
  const char *what;
};

const Read kReads[] = {
    {0, 64, true, "headers at the start"},
    {kWindow - 2, 4, true, "straddling the first window's end"},
    {4000, 5000, true, "too long for a window from its page's start"},
    {4100, 8000, true, "inside the window the read before left"},
    {100, kWindow + 808, true, "longer than any window"},
    {kFileSize - 10, 10, true, "up to the end"},
    {kFileSize - 10, 11, false, "one byte past the end"},
    {kFileSize, 0, true, "nothing, at the end"},
    {kFileSize + 1, 0, false, "nothing, past the end"},
    {UINT64_MAX - 1, 4, false, "an offset that wraps"},
};

// Runs one read and checks it against the file's bytes.
void Check(ByteSource *src, const std::string &bytes, const Read &r,
           const char *how) {
  std::string got(r.len + 1, '\x5A');
  bool ok = ReadAt(src, r.off, &got[0], r.len);
  EXPECT_EQ(ok, r.ok) << how << ": " << r.what;
  if (ok && r.ok) {
    EXPECT_EQ(got.substr(0, r.len), bytes.substr(r.off, r.len))
        << how << ": " << r.what;
  }
  EXPECT_EQ(got[r.len], '\x5A') << how << ": " << r.what;
}

TEST(ByteSource, ReadsInsideAcrossAndBeyondTheWindowGiveTheFilesBytes) {
  ScratchDir dir;
  const std::string bytes = Pattern(kFileSize);
  std::string path = dir.Add("pattern.bin", bytes);
  // In order on one source, so that each read meets the window the one
  // before it left; alone on a fresh source; and from memory.
  OpenSource shared(path);
  for (const Read &r : kReads)
    Check(&shared.src, bytes, r, "in order");
  for (const Read &r : kReads) {
    OpenSource fresh(path);
    Check(&fresh.src, bytes, r, "alone");
    ByteSource memory;
    InitMemorySource(&memory, bytes.data(), bytes.size());
    Check(&memory, bytes, r, "memory");
  }
  uint16_t u16;
  uint32_t u32;
  ASSERT_TRUE(ReadLe16(&shared.src, kWindow - 1, &u16));
  EXPECT_EQ(u16, Le16(reinterpret_cast<const unsigned char *>(bytes.data()) +
                      kWindow - 1));
  ASSERT_TRUE(ReadLe32(&shared.src, 2 * kWindow - 3, &u32));
  EXPECT_EQ(u32, Le32(reinterpret_cast<const unsigned char *>(bytes.data()) +
                      2 * kWindow - 3));
  EXPECT_FALSE(ReadLe32(&shared.src, kFileSize - 3, &u32));
}

TEST(ByteSource, AFileThatShrinksPastTheFirstWindowIsNeverReadPastItsEnd) {
  ScratchDir dir;
  const std::string bytes = Pattern(kFileSize);
  std::string path = dir.Add("shrinks.bin", bytes);
  OpenSource file(path);
  char head[64];
  ASSERT_TRUE(ReadAt(&file.src, 0, head, sizeof head)); // the first window
  ASSERT_EQ(truncate(path.c_str(), 5000), 0);
  // What the window kept may still be served; anything the file must be
  // read again for is gone, and a read that comes up short is a failure,
  // never bytes made up.
  const struct {
    uint64_t off;
    size_t len;
    bool mayServe;
    const char *what;
  } after[] = {
      {100, 64, true, "kept in the first window"},
      {4990, 20, true, "across the new end, inside the window"},
      {kWindow - 2, 4, false, "straddling the first window"},
      {3 * kWindow, 100, false, "in the last window"},
      {100, kWindow + 808, false, "longer than any window"},
      {0, 64, true, "the start again, after a failed read"},
  };
  for (const auto &a : after) {
    std::string got(a.len, '\0');
    bool ok = ReadAt(&file.src, a.off, &got[0], a.len);
    if (!a.mayServe) {
      EXPECT_FALSE(ok) << a.what;
    }
    if (ok) {
      EXPECT_EQ(got, bytes.substr(a.off, a.len)) << a.what;
    }
  }
}

} // namespace
