// Starting programs detached: what is started runs where it is told, and
// every way a start can fail is reported as a failure with the system's
// reason, never as a start (the caller would wait for a program that never
// ran, or remove what a program was to read).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/process.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Waits up to ten seconds for a detached program to leave `path` behind.
bool AppearsWithin(const std::string& path) {
  for (int i = 0; i < 1000 && !Exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return Exists(path);
}

TEST(StartDetached, RunsInTheDirectoryOrReportsWhyNot) {
  TempDir tmp;
  test::MakeDir(tmp / "work");
  WriteFile(tmp / "plain.txt", "not a program");
  ::chmod((tmp / "plain.txt").c_str(), 0644);
  const struct {
    const char* name;
    std::vector<std::string> argv;
    std::string directory;
    int error;  // 0: started
  } cases[] = {
      {"shell in a directory", {"/bin/sh", "-c", "echo ran > out.txt"}, tmp / "work", 0},
      {"no arguments", {}, tmp / "work", ENOENT},
      {"empty program name", {"", "x"}, tmp / "work", ENOENT},
      {"program not on PATH", {"vantrel-no-such-program-here"}, tmp / "work", ENOENT},
      {"missing directory", {"/bin/sh", "-c", "echo ran > out.txt"}, tmp / "gone", ENOENT},
      {"directory is a file", {"/bin/sh", "-c", "echo ran > out.txt"}, tmp / "plain.txt", ENOTDIR},
      {"not executable", {tmp / "plain.txt"}, tmp / "work", ENOENT},  // no program by that name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    const bool started = StartDetached(c.argv, c.directory, &error);
    EXPECT_EQ(started, c.error == 0) << error;
    if (c.error != 0) {
      EXPECT_EQ(error, ErrorText(c.error));
    } else {
      ASSERT_TRUE(AppearsWithin(c.directory + "/out.txt"));
    }
  }
  EXPECT_FALSE(Exists(tmp / "out.txt")) << "nothing ran in the wrong directory";
}

// A captured shell command leaves its output and its exit status; the
// status file appears whole, after the output is complete.
TEST(StartDetached, CapturedCommandLeavesOutputAndStatus) {
  TempDir tmp;
  const struct {
    const char* command;
    const char* output;
    const char* status;
  } cases[] = {
      {"echo out; echo err >&2; exit 3", "out\nerr\n", "3\n"},
      {"exit", "", "0\n"},
      {"exec false", "", "1\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const std::string out = tmp / test::Numbered("out", n), status = tmp / test::Numbered("status", n);
    ++n;
    std::string error;
    ASSERT_TRUE(StartShellCommandCaptured(c.command, tmp.path(), out, status, &error)) << error;
    ASSERT_TRUE(AppearsWithin(status));
    EXPECT_EQ(ReadFile(status), c.status);
    EXPECT_EQ(ReadFile(out), c.output);
  }
}

// The directory handed over is removed after the program ends, and kept
// when the program cannot be started (it still holds what was to be read).
TEST(StartDetached, RemovesAfterwardsOnlyWhatItStarted) {
  TempDir tmp;
  for (const char* dir : {"started", "not-started"}) {
    test::MakeDir(tmp / dir);
    WriteFile(tmp / dir + "/copy.txt", "private copy");
  }
  std::string error;
  EXPECT_FALSE(StartDetachedThenRemove({"vantrel-no-such-program-here"}, tmp / "not-started", tmp.path(), &error));
  EXPECT_EQ(error, ErrorText(ENOENT));
  ASSERT_TRUE(StartDetachedThenRemove({"/bin/sh", "-c", "cat \"$0\" > seen.txt", tmp / "started/copy.txt"},
                                      tmp / "started", tmp.path(), &error))
      << error;
  ASSERT_TRUE(AppearsWithin(tmp / "seen.txt"));
  for (int i = 0; i < 1000 && Exists(tmp / "started"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(Exists(tmp / "started"));
  EXPECT_EQ(ReadFile(tmp / "not-started/copy.txt"), "private copy");
}

}  // namespace
}  // namespace vantrel::platform
