// Jobs beside jobs that keep their processors busy: which shares and how
// many processors let a waiting job start beside running ones on its
// devices, a paused job measured anew, a third job waiting for a processor,
// and the system's own measure of a job that mostly sleeps. Runs under
// ThreadSanitizer too.
#include <string>
#include <vector>

#include "fileops/job.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/fileops/job_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using namespace std::chrono_literals;

// Each job's thread tells the share of processor time it stands for (from
// when it said so) and what it read from storage; nothing is in memory,
// every disk seeks.
class ToldShares final : public TJobFacts {
 public:
  explicit ToldShares(unsigned processors) : processors_(processors) {}

  platform::Residency Sample(const std::vector<std::string>&) override {
    platform::Residency cold;
    cold.bytes = 1 << 20;
    cold.files = 1;
    return cold;
  }
  platform::SeekCost SeekCostOf(const std::string&) override { return platform::SeekCost::Seeks; }
  unsigned Processors() override { return processors_; }
  std::chrono::nanoseconds ThreadProcessorTime() override {
    const auto ran = std::chrono::steady_clock::now() - since_;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(ran * share_);
  }
  std::optional<uint64_t> ThreadStorageReads() override { return reads_; }

  // The work of a job whose thread is on a processor `share` of the time
  // and had `reads` bytes read from storage, reporting its progress as it
  // goes.
  static std::function<void(TJob&)> Busy(double share, uint64_t reads = 0) {
    return [share, reads, told = false](TJob& job) mutable {
      if (!told) {
        share_ = share;
        since_ = std::chrono::steady_clock::now();
        reads_ = reads;
        told = true;
      }
      job.SetProgress(1, 2, 0, 1, "item");
    };
  }

 private:
  const unsigned processors_;
  static thread_local double share_;
  static thread_local std::chrono::steady_clock::time_point since_;
  static thread_local uint64_t reads_;
};

thread_local double ToldShares::share_ = 0;
thread_local std::chrono::steady_clock::time_point ToldShares::since_{};
thread_local uint64_t ToldShares::reads_ = 0;

bool Measured(const std::vector<std::shared_ptr<TJob>>& jobs) {
  return std::all_of(jobs.begin(), jobs.end(), [](const auto& job) { return job->ProcessorShare().has_value(); });
}

// A job waiting for running jobs on its devices (each with its share), on a
// machine with so many processors: whether it starts beside them.
TEST(JobsBesideBusy, WhoStartsBeside) {
  struct Running {
    std::vector<uint64_t> devices;
    double share;
  };
  struct Case {
    const char* what;
    unsigned processors;
    std::vector<Running> running;
    std::vector<uint64_t> devices;  // of the job added last
    bool starts;
  };
  const Case cases[] = {
      {"a job that keeps its processor busy", 2, {{{1}, 0.9}}, {1}, true},
      {"just over the mark", 2, {{{1}, 0.8}}, {1}, true},
      {"just under it", 2, {{{1}, 0.7}}, {1}, false},
      {"one that waits on its disk", 2, {{{1}, 0.1}}, {1}, false},
      {"one processor", 1, {{{1}, 0.9}}, {1}, false},
      {"both processors taken", 2, {{{1}, 0.9}, {{2}, 0.9}}, {1}, false},
      {"two busy jobs on its devices, processors left", 4, {{{1}, 0.9}, {{2}, 0.9}}, {1, 2}, true},
      {"one of its devices' jobs waits on its disk", 4, {{{1}, 0.9}, {{2}, 0.1}}, {1, 2}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Workers w;
    TJobQueue queue;
    queue.SetFacts(std::make_shared<ToldShares>(c.processors));
    std::vector<std::shared_ptr<TJob>> running;
    for (const Running& r : c.running) {
      const std::string name = test::Numbered("r", static_cast<int>(running.size()));
      running.push_back(queue.Add(name, TJobPlaces{r.devices, {"src"}}, w.Work(name, ToldShares::Busy(r.share))));
      ASSERT_TRUE(Eventually([&] { return w.HasStarted(name); }));
    }
    auto last = queue.Add("last", TJobPlaces{c.devices, {"src"}}, w.Work("last"));
    if (c.starts) {
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("last"); }));
      for (const auto& job : running) EXPECT_EQ(job->State(), TJobState::Running);
    } else {
      ASSERT_TRUE(Eventually([&] { return Measured(running); }));
      std::this_thread::sleep_for(50ms);
      EXPECT_EQ(last->State(), TJobState::Waiting);
    }
    EXPECT_EQ(last->StartedBesideBusyJobs(), c.starts);
    EXPECT_FALSE(last->StartedFromMemory());
    for (const auto& job : running) w.Release(job->Title());
    EXPECT_TRUE(Eventually([&] { return w.HasStarted("last"); }));
    w.Release("last");
    EXPECT_TRUE(queue.WaitIdle(5s));
  }
}

