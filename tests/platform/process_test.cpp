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

TEST(SplitCommandLine, BlanksSeparateQuotesGroup) {
  EXPECT_EQ(SplitCommandLine("vi"), Words{"vi"});
  EXPECT_EQ(SplitCommandLine("  vi  -R\tfile "), (Words{"vi", "-R", "file"}));
  EXPECT_EQ(SplitCommandLine("\"/opt/my editor/ed\" -x"), (Words{"/opt/my editor/ed", "-x"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d"), Words{"ab cd"});
  EXPECT_EQ(SplitCommandLine("\"\""), Words{""});
  EXPECT_EQ(SplitCommandLine(""), Words{});
}

TEST(SplitCommandLine, BackslashRules) {
  EXPECT_EQ(SplitCommandLine(R"(a\\b)"), Words{R"(a\\b)"});        // literal when no quote follows
  EXPECT_EQ(SplitCommandLine(R"(a\"b)"), Words{R"(a"b)"});         // odd count: literal quote
  EXPECT_EQ(SplitCommandLine(R"("a\\" b)"), (Words{R"(a\)", "b"}));  // even count: quote groups
  EXPECT_EQ(SplitCommandLine(R"("say ""hi""")"), Words{R"(say "hi")"});
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
}

TEST(StartCommand, MissingProgramFails) {
  std::string error;
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

TEST(DefaultEditor, IsSomethingThatCanStart) {
  const std::string e = DefaultEditor();
  EXPECT_FALSE(e.empty());
  EXPECT_TRUE(e == "xdg-open" || !FindProgram(e).empty());
}

}  // namespace
}  // namespace vantrel::platform
