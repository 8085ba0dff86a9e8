#include "platform/wildcard.h"

namespace vantrel::platform {

bool MatchWildcard(std::string_view mask, std::string_view name) {
  if (mask == "*.*" || mask == "*") return true;
  // Iterative matching with one backtrack point: linear in practice and never
  // exponential, whatever the mask.
  size_t m = 0, n = 0;
  size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::string_view::npos) {
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
