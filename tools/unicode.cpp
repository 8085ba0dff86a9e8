// unicode.cpp - normalisation, case and character classes through ICU.
#include "tools/unicode.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

namespace vantrel::tools {

namespace {

bool ToUtf16(std::string_view text, std::u16string& out) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  out.resize(static_cast<size_t>(length));
  status = U_ZERO_ERROR;
  u_strFromUTF8(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()), &status);
  return U_SUCCESS(status);
}

std::string ToUtf8(const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
  std::string out(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()), &status);
  return out;
}

std::string Normalized(std::string_view text, bool composed) {
  if (!HasNonAscii(text)) return std::string(text);
  std::u16string wide;
  if (!ToUtf16(text, wide)) return std::string(text);
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* form = composed ? unorm2_getNFCInstance(&status) : unorm2_getNFDInstance(&status);
  if (U_FAILURE(status)) return std::string(text);
  const int32_t n = static_cast<int32_t>(wide.size());
  std::u16string out(wide.size() * 3 + 8, u'\0');
  const int32_t length = unorm2_normalize(form, wide.data(), n, out.data(),
                                          static_cast<int32_t>(out.size()), &status);
  if (U_FAILURE(status)) return std::string(text);
  out.resize(static_cast<size_t>(length));
  return ToUtf8(out);
}

// Runs one of ICU's whole-string case functions with a growing buffer.
template <class Fn>
std::u16string MapCase(const std::u16string& in, Fn fn) {
  std::u16string out(in.size() + 16, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = fn(out.data(), static_cast<int32_t>(out.size()), in.data(),
                              static_cast<int32_t>(in.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<size_t>(length) + 1, u'\0');
      continue;
    }
    if (U_FAILURE(status)) return in;
    out.resize(static_cast<size_t>(length));
    return out;
  }
  return in;
}

std::u16string Lower(const std::u16string& in) {
  return MapCase(in, [](UChar* d, int32_t dn, const UChar* s, int32_t sn, UErrorCode* st) {
    return u_strToLower(d, dn, s, sn, "", st);
  });
}

std::u16string Upper(const std::u16string& in) {
  return MapCase(in, [](UChar* d, int32_t dn, const UChar* s, int32_t sn, UErrorCode* st) {
    return u_strToUpper(d, dn, s, sn, "", st);
  });
}

}  // namespace

bool HasNonAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return true;
  return false;
}

char32_t DecodeAt(std::string_view text, size_t pos, size_t& length) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  length = 1;
  const unsigned char b = s[pos];
  if (b < 0x80) return b;
  int extra;
  char32_t c;
  char32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1, c = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2, c = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3, c = b & 0x07, min = 0x10000;
  } else {
    return 0xFFFD;
  }
  if (pos + static_cast<size_t>(extra) >= n) return 0xFFFD;
  for (int i = 1; i <= extra; ++i) {
    const unsigned char t = s[pos + i];
    if ((t & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (t & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  length = static_cast<size_t>(extra) + 1;
  return c;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    size_t length;
    const char32_t c = DecodeAt(text, pos, length);
    if (c == 0xFFFD && length == 1 && static_cast<unsigned char>(text[pos]) >= 0x80) return false;
    pos += length;
  }
  return true;
}

std::vector<std::string_view> CodePoints(std::string_view text) {
  std::vector<std::string_view> out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    size_t length;
    DecodeAt(text, pos, length);
    out.push_back(text.substr(pos, length));
    pos += length;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string ComposedForm(std::string_view text) { return Normalized(text, true); }
std::string DecomposedForm(std::string_view text) { return Normalized(text, false); }

bool IsWordChar(char32_t c) {
  if (c < 0x80) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }
  switch (u_charType(static_cast<UChar32>(c))) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER:
    case U_NON_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_COMBINING_SPACING_MARK:
    case U_DECIMAL_DIGIT_NUMBER:
    case U_LETTER_NUMBER:
    case U_OTHER_NUMBER:
    case U_CONNECTOR_PUNCTUATION:
      return true;
    default:
      return false;
  }
}

std::string ChangeCase(std::string_view text, TCaseChange change) {
  if (change == TCaseChange::None) return std::string(text);
  std::u16string wide;
  if (!IsValidUtf8(text) || !ToUtf16(text, wide)) return std::string(text);
  switch (change) {
    case TCaseChange::Lower:
      return ToUtf8(Lower(wide));
    case TCaseChange::Upper:
      return ToUtf8(Upper(wide));
    case TCaseChange::FirstUpper:
    case TCaseChange::Title: {
      // Word by word (a word: a run of word characters), so that the rules
      // stay the same as those of "whole words" in the search.
      std::string lower = ToUtf8(Lower(wide));
      std::string out;
      bool inWord = false;
      bool first = true;
      for (size_t pos = 0; pos < lower.size();) {
        size_t length;
        const char32_t c = DecodeAt(lower, pos, length);
        const std::string_view piece(lower.data() + pos, length);
        const bool word = IsWordChar(c);
        if (word && !inWord && (first || change == TCaseChange::Title) && u_isalpha(static_cast<UChar32>(c))) {
          std::u16string one;
          ToUtf16(piece, one);
          out += ToUtf8(MapCase(one, [](UChar* d, int32_t dn, const UChar* s, int32_t sn, UErrorCode* st) {
            return u_strToTitle(d, dn, s, sn, nullptr, "", st);
          }));
          first = false;
        } else {
          out.append(piece);
          if (word && u_isalpha(static_cast<UChar32>(c))) first = false;
        }
        inWord = word;
        pos += length;
      }
      return out;
    }
    case TCaseChange::None:
      break;
  }
  return std::string(text);
}

}  // namespace vantrel::tools
