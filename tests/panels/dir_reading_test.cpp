// Reading a directory on its own thread: the slices put together give the
// listing a whole read gives, in every order; the cursor and the marks stay
// on their entries while rows arrive; failures, a reader that never answers,
// and stopping while the thread runs.
#include "panels/dir_reading.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/fs.h"
#include "tests/support/test_support.h"

namespace vantrel::panels {
namespace {

using test::TempDir;
using Names = std::vector<std::string>;
using namespace std::chrono_literals;

Names NamesOf(const TPanelModel::Entries& entries) {
  Names out;
  for (const auto& e : entries) out.push_back(e->FileName);
  return out;
}

// Collects what a reading hands over, as the window's thread would.
struct TCollector {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<TListingSlice> slices;
  bool done = false;

  TDirectoryReading::TSink Sink() {
    return [this](TListingSlice&& slice) {
      std::lock_guard lock(mutex);
      done = done || slice.done;
      slices.push_back(std::move(slice));
      changed.notify_all();
    };
  }
  bool WaitDone(std::chrono::milliseconds limit = 20s) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return done; });
  }
  // Every slice applied to `model` in turn, as the panel applies them.
  void ApplyTo(TPanelModel& model) {
    std::lock_guard lock(mutex);
    for (TListingSlice& s : slices) {
      if (s.opened) model.BeginReading(s.directory);
      else model.AddRows(std::move(s.added), s.positions);
      if (s.done) model.EndReading(s.diskLine);
    }
    slices.clear();
  }
};

// A stream over names made up on the spot, resting now and then so that the
// reading hands them over in several slices; or one that waits until told.
class TScriptedStream final : public TEntryStream {
 public:
  TScriptedStream(std::vector<platform::FindData> entries, std::chrono::milliseconds rest, int restEvery)
      : entries_(std::move(entries)), rest_(rest), restEvery_(restEvery) {}
  std::string ResolvedPath() const override { return "/scripted"; }
  bool Next(platform::FindData& out, std::string*) override {
    if (next_ >= entries_.size()) return false;
    if (restEvery_ > 0 && next_ % restEvery_ == 0 && next_ > 0) std::this_thread::sleep_for(rest_);
    out = entries_[next_++];
    return true;
  }
  std::string DiskLine() const override { return "disk"; }

 private:
  std::vector<platform::FindData> entries_;
  std::chrono::milliseconds rest_;
  int restEvery_;
  size_t next_ = 0;
};

// Names of mixed case, directories among files, sizes and times that tie
// now and then, so that every order has work to do.
std::vector<platform::FindData> MixedEntries(int n) {
  std::vector<platform::FindData> out;
  const char* exts[] = {".txt", ".C", ".dat", "", ".Txt"};
  for (int i = 0; i < n; ++i) {
    platform::FindData fd;
    const int k = (i * 7919) % n;
    fd.name = (k % 2 ? "File_" : "file_") + std::to_string(k % 997) + "_" + std::to_string(k) + exts[k % 5];
    fd.attributes = k % 11 == 0 ? platform::kAttrDirectory : platform::kAttrArchive;
    fd.size = fd.attributes == platform::kAttrDirectory ? 0 : static_cast<uint64_t>(k % 13) * 100;
    fd.creationTime = fd.lastWriteTime = platform::FileTimeFromUnix(1700000000 + (k % 17) * 60, 0);
    out.push_back(fd);
  }
  platform::FindData dot;
  dot.name = ".";
  dot.attributes = platform::kAttrDirectory;
  out.insert(out.begin() + n / 2, dot);
  return out;
}

struct OrderCase {
  uint8_t sortType;
  bool descending;
};

class SlicedOrder : public ::testing::TestWithParam<OrderCase> {};

