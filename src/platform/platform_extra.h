// What the long options need of the platform beyond the classic services:
// version text without loss, paths as UTF-8, and what kind of executable a
// file is.
//
// On Windows the text comes from VerQueryValueW and WideCharToMultiByte;
// elsewhere from our own reader, converting the same way.
#ifndef QUELVO_PLATFORM_EXTRA_H
#define QUELVO_PLATFORM_EXTRA_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "image_info.h"
#include "platform.h"

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

// Several values of one sub-block at once: values[i] is what VerQueryValueA
// answers for parentPath + "\\" + names[i], or null when it answers
// nothing, and the lookups leave the block as those calls, made in order,
// would. Where the version library is our own, the sub-block is found once
// and its children read once for all the names, and the copies of the
// values written no further than the block's blockSize bytes.
void QueryVersionValuesA(void *block, size_t blockSize, const char *parentPath,
                         const char *const *names, size_t count,
                         const char **values);

// The kind of executable and, for PE, the languages its version resource
// is stored in, from the file's own headers: noted on the way by the size
// query of a record that asked for it (FileRecord::describe), read from
// the file otherwise. Returns 0, or -1 when the file cannot be opened or
// is no executable we know (info->kind is then kKindUnknown and languages
// empty).
int QueryRecordDescription(FileRecord *record, ImageInfo *info,
                           std::vector<uint16_t> *languages);

// For a PE file whose version resource is stored in several languages:
// each language and the versions of its fixed record (ListLanguageVersions
// of the reader), read from the file's own headers. Returns 0, or -1 when
// the file cannot be opened or has no such directory.
int QueryRecordLanguageVersions(FileRecord *record,
                                std::vector<LanguageVersion> *versions);

#endif
