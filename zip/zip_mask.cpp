// zip_mask.cpp - mask matching for entry selection.
#include "zip/zip_mask.h"

#include <string>
#include <vector>

#include "zip/zip_format.h"

namespace vantrel::zip {

namespace {

struct CharSet {
  bool valid = false;   // closed and not empty
  bool negated = false;
  size_t next = 0;      // mask position after the closing ">"
  std::string_view body;
};

// Parses a set starting at mask[pos] == '<'.
CharSet ParseSet(std::string_view mask, size_t pos) {
  CharSet set;
  size_t i = pos + 1;
  if (i < mask.size() && (mask[i] == '!' || mask[i] == '^')) {
    set.negated = true;
    ++i;
  }
  size_t close = mask.find('>', i);
  if (close == std::string_view::npos) return set;
  set.body = mask.substr(i, close - i);
  set.next = close + 1;
  set.valid = !set.body.empty();
  return set;
}

// Whether c is listed in the set; ranges are "x-y". With lowToHighOnly a
// range written high to low lists nothing.
bool InSet(const CharSet& set, char c, bool lowToHighOnly) {
  std::string_view b = set.body;
  bool listed = false;
  for (size_t i = 0; i < b.size() && !listed; ++i) {
    if (i + 2 < b.size() && b[i + 1] == '-') {
      unsigned char lo = static_cast<unsigned char>(b[i]);
      unsigned char hi = static_cast<unsigned char>(b[i + 2]);
      if (lo > hi && !lowToHighOnly) std::swap(lo, hi);
      unsigned char uc = static_cast<unsigned char>(c);
      listed = lo <= uc && uc <= hi;
      i += 2;
    } else {
      listed = b[i] == c;
    }
  }
  return listed != set.negated;
}

// The matcher's state: the folded mask and path, and the (mask, path)
// positions already known not to match, so that masks with many stars stay
// polynomial.
struct Matcher {
  std::string_view m, p;
  std::vector<bool> failed;

  bool Match(size_t mi, size_t pi) {
    size_t key = mi * (p.size() + 1) + pi;
    if (failed[key]) return false;
    bool ok = Step(mi, pi);
    if (!ok) failed[key] = true;
    return ok;
  }
  bool Step(size_t mi, size_t pi);
};

bool Matcher::Step(size_t mi, size_t pi) {
  while (mi < m.size()) {
    char c = m[mi];
    if (c == '*') {
      if (mi + 1 < m.size() && m[mi + 1] == '<') {
        // A star before a set: a run of set characters only.
        CharSet set = ParseSet(m, mi + 1);
        if (!set.valid) return false;
        for (size_t k = pi;; ++k) {
          if (Match(set.next, k)) return true;
          if (k >= p.size() || !InSet(set, p[k], true)) return false;
        }
      }
      ++mi;
      if (mi == m.size()) return true;
      for (size_t k = pi; k <= p.size(); ++k)
        if (Match(mi, k)) return true;
      return false;
    }
    if (pi >= p.size()) return false;
    if (c == '?') {
      ++mi, ++pi;
    } else if (c == '<') {
      CharSet set = ParseSet(m, mi);
      if (!set.valid || !InSet(set, p[pi], false)) return false;
      mi = set.next;
      ++pi;
    } else {
      if (c != p[pi]) return false;
      ++mi, ++pi;
    }
  }
  return pi == p.size();
}

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = FoldAscii(c);
  return out;
}

}  // namespace

bool MatchMask(std::string_view mask, std::string_view path) {
  if (mask == "*") return true;
  std::string m = Fold(mask), p = Fold(path);
  Matcher matcher{m, p, std::vector<bool>((m.size() + 1) * (p.size() + 1))};
  return matcher.Match(0, 0);
}

}  // namespace vantrel::zip
