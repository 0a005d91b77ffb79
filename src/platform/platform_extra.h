// What the long options need of the platform beyond the classic services:
// version text without loss, paths as UTF-8, what kind of executable a
// file is, and the digest of a whole file.
//
// On Windows the text comes from VerQueryValueW and WideCharToMultiByte;
// elsewhere from our own reader, converting the same way.
#ifndef QUELVO_PLATFORM_EXTRA_H
#define QUELVO_PLATFORM_EXTRA_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "dotnet_info.h"
#include "image_info.h"
#include "platform.h"
#include "signature_facts.h"
#include "version_tables.h"

// UTF-16 to UTF-8 (CP_UTF8): a surrogate that is not part of a pair
// becomes U+FFFD.
void AppendUnitsAsUtf8(const char16_t *units, size_t count, std::string *out);

// UTF-16 to the ANSI code page as VerQueryValueA converts values: best
// fit, and '?' for what the code page cannot show.
void AppendUnitsAsAnsi(const char16_t *units, size_t count, std::string *out);

// A narrow path as the program prints it, to UTF-8. On POSIX the bytes are
// taken as UTF-8, each ill-formed sequence becoming U+FFFD; on Windows
// they are in the ANSI code page and converted from it.
void AppendPathAsUtf8(const char *path, std::string *out);

// The text value at a sub-block path of a version block of blockSize
// bytes, as UTF-8; false when the path names no value.
bool QueryVersionTextUtf8(const void *block, size_t blockSize,
                          const char *subBlock, std::string *out);

// A block's string tables, read without loss by the same walk and key
// match as the lookups above (the reader's, on Windows too, whose version
// library lists no tables): the strings of the table a translation entry
// (language in the low 16 bits, code page in the high) names; every table,
// with in *chosen the index of the one that entry picks (the count when
// none); or every table handed to sink as it is read, with no copy of the
// text. Each is false when the block holds no such table, or no
// \StringFileInfo.
bool ListTableStrings(const void *block, size_t blockSize, uint32_t translation,
                      std::vector<VersionString> *out);
bool ListStringTables(const void *block, size_t blockSize, uint32_t translation,
                      std::vector<VersionTable> *out, size_t *chosen);
bool VisitStringTables(const void *block, size_t blockSize,
                       uint32_t translation, const VersionTableSink &sink,
                       size_t *chosen);

// Several values of one sub-block at once: values[i] is what VerQueryValueA
// answers for parentPath + "\\" + names[i], or null when it answers
// nothing, and the lookups leave the block as those calls, made in order,
// would. Where the version library is our own, the sub-block is found once
// and its children read once for all the names, and the copies of the
// values written no further than the block's blockSize bytes.
void QueryVersionValuesA(void *block, size_t blockSize, const char *parentPath,
                         const char *const *names, size_t count,
                         const char **values);

// The lookups of one text report, each answered as VerQueryValueA answers
// its path, in the order the report makes them: the translations, strings
// of one table, the root. Where the version library is our own, the first
// walks the root and its children once for all, and the record keeps what
// the later ones start from.
struct ReportLookup {
  void *block;
  size_t blockSize;
  const void *fixed; // the root's value, null when it has none
  bool hasTables;
  size_t tablesStart, tablesEnd;
};
// "\\VarFileInfo\\Translation" of a block of blockSize bytes; false when
// it names no value. Starts the record either way.
bool StartReportLookup(void *block, size_t blockSize, ReportLookup *lookup,
                       LPVOID *value, UINT *length);
// QueryVersionValuesA for the parent "\\StringFileInfo\\" + table, where
// table is one key (eight hex digits).
void QueryReportStringsA(const ReportLookup *lookup, const char *table,
                         const char *const *names, size_t count,
                         const char **values);
// "\\": where the fixed record lies, or null when the block has none.
const void *ReportFixedValue(const ReportLookup *lookup);

// Each per-file service below has two forms: one reads the byte source
// it is given (a record's, or bytes in memory, for a file that has no
// path of its own), the other the record's own source (RecordSource),
// opened once for all of them. A null source is a file that could not be
// opened.

