// The tree of entry paths: implied directories, duplicates, a file that is
// also a directory, and hostile names that must stay inside.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vfs/path_index.h"

namespace vantrel::vfs {
namespace {

std::vector<std::string> Children(const TPathIndex& index, const std::string& dir) {
  std::vector<std::string> out;
  const uint32_t id = index.Find(dir);
  if (id == TPathIndex::kNone) return {"<none>"};
  for (uint32_t c : index.Node(id).children) {
    const auto& n = index.Node(c);
    out.push_back(n.name + (n.directory ? (n.entry < 0 ? "/(implied)" : "/") : ""));
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
      {"missing", false, false, ""},
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

}  // namespace
}  // namespace vantrel::vfs
