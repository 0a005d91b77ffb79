// Lossless reads of a version block's text: every string of a table, with
// its key as stored, and any text value by its sub-block path, as UTF-16.
//
// The block is the buffer the version service filled (or the raw resource
// at its front, as on Windows). Only its first blockSize bytes are read,
// and of them only the tree's extent that the root's length gives. Nodes,
// keys and the case-insensitive key match follow the same rules as the
// walk behind VerQueryValueA, so a table or value found here is the one
// that lookup finds; text is cut at its first zero unit and never runs
// past its own node.
#ifndef QUELVO_VERSION_STRINGS_H
#define QUELVO_VERSION_STRINGS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "version_tables.h"

// Every string of the table that the translation entry (language in the
// low 16 bits, code page in the high) names, in stored order; the keys of
// a 16-bit block are read as code page 1252. False when the block holds no
// such table.
bool ListVersionStrings(const void *block, size_t blockSize,
                        uint32_t translation, std::vector<VersionString> *out);

// Every table of the block's \StringFileInfo (the one the lookup finds), in
// stored order, each with its key as stored and its strings as
// ListVersionStrings lists them: the tables no translation entry names
// too. A malformed table ends the list, as it ends the lookup's search.
// *chosen is the index of the table the translation entry's lookup finds
// (the first whose key matches), or the count when none does. False when
// the block holds no \StringFileInfo.
bool ListVersionTables(const void *block, size_t blockSize,
                       uint32_t translation, std::vector<VersionTable> *out,
                       size_t *chosen);
// ListVersionTables' walk, without a copy of the text: for a caller that
// converts every key and value as it comes.
bool VisitVersionTables(const void *block, size_t blockSize,
                        uint32_t translation, const VersionTableSink &sink,
                        size_t *chosen);

// The keys of every string table of the block (the children of
// \StringFileInfo, "040904b0" and the like, as stored), in stored order.
// False when the block has no StringFileInfo.
bool ListStringTableKeys(const void *block, size_t blockSize,
                         std::vector<std::u16string> *keys);

// The text value at a sub-block path (components split at '\', keys
// compared without regard to case). False when the path names nothing or
// names the root.
bool QueryVersionText(const void *block, size_t blockSize, const char *subBlock,
                      std::u16string *out);

#endif
