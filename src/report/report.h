// The version report of one file, short or detailed.
#ifndef QUELVO_REPORT_H
#define QUELVO_REPORT_H

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "platform.h"
#include "status.h"

// Prints the report of one regular file and returns 0, or the code of the
// stage that failed (100 to 106, or -1 when the block cannot be allocated).
// The program reports through a record (ReportRecordVersion); this path
// form stays as the report's documented entry, and the tests use it.
StatusCode ReportVersion(const char *path, bool detailed);

// What the long options change in the text report.
struct TextOptions {
  bool detailed;   // -d: the detailed section
  bool allStrings; // --all: every other string and table as well
  bool utf8;       // --utf8: values in UTF-8 rather than code page 1252
};

// ReportVersion of an open record, with the long options' changes; with
// all of them off it prints exactly what ReportVersion prints.
StatusCode ReportRecordVersion(FileRecord *record, const TextOptions &options);

// The resource's versions as --dotnet compares them with the assembly's
// attributes: the FileVersion and ProductVersion strings of the table the
// report reads (in the ANSI code page, which holds every digit) and the
// fixed record.
struct Win32Versions {
  bool hasFileVersion;
  std::string fileVersion;
  bool hasProductVersion;
  std::string productVersion;
  bool hasFixed;
  VS_FIXEDFILEINFO fixed;
};

// ReportRecordVersion that also notes the resource's versions in versions
// (when not null) from the block it loads, as far as it reads the block.
StatusCode ReportRecordVersion(FileRecord *record, const TextOptions &options,
                               Win32Versions *versions);
// The report of a block already loaded (by LoadVersionBlock, of size
// bytes), which the caller frees: for a caller that reads more of the
// same block.
StatusCode ReportLoadedVersion(const char *path, void *block, DWORD size,
                               const TextOptions &options,
                               Win32Versions *versions);

// Where a version block is loaded: in place for the sizes most files'
// blocks have (a resource of up to about 4 KiB), so that a file's report
// costs no allocation, and on the heap beyond. The caller's, on its
// stack; FreeVersionBlock after a load that succeeded.
struct VersionBlock {
  void *data;
  alignas(8) unsigned char local[8192];
};

// Fills block with the version block of the size the size query gave.
// kStatusOk with block->data holding it, or the stage that failed
// (kStatusOutOfMemory, kStatusReadFailed) with nothing left to free.
StatusCode LoadVersionBlock(FileRecord *record, DWORD handle, DWORD size,
                            VersionBlock *block);
void FreeVersionBlock(VersionBlock *block);

// Report text composed before it goes to standard output: a file's lines
// in one call to the stream, where a call for each of their dozen pieces
// cost more than composing them. Full, it is written out and starts
// again, so no text is ever cut; FlushReportText before anything else is
// printed.
struct ReportText {
  char text[1024];
  size_t used;
};
// What does not fit: written out first, or whole when larger than all.
void PutReportTextFlushing(ReportText *out, const char *text, size_t length);
// Inline, so that a label's length and copy are the compiler's: a report
// is mostly labels.
inline void PutReportText(ReportText *out, const char *text, size_t length) {
  if (length > sizeof out->text - out->used) {
    PutReportTextFlushing(out, text, length);
    return;
  }
  memcpy(out->text + out->used, text, length);
  out->used += length;
}
inline void PutReportText(ReportText *out, const char *text) {
  PutReportText(out, text, strlen(text));
}

// ReportFixedInfo's section composed into out (after what it holds),
// which the caller writes out; on a failure what out holds goes out
// before the failure's line.
StatusCode ComposeFixedInfo(ReportText *out, const void *block, DWORD blockSize,
                            DWORD translation, bool utf8,
                            const VS_FIXEDFILEINFO *known);
void FlushReportText(ReportText *out);

// Prints a string from the resource with one output character per byte,
// printable ASCII as itself and every other byte as a space.
void PrintSafeString(const char *text);
// The same, composed into out.
void PutSafeString(ReportText *out, const char *text);

// Prints a path with every control character as '?', so that no file name
// can forge a line of the output or drive the terminal: the bytes 0x01-0x1F
// and 0x7F and, except on Windows, where names are in the ANSI code page,
// each C1 control and U+2028, U+2029 in UTF-8 and each byte 0x80-0x9F that
// is not part of a well-formed sequence. Other bytes, those of UTF-8 names
// included, are printed as they are.
void PrintSafePath(const char *path);
// The same on another stream (standard error, for --lint and --expect).
void PrintSafePathTo(FILE *stream, const char *path);
// The same, composed into out.
void PutSafePath(ReportText *out, const char *path);

