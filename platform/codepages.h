// codepages.h - the single-byte code pages a text may be written in when it is
// neither UTF-8 nor UTF-16: Latin-1 and the Cyrillic and DOS pages of the
// systems such files come from.
#pragma once

namespace vantrel::platform {

enum class CodePage { Latin1, Cp1251, Cp866, Cp437 };

// The Unicode character of `byte` in `page` (U+FFFD where the page assigns none).
char16_t CodePageChar(CodePage page, unsigned char byte);

// The 128 characters of 0x80 to 0xFF, or nullptr for Latin-1 (the bytes are
// the characters).
const char16_t* UpperHalf(CodePage page);

}  // namespace vantrel::platform