// Without facts nothing is measured and the device rule alone holds.
TEST(JobsBesideBusy, NoFactsNoMeasure) {
  Workers w;
  TJobQueue queue;
  queue.SetFacts(nullptr);
  auto busy = queue.Add("busy", {1}, w.Work("busy", ToldShares::Busy(1.0)));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("busy"); }));
  auto next = queue.Add("next", {1}, w.Work("next"));
  std::this_thread::sleep_for(800ms);
  EXPECT_FALSE(busy->ProcessorShare().has_value());
  EXPECT_EQ(next->State(), TJobState::Waiting);
  w.ReleaseAll();
  EXPECT_TRUE(queue.WaitIdle(5s));
  EXPECT_FALSE(next->StartedBesideBusyJobs());
}

// A paused job is no busy job: one added meanwhile waits, and starts once
// the resumed job measured busy again.
TEST(JobsBesideBusy, APausedJobIsMeasuredAnewOnceResumed) {
  Workers w;
  TJobQueue queue;
  queue.SetFacts(std::make_shared<ToldShares>(2));
  auto busy = queue.Add("busy", {1}, w.Work("busy", ToldShares::Busy(0.9)));
  ASSERT_TRUE(Eventually([&] { return busy->ProcessorShare().has_value(); }));
  queue.Pause(busy->Id());
  ASSERT_TRUE(Eventually([&] { return busy->AtGate(); }));
  EXPECT_FALSE(busy->ProcessorShare().has_value());
  auto next = queue.Add("next", {1}, w.Work("next"));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(next->State(), TJobState::Waiting);
  const auto resumed = std::chrono::steady_clock::now();
  queue.Resume(busy->Id());
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("next"); }));
  // On a measure of its own, not on one from before the pause.
  EXPECT_GE(std::chrono::steady_clock::now() - resumed, 450ms);
  EXPECT_TRUE(next->StartedBesideBusyJobs());
  w.ReleaseAll();
  EXPECT_TRUE(queue.WaitIdle(5s));
}

// With two processors a third job on the device waits while two busy jobs
// run, and starts beside the one left when the other ends.
TEST(JobsBesideBusy, AThirdJobWaitsForAProcessor) {
  Workers w;
  TJobQueue queue;
  queue.SetFacts(std::make_shared<ToldShares>(2));
  auto first = queue.Add("first", {1}, w.Work("first", ToldShares::Busy(0.9)));
  auto second = queue.Add("second", {1}, w.Work("second", ToldShares::Busy(0.9)));
  auto third = queue.Add("third", {1}, w.Work("third"));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("second"); }));
  ASSERT_TRUE(Eventually([&] { return second->ProcessorShare().has_value(); }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(third->State(), TJobState::Waiting);
  w.Release("first");
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("third"); }));
  EXPECT_EQ(second->State(), TJobState::Running);
  EXPECT_TRUE(second->StartedBesideBusyJobs());
  EXPECT_TRUE(third->StartedBesideBusyJobs());
  w.ReleaseAll();
  EXPECT_TRUE(queue.WaitIdle(5s));
}

