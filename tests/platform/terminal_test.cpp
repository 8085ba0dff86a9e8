// The terminal a "terminal here" opens: the setting before $TERMINAL before
// the system's choice before the known terminals, names that are not there
// passed over; and a real start landing in the asked directory.
#include "platform/terminal.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using Words = std::vector<std::string>;

TEST(Terminal, ChoosesTheFirstThatIsThere) {
  struct TCase {
    const char* setting;
    const char* environment;
    std::set<std::string> onPath;
    Words chosen;
  } cases[] = {
      {"", "", {"xterm", "konsole", "x-terminal-emulator"}, {"x-terminal-emulator"}},
      {"", "", {"xterm", "konsole"}, {"konsole"}},  // the known list's order, not PATH's
      {"", "kitty", {"kitty", "x-terminal-emulator"}, {"kitty"}},
      {"", "\"my term\" --single", {"my term"}, {"my term", "--single"}},
      {"alacritty -o x=1", "kitty", {"alacritty", "kitty"}, {"alacritty", "-o", "x=1"}},
      {"gone-term", "also-gone", {"xterm"}, {"xterm"}},  // a stale setting is passed over
      {"  ", "", {"foot"}, {"foot"}},
      {"", "", {}, {}},
  };
  for (const TCase& c : cases) {
    const Words chosen = ChooseTerminal(c.setting, c.environment,
                                        [&](std::string_view p) { return c.onPath.count(std::string(p)) > 0; });
    EXPECT_EQ(chosen, c.chosen) << "setting '" << c.setting << "', TERMINAL '" << c.environment << "'";
  }
}

TEST(Terminal, StartsInTheDirectoryAndSaysWhenThereIsNone) {
  test::TempDir tmp;
  const std::string here = tmp / "a dir with spaces";
  test::MakeDir(here);
  // A "terminal" that writes where it was started.
  const std::string script = tmp / "fake-term";
  test::WriteFile(script, "#!/bin/sh\npwd > \"$1\"\n");
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
  std::string error;
  ASSERT_TRUE(OpenTerminal(here, "\"" + script + "\" \"" + (tmp / "where") + "\"", &error)) << error;
  auto where = [&]() -> std::string {
    struct stat st;
    return ::stat((tmp / "where").c_str(), &st) == 0 ? test::ReadFile(tmp / "where") : std::string();
  };
  for (int i = 0; i < 250 && where().find('\n') == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(where(), here + "\n");

  const char* oldPath = std::getenv("PATH");
  const std::string keep = oldPath != nullptr ? oldPath : "";
  const char* oldTerminal = std::getenv("TERMINAL");
  const std::string keepTerminal = oldTerminal != nullptr ? oldTerminal : "";
  ::setenv("PATH", (tmp / "empty-path").c_str(), 1);
  ::unsetenv("TERMINAL");
  error.clear();
  const bool started = OpenTerminal(here, "", &error);
  ::setenv("PATH", keep.c_str(), 1);
  if (oldTerminal != nullptr) ::setenv("TERMINAL", keepTerminal.c_str(), 1);
  EXPECT_FALSE(started);
  EXPECT_NE(error.find("no terminal"), std::string::npos) << error;
}

}  // namespace
}  // namespace vantrel::platform
