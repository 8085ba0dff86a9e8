// password_prompt.h - asking for a password on the terminal without echo.
#pragma once

#include <optional>
#include <string>

namespace vantrel::zip::tool {

// Shows prompt on the controlling terminal and reads one line with echo off.
// Nothing when there is no terminal or reading fails.
std::optional<std::string> ReadPassword(const char* prompt);

}  // namespace vantrel::zip::tool