// A job that ended tells of the devices its sources lie on when it ran long
// enough and read from storage: where it kept its processor busy, a job
// waiting for a running one with no measure yet starts at once. That one
// mostly waits here (it never measures busy), so only the memory can start
// the waiting job; once its measure comes, a job added later waits.
TEST(JobsBesideBusy, TheLastJobThatReadFromStorageSpeaksForItsDevices) {
  struct Case {
    const char* what;
    double share;
    uint64_t reads;
    std::chrono::milliseconds ran;
    bool sourceElsewhere;
    bool starts;
  };
  constexpr uint64_t kMiB = 1 << 20;
  const Case cases[] = {
      {"it kept its processor busy", 0.9, 64 * kMiB, 1100ms, false, true},
      {"it read from the page cache", 0.9, 1 * kMiB, 1100ms, false, false},
      {"it waited on its disk", 0.3, 64 * kMiB, 1100ms, false, false},
      {"it ran too short to tell", 0.9, 64 * kMiB, 300ms, false, false},
      {"its sources were on another device", 0.9, 64 * kMiB, 1100ms, true, false},
  };
  test::TempDir tmp;
  const std::vector<uint64_t> disk = DevicesOf({tmp.path()});
  ASSERT_EQ(disk.size(), 1u);
  ASSERT_NE(DevicesOf({"/proc/self"}), disk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Workers w;
    TJobQueue queue;
    queue.SetFacts(std::make_shared<ToldShares>(4));
    const std::string source = c.sourceElsewhere ? "/proc/self" : tmp.path();
    queue.Add("told", TJobPlaces{disk, {source}}, w.Work("told", ToldShares::Busy(c.share, c.reads)));
    ASSERT_TRUE(Eventually([&] { return w.HasStarted("told"); }));
    std::this_thread::sleep_for(c.ran);
    w.Release("told");
    ASSERT_TRUE(queue.WaitIdle(5s));
    auto waiter = queue.Add("waiter", TJobPlaces{disk, {tmp.path()}}, w.Work("waiter", ToldShares::Busy(0.1)));
    ASSERT_TRUE(Eventually([&] { return w.HasStarted("waiter"); }));
    auto next = queue.Add("next", TJobPlaces{disk, {tmp.path()}}, w.Work("next"));
    if (c.starts) {
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("next"); }));
      EXPECT_TRUE(next->StartedBesideBusyJobs());
    }
    ASSERT_TRUE(Eventually([&] { return waiter->ProcessorShare().has_value(); }));
    auto last = queue.Add("last", TJobPlaces{disk, {tmp.path()}}, w.Work("last"));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(next->State(), c.starts ? TJobState::Running : TJobState::Waiting);
    EXPECT_EQ(last->State(), TJobState::Waiting);
    w.ReleaseAll();
    EXPECT_TRUE(queue.WaitIdle(5s));
  }
}

// The system's measure: a job whose thread mostly sleeps (as one waiting on
// its disk does) is far from busy, and the next job on its device waits.
TEST(JobsBesideBusy, TheSystemsMeasureOfASleepingJob) {
  Workers w;
  TJobQueue queue;
  auto sleeper = queue.Add("sleeper", {1}, w.Work("sleeper", [](TJob& job) { job.SetProgress(1, 2, 0, 1, "item"); }));
  ASSERT_TRUE(Eventually([&] { return sleeper->ProcessorShare().has_value(); }));
  EXPECT_LT(*sleeper->ProcessorShare(), 0.5);
  auto next = queue.Add("next", {1}, w.Work("next"));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(next->State(), TJobState::Waiting);
  w.ReleaseAll();
  EXPECT_TRUE(queue.WaitIdle(5s));
  EXPECT_FALSE(next->StartedBesideBusyJobs());
}

}  // namespace
}  // namespace vantrel::fileops::testing
