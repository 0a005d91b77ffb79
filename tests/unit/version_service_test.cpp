// The version-information service: what it adds to what the reader
// answers (a path opened, the handle, files that are not regular, or that
// change between the size query and the read), that it answers for every
// fixture exactly as the reader does, and that its two lookups in a block
// agree.
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "block_builder.h"
#include "platform.h"
#include "platform_extra.h"
#include "reader_support.h"
#include "test_support.h"
#include "unicode_text.h"
#include "version_strings.h"

namespace {

// Every file of a fixture folder.
std::vector<std::string> FilesIn(const std::string &folder) {
  std::vector<std::string> files;
  if (DIR *dir = opendir(folder.c_str())) {
    while (struct dirent *e = readdir(dir))
      if (e->d_name[0] != '.')
        files.push_back(folder + "/" + e->d_name);
    closedir(dir);
  }
  return files;
}

// The reader's tests size and read the fixtures through the reader alone
// (reader_support.h), as this service calls it; the service must answer
// the same for each, with or without a version resource, and hand back a
// zero handle whatever it finds.
TEST(GetFileVersionInfo, AnswersAsTheReaderSizesAndReads) {
  for (const char *folder : {".", "../ne", "../large"}) {
    size_t read = 0;
    for (const std::string &file : FilesIn(Fixture(folder))) {
      DWORD handle = 99;
      DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
      EXPECT_EQ(handle, 0u) << file;
      EXPECT_EQ(size, ReaderBufferSize(file)) << file;
      if (size == 0)
        continue;
      std::string block(size, '\0');
      EXPECT_TRUE(GetFileVersionInfoA(file.c_str(), handle, size, &block[0]))
          << file;
      EXPECT_EQ(block, ReaderVersionBlock(file)) << file;
      ++read;
    }
    // Not a folder that lists nothing, passing for one that agrees.
    EXPECT_GT(read, 0u) << folder;
  }
}

// What a record answers through the status query, the size query, the
// description and the read, all from the record's one source: with room
// of its own, or in room that records of other files used before it.
struct RecordAnswers {
  int modeResult;
  unsigned mode;
  DWORD size;
  int described;
  ImageInfo info;
  std::vector<uint16_t> languages;
  std::string block;
};

RecordAnswers Answer(const std::string &file, FileState *room, bool query) {
  std::string path = file;
  FileRecord record;
  OpenFileRecord(&record, &path[0], nullptr, nullptr, room);
  RecordAnswers a = RecordAnswers();
  a.modeResult = query ? QueryRecordMode(&record, &a.mode) : 0;
  DWORD handle = 0;
  a.size = GetRecordVersionInfoSize(&record, &handle);
  a.described = QueryRecordDescription(&record, &a.info, &a.languages);
  if (a.size != 0) {
    a.block.assign(a.size, '\0');
    GetRecordVersionInfo(&record, handle, a.size, &a.block[0]);
  }
  CloseFileRecord(&record);
  return a;
}

// A run hands one room to every file's record in turn: nothing one file
// found answers for the next, in either order of the fixtures (PE, NE, LE,
// .NET, no executable, forged), with the status query first or without.
TEST(FileRecord, RoomThatOtherFilesUsedAnswersAsFreshRoom) {
  std::vector<std::string> files;
  for (const char *folder :
       {".", "../ne", "../large", "../lossless", "../dotnet", "../forged"})
    for (const std::string &file : FilesIn(Fixture(folder)))
      files.push_back(file);
  ASSERT_GT(files.size(), 10u);
  FileState *room = NewFileState();
  ASSERT_NE(room, nullptr);
  for (int pass = 0; pass < 4; ++pass) {
    bool query = pass < 2;
    for (const std::string &file : files) {
      RecordAnswers fresh = Answer(file, nullptr, query);
      RecordAnswers reused = Answer(file, room, query);
      EXPECT_EQ(reused.modeResult, fresh.modeResult) << file;
      EXPECT_EQ(reused.mode, fresh.mode) << file;
      EXPECT_EQ(reused.size, fresh.size) << file;
      EXPECT_EQ(reused.described, fresh.described) << file;
      EXPECT_EQ(reused.info.kind, fresh.info.kind) << file;
      EXPECT_EQ(reused.info.machine, fresh.info.machine) << file;
      EXPECT_EQ(reused.languages, fresh.languages) << file;
      EXPECT_EQ(reused.block, fresh.block) << file;
    }
    std::reverse(files.begin(), files.end());
  }
  FreeFileState(room);
}

TEST(GetFileVersionInfo, TruncatedFilesAreNeverReadPastTheirEnd) {
  ScratchDir dir;
  const std::string image = ReadFile(Fixture("app32.exe"));
  for (size_t len = 0; len <= image.size(); len += 97) {
    std::string path = dir.Add("cut.exe", image.substr(0, len));
    DWORD handle;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0)
      continue;
    std::string block(size, '\0');
    EXPECT_TRUE(GetFileVersionInfoA(path.c_str(), handle, size, &block[0]));
  }
  EXPECT_EQ(GetFileVersionInfoSizeA(dir.path().c_str(), nullptr), 0u);
  EXPECT_EQ(GetFileVersionInfoSizeA("", nullptr), 0u);
  std::string fifo = dir.path() + "/pipe.exe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(GetFileVersionInfoSizeA(fifo.c_str(), nullptr), 0u);
}

