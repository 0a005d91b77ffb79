// --hash over POSIX: libcrypto's SHA-256 (EVP), fed with large preads of
// the record's open file. libcrypto is loaded when a run
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

#include "byte_source.h"
#include "platform_extra.h"

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

// One digest of libcrypto, loaded for a run: the library, its calls, a
// context and the algorithm, looked up once (OpenSSL 3 would otherwise
// look it up again for every digest).
struct EvpDigest {
  void *library; // dlopen's handle
  EvpCalls evp;
  EVP_MD_CTX *context;
  const EVP_MD *md;
  EVP_MD *fetched; // what OpenSSL 3 fetched, freed at the end
};

struct FileHasher {
  EvpDigest sha256;
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
// program needs, and its calls, a context and the algorithm OpenSSL 3
// names name (the older releases' call sha256 or sha1 otherwise). 0, or
// ENOENT when the library cannot be loaded, ENOMEM without a context, or
// ENOSYS when it lacks a call or the algorithm. CloseEvpDigest undoes what
// was done either way.
int OpenEvpDigest(EvpDigest *d, const char *name) {
  d->library = dlopen(QUELVO_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (d->library == nullptr)
    return ENOENT;
  EvpCalls *e = &d->evp;
  bool found = Resolve(d->library, "EVP_MD_CTX_new", &e->newContext) &&
               Resolve(d->library, "EVP_MD_CTX_free", &e->freeContext) &&
               Resolve(d->library, "EVP_DigestInit_ex", &e->digestInit) &&
               Resolve(d->library, "EVP_DigestUpdate", &e->digestUpdate) &&
               Resolve(d->library, "EVP_DigestFinal_ex", &e->digestFinal);
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  found = found && Resolve(d->library, "EVP_MD_fetch", &e->fetch) &&
          Resolve(d->library, "EVP_MD_free", &e->freeDigest);
#else
  found = found && Resolve(d->library, "EVP_sha256", &e->sha256) &&
          Resolve(d->library, "EVP_sha1", &e->sha1);
#endif
  if (!found)
    return ENOSYS;
  d->context = e->newContext();
  if (d->context == nullptr)
    return ENOMEM;
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  d->fetched = e->fetch(nullptr, name, nullptr);
  d->md = d->fetched;
#else
  d->md = strcmp(name, "SHA1") == 0 ? e->sha1() : e->sha256();
#endif
  return d->md != nullptr ? 0 : ENOSYS;
}

void CloseEvpDigest(EvpDigest *d) {
  // The calls are there whenever a context or a digest is.
  if (d->context != nullptr)
    d->evp.freeContext(d->context);
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  if (d->fetched != nullptr)
    d->evp.freeDigest(d->fetched);
#endif
  if (d->library != nullptr)
    dlclose(d->library);
  *d = EvpDigest();
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
  EvpDigest &d = hasher->sha256;
  if (d.evp.digestInit(d.context, d.md, nullptr) != 1)
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
    if (d.evp.digestUpdate(d.context, hasher->buffer,
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
  if (d.evp.digestFinal(d.context, digest, &length) != 1 ||
      length != kSha256Size)
    return ENOSYS;
  return 0;
}

// Hashes bytes in memory, a chunk at a time as a file is read.
int HashMemory(FileHasher *hasher, const unsigned char *bytes, uint64_t size,
               unsigned char *digest) {
  EvpDigest &d = hasher->sha256;
  if (d.evp.digestInit(d.context, d.md, nullptr) != 1)
    return ENOSYS;
  for (uint64_t done = 0; done < size;) {
    size_t step = size - done < kHashChunk ? static_cast<size_t>(size - done)
                                           : kHashChunk;
    if (d.evp.digestUpdate(d.context, bytes + done, step) != 1)
      return ENOSYS;
    done += step;
  }
  unsigned length = 0;
  if (d.evp.digestFinal(d.context, digest, &length) != 1 ||
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
  int opened = OpenEvpDigest(&hasher->sha256, "SHA256");
  hasher->buffer = static_cast<unsigned char *>(malloc(kHashChunk));
  if (opened == 0 && hasher->buffer == nullptr)
    opened = ENOMEM;
  if (opened != 0) {
    CloseFileHasher(hasher);
    *error = opened;
    return nullptr;
  }
  return hasher;
}

void CloseFileHasher(FileHasher *hasher) {
  if (hasher == nullptr)
    return;
  CloseEvpDigest(&hasher->sha256);
  free(hasher->buffer);
  delete hasher;
}

const char *HashLibraryName() { return QUELVO_LIBCRYPTO_SONAME; }

int HashRecordFile(FileHasher *hasher, ByteSource *source,
                   unsigned char digest[kSha256Size]) {
  if (source == nullptr)
    return ENOENT;
  // A file is read where it is, from its descriptor (preads move no
  // offset, and its windows stay as the other services left them).
  if (source->fd >= 0)
    return HashOpenFile(hasher, source->fd, digest);
  return HashMemory(hasher, source->memory, source->size, digest);
}

int HashRecordFile(FileHasher *hasher, FileRecord *record,
                   unsigned char digest[kSha256Size]) {
  int error = 0;
  ByteSource *source = RecordSource(record, &error);
  return source != nullptr ? HashRecordFile(hasher, source, digest) : error;
}

// A run's SHA-1 for public key tokens: as FileHasher, without the read
// buffer, and loaded at the first key rather than at the start.
struct KeyDigester {
  bool tried; // the library was loaded, or failed to load: not tried again
  bool ready;
  EvpDigest sha1;
};

KeyDigester *OpenKeyDigester() { return new (std::nothrow) KeyDigester(); }

void CloseKeyDigester(KeyDigester *keys) {
  if (keys == nullptr)
    return;
  CloseEvpDigest(&keys->sha1);
  delete keys;
}

bool Sha1Digest(KeyDigester *keys, const void *data, size_t size,
                unsigned char digest[20]) {
  if (!keys->tried) {
    keys->tried = true;
    keys->ready = OpenEvpDigest(&keys->sha1, "SHA1") == 0;
  }
  if (!keys->ready)
    return false;
  const EvpDigest &d = keys->sha1;
  unsigned length = 0;
  return d.evp.digestInit(d.context, d.md, nullptr) == 1 &&
         d.evp.digestUpdate(d.context, data, size) == 1 &&
         d.evp.digestFinal(d.context, digest, &length) == 1 && length == 20;
}
