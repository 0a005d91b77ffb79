#include "json_fields.h"

#include <string.h>

#include "json_writer.h"

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
  for (size_t i = s->at + 1; i < t.size(); ++i) {
    char c = t[i];
    if (c == '"') {
      s->at = i + 1;
      return true;
    }
    if (c != '\\') {
      if (out != nullptr)
        out->push_back(c);
      continue;
    }
    if (++i >= t.size())
      return false;
    char e = t[i];
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
      if (i + 4 >= t.size())
        return false;
      for (int k = 1; k <= 4; ++k) {
        int d = HexDigit(t[i + static_cast<size_t>(k)]);
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

// Skips an array, strings inside it included.
bool SkipArray(Scanner *s) {
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

bool ScanObject(Scanner *s, const std::string &prefix,
                std::vector<JsonMember> *members);

bool ScanValue(Scanner *s, const std::string &path,
               std::vector<JsonMember> *members) {
  const std::string &t = s->text;
  if (s->at >= t.size())
    return false;
  size_t index = members->size();
  members->push_back({path, s->at, s->at});
  bool ok;
  char c = t[s->at];
  if (c == '"') {
    ok = ScanString(s, nullptr);
  } else if (c == '{') {
    ok = ScanObject(s, path + ".", members);
  } else if (c == '[') {
    ok = SkipArray(s);
  } else {
    // A number, true, false or null: up to the next separator.
    while (s->at < t.size() && strchr(",}]", t[s->at]) == nullptr)
      ++s->at;
    ok = s->at > (*members)[index].start;
  }
  (*members)[index].end = s->at;
  return ok;
}

bool ScanObject(Scanner *s, const std::string &prefix,
                std::vector<JsonMember> *members) {
  const std::string &t = s->text;
  if (s->at >= t.size() || t[s->at] != '{')
    return false;
  ++s->at;
  if (s->at < t.size() && t[s->at] == '}') {
    ++s->at;
    return true;
  }
  for (;;) {
    std::string key;
    if (!ScanString(s, &key) || s->at >= t.size() || t[s->at] != ':')
      return false;
    ++s->at;
    if (!ScanValue(s, prefix + key, members) || s->at >= t.size())
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
  return ScanObject(&s, "", members);
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

std::string CsvCell(const std::string &object, const JsonMember *member) {
  if (member == nullptr)
    return std::string();
  std::string text = object.substr(member->start, member->end - member->start);
  if (text == "null")
    return std::string();
  if (!text.empty() && text[0] == '"') {
    std::string decoded;
    Scanner s = {text, 0};
    if (ScanString(&s, &decoded))
      return decoded;
  }
  return text;
}

std::string CsvLine(const std::vector<std::string> &cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i != 0)
      line.push_back(',');
    const std::string &c = cells[i];
    bool quote = c.find_first_of(",\"\r\n") != std::string::npos ||
                 (!c.empty() && strchr("=+-@", c[0]) != nullptr);
    if (!quote) {
      line += c;
      continue;
    }
    line.push_back('"');
    for (char ch : c) {
      if (ch == '"')
        line.push_back('"');
      line.push_back(ch);
    }
    line.push_back('"');
  }
  return line;
}
