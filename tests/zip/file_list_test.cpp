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
    WriteFile(root + "/a.txt", "aa");
    WriteFile(root + "/b.bak", "bbb");
    WriteFile(root + "/README", "rrrr");
    WriteFile(root + "/sub/c.txt", "c");
    WriteFile(root + "/sub/d.bak", "d");
    WriteFile(root + "/sub/deep/e.txt", "eeeee");
    WriteFile(root + "/.hidden/f.txt", "f");
    WriteFile(root + "/temp/g.txt", "g");
  }
  std::string Rel(const std::string& p) const { return p.substr(root.size() + 1); }
};

std::vector<std::string> Expand(TZipWriter& w, const Data& d, std::vector<std::string> lines) {
  w.SetFilesList(lines);
  w.ExpandFileList();
  std::vector<std::string> out;
  for (const auto& f : w.FilesList()) out.push_back(f.rfind(d.root, 0) == 0 ? d.Rel(f) : f);
  return out;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(FileListExpansion, PatternSearchesRootDirAndRecursesOnlyWhenAsked) {
  Data d;
  TZipWriter w;
  w.SetZipName(d.dir / "x.zip");
  w.SetRootDir(d.root);
  EXPECT_EQ(Expand(w, d, {"*.txt"}), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(w.TotalBytes(), 2);

  w.Recurse = true;
  auto all = Expand(w, d, {"*.txt"});
  EXPECT_EQ(Sorted(all), (std::vector<std::string>{".hidden/f.txt", "a.txt", "sub/c.txt",
                                                   "sub/deep/e.txt", "temp/g.txt"}));
  EXPECT_EQ(w.TotalBytes(), 2 + 1 + 5 + 1 + 1);
}

TEST(FileListExpansion, BarAndAngleBracketOverrideRecurse) {
  Data d;
  TZipWriter w;
  w.SetZipName(d.dir / "x.zip");
  w.SetRootDir(d.root);
  w.Recurse = true;
  EXPECT_EQ(Expand(w, d, {"|*.txt"}), std::vector<std::string>{"a.txt"});
  w.Recurse = false;
  EXPECT_EQ(Expand(w, d, {">sub/*.txt"}).size(), 0u) << "relative to the current directory";
  EXPECT_EQ(Sorted(Expand(w, d, {">" + d.root + "/sub/*.txt"})),
            (std::vector<std::string>{"sub/c.txt", "sub/deep/e.txt"}));
}

TEST(FileListExpansion, StarDotStarTakesNamesWithoutDot) {
  Data d;
  TZipWriter w;
  w.SetZipName(d.dir / "x.zip");
  w.SetRootDir(d.root);
  EXPECT_EQ(Sorted(Expand(w, d, {"*.*"})), (std::vector<std::string>{"README", "a.txt", "b.bak"}));
}

TEST(FileListExpansion, PlainNamesAreTakenRelativeToRootDirAndMissingOnesReported) {
  Data d;
  TZipWriter w;
  w.SetZipName(d.dir / "x.zip");
  w.SetRootDir(d.root);
  std::vector<std::string> missing;
  w.OnNoSuchFile = [&](TZipWriter*, const std::string& f) { missing.push_back(f); };
  EXPECT_EQ(Expand(w, d, {"a.txt", "nothing.txt", "sub/", "*.bak"}),
            (std::vector<std::string>{"a.txt", "sub/", "b.bak"}))
      << "plain lines first, in their order, then the patterns' matches";
  EXPECT_EQ(missing, std::vector<std::string>{d.root + "/nothing.txt"});
}

TEST(FileListExpansion, ExcludeListMatchesNamesOrWholePaths) {
  Data d;
  TZipWriter w;
  w.SetZipName(d.dir / "x.zip");
  w.SetRootDir(d.root);
  w.Recurse = true;
  w.ExcludeList = {"*.BAK", "*/temp/*.*"};
  auto all = Sorted(Expand(w, d, {"*.*", "b.bak"}));
  EXPECT_EQ(all, (std::vector<std::string>{".hidden/f.txt", "README", "a.txt", "sub/c.txt",
                                           "sub/deep/e.txt"}));
  EXPECT_TRUE(MatchesPatternList({"temp/*"}, "temp/x"));
  EXPECT_FALSE(MatchesPatternList({"temp/*"}, "/data/temp/x")) << "a path pattern is whole";
  EXPECT_TRUE(MatchesPatternList({"*.bak"}, "/data/temp/x.bak"));
}

TEST(FileListExpansion, DirectoryEntriesOnlyWithAddDirEntriesAndBeforeTheirFiles) {
  Data d;
  TZipWriter w;
  w.SetZipName(d.dir / "x.zip");
  w.SetRootDir(d.root);
  w.Recurse = true;
  auto plain = Expand(w, d, {"*.txt"});
  for (const auto& f : plain) EXPECT_NE(f.back(), '/');
  w.AddDirEntriesOnRecurse = true;
  auto withDirs = Expand(w, d, {"*.txt"});
  auto sub = std::find(withDirs.begin(), withDirs.end(), "sub/");
  auto deep = std::find(withDirs.begin(), withDirs.end(), "sub/deep/");
  auto c = std::find(withDirs.begin(), withDirs.end(), "sub/c.txt");
  auto e = std::find(withDirs.begin(), withDirs.end(), "sub/deep/e.txt");
  ASSERT_NE(sub, withDirs.end());
  ASSERT_NE(deep, withDirs.end());
  EXPECT_LT(sub, c);
  EXPECT_LT(deep, e);
  EXPECT_LT(sub, deep);
}

TEST(FileListExpansion, FreshenKeepsOnlyNamesTheArchiveHas) {
  Data d;
  {
    TZipWriter w;
    w.SetZipName(d.dir / "x.zip");
    w.SetRootDir(d.root);
    w.SetRelativePaths(true);
    w.AddFile(d.root + "/sub/c.txt");
    ASSERT_EQ(w.Zip(), 1);
  }
  TZipWriter w;
  w.SetZipName(d.dir / "x.zip");
  w.SetRootDir(d.root);
  w.SetRelativePaths(true);
  w.ZipAction = zaFreshen;
  EXPECT_EQ(Expand(w, d, {"*.txt"}), std::vector<std::string>{"sub/c.txt"});
  w.ZipAction = zaUpdate;
  EXPECT_EQ(Expand(w, d, {"*.txt"}).size(), 5u);
}

TEST(FileListExpansion, ANameWithWildcardCharactersThatExistsIsAPlainFile) {
  Data d;
  WriteFile(d.root + "/what?.txt", "?");
  TZipWriter w;
  w.SetZipName(d.dir / "x.zip");
  w.SetRootDir(d.root);
  EXPECT_EQ(Expand(w, d, {d.root + "/what?.txt"}), std::vector<std::string>{"what?.txt"});
  EXPECT_EQ(Expand(w, d, {d.root + "/*/c.txt"}).size(), 0u) << "wildcards in the directory part";
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
    if (n == d.root + "/link.txt") {
      EXPECT_EQ(size, 2);
    }
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
  EXPECT_TRUE(w.Recurse);
  EXPECT_EQ(w.StoredName("/work/data/sub/a.txt"), "sub/a.txt");
  EXPECT_EQ(w.StoredName("/work/data/a.txt"), "a.txt");
  EXPECT_EQ(w.StoredName("/other/b.txt"), "other/b.txt") << "the leading / goes";
  EXPECT_EQ(w.StoredName("docs/../../x/c.txt"), "docs/x/c.txt") << "no .. is ever stored";
  EXPECT_EQ(w.StoredName("./docs/d/"), "docs/d/");
  w.SetStoreVolumes(true);
  EXPECT_EQ(w.StoredName("/other/b.txt"), "/other/b.txt");
  w.SetStorePaths(false);
  EXPECT_FALSE(w.RelativePaths());
  EXPECT_FALSE(w.StoreVolumes());
  EXPECT_EQ(w.StoredName("/work/data/sub/a.txt"), "a.txt");
  EXPECT_EQ(w.StoredName("/work/data/sub/"), "sub/");
}

TEST(StoredNames, EncodingRule) {
  EXPECT_EQ(EncodeStoredName("plain.txt").flags, 0);
  EXPECT_EQ(EncodeStoredName("caf\xC3\xA9.txt").flags, 0x800);
  auto foreign = EncodeStoredName("caf\xE9.txt");
  EXPECT_EQ(foreign.flags, 0);
  EXPECT_EQ(foreign.raw, "caf\xE9.txt");
}

}  // namespace
}  // namespace vantrel::zip
