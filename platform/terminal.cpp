// terminal.cpp - choosing and starting the desktop's terminal.
#include "platform/terminal.h"

#include <cstdlib>

#include "platform/process.h"

namespace vantrel::platform {

const std::vector<std::string_view> kKnownTerminals = {
    "gnome-terminal", "konsole", "xfce4-terminal", "mate-terminal", "lxterminal", "qterminal",
    "tilix",          "terminator", "alacritty",   "kitty",         "foot",       "wezterm",
    "urxvt",          "st",       "xterm"};

std::vector<std::string> ChooseTerminal(std::string_view setting, std::string_view environment,
                                        const std::function<bool(std::string_view)>& found) {
  for (std::string_view configured : {setting, environment}) {
    std::vector<std::string> words = SplitCommandLine(configured);
    if (!words.empty() && found(words[0])) return words;
  }
  if (found("x-terminal-emulator")) return {"x-terminal-emulator"};
  for (std::string_view name : kKnownTerminals)
    if (found(name)) return {std::string(name)};
  return {};
}

bool OpenTerminal(const std::string& directory, std::string_view setting, std::string* error) {
  const char* env = std::getenv("TERMINAL");
  const std::vector<std::string> command =
      ChooseTerminal(setting, env != nullptr ? env : "", [](std::string_view p) { return !FindProgram(p).empty(); });
  if (command.empty()) {
    if (error) *error = "no terminal was found (name one in Options | General settings, or in $TERMINAL)";
    return false;
  }
  return StartDetached(command, directory, error);
}

}  // namespace vantrel::platform
