#include "platform/wildcard.h"

namespace vantrel::platform {

bool MatchWildcard(std::string_view mask, std::string_view name) {
  if (mask == "*.*" || mask == "*") return true;
  return MatchWildcardChars(mask, name);
}

}  // namespace vantrel::platform
