// The platform's single-entry copy steps: the temporary file and its
// cleanup, the fallback from the in-kernel copy, links and permissions.
#include "platform/copyfile.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/fileops/fileops_helpers.h"

namespace vantrel::platform {
namespace {

using fileops::testing::ModeOf;
using fileops::testing::PatternBytes;
using fileops::testing::TemporaryFiles;
using test::ReadFile;
using test::WriteFile;

// Every byte with rising block counts; a stopped copy, or one onto a name
// that appeared meanwhile without replace, leaves what was there; so does a
// copy that replaces a file and is killed halfway: the partial copy was an
// unnamed file.
TEST(CopyRegularFile, CopiesEveryByteOrLeavesTheDestinationAsItWas) {
  test::TempDir tmp;
  const std::string data = PatternBytes(9 * 1024 * 1024 + 3, 11);
  WriteFile(tmp / "a", data);
  std::vector<uint64_t> seen;
  CopyResult r = CopyRegularFile(tmp / "a", tmp / "b", false, [&](uint64_t n) { return seen.push_back(n), true; });
  ASSERT_EQ(r.status, CopyStatus::Done) << r.error;
  EXPECT_EQ(ReadFile(tmp / "b"), data);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), data.size());

  WriteFile(tmp / "b", "old");
  EXPECT_EQ(CopyRegularFile(tmp / "a", tmp / "b", true, [](uint64_t) { return false; }).status, CopyStatus::Stopped);
  r = CopyRegularFile(tmp / "a", tmp / "b", false, nullptr);
  EXPECT_EQ(std::make_pair(r.status, r.error), std::make_pair(CopyStatus::Failed, EEXIST));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CopyRegularFile(tmp / "a", tmp / "b", true, [&](uint64_t) {
      (void)!::write(ready[1], "x", 1);  // data is written: the parent may kill
      ::pause();
      return true;
    });
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadFile(tmp / "b"), "old");
  EXPECT_TRUE(TemporaryFiles(tmp.path()).empty());

  // Files under /proc report a size of 0 but have contents.
  r = CopyRegularFile("/proc/self/status", tmp / "status", false, nullptr);
  ASSERT_EQ(r.status, CopyStatus::Done) << r.error;
  EXPECT_NE(ReadFile(tmp / "status").find("Name:"), std::string::npos);
}

// A link's target bytes are copied as they are; without replace an existing
// entry stays, with it the link takes its place. Owner access is added to a
// directory, never through a link.
TEST(CopySymlink, CopiesTheTargetBytesAndGrantOwnerAccessNeverFollows) {
  test::TempDir tmp;
  const std::string target = std::string("../some\xff/where ") + std::string(300, 'x');
  ASSERT_EQ(::symlink(target.c_str(), (tmp / "l").c_str()), 0);
  ASSERT_EQ(CopySymlink(tmp / "l", tmp / "m", false).status, CopyStatus::Done);
  EXPECT_EQ(fileops::testing::fs::read_symlink(tmp / "m").native(), target);
  WriteFile(tmp / "n", "file");
  EXPECT_EQ(CopySymlink(tmp / "l", tmp / "n", false).error, EEXIST);
  EXPECT_EQ(ReadFile(tmp / "n"), "file");
  EXPECT_EQ(CopySymlink(tmp / "l", tmp / "n", true).status, CopyStatus::Done);
  EXPECT_EQ(fileops::testing::fs::read_symlink(tmp / "n").native(), target);
  EXPECT_TRUE(TemporaryFiles(tmp.path()).empty());

  test::MakeDir(tmp / "d");
  ::chmod((tmp / "d").c_str(), 0500);
  EXPECT_EQ(GrantOwnerAccess(tmp / "d", S_IWUSR), 0);
  EXPECT_EQ(ModeOf(tmp / "d"), 0700u);
  ::chmod((tmp / "d").c_str(), 0555);
  ASSERT_EQ(::symlink("d", (tmp / "dl").c_str()), 0);
  EXPECT_EQ(GrantOwnerAccess(tmp / "dl", S_IWUSR), EPERM);
  EXPECT_EQ(ModeOf(tmp / "d"), 0555u);
}

}  // namespace
}  // namespace vantrel::platform
