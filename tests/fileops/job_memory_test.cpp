// Jobs whose sources are in memory: when the share the page cache misses is
// small enough, which waiting jobs are sampled at all (only those that
// running jobs alone keep waiting: the order and held jobs stay as they
// were), a job cancelled or the queue destroyed while its sources are
// sampled, and the system's own answers for a tree just written and read.
// Runs under ThreadSanitizer too.
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <map>

#include "fileops/job.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/fileops/job_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using namespace std::chrono_literals;
using platform::Residency;
using platform::SeekCost;

TEST(JobsFromMemory, HowMuchMayBeMissing) {
  struct Case {
    uint64_t bytes, resident;
    bool complete, seeks;
    bool fromMemory;
  };
  constexpr uint64_t kMiB = 1 << 20;
  const Case cases[] = {
      {0, 0, true, true, true},                      // nothing to read
      {64 * kMiB, 64 * kMiB, true, true, true},      // all of it
      {256 * kMiB, 255 * kMiB, true, true, true},    // 1/256 missing on a disk that seeks
      {256 * kMiB, 255 * kMiB - 1, true, true, false},
      {16 * kMiB, 15 * kMiB, true, false, true},     // 1/16 missing where nothing seeks
      {16 * kMiB, 15 * kMiB - 1, true, false, false},
      {16 * kMiB, 15 * kMiB, true, true, false},     // the same on a disk that seeks
      {64 * kMiB, 64 * kMiB, false, false, false},   // the budget ran out: not known
      {100, 0, true, false, false},                  // cold
      {4096, 8192, true, true, true},                // the file grew while sampled
  };
  for (const Case& c : cases) {
    Residency r;
    r.bytes = c.bytes;
    r.resident = c.resident;
    r.complete = c.complete;
    EXPECT_EQ(ReadsFromMemory(r, c.seeks), c.fromMemory)
        << c.bytes << " bytes, " << c.resident << " held, complete " << c.complete << ", seeks " << c.seeks;
  }
}

// Told facts, keyed by a job's first source; a sample can be held until
// the test lets it finish.
class ToldFacts final : public TJobFacts {
 public:
  std::map<std::string, Residency> residency;
  std::map<std::string, SeekCost> seek;  // SeekCost::Seeks where not told, above or at a path

  Residency Sample(const std::vector<std::string>& sources) override {
    std::unique_lock lock(mutex_);
    ++samples_;
    released_.wait(lock, [this] { return !holding_; });
    const auto it = residency.find(sources.front());
    return it == residency.end() ? platform::Residency{} : it->second;
  }
  // What the path or the nearest directory above it was told.
  SeekCost SeekCostOf(const std::string& path) override {
    std::string at = path;
    for (;;) {
      const auto it = seek.find(at);
      if (it != seek.end()) return it->second;
      const size_t slash = at.find_last_of('/');
      if (slash == std::string::npos || slash == 0) return SeekCost::Seeks;
      at.resize(slash);
    }
  }
  // No job keeps a processor busy.
  unsigned Processors() override { return 4; }
  std::chrono::nanoseconds ThreadProcessorTime() override { return {}; }
  std::optional<uint64_t> ThreadStorageReads() override { return std::nullopt; }
  int Samples() {
    std::lock_guard lock(mutex_);
    return samples_;
  }
  void Hold() {
    std::lock_guard lock(mutex_);
    holding_ = true;
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      holding_ = false;
    }
    released_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool holding_ = false;
  int samples_ = 0;
};

Residency Held(uint64_t bytes, uint64_t resident, bool complete = true) {
  Residency r;
  r.bytes = bytes;
  r.resident = resident;
  r.files = 1;
  r.complete = complete;
  return r;
}

// Whether the job titled "run" has left the queue.
bool RunEnded(const TJobQueue& queue) {
  for (const auto& job : queue.Jobs())
    if (job->Title() == "run") return false;
  return true;
}

std::shared_ptr<ToldFacts> CommonFacts() {
  auto facts = std::make_shared<ToldFacts>();
  facts->residency = {{"warm", Held(1000, 1000)},
                      {"cold", Held(1000, 0)},
                      {"partly", Held(1600, 1550)},
                      {"unfinished", Held(1000, 1000, false)}};
  // Under /flash nothing seeks.
  facts->seek = {{"/flash", SeekCost::None}};
  facts->residency["/flash/partly"] = facts->residency["partly"];
  return facts;
}

// `first` and files in `count` - 1 other directories where nothing seeks.
std::vector<std::string> ManyDirectories(const std::string& first, int count) {
  std::vector<std::string> paths{first};
  for (int i = 1; i < count; ++i) paths.push_back("/flash/" + test::Numbered("d", i) + "/f");
  return paths;
}

