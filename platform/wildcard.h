// wildcard.h - the wildcard masks users type ("*.txt", "report?.doc").
#pragma once

#include <string_view>

namespace vantrel::platform {

// "*" matches any run of characters, "?" exactly one; everything else matches
// itself, byte for byte (names on Linux are case-sensitive). The mask "*.*"
// matches every name, with or without a dot, as users of such masks expect.
bool MatchWildcard(std::string_view mask, std::string_view name);

}  // namespace vantrel::platform
