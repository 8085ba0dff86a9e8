// A new sort order for the rows shown: put in place without reading the
// directory again, at once for a small listing and on a thread of its own
// for a large one; the cursor and the marks stay on their entries, and a
// listing that changed meanwhile, or a model that went away, is safe.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <random>

#include "panels/dirmodel.h"
#include "tests/support/test_support.h"

namespace vantrel::panels {
namespace {

using Names = std::vector<std::string>;
using namespace std::chrono_literals;

// What the model posts to "the window's thread", run when the test says.
struct TPosts {
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<std::function<void()>> work;

  std::function<void(std::function<void()>)> Poster() {
    return [this](std::function<void()> f) {
      std::lock_guard lock(mutex);
      work.push_back(std::move(f));
      posted.notify_all();
    };
  }
  // Runs the next work posted; false when none came within the limit.
  bool RunNext(std::chrono::milliseconds limit = 20s) {
    std::function<void()> next;
    {
      std::unique_lock lock(mutex);
      if (!posted.wait_for(lock, limit, [&] { return !work.empty(); })) return false;
      next = std::move(work.front());
      work.pop_front();
    }
    next();
    return true;
  }
};

// Directories and files with names that tie but for case, sizes and times
// that tie often; "..", first.
TPanelModel::Entries Rows(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  TPanelModel::Entries out;
  auto up = std::make_unique<TFileEntry>();
  up->FileName = "..";
  up->FileAttributes = platform::kAttrDirectory;
  out.push_back(std::move(up));
  const char* exts[] = {"", ".txt", ".TXT", ".c", ".tar.gz"};
  for (int i = 0; i < n; ++i) {
    auto e = std::make_unique<TFileEntry>();
    e->FileName = (rng() % 2 ? "Name_" : "name_") + std::to_string(rng() % (n + 1)) + "-" + std::to_string(i) +
                  exts[rng() % 5];
    e->FileAttributes = rng() % 10 == 0 ? platform::kAttrDirectory : platform::kAttrArchive;
    e->FileSize = e->IsDirectory() ? 0 : rng() % 50;
    e->CreationTime = e->LastWriteTime = platform::FileTimeFromUnix(1700000000 + rng() % 40, 0);
    out.push_back(std::move(e));
  }
  return out;
}

std::unique_ptr<TFileEntry> Entry(const std::string& name, uint64_t size) {
  auto e = std::make_unique<TFileEntry>();
  e->FileName = name;
  e->FileAttributes = platform::kAttrArchive;
  e->FileSize = size;
  return e;
}

TPanelModel::Entries Copy(const TPanelModel::Entries& from) {
  TPanelModel::Entries out;
  for (const auto& e : from) out.push_back(std::make_unique<TFileEntry>(*e));
  return out;
}

Names NamesOf(const TPanelModel& m) {
  Names out;
  for (const auto& e : m.GetEntries()) out.push_back(e->FileName);
  return out;
}

Names MarkedNames(const TPanelModel& m) {
  Names out;
  for (const TFileEntry* e : m.GetMarkedEntries()) out.push_back(e->FileName);
  std::sort(out.begin(), out.end());
  return out;
}

// The rows as a model sorts them whole in `type`.
Names WholeSort(const TPanelModel::Entries& rows, uint8_t type, bool descending) {
  TPanelModel whole;
  whole.SetSortOrder(type, descending, false);
  whole.SetEntries(Copy(rows));
  return NamesOf(whole);
}

struct ReorderCase {
  int rows;
  uint8_t type;
  bool descending;
  bool away;  // worked out on a thread of its own
};

TEST(Reorder, NewOrderKeepsCursorAndMarks) {
  const ReorderCase cases[] = {
      {40, kSortBySize, false, false},   {40, kSortByName, true, false},   {40, kSortByExt, false, false},
      {30000, kSortBySize, true, true},  {30000, kSortByExt, false, true},  {30000, kSortByTime, false, true},
  };
  for (const ReorderCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows, order " + std::to_string(c.type) + (c.descending ? " descending" : ""));
    const TPanelModel::Entries rows = Rows(c.rows, static_cast<uint32_t>(c.rows + c.type));
    TPosts posts;
    TPanelModel m;
    m.PostToWindow = posts.Poster();
    int refreshed = 0;
    m.OnListingRefreshed = [&] { ++refreshed; };
    m.SetEntries(Copy(rows));
    const Names before = NamesOf(m);
    m.SetCursor(c.rows / 3);
    const std::string atCursor = m.CurrentEntry()->FileName;
    for (int i = 1; i < m.Count(); i += 7) m.SetMarked(i, true);
    const Names marked = MarkedNames(m);
    const uint64_t bytes = m.MarkedBytes();

    m.SetSortOrder(c.type, c.descending);
    EXPECT_EQ(m.Reordering(), c.away);
    if (c.away) {
      // Shown in the old order until the new one is worked out.
      EXPECT_EQ(NamesOf(m), before);
      EXPECT_EQ(refreshed, 0);
      ASSERT_TRUE(posts.RunNext());
      EXPECT_FALSE(m.Reordering());
    }
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(NamesOf(m), WholeSort(rows, c.type, c.descending));
    EXPECT_EQ(m.CurrentEntry()->FileName, atCursor);
    EXPECT_EQ(MarkedNames(m), marked);
    EXPECT_EQ(m.MarkedBytes(), bytes);
  }
}

// The directory is not read again for a new order: a file made since the
// listing was read stays out of it until a reread.
TEST(Reorder, DoesNotReadTheDirectoryAgain) {
  test::TempDir tmp;
  test::WriteFile(tmp / "a", "1");
  test::WriteFile(tmp / "b", "22");
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp.path()));
  test::WriteFile(tmp / "c", "333");
  m.SetSortType(kSortBySize);
  EXPECT_EQ(NamesOf(m), (Names{"..", "b", "a"}));
}

