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
#include "report.h"
#include "status.h"

struct VersionText {
  std::string key;   // UTF-8, as stored
  std::string value; // UTF-8
  // What --lint checks of the value as stored: zero units its length
  // counts past the terminator, text hidden after a zero unit, and a
  // surrogate without its pair (which the UTF-8 holds as U+FFFD).
  size_t zerosPast = 0;
  bool textPastZero = false;
  bool unpairedSurrogate = false;
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
  // The one of tables that strings holds, its own strings left empty
  // rather than held twice (TableStrings gives either); none when it is
  // past the end.
  size_t pickedTable = SIZE_MAX;
  bool hasFixed;
  VS_FIXEDFILEINFO fixed;
  // Gathered for --lint only: the key of every string table, as stored
  // (where the table Windows picks is missing, or several translation
  // entries name tables), and, where the resource directory holds several
  // languages, each one's fixed record versions.
  std::vector<std::string> tableKeys;
  std::vector<LanguageVersion> languageVersions;
};

// The strings of tables[index]: strings for the picked table.
const std::vector<VersionText> &TableStrings(const VersionFacts &facts,
                                             size_t index);

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
// The string of a name in the table Windows picks, as its lookup finds
// it: the first key equal to the name without regard to ASCII case. Null
// when the table or the string is missing.
const VersionText *FindVersionString(const VersionFacts &facts,
                                     const char *name);

// What a gathering of version facts reads besides the version block's
// own: by default every table's strings and nothing for --lint.
struct VersionPlan {
  // What --lint checks besides: every table's key and, where the resource
  // directory holds several languages, each one's fixed record versions.
  bool lintExtras = false;
  // Every table's strings (--json's whole object, --expect, a field that
  // reads "string_tables"); else only each table's key, in tableKeys: all
  // --lint reads of the tables Windows does not pick.
  bool everyTable = true;
};

StatusCode GatherVersionFacts(FileRecord *record, VersionFacts *facts,
                              const VersionPlan &plan = VersionPlan());

// The facts of a block already loaded (the version service's layout, of
// size bytes), as GatherVersionFacts gathers them from it, into facts that
// hold the image's already: for a caller that loaded the block itself.
// The plan's language versions are the caller's to gather: they are not
// in the block.
StatusCode GatherBlockFacts(void *block, DWORD size, VersionFacts *facts,
                            const VersionPlan &plan);

// The text report of a file (ReportRecordVersion) and, from the same
// block, its facts as GatherVersionFacts gathers them for plan, with that
// stage in *factsCode, and, when versions is not null, what --dotnet
// compares. Returns the text report's status.
StatusCode ReportAndGatherFacts(FileRecord *record, const TextOptions &options,
                                VersionFacts *facts, StatusCode *factsCode,
                                Win32Versions *versions,
                                const VersionPlan &plan);

#endif
