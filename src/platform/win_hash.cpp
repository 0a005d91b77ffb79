// --hash on Windows: the system's CNG (bcrypt.dll) SHA-256, fed with large
// reads of the file the path names, opened for shared reading as the
// description service opens it. bcrypt.dll is loaded from the system folder
// when a run asks for digests, not imported: a run without --hash loads
// nothing more than before, and a system without CNG still runs quelvo
// (its --hash says SHA-256 is not available).
#include <errno.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include <bcrypt.h>

#include <new>

#include "byte_source.h"
#include "platform_extra.h"

namespace {

// As on POSIX: large reads, still inside the second-level cache.
const DWORD kHashChunk = 256 * 1024;

} // namespace

// The CNG calls, typed after bcrypt.h's declarations (named only, never
// linked against).
struct CngCalls {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithm;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm;
  decltype(&BCryptCreateHash) createHash;
  decltype(&BCryptHashData) hashData;
  decltype(&BCryptFinishHash) finishHash;
  decltype(&BCryptDestroyHash) destroyHash;
};

struct FileHasher {
  HMODULE library;
  CngCalls cng;
  BCRYPT_ALG_HANDLE algorithm;
  unsigned char *buffer;
};

namespace {

// GetProcAddress's answer as the function it is: through the generic
// function pointer type, the one cast between function types that says
// what it means.
template <typename Fn> bool Resolve(HMODULE library, const char *name, Fn *fn) {
  FARPROC found = GetProcAddress(library, name);
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(found));
  return found != nullptr;
}

// bcrypt.dll from the system folder by its full path, never from the
// current or the program's folder, and its calls. ENOENT when the library
// cannot be loaded (before Vista), ENOSYS when it lacks one of the calls.
int LoadCng(FileHasher *hasher) {
  WCHAR path[MAX_PATH + 16];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return ENOENT;
  const WCHAR kName[] = L"\\bcrypt.dll";
  for (size_t i = 0; i < sizeof kName / sizeof kName[0]; ++i)
    path[length + i] = kName[i];
  hasher->library = LoadLibraryW(path);
  if (hasher->library == nullptr)
    return ENOENT;
  CngCalls &c = hasher->cng;
  bool found = Resolve(hasher->library, "BCryptOpenAlgorithmProvider",
                       &c.openAlgorithm) &&
               Resolve(hasher->library, "BCryptCloseAlgorithmProvider",
                       &c.closeAlgorithm) &&
               Resolve(hasher->library, "BCryptCreateHash", &c.createHash) &&
               Resolve(hasher->library, "BCryptHashData", &c.hashData) &&
               Resolve(hasher->library, "BCryptFinishHash", &c.finishHash) &&
               Resolve(hasher->library, "BCryptDestroyHash", &c.destroyHash);
  return found ? 0 : ENOSYS;
}

// BCRYPT_SUCCESS without its C cast.
bool Succeeded(NTSTATUS status) { return status >= 0; }

int ErrnoOfLastError() {
  switch (GetLastError()) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return ENOENT;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    return EACCES;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    return ENOMEM;
  default:
    return EIO;
  }
}

bool SameState(const BY_HANDLE_FILE_INFORMATION &a,
               const BY_HANDLE_FILE_INFORMATION &b) {
  return a.nFileSizeHigh == b.nFileSizeHigh &&
         a.nFileSizeLow == b.nFileSizeLow &&
         a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime &&
         a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime;
}

