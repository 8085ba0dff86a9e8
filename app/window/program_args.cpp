// program_args.cpp - reading the file manager's command line.
#include "app/window/program_args.h"

#include <cstdio>

#include "platform/ini.h"
#include "platform/install_paths.h"

namespace vantrel::app {

namespace {

bool IsOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

}  // namespace

TProgramArgs ParseProgramArgs(const std::vector<std::string>& args, bool toolkitOptionsLeft) {
  using TAction = TProgramArgs::TAction;
  TProgramArgs out;
  auto fail = [&out](std::string error) {
    out.Action = TAction::Error;
    out.Error = std::move(error);
    return out;
  };
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && IsOption(arg)) {
      if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "--help" || arg == "-h") {
        out.Action = TAction::Help;
        return out;
      } else if (arg == "--version") {
        out.Action = TAction::Version;
        return out;
      } else if (arg == "--new-window") {
        out.NewWindow = true;
      } else if (arg.rfind("--", 0) == 0 || !toolkitOptionsLeft) {
        return fail("unknown option '" + arg + "'");
      }
      continue;
    }
    if (toolkitOptionsLeft) continue;  // may be the value of a toolkit option
    if (out.Paths.size() == 2) return fail("too many paths: '" + arg + "'");
    out.Paths.push_back(arg);
  }
  return out;
}

std::string ProgramHelpText(const std::string& settingsPath, const std::string& dataDir) {
  return "Usage: vantrel [OPTION]... [DIR_OR_ARCHIVE [DIR]]\n"
         "A two-panel file manager with its own ZIP engine.\n"
         "\n"
         "The left panel opens at DIR_OR_ARCHIVE (a ZIP archive opens as a folder,\n"
         "any other file in its folder with the cursor on it), the right panel at\n"
         "DIR. Without paths both panels open where they were when Vantrel last\n"
         "closed. When Vantrel is running already, the path opens in a new tab of\n"
         "its window.\n"
         "\n"
         "  --new-window   open a window of its own even when Vantrel is running\n"
         "  -h, --help     show this help and exit\n"
         "  --version      show the version and exit\n"
         "\n"
         "Files:\n"
         "  " + settingsPath + "\n"
         "      the settings\n"
         "  " + dataDir + "\n"
         "      translations (Language/) and help pages (help/)\n";
}

std::string ProgramVersionText() { return std::string("vantrel ") + platform::ProgramVersion() + "\n"; }

bool AnswerOnTerminal(const TProgramArgs& args, int* status) {
  using TAction = TProgramArgs::TAction;
  switch (args.Action) {
    case TAction::Run:
      return false;
    case TAction::Help:
      std::fputs(ProgramHelpText(platform::ProfilePath("vantrel.ini"), platform::DataDirectory()).c_str(), stdout);
      *status = 0;
      return true;
    case TAction::Version:
      std::fputs(ProgramVersionText().c_str(), stdout);
      *status = 0;
      return true;
    case TAction::Error:
      std::fprintf(stderr, "vantrel: %s\nTry 'vantrel --help' for more information.\n", args.Error.c_str());
      *status = 2;
      return true;
  }
  return false;
}

}  // namespace vantrel::app
