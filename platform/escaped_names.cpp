#include "platform/escaped_names.h"

namespace vantrel::platform {
namespace {

int OctalDigit(char c) { return c >= '0' && c <= '7' ? c - '0' : -1; }

// Every `prefix` followed by two hexadecimal digits decoded to its byte.
std::string DecodeHexEscapes(std::string_view s, std::string_view prefix) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const size_t digits = i + prefix.size();
    if (digits + 1 < s.size() && s.compare(i, prefix.size(), prefix) == 0) {
      const int hi = HexDigitValue(s[digits]), lo = HexDigitValue(s[digits + 1]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i = digits + 1;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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

std::string UnescapeHex(std::string_view s) { return DecodeHexEscapes(s, "\\x"); }

std::string PercentEncode(std::string_view s, bool (*keep)(unsigned char)) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (keep(c)) {
      out += ch;
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    }
  }
  return out;
}

std::string PercentDecode(std::string_view s) { return DecodeHexEscapes(s, "%"); }

}  // namespace vantrel::platform
