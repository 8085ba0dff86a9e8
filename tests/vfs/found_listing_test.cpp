// The members found so far while a listing runs, filed place by place under
// the rules of the finished index.
#include <gtest/gtest.h>

#include "tests/vfs/vfs_helpers.h"
#include "vfs/found_listing.h"
#include "vfs/path_index.h"

namespace vantrel::vfs {
namespace {

TEntry File(uint64_t size = 1) {
  TEntry e;
  e.size = size;
  return e;
}

TEntry Dir(int64_t mtime = 0) {
  TEntry e;
  e.kind = TEntryKind::Directory;
  e.mtime = mtime;
  return e;
}

std::vector<std::string> Shown(const TFoundListing& found, const std::string& inner) {
  std::vector<TEntry> out;
  EXPECT_TRUE(found.List(inner, out)) << inner;
  return test::Names(out);
}

TEST(FoundListingTest, PlacesAsTheFinishedIndexShowsThem) {
  struct TCase {
    const char* what;
    std::vector<std::string> paths;  // "a/" directories, the rest files
    const char* inner;
    std::vector<std::string> shown;
  } cases[] = {
      {"implied parents", {"a/b/c.txt"}, "", {"a/"}},
      {"implied parents, below", {"a/b/c.txt"}, "a", {"b/"}},
      {"a directory stored after its files is shown once", {"a/x", "a/", "a/y"}, "", {"a/"}},
      {"stored twice, shown once", {"d/", "d/"}, "", {"d/"}},
      {"a file before a directory of its path hides", {"a", "a/b"}, "", {"a/"}},
      {"a file after a directory of its path hides", {"a/b", "a"}, "", {"a/"}},
      {"two files of a name hide together", {"k", "k", "z", "k/"}, "", {"k/", "z"}},
      {"two files of one name are both listed", {"n", "n"}, "", {"n", "n"}},
      {"empty components and dot dropped", {"/etc//./x", "./top"}, "", {"etc/", "top"}},
      {"dot dot is a name", {"../up"}, "", {"../"}},
      {"dot dot is a name, below", {"../up"}, "..", {"up"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TFoundListing found;
    for (const std::string& p : c.paths) found.Add(p, p.back() == '/' ? Dir() : File());
    EXPECT_EQ(Shown(found, c.inner), c.shown);
    EXPECT_EQ(found.Count(), c.paths.size());
  }
}

// What the listing shows in the end equals what the finished index shows,
// for the same members in the same order.
TEST(FoundListingTest, AgreesWithTheIndex) {
  const std::vector<std::string> paths = {"src/", "src/a.c", "src/b.c", "src/x/", "doc", "doc/",
                                          "doc/r.md", "deep/1/2/3", "deep/1/", "src/a.c", "top"};
  TFoundListing found;
  for (const std::string& p : paths) found.Add(p, p.back() == '/' ? Dir() : File());
  TPathIndex index;
  index.Build(paths.size(), [&](size_t i) { return std::string_view(paths[i]); });
  for (const std::string inner : {"", "src", "doc", "deep", "deep/1", "deep/1/2", "src/x"}) {
    SCOPED_TRACE(inner);
    std::vector<std::string> fromIndex;
    for (uint32_t child : index.Children(index.Find(inner)))
      fromIndex.push_back(std::string(index.Name(child)) + (index.Node(child).directory ? "/" : ""));
    std::sort(fromIndex.begin(), fromIndex.end());
    EXPECT_EQ(Shown(found, inner), fromIndex);
  }
}

TEST(FoundListingTest, StoredDirectoryGivesItsDetailsToTheImpliedRow) {
  TFoundListing found;
  found.Add("a/b.txt", File(7));
  found.Add("a/", Dir(1700000000));
  std::vector<TEntry> out;
  ASSERT_TRUE(found.List("", out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FALSE(out[0].implied);
  EXPECT_EQ(out[0].mtime, 1700000000);
  ASSERT_TRUE(found.List("a", out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].size, 7u);
  EXPECT_EQ(out[0].name, "b.txt");
  // A place nothing was found in yet is no place; the root always is.
  EXPECT_FALSE(found.List("nowhere", out));
  found.Clear();
  EXPECT_TRUE(found.List("", out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(found.Count(), 0u);
}

}  // namespace
}  // namespace vantrel::vfs
