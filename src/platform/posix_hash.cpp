// --hash over POSIX: libcrypto's SHA-256 (EVP), fed with large preads of
// the file the record's status query found. libcrypto is loaded when a run
// asks for digests, not linked: the dynamic loader's work for it cost every
// start 0.6 ms, runs without --hash included, and scripts start the program
// once per file. Its headers still give the calls' types and the library's
// name. A file of its own, so that what links the platform library without
// hashing (the benchmark's probes) loads nothing of it.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform_extra.h"
#include "posix_record.h"

// The build names the library by the SONAME of the one it found beside the
// headers; without it, the name the headers give for their own release.
#ifndef QUELVO_LIBCRYPTO_SONAME
#define QUELVO_TEXT(x) #x
#define QUELVO_EXPANDED_TEXT(x) QUELVO_TEXT(x)
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
#define QUELVO_LIBCRYPTO_SONAME                                                \
  "libcrypto.so." QUELVO_EXPANDED_TEXT(OPENSSL_SHLIB_VERSION)
#else
#define QUELVO_LIBCRYPTO_SONAME "libcrypto.so." SHLIB_VERSION_NUMBER
#endif
#endif

namespace {

// Large enough that a read costs little beside hashing its bytes, small
// enough to stay in the second-level cache between the read and the hash.
const size_t kHashChunk = 256 * 1024;

} // namespace

// The EVP calls, typed after evp.h's declarations (named only, never
// linked against).
struct EvpCalls {
  decltype(&EVP_MD_CTX_new) newContext;
  decltype(&EVP_MD_CTX_free) freeContext;
  decltype(&EVP_DigestInit_ex) digestInit;
  decltype(&EVP_DigestUpdate) digestUpdate;
  decltype(&EVP_DigestFinal_ex) digestFinal;
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  decltype(&EVP_MD_fetch) fetch;
  decltype(&EVP_MD_free) freeDigest;
#else
  decltype(&EVP_sha256) sha256;
  decltype(&EVP_sha1) sha1;
#endif
};

struct FileHasher {
  void *library; // dlopen's handle
  EvpCalls evp;
  EVP_MD_CTX *context;
  const EVP_MD *sha256;
  EVP_MD *fetched; // what OpenSSL 3 fetched for sha256, freed at the end
  unsigned char *buffer;
};

namespace {

// dlsym's answer as the function it is: copied, since C++ has no cast
// from an object pointer to a function pointer that every compiler takes
// without a warning.
template <typename Fn> bool Resolve(void *library, const char *name, Fn *fn) {
  void *found = dlsym(library, name);
  static_assert(sizeof found == sizeof *fn, "a function pointer fits void*");
  memcpy(fn, &found, sizeof found);
  return found != nullptr;
}

// libcrypto by its SONAME, from where the dynamic loader looks for what a
// program needs, and its calls. ENOENT when the library cannot be loaded,
// ENOSYS when it lacks one of the calls.
int LoadEvp(void **library, EvpCalls *e) {
  *library = dlopen(QUELVO_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (*library == nullptr)
    return ENOENT;
  bool found = Resolve(*library, "EVP_MD_CTX_new", &e->newContext) &&
               Resolve(*library, "EVP_MD_CTX_free", &e->freeContext) &&
               Resolve(*library, "EVP_DigestInit_ex", &e->digestInit) &&
               Resolve(*library, "EVP_DigestUpdate", &e->digestUpdate) &&
               Resolve(*library, "EVP_DigestFinal_ex", &e->digestFinal);
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  found = found && Resolve(*library, "EVP_MD_fetch", &e->fetch) &&
          Resolve(*library, "EVP_MD_free", &e->freeDigest);
#else
  found = found && Resolve(*library, "EVP_sha256", &e->sha256) &&
          Resolve(*library, "EVP_sha1", &e->sha1);
#endif
  return found ? 0 : ENOSYS;
}

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
  if (hasher->evp.digestInit(hasher->context, hasher->sha256, nullptr) != 1)
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
    if (hasher->evp.digestUpdate(hasher->context, hasher->buffer,
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
  if (hasher->evp.digestFinal(hasher->context, digest, &length) != 1 ||
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
  int loaded = LoadEvp(&hasher->library, &hasher->evp);
  if (loaded != 0) {
    CloseFileHasher(hasher);
    *error = loaded;
    return nullptr;
  }
  hasher->buffer = static_cast<unsigned char *>(malloc(kHashChunk));
  hasher->context = hasher->evp.newContext();
  if (hasher->buffer == nullptr || hasher->context == nullptr) {
    CloseFileHasher(hasher);
    *error = ENOMEM;
    return nullptr;
  }
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  // Fetched once for the run: EVP_sha256() would make OpenSSL 3 look the
  // algorithm up again for every file.
  hasher->fetched = hasher->evp.fetch(nullptr, "SHA256", nullptr);
  hasher->sha256 = hasher->fetched;
#else
  hasher->sha256 = hasher->evp.sha256();
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
  // The calls are there whenever a context or a digest is.
  if (hasher->context != nullptr)
    hasher->evp.freeContext(hasher->context);
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  if (hasher->fetched != nullptr)
    hasher->evp.freeDigest(hasher->fetched);
#endif
  if (hasher->library != nullptr)
    dlclose(hasher->library);
  free(hasher->buffer);
  delete hasher;
}

const char *HashLibraryName() { return QUELVO_LIBCRYPTO_SONAME; }

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

// A run's SHA-1 for public key tokens: as FileHasher, without the read
// buffer, and loaded at the first key rather than at the start.
struct KeyDigester {
  bool tried; // the library was loaded, or failed to load: not tried again
  void *library;
  EvpCalls evp;
  EVP_MD_CTX *context;
  const EVP_MD *sha1;
  EVP_MD *fetched; // what OpenSSL 3 fetched for sha1, freed at the end
};

namespace {

bool PrepareKeyDigester(KeyDigester *keys) {
  if (keys->tried)
    return keys->sha1 != nullptr;
  keys->tried = true;
  if (LoadEvp(&keys->library, &keys->evp) != 0)
    return false;
  keys->context = keys->evp.newContext();
  if (keys->context == nullptr)
    return false;
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  keys->fetched = keys->evp.fetch(nullptr, "SHA1", nullptr);
  keys->sha1 = keys->fetched;
#else
  keys->sha1 = keys->evp.sha1();
#endif
  return keys->sha1 != nullptr;
}

} // namespace

KeyDigester *OpenKeyDigester() { return new (std::nothrow) KeyDigester(); }

void CloseKeyDigester(KeyDigester *keys) {
  if (keys == nullptr)
    return;
  if (keys->context != nullptr)
    keys->evp.freeContext(keys->context);
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  if (keys->fetched != nullptr)
    keys->evp.freeDigest(keys->fetched);
#endif
  if (keys->library != nullptr)
    dlclose(keys->library);
  delete keys;
}

bool Sha1Digest(KeyDigester *keys, const void *data, size_t size,
                unsigned char digest[20]) {
  if (!PrepareKeyDigester(keys))
    return false;
  unsigned length = 0;
  return keys->evp.digestInit(keys->context, keys->sha1, nullptr) == 1 &&
         keys->evp.digestUpdate(keys->context, data, size) == 1 &&
         keys->evp.digestFinal(keys->context, digest, &length) == 1 &&
         length == 20;
}
