// A helper program run with pipes: input in, output and errors back, its
// exit status, and an end that never leaves it running.
#include <gtest/gtest.h>
#include <signal.h>

#include "platform/child_process.h"

namespace vantrel::platform {
namespace {

TEST(ChildProcess, PassesInputThroughAndCollectsErrorsApart) {
  TChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({"sh", "-c", "tr a-z A-Z; echo 'to errors' >&2; exit 3"}, {}, &error)) << error;
  const std::string text = "some input\nmore\n";
  EXPECT_TRUE(child.WriteInput(text.data(), text.size()));
  child.CloseInput();
  std::string out;
  child.ReadAllOutput(out);
  EXPECT_EQ(out, "SOME INPUT\nMORE\n");
  EXPECT_EQ(child.Wait(), 3);
  EXPECT_EQ(child.ErrorOutput(), "to errors\n");
}

TEST(ChildProcess, GetsTheExtraEnvironment) {
  TChildProcess child;
  ASSERT_TRUE(child.Start({"sh", "-c", "echo \"$VANTREL_PROBE\""}, {"VANTREL_PROBE=set here"}, nullptr));
  std::string out;
  child.ReadAllOutput(out);
  EXPECT_EQ(out, "set here\n");
  EXPECT_EQ(child.Wait(), 0);
}

TEST(ChildProcess, WritingToAChildThatEndedFailsWithoutASignal) {
  TChildProcess child;
  ASSERT_TRUE(child.Start({"true"}, {}, nullptr));
  std::string out;
  child.ReadAllOutput(out);
  // However long we write, the process is not killed by SIGPIPE.
  const std::string block(1 << 16, 'x');
  bool failed = false;
  for (int i = 0; i < 64 && !failed; ++i) failed = !child.WriteInput(block.data(), block.size());
  EXPECT_TRUE(failed);
  EXPECT_EQ(child.Wait(), 0);
}

TEST(ChildProcess, AProgramThatIsNotThereIsAnErrorAndAKillEndsARunningOne) {
  TChildProcess missing;
  std::string error;
  EXPECT_FALSE(missing.Start({"/nonexistent/program"}, {}, &error));
  EXPECT_FALSE(error.empty());

  TChildProcess sleeper;
  ASSERT_TRUE(sleeper.Start({"sleep", "30"}, {}, nullptr));
  sleeper.Kill();
  EXPECT_EQ(sleeper.Wait(), 128 + SIGKILL);
}

}  // namespace
}  // namespace vantrel::platform
