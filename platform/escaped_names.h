#pragma once
// Names the system hands out escaped: mount points in /proc/self/mountinfo
// (\NNN, octal), the links udev makes under /dev/disk/by-label (\xHH), and
// paths in file: URIs and trash info files (%HH). Only a well-formed escape
// is decoded; anything else stays as it is, so a stray backslash or percent
// sign never loses or invents a byte.
#include <string>
#include <string_view>

namespace vantrel::platform {

std::string UnescapeOctal(std::string_view s);
std::string UnescapeHex(std::string_view s);

// The value of a hexadecimal digit of either case; -1 for any other byte.
int HexDigitValue(char c);

// Every byte for which `keep` is false written as %HH (upper-case digits).
std::string PercentEncode(std::string_view s, bool (*keep)(unsigned char));
// %HH with two hexadecimal digits decoded to its byte.
std::string PercentDecode(std::string_view s);

}  // namespace vantrel::platform
