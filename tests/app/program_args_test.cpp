// The file manager's command line: paths, --new-window, --help and
// --version, read once before the toolkit takes its own options and once
// after.
#include "app/window/program_args.h"

#include <gtest/gtest.h>

namespace vantrel::app {
namespace {

using TAction = TProgramArgs::TAction;
using Words = std::vector<std::string>;

TEST(ProgramArgs, AfterTheToolkitEveryWordCounts) {
  const struct {
    Words args;
    TAction action;
    Words paths;
    bool newWindow;
    std::string error;
  } cases[] = {
      {{}, TAction::Run, {}, false, ""},
      {{"/tmp"}, TAction::Run, {"/tmp"}, false, ""},
      {{"a.zip", "/right"}, TAction::Run, {"a.zip", "/right"}, false, ""},
      {{"--new-window", "docs"}, TAction::Run, {"docs"}, true, ""},
      {{"docs", "--new-window"}, TAction::Run, {"docs"}, true, ""},
      {{"--", "--help", "-x"}, TAction::Run, {"--help", "-x"}, false, ""},  // names after "--"
      {{"-"}, TAction::Run, {"-"}, false, ""},
      {{"file:///tmp/a%20b"}, TAction::Run, {"file:///tmp/a%20b"}, false, ""},
      {{"a", "b", "c"}, TAction::Error, {}, false, "too many paths: 'c'"},
      {{"--help"}, TAction::Help, {}, false, ""},
      {{"docs", "-h", "--bogus"}, TAction::Help, {}, false, ""},  // the first answer wins
      {{"--version"}, TAction::Version, {}, false, ""},
      {{"--bogus", "--help"}, TAction::Error, {}, false, "unknown option '--bogus'"},
      {{"-x"}, TAction::Error, {}, false, "unknown option '-x'"},
  };
  for (const auto& c : cases) {
    const TProgramArgs got = ParseProgramArgs(c.args, false);
    const std::string row = testing::PrintToString(c.args);
    EXPECT_EQ(got.Action, c.action) << row;
    if (c.action == TAction::Run) {
      EXPECT_EQ(got.Paths, c.paths) << row;
      EXPECT_EQ(got.NewWindow, c.newWindow) << row;
    }
    EXPECT_EQ(got.Error, c.error) << row;
  }
}

// Before the toolkit ran, "-platform offscreen" is the toolkit's: only the
// questions answered without a display and misspelt long options count.
TEST(ProgramArgs, BeforeTheToolkitOnlyTerminalAnswers) {
  const struct {
    Words args;
    TAction action;
  } cases[] = {
      {{"-platform", "offscreen", "a", "b", "c"}, TAction::Run},
      {{"-platform", "offscreen", "--version"}, TAction::Version},
      {{"-style", "fusion", "-h"}, TAction::Help},
      {{"--bogus"}, TAction::Error},
      {{"--", "--bogus"}, TAction::Run},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseProgramArgs(c.args, true).Action, c.action) << testing::PrintToString(c.args);
}

TEST(ProgramArgs, HelpNamesTheFilesItUses) {
  const std::string help = ProgramHelpText("/home/u/.config/vantrel.ini", "/opt/v/share/vantrel/");
  EXPECT_EQ(help.rfind("Usage: vantrel [OPTION]... [DIR_OR_ARCHIVE [DIR]]\n", 0), 0u);
  for (const char* part : {"--new-window", "--version", "--help", "/home/u/.config/vantrel.ini\n",
                           "/opt/v/share/vantrel/\n"})
    EXPECT_NE(help.find(part), std::string::npos) << part;
}

}  // namespace
}  // namespace vantrel::app
