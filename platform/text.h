// text.h - locale services for names and numbers shown to the user.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::platform {

// Takes the user's locale from the environment once (collation, numbers).
void InitLocale();

// A key whose byte order is the user's locale-aware, case-insensitive order of
// `name`: two names compare like their keys compare with memcmp / operator<.
std::string CollationKey(std::string_view name);

// The code point at `pos` of UTF-8 `text` in lower case (towlower), moving
// `pos` past it; a byte that is not valid UTF-8 reads as U+FFFD.
char32_t FoldedCodePoint(std::string_view text, size_t& pos);

// Locale-aware case-insensitive comparison of two names (<0, 0, >0).
int CompareNames(std::string_view a, std::string_view b);

// ASCII-case-insensitive comparison (the sort rules for extensions, INI keys).
int CompareNoCaseAscii(std::string_view a, std::string_view b);

// A whole number with thousands separators ("1,234,567"), and a number with
// thousands separators and exactly `decimals` decimals ("1,234.56"). The
// user's locale separators are used when it defines a grouping separator,
// else "," and ".".
std::string FormatThousands(uint64_t value);
std::string FormatFixed(double value, int decimals);

// Appends the UTF-8 bytes of the character `cp` to `out`.
void AppendUtf8(std::string& out, char32_t cp);

// Text for display: valid UTF-8 stays as it is; invalid bytes become U+FFFD.
std::string DisplayName(std::string_view bytes);

// A name as a terminal may show it: control characters (C0, DEL, C1) and
// bytes that are not UTF-8 are written as escapes ("\n", "\033", "\x00",
// "\u009b"), so that no name from an archive or a directory can move the
// cursor, clear the screen or forge lines of output.
std::string TerminalName(std::string_view bytes);

// A name for a window or a message box: like DisplayName, and control
// characters become visible symbols (U+2400 to U+2421 for C0 and DEL, U+FFFD
// for C1), so that a line break or an escape in a name shows as a mark.
std::string VisibleName(std::string_view bytes);

}  // namespace vantrel::platform