// The kind of executable and, for PE, the languages its version resource
// is stored in, from the file's own headers. Returns 0, or -1 when the
// file cannot be opened or is no executable we know (info->kind is then
// kKindUnknown and languages empty).
int QueryRecordDescription(ByteSource *source, ImageInfo *info,
                           std::vector<uint16_t> *languages);
int QueryRecordDescription(FileRecord *record, ImageInfo *info,
                           std::vector<uint16_t> *languages);

// --hash: the SHA-256 of whole files, from the system's own library (CNG on
// Windows, libcrypto elsewhere), never one of ours.
const size_t kSha256Size = 32;

// What one run hashes with: the library's algorithm and context, opened
// once, and the read buffer, reused for every file.
struct FileHasher;

// Null, with an errno value in *error (ENOMEM, ENOENT when the library
// cannot be loaded, or ENOSYS when it offers no SHA-256), when the run
// cannot hash at all. The library is loaded here, for the runs that hash,
// and unloaded by CloseFileHasher.
FileHasher *OpenFileHasher(int *error);
void CloseFileHasher(FileHasher *hasher);

// The name of the library OpenFileHasher loads, for what a run that cannot
// hash says.
const char *HashLibraryName();

// The SHA-256 of every byte of the source, read from its start to its
// end: a file source's descriptor read directly, not through its windows
// (on Windows the record's file is opened by its path for sequential
// reading). Returns 0, or an errno value: the open's (ENOENT for a null
// source) or the read's, ENOMEM, or EBUSY when the file was seen to change
// while it was read (its size or modification time moved, or it held more
// or fewer bytes than its size says, as procfs files do), so that no
// digest stands for bytes that were never one file's.
int HashRecordFile(FileHasher *hasher, ByteSource *source,
                   unsigned char digest[kSha256Size]);
int HashRecordFile(FileHasher *hasher, FileRecord *record,
                   unsigned char digest[kSha256Size]);

// --signature: the Authenticode facts of the source's file (or the
// record's), checked with what the run prepared (PrepareSignatureChecks,
// signature_service.h) over the file read in one pass. Returns 0, or -1
// when the file cannot be opened (facts then say "unreadable").
struct SignatureChecks;
int QueryRecordSignature(ByteSource *source, const SignatureChecks *checks,
                         SignatureFacts *facts);
int QueryRecordSignature(FileRecord *record, const SignatureChecks *checks,
                         SignatureFacts *facts);

// --dotnet's public key tokens: the SHA-1 digest of each key, from
// libcrypto on POSIX and the system's cryptography (CNG) on Windows. The
// run opens one digester; the library is loaded at the first key digested,
// not at the start, and kept with its algorithm for every key after it
// (OpenSSL 3 would otherwise look SHA-1 up again for every key). Null only
// without memory.
struct KeyDigester;
KeyDigester *OpenKeyDigester();
void CloseKeyDigester(KeyDigester *digester);

// False when there is no SHA-1 to be had (a POSIX build without
// libcrypto, or a provider that refuses), for this key and the next.
bool Sha1Digest(KeyDigester *digester, const void *data, size_t size,
                unsigned char digest[20]);

// --dotnet: what the file's CLI header and metadata say (or that it is an
// apphost or a bundle), with the public key tokens filled in by keys
// (none when it is null). Returns 0, or -1 when the file cannot be opened
// or is neither.
int QueryRecordDotnet(ByteSource *source, KeyDigester *keys, DotnetInfo *info);
int QueryRecordDotnet(FileRecord *record, KeyDigester *keys, DotnetInfo *info);
// For a PE file whose version resource is stored in several languages:
// each language and the versions of its fixed record (ListLanguageVersions
// of the reader), read from the file's own headers. Returns 0, or -1 when
// the file cannot be opened or has no such directory.
int QueryRecordLanguageVersions(ByteSource *source,
                                std::vector<LanguageVersion> *versions);
int QueryRecordLanguageVersions(FileRecord *record,
                                std::vector<LanguageVersion> *versions);

#endif
