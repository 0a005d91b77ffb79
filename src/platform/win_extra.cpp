// The long options' services on the Windows API: VerQueryValueW for text,
// WideCharToMultiByte for every conversion, and the system's CNG for the
// public key tokens' SHA-1.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <new>

#include "platform_extra.h"

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
