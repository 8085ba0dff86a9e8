// program_args.h - the file manager's command line:
//
//   vantrel [--new-window] [DIR_OR_ARCHIVE [DIR]]
//
// The first path opens in the left panel (an archive opens as a folder), the
// second in the right one. A second start hands its paths to the window that
// is running already, unless --new-window asks for a window of its own.
// --help and --version answer without a display.
#pragma once

#include <string>
#include <vector>

namespace vantrel::app {

struct TProgramArgs {
  enum class TAction { Run, Help, Version, Error };
  TAction Action = TAction::Run;
  bool NewWindow = false;
  // The paths as given: file names, or file: URIs from the desktop.
  std::vector<std::string> Paths;
  std::string Error;  // for TAction::Error: what was wrong, without the program name
};

// Reads the arguments after the program name. Before the toolkit has taken
// its own options (`toolkitOptionsLeft`), options with a single dash and
// every other word are left alone: only --help, --version and unknown long
// options are answered, so they work without a display.
TProgramArgs ParseProgramArgs(const std::vector<std::string>& args, bool toolkitOptionsLeft);

// The text of `vantrel --help`; `dataDir` is the data folder it names.
std::string ProgramHelpText(const std::string& settingsPath, const std::string& dataDir);

// The text of `vantrel --version`.
std::string ProgramVersionText();

// Prints the help, the version or the error of `args` (the error with a
// pointer to --help, on standard error) and sets the exit status: 0, or 2
// after an error. False, printing nothing, when the program is to run.
bool AnswerOnTerminal(const TProgramArgs& args, int* status);

}  // namespace vantrel::app
