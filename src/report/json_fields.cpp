#include "json_fields.h"

#include <string.h>

#include <string_view>

#include "fact_fields.h"
#include "json_writer.h"
#include "unicode_text.h"

namespace {

struct Scanner {
  const std::string &text;
  size_t at;
};

// Appends a code point as UTF-8.
void AppendUtf8(unsigned cp, std::string *out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// A string at s->at, decoded into out when given. The writer escapes only
// quotes, backslashes and controls, all in the Basic Multilingual Plane
// and none a surrogate, so \uXXXX is one code point here.
bool ScanString(Scanner *s, std::string *out) {
  const std::string &t = s->text;
  if (s->at >= t.size() || t[s->at] != '"')
    return false;
  const char *base = t.data();
  size_t i = s->at + 1;
  while (i < t.size()) {
    // Runs without a quote or an escape go whole: most strings are one.
    const char *quote =
        static_cast<const char *>(memchr(base + i, '"', t.size() - i));
    if (quote == nullptr)
      return false;
    size_t end = static_cast<size_t>(quote - base);
    const char *escape =
        static_cast<const char *>(memchr(base + i, '\\', end - i));
    size_t run = escape == nullptr ? end : static_cast<size_t>(escape - base);
    if (out != nullptr)
      out->append(base + i, run - i);
    i = run;
    if (escape == nullptr) {
      s->at = end + 1;
      return true;
    }
    if (++i >= t.size())
      return false;
    char e = t[i++];
    unsigned cp = 0;
    switch (e) {
    case 'n':
      cp = '\n';
      break;
    case 'r':
      cp = '\r';
      break;
    case 't':
      cp = '\t';
      break;
    case 'b':
      cp = '\b';
      break;
    case 'f':
      cp = '\f';
      break;
    case 'u':
      if (t.size() - i < 4)
        return false;
      for (size_t k = 0; k < 4; ++k) {
        int d = HexDigit(t[i + k]);
        if (d < 0)
          return false;
        cp = cp * 16 + static_cast<unsigned>(d);
      }
      i += 4;
      break;
    default:
      cp = static_cast<unsigned char>(e); // '"', '\\', '/'
    }
    if (out != nullptr)
      AppendUtf8(cp, out);
  }
  return false;
}

// Skips an array or an object, without listing its members; strings
// inside it included.
bool SkipNested(Scanner *s) {
  const std::string &t = s->text;
  int depth = 0;
  while (s->at < t.size()) {
    char c = t[s->at];
    if (c == '"') {
      if (!ScanString(s, nullptr))
        return false;
      continue;
    }
    ++s->at;
    if (c == '[' || c == '{')
      ++depth;
    else if ((c == ']' || c == '}') && --depth == 0)
      return true;
  }
  return false;
}

// Which members an index keeps: every one, or those a list of fields can
// name, and the objects on the way to them.
struct WantedField {
  const std::string *name;
  bool dotted; // a path; else also a string's name in "strings"
};
struct Wanted {
  bool all;
  std::vector<WantedField> fields;
};

bool IsWanted(const Wanted &w, const std::string &path) {
  if (w.all)
    return true;
  for (const WantedField &f : w.fields) {
    const std::string &n = *f.name;
    if (n == path || (!f.dotted && path.size() == n.size() + 8 &&
                      path.compare(0, 8, "strings.") == 0 &&
                      path.compare(8, std::string::npos, n) == 0))
      return true;
  }
  return false;
}

bool LeadsToWanted(const Wanted &w, const std::string &path) {
  if (w.all)
    return true;
  for (const WantedField &f : w.fields) {
    const std::string &n = *f.name;
    if (f.dotted ? n.size() > path.size() && n[path.size()] == '.' &&
                       n.compare(0, path.size(), path) == 0
                 : path == "strings")
      return true;
  }
  return false;
}

bool ScanObject(Scanner *s, const std::string &prefix, const Wanted &w,
                std::vector<JsonMember> *members);

bool ScanValue(Scanner *s, const std::string &path, const Wanted &w,
               std::vector<JsonMember> *members) {
  const std::string &t = s->text;
  if (s->at >= t.size())
    return false;
  size_t start = s->at;
  bool keep = IsWanted(w, path);
  size_t index = members->size();
  if (keep)
    members->push_back({path, start, start});
  bool ok;
  char c = t[s->at];
  if (c == '"') {
    ok = ScanString(s, nullptr);
  } else if (c == '{') {
    ok = LeadsToWanted(w, path) ? ScanObject(s, path + ".", w, members)
                                : SkipNested(s);
  } else if (c == '[') {
    ok = SkipNested(s);
  } else {
    // A number, true, false or null: up to the next separator.
    while (s->at < t.size() && strchr(",}]", t[s->at]) == nullptr)
      ++s->at;
    ok = s->at > start;
  }
  if (keep)
    (*members)[index].end = s->at;
  return ok;
}

bool ScanObject(Scanner *s, const std::string &prefix, const Wanted &w,
                std::vector<JsonMember> *members) {
  const std::string &t = s->text;
  if (s->at >= t.size() || t[s->at] != '{')
    return false;
  ++s->at;
  if (s->at < t.size() && t[s->at] == '}') {
    ++s->at;
    return true;
  }
  std::string path = prefix;
  for (;;) {
    path.resize(prefix.size());
    if (!ScanString(s, &path) || s->at >= t.size() || t[s->at] != ':')
      return false;
    ++s->at;
    if (!ScanValue(s, path, w, members) || s->at >= t.size())
      return false;
    char c = t[s->at++];
    if (c == '}')
      return true;
    if (c != ',')
      return false;
  }
}

} // namespace

bool IndexJsonObject(const std::string &object,
                     std::vector<JsonMember> *members) {
  members->clear();
  Scanner s = {object, 0};
  return ScanObject(&s, "", Wanted{true, {}}, members);
}

bool IndexJsonFields(const std::string &object,
                     const std::vector<std::string> &fields,
                     std::vector<JsonMember> *members) {
  members->clear();
  Scanner s = {object, 0};
  Wanted wanted = {false, {}};
  for (const std::string &f : fields)
    wanted.fields.push_back({&f, f.find('.') != std::string::npos});
  return ScanObject(&s, "", wanted, members);
}

bool ParseFieldList(const char *list, std::vector<std::string> *fields) {
  fields->clear();
  const char *p = list;
  for (;;) {
    const char *comma = strchr(p, ',');
    size_t len = comma == nullptr ? strlen(p) : static_cast<size_t>(comma - p);
    if (len == 0)
      return false;
    fields->emplace_back(p, len);
    if (comma == nullptr)
      return true;
    p = comma + 1;
  }
}

std::vector<std::string> DefaultCsvFields() {
  return {"path",           "status",          "format",
          "machine",        "CompanyName",     "ProductName",
          "ProductVersion", "FileVersion",     "OriginalFilename",
          "file_version",   "product_version", "language"};
}

const JsonMember *FindField(const std::vector<JsonMember> &members,
                            const std::string &field) {
  for (const JsonMember &m : members)
    if (m.path == field)
      return &m;
  if (field.find('.') != std::string::npos)
    return nullptr;
  std::string inStrings = "strings." + field;
  for (const JsonMember &m : members)
    if (m.path == inStrings)
      return &m;
  return nullptr;
}

std::string SelectJsonFields(const std::string &object,
                             const std::vector<JsonMember> &members,
                             const std::vector<std::string> &fields) {
  JsonWriter w = JsonWriter();
  JsonBeginObject(&w);
  for (const std::string &field : fields) {
    JsonMemberName(&w, field.data(), field.size());
    const JsonMember *m = FindField(members, field);
    if (m == nullptr)
      JsonNull(&w);
    else
      JsonRawValue(&w, object.data() + m->start, m->end - m->start);
  }
  JsonEndObject(&w);
  return JsonFinish(&w);
}

namespace {

// A cell's text, in the object or, for a string with escapes, decoded into
// scratch: a string is its text, null or no member nothing, anything else
// its JSON text.
std::string_view CellText(const std::string &object, const JsonMember *member,
                          std::string *scratch) {
  if (member == nullptr)
    return std::string_view();
  std::string_view text(object.data() + member->start,
                        member->end - member->start);
  if (text == "null")
    return std::string_view();
  if (text.size() >= 2 && text[0] == '"' &&
      memchr(text.data(), '\\', text.size()) == nullptr)
    return text.substr(1, text.size() - 2); // nothing escaped
  if (!text.empty() && text[0] == '"') {
    // Read where it lies: a string value ends at its own closing quote.
    scratch->clear();
    Scanner s = {object, member->start};
    if (ScanString(&s, scratch) && s.at == member->end)
      return *scratch;
  }
  return text;
}

} // namespace

std::string_view JsonValueText(const char *value, size_t length,
                               std::string *scratch) {
  std::string_view text(value, length);
  if (text == "null")
    return std::string_view();
  if (text.size() >= 2 && text[0] == '"' &&
      memchr(text.data(), '\\', text.size()) == nullptr)
    return text.substr(1, text.size() - 2); // nothing escaped
  if (!text.empty() && text[0] == '"') {
    std::string copy(text);
    std::string decoded;
    Scanner s = {copy, 0};
    if (ScanString(&s, &decoded) && s.at == copy.size()) {
      *scratch = std::move(decoded);
      return *scratch;
    }
  }
  return text;
}

namespace {

bool NeedsQuotes(std::string_view c) {
  if (c.empty())
    return false;
  // What a spreadsheet may take for the start of a formula, TAB and CR
  // among them.
  if (c[0] == '=' || c[0] == '+' || c[0] == '-' || c[0] == '@' ||
      c[0] == '\t' || c[0] == '\r')
    return true;
  // Every byte that asks for quotes is below '-': one comparison passes
  // nearly every byte of a cell.
  for (char ch : c)
    if (static_cast<unsigned char>(ch) < '-' &&
        (ch == ',' || ch == '"' || ch == '\r' || ch == '\n'))
      return true;
  return false;
}

} // namespace

std::string CsvCell(const std::string &object, const JsonMember *member) {
  std::string scratch;
  return std::string(CellText(object, member, &scratch));
}

void AppendCsvText(std::string_view c, std::string *line) {
  bool quote = NeedsQuotes(c);
  if (!quote) {
    line->append(c);
    return;
  }
  line->push_back('"');
  for (char ch : c) {
    if (ch == '"')
      line->push_back('"');
    line->push_back(ch);
  }
  line->push_back('"');
}

std::string CsvLine(const std::vector<std::string> &cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i != 0)
      line.push_back(',');
    AppendCsvText(cells[i], &line);
  }
  return line;
}

