// The long options' services on the Windows API: VerQueryValueW for text,
// WideCharToMultiByte for every conversion, and a handle opened for shared
// reading under the executable reader for what kind of file it is.
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <new>

#include "byte_source.h"
#include "dotnet_meta.h"
#include "dotnet_tokens.h"
#include "exe_locate.h"
#include "platform_extra.h"
#include "signature_service.h"

namespace {

void AppendWide(UINT codePage, const char16_t *units, size_t count,
                std::string *out) {
  if (count == 0 || count > 0x3FFFFFFF)
    return;
  const WCHAR *wide = reinterpret_cast<const WCHAR *>(units);
  int n = static_cast<int>(count);
  int need =
      WideCharToMultiByte(codePage, 0, wide, n, nullptr, 0, nullptr, nullptr);
  if (need <= 0)
    return;
  size_t at = out->size();
  out->resize(at + static_cast<size_t>(need));
  WideCharToMultiByte(codePage, 0, wide, n, &(*out)[at], need, nullptr,
                      nullptr);
}

std::u16string Widen(const char *text) {
  std::u16string wide;
  int need = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (need <= 1)
    return wide;
  wide.resize(static_cast<size_t>(need));
  MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<WCHAR *>(&wide[0]),
                      need);
  wide.resize(static_cast<size_t>(need - 1));
  return wide;
}

} // namespace

void AppendUnitsAsUtf8(const char16_t *units, size_t count, std::string *out) {
  AppendWide(CP_UTF8, units, count, out);
}

void AppendUnitsAsAnsi(const char16_t *units, size_t count, std::string *out) {
  AppendWide(CP_ACP, units, count, out);
}

void AppendPathAsUtf8(const char *path, std::string *out) {
  std::u16string wide = Widen(path);
  AppendWide(CP_UTF8, wide.data(), wide.size(), out);
}

bool QueryVersionTextUtf8(const void *block, size_t blockSize,
                          const char *subBlock, std::string *out) {
  out->clear();
  std::u16string wideSub = Widen(subBlock);
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block, reinterpret_cast<LPCWSTR>(wideSub.c_str()), &value,
                      &length))
    return false;
  // The stored length may count units or bytes: the text runs to its first
  // zero unit, and never past the block.
  const unsigned char *start = static_cast<const unsigned char *>(block);
  const unsigned char *at = static_cast<const unsigned char *>(value);
  if (at < start || at >= start + blockSize)
    return true;
  size_t room = static_cast<size_t>(start + blockSize - at) / 2;
  std::u16string text;
  for (size_t i = 0; i < room; ++i) {
    char16_t unit = static_cast<char16_t>(at[2 * i] | (at[2 * i + 1] << 8));
    if (unit == 0)
      break;
    text.push_back(unit);
  }
  AppendWide(CP_UTF8, text.data(), text.size(), out);
  return true;
}

void QueryVersionValuesA(void *block, size_t, const char *parentPath,
                         const char *const *names, size_t count,
                         const char **values) {
  for (size_t i = 0; i < count; ++i) {
    std::string subBlock = parentPath;
    subBlock += '\\';
    subBlock += names[i];
    LPVOID value = nullptr;
    UINT length = 0;
    values[i] = VerQueryValueA(block, subBlock.c_str(), &value, &length)
                    ? static_cast<const char *>(value)
                    : nullptr;
  }
}

// The system's version library keeps nothing between calls: each lookup
// is its own call, in the report's order.
bool StartReportLookup(void *block, size_t blockSize, ReportLookup *lookup,
                       LPVOID *value, UINT *length) {
  *lookup = ReportLookup();
  lookup->block = block;
  lookup->blockSize = blockSize;
  *length = 0;
  return VerQueryValueA(block, "\\VarFileInfo\\Translation", value, length) !=
         0;
}

void QueryReportStringsA(const ReportLookup *lookup, const char *table,
                         const char *const *names, size_t count,
                         const char **values) {
  std::string parent = "\\StringFileInfo\\";
  parent += table;
  QueryVersionValuesA(lookup->block, lookup->blockSize, parent.c_str(), names,
                      count, values);
}

const void *ReportFixedValue(const ReportLookup *lookup) {
  LPVOID value = nullptr;
  UINT length = 0;
  return VerQueryValueA(lookup->block, "\\", &value, &length) ? value : nullptr;
}

