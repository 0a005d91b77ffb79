// A reader of the objects the program writes, for the tests alone: where
// each member's value lies, nested objects' members by their dotted path,
// so that a value can be held to what another form of output says.
#ifndef QUELVO_JSON_INDEX_H
#define QUELVO_JSON_INDEX_H

#include <string.h>

#include <string>
#include <vector>

struct JsonMember {
  std::string path;
  size_t start;
  size_t end;
};

namespace json_index {

inline void AppendUtf8(unsigned cp, std::string *out) {
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

// A value's text as a cell shows it, read back from its JSON: a string
// decoded, null empty, anything else as written. The program writes no
// surrogate escapes, so \uXXXX is one code point here.
inline std::string Decoded(const std::string &value) {
  if (value == "null")
    return std::string();
  if (value.size() < 2 || value[0] != '"')
    return value;
  std::string out;
  for (size_t i = 1; i + 1 < value.size(); ++i) {
    if (value[i] != '\\') {
      out.push_back(value[i]);
      continue;
    }
    char e = value[++i];
    switch (e) {
    case 'n':
      out.push_back('\n');
      break;
    case 'r':
      out.push_back('\r');
      break;
    case 't':
      out.push_back('\t');
      break;
    case 'b':
      out.push_back('\b');
      break;
    case 'f':
      out.push_back('\f');
      break;
    case 'u':
      AppendUtf8(static_cast<unsigned>(
                     std::stoul(value.substr(i + 1, 4), nullptr, 16)),
                 &out);
      i += 4;
      break;
    default: // '"', '\\', '/'
      out.push_back(e);
    }
  }
  return out;
}

// The end of the string that starts at at (its opening quote), past its
// closing quote; npos when it has none.
inline size_t StringEnd(const std::string &t, size_t at) {
  for (size_t i = at + 1; i < t.size(); ++i) {
    if (t[i] == '\\')
      ++i;
    else if (t[i] == '"')
      return i + 1;
  }
  return std::string::npos;
}

inline size_t ValueEnd(const std::string &t, size_t at) {
  if (at >= t.size())
    return std::string::npos;
  if (t[at] == '"')
    return StringEnd(t, at);
  if (t[at] == '{' || t[at] == '[') {
    int depth = 0;
    for (size_t i = at; i < t.size();) {
      if (t[i] == '"') {
        i = StringEnd(t, i);
        if (i == std::string::npos)
          return i;
        continue;
      }
      if (t[i] == '{' || t[i] == '[')
        ++depth;
      else if ((t[i] == '}' || t[i] == ']') && --depth == 0)
        return i + 1;
      ++i;
    }
    return std::string::npos;
  }
  size_t i = at;
  while (i < t.size() && strchr(",}]", t[i]) == nullptr)
    ++i;
  return i > at ? i : std::string::npos;
}

inline bool Object(const std::string &t, size_t *at, const std::string &prefix,
                   bool nested, std::vector<JsonMember> *out) {
  if (*at >= t.size() || t[*at] != '{')
    return false;
  ++*at;
  if (*at < t.size() && t[*at] == '}') {
    ++*at;
    return true;
  }
  for (;;) {
    size_t keyEnd = StringEnd(t, *at);
    if (keyEnd == std::string::npos || keyEnd >= t.size() || t[keyEnd] != ':')
      return false;
    std::string key = Decoded(t.substr(*at, keyEnd - *at));
    size_t start = keyEnd + 1;
    size_t end = ValueEnd(t, start);
    if (end == std::string::npos || end >= t.size())
      return false;
    out->push_back({prefix + key, start, end});
    if (nested && t[start] == '{') {
      size_t inner = start;
      if (!Object(t, &inner, prefix + key + ".", true, out))
        return false;
    }
    *at = end + 1;
    if (t[end] == '}')
      return true;
    if (t[end] != ',')
      return false;
  }
}

} // namespace json_index

// Every member of an object, in order, nested objects' members after the
// member that holds them; with nested false only its own members.
inline bool IndexJsonObject(const std::string &object,
                            std::vector<JsonMember> *members,
                            bool nested = true) {
  members->clear();
  size_t at = 0;
  return json_index::Object(object, &at, "", nested, members) &&
         at == object.size();
}

// A field as the whole object gives it: the member of that path, or, for
// a name without a dot, the string of that name in "strings".
inline const JsonMember *FindField(const std::vector<JsonMember> &members,
                                   const std::string &field) {
  for (const JsonMember &m : members)
    if (m.path == field)
      return &m;
  if (field.find('.') != std::string::npos)
    return nullptr;
  for (const JsonMember &m : members)
    if (m.path == "strings." + field)
      return &m;
  return nullptr;
}

// The member's value as written, or null for none.
inline std::string ValueOf(const std::string &object, const JsonMember *m) {
  return m == nullptr ? "null" : object.substr(m->start, m->end - m->start);
}

// A CSV cell's text before quoting: a string decoded, null empty, anything
// else its JSON text.
inline std::string CsvCell(const std::string &object, const JsonMember *m) {
  return json_index::Decoded(ValueOf(object, m));
}

#endif
