// The bounded reader over a file: reads served from its windows, reads
// that straddle or exceed them, and a file that shrinks under them.
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
  explicit OpenSource(const std::string &path, size_t windowCount = 2) {
    fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    struct stat st;
    EXPECT_EQ(fstat(fd, &st), 0);
    InitFileSource(&src, fd, static_cast<uint64_t>(st.st_size), windows,
                   windowCount);
  }
  ~OpenSource() { close(fd); }
  int fd;
  ByteSource src;
  FileWindow windows[2];
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
    {kWindow / 2 - 96, kWindow / 2 + 1000, true,
     "too long for a window from its page's start"},
    {kWindow / 2, kWindow - 200, true,
     "inside the window the read before left"},
    {100, kWindow + 808, true, "longer than any window"},
    {2 * kWindow + 5, 10, true, "far from the start"},
    {10, 20, true, "the start again"},
    {2 * kWindow + kWindow / 2, 300, true, "beside the far read"},
    {kWindow + 100, 50, true, "between the two"},
    {2 * kWindow + 8, 4, true, "the far read again"},
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
  // Right after the read, its range lies where a view finds it (memory, or
  // the window the read filled, for any read that fits one) with the same
  // bytes; a range outside the source has no view.
  const unsigned char *view = ViewAt(src, r.off, r.len);
  bool fits = src->fd < 0 || (r.len != 0 && r.len <= kWindow);
  if (!r.ok || fits) {
    EXPECT_EQ(view != nullptr, r.ok) << how << ": " << r.what;
  }
  if (view != nullptr && r.ok) {
    EXPECT_EQ(memcmp(view, bytes.data() + r.off, r.len), 0)
        << how << ": " << r.what;
  }
}

TEST(ByteSource, ReadsInsideAcrossAndBeyondTheWindowGiveTheFilesBytes) {
  ScratchDir dir;
  const std::string bytes = Pattern(kFileSize);
  std::string path = dir.Add("pattern.bin", bytes);
  // In order on one source, so that each read meets the windows the ones
  // before it left, with one window and with two; alone on a fresh source;
  // and from memory.
  OpenSource one(path, 1);
  for (const Read &r : kReads)
    Check(&one.src, bytes, r, "in order, one window");
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

// A zero unit counts only when the whole unit lies before the end given
// and inside the source, from a file as from memory.
TEST(ByteSource, ZeroUnitScansStopAtTheirEndAndAtTheSources) {
  //                           0    1    2    3    4    5    6    7    8
  const std::string bytes("\x41\x00\x42\x00\x00\x43\x00\x00\x44", 9);
  const struct {
    uint64_t off, end;
    unsigned width;
    bool found;
    uint64_t at;
  } cases[] = {
      {0, 9, 1, true, 1},   {2, 9, 1, true, 3},   {2, 3, 1, false, 0},
      {0, 9, 2, true, 6},   {0, 7, 2, false, 0},  {0, 8, 2, true, 6},
      {1, 9, 2, true, 3},   {7, 9, 1, true, 7},   {8, 99, 1, false, 0},
      {8, 99, 2, false, 0}, {9, 99, 1, false, 0}, {10, 99, 2, false, 0},
  };
  ScratchDir dir;
  std::string path = dir.Add("units.bin", bytes);
  for (const auto &c : cases) {
    OpenSource file(path);
    ByteSource memory;
    InitMemorySource(&memory, bytes.data(), bytes.size());
    for (ByteSource *src : {&file.src, &memory}) {
      uint64_t at = 12345;
      EXPECT_EQ(FindZeroUnit(src, c.off, c.end, c.width, &at), c.found)
          << c.off << ".." << c.end << " by " << c.width;
      if (c.found) {
        EXPECT_EQ(at, c.at) << c.off << ".." << c.end << " by " << c.width;
      }
    }
  }
}

// Over memory, for every range of up to 48 bytes and every place of a
// zero unit, or of two zero bytes that belong to two units: the first
// whole zero unit, as a unit at a time finds it.
TEST(ByteSource, ZeroUnitScansFindTheFirstWholeZeroUnitAnywhere) {
  for (size_t size = 1; size <= 48; ++size)
    for (size_t zero = 0; zero + 1 < size; ++zero) {
      std::string bytes(size, 'x');
      bytes[zero] = bytes[zero + 1] = '\0';
      ByteSource memory;
      InitMemorySource(&memory, bytes.data(), bytes.size());
      for (uint64_t off : {uint64_t{0}, uint64_t{1}})
        for (uint64_t end : {size, size - 1, size + 7}) {
          uint64_t want = UINT64_MAX;
          for (uint64_t pos = off; pos + 2 <= end && pos + 2 <= size; pos += 2)
            if (bytes[pos] == '\0' && bytes[pos + 1] == '\0') {
              want = pos;
              break;
            }
          uint64_t at = 12345;
          bool found = FindZeroUnit(&memory, off, end, 2, &at);
          EXPECT_EQ(found, want != UINT64_MAX)
              << size << " " << zero << " " << off << ".." << end;
          if (found) {
            EXPECT_EQ(at, want)
                << size << " " << zero << " " << off << ".." << end;
          }
        }
    }
}

TEST(ByteSource, AFileThatShrinksPastTheFirstWindowIsNeverReadPastItsEnd) {
  ScratchDir dir;
  const std::string bytes = Pattern(kFileSize);
  std::string path = dir.Add("shrinks.bin", bytes);
  OpenSource file(path);
  char head[64];
  ASSERT_TRUE(ReadAt(&file.src, 0, head, sizeof head)); // the first window
  ASSERT_TRUE(ReadAt(&file.src, 2 * kWindow, head, 8)); // the second
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
      {2 * kWindow + 10, 64, true, "kept in the second window"},
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