// A second job beside a running one: whether it starts, whether its sources
// were sampled for it, and whether it says it started from memory.
TEST(JobsFromMemory, ASecondJobStartsBesideTheFirstWhenItReadsFromMemory) {
  struct Case {
    const char* what;
    std::vector<uint64_t> devices;
    std::vector<std::string> sources;
    bool withFacts;
    bool starts;
    int samples;
    bool fromMemory;
  };
  const Case cases[] = {
      {"warm", {1}, {"warm"}, true, true, 1, true},
      {"cold", {1}, {"cold"}, true, false, 1, false},
      {"no sources", {1}, {}, true, false, 0, false},
      {"partly on a seeking disk", {1}, {"partly"}, true, false, 1, false},
      {"partly where nothing seeks", {1}, {"/flash/partly", "/flash/b", "/flash/c"}, true, true, 1, true},
      {"partly, one source elsewhere", {1}, {"/flash/partly", "/disk/b"}, true, false, 1, false},
      {"partly, too many places to ask", {1}, ManyDirectories("/flash/partly", 17), true, false, 1, false},
      {"sample unfinished", {1}, {"unfinished"}, true, false, 1, false},
      {"other device", {2}, {"cold"}, true, true, 0, false},
      {"no facts", {1}, {"warm"}, false, false, 0, false},
      {"shares one of two", {2, 1}, {"warm"}, true, true, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Workers w;
    TJobQueue queue;
    const auto facts = CommonFacts();
    queue.SetFacts(c.withFacts ? facts : nullptr);
    auto a = queue.Add("a", {1}, w.Work("a"));
    ASSERT_TRUE(Eventually([&] { return w.HasStarted("a"); }));
    auto b = queue.Add("b", TJobPlaces{c.devices, c.sources}, w.Work("b"));
    if (c.starts) {
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("b"); }));
      EXPECT_EQ(a->State(), TJobState::Running);
    } else {
      EXPECT_TRUE(Eventually([&] { return facts->Samples() == c.samples; }));
      std::this_thread::sleep_for(30ms);
      EXPECT_EQ(b->State(), TJobState::Waiting);
    }
    EXPECT_EQ(facts->Samples(), c.samples);
    EXPECT_EQ(b->StartedFromMemory(), c.fromMemory);
    w.Release("a");
    w.Release("b");
    EXPECT_TRUE(queue.WaitIdle(5s));
    EXPECT_EQ(b->State(), TJobState::Finished);
  }
}

// A job behind a waiting one on its device keeps its place however warm its
// sources are (and is not sampled): it may start from memory only once that
// one runs. Moved up past it, it is sampled and starts beside the running
// job, and the cold one then waits for it too. A job added held is sampled
// only once resumed.
TEST(JobsFromMemory, TheOrderAndHeldJobsStay) {
  struct Case {
    const char* what;
    bool moveUp;     // the warm job moved ahead of the cold one
    bool addedHeld;  // the warm job added paused, resumed later
    bool warmFirst;  // it starts before the cold one (which then waits for it)
  };
  const Case cases[] = {
      {"behind a waiting job", false, false, false},
      {"moved up", true, false, true},
      {"held, then resumed", false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Workers w;
    TJobQueue queue;
    const auto facts = CommonFacts();
    queue.SetFacts(facts);
    queue.Add("run", TJobPlaces{{1}, {"cold"}}, w.Work("run"));
    ASSERT_TRUE(Eventually([&] { return w.HasStarted("run"); }));
    auto warm = c.addedHeld ? queue.Add("warm", TJobPlaces{{1}, {"warm"}}, w.Work("warm"), TJobStart::Paused)
                            : nullptr;
    auto cold = queue.Add("cold", TJobPlaces{{1}, {"cold"}}, w.Work("cold"));
    if (!warm) warm = queue.Add("warm", TJobPlaces{{1}, {"warm"}}, w.Work("warm"));
    // "cold" is sampled (only running jobs keep it), "warm" is not yet.
    ASSERT_TRUE(Eventually([&] { return facts->Samples() == 1; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(facts->Samples(), 1);
    EXPECT_EQ(w.Started(), std::vector<std::string>{"run"});
    if (c.moveUp) queue.MoveUp(warm->Id());
    if (c.addedHeld) queue.Resume(warm->Id());
    if (c.warmFirst) {
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("warm"); }));
      w.Release("run");
      ASSERT_TRUE(Eventually([&] { return RunEnded(queue); }));
      std::this_thread::sleep_for(30ms);
      EXPECT_EQ(cold->State(), TJobState::Waiting);  // "warm" holds device 1
      w.Release("warm");
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("cold"); }));
      EXPECT_EQ(w.Started(), (std::vector<std::string>{"run", "warm", "cold"}));
    } else {
      w.Release("run");
      // "cold" starts as "run" ends; "warm" beside it, not before it.
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("cold") && w.HasStarted("warm"); }));
    }
    EXPECT_TRUE(warm->StartedFromMemory());
    EXPECT_FALSE(cold->StartedFromMemory());
    for (const char* name : {"run", "warm", "cold"}) w.Release(name);
    EXPECT_TRUE(queue.WaitIdle(5s));
  }
}