namespace {

// A file opened for shared reading under the executable reader: the
// system's version library reads the file on its own, so there is nothing
// to share with it and the headers are read here. The reader's windows
// are on the heap, not the stack.
struct ReaderFile {
  int fd; // the C runtime's descriptor of the handle
  FileWindow *window;
  ByteSource src;
};

bool OpenReaderFile(const char *path, ReaderFile *file, size_t windows = 1) {
  HANDLE handle =
      CreateFileA(path, GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle, &size) || size.QuadPart < 0) {
    CloseHandle(handle);
    return false;
  }
  file->fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                             _O_RDONLY | _O_BINARY);
  if (file->fd < 0) {
    CloseHandle(handle);
    return false;
  }
  file->window =
      static_cast<FileWindow *>(malloc(windows * sizeof(FileWindow)));
  if (file->window == nullptr) {
    _close(file->fd);
    return false;
  }
  InitFileSource(&file->src, file->fd, static_cast<uint64_t>(size.QuadPart),
                 file->window, windows);
  return true;
}

void CloseReaderFile(ReaderFile *file) {
  free(file->window);
  _close(file->fd); // closes the handle too
}

} // namespace

int QueryRecordDescription(FileRecord *record, ImageInfo *info,
                           std::vector<uint16_t> *languages) {
  *info = ImageInfo();
  languages->clear();
  ReaderFile file;
  if (!OpenReaderFile(record->path, &file))
    return -1;
  DescribeImage(&file.src, info, languages);
  int result = info->kind == kKindUnknown ? -1 : 0;
  CloseReaderFile(&file);
  return result;
}

int QueryRecordLanguageVersions(FileRecord *record,
                                std::vector<LanguageVersion> *versions) {
  versions->clear();
  ReaderFile file;
  if (!OpenReaderFile(record->path, &file))
    return -1;
  int result =
      ListLanguageVersions(&file.src, versions) == kReasonNone ? 0 : -1;
  CloseReaderFile(&file);
  return result;
}

// The algorithm is opened at the first key and kept for the run.
struct KeyDigester {
  bool tried;
  BCRYPT_ALG_HANDLE algorithm;
};

KeyDigester *OpenKeyDigester() { return new (std::nothrow) KeyDigester(); }

void CloseKeyDigester(KeyDigester *keys) {
  if (keys == nullptr)
    return;
  if (keys->algorithm != nullptr)
    BCryptCloseAlgorithmProvider(keys->algorithm, 0);
  delete keys;
}

bool Sha1Digest(KeyDigester *keys, const void *data, size_t size,
                unsigned char digest[20]) {
  if (size > 0xFFFFFFFFu)
    return false;
  if (!keys->tried) {
    keys->tried = true;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(
            &keys->algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0)))
      keys->algorithm = nullptr;
  }
  if (keys->algorithm == nullptr)
    return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptCreateHash(keys->algorithm, &hash, nullptr, 0,
                                            nullptr, 0, 0)) &&
            BCRYPT_SUCCESS(BCryptHashData(
                hash, static_cast<PUCHAR>(const_cast<void *>(data)),
                static_cast<ULONG>(size), 0)) &&
            BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, 20, 0));
  if (hash != nullptr)
    BCryptDestroyHash(hash);
  return ok;
}

int QueryRecordDotnet(FileRecord *record, KeyDigester *keys, DotnetInfo *info) {
  *info = DotnetInfo();
  // A window each for the headers, the tables, the strings and the blobs.
  ReaderFile file;
  if (!OpenReaderFile(record->path, &file, 4))
    return -1;
  bool found = ReadDotnetInfo(&file.src, info);
  CloseReaderFile(&file);
  if (!found)
    return -1;
  FillDotnetTokens(keys, info);
  return 0;
}

int QueryRecordSignature(FileRecord *record, const SignatureChecks *checks,
                         SignatureFacts *facts) {
  *facts = SignatureFacts();
  facts->status = kSignatureUnreadable;
  facts->problem = "read-failed";
  // Two windows, as the POSIX record keeps: the headers, and the table.
  ReaderFile file;
  if (!OpenReaderFile(record->path, &file, 2))
    return -1;
  CheckSignature(checks, &file.src, facts);
  CloseReaderFile(&file);
  return 0;
}
