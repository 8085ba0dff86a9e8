// Reading trees for search and compare: the kinds a listing reports, links
// never followed where they must not be, FIFOs never waited on, data read
// whole without moving the access time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "platform/tree_read.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::TempDir;
using test::WriteFile;

// A directory with one entry of every kind a walk meets.
struct TKinds {
  TempDir tmp;
  std::string dir = tmp / "d";
  TKinds() {
    ::mkdir(dir.c_str(), 0755);
    ::mkdir((dir + "/sub").c_str(), 0755);
    WriteFile(dir + "/file.txt", "0123456789");
    ::symlink("sub", (dir + "/to-dir").c_str());
    ::symlink("file.txt", (dir + "/to-file").c_str());
    ::symlink("nowhere", (dir + "/dangling").c_str());
    ::mkfifo((dir + "/fifo").c_str(), 0644);
  }
};

TEST(TreeDir, ListsEveryKindAndTellsLinksToDirectories) {
  TKinds t;
  TreeDir dir;
  ASSERT_EQ(dir.Open(t.dir), 0);
  std::map<std::string, EntryKind> seen;
  ASSERT_EQ(dir.ForEach([&](const char* name, EntryKind kind) {
    seen[name] = kind;
    return true;
  }), 0);
  const std::map<std::string, EntryKind> expected = {
      {"dangling", EntryKind::Symlink}, {"fifo", EntryKind::Special},     {"file.txt", EntryKind::File},
      {"sub", EntryKind::Directory},    {"to-dir", EntryKind::Symlink},   {"to-file", EntryKind::Symlink}};
  EXPECT_EQ(seen, expected);
  const struct {
    const char* name;
    bool directory;
  } leads[] = {{"to-dir", true}, {"sub", true}, {"to-file", false}, {"dangling", false}, {"fifo", false}};
  for (const auto& c : leads) EXPECT_EQ(dir.LeadsToDirectory(c.name), c.directory) << c.name;

  // false from the callback ends the listing at once.
  int calls = 0;
  EXPECT_EQ(dir.ForEach([&](const char*, EntryKind) { return ++calls < 2; }), 0);
  EXPECT_EQ(calls, 2);
}

TEST(TreeDir, OpensDirectoriesOnlyAndLinksOnlyWhenAllowed) {
  TKinds t;
  const struct {
    std::string path;
    bool noLink;
    int error;
  } cases[] = {
      {t.dir + "/sub", true, 0},          {t.dir + "/to-dir", false, 0},
      {t.dir + "/to-dir", true, ENOTDIR},  // as a link, it is no directory   {t.dir + "/file.txt", false, ENOTDIR},
      {t.dir + "/missing", false, ENOENT},
  };
  for (const auto& c : cases) {
    TreeDir dir;
    EXPECT_EQ(dir.Open(c.path, c.noLink), c.error) << c.path;
  }
  // A directory and a link to it are one directory: a walk enters it once.
  TreeDir sub, link;
  ASSERT_EQ(sub.Open(t.dir + "/sub"), 0);
  ASSERT_EQ(link.Open(t.dir + "/to-dir"), 0);
  EXPECT_EQ(sub.Identity(), link.Identity());
  EXPECT_NE(sub.Identity(), EntryId{});
}

TEST(SequentialFile, OpensWhatItMayAndReadsItWhole) {
  TKinds t;
  TreeDir dir;
  ASSERT_EQ(dir.Open(t.dir), 0);
  const struct {
    const char* name;
    int byPath;  // Open(path): a final link refused
    int inDir;   // OpenAt(dir, name): a link followed
    bool regular;
  } cases[] = {
      {"file.txt", 0, 0, true},
      {"to-file", ELOOP, 0, true},
      {"dangling", ELOOP, ENOENT, false},
      {"fifo", 0, 0, false},  // opened without waiting for a writer
      {"sub", 0, 0, false},
  };
  for (const auto& c : cases) {
    SequentialFile byPath, inDir;
    if (std::string(c.name) != "fifo") {  // by path it would wait for a writer
      EXPECT_EQ(byPath.Open(t.dir + "/" + c.name), c.byPath) << c.name;
    }
    EXPECT_EQ(inDir.OpenAt(dir, c.name), c.inDir) << c.name;
    if (c.inDir == 0) {
      EXPECT_EQ(inDir.IsRegular(), c.regular) << c.name;
    }
  }
  SequentialFile file;
  ASSERT_EQ(file.OpenAt(dir, "to-file"), 0);
  EXPECT_EQ(file.SizeNow(), 10u);
  char buffer[16] = {};
  EXPECT_EQ(file.ReadFull(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(file.ReadFull(buffer, sizeof buffer), 6);  // short only at the end
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_EQ(file.ReadSome(buffer, sizeof buffer), 0);
}

// Reading an own file leaves its access time where it was, also where the
// mount would move an access time older than the modification (relatime).
TEST(SequentialFile, ReadingLeavesTheAccessTime) {
  TKinds t;
  const std::string path = t.dir + "/file.txt";
  const struct timespec times[2] = {{1000000000, 0}, {1600000000, 0}};  // accessed long before modified
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  SequentialFile file;
  ASSERT_EQ(file.Open(path), 0);
  char buffer[64];
  EXPECT_EQ(file.ReadFull(buffer, sizeof buffer), 10);
  file.Close();
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
}

TEST(TreeRead, LinkTargetsDevicesAndResolvedPaths) {
  TKinds t;
  std::string target;
  EXPECT_TRUE(ReadLinkTarget(t.dir + "/dangling", target));
  EXPECT_EQ(target, "nowhere");
  EXPECT_FALSE(ReadLinkTarget(t.dir + "/file.txt", target));
  uint64_t a = 0, b = 0;
  EXPECT_TRUE(DeviceOf(t.dir, a) && DeviceOf(t.dir + "/to-dir", b));
  EXPECT_EQ(a, b);
  EXPECT_FALSE(DeviceOf(t.dir + "/dangling", a));
  EXPECT_EQ(ResolvedPathOf(t.dir + "/to-dir/../sub/."), ResolvedPathOf(t.dir) + "/sub");
  EXPECT_EQ(ResolvedPathOf(t.dir + "/missing"), "");
}

}  // namespace
}  // namespace vantrel::platform
