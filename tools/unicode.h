// unicode.h - the few Unicode services the tools need: normalisation, case
// mapping, word characters and the code points of a name.
//
// Names and texts are byte strings that are usually, but not always, UTF-8.
// Every function here leaves bytes that are not valid UTF-8 exactly as they
// are, so that no name is ever changed by accident.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::tools {

// Whether `text` is valid UTF-8 (ASCII included).
bool IsValidUtf8(std::string_view text);
// Whether `text` has bytes above 0x7F.
bool HasNonAscii(std::string_view text);

// The composed (NFC) and decomposed (NFD) forms of valid UTF-8; anything
// else comes back unchanged.
std::string ComposedForm(std::string_view text);
std::string DecomposedForm(std::string_view text);

// Letters, marks, digits and other numbers, and connector punctuation ("_"):
// what makes up a word for "whole words".
bool IsWordChar(char32_t c);

// The code point starting at `pos` of UTF-8 `text` and its length in bytes;
// a byte that does not start a valid sequence is one unit of its own and
// reads as U+FFFD (with length 1).
char32_t DecodeAt(std::string_view text, size_t pos, size_t& length);
// The code points of `text` as slices of it (invalid bytes one slice each).
std::vector<std::string_view> CodePoints(std::string_view text);

void AppendUtf8(std::string& out, char32_t c);

enum class TCaseChange : uint8_t {
  None,
  Lower,       // "report final.txt"
  Upper,       // "REPORT FINAL.TXT"
  FirstUpper,  // "Report final.txt": the first letter upper, the rest lower
  Title,       // "Report Final.Txt": each word's first letter upper
};
// The text with its case changed by the full Unicode rules ("ß" upper is
// "SS"); text that is not valid UTF-8 is returned as it is.
std::string ChangeCase(std::string_view text, TCaseChange change);

}  // namespace vantrel::tools
