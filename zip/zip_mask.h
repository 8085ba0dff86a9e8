// zip_mask.h - the masks that select archive entries by path.
//
// A mask and a path are matched as a whole, ASCII letters folded to lower
// case: "?" is any one character, "*" any run (the separator included,
// shortest first, with backtracking), <set> one character of a set of
// characters and ranges (<!set> or <^set> negated), and "*<set>" a run made
// only of characters of the set. An unclosed or empty set never matches. The
// mask "*" alone matches every path.
#pragma once

#include <string_view>

namespace vantrel::zip {

bool MatchMask(std::string_view mask, std::string_view path);

}  // namespace vantrel::zip
