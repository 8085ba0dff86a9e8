// The file search walk and the wildcard masks it uses.
#include "app/commands/file_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/wildcard.h"
#include "tests/support/test_support.h"

namespace vantrel::app {
namespace {

using platform::MatchWildcard;
using test::MakeDir;
using test::TempDir;
using test::WriteFile;

// "*" any run, "?" one character, the rest itself and with case; "*.*"
// matches every name, with or without a dot; many stars stay fast.
TEST(Wildcard, StarQuestionAndLiterals) {
  const struct {
    const char *mask, *name;
    bool match;
  } cases[] = {
      {"*.txt", "a.txt", true}, {"*.txt", ".txt", true}, {"*.txt", "a.txt.bak", false},
      {"*.txt", "a.TXT", false}, {"a?c", "abc", true},   {"a?c", "ac", false},
      {"*a*b*", "xxaxxbxx", true}, {"", "", true},      {"", "a", false},
      {"*.*", "README", true},  {"*", "", true},         {"a*", "a*b", true},
      {"ab*", "ab", true},      {"a*b**", "ab", true},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchWildcard(c.mask, c.name), c.match) << c.mask << " / " << c.name;
  EXPECT_FALSE(MatchWildcard("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}

std::vector<std::string> Find(const std::string& mask, const std::string& start) {
  std::vector<std::string> out;
  TFileSearch s;
  s.OnFound = [&](TFoundFile&& f) { out.push_back(f.Path()); };
  EXPECT_TRUE(s.Search(mask, start));
  return out;
}

// A directory's own matches come before its subdirectories'; directories
// are searched, never listed; a match carries its size and time; link loops
// end and linked directories are not entered.
TEST(FileSearch, OwnMatchesBeforeSubdirectoriesAndDirectoriesNeverListed) {
  TempDir tmp;
  for (const char* d : {"sub", "x.txt", "a/b"}) MakeDir(tmp / d);
  for (const char* f : {"sub/b.txt", "x.txt/inner.txt", "skip.dat", "a/b/hit.txt"}) WriteFile(tmp / f, "bb");
  WriteFile(tmp / "a.txt", std::string(1234, 'x'));
  test::SetMTime(tmp / "a.txt", 1600000000);
  ASSERT_EQ(symlink("..", (tmp / "a/b/up").c_str()), 0);
  ASSERT_EQ(symlink(tmp.path().c_str(), (tmp / "a/root").c_str()), 0);
  TFileSearch s;
  std::vector<TFoundFile> found;
  s.OnFound = [&](TFoundFile&& f) { found.push_back(std::move(f)); };
  ASSERT_TRUE(s.Search("*.txt", tmp.path()));
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].Directory, tmp.path() + "/");
  EXPECT_EQ(found[0].Name, "a.txt");
  EXPECT_EQ(found[0].Size, 1234u);
  EXPECT_EQ(found[0].LastWriteTime, platform::FileTimeFromUnix(1600000000, 0));
  std::vector<std::string> rest = {found[1].Path(), found[2].Path(), found[3].Path()};
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<std::string>{tmp / "a/b/hit.txt", tmp / "sub/b.txt", tmp / "x.txt/inner.txt"}));
}

// A missing start searches the current directory, a relative one starts
// there; the current directory is kept; a directory that cannot be entered
// is skipped (root enters every directory).
TEST(FileSearch, StartDirectoriesAndUnenterableDirectories) {
  TempDir tmp;
  WriteFile(tmp / "here.txt", "");
  MakeDir(tmp / "rel");
  WriteFile(tmp / "rel/r.txt", "");
  test::CurrentDirGuard guard;
  ASSERT_TRUE(platform::SetCurrentDir(tmp.path()));
  EXPECT_EQ(Find("here.txt", tmp / "does-not-exist"), std::vector<std::string>{tmp / "here.txt"});
  EXPECT_EQ(platform::GetCurrentDir(), tmp.path());
  EXPECT_EQ(Find("r.txt", "rel"), std::vector<std::string>{tmp / "rel/r.txt"});
  if (geteuid() == 0) return;
  ::chmod((tmp / "rel").c_str(), 0);
  EXPECT_EQ(Find("*.txt", tmp.path()), std::vector<std::string>{tmp / "here.txt"});
}

// Stop ends the search; from the root, paths have one separator.
TEST(FileSearch, StopEndsTheSearch) {
  TempDir tmp;
  for (int i = 0; i < 20; ++i) MakeDir(tmp / std::to_string(i)), WriteFile(tmp / std::to_string(i) + "/f.txt", "");
  TFileSearch s;
  int found = 0;
  s.OnFound = [&](TFoundFile&&) { ++found; };
  s.ShouldStop = [&] { return found >= 3; };
  EXPECT_FALSE(s.Search("*.txt", tmp.path()));
  EXPECT_EQ(found, 3);
  std::string first;
  s.OnFound = [&](TFoundFile&& f) { first = f.Path(); };
  s.ShouldStop = [&] { return !first.empty(); };
  s.Search("*", "/");
  EXPECT_TRUE(first.size() > 1 && first[0] == '/' && first[1] != '/') << first;
}

}  // namespace
}  // namespace vantrel::app