// Rows arriving in slices end in exactly the order a whole read sorts them.
TEST_P(SlicedOrder, SlicesEndInTheWholeListingsOrder) {
  const OrderCase c = GetParam();
  const std::vector<platform::FindData> entries = MixedEntries(6000);
  TCollector collector;
  TDirectoryReading reading("/scripted", c.sortType, c.descending, collector.Sink(),
                            [&](const std::string&, std::string*) -> std::unique_ptr<TEntryStream> {
                              return std::make_unique<TScriptedStream>(entries, 30ms, 1500);
                            });
  ASSERT_TRUE(collector.WaitDone());
  EXPECT_GE(collector.slices.size(), 4u) << "the rests should have split the reading";

  TPanelModel model;
  model.SetSortOrder(c.sortType, c.descending, false);
  collector.ApplyTo(model);
  EXPECT_FALSE(model.Reading());
  EXPECT_EQ(model.DiskLine(), "disk");

  // The whole listing sorted at once, with the ".." every directory has.
  TPanelModel whole;
  whole.SetSortOrder(c.sortType, c.descending, false);
  TPanelModel::Entries all;
  auto up = std::make_unique<TFileEntry>();
  up->FileName = "..";
  up->FileAttributes = platform::kAttrDirectory;
  all.push_back(std::move(up));
  for (const auto& fd : entries) {
    if (fd.name == ".") continue;
    auto e = std::make_unique<TFileEntry>();
    e->FileName = fd.name;
    e->FileAttributes = fd.attributes;
    e->FileSize = fd.size;
    e->CreationTime = fd.creationTime;
    e->LastWriteTime = fd.lastWriteTime;
    all.push_back(std::move(e));
  }
  whole.SetEntries(std::move(all));
  ASSERT_EQ(model.Count(), whole.Count());
  EXPECT_EQ(NamesOf(model.GetEntries()), NamesOf(whole.GetEntries()));
}

INSTANTIATE_TEST_SUITE_P(EveryOrder, SlicedOrder,
                         ::testing::Values(OrderCase{kSortByName, false}, OrderCase{kSortByName, true},
                                           OrderCase{kSortByExt, false}, OrderCase{kSortBySize, false},
                                           OrderCase{kSortBySize, true}, OrderCase{kSortByDate, false}));

// The cursor and the marks set on early rows stay on the same entries while
// later slices sort new rows in around them.
TEST(DirectoryReading, CursorAndMarksStayOnTheirEntriesWhileRowsArrive) {
  const std::vector<platform::FindData> entries = MixedEntries(4000);
  TCollector collector;
  TDirectoryReading reading("/scripted", kSortByName, false, collector.Sink(),
                            [&](const std::string&, std::string*) -> std::unique_ptr<TEntryStream> {
                              return std::make_unique<TScriptedStream>(entries, 40ms, 1000);
                            });
  TPanelModel model;
  // Take slices until some rows are in, but not all.
  for (int tries = 0; model.Count() < 10 && tries < 400; ++tries) {
    std::this_thread::sleep_for(5ms);
    collector.ApplyTo(model);
  }
  ASSERT_TRUE(model.Reading());
  ASSERT_GE(model.Count(), 10);
  ASSERT_LT(model.Count(), 4000);
  model.SetCursor(model.Count() - 2);
  const std::string cursorName = model.CurrentEntry()->FileName;
  const std::string marked1 = model.GetEntries()[3]->FileName;
  const std::string marked2 = model.GetEntries()[model.Count() - 1]->FileName;
  model.SetMarked(3, true);
  model.SetMarked(model.Count() - 1, true);
  const uint64_t markedBytes = model.MarkedBytes();

  ASSERT_TRUE(collector.WaitDone());
  collector.ApplyTo(model);
  ASSERT_FALSE(model.Reading());
  EXPECT_EQ(model.Count(), 4001);  // and ".."
  EXPECT_EQ(model.CurrentEntry()->FileName, cursorName);
  Names markedNames;
  for (const TFileEntry* e : model.GetMarkedEntries()) markedNames.push_back(e->FileName);
  std::sort(markedNames.begin(), markedNames.end());
  Names expected{marked1, marked2};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(markedNames, expected);
  EXPECT_EQ(model.MarkedCount(), 2);
  EXPECT_EQ(model.MarkedBytes(), markedBytes);
}