// Behind a running job that started from memory, a job whose sources are on
// disk waits for it like for any other; one from memory starts beside both.
TEST(JobsFromMemory, JobsFromMemoryHoldTheirDevicesForColdOnes) {
  Workers w;
  TJobQueue queue;
  const auto facts = CommonFacts();
  queue.SetFacts(facts);
  queue.Add("first", {1}, w.Work("first"));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("first"); }));
  auto second = queue.Add("second", TJobPlaces{{1}, {"warm"}}, w.Work("second"));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("second"); }));
  auto cold = queue.Add("cold", TJobPlaces{{1}, {"cold"}}, w.Work("cold"));
  w.Release("first");
  ASSERT_TRUE(Eventually([&] { return facts->Samples() == 2; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(cold->State(), TJobState::Waiting);  // "second" still writes to device 1
  auto third = queue.Add("third", TJobPlaces{{1}, {"warm"}}, w.Work("third"));
  ASSERT_TRUE(Eventually([&] { return facts->Samples() == 2; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(third->State(), TJobState::Waiting);  // behind "cold", which waits
  w.Release("second");
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("cold"); }));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("third"); }));
  EXPECT_TRUE(third->StartedFromMemory());
  EXPECT_FALSE(cold->StartedFromMemory());
  w.Release("cold");
  w.Release("third");
  EXPECT_TRUE(queue.WaitIdle(5s));
}

// While its sources are being sampled a job can be cancelled (it never
// runs) and the queue destroyed (it waits for the sample, runs nothing).
TEST(JobsFromMemory, CancelledOrDestroyedWhileSampled) {
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destroyed" : "cancelled");
    Workers w;
    const auto facts = CommonFacts();
    facts->Hold();
    std::thread releaser;
    {
      TJobQueue queue;
      queue.SetFacts(facts);
      queue.Add("a", {1}, w.Work("a"));
      ASSERT_TRUE(Eventually([&] { return w.HasStarted("a"); }));
      auto b = queue.Add("b", TJobPlaces{{1}, {"warm"}}, w.Work("b"));
      ASSERT_TRUE(Eventually([&] { return facts->Samples() == 1; }));
      if (!destroy) {
        queue.Cancel(b->Id());
        EXPECT_EQ(b->State(), TJobState::Cancelled);
        EXPECT_FALSE(queue.WaitIdle(50ms));  // "a" runs, the sample is held
        facts->Release();
        w.Release("a");
        EXPECT_TRUE(queue.WaitIdle(5s));
      } else {
        releaser = std::thread([&] {
          std::this_thread::sleep_for(50ms);
          facts->Release();
        });
      }
    }
    if (releaser.joinable()) releaser.join();
    EXPECT_EQ(w.Started(), std::vector<std::string>{"a"});
  }
}

// The system's answers: a copy of a tree just written and read starts beside
// a job on its device; once its pages are dropped (where that can be seen)
// the next one waits.
TEST(JobsFromMemory, ATreeJustWrittenAndReadStartsBeside) {
  test::TempDir tmp;
  const std::string src = tmp / "src", dst = tmp / "dst";
  test::MakeDir(src);
  test::MakeDir(dst);
  for (int i = 0; i < 4; ++i) test::WriteFile(src + "/" + test::Numbered("f", i), std::string(300000, 'a' + i));
  ::sync();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(test::ReadFile(src + "/" + test::Numbered("f", i)).size(), 300000u);
  Workers w;
  TJobQueue queue;
  const TJobPlaces places{DevicesOf({src, dst}), {src}};
  ASSERT_FALSE(places.devices.empty());
  queue.Add("a", places.devices, w.Work("a"));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("a"); }));
  auto warm = queue.Add("warm", places, w.Work("warm"));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("warm"); }));
  EXPECT_TRUE(warm->StartedFromMemory());
  struct statfs fs {};
  const bool tmpfs = ::statfs(src.c_str(), &fs) == 0 && fs.f_type == 0x01021994;
  if (!tmpfs) {
    for (int i = 0; i < 4; ++i) {
      const int fd = ::open((src + "/" + test::Numbered("f", i)).c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      ::close(fd);
    }
    if (platform::SampleResidency({src}).resident == 0) {
      auto cold = queue.Add("cold", places, w.Work("cold"));
      std::this_thread::sleep_for(100ms);
      EXPECT_EQ(cold->State(), TJobState::Waiting);
      w.Release("a");
      w.Release("warm");
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("cold"); }));
      EXPECT_FALSE(cold->StartedFromMemory());
    }
  }
  w.Release("a");
  w.Release("warm");
  w.Release("cold");
  EXPECT_TRUE(queue.WaitIdle(5s));
}

}  // namespace
}  // namespace vantrel::fileops::testing
