// The tree of entry paths: implied directories, duplicates, a file that is
// also a directory, and hostile names that must stay inside.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "vfs/path_index.h"

namespace vantrel::vfs {
namespace {

std::vector<std::string> Children(const TPathIndex& index, const std::string& dir) {
  std::vector<std::string> out;
  const uint32_t id = index.Find(dir);
  if (id == TPathIndex::kNone) return {"<none>"};
  for (uint32_t c : index.Children(id)) {
    const auto& n = index.Node(c);
    out.push_back(std::string(index.Name(c)) + (n.directory ? (n.entry < 0 ? "/(implied)" : "/") : ""));
  }
  std::sort(out.begin(), out.end());
  return out;
}

TPathIndex Build(const std::vector<std::string>& paths) {
  TPathIndex index;
  index.Build(paths.size(), [&](size_t i) { return std::string_view(paths[i]); });
  return index;
}

struct TListingCase {
  const char* what;
  std::vector<std::string> paths;
  std::string dir;
  std::vector<std::string> expected;
};

TEST(PathIndex, Listings) {
  const std::vector<TListingCase> cases = {
      {"implied directories at the root", {"a/b/c.txt"}, "", {"a/(implied)"}},
      {"implied directories below", {"a/b/c.txt"}, "a", {"b/(implied)"}},
      {"file under implied directories", {"a/b/c.txt"}, "a/b", {"c.txt"}},
      {"a directory entry is not implied", {"d/", "d/x"}, "", {"d/"}},
      {"a directory entry after its files", {"d/x", "d/"}, "", {"d/"}},
      {"duplicates both listed", {"x.txt", "y", "x.txt"}, "", {"x.txt", "x.txt", "y"}},
      {"a file that is also a directory is shown once", {"a", "a/b"}, "", {"a/(implied)"}},
      {"the same, directory entry first", {"a/", "a"}, "", {"a/"}},
      {"absolute paths stay inside", {"/etc/passwd"}, "", {"etc/(implied)"}},
      {"double and dot components dropped", {"a//b", "./c", "a/./d"}, "a", {"b", "d"}},
      {"dot-dot is a name, not the way up", {"../evil", "a/../b"}, "", {"../(implied)", "a/(implied)"}},
      {"dot-dot directory holds its file", {"../evil"}, "..", {"evil"}},
      {"dot-dot below a directory", {"a/../b"}, "a/..", {"b"}},
      {"control characters and bytes kept", {"t\x01\x1b[2J", "\xff\xfe.txt"}, "",
       {"t\x01\x1b[2J", "\xff\xfe.txt"}},
      {"a name that normalises to nothing is listed nowhere", {".", "/", "ok"}, "", {"ok"}},
      {"many files in one directory", {"p/1", "p/2", "p/3", "q"}, "p", {"1", "2", "3"}},
      {"two files of one name, then a directory of it", {"x", "x", "x/y"}, "", {"x/(implied)"}},
      {"the directory first, then two files of its name", {"x/y", "x", "x"}, "", {"x/(implied)"}},
      {"the merged files are not listed inside either", {"x", "x", "x/y"}, "x", {"y"}},
      {"a directory entry after the file of its name", {"x", "x/"}, "", {"x/"}},
      {"one name in two directories is two nodes", {"a/n", "b/n", "a/n"}, "b", {"n"}},
  };
  for (const TListingCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Children(Build(c.paths), c.dir), c.expected);
  }
}

TEST(PathIndex, FindAndPaths) {
  const TPathIndex index = Build({"a/b/c.txt", "a/", "x", "x", "../up"});
  struct {
    const char* inner;
    bool found;
    bool directory;
    const char* path;
  } cases[] = {
      {"", true, true, ""},          {"a", true, true, "a"},
      {"a/", true, true, "a"},       {"/a//b/", true, true, "a/b"},
      {"a/b/c.txt", true, false, "a/b/c.txt"},
      {"x", true, false, "x"},       {"..", true, true, ".."},
      {"../up", true, false, "../up"}, {"a/b/..", false, false, ""},
      {"missing", false, false, ""}, {"x/below-a-file", false, false, ""},
      {"./a/./b", true, true, "a/b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inner);
    const uint32_t id = index.Find(c.inner);
    ASSERT_EQ(id != TPathIndex::kNone, c.found);
    if (!c.found) continue;
    EXPECT_EQ(index.Node(id).directory, c.directory);
    EXPECT_EQ(index.PathOf(id), c.path);
  }
  // The first of two entries of one path is found; the other is listed.
  EXPECT_EQ(index.Node(index.Find("x")).entry, 2);
}

TEST(PathIndex, EntriesBelowTakeHiddenOnes) {
  // Entry 0 "a" is a file hidden by the directory a; entry 3 repeats "a/".
  const TPathIndex index = Build({"a", "a/", "a/b/c", "a/", "z"});
  std::vector<int32_t> below;
  index.EntriesBelow(index.Find("a"), below);
  std::sort(below.begin(), below.end());
  EXPECT_EQ(below, (std::vector<int32_t>{0, 1, 2, 3}));
  below.clear();
  index.EntriesBelow(TPathIndex::kRoot, below);
  EXPECT_EQ(below.size(), 5u);
}

TEST(PathIndex, DuplicatesMergedIntoADirectoryStayWithIt) {
  // Entries 0 and 1 are files "x", 2 lies below x, 3 is x's own entry.
  const TPathIndex index = Build({"x", "x", "x/y", "x/", "z"});
  const uint32_t x = index.Find("x");
  ASSERT_NE(x, TPathIndex::kNone);
  EXPECT_TRUE(index.Node(x).directory);
  EXPECT_EQ(index.Node(x).entry, 3);
  std::vector<int32_t> hidden(index.Hidden(x).begin(), index.Hidden(x).end());
  std::sort(hidden.begin(), hidden.end());
  EXPECT_EQ(hidden, (std::vector<int32_t>{0, 1}));
  std::vector<int32_t> below;
  index.EntriesBelow(x, below);
  std::sort(below.begin(), below.end());
  EXPECT_EQ(below, (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_TRUE(index.Hidden(index.Find("z")).empty());
}

TEST(PathIndex, DeepAndWideTrees) {
  // A path thousands of levels deep (the table grows many times while it is
  // built) and a directory of many names: every node found by its path.
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += test::Numbered("d", i % 7, "/");
  std::vector<std::string> paths{deep + "leaf"};
  for (int i = 0; i < 3000; ++i) paths.push_back("wide/f" + std::to_string(i));
  const TPathIndex index = Build(paths);
  const uint32_t leaf = index.Find(deep + "leaf");
  ASSERT_NE(leaf, TPathIndex::kNone);
  EXPECT_EQ(index.Node(leaf).entry, 0);
  EXPECT_EQ(index.PathOf(leaf), deep + "leaf");
  std::vector<int32_t> below;
  index.EntriesBelow(TPathIndex::kRoot, below);
  EXPECT_EQ(below.size(), paths.size());
  EXPECT_EQ(index.Children(index.Find("wide")).size(), 3000u);
  for (int i = 0; i < 3000; i += 299) {
    const uint32_t id = index.Find("wide/f" + std::to_string(i));
    ASSERT_NE(id, TPathIndex::kNone);
    EXPECT_EQ(index.Node(id).entry, i + 1);
  }
}

TEST(PathIndex, RebuiltIndexForgetsTheOldTree) {
  TPathIndex index;
  const std::vector<std::string> first{"old/a", "old/b"}, second{"new/c"};
  index.Build(first.size(), [&](size_t i) { return std::string_view(first[i]); });
  index.Build(second.size(), [&](size_t i) { return std::string_view(second[i]); });
  EXPECT_EQ(Children(index, ""), (std::vector<std::string>{"new/(implied)"}));
  EXPECT_EQ(index.Find("old/a"), TPathIndex::kNone);
  EXPECT_EQ(index.Node(index.Find("new/c")).entry, 0);
}

TEST(PathIndex, PathsMayBeTemporary) {
  // The caller's view lives only until the next call: names are kept.
  std::string scratch;
  const std::vector<std::string> paths{"a/one", "a/two", "b"};
  TPathIndex index;
  index.Build(paths.size(), [&](size_t i) { return std::string_view(scratch = paths[i]); });
  scratch.assign(32, '#');
  EXPECT_EQ(Children(index, "a"), (std::vector<std::string>{"one", "two"}));
}

}  // namespace
}  // namespace vantrel::vfs
