#include "version_strings.h"

#include <utility>

#include "byte_source.h"
#include "codepage1252.h"
#include "version_walk.h"

namespace {

struct Walk {
  ByteSource *src;
  bool ansi; // the 16-bit layout: no type field, keys and text in bytes
};

// Appends the units of [from, to) to out, read through the cursor in
// chunks; a 16-bit block's bytes through code page 1252. Stops at the
// first zero unit when stopAtZero is set.
void AppendUnits(const Walk &w, size_t from, size_t to, bool stopAtZero,
                 std::u16string *out) {
  const unsigned char *whole =
      !w.ansi && from <= to ? ViewAt(w.src, from, to - from) : nullptr;
  if (whole != nullptr) {
    // The range lies where it can be read at once (the block in memory):
    // its units up to the first zero, the same as the chunks give.
    size_t count = (to - from) / 2;
    uint64_t zero;
    if (stopAtZero && FindZeroUnit(w.src, from, from + 2 * count, 2, &zero))
      count = static_cast<size_t>(zero - from) / 2;
    size_t held = out->size();
    out->resize(held + count);
    for (size_t i = 0; i < count; ++i)
      (*out)[held + i] = static_cast<char16_t>(Le16(whole + 2 * i));
    return;
  }
  unsigned char chunk[256];
  char16_t units[256];
  while (from < to) {
    size_t len = to - from < sizeof chunk ? to - from : sizeof chunk;
    if (!w.ansi)
      len &= ~static_cast<size_t>(1);
    if (len == 0 || !ReadAt(w.src, from, chunk, len))
      return;
    size_t n = 0;
    bool stopped = false;
    if (w.ansi) {
      for (size_t i = 0; i < len && !stopped; ++i) {
        if (stopAtZero && chunk[i] == 0)
          stopped = true;
        else
          units[n++] = static_cast<char16_t>(Cp1252ToUnicode(chunk[i]));
      }
    } else {
      for (size_t i = 0; i < len && !stopped; i += 2) {
        char16_t unit = static_cast<char16_t>(Le16(chunk + i));
        if (stopAtZero && unit == 0)
          stopped = true;
        else
          units[n++] = unit;
      }
    }
    out->append(units, n);
    if (stopped)
      return;
    from += len;
  }
}

// The key of a node as UTF-16, without its terminator.
std::u16string ReadKey(const Walk &w, const VersionNode &n) {
  std::u16string key;
  size_t unit = w.ansi ? 1 : 2;
  AppendUnits(w, n.keyStart, n.keyEnd - unit, false, &key);
  return key;
}

// A text value, up to its first zero unit and never past its node. A
// stored length of zero is an empty string, as the lookup answers.
std::u16string ReadText(const Walk &w, const VersionNode &n) {
  std::u16string text;
  if (n.valueLength == 0 || n.valueStart >= n.end)
    return text;
  AppendUnits(w, n.valueStart, n.end, true, &text);
  return text;
}

// What a text value's stored length counts past its terminator. A
// Unicode text node's wValueLength counts units; a length of twice the
// text (with or without its terminator) is a count of bytes, which holds
// nothing more.
void MeasureTail(const Walk &w, const VersionNode &n, size_t text,
                 size_t *zerosPast, bool *textPastZero) {
  *zerosPast = 0;
  *textPastZero = false;
  size_t unit = w.ansi ? 1 : 2;
  size_t stored = w.ansi || n.text ? n.valueLength : n.valueLength / 2;
  if (n.valueStart >= n.end || stored <= text + 1)
    return;
  if (!w.ansi && n.text && (stored == 2 * (text + 1) || stored == 2 * text))
    return;
  size_t room = (n.end - n.valueStart) / unit;
  size_t counted = stored < room ? stored : room;
  if (counted <= text + 1)
    return;
  std::u16string tail;
  AppendUnits(w, n.valueStart + (text + 1) * unit,
              n.valueStart + counted * unit, false, &tail);
  for (char16_t c : tail) {
    if (c != 0) {
      *textPastZero = true;
      return;
    }
    ++*zerosPast;
  }
}

// Opens the walk at the root; false for a block too small to hold one.
bool StartWalk(ByteSource *src, const void *block, size_t blockSize, Walk *w,
               VersionNode *root) {
  InitMemorySource(src, block, blockSize);
  size_t extent;
  if (!ReadBlockHeader(src, &extent, &w->ansi))
    return false;
  w->src = src;
  return ParseVersionNode(src, 0, extent < blockSize ? extent : blockSize,
                          w->ansi, root);
}

// The table key of a translation entry as the report composes it: the
// language, then the code page, in lowercase hexadecimal.
void TableKey(uint32_t translation, char (&key)[9]) {
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 4; ++i) {
    key[i] = kHex[(translation >> (12 - 4 * i)) & 0xF];
    key[4 + i] = kHex[(translation >> (28 - 4 * i)) & 0xF];
  }
  key[8] = '\0';
}

// Hands every string of a table node to sink, in stored order; units and
// text are the buffers each key and value is read into in turn.
void VisitTableStrings(const Walk &w, const VersionNode &table,
                       const VersionTableSink &sink, std::u16string *units,
                       std::u16string *text) {
  size_t pos = table.childStart;
  while (pos < table.end) {
    VersionNode child;
    // A malformed entry ends the table, as it ends the lookup's search.
    if (!ParseVersionNode(w.src, pos, table.end, w.ansi, &child))
      break;
    units->clear();
    AppendUnits(w, child.keyStart, child.keyEnd - (w.ansi ? 1 : 2), false,
                units);
    text->clear();
    if (child.valueLength != 0 && child.valueStart < child.end)
      AppendUnits(w, child.valueStart, child.end, true, text);
    VersionStringUnits s = {
        units->data(), units->size(), text->data(), text->size(), 0, false};
    MeasureTail(w, child, text->size(), &s.zerosPast, &s.textPastZero);
    sink.string(sink.context, s);
    pos += Align4(child.end - child.start);
  }
}

