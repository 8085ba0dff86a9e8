// The search thread: results taken while it runs, Stop, a new start while
// one runs. These are the tests to run under ThreadSanitizer for the search.
#include "tools/search_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/test_support.h"

namespace vantrel::tools {
namespace {

using test::MakeDir;
using test::TempDir;
using test::WriteFile;

void MakeTree(const TempDir& tmp, int dirs, int files) {
  for (int d = 0; d < dirs; ++d) {
    const std::string dir = tmp / std::to_string(d);
    MakeDir(dir);
    for (int f = 0; f < files; ++f) {
      std::string name = dir + "/f";
      name += std::to_string(f);
      name += ".txt";
      WriteFile(name, f % 2 ? "needle" : "hay");
    }
  }
}

TEST(SearchRun, ResultsArriveWhileItRunsAndAllAtTheEnd) {
  TempDir tmp;
  MakeTree(tmp, 20, 50);
  TContentQuery query;
  query.text = "needle";
  TSearchRun run;
  TSearchCriteria criteria;
  run.Start(criteria, TContentMatcher::Compile(query, nullptr), tmp.path(), {});
  std::vector<TFoundFile> found;
  std::vector<TUnreadable> unreadable;
  while (!run.Finished()) {
    run.Take(found, unreadable);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  run.Wait();
  run.Take(found, unreadable);
  EXPECT_EQ(found.size(), 20u * 25u);
  EXPECT_TRUE(unreadable.empty());
  EXPECT_FALSE(run.Stopped());
  EXPECT_EQ(run.Counts().files, 1000u);
  EXPECT_EQ(run.Counts().directories, 21u);
}

TEST(SearchRun, StopAndRestart) {
  TempDir tmp;
  MakeTree(tmp, 200, 20);
  TSearchRun run;
  TSearchCriteria criteria;
  criteria.mask = "*.txt";
  run.Start(criteria, nullptr, tmp.path(), {});
  run.Stop();
  run.Wait();
  EXPECT_TRUE(run.Finished());
  std::vector<TFoundFile> found;
  std::vector<TUnreadable> unreadable;
  run.Take(found, unreadable);
  EXPECT_LT(found.size(), 4000u);

  // A new start while the search runs stops it first; only the new one's
  // results come.
  run.Start(criteria, nullptr, tmp.path(), {});
  criteria.mask = "f1.txt";
  run.Start(criteria, nullptr, tmp.path(), {});
  run.Wait();
  found.clear();
  run.Take(found, unreadable);
  EXPECT_EQ(found.size(), 200u);
  EXPECT_TRUE(std::all_of(found.begin(), found.end(), [](const TFoundFile& f) { return f.Name == "f1.txt"; }));
}

}  // namespace
}  // namespace vantrel::tools