// A listing of its own (a search's results) keeps its rows in a new order
// instead of giving way to its directory.
TEST(Reorder, AListingOfItsOwnStays) {
  test::TempDir tmp;
  test::WriteFile(tmp / "on-disk", "1");
  TPanelModel m;
  TPanelModel::Entries found;
  found.push_back(Entry("sub/small", 1));
  found.push_back(Entry("sub/large", 300));
  found.push_back(Entry("mid", 20));
  m.ShowListing(tmp.path(), "found", std::move(found));
  m.SetSortType(kSortBySize);
  EXPECT_TRUE(m.IsListing());
  EXPECT_EQ(NamesOf(m), (Names{"..", "sub/large", "mid", "sub/small"}));
}

// Rows that change while their new order is worked out: what was worked
// out is dropped and the new rows are put in order; rows that change again
// before that are put in order once more. A model that goes away meanwhile
// leaves nothing to run.
TEST(Reorder, ChangesMeanwhileAndAModelThatGoes) {
  const TPanelModel::Entries first = Rows(30000, 1);
  const TPanelModel::Entries second = Rows(25000, 2);
  TPosts posts;
  {
    TPanelModel m;
    m.PostToWindow = posts.Poster();
    m.SetEntries(Copy(first));
    m.SetSortOrder(kSortBySize, false);
    ASSERT_TRUE(m.Reordering());
    // A new listing comes, read in the old order.
    TPanelModel old;
    old.SetEntries(Copy(second));
    TPanelModel::Entries again;
    for (const auto& e : old.GetEntries()) again.push_back(std::make_unique<TFileEntry>(*e));
    ASSERT_TRUE(m.Refresh(m.Directory(), std::move(again), ""));
    m.SetSortOrder(kSortBySize, true);  // and the order changes once more
    for (int runs = 0; m.Reordering(); ++runs) {
      ASSERT_LT(runs, 3);
      ASSERT_TRUE(posts.RunNext());
    }
    EXPECT_EQ(NamesOf(m), WholeSort(second, kSortBySize, true));

    m.SetSortOrder(kSortByExt, false);
    ASSERT_TRUE(m.Reordering());
  }
  // The model is gone: what its reordering may still post does nothing.
  while (posts.RunNext(2s)) {
  }
}

}  // namespace
}  // namespace vantrel::panels
