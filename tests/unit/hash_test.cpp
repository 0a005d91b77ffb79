// --hash: the platform's whole-file digest, held to the published test
// vectors and to coreutils' sha256sum across the read chunks' edges, what
// it makes of files that are not one file's bytes from start to end, and
// the text and JSON reports it adds to without changing them.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "json_report.h"
#include "match.h"
#include "platform_extra.h"
#include "run_support.h"
#include "test_support.h"
#include "version_facts.h"

namespace {

const char kEmptySha256[] =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// coreutils' digest of a file: a second implementation, sharing nothing
// with the library under test.
std::string Sha256sum(const std::string &path) {
  std::string command = "sha256sum '" + path + "'";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return "";
  char line[256] = "";
  if (fgets(line, sizeof line, pipe) == nullptr)
    line[0] = '\0';
  pclose(pipe);
  return std::string(line).substr(0, 64);
}

struct Hashed {
  int result;
  std::string hex; // empty unless result is 0
};

// Hashes a path through a record of its own: found by the status query
// first, as the program does (its open file is then the one read), or
// not, when the hash opens the file itself.
Hashed HashPath(FileHasher *hasher, const std::string &path, bool queried) {
  std::string buffer = path;
  FileRecord record;
  OpenFileRecord(&record, &buffer[0], nullptr, nullptr);
  Hashed hashed = {-1, ""};
  if (!queried || CheckRegularRecord(&record) == kStatusOk) {
    FileDigest digest = FileDigest();
    hashed.result = HashRecordFile(hasher, &record, digest.sha256);
    digest.read = hashed.result == 0;
    hashed.hex = DigestHex(digest);
  }
  CloseFileRecord(&record);
  return hashed;
}

class HashTest : public testing::Test {
protected:
  void SetUp() override {
    int error = 0;
    hasher_ = OpenFileHasher(&error);
    ASSERT_NE(hasher_, nullptr) << error;
  }
  void TearDown() override { CloseFileHasher(hasher_); }
  FileHasher *hasher_ = nullptr;
};

// Bytes that differ from chunk to chunk, so that a chunk read twice or
// left out changes the digest.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7 + i / 4093) & 0xFF);
  return bytes;
}