TEST(GetFileVersionInfo, AFileThatShrinksAfterTheSizeQueryFailsCleanly) {
  // The size query reads the headers and the block's length through the
  // reader's first window; a block that window does not hold must be read
  // again, and then the shrink shows.
  struct {
    std::string fixture;
    off_t keep;
    bool held;
    const char *company;
  } cases[] = {
      {Fixture("app32.exe"), 600, true, "Example Corp"},
      {LargeFixture("straddle.dll"), 4000, false, ""}, // runs past the window
      {LargeFixture("over64k.dll"), 4000, false, ""},  // longer than any window
  };
  for (const auto &c : cases) {
    ScratchDir dir;
    std::string path = dir.Add("shrinks.exe", ReadFile(c.fixture));
    DWORD handle;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << c.fixture;
    ASSERT_EQ(truncate(path.c_str(), c.keep), 0);
    std::string block(size, '\0');
    // Either the bytes read while the file was whole, or a clean failure;
    // never a read past the new end or a half-filled block.
    bool read = GetFileVersionInfoA(path.c_str(), handle, size, &block[0]);
    if (!c.held) {
      EXPECT_FALSE(read) << c.fixture;
    }
    if (read) {
      LPVOID value;
      UINT len;
      ASSERT_TRUE(VerQueryValueA(
          &block[0], "\\StringFileInfo\\040904b0\\CompanyName", &value, &len));
      EXPECT_STREQ(static_cast<char *>(value), c.company);
    }
    // Asked afresh, the shrunken file has no version information.
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u) << c.fixture;
  }
}

TEST(GetFileVersionInfo, AReadOfAnotherPathDoesNotUseTheSizeQuerysFile) {
  DWORD size = GetFileVersionInfoSizeA(Fixture("basic.dll").c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::string other = Fixture("app64.exe");
  DWORD otherSize = GetFileVersionInfoSizeA(other.c_str(), nullptr);
  GetFileVersionInfoSizeA(Fixture("basic.dll").c_str(), nullptr);
  std::string block(otherSize, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(other.c_str(), 0, otherSize, &block[0]));
  LPVOID value;
  UINT len;
  ASSERT_TRUE(VerQueryValueA(
      &block[0], "\\StringFileInfo\\040904b0\\FileDescription", &value, &len));
  EXPECT_STREQ(static_cast<char *>(value), "Sample 64-bit tool");
}

std::string Ascii(const std::u16string &text) {
  std::string out;
  AppendUtf16AsUtf8(text.data(), text.size(), &out);
  return out;
}

std::string Table(const std::string &key, const std::string &strings) {
  return Node("StringFileInfo", 1, 0, "", Node(key, 1, 0, "", strings));
}

// The lossless lookup finds a value exactly when VerQueryValueA does.
TEST(QueryVersionText, FindsWhatTheClassicLookupFinds) {
  std::string resource = VersionInfo(Siblings(
      {Table("040904b0",
             Siblings({Text("CompanyName", "Acme"),
                       Text("Schl\xFC"
                            "ssel",
                            "v"),
                       Node("Wide", 1, 3, Units({0x4E2D, 0x6587, 0}))})),
       Translation(0x0409, 0x04B0)}));
  bool ok;
  std::string buffer = LaidOut(resource, &ok);
  ASSERT_TRUE(ok);
  const char *paths[] = {"\\StringFileInfo\\040904b0\\CompanyName",
                         "\\StringFileInfo\\040904B0\\companyname",
                         "\\\\StringFileInfo\\040904b0\\\\Wide\\",
                         "\\StringFileInfo\\040904b0\\SCHL\xDCSSEL",
                         "\\StringFileInfo\\040904b0\\Company",
                         "\\StringFileInfo\\040904e4\\CompanyName",
                         "\\VarFileInfo\\Translation",
                         "\\",
                         ""};
  for (const char *path : paths) {
    LPVOID value;
    UINT length;
    bool classic = VerQueryValueA(&buffer[0], path, &value, &length) != 0;
    std::u16string text;
    bool lossless = QueryVersionText(buffer.data(), buffer.size(), path, &text);
    bool atRoot = strspn(path, "\\") == strlen(path);
    EXPECT_EQ(lossless, classic && !atRoot) << path;
  }
  std::u16string text;
  ASSERT_TRUE(QueryVersionText(buffer.data(), buffer.size(),
                               "\\StringFileInfo\\040904b0\\Wide", &text));
  EXPECT_EQ(Ascii(text), "\xE4\xB8\xAD\xE6\x96\x87");
}

} // namespace
