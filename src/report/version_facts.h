// Everything --json reports about one file: what kind of executable it is,
// and what its version resource holds, read through the same version
// service as the text report.
#ifndef QUELVO_VERSION_FACTS_H
#define QUELVO_VERSION_FACTS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "image_info.h"
#include "platform.h"
#include "platform_extra.h"
#include "status.h"

struct VersionText {
  std::string key;   // UTF-8, as stored
  std::string value; // UTF-8
};

struct VersionTableText {
  std::string key;                  // UTF-8, as stored
  std::vector<VersionText> strings; // in stored order
};

struct VersionFacts {
  ImageInfo image;                 // kind kKindUnknown when not recognised
  std::vector<uint16_t> languages; // the resource directory's languages (PE)
  // Each of the following only when the version block holds it.
  bool hasTranslations;                 // \VarFileInfo\Translation exists
  std::vector<uint32_t> translations;   // its whole entries, as stored
  uint32_t translation;                 // the entry the report uses
  bool hasTable;                        // the string table of that entry
  std::vector<VersionText> strings;     // in stored order
  bool hasTables;                       // \StringFileInfo exists
  std::vector<VersionTableText> tables; // all its tables, in stored order
  bool hasFixed;
  VS_FIXEDFILEINFO fixed;
};

// --hash: the SHA-256 of a whole file, or that it was not read whole.
struct FileDigest {
  bool read; // every byte was read, as one file: sha256 holds the digest
  unsigned char sha256[kSha256Size];
};

// The digest as 64 lowercase hexadecimal digits (empty when not read).
std::string DigestHex(const FileDigest &digest);

// Gathers the facts of one regular file. Returns 0, or the code of the
// stage at which the text report of the file stops (the codes of
// ReportVersion); whatever could be read before and beside that stage is
// filled in all the same.
StatusCode GatherVersionFacts(FileRecord *record, VersionFacts *facts);

#endif