TEST_F(HashTest, KnownVectorsAndSha256sumAcrossTheReadChunks) {
  ScratchDir dir;
  const size_t kChunk = 256 * 1024; // the POSIX service's read size
  struct Case {
    const char *name;
    std::string bytes;
    const char *vector; // a published digest, or null
  } cases[] = {
      {"empty", "", kEmptySha256},
      {"abc", "abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"million", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"one", Pattern(1), nullptr},
      {"chunk-less-one", Pattern(kChunk - 1), nullptr},
      {"chunk", Pattern(kChunk), nullptr},
      {"chunk-and-one", Pattern(kChunk + 1), nullptr},
      {"two-chunks", Pattern(2 * kChunk), nullptr},
      {"several", Pattern(5 * kChunk + 12345), nullptr},
  };
  // One hasher for every file, in turn: each digest starts afresh.
  for (bool queried : {true, false}) {
    for (const Case &c : cases) {
      std::string path = dir.Add(c.name, c.bytes);
      std::string want = c.vector != nullptr ? c.vector : Sha256sum(path);
      ASSERT_EQ(want.size(), 64u) << c.name;
      Hashed got = HashPath(hasher_, path, queried);
      EXPECT_EQ(got.result, 0) << c.name;
      EXPECT_EQ(got.hex, want) << c.name << (queried ? " queried" : "");
    }
  }
}

TEST_F(HashTest, FilesThatAreNotReadWholeGetNoDigest) {
  ScratchDir dir;
  std::string fifo = dir.path() + "/pipe.dll";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  struct Case {
    std::string path;
    int result;
  } cases[] = {
      {dir.path() + "/missing.dll", ENOENT},
      // Refused as no regular file, without waiting for a writer.
      {fifo, EINVAL},
      // procfs calls its files empty, and they are not: the count read
      // disagrees with the size.
      {"/proc/self/status", EBUSY},
  };
  for (const Case &c : cases) {
    Hashed got = HashPath(hasher_, c.path, false);
    EXPECT_EQ(got.result, c.result) << c.path;
    EXPECT_EQ(got.hex, "") << c.path;
  }
  // The status query never calls a FIFO a file: the program never hashes
  // it.
  EXPECT_EQ(HashPath(hasher_, fifo, true).result, -1);
}

// A file cut short or extended while it is read gets either the digest of
// what it held before, or of what it holds after, or none: never one of
// bytes that it never held at once.
TEST_F(HashTest, AFileResizedWhileReadIsNeverAMixedDigest) {
  ScratchDir dir;
  const size_t kSize = 2 * 1024 * 1024;
  const std::string original = Pattern(kSize);
  for (off_t resized :
       {static_cast<off_t>(kSize / 3), static_cast<off_t>(kSize + kSize / 2)}) {
    std::string before = Sha256sum(dir.Add("before", original));
    std::string after_bytes = original;
    after_bytes.resize(static_cast<size_t>(resized), '\0');
    std::string after = Sha256sum(dir.Add("after", after_bytes));
    for (int delay = 0; delay < 6; ++delay) {
      std::string path = dir.Add("moving", original);
      int fd = open(path.c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      std::thread resize([fd, resized, delay] {
        std::this_thread::sleep_for(std::chrono::microseconds(300 * delay));
        EXPECT_EQ(ftruncate(fd, resized), 0);
      });
      Hashed got = HashPath(hasher_, path, true);
      resize.join();
      close(fd);
      if (got.result == 0)
        EXPECT_TRUE(got.hex == before || got.hex == after)
            << "resized to " << resized << ", delay " << delay;
      else
        EXPECT_EQ(got.result, EBUSY);
    }
  }
}

// The text report with --hash is the report without it and one line after
// each file's; the classic lines stay as they were.
TEST(RunQuelvo, HashAddsALineAfterEachFileAndChangesNoOther) {
  std::string basic = Fixture("basic.dll");
  std::string nover = Fixture("nover.dll");
  std::string plain = RunWith({"-d", basic, nover}).output;
  RunResult hashed = RunWith({"--hash", "-d", basic, nover});
  EXPECT_EQ(hashed.status, 0);
  std::string reportEnd = "U.S. English\n";
  std::string noverEnd = "does not contain version information.\n";
  std::string want = plain;
  want.insert(want.find(reportEnd) + reportEnd.size(),
              "SHA-256:           " + Sha256sum(basic) + "\n");
  want.insert(want.find(noverEnd) + noverEnd.size(),
              "SHA-256:           " + Sha256sum(nover) + "\n");
  EXPECT_EQ(hashed.output, want);
}

// --json --hash: the object without the option, and "sha256" last.
TEST(RunQuelvo, JsonHashAddsTheLastKeyOnly) {
  for (std::string name : {"basic.dll", "nover.dll", "nosuch.dll"}) {
    std::string path = Fixture(name);
    RunResult plain = RunWith({"--json", path});
    RunResult hashed = RunWith({"--json", "--hash", path});
    EXPECT_EQ(hashed.status, plain.status) << name;
    std::string digest = name == "nosuch.dll" ? std::string("null")
                                              : "\"" + Sha256sum(path) + "\"";
    std::string want = plain.output;
    ASSERT_GE(want.size(), 2u);
    want.insert(want.size() - 2, ",\"sha256\":" + digest);
    EXPECT_EQ(hashed.output, want) << name;
  }
}

TEST(JsonObject, Sha256IsLastNullWhenNotReadAndAbsentWithoutHash) {
  VersionFacts facts = VersionFacts();
  FileDigest digest = FileDigest();
  for (size_t i = 0; i < kSha256Size; ++i)
    digest.sha256[i] = static_cast<unsigned char>(i * 0x11);
  std::string without = JsonObject("x.dll", "no-version", "m", &facts);
  EXPECT_EQ(without.find("sha256"), std::string::npos);
  JsonExtras extras = JsonExtras();
  extras.digest = &digest;
  digest.read = true;
  std::string read = JsonObject("x.dll", "no-version", "m", &facts, extras);
  EXPECT_EQ(read, without.substr(0, without.size() - 1) +
                      ",\"sha256\":\"00112233445566778899aabbccddeeff"
                      "102132435465768798a9bacbdcedfe0f\"}");
  digest.read = false;
  EXPECT_EQ(JsonObject("x.dll", "no-version", "m", &facts, extras),
            without.substr(0, without.size() - 1) + ",\"sha256\":null}");
  EXPECT_EQ(DigestHex(digest), "");
}

} // namespace
