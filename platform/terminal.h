// terminal.h - opening the desktop's terminal in a directory.
//
// Which terminal: the command the user set (the settings file's "Terminal"
// key) when there is one; else the TERMINAL environment variable; else the
// system's chosen terminal, x-terminal-emulator; else the first common
// desktop terminal found on PATH. The terminal starts detached with the
// directory as its working directory, which is where every one of them
// opens its shell.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::platform {

// The terminals looked for on PATH when nothing names one, in order.
extern const std::vector<std::string_view> kKnownTerminals;

// The words of the terminal command chosen from the setting, the TERMINAL
// variable (`environment`, empty when unset) and the programs `found` says
// are on PATH; empty when there is none. A setting or variable naming a
// program that is not there is passed over for the next choice.
std::vector<std::string> ChooseTerminal(std::string_view setting, std::string_view environment,
                                        const std::function<bool(std::string_view)>& found);

// Starts the chosen terminal in `directory`. False with `error` set when no
// terminal is found or it cannot be started.
bool OpenTerminal(const std::string& directory, std::string_view setting, std::string* error = nullptr);

}  // namespace vantrel::platform
