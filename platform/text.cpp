// text.cpp - collation keys, number formatting and display names.
#include "platform/text.h"

#include <langinfo.h>
#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace vantrel::platform {
namespace {

struct Locales {
  locale_t collate = nullptr;  // the user's LC_COLLATE and LC_CTYPE
  locale_t numeric = nullptr;  // the user's LC_NUMERIC
  bool codePointOrder = true;  // the collation is plain code-point order (C, POSIX, C.UTF-8)
};

Locales& TheLocales() {
  static Locales loc;
  static std::once_flag once;
  std::call_once(once, [] {
    loc.collate = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "", nullptr);
    if (loc.collate == nullptr) loc.collate = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C.UTF-8", nullptr);
    loc.numeric = newlocale(LC_NUMERIC_MASK, "", nullptr);
    // A locale collates by code point when it orders "a" < "B" by bytes ('B' < 'a').
    if (loc.collate != nullptr) {
      loc.codePointOrder = wcscoll_l(L"B", L"a", loc.collate) < 0 &&
                           wcscoll_l(L"a", L"b", loc.collate) < 0;
    }
  });
  return loc;
}

// Decodes one UTF-8 sequence at s[i]; invalid bytes decode as U+FFFD and
// advance by one.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are invalid.
  static const char32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += len;
  return cp;
}


// Appends a collation weight so that byte order of the result follows the
// numeric order of the weights: 1 byte below 0x7F, 2 bytes below 0x407F, else 5.
void AppendWeight(std::string& out, uint32_t w) {
  if (w < 0x7F) {
    out += static_cast<char>(w + 1);
  } else if (w < 0x407F) {
    const uint32_t v = w - 0x7F;
    out += static_cast<char>(0x80 | (v >> 8));
    out += static_cast<char>(v & 0xFF);
  } else {
    out += static_cast<char>(0xFF);
    for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((w >> s) & 0xFF);
  }
}

struct Separators {
  std::string thousands;
  std::string decimal;
};

Separators NumberSeparators() {
  Locales& loc = TheLocales();
  Separators sep{",", "."};
  if (loc.numeric != nullptr) {
    const char* t = nl_langinfo_l(THOUSEP, loc.numeric);
    const char* d = nl_langinfo_l(RADIXCHAR, loc.numeric);
    // Locales without grouping (C, POSIX) keep the familiar "," and ".".
    if (t != nullptr && t[0] != '\0' && d != nullptr && d[0] != '\0') {
      sep.thousands = t;
      sep.decimal = d;
    }
  }
  return sep;
}

std::string Group(const std::string& digits, const std::string& sep) {
  std::string out;
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void InitLocale() { TheLocales(); }

char32_t FoldedCodePoint(std::string_view text, size_t& pos) {
  // Case mapping must not depend on the user's language settings: a panel
  // started under the C locale still finds "Ü" by typing "ü".
  static const locale_t ctype = [] {
    locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return loc != nullptr ? loc : newlocale(LC_CTYPE_MASK, "", nullptr);
  }();
  const char32_t cp = DecodeUtf8(text, pos);
  if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
  return ctype != nullptr ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), ctype)) : cp;
}

std::string CollationKey(std::string_view name) {
  Locales& loc = TheLocales();
  std::string key;
  key.reserve(name.size());
  if (loc.codePointOrder || loc.collate == nullptr) {
    // Folded UTF-8 keeps code-point order byte for byte.
    for (size_t i = 0; i < name.size();) {
      const char32_t cp = DecodeUtf8(name, i);
      AppendUtf8(key, cp < 0x80 ? static_cast<char32_t>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp)
                                : static_cast<char32_t>(towlower(static_cast<wint_t>(cp))));
    }
    return key;
  }
  std::wstring wide;
  wide.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    wide += static_cast<wchar_t>(towlower_l(static_cast<wint_t>(DecodeUtf8(name, i)), loc.collate));
  }
  std::wstring weights(wide.size() * 4 + 16, L'\0');
  size_t n = wcsxfrm_l(weights.data(), wide.c_str(), weights.size(), loc.collate);
  if (n >= weights.size()) {
    weights.assign(n + 1, L'\0');
    n = wcsxfrm_l(weights.data(), wide.c_str(), weights.size(), loc.collate);
  }
  key.clear();
  key.reserve(n + n / 2);
  for (size_t i = 0; i < n; ++i) AppendWeight(key, static_cast<uint32_t>(weights[i]));
  return key;
}

int CompareNames(std::string_view a, std::string_view b) {
  const int c = CollationKey(a).compare(CollationKey(b));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int CompareNoCaseAscii(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'A' && ca <= 'Z') ca += 32;
    if (cb >= 'A' && cb <= 'Z') cb += 32;
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string FormatThousands(uint64_t value) {
  return Group(std::to_string(value), NumberSeparators().thousands);
}

std::string FormatFixed(double value, int decimals) {
  const Separators sep = NumberSeparators();
  char buf[64];
  // to_chars ignores the process locale, so the text always has a "." to split at.
  auto res = std::to_chars(buf, buf + sizeof buf, value < 0 ? -value : value,
                           std::chars_format::fixed, decimals);
  std::string s(buf, res.ec == std::errc() ? res.ptr : buf);
  const size_t dot = s.find('.');
  std::string whole = dot == std::string::npos ? s : s.substr(0, dot);
  std::string out = value < 0 ? "-" : "";
  out += Group(whole, sep.thousands);
  if (dot != std::string::npos) out += sep.decimal + s.substr(dot + 1);
  return out;
}

std::string DisplayName(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) AppendUtf8(out, DecodeUtf8(bytes, i));
  return out;
}

namespace {

bool IsControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

std::string TerminalName(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  char buf[16];
  for (size_t i = 0; i < bytes.size();) {
    const size_t start = i;
    const char32_t cp = DecodeUtf8(bytes, i);
    if (cp == 0xFFFD && i - start == 1) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(bytes[start]));
      out += buf;
      continue;
    }
    if (!IsControl(cp)) {
      out.append(bytes.substr(start, i - start));
      continue;
    }
    switch (cp) {
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\v': out += "\\v"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case 0x1B: out += "\\033"; break;
      default:
        std::snprintf(buf, sizeof buf, cp < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(cp));
        out += buf;
    }
  }
  return out;
}

std::string VisibleName(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = DecodeUtf8(bytes, i);
    if (cp < 0x20) cp += 0x2400;
    else if (cp == 0x7F) cp = 0x2421;
    else if (cp >= 0x80 && cp <= 0x9F) cp = 0xFFFD;
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace vantrel::platform
