// wildcard.h - the wildcard masks users type ("*.txt", "report?.doc").
#pragma once

#include <string_view>

namespace vantrel::platform {

// "*" matches any run of characters, "?" exactly one; everything else matches
// itself, byte for byte (names on Linux are case-sensitive). The mask "*.*"
// matches every name, with or without a dot, as users of such masks expect.
bool MatchWildcard(std::string_view mask, std::string_view name);

// The same matching over any sequence of characters (bytes, code points),
// without the "*.*" rule. Iterative with one backtrack point: linear in
// practice and never exponential, whatever the mask.
template <class Chars>
bool MatchWildcardChars(const Chars& mask, const Chars& name) {
  using Size = decltype(mask.size());
  const Size none = static_cast<Size>(-1);
  Size m = 0, n = 0, starMask = none, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] != '*' && (mask[m] == '?' || mask[m] == name[n])) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != none) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace vantrel::platform
