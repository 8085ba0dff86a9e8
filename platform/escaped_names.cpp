#include "platform/escaped_names.h"

namespace vantrel::platform {
namespace {

int OctalDigit(char c) { return c >= '0' && c <= '7' ? c - '0' : -1; }

// The byte of two hexadecimal digits, or -1 when either is none.
int HexByte(char hi, char lo) {
  const int h = HexDigitValue(hi), l = HexDigitValue(lo);
  return h >= 0 && l >= 0 ? h * 16 + l : -1;
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

std::string UnescapeHex(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      const int byte = HexByte(s[i + 2], s[i + 3]);
      if (byte >= 0) {
        out += static_cast<char>(byte);
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

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

std::string PercentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const int byte = HexByte(s[i + 1], s[i + 2]);
      if (byte >= 0) {
        out += static_cast<char>(byte);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

}  // namespace vantrel::platform
