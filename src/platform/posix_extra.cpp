// The long options' services over our own reader: the same walk and the
// same code page table as the emulated version library, so that a value
// found here is the one the classic report finds.
#include <string.h>

#include "codepage1252.h"
#include "platform_extra.h"
#include "unicode_text.h"
#include "version_block.h"
#include "version_strings.h"

void AppendUnitsAsUtf8(const char16_t *units, size_t count, std::string *out) {
  AppendUtf16AsUtf8(units, count, out);
}

void AppendUnitsAsAnsi(const char16_t *units, size_t count, std::string *out) {
  for (size_t i = 0; i < count; ++i)
    out->push_back(static_cast<char>(UnicodeToCp1252(units[i])));
}

void AppendPathAsUtf8(const char *path, std::string *out) {
  size_t len = 0;
  while (path[len] != '\0')
    ++len;
  AppendBytesAsUtf8(path, len, out);
}

bool QueryVersionTextUtf8(const void *block, size_t blockSize,
                          const char *subBlock, std::string *out) {
  out->clear();
  std::u16string text;
  if (!QueryVersionText(block, blockSize, subBlock, &text))
    return false;
  AppendUtf16AsUtf8(text.data(), text.size(), out);
  return true;
}

namespace {

// The values of names as VerQueryValueA hands them out (null where it
// answers nothing), from the reader's lookups of up to kMaxQueryValues
// names at a time: lookUp(first, count, values, lengths, found).
template <typename LookUp>
void AnswerAsA(const char *const *names, size_t count, const char **values,
               LookUp lookUp) {
  for (size_t done = 0; done < count;) {
    size_t step = count - done;
    if (step > kMaxQueryValues)
      step = kMaxQueryValues;
    unsigned char *found[kMaxQueryValues];
    unsigned lengths[kMaxQueryValues];
    bool ok[kMaxQueryValues];
    lookUp(names + done, step, found, lengths, ok);
    for (size_t i = 0; i < step; ++i)
      values[done + i] =
          ok[i] ? reinterpret_cast<const char *>(found[i]) : nullptr;
    done += step;
  }
}

} // namespace

void QueryVersionValuesA(void *block, size_t blockSize, const char *parentPath,
                         const char *const *names, size_t count,
                         const char **values) {
  AnswerAsA(names, count, values,
            [&](const char *const *some, size_t step, unsigned char **found,
                unsigned *lengths, bool *ok) {
              QueryVersionValuesIn(static_cast<unsigned char *>(block),
                                   blockSize, parentPath, some, step, found,
                                   lengths, ok);
            });
}

bool StartReportLookup(void *block, size_t blockSize, ReportLookup *lookup,
                       LPVOID *value, UINT *length) {
  *lookup = ReportLookup();
  lookup->block = block;
  lookup->blockSize = blockSize;
  *length = 0;
  if (block == nullptr)
    return false;
  ReportRoot root;
  LookUpReportRoot(static_cast<unsigned char *>(block), &root);
  lookup->fixed = root.hasFixed ? root.fixed : nullptr;
  lookup->hasTables = root.hasTables;
  lookup->tablesStart = root.tablesStart;
  lookup->tablesEnd = root.tablesEnd;
  if (!root.hasTranslation)
    return false;
  *value = root.translation;
  *length = root.translationLength;
  return true;
}

void QueryReportStringsA(const ReportLookup *lookup, const char *table,
                         const char *const *names, size_t count,
                         const char **values) {
  ReportRoot root = ReportRoot();
  root.hasTables = lookup->hasTables;
  root.tablesStart = lookup->tablesStart;
  root.tablesEnd = lookup->tablesEnd;
  AnswerAsA(names, count, values,
            [&](const char *const *some, size_t step, unsigned char **found,
                unsigned *lengths, bool *ok) {
              QueryTableValuesIn(static_cast<unsigned char *>(lookup->block),
                                 lookup->blockSize, root, table, some, step,
                                 found, lengths, ok);
            });
}

const void *ReportFixedValue(const ReportLookup *lookup) {
  return lookup->fixed;
}
