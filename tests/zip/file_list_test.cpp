// File list expansion, the directory walker, pattern lists and stored names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/test_support.h"
#include "zip/dir_search.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using vantrel::test::TempDir;
using vantrel::test::WriteFile;

// data/ a.txt b.bak README sub/c.txt sub/d.bak sub/deep/e.txt .hidden/f.txt temp/g.txt
struct Data {
  TempDir dir;
  std::string root = dir / "data";
  Data() {
    for (const char* d : {"sub/deep", ".hidden", "temp"}) fs::create_directories(root + "/" + d);
    for (const auto& [name, contents] : std::vector<std::pair<const char*, const char*>>{
             {"a.txt", "aa"}, {"b.bak", "bbb"}, {"README", "rrrr"}, {"sub/c.txt", "c"}, {"sub/d.bak", "d"},
             {"sub/deep/e.txt", "eeeee"}, {".hidden/f.txt", "f"}, {"temp/g.txt", "g"}})
      WriteFile(root + "/" + name, contents);
  }
  std::string Rel(const std::string& p) const { return p.substr(root.size() + 1); }
};

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// A writer whose root is the data folder; Expand gives the expanded list
// relative to it.
class FileListExpansion : public ::testing::Test {
 protected:
  void SetUp() override {
    w_.SetZipName(d_.dir / "x.zip");
    w_.SetRootDir(d_.root);
  }
  std::vector<std::string> Expand(std::vector<std::string> lines) {
    w_.SetFilesList(lines);
    w_.ExpandFileList();
    std::vector<std::string> out;
    for (const auto& f : w_.FilesList()) out.push_back(f.rfind(d_.root, 0) == 0 ? d_.Rel(f) : f);
    return out;
  }
  Data d_;
  TZipWriter w_;
};

