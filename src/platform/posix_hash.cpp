// --hash over POSIX: libcrypto's SHA-256 (EVP), fed with large preads of
// the file the record's status query found. A file of its own, so that
// what links the platform library without hashing (the benchmark's
// probes) does not need libcrypto.
#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform_extra.h"
#include "posix_record.h"

namespace {

// Large enough that a read costs little beside hashing its bytes, small
// enough to stay in the second-level cache between the read and the hash.
const size_t kHashChunk = 256 * 1024;

} // namespace

struct FileHasher {
  EVP_MD_CTX *context;
  const EVP_MD *sha256;
  EVP_MD *fetched; // what OpenSSL 3 fetched for sha256, freed at the end
  unsigned char *buffer;
};

namespace {

bool SameTime(const struct timespec &a, const struct timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Hashes fd from offset 0 to its end. Read to the end rather than to the
// size: a file that grew, or whose size says nothing of its length, is
// then told by its count.
int HashOpenFile(FileHasher *hasher, int fd, unsigned char *digest) {
  struct stat before;
  if (fstat(fd, &before) != 0)
    return errno;
  uint64_t size = static_cast<uint64_t>(before.st_size);
  // Larger read-ahead for what takes more than one read; a small file is
  // read whole by its first read anyway.
  if (size > kHashChunk)
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (EVP_DigestInit_ex(hasher->context, hasher->sha256, nullptr) != 1)
    return ENOSYS;
  uint64_t count = 0;
  for (;;) {
    ssize_t got =
        pread(fd, hasher->buffer, kHashChunk, static_cast<off_t>(count));
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (got == 0)
      break;
    if (EVP_DigestUpdate(hasher->context, hasher->buffer,
                         static_cast<size_t>(got)) != 1)
      return ENOSYS;
    count += static_cast<uint64_t>(got);
  }
  struct stat after;
  if (fstat(fd, &after) != 0)
    return errno;
  if (count != size || after.st_size != before.st_size ||
      !SameTime(after.st_mtim, before.st_mtim))
    return EBUSY;
  unsigned length = 0;
  if (EVP_DigestFinal_ex(hasher->context, digest, &length) != 1 ||
      length != kSha256Size)
    return ENOSYS;
  return 0;
}

} // namespace

FileHasher *OpenFileHasher(int *error) {
  FileHasher *hasher = new (std::nothrow) FileHasher();
  if (hasher == nullptr) {
    *error = ENOMEM;
    return nullptr;
  }
  hasher->buffer = static_cast<unsigned char *>(malloc(kHashChunk));
  hasher->context = EVP_MD_CTX_new();
  if (hasher->buffer == nullptr || hasher->context == nullptr) {
    CloseFileHasher(hasher);
    *error = ENOMEM;
    return nullptr;
  }
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  // Fetched once for the run: EVP_sha256() would make OpenSSL 3 look the
  // algorithm up again for every file.
  hasher->fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  hasher->sha256 = hasher->fetched;
#else
  hasher->sha256 = EVP_sha256();
#endif
  if (hasher->sha256 == nullptr) {
    CloseFileHasher(hasher);
    *error = ENOSYS;
    return nullptr;
  }
  return hasher;
}

void CloseFileHasher(FileHasher *hasher) {
  if (hasher == nullptr)
    return;
  EVP_MD_CTX_free(hasher->context);
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  EVP_MD_free(hasher->fetched);
#endif
  free(hasher->buffer);
  delete hasher;
}

int HashRecordFile(FileHasher *hasher, FileRecord *record,
                   unsigned char digest[kSha256Size]) {
  FileState *state = record->state;
  if (state == nullptr)
    return ENOMEM;
  // The file the status query opened is read where it is, and stays the
  // record's for the version service (preads move no offset).
  if (state->fd >= 0)
    return HashOpenFile(hasher, state->fd, digest);
  uint64_t size;
  errno = 0;
  int fd = OpenRecordFile(record, &size);
  if (fd < 0)
    return errno != 0 ? errno : ENOENT;
  int result = HashOpenFile(hasher, fd, digest);
  // Handed to the version service as the status query hands its open file
  // on: the report describes the very file that was hashed, opened once.
  state->fd = fd;
  state->size = size;
  state->located = false;
  return result;
}