// Reads the open file to its end into the hash; as on POSIX, to the end
// rather than to the size, so that a count other than the size is seen.
int HashHandle(FileHasher *hasher, HANDLE file, BCRYPT_HASH_HANDLE hash,
               unsigned char *digest) {
  BY_HANDLE_FILE_INFORMATION before;
  if (!GetFileInformationByHandle(file, &before))
    return ErrnoOfLastError();
  uint64_t count = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, hasher->buffer, kHashChunk, &got, nullptr))
      return ErrnoOfLastError();
    if (got == 0)
      break;
    if (!Succeeded(hasher->cng.hashData(hash, hasher->buffer, got, 0)))
      return ENOSYS;
    count += got;
  }
  BY_HANDLE_FILE_INFORMATION after;
  if (!GetFileInformationByHandle(file, &after))
    return ErrnoOfLastError();
  uint64_t size =
      (static_cast<uint64_t>(before.nFileSizeHigh) << 32) | before.nFileSizeLow;
  if (count != size || !SameState(before, after))
    return EBUSY;
  if (!Succeeded(hasher->cng.finishHash(hash, digest, kSha256Size, 0)))
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
  if (hasher->buffer == nullptr) {
    CloseFileHasher(hasher);
    *error = ENOMEM;
    return nullptr;
  }
  int loaded = LoadCng(hasher);
  if (loaded != 0) {
    CloseFileHasher(hasher);
    *error = loaded;
    return nullptr;
  }
  // Opening the provider is the costly step: once for the run.
  if (!Succeeded(hasher->cng.openAlgorithm(
          &hasher->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    hasher->algorithm = nullptr;
    CloseFileHasher(hasher);
    *error = ENOSYS;
    return nullptr;
  }
  return hasher;
}

void CloseFileHasher(FileHasher *hasher) {
  if (hasher == nullptr)
    return;
  if (hasher->algorithm != nullptr)
    hasher->cng.closeAlgorithm(hasher->algorithm, 0);
  if (hasher->library != nullptr)
    FreeLibrary(hasher->library);
  free(hasher->buffer);
  delete hasher;
}

const char *HashLibraryName() { return "bcrypt.dll"; }

namespace {

// Hashes bytes in memory, a chunk at a time as a file is read.
int HashBytes(FileHasher *hasher, BCRYPT_HASH_HANDLE hash,
              const unsigned char *bytes, uint64_t size,
              unsigned char *digest) {
  for (uint64_t done = 0; done < size;) {
    ULONG step =
        size - done < kHashChunk ? static_cast<ULONG>(size - done) : kHashChunk;
    if (!Succeeded(hasher->cng.hashData(
            hash, const_cast<unsigned char *>(bytes + done), step, 0)))
      return ENOSYS;
    done += step;
  }
  if (!Succeeded(hasher->cng.finishHash(hash, digest, kSha256Size, 0)))
    return ENOSYS;
  return 0;
}

// The digest of an open file read from its start, or, where file is null,
// of size bytes in memory, in a hash object of its own; CNG keeps its
// memory (Windows 7 and later).
int HashInto(FileHasher *hasher, HANDLE file, const unsigned char *bytes,
             uint64_t size, unsigned char *digest) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(hasher->cng.createHash(hasher->algorithm, &hash, nullptr, 0,
                                        nullptr, 0, 0)))
    return ENOSYS;
  int result = file != nullptr ? HashHandle(hasher, file, hash, digest)
                               : HashBytes(hasher, hash, bytes, size, digest);
  hasher->cng.destroyHash(hash);
  return result;
}

} // namespace

int HashRecordFile(FileHasher *hasher, ByteSource *source,
                   unsigned char digest[kSha256Size]) {
  if (source == nullptr)
    return ENOENT;
  if (source->fd < 0)
    return HashInto(hasher, nullptr, source->memory, source->size, digest);
  intptr_t osHandle = _get_osfhandle(source->fd);
  if (osHandle == -1)
    return EBADF;
  // The reader's positioned reads move a synchronous handle's file
  // pointer: the hash starts from the start again.
  HANDLE file = reinterpret_cast<HANDLE>(osHandle);
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
    return ErrnoOfLastError();
  return HashInto(hasher, file, nullptr, 0, digest);
}

// The record's file is opened by its path for a sequential read of its
// own, as the system's cache reads a file best, rather than read through
// the source the other services share.
int HashRecordFile(FileHasher *hasher, FileRecord *record,
                   unsigned char digest[kSha256Size]) {
  HANDLE file =
      CreateFileA(record->path, GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return ErrnoOfLastError();
  int result = HashInto(hasher, file, nullptr, 0, digest);
  CloseHandle(file);
  return result;
}
