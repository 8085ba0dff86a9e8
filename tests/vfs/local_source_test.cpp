// A local directory as a source: listing, data, and changes that stay below
// the root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/vfs/vfs_helpers.h"
#include "vfs/local_source.h"

namespace vantrel::vfs {
namespace {

using test::TempDir;

class LocalSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeDir(t / "root");
    test::MakeDir(t / "root/sub/deeper");
    test::WriteFile(t / "root/a.txt", "alpha");
    test::WriteFile(t / "root/sub/b.txt", "beta");
    test::WriteFile(t / "root/sub/deeper/c.txt", "gamma");
    ::symlink("sub", (t / "root/to-sub").c_str());
    test::WriteFile(t / "outside.txt", "keep me");
  }
  TempDir t;
  TLocalSource source{t / "root"};
};

TEST_F(LocalSourceTest, ListsStatsAndReads) {
  EXPECT_EQ(test::ListNames(source, ""), (std::vector<std::string>{"a.txt", "sub/", "to-sub@"}));
  EXPECT_EQ(test::ListNames(source, "sub"), (std::vector<std::string>{"b.txt", "deeper/"}));
  EXPECT_EQ(test::ReadAll(source, "sub/deeper/c.txt"), "gamma");
  TEntry e;
  TError err;
  ASSERT_TRUE(source.Stat("to-sub", e, &err));
  EXPECT_EQ(e.kind, TEntryKind::Link);
  EXPECT_EQ(e.linkTarget, "sub");
  EXPECT_TRUE(e.linkToDirectory);
  ASSERT_TRUE(source.Stat("a.txt", e, &err));
  EXPECT_EQ(e.size, 5u);
  EXPECT_EQ(e.packedSize, 5u);
  EXPECT_TRUE(source.Capabilities().writable);
}

TEST_F(LocalSourceTest, PathsThatWouldLeaveTheRootAreRefused) {
  const char* hostile[] = {"..", "../outside.txt", "sub/../../outside.txt", "./a.txt"};
  for (const char* inner : hostile) {
    SCOPED_TRACE(inner);
    TError err;
    std::vector<TEntry> entries;
    TEntry e;
    EXPECT_FALSE(source.Stat(inner, e, &err));
    EXPECT_EQ(test::ReadAll(source, inner), "<failed>");
    EXPECT_FALSE(source.Delete(inner, &err));
    EXPECT_FALSE(source.Rename("a.txt", inner, &err));
  }
  EXPECT_EQ(test::ReadFile(t / "outside.txt"), "keep me");
  EXPECT_EQ(test::ReadFile(t / "root/a.txt"), "alpha");
  // The root itself is no entry to delete or rename.
  TError err;
  EXPECT_FALSE(source.Delete("", &err));
  EXPECT_TRUE(test::ReadFile(t / "root/a.txt") == "alpha");
}

TEST_F(LocalSourceTest, ChangesInABatch) {
  TError err;
  TChangeSet changes;
  changes.MakeDir("new")
      .PutData("new/made.txt",
               [](TDataSink& sink, TError*) { return sink.Write("made here", 9); }, 9, 1700000000, 0600)
      .PutFile("new/copy.txt", t / "outside.txt")
      .Rename("sub", "moved")
      .Delete("to-sub");
  ASSERT_TRUE(source.Apply(changes, {}, &err)) << err.text;
  EXPECT_EQ(test::ListNames(source, ""), (std::vector<std::string>{"a.txt", "moved/", "new/"}));
  EXPECT_EQ(test::ReadFile(t / "root/new/made.txt"), "made here");
  EXPECT_EQ(test::ReadFile(t / "root/new/copy.txt"), "keep me");
  EXPECT_EQ(test::ReadFile(t / "root/moved/deeper/c.txt"), "gamma");
  struct stat st;
  ASSERT_EQ(::stat((t / "root/new/made.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1700000000);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A deleted link leaves what it pointed to; a deleted tree goes whole.
  EXPECT_TRUE(source.Delete("moved", &err)) << err.text;
  EXPECT_EQ(test::ListNames(source, ""), (std::vector<std::string>{"a.txt", "new/"}));
}

TEST_F(LocalSourceTest, RenameNeverReplacesAndAFailedProducerLeavesNothing) {
  TError err;
  EXPECT_FALSE(source.Rename("a.txt", "sub", &err));
  EXPECT_EQ(err.code, EEXIST);
  EXPECT_EQ(test::ReadFile(t / "root/a.txt"), "alpha");
  TChangeSet failing;
  failing.PutData("a.txt", [](TDataSink& sink, TError* e) {
    sink.Write("partial", 7);
    e->Set(EIO, "the source broke");
    return false;
  }, 100);
  EXPECT_FALSE(source.Apply(failing, {}, &err));
  EXPECT_EQ(err.text, "the source broke");
  EXPECT_EQ(test::ReadFile(t / "root/a.txt"), "alpha");
  EXPECT_EQ(test::ListNames(source, ""), (std::vector<std::string>{"a.txt", "sub/", "to-sub@"}));
}

}  // namespace
}  // namespace vantrel::vfs
