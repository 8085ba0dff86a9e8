// Creating and renaming single entries: nothing existing is ever replaced.
#include "platform/rename.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A new empty file or one directory level is made; nothing existing is
// touched and no missing parent is made.
TEST(CreateNewFile, MakesNewEntriesOnly) {
  TempDir tmp;
  EXPECT_EQ(CreateNewFile(tmp / "a.txt"), 0);
  EXPECT_EQ(ReadFile(tmp / "a.txt"), "");
  WriteFile(tmp / "b.txt", "keep");
  EXPECT_EQ(CreateNewFile(tmp / "b.txt"), EEXIST);
  EXPECT_EQ(ReadFile(tmp / "b.txt"), "keep");
  EXPECT_NE(CreateNewFile(""), 0);
  EXPECT_NE(CreateNewFile(tmp / "missing/c.txt"), 0);
  EXPECT_EQ(MakeDirectory(tmp / "d"), 0);
  EXPECT_EQ(MakeDirectory(tmp / "d"), EEXIST);
  EXPECT_EQ(MakeDirectory(tmp / "x/y"), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(tmp / "x"));
}

// Files and directories are renamed, also into another directory; an
// existing target (even an empty directory, which a plain rename would
// replace) never is.
TEST(RenameNoReplace, RenamesButNeverReplaces) {
  TempDir tmp;
  WriteFile(tmp / "a", "A");
  WriteFile(tmp / "b", "B");
  test::MakeDir(tmp / "dir/inner");
  test::MakeDir(tmp / "d2");
  EXPECT_EQ(RenameNoReplace(tmp / "a", tmp / "b"), EEXIST);
  EXPECT_EQ(RenameNoReplace(tmp / "dir", tmp / "d2"), EEXIST);
  EXPECT_EQ(RenameNoReplace(tmp / "missing", tmp / "c"), ENOENT);
  EXPECT_EQ(ReadFile(tmp / "a") + ReadFile(tmp / "b"), "AB");
  EXPECT_EQ(RenameNoReplace(tmp / "a", tmp / "d2/a2"), 0);
  EXPECT_EQ(RenameNoReplace(tmp / "dir", tmp / "dir2"), 0);
  EXPECT_EQ(ReadFile(tmp / "d2/a2"), "A");
  struct stat st;
  EXPECT_EQ(stat((tmp / "dir2/inner").c_str(), &st), 0);
}

// /dev/shm is a separate tmpfs on most Linux systems; when it is on the same
// volume as the temporary directory, the cross-volume path is not reached and
// the test only checks the plain move.
TEST(RenameNoReplace, FileCrossesVolumesDirectoryDoesNot) {
  struct stat shm, tmpst;
  TempDir tmp;
  if (stat("/dev/shm", &shm) != 0 || access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no /dev/shm";
  stat(tmp.path().c_str(), &tmpst);
  const std::string other = "/dev/shm/vantrel-rename-" + std::to_string(getpid());
  unlink(other.c_str());
  WriteFile(tmp / "f", "payload");
  chmod((tmp / "f").c_str(), 0640);
  ASSERT_EQ(RenameNoReplace(tmp / "f", other), 0);
  EXPECT_EQ(ReadFile(other), "payload");
  struct stat st;
  EXPECT_NE(lstat((tmp / "f").c_str(), &st), 0);  // the original is gone
  ASSERT_EQ(stat(other.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  unlink(other.c_str());
  if (shm.st_dev != tmpst.st_dev) {
    test::MakeDir(tmp / "d");
    EXPECT_EQ(RenameNoReplace(tmp / "d", other + "-d"), EXDEV);
    EXPECT_EQ(stat((tmp / "d").c_str(), &st), 0);
  }
}

}  // namespace
}  // namespace vantrel::platform