void AppendString(std::vector<VersionString> *out,
                  const VersionStringUnits &s) {
  VersionString entry;
  entry.key.assign(s.key, s.keyLength);
  entry.value.assign(s.value, s.valueLength);
  entry.zerosPast = s.zerosPast;
  entry.textPastZero = s.textPastZero;
  out->push_back(std::move(entry));
}

// Every string of a table node, in stored order.
void ReadTable(const Walk &w, const VersionNode &table,
               std::vector<VersionString> *out) {
  // Tables hold about a dozen strings: room for them without regrowing.
  out->reserve(16);
  VersionTableSink sink = {
      out, nullptr, [](void *context, const VersionStringUnits &s) {
        AppendString(static_cast<std::vector<VersionString> *>(context), s);
      }};
  std::u16string units, text;
  VisitTableStrings(w, table, sink, &units, &text);
}

// Opens the walk and finds \StringFileInfo; false without one.
bool FindStringFileInfo(ByteSource *src, const void *block, size_t blockSize,
                        Walk *w, VersionNode *info) {
  VersionNode root;
  return block != nullptr && StartWalk(src, block, blockSize, w, &root) &&
         FindVersionChild(w->src, root, w->ansi, "StringFileInfo", 14, info);
}

} // namespace

bool ListVersionStrings(const void *block, size_t blockSize,
                        uint32_t translation, std::vector<VersionString> *out) {
  out->clear();
  ByteSource src;
  Walk w;
  VersionNode info, table;
  char key[9];
  TableKey(translation, key);
  if (!FindStringFileInfo(&src, block, blockSize, &w, &info) ||
      !FindVersionChild(w.src, info, w.ansi, key, 8, &table))
    return false;
  ReadTable(w, table, out);
  return true;
}

bool VisitVersionTables(const void *block, size_t blockSize,
                        uint32_t translation, const VersionTableSink &sink,
                        size_t *chosen) {
  *chosen = 0;
  ByteSource src;
  Walk w;
  VersionNode info;
  if (!FindStringFileInfo(&src, block, blockSize, &w, &info))
    return false;
  char key[9];
  TableKey(translation, key);
  bool matched = false;
  size_t count = 0;
  // Reused for every key and value: the sink converts them as they come.
  std::u16string units, text;
  // The same steps as the lookup's search among the tables, so that the
  // table marked is the one it finds and a table it cannot pass ends both.
  size_t pos = info.childStart;
  while (pos < info.end) {
    VersionNode table;
    if (!ParseVersionNode(w.src, pos, info.end, w.ansi, &table))
      break;
    bool picked = !matched && VersionKeyEquals(w.src, table, w.ansi, key, 8);
    if (picked) {
      matched = true;
      *chosen = count;
    }
    units.clear();
    AppendUnits(w, table.keyStart, table.keyEnd - (w.ansi ? 1 : 2), false,
                &units);
    sink.table(sink.context, units.data(), units.size(), picked);
    VisitTableStrings(w, table, sink, &units, &text);
    ++count;
    pos += Align4(table.end - table.start);
  }
  if (!matched)
    *chosen = count;
  return true;
}

namespace {

void AddTable(void *context, const char16_t *key, size_t length, bool) {
  auto *out = static_cast<std::vector<VersionTable> *>(context);
  out->emplace_back();
  out->back().key.assign(key, length);
  // Tables hold about a dozen strings: room for them without regrowing.
  out->back().strings.reserve(16);
}

void AddString(void *context, const VersionStringUnits &s) {
  AppendString(
      &static_cast<std::vector<VersionTable> *>(context)->back().strings, s);
}

} // namespace

bool ListVersionTables(const void *block, size_t blockSize,
                       uint32_t translation, std::vector<VersionTable> *out,
                       size_t *chosen) {
  out->clear();
  VersionTableSink sink = {out, AddTable, AddString};
  return VisitVersionTables(block, blockSize, translation, sink, chosen);
}

bool ListStringTableKeys(const void *block, size_t blockSize,
                         std::vector<std::u16string> *keys) {
  keys->clear();
  ByteSource src;
  Walk w;
  VersionNode root, info;
  if (block == nullptr || !StartWalk(&src, block, blockSize, &w, &root) ||
      !FindVersionChild(w.src, root, w.ansi, "StringFileInfo", 14, &info))
    return false;
  size_t pos = info.childStart;
  while (pos < info.end) {
    VersionNode table;
    // A malformed entry ends the list, as it ends the lookup's search.
    if (!ParseVersionNode(w.src, pos, info.end, w.ansi, &table))
      break;
    keys->push_back(ReadKey(w, table));
    pos += Align4(table.end - table.start);
  }
  return true;
}

bool QueryVersionText(const void *block, size_t blockSize, const char *subBlock,
                      std::u16string *out) {
  out->clear();
  ByteSource src;
  Walk w;
  VersionNode node;
  bool atRoot = true;
  if (block == nullptr || !StartWalk(&src, block, blockSize, &w, &node) ||
      !FollowVersionPath(w.src, w.ansi, subBlock, &node, &atRoot) || atRoot)
    return false;
  *out = ReadText(w, node);
  return true;
}
