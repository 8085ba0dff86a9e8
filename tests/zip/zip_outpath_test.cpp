// The directories of an extraction run: which names are known to be free in
// a directory the run made itself.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"
#include "zip/zip_outpath.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;

// One step of a case: open dirs (created when missing), then claim each name
// in the directory opened, expecting whether it is new.
struct TStep {
  std::vector<std::string> dirs;
  std::vector<std::pair<std::string, bool>> claims;
};

struct TChainCase {
  const char* name;
  std::vector<std::string> existing;  // directories there before the run
  std::vector<TStep> steps;
};

std::vector<std::string> Deep(size_t levels, const std::string& last = {}) {
  std::vector<std::string> dirs(levels, "d");
  if (!last.empty()) dirs.push_back(last);
  return dirs;
}

TEST(DirectoryChain, NamesAreNewOnlyInDirectoriesTheChainMadeAndHeld) {
  const std::vector<TChainCase> cases = {
      {"a directory the chain made: each name once", {}, {{{"new"}, {{"a", true}, {"a", false}, {"b", true}}}}},
      {"a directory that was there: never", {"old"}, {{{"old"}, {{"a", false}}}}},
      {"the root: never", {}, {{{}, {{"a", false}}}}},
      {"below a directory that was there, a new one", {"old"}, {{{"old", "new"}, {{"a", true}}}}},
      {"a subdirectory's name is taken in its parent",
       {},
       {{{"p", "sub"}, {{"f", true}}}, {{"p"}, {{"sub", false}, {"g", true}}}}},
      {"kept open along the path: the claims stay",
       {},
       {{{"p"}, {{"a", true}}}, {{"p", "q"}, {}}, {{"p"}, {{"a", false}, {"b", true}}}}},
      {"left and opened again: it was there by then",
       {},
       {{{"x"}, {{"a", true}}}, {{"y"}, {{"a", true}}}, {{"x"}, {{"b", false}}}}},
      {"deeper than the levels held open",
       {},
       {{Deep(70), {{"a", true}, {"a", false}}}, {Deep(70), {{"b", true}}}, {Deep(69, "e"), {{"a", true}}}}},
      {"a failed open claims nothing", {}, {{{"f"}, {{"x", true}}}, {{"f", "x"}, {}}, {{"f"}, {{"x", false}}}}},
  };
  for (const TChainCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir tmp;
    const std::string root = tmp / "root";
    fs::create_directories(root);
    for (const std::string& d : c.existing) fs::create_directories(root + "/" + d);
    TDirectoryChain chain;
    chain.Reset(root);
    for (const TStep& step : c.steps) {
      std::string path;
      for (const std::string& d : step.dirs) path += d + "/";
      SCOPED_TRACE(path);
      const int fd = chain.Open(step.dirs, true);
      // "f/x" cannot be opened once a file takes the name x in f.
      if (fd < 0) {
        EXPECT_TRUE(step.claims.empty());
        continue;
      }
      for (const auto& [leaf, isNew] : step.claims) {
        EXPECT_EQ(chain.ClaimNew(leaf), isNew) << leaf;
        if (isNew) test::WriteFile(root + "/" + path + leaf, "x");
      }
    }
  }
}

TEST(DirectoryChain, ResetForgetsWhatItMade) {
  test::TempDir tmp;
  TDirectoryChain chain;
  chain.Reset(tmp / "");
  ASSERT_GE(chain.Open({"n"}, true), 0);
  EXPECT_TRUE(chain.ClaimNew("a"));
  chain.Reset(tmp / "");
  ASSERT_GE(chain.Open({"n"}, true), 0);
  EXPECT_FALSE(chain.ClaimNew("b")) << "after a reset the directory is one that was there";
  EXPECT_EQ(chain.Open({"m"}, false), -1);
  EXPECT_FALSE(chain.ClaimNew("c")) << "nothing was opened";
}

}  // namespace
}  // namespace vantrel::zip
