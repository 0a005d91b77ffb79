// Builds version blocks byte by byte, for feeding malformed layouts to the
// reader. Well-formed blocks come from real fixtures; these exist to bend
// one field at a time.
#ifndef QUELVO_BLOCK_BUILDER_H
#define QUELVO_BLOCK_BUILDER_H

#include <stdint.h>

#include <string.h>

#include <initializer_list>
#include <string>

#include "exe_locate.h"
#include "version_block.h"

inline std::string U16(const std::string &text, bool terminate = true) {
  std::string out;
  for (char c : text) {
    out += c;
    out += '\0';
  }
  if (terminate)
    out.append(2, '\0');
  return out;
}

// UTF-16LE from explicit units, unterminated.
inline std::string Units(std::initializer_list<uint16_t> units) {
  std::string out;
  for (uint16_t u : units) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

inline std::string Pad4(std::string s) {
  while (s.size() % 4 != 0)
    s += '\0';
  return s;
}

inline void PutLe16(std::string &s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

// A Unicode node starting on a 4-byte boundary: header, key, padding,
// value, padding, children. wLength covers it all but trailing padding.
inline std::string Node(const std::string &key, uint16_t type,
                        uint16_t valueLength, const std::string &value,
                        const std::string &children = "") {
  std::string n(6, '\0');
  PutLe16(n, 2, valueLength);
  PutLe16(n, 4, type);
  n += U16(key);
  n = Pad4(n) + value;
  if (!children.empty())
    n = Pad4(n) + children;
  PutLe16(n, 0, static_cast<uint16_t>(n.size()));
  return n;
}

// The same in the 16-bit layout: no type, ANSI key and value.
inline std::string AnsiNode(const std::string &key, const std::string &value,
                            const std::string &children = "") {
  std::string n(4, '\0');
  PutLe16(n, 2, static_cast<uint16_t>(value.size()));
  n += key;
  n += '\0';
  n = Pad4(n) + value;
  if (!children.empty())
    n = Pad4(n) + children;
  PutLe16(n, 0, static_cast<uint16_t>(n.size()));
  return n;
}

inline std::string Siblings(std::initializer_list<std::string> nodes) {
  std::string out;
  for (const std::string &n : nodes)
    out = Pad4(out) + n;
  return out;
}

// A text value as most resource compilers write it: length in characters,
// terminator included.
inline std::string Text(const std::string &key, const std::string &value) {
  return Node(key, 1, static_cast<uint16_t>(value.size() + 1), U16(value));
}

inline std::string FixedInfo(uint32_t fileFlags = 0) {
  std::string f(52, '\0');
  const uint32_t fields[13] = {
      0xFEEF04BD, 0x10000, 0x00010002, 0x00030004, 0x00010002, 0x00030004, 0x3F,
      fileFlags,  0x40004, 2,          0,          0,          0};
  for (size_t i = 0; i < 13; ++i)
    for (size_t b = 0; b < 4; ++b)
      f[4 * i + b] = static_cast<char>((fields[i] >> (8 * b)) & 0xFF);
  return f;
}

inline std::string Translation(uint16_t language, uint16_t codePage) {
  return Node("VarFileInfo", 1, 0, "",
              Node("Translation", 0, 4, Units({language, codePage})));
}

inline std::string VersionInfo(const std::string &children,
                               uint32_t fileFlags = 0) {
  return Node("VS_VERSION_INFO", 0, 52, FixedInfo(fileFlags), children);
}

// A PE resource laid out as GetFileVersionInfoA lays it out: in a buffer of
// twice its size plus four, tree first, spare area after. *ok says whether
// the layout took it.
inline std::string LaidOut(const std::string &resource, bool *ok) {
  std::string bytes(VersionBufferSize(kImagePe, resource.size(), 0), '\0');
  memcpy(&bytes[0], resource.data(), resource.size());
  *ok = PrepareVersionBlock(reinterpret_cast<unsigned char *>(&bytes[0]),
                            bytes.size(), resource.size());
  return bytes;
}

#endif
