// Creating and renaming single entries: nothing existing is ever replaced.
#include "platform/rename.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(CreateNewFile, MakesAnEmptyFileAndNeverTouchesAnExistingOne) {
  TempDir tmp;
  EXPECT_EQ(CreateNewFile(tmp / "a.txt"), 0);
  EXPECT_EQ(ReadFile(tmp / "a.txt"), "");
  WriteFile(tmp / "b.txt", "keep");
  EXPECT_EQ(CreateNewFile(tmp / "b.txt"), EEXIST);
  EXPECT_EQ(ReadFile(tmp / "b.txt"), "keep");
  EXPECT_NE(CreateNewFile(""), 0);
  EXPECT_NE(CreateNewFile(tmp / "missing/c.txt"), 0);
}

TEST(MakeDirectory, OneLevelOnly) {
  TempDir tmp;
  EXPECT_EQ(MakeDirectory(tmp / "d"), 0);
  EXPECT_EQ(MakeDirectory(tmp / "d"), EEXIST);
  EXPECT_EQ(MakeDirectory(tmp / "x/y"), ENOENT);
  struct stat st;
  EXPECT_NE(stat((tmp / "x").c_str(), &st), 0);
}

TEST(RenameNoReplace, RenamesFilesAndDirectories) {
  TempDir tmp;
  WriteFile(tmp / "a", "A");
  test::MakeDir(tmp / "dir/inner");
  EXPECT_EQ(RenameNoReplace(tmp / "a", tmp / "b"), 0);
  EXPECT_EQ(ReadFile(tmp / "b"), "A");
  EXPECT_EQ(RenameNoReplace(tmp / "dir", tmp / "dir2"), 0);
  struct stat st;
  EXPECT_EQ(stat((tmp / "dir2/inner").c_str(), &st), 0);
}

TEST(RenameNoReplace, ExistingTargetIsNeverReplaced) {
  TempDir tmp;
  WriteFile(tmp / "a", "A");
  WriteFile(tmp / "b", "B");
  EXPECT_EQ(RenameNoReplace(tmp / "a", tmp / "b"), EEXIST);
  EXPECT_EQ(ReadFile(tmp / "a"), "A");
  EXPECT_EQ(ReadFile(tmp / "b"), "B");
  test::MakeDir(tmp / "d1");
  test::MakeDir(tmp / "d2");  // an empty directory would be replaced by a plain rename
  EXPECT_EQ(RenameNoReplace(tmp / "d1", tmp / "d2"), EEXIST);
  EXPECT_EQ(RenameNoReplace(tmp / "missing", tmp / "c"), ENOENT);
}

TEST(RenameNoReplace, NameWithADirectoryPartMovesTheEntry) {
  TempDir tmp;
  WriteFile(tmp / "a", "A");
  test::MakeDir(tmp / "sub");
  EXPECT_EQ(RenameNoReplace(tmp / "a", tmp / "sub/a2"), 0);
  EXPECT_EQ(ReadFile(tmp / "sub/a2"), "A");
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
