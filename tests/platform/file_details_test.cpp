// Properties of an entry: details without following links, permissions
// changed on the entry itself only, tree totals.
#include "platform/file_details.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

uint32_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(FileDetails, PermissionText) {
  const struct {
    uint32_t mode;
    const char* text;
  } cases[] = {{0644, "rw-r--r--"}, {0755, "rwxr-xr-x"}, {04755, "rwsr-xr-x"},
               {02644, "rw-r-Sr--"}, {01777, "rwxrwxrwt"}, {0, "---------"}};
  for (const auto& c : cases) EXPECT_EQ(PermissionText(c.mode), c.text) << std::oct << c.mode;
}

// A read-only file's permissions change; a link is examined but never
// changed, nor is a file swapped for a link after it was examined.
TEST(FileDetails, PermissionsChangeOnTheEntryItselfOnly) {
  test::TempDir tmp;
  const std::string file = tmp / "ro.txt", target = tmp / "target", link = tmp / "link";
  test::WriteFile(file, "12345");
  chmod(file.c_str(), 0444);
  FileDetails d;
  ASSERT_TRUE(GetFileDetails(file, d));
  EXPECT_EQ(d.mode & 07777, 0444u);
  EXPECT_EQ(d.size, 5u);
  EXPECT_FALSE(d.isLink);
  EXPECT_TRUE(CanChangePermissions(d));
  ASSERT_TRUE(SetPermissions(file, 0644, d));
  EXPECT_EQ(ModeOf(file), 0644u);

  test::WriteFile(target, "x");
  chmod(target.c_str(), 0600);
  ASSERT_EQ(symlink("target", link.c_str()), 0);
  ASSERT_TRUE(GetFileDetails(link, d));
  EXPECT_TRUE(d.isLink);
  EXPECT_EQ(d.linkTarget, "target");
  EXPECT_FALSE(CanChangePermissions(d));
  std::string error;
  EXPECT_FALSE(SetPermissions(link, 0777, d, &error));
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(GetFileDetails(file, d));
  unlink(file.c_str());
  ASSERT_EQ(symlink("target", file.c_str()), 0);
  EXPECT_FALSE(SetPermissions(file, 0777, d));
  EXPECT_EQ(ModeOf(target), 0600u);
}

TEST(FileDetails, MeasureTreeCountsHardLinksOnceAndNeverFollowsLinks) {
  test::TempDir tmp;
  test::MakeDir(tmp / "d/sub/deeper");
  test::WriteFile(tmp / "d/a", std::string(100, 'a'));
  test::WriteFile(tmp / "d/sub/b", std::string(20, 'b'));
  test::WriteFile(tmp / "d/sub/deeper/c", std::string(3, 'c'));
  ASSERT_EQ(link((tmp / "d/a").c_str(), (tmp / "d/sub/a2").c_str()), 0);
  ASSERT_EQ(symlink("/usr", (tmp / "d/usr").c_str()), 0);
  std::atomic<bool> stop{false};
  int reports = 0;
  const TreeTotals t = MeasureTree(tmp / "d", stop, [&](const TreeTotals&) { ++reports; });
  EXPECT_EQ(t.directories, 2u);
  EXPECT_EQ(t.files, 5u);  // a, a2, b, c and the link itself
  EXPECT_EQ(t.bytes, 100u + 20 + 3 + 4);  // a once; the link's own size
  EXPECT_GE(reports, 1);
  stop = true;
  EXPECT_EQ(MeasureTree(tmp / "d", stop).files, 0u);
}

TEST(FileDetails, ReadFileHeadNeverReadsAFifo) {
  test::TempDir tmp;
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadFileHead(tmp / "fifo", 10), "");
  test::WriteFile(tmp / "f", "hello world");
  EXPECT_EQ(ReadFileHead(tmp / "f", 5), "hello");
}

}  // namespace
}  // namespace vantrel::platform
