// A pattern and a name, split at the first zero byte: the rewrite and the
// matcher must take any bytes, and the name order any pair.
#include <string.h>

#include <string>

#include "match.h"
#include "wildcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t cut = input.find('\0');
  std::string pattern = input.substr(0, cut);
  std::string name = cut == std::string::npos ? "" : input.substr(cut + 1);
  name = name.substr(0, name.find('\0'));
  if (pattern.size() > 259 || name.size() > 255)
    return 0;
  char expression[260];
  RewritePattern(pattern.c_str(), expression, sizeof expression);
  MatchExpression(expression, name.c_str());
  int ab = CompareNames(pattern.c_str(), name.c_str());
  int ba = CompareNames(name.c_str(), pattern.c_str());
  if ((ab < 0) != (ba > 0) || (ab == 0) != (ba == 0))
    __builtin_trap(); // the order must be antisymmetric
  return 0;
}