// Prints the decoded fixed record, character set and language; 0, or
// kStatusNoFixedInfo when the block has no root record. The block is the
// one ReportVersion loaded, of blockSize bytes. The report calls the form
// below; this one stays as the detailed report's documented entry, the
// classic output that the tests hold the other to.
StatusCode ReportFixedInfo(const void *block, DWORD blockSize,
                           DWORD translation);

// The same, with the table texts in UTF-8 when utf8 is set (they are held
// in code page 1252, as the classic report prints them). With known, the
// record a lookup of the same block gave, with no lookup since that
// wrote to the block: what this one's own lookup would read again.
StatusCode ReportFixedInfo(const void *block, DWORD blockSize,
                           DWORD translation, bool utf8,
                           const VS_FIXEDFILEINFO *known = nullptr);

// Copies len bytes from value, a pointer that a lookup in the block
// returned, as far as they lie inside the block's blockSize bytes; the
// rest of out is zero, and all of it for a pointer outside the block. The
// version service promises a pointer, not that the record behind it ends
// inside the block.
void CopyInsideBlock(const void *block, DWORD blockSize, const void *value,
                     void *out, size_t len);

// Looks the fixed record up at the root and copies it, bounded as above.
// False when the block has no root record.
bool QueryFixedRecord(const void *block, DWORD blockSize,
                      VS_FIXEDFILEINFO *fixed);

// The texts the detailed report prints for a value, in code page 1252, or
// null where it prints none.
const char *FileOsText(DWORD fileOs);
const char *FileTypeText(DWORD fileType);
const char *FileSubtypeText(DWORD fileType, DWORD fileSubtype);
const char *CharacterSetText(unsigned codePage);
const char *LanguageText(unsigned language);

// Appends the name of a language ID in UTF-8, as the JSON report and the
// --all table headings give it: LanguageText's where it has one, so that
// no name the detailed report prints changes; else the English name of
// Windows' locale data ("German (Austria)"), the language alone for a
// neutral sub-language ("English" for 0x0009). False, appending nothing,
// for an ID Windows names no language by (0x0800, the system default, and
// every ID outside the locale data).
bool AppendLanguageName(unsigned language, std::string *utf8);

// Appends the low 16 bits of value as four lowercase hex digits, as a
// version table's key spells its language and code page ("0409", "04b0").
void AppendHex4(unsigned value, std::string *out);

// The language and code page a table key (UTF-8, as stored) spells: eight
// hex digits of either case, the language's four first. False for any
// other key, which names neither.
bool ReadTableKey(const std::string &key, unsigned *language,
                  unsigned *codePage);

// The flag words the detailed report prints for dwFileFlags, in its order
// and without their commas: stores up to six words and their lengths and
// returns how many.
int FileFlagWords(DWORD fileFlags, const char *words[6], size_t lengths[6]);

// Prints a value of the version table in UTF-8 with one space for each
// control character (C0, DEL and C1) and each U+2028, U+2029, so that no
// value breaks the layout, each bidirectional control as its escape
// ("\u202e"), so that none reorders what the line shows, and U+FFFD for
// each ill-formed part. Returns the columns it took, one per character
// and six per escape.
size_t PrintSafeUtf8(const char *text, size_t length);

// Prints, after the classic lines, every other string of the translation's
// table under the heading "Other Strings:", each on a line indented by two
// spaces: key, colon and padding to the values' column (counted from the
// indent), then the value. Nothing, heading included, when there is no
// other string. Strings the classic lines showed (the first CompanyName,
// FileDescription and FileVersion, and PrivateBuild or SpecialBuild when
// fileFlags announced them) are left out.
void PrintOtherStrings(const void *block, size_t blockSize, DWORD translation,
                       DWORD fileFlags, bool utf8);

// Prints, after those, every other string table of the block in stored
// order (all but the one the translation's lookup finds), each under a
// heading line naming its language, character set and key, "Strings in
// German (Austria), Unicode (0c0704b0):", with its strings on indented
// lines as PrintOtherStrings prints them. A key that spells no language
// and code page is "a table of no language"; a language or code page
// without a name is given by number.
void PrintOtherTables(const void *block, size_t blockSize, DWORD translation,
                      bool utf8);

// Prints every string table of the block in stored order, each as
// PrintOtherTables prints one, on lines that end with a newline rather
// than begin with one: for what follows a line that ends so.
void PrintEveryTable(const void *block, size_t blockSize, bool utf8);

// --all for a file whose text report stopped at a lookup (no translation,
// no table or required string, no fixed record): every string table its
// version resource holds, as PrintEveryTable prints them. The resource is
// loaded again; nothing is printed when it cannot be.
void ReportRecordTables(FileRecord *record, bool utf8);

#endif