// A real directory: ".." first and once; "." never; the
// path through a link resolved; the disk line with the last slice.
TEST(DirectoryReading, ReadsARealDirectoryThroughALink) {
  TempDir tmp;
  test::MakeDir(tmp / "real");
  for (int i = 0; i < 50; ++i) test::WriteFile(tmp / ("real/f" + std::to_string(i)), "x");
  test::MakeDir(tmp / "real/sub");
  ASSERT_EQ(symlink((tmp / "real").c_str(), (tmp / "link").c_str()), 0);

  TCollector collector;
  TDirectoryReading reading(tmp / "link", kSortByName, false, collector.Sink());
  ASSERT_TRUE(collector.WaitDone());
  ASSERT_FALSE(collector.slices.empty());
  EXPECT_TRUE(collector.slices.front().opened);
  char* real = realpath((tmp / "real").c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(collector.slices.front().directory, real);
  free(real);
  EXPECT_TRUE(collector.slices.back().error.empty());
  EXPECT_FALSE(collector.slices.back().diskLine.empty());

  TPanelModel model;
  collector.ApplyTo(model);
  ASSERT_EQ(model.Count(), 52);
  EXPECT_EQ(model.GetEntries()[0]->FileName, "..");
  EXPECT_EQ(model.GetEntries()[1]->FileName, "sub");
  for (int i = 1; i < model.Count(); ++i) {
    EXPECT_NE(model.GetEntries()[i]->FileName, ".");
    EXPECT_NE(model.GetEntries()[i]->FileName, "..");
  }
}

TEST(DirectoryReading, RootHasNoParentEntry) {
  TCollector collector;
  TDirectoryReading reading("/", kSortByName, false, collector.Sink());
  ASSERT_TRUE(collector.WaitDone());
  TPanelModel model;
  collector.ApplyTo(model);
  EXPECT_EQ(model.Directory(), "/");
  for (const auto& e : model.GetEntries()) EXPECT_NE(e->FileName, "..");
}

struct FailCase {
  const char* what;
  std::string (*make)(const TempDir&);
};

class ReadingFails : public ::testing::TestWithParam<FailCase> {};

// A place that cannot be entered ends in one slice: done, not opened, with
// the system's reason.
TEST_P(ReadingFails, EndsInOneSliceWithTheReason) {
  TempDir tmp;
  const std::string path = GetParam().make(tmp);
  TCollector collector;
  TDirectoryReading reading(path, kSortByName, false, collector.Sink());
  ASSERT_TRUE(collector.WaitDone());
  ASSERT_EQ(collector.slices.size(), 1u);
  EXPECT_FALSE(collector.slices[0].opened);
  EXPECT_TRUE(collector.slices[0].added.empty());
  EXPECT_FALSE(collector.slices[0].error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Places, ReadingFails,
    ::testing::Values(FailCase{"missing", [](const TempDir& t) { return t / "none"; }},
                      FailCase{"file", [](const TempDir& t) {
                                 test::WriteFile(t / "plain", "x");
                                 return t / "plain";
                               }},
                      FailCase{"below a file", [](const TempDir& t) {
                                 test::WriteFile(t / "plain", "x");
                                 return t / "plain/inner";
                               }}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (ch == ' ') ch = '_';
      return n;
    });

// A reader held up by the file system: Stop returns at once, nothing
// reaches the sink afterwards, and the thread ends on its own once released.
TEST(DirectoryReading, StopLeavesAReaderThatNeverAnswers) {
  struct TGate {
    std::mutex mutex;
    std::condition_variable open;
    bool released = false;
    bool finished = false;
  };
  auto gate = std::make_shared<TGate>();
  class TStuckStream final : public TEntryStream {
   public:
    explicit TStuckStream(std::shared_ptr<TGate> gate) : gate_(std::move(gate)) {}
    ~TStuckStream() override {
      std::lock_guard lock(gate_->mutex);
      gate_->finished = true;
      gate_->open.notify_all();
    }
    std::string ResolvedPath() const override { return "/stuck"; }
    bool Next(platform::FindData& out, std::string*) override {
      std::unique_lock lock(gate_->mutex);
      gate_->open.wait(lock, [&] { return gate_->released; });
      if (given_++ > 3) return false;
      out = platform::FindData();
      out.name = "late" + std::to_string(given_);
      return true;
    }
    std::string DiskLine() const override { return {}; }

   private:
    std::shared_ptr<TGate> gate_;
    int given_ = 0;
  };

  TCollector collector;
  auto reading = std::make_unique<TDirectoryReading>(
      "/stuck", kSortByName, false, collector.Sink(),
      [gate](const std::string&, std::string*) -> std::unique_ptr<TEntryStream> {
        return std::make_unique<TStuckStream>(gate);
      });
  // The opened slice comes; rows do not.
  {
    std::unique_lock lock(collector.mutex);
    ASSERT_TRUE(collector.changed.wait_for(lock, 5s, [&] { return !collector.slices.empty(); }));
  }
  const auto before = std::chrono::steady_clock::now();
  reading->Stop();
  reading.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);
  size_t seen;
  {
    std::lock_guard lock(collector.mutex);
    seen = collector.slices.size();
    EXPECT_EQ(seen, 1u);
    EXPECT_TRUE(collector.slices[0].opened);
  }
  {
    std::lock_guard lock(gate->mutex);
    gate->released = true;
    gate->open.notify_all();
  }
  {
    std::unique_lock lock(gate->mutex);
    ASSERT_TRUE(gate->open.wait_for(lock, 5s, [&] { return gate->finished; }));
  }
  std::lock_guard lock(collector.mutex);
  EXPECT_EQ(collector.slices.size(), seen) << "nothing is told after Stop";
}

}  // namespace
}  // namespace vantrel::panels
