// codepages.h - the single-byte code pages a text may be written in when it is
// neither UTF-8 nor UTF-16: Latin-1 and the Cyrillic and DOS pages of the
// systems such files come from.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::platform {

enum class CodePage { Latin1, Cp1251, Cp866, Cp437 };

// The Unicode character of `byte` in `page` (U+FFFD where the page assigns none).
char16_t CodePageChar(CodePage page, unsigned char byte);

// The 128 characters of 0x80 to 0xFF, or nullptr for Latin-1 (the bytes are
// the characters).
const char16_t* UpperHalf(CodePage page);

// `bytes` in `page` as UTF-8: every byte is one character.
std::string CodePageBytesToUtf8(std::string_view bytes, CodePage page);

}  // namespace vantrel::platform

// ------------------------------------------------------------ named code pages
//
// Names written by systems that keep them in a code page of their own (DOS
// and Windows archivers, older Unix locales) are converted through the C
// library's converters; a page is named as users name it ("CP866", "KOI8-R",
// "CP932").

namespace vantrel::platform {

// The pages a name is likely to be in, in the order they are offered.
const std::vector<std::string>& NameCodePages();
// Whether `page` can be converted from here ("UTF-8" is).
bool IsKnownCodePage(std::string_view page);
// The bytes in `page` as UTF-8; nothing when the page is unknown or the bytes
// are not text in it (a broken double-byte sequence).
std::optional<std::string> CodePageToUtf8(std::string_view bytes, std::string_view page);
// The page that names from this user's part of the world are most likely
// in, from the locale (LC_ALL, LC_CTYPE, LANG): "CP866" for Russian, "CP932"
// for Japanese; empty when the locale says nothing.
std::string LocaleNameCodePage();
// The same for a locale name such as "ru_RU.UTF-8".
std::string NameCodePageOfLocale(std::string_view locale);

}  // namespace vantrel::platform
