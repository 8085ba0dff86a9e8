// Directory summary (quick view of a directory): counts of files, directories
// and links with the files' bytes, links never followed, unreadable
// directories counted, and a stop request honoured.
#include "tools/dir_summary.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_support.h"
#include "vfs/zip_source.h"

namespace vantrel::tools {
namespace {

using test::MakeDir;
using test::TempDir;
using test::WriteFile;

struct TCase {
  const char* what;
  std::function<void(const std::string& root)> build;
  uint64_t files, directories, links, bytes, unreadable;
};

TEST(DirSummary, CountsWhatATreeHolds) {
  const TCase cases[] = {
      {"empty directory", [](const std::string&) {}, 0, 0, 0, 0, 0},
      {"files at the top",
       [](const std::string& r) {
         WriteFile(r + "/a", "12345");
         WriteFile(r + "/b", "");
       },
       2, 0, 0, 5, 0},
      {"nested directories, empty ones counted",
       [](const std::string& r) {
         MakeDir(r + "/d1/d2/d3");
         MakeDir(r + "/empty");
         WriteFile(r + "/d1/d2/d3/deep", std::string(70000, 'x'));
         WriteFile(r + "/d1/f", "ab");
       },
       2, 4, 0, 70002, 0},
      {"a link to a parent is one link, not a loop",
       [](const std::string& r) {
         MakeDir(r + "/sub");
         WriteFile(r + "/sub/f", "abc");
         ASSERT_EQ(::symlink("..", (r + "/sub/up").c_str()), 0);
       },
       1, 1, 1, 3, 0},
      {"a link to a large file adds no bytes",
       [](const std::string& r) {
         WriteFile(r + "/big", std::string(1000, 'x'));
         ASSERT_EQ(::symlink("big", (r + "/alias").c_str()), 0);
         ASSERT_EQ(::symlink("/nowhere/at/all", (r + "/dangling").c_str()), 0);
       },
       1, 0, 2, 1000, 0},
      {"a name that is not UTF-8 is counted",
       [](const std::string& r) { WriteFile(r + "/caf\xe9", "1"); }, 1, 0, 0, 1, 0},
  };
  for (const TCase& c : cases) {
    TempDir tmp;
    const std::string root = tmp / "root";
    MakeDir(root);
    c.build(root);
    const TDirSummary s = SummariseDirectory(root);
    EXPECT_EQ(s.files, c.files) << c.what;
    EXPECT_EQ(s.directories, c.directories) << c.what;
    EXPECT_EQ(s.links, c.links) << c.what;
    EXPECT_EQ(s.bytes, c.bytes) << c.what;
    EXPECT_EQ(s.unreadable, c.unreadable) << c.what;
    EXPECT_FALSE(s.stopped) << c.what;
  }
}

TEST(DirSummary, UnreadableDirectoriesAreCountedWithTheirReason) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  TempDir tmp;
  const std::string root = tmp / "root";
  MakeDir(root + "/closed");
  WriteFile(root + "/closed/hidden", "xyz");
  WriteFile(root + "/open", "ab");
  ASSERT_EQ(::chmod((root + "/closed").c_str(), 0), 0);
  const TDirSummary s = SummariseDirectory(root);
  ::chmod((root + "/closed").c_str(), 0755);
  EXPECT_EQ(s.files, 1u);
  EXPECT_EQ(s.directories, 1u);
  EXPECT_EQ(s.bytes, 2u);
  EXPECT_EQ(s.unreadable, 1u);
  EXPECT_NE(s.firstError.find("closed"), std::string::npos) << s.firstError;

  const TDirSummary missing = SummariseDirectory(tmp / "not-there");
  EXPECT_EQ(missing.unreadable, 1u);
  EXPECT_EQ(missing.files, 0u);
}

TEST(DirSummary, StopsWhenAskedAndSaysSo) {
  TempDir tmp;
  for (int i = 0; i < 20; ++i) {
    MakeDir(tmp / test::Numbered("d", i));
    WriteFile(tmp / test::Numbered("d", i, "/f"), "x");
  }
  int progressCalls = 0;
  int asked = 0;
  const TDirSummary s = SummariseDirectory(
      tmp.path(), [&] { return ++asked > 3; }, [&](const TDirSummary&) { ++progressCalls; });
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(progressCalls, 3);
  EXPECT_LT(s.files, 20u);
}

// A place inside an archive is counted through the archive's listing, the
// same as the tree it was packed from; directories only implied by the
// paths below them (-D: no entries of their own) count too.
TEST(DirSummary, APlaceInsideAnArchiveCountsAsItsTree) {
  TempDir tmp;
  const std::string tree = tmp / "tree", zip = tmp / "t.zip";
  MakeDir(tree + "/a/b/c");
  WriteFile(tree + "/top.txt", "123");
  WriteFile(tree + "/a/one.txt", "1234567");
  WriteFile(tree + "/a/b/c/deep.txt", std::string(1000, 'd'));
  ASSERT_EQ(::symlink("top.txt", (tree + "/a/link").c_str()), 0);
  ASSERT_EQ(test::RunCommand("cd '" + tree + "' && zip -qry '" + zip + "' . && zip -qryD '" + tmp / "implied.zip" +
                             "' ."), 0);
  for (const std::string& archive : {zip, tmp / "implied.zip"}) {
    vfs::TError err;
    auto source = vfs::TZipSource::Load(archive, archive, nullptr, &err);
    ASSERT_TRUE(source) << err.text;
    struct {
      const char* inner;
      const char* dir;
    } places[] = {{"", ""}, {"a", "/a"}, {"a/b", "/a/b"}};
    for (const auto& p : places) {
      const TDirSummary onDisk = SummariseDirectory(tree + p.dir);
      const TDirSummary inArchive = SummarisePlace(*source, p.inner);
      EXPECT_EQ(inArchive.files, onDisk.files) << archive << " " << p.inner;
      EXPECT_EQ(inArchive.links, onDisk.links) << archive << " " << p.inner;
      EXPECT_EQ(inArchive.directories, onDisk.directories) << archive << " " << p.inner;
      EXPECT_EQ(inArchive.bytes, onDisk.bytes) << archive << " " << p.inner;
      EXPECT_EQ(inArchive.unreadable, 0u);
    }
  }
  vfs::TError err;
  auto source = vfs::TZipSource::Load(zip, zip, nullptr, &err);
  const TDirSummary missing = SummarisePlace(*source, "no/such/place");
  EXPECT_EQ(missing.unreadable, 1u);
  EXPECT_NE(missing.firstError.find("no/such/place"), std::string::npos) << missing.firstError;
}

}  // namespace
}  // namespace vantrel::tools