TEST_F(FileListExpansion, PatternSearchesRootDirAndRecursesOnlyWhenAskedOrOverridden) {
  EXPECT_EQ(Expand({"*.txt"}), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(w_.TotalBytes(), 2);
  // "*.*" takes names without a dot too.
  EXPECT_EQ(Sorted(Expand({"*.*"})), (std::vector<std::string>{"README", "a.txt", "b.bak"}));
  EXPECT_EQ(Sorted(Expand({">" + d_.root + "/sub/*.txt"})), (std::vector<std::string>{"sub/c.txt", "sub/deep/e.txt"}));
  EXPECT_EQ(Expand({">sub/*.txt"}).size(), 0u) << "relative to the current directory";
  w_.Recurse = true;
  EXPECT_EQ(Sorted(Expand({"*.txt"})),
            (std::vector<std::string>{".hidden/f.txt", "a.txt", "sub/c.txt", "sub/deep/e.txt", "temp/g.txt"}));
  EXPECT_EQ(w_.TotalBytes(), 2 + 1 + 5 + 1 + 1);
  EXPECT_EQ(Expand({"|*.txt"}), std::vector<std::string>{"a.txt"});
}

TEST_F(FileListExpansion, PlainNamesAreTakenRelativeToRootDirAndMissingOnesReported) {
  std::vector<std::string> missing;
  w_.OnNoSuchFile = [&](TZipWriter*, const std::string& f) { missing.push_back(f); };
  EXPECT_EQ(Expand({"a.txt", "nothing.txt", "sub/", "*.bak"}), (std::vector<std::string>{"a.txt", "sub/", "b.bak"}))
      << "plain lines first, in their order, then the patterns' matches";
  EXPECT_EQ(missing, std::vector<std::string>{d_.root + "/nothing.txt"});
  // A name with wildcard characters that exists is a plain file; wildcards
  // in the directory part match nothing.
  WriteFile(d_.root + "/what?.txt", "?");
  EXPECT_EQ(Expand({d_.root + "/what?.txt"}), std::vector<std::string>{"what?.txt"});
  EXPECT_EQ(Expand({d_.root + "/*/c.txt"}).size(), 0u);
}

TEST_F(FileListExpansion, ExcludeListMatchesNamesOrWholePaths) {
  w_.Recurse = true;
  w_.ExcludeList = {"*.BAK", "*/temp/*.*"};
  EXPECT_EQ(Sorted(Expand({"*.*", "b.bak"})),
            (std::vector<std::string>{".hidden/f.txt", "README", "a.txt", "sub/c.txt", "sub/deep/e.txt"}));
  EXPECT_TRUE(MatchesPatternList({"temp/*"}, "temp/x"));
  EXPECT_FALSE(MatchesPatternList({"temp/*"}, "/data/temp/x")) << "a path pattern is whole";
  EXPECT_TRUE(MatchesPatternList({"*.bak"}, "/data/temp/x.bak"));
}

TEST(DirSearch, FollowsLinksButNeverLoopsAndSkipsDanglingLinks) {
  Data d;
  fs::create_directories(d.dir / "elsewhere");
  WriteFile(d.dir / "elsewhere/x.txt", "x");
  ::symlink((d.dir / "elsewhere").c_str(), (d.root + "/temp/linked").c_str());
  ::symlink((d.root + "/sub").c_str(), (d.root + "/sub/deep/loop").c_str());
  ::symlink((d.root + "/a.txt").c_str(), (d.root + "/link.txt").c_str());
  ::symlink((d.root + "/gone").c_str(), (d.root + "/dangling.txt").c_str());
  TDirSearch s(d.root, true, "*.txt");
  std::vector<std::string> names;
  int64_t size = 0;
  for (std::string n = s.NextFile(size); !n.empty(); n = s.NextFile(size)) {
    names.push_back(d.Rel(n));
    EXPECT_TRUE(n != d.root + "/link.txt" || size == 2) << "the size of the file linked to";
  }
  EXPECT_EQ(Sorted(names),
            (std::vector<std::string>{".hidden/", ".hidden/f.txt", "a.txt", "link.txt", "sub/",
                                      "sub/c.txt", "sub/deep/", "sub/deep/e.txt", "temp/",
                                      "temp/g.txt", "temp/linked/", "temp/linked/x.txt"}));
  TDirSearch flat(d.root + "/", false, "*");
  std::vector<std::string> top;
  for (std::string n = flat.NextFile(size); !n.empty(); n = flat.NextFile(size)) top.push_back(d.Rel(n));
  EXPECT_EQ(Sorted(top), (std::vector<std::string>{"README", "a.txt", "b.bak", "link.txt"}));
  TDirSearch none(d.root + "/missing", true, "*");
  EXPECT_EQ(none.NextFile(size), "");
}

TEST(StoredNames, RelativeAbsoluteAndFlatNames) {
  TZipWriter w;
  w.SetRootDir("/work/data");
  w.SetStorePaths(true);
  EXPECT_EQ(w.StoredName("/work/data/sub/a.txt"), "work/data/sub/a.txt");
  w.SetRelativePaths(true);
  EXPECT_EQ(w.StoredName("/work/data/sub/a.txt"), "sub/a.txt");
  EXPECT_EQ(w.StoredName("/work/data/a.txt"), "a.txt");
  EXPECT_EQ(w.StoredName("/other/b.txt"), "other/b.txt") << "the leading / goes";
  EXPECT_EQ(w.StoredName("docs/../../x/c.txt"), "docs/x/c.txt") << "no .. is ever stored";
  EXPECT_EQ(w.StoredName("./docs/d/"), "docs/d/");
  w.SetStoreVolumes(true);
  EXPECT_EQ(w.StoredName("/other/b.txt"), "/other/b.txt");
  w.SetStorePaths(false);
  EXPECT_EQ(w.StoredName("/work/data/sub/a.txt"), "a.txt");
  EXPECT_EQ(w.StoredName("/work/data/sub/"), "sub/");
}

}  // namespace
}  // namespace vantrel::zip
