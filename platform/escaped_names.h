#pragma once
// Names the system hands out escaped: mount points in /proc/self/mountinfo
// (\NNN, octal) and the links udev makes under /dev/disk/by-label (\xHH).
// Only a well-formed escape is decoded; anything else stays as it is, so a
// stray backslash never loses or invents a byte.
#include <string>
#include <string_view>

namespace vantrel::platform {

std::string UnescapeOctal(std::string_view s);
std::string UnescapeHex(std::string_view s);

}  // namespace vantrel::platform
