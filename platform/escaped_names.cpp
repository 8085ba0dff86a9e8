#include "platform/escaped_names.h"

namespace vantrel::platform {
namespace {

int OctalDigit(char c) { return c >= '0' && c <= '7' ? c - '0' : -1; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UnescapeOctal(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      const int a = OctalDigit(s[i + 1]), b = OctalDigit(s[i + 2]), c = OctalDigit(s[i + 3]);
      // Three octal digits up to \377 make one byte.
      if (a >= 0 && a <= 3 && b >= 0 && c >= 0) {
        out += static_cast<char>(a * 64 + b * 8 + c);
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

std::string UnescapeHex(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      const int hi = HexDigit(s[i + 2]), lo = HexDigit(s[i + 3]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

}  // namespace vantrel::platform
