// A local directory as a source: listing, data, and changes that stay below
// the root.
#include <fcntl.h>
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

TEST_F(LocalSourceTest, DataInPiecesArriveWholeWithTheirMode) {
  // Pieces smaller and larger than the write buffer, a file as large as it
  // and an empty one; modes the creation mask would cut and modes it leaves.
  struct TCase {
    const char* what;
    std::vector<size_t> pieces;
    uint32_t mode;
    mode_t mask;
  };
  const std::vector<TCase> cases = {
      {"empty", {}, 0644, 022},
      {"one small piece", {100}, 0600, 022},
      {"decoder blocks", {32768, 32768, 32768, 4096}, 0644, 077},
      {"exactly the buffer", {1 << 20}, 0640, 027},
      {"a piece past the buffer", {1000, (1 << 20) + 1, 7}, 0664, 022},
      {"cut by the mask", {5000}, 0666, 022},
      {"everyone writes", {5000}, 0777, 0},
      {"set-group-id", {5000}, 02755, 022},
  };
  const mode_t saved = ::umask(022);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    ::umask(c.mask);
    TLocalSource fresh{t / "root"};  // the mask is read once per source
    std::string expected;
    for (size_t i = 0; i < c.pieces.size(); ++i) expected += test::Noise(c.pieces[i], static_cast<uint32_t>(i) + 1);
    TChangeSet changes;
    changes.PutData("made.bin", [&c](TDataSink& sink, TError*) {
      for (size_t i = 0; i < c.pieces.size(); ++i) {
        const std::string piece = test::Noise(c.pieces[i], static_cast<uint32_t>(i) + 1);
        if (!sink.Write(piece.data(), piece.size())) return false;
      }
      return true;
    }, expected.size(), 1700000000, c.mode);
    TError err;
    ASSERT_TRUE(fresh.Apply(changes, {}, &err)) << err.text;
    EXPECT_TRUE(test::ReadFile(t / "root/made.bin") == expected);
    struct stat st;
    ASSERT_EQ(::stat((t / "root/made.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    ASSERT_TRUE(fresh.Delete("made.bin", &err)) << err.text;
  }
  ::umask(saved);
}

TEST(BufferedDescriptorSink, EveryPieceOnceInOrderAndAFullDiskSaysSo) {
  struct TCase {
    std::vector<std::string> pieces;
  };
  const std::vector<TCase> cases = {
      {{}}, {{"abc"}}, {{"abcdefgh"}}, {{"abc", "defgh"}}, {{"abc", "defghi"}},
      {{"abcdefghi"}}, {{"a", "", "bcdefghijklmnopq", "rs", "tuvwxyz"}},
  };
  for (const TCase& c : cases) {
    std::string expected;
    for (const std::string& p : c.pieces) expected += p;
    SCOPED_TRACE(expected);
    TempDir d;
    const int fd = ::open((d / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    char buffer[8];
    TBufferedDescriptorSink sink(fd, buffer, sizeof buffer);
    for (const std::string& p : c.pieces) ASSERT_TRUE(sink.Write(p.data(), p.size()));
    ASSERT_TRUE(sink.Finish());
    ::close(fd);
    EXPECT_EQ(test::ReadFile(d / "out"), expected);
  }
  // The full device: a piece the buffer holds fails when it is written out,
  // a larger one at once.
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  char buffer[8];
  TBufferedDescriptorSink small(full, buffer, sizeof buffer);
  EXPECT_TRUE(small.Write("abc", 3));
  EXPECT_FALSE(small.Finish());
  EXPECT_EQ(small.error, ENOSPC);
  TBufferedDescriptorSink large(full, buffer, sizeof buffer);
  EXPECT_FALSE(large.Write("abcdefghijk", 11));
  EXPECT_EQ(large.error, ENOSPC);
  ::close(full);
}

}  // namespace
}  // namespace vantrel::vfs
