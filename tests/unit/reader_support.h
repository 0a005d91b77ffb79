// The reader's own answers to what the version service asks of it: the
// size of a file's block, the block laid out, and a lookup in it. The
// reader's tests use these in place of the service, so that they link the
// reader alone; they call the reader as the POSIX service does (locate,
// size, read, lay out, walk), and the platform's tests check that the
// service answers exactly so.
#ifndef QUELVO_READER_SUPPORT_H
#define QUELVO_READER_SUPPORT_H

#include <fcntl.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "byte_source.h"
#include "exe_locate.h"
#include "version_block.h"

// A regular file opened and its version resource located, read through
// two windows as the service reads it: the headers stay in the first while
// the directory and the resource take turns in the second. Opened without
// blocking, as the service opens it, so that a fifo is refused, not waited
// on.
class LocatedFile {
public:
  explicit LocatedFile(const std::string &path) {
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
      return;
    InitFileSource(&src_, fd_, static_cast<uint64_t>(st.st_size), windows_, 2);
    located_ = LocateVersionResource(&src_, &resource_) == 0;
  }
  ~LocatedFile() {
    if (fd_ >= 0)
      close(fd_);
  }
  LocatedFile(const LocatedFile &) = delete;
  LocatedFile &operator=(const LocatedFile &) = delete;

  // Bytes of buffer the block needs, as the size query answers: 0 when
  // there is no block to hand out.
  unsigned long BufferSize() {
    return located_ ? VersionBufferSizeOf(&src_, resource_) : 0;
  }

  // The resource read into a buffer of length bytes and laid out as the
  // service hands it out. False when the read or the layout fails.
  bool Read(std::string *buffer, size_t length) {
    buffer->assign(length, '\0');
    if (!located_ || length == 0)
      return false;
    unsigned char *bytes = reinterpret_cast<unsigned char *>(&(*buffer)[0]);
    return ReadVersionBlock(&src_, resource_, bytes, length) == kReasonNone;
  }

private:
  int fd_ = -1;
  FileWindow windows_[2];
  ByteSource src_;
  VersionResource resource_;
  bool located_ = false;
};

// The size query of a path, answered by the reader.
inline unsigned long ReaderBufferSize(const std::string &path) {
  return LocatedFile(path).BufferSize();
}

// A path's version block as the service hands it out, sized by the size
// query; empty when there is none or it cannot be read.
inline std::string ReaderVersionBlock(const std::string &path) {
  LocatedFile file(path);
  std::string block;
  if (!file.Read(&block, file.BufferSize()))
    block.clear();
  return block;
}

// The service's lookup in a laid-out block: value points into the block
// (text is copied into its spare area, so the block is written), length
// is 0 when nothing is found.
inline bool QueryBlock(std::string &block, const char *subBlock,
                       const char **value, unsigned *length) {
  *length = 0;
  unsigned char *found = nullptr;
  unsigned foundLength = 0;
  if (block.empty() ||
      !QueryVersionBlock(reinterpret_cast<unsigned char *>(&block[0]), subBlock,
                         &found, &foundLength))
    return false;
  *value = reinterpret_cast<const char *>(found);
  *length = foundLength;
  return true;
}

#endif