void AppendCsvCell(const std::string &object, const JsonMember *member,
                   std::string *scratch, std::string *line) {
  AppendCsvText(CellText(object, member, scratch), line);
}

bool FindFieldSpan(const std::string &object,
                   const std::vector<JsonMemberSpan> &members,
                   const std::string &field, JsonMember *found) {
  for (const JsonMemberSpan &m : members)
    if (m.key == field) {
      *found = {field, m.start, m.end};
      return true;
    }
  size_t dot = field.find('.');
  std::string head =
      dot == std::string::npos ? "strings" : field.substr(0, dot);
  std::string rest = dot == std::string::npos ? field : field.substr(dot + 1);
  for (const JsonMemberSpan &m : members) {
    if (m.key != head || object[m.start] != '{')
      continue;
    std::vector<JsonMember> inner;
    IndexJsonObject(object.substr(m.start, m.end - m.start), &inner);
    for (const JsonMember &n : inner)
      if (n.path == rest) {
        *found = {field, m.start + n.start, m.start + n.end};
        return true;
      }
  }
  return false;
}

std::vector<JsonMember>
FindFieldSpans(const std::string &object,
               const std::vector<JsonMemberSpan> &members,
               const std::vector<std::string> &fields,
               const std::vector<JsonMemberSpan> *strings) {
  std::vector<JsonMember> found;
  found.reserve(fields.size());
  // The members of the objects read so far, by the member that holds them,
  // indexed where they lie in the object: nothing is copied out of it.
  std::vector<std::pair<const JsonMemberSpan *, std::vector<JsonMember>>> read;
  for (const std::string &field : fields) {
    std::string_view name = field;
    // An object has each key once: the first found is the one.
    const JsonMemberSpan *top = nullptr;
    for (const JsonMemberSpan &m : members)
      if (std::string_view(m.key) == name) {
        top = &m;
        break;
      }
    if (top != nullptr) {
      found.push_back({field, top->start, top->end});
      continue;
    }
    size_t dot = name.find('.');
    if (dot == std::string_view::npos && strings != nullptr) {
      // Each key once: "strings" keeps the first of a repeated one.
      for (const JsonMemberSpan &m : *strings)
        if (std::string_view(m.key) == name) {
          found.push_back({field, m.start, m.end});
          break;
        }
      continue;
    }
    std::string_view head =
        dot == std::string_view::npos ? "strings" : name.substr(0, dot);
    std::string_view rest =
        dot == std::string_view::npos ? name : name.substr(dot + 1);
    const JsonMemberSpan *holder = nullptr;
    for (const JsonMemberSpan &m : members)
      if (std::string_view(m.key) == head) {
        if (object[m.start] == '{')
          holder = &m;
        break;
      }
    if (holder == nullptr)
      continue;
    const std::vector<JsonMember> *inner = nullptr;
    for (const auto &r : read)
      if (r.first == holder)
        inner = &r.second;
    if (inner == nullptr) {
      read.emplace_back(holder, std::vector<JsonMember>());
      Scanner s = {object, holder->start};
      ScanObject(&s, "", Wanted{true, {}}, &read.back().second);
      inner = &read.back().second;
    }
    for (const JsonMember &n : *inner)
      if (std::string_view(n.path) == rest) {
        found.push_back({field, n.start, n.end});
        break;
      }
  }
  return found;
}

bool AppendNamedStringCell(const VersionFacts *facts, const std::string &field,
                           std::string *scratch, std::string *line) {
  if (facts == nullptr || !facts->hasTable)
    return false;
  std::string_view name = field;
  if (name.compare(0, 8, "strings.") == 0)
    name.remove_prefix(8);
  else if (name.find('.') != std::string_view::npos)
    return false;
  for (const VersionText &s : facts->strings) {
    if (std::string_view(s.key) != name)
      continue;
    for (char c : s.value)
      if (static_cast<unsigned char>(c) >= 0x80) {
        scratch->clear();
        AppendBytesAsUtf8(s.value.data(), s.value.size(), scratch);
        AppendCsvText(*scratch, line);
        return true;
      }
    AppendCsvText(s.value, line);
    return true;
  }
  return false;
}
