// Starting programs: command-line splitting, detached start, no shell.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using Words = std::vector<std::string>;

// Blanks separate, quotes group; backslashes are literal unless quotes follow
// them: an odd count makes a literal quote, an even one a quote that groups.
TEST(SplitCommandLine, BlanksQuotesAndBackslashes) {
  const struct {
    const char* line;
    Words words;
  } cases[] = {
      {"vi", {"vi"}},
      {"  vi  -R\tfile ", {"vi", "-R", "file"}},
      {"\"/opt/my editor/ed\" -x", {"/opt/my editor/ed", "-x"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\"", {""}},
      {"", {}},
      {R"(a\\b)", {R"(a\\b)"}},
      {R"(a\"b)", {R"(a"b)"}},
      {R"("a\\" b)", {R"(a\)", "b"}},
      {R"("say ""hi""")", {R"(say "hi")"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

TEST(FindProgram, SearchesPathAndChecksExecutable) {
  EXPECT_FALSE(FindProgram("sh").empty());
  EXPECT_EQ(FindProgram("no-such-program-vantrel"), "");
  test::TempDir tmp;
  test::WriteFile(tmp / "plain", "data");
  chmod((tmp / "plain").c_str(), 0644);
  EXPECT_EQ(FindProgram(tmp / "plain"), "");  // not executable
  EXPECT_EQ(FindProgram(tmp.path()), "");     // a directory
  EXPECT_EQ(FindProgram(""), "");
  const std::string editor = DefaultEditor();
  EXPECT_TRUE(editor == "xdg-open" || !FindProgram(editor).empty()) << editor;
}

// Waits up to two seconds for a file the started program writes.
static bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 200; ++i) {
    if (access(path.c_str(), F_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(StartCommand, PassesTheNameAsOneWordWithoutAShell) {
  test::TempDir tmp;
  const std::string script = tmp / "record.sh";
  test::WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.out.tmp\"\nmv \"$0.out.tmp\" \"$0.out\"\n");
  chmod(script.c_str(), 0755);
  const std::string name = "my notes; $(touch pwned) 'x'.txt";
  std::string error;
  ASSERT_TRUE(StartCommand("\"" + script + "\" -R", {name}, tmp.path(), &error)) << error;
  ASSERT_TRUE(WaitForFile(script + ".out"));
  EXPECT_EQ(test::ReadFile(script + ".out"), "2\n-R\n" + name + "\n");
  EXPECT_NE(access((tmp / "pwned").c_str(), F_OK), 0);
  EXPECT_FALSE(StartCommand("no-such-viewer-vantrel", {"x"}, {}, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(StartCommand("", {}, {}, &error));
}

TEST(StartShellCommand, RunsInTheGivenDirectoryWithPipes) {
  test::TempDir tmp;
  ASSERT_TRUE(StartShellCommand("echo hello | tr a-z A-Z > out.tmp && mv out.tmp out", tmp.path()));
  ASSERT_TRUE(WaitForFile(tmp / "out"));
  EXPECT_EQ(test::ReadFile(tmp / "out"), "HELLO\n");
}

}  // namespace
}  // namespace vantrel::platform
