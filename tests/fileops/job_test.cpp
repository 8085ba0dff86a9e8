// Jobs on worker threads: the queue's device rule and order, held and
// cancelled jobs, pause and cancel inside a large file, questions answered on
// another thread, and the speed meter. Runs under ThreadSanitizer too.
#include "fileops/job.h"

#include <atomic>
#include <csignal>
#include <map>
#include <deque>
#include <set>
#include <thread>

#include "fileops/source_copy.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/vfs/vfs_helpers.h"
#include "vfs/local_source.h"
#include "vfs/zip_source.h"
#include "tests/fileops/job_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::WriteFile;

std::vector<std::string> Titles(const TJobQueue& queue) {
  std::vector<std::string> titles;
  for (const auto& job : queue.Jobs()) titles.push_back(job->Title());
  return titles;
}

// Whether a second job runs beside the first one, by their devices.
TEST(JobQueue, JobsOnOneDeviceWaitJobsOnOthersRunAtOnce) {
  struct Case {
    std::vector<uint64_t> first, second;
    bool sameDeviceWaits;
    bool together;
  };
  const Case cases[] = {
      {{1}, {1}, true, false},        // one disk: one after the other
      {{1}, {2}, true, true},         // two disks: at once
      {{1, 2}, {3, 2}, true, false},  // the first's destination is the second's source
      {{1}, {1}, false, true},        // the rule switched off
      {{}, {}, true, true},           // devices unknown: nothing to wait for
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.first.size() << "/" << c.second.size() << " together "
                                      << c.together);
    Workers w;
    TJobQueue queue;
    queue.SetSameDeviceWaits(c.sameDeviceWaits);
    auto a = queue.Add("a", c.first, w.Work("a"));
    ASSERT_TRUE(Eventually([&] { return w.HasStarted("a"); }));
    auto b = queue.Add("b", c.second, w.Work("b"));
    if (c.together) {
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("b"); }));
      EXPECT_EQ(a->State(), TJobState::Running);
    } else {
      std::this_thread::sleep_for(50ms);
      EXPECT_FALSE(w.HasStarted("b"));
      EXPECT_EQ(b->State(), TJobState::Waiting);
      w.Release("a");
      EXPECT_TRUE(Eventually([&] { return w.HasStarted("b"); }));
      EXPECT_EQ(a->State(), TJobState::Finished);
    }
    w.Release("a");
    w.Release("b");
    EXPECT_TRUE(queue.WaitIdle(5s));
    EXPECT_EQ(b->State(), TJobState::Finished);
  }
}

// Waiting jobs start in queue order, which Move up and Move down change; a
// move past the running job changes nothing for it.
TEST(JobQueue, MoveUpAndDownDecideWhichWaitingJobStartsNext) {
  struct Case {
    std::vector<std::pair<std::string, int>> moves;  // job, -1 up or +1 down
    std::vector<std::string> order;                   // the queue after the moves
  };
  const Case cases[] = {
      {{}, {"a", "b", "c", "d"}},
      {{{"d", -1}}, {"a", "b", "d", "c"}},
      {{{"d", -1}, {"b", +1}}, {"a", "d", "b", "c"}},
      {{{"c", -1}, {"c", -1}}, {"c", "a", "b", "d"}},  // ahead of the running one
      {{{"d", +1}, {"a", -1}}, {"a", "b", "c", "d"}},  // at the ends: no move
  };
  for (const Case& c : cases) {
    Workers w;
    TJobQueue queue;
    std::map<std::string, int> ids;
    for (const char* name : {"a", "b", "c", "d"}) ids[name] = queue.Add(name, {7}, w.Work(name))->Id();
    ASSERT_TRUE(Eventually([&] { return w.HasStarted("a"); }));
    for (const auto& [name, step] : c.moves) step < 0 ? queue.MoveUp(ids[name]) : queue.MoveDown(ids[name]);
    EXPECT_EQ(Titles(queue), c.order);
    // One at a time, each released as soon as it runs.
    for (size_t n = 1; n <= 4; ++n) {
      ASSERT_TRUE(Eventually([&] { return w.Started().size() == n; }));
      w.Release(w.Started().back());
    }
    std::vector<std::string> expected = c.order;
    std::erase(expected, "a");
    expected.insert(expected.begin(), "a");
    EXPECT_EQ(w.Started(), expected);
    EXPECT_TRUE(queue.WaitIdle(5s));
  }
}

// A job added paused is held: it does not start, and it keeps no later job
// on its device waiting; resumed, it waits for its turn like any other.
TEST(JobQueue, HeldJobsStartOnlyWhenResumed) {
  Workers w;
  TJobQueue queue;
  auto held = queue.Add("held", {3}, w.Work("held"), TJobStart::Paused);
  auto next = queue.Add("next", {3}, w.Work("next"));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("next"); }));
  EXPECT_EQ(held->State(), TJobState::Held);
  queue.Resume(held->Id());
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(held->State(), TJobState::Waiting);  // "next" holds device 3
  w.Release("next");
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("held"); }));
  // Pausing a waiting job holds it again.
  auto third = queue.Add("third", {3}, w.Work("third"));
  queue.Pause(third->Id());
  EXPECT_EQ(third->State(), TJobState::Held);
  w.Release("held");
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(w.HasStarted("third"));
  queue.Cancel(third->Id());
  EXPECT_TRUE(queue.WaitIdle(5s));
  EXPECT_EQ(w.Started(), (std::vector<std::string>{"next", "held"}));
}

// A job cancelled before it started never runs, is ended at once and
// reported once; a running one ends at its next gate.
TEST(JobQueue, CancelledJobsEndAndAreReportedOnce) {
  Workers w;
  TJobQueue queue;
  std::mutex m;
  std::vector<std::pair<std::string, TJobState>> ended;
  queue.OnEnded = [&](TJob& job) {
    std::lock_guard lock(m);
    ended.emplace_back(job.Title(), job.State());
  };
  auto running = queue.Add("running", {5}, w.Work("running"));
  auto waiting = queue.Add("waiting", {5}, w.Work("waiting"));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("running"); }));
  queue.Cancel(waiting->Id());
  EXPECT_EQ(waiting->State(), TJobState::Cancelled);
  EXPECT_EQ(Titles(queue), std::vector<std::string>{"running"});
  queue.Cancel(running->Id());
  EXPECT_TRUE(queue.WaitIdle(5s));
  EXPECT_EQ(w.Started(), std::vector<std::string>{"running"});
  std::lock_guard lock(m);
  EXPECT_EQ(ended, (std::vector<std::pair<std::string, TJobState>>{{"waiting", TJobState::Cancelled},
                                                                  {"running", TJobState::Cancelled}}));
}

// Destroying the queue cancels what runs (also a job paused at its gate) and
// waits for it; jobs that never started do not run.
TEST(JobQueue, DestroyingTheQueueEndsItsJobs) {
  Workers w;
  {
    TJobQueue queue;
    auto paused = queue.Add("paused", {1}, w.Work("paused"));
    queue.Add("later", {1}, w.Work("later"));
    ASSERT_TRUE(Eventually([&] { return w.HasStarted("paused"); }));
    queue.Pause(paused->Id());
    EXPECT_EQ(paused->State(), TJobState::Paused);
  }
  EXPECT_EQ(w.Started(), std::vector<std::string>{"paused"});
}

// A pause is only heard at the work's next check: AtGate tells when the work
// stands there, which a test waits for instead of a guessed time.
TEST(JobQueue, AtGateOnlyWhilePausedWorkStandsInPass) {
  Workers w;
  TJobQueue queue;
  auto job = queue.Add("job", {1}, w.Work("job"));
  ASSERT_TRUE(Eventually([&] { return w.HasStarted("job"); }));
  EXPECT_FALSE(job->AtGate());
  for (int round = 0; round < 3; ++round) {
    queue.Pause(job->Id());
    ASSERT_TRUE(Eventually([&] { return job->AtGate(); }));
    EXPECT_EQ(job->State(), TJobState::Paused);
    queue.Resume(job->Id());
    ASSERT_TRUE(Eventually([&] { return !job->AtGate(); }));
    EXPECT_EQ(job->State(), TJobState::Running);
  }
  queue.Pause(job->Id());
  ASSERT_TRUE(Eventually([&] { return job->AtGate(); }));
  queue.Cancel(job->Id());
  EXPECT_FALSE(job->AtGate());  // cancelled: the gate lets it through
  EXPECT_TRUE(queue.WaitIdle(5s));
  EXPECT_EQ(job->State(), TJobState::Cancelled);
}

// A copy job paused inside a large file stops between two blocks and copies
// nothing more while paused; resumed it finishes the file, cancelled it
// ends there, leaving the file it had finished and nothing of the large one.
TEST(CopyJob, PauseAndCancelInsideALargeFile) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel);
    test::TempDir tmp;
    const std::string src = tmp / "src", dst = tmp / "dst";
    test::MakeDir(src);
    test::MakeDir(dst);
    const std::string big = PatternBytes(8 * 1024 * 1024, 3);
    WriteFile(src + "/a", "first");
    WriteFile(src + "/big", big);
    TJobQueue queue;
    std::atomic<bool> pausedInside{false};
    std::shared_ptr<TJob> job;
    std::atomic<int> jobId{0};
    job = queue.Add("copy", DevicesOf({src, dst}), [&](TJob& self) {
      TFMOperation engine;
      self.Attach(engine);
      engine.ProgressInterval = 0ms;
      auto publish = engine.OnGlobalDone;
      engine.OnGlobalDone = [&](TFMOperation& e, int percent) {
        publish(e, percent);
        // The first block of the large file is written: pause from here.
        if (e.CurrentItem() == "big" && e.ShownDone() > 5 && !pausedInside.exchange(true))
          queue.Pause(jobId.load());
      };
      engine.CopyFiles({"a", "big"}, src, dst);
    }, TJobStart::Paused);
    jobId = job->Id();
    queue.Resume(job->Id());
    ASSERT_TRUE(Eventually([&] { return job->AtGate(); }));
    EXPECT_EQ(job->State(), TJobState::Paused);
    const double at = job->Progress().bytesDone;
    std::this_thread::sleep_for(100ms);
    const TJobProgress still = job->Progress();
    EXPECT_EQ(still.bytesDone, at);
    EXPECT_GT(at, 5.0);
    EXPECT_LT(at, 5.0 + big.size());
    EXPECT_EQ(still.item, "big");
    EXPECT_EQ(ReadFile(dst + "/a"), "first");
    EXPECT_FALSE(Exists(dst + "/big"));
    EXPECT_TRUE(TemporaryFiles(dst).empty());
    const auto asked = std::chrono::steady_clock::now();
    if (cancel)
      queue.Cancel(job->Id());
    else
      queue.Resume(job->Id());
    ASSERT_TRUE(queue.WaitIdle(10s));
    if (cancel) {
      // Heard at the gate, not after the file: no hang, no copy of it.
      EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
      EXPECT_EQ(job->State(), TJobState::Cancelled);
      EXPECT_FALSE(Exists(dst + "/big"));
    } else {
      EXPECT_EQ(job->State(), TJobState::Finished);
      EXPECT_TRUE(ReadFile(dst + "/big") == big);
      const TJobProgress end = job->Progress();
      EXPECT_EQ(std::make_pair(end.itemsDone, end.itemsTotal), std::make_pair(uint64_t{2}, uint64_t{2}));
      EXPECT_EQ(end.bytesDone, end.bytesTotal);
    }
    EXPECT_EQ(ReadFile(dst + "/a"), "first");
    EXPECT_TRUE(TemporaryFiles(dst).empty());
  }
}

// The engine's questions from the job's thread, answered on another thread:
// the answer reaches the engine and does what it says.
TEST(CopyJob, QuestionsAreAnsweredOnTheAnsweringThread) {
  struct Case {
    TOverwriteAnswer answer;
    std::string x;          // what "x" holds afterwards
    bool yCopied;           // the next file
    TJobState state;
  };
  const Case cases[] = {
      {TOverwriteAnswer::Yes, "new x", true, TJobState::Finished},
      {TOverwriteAnswer::No, "old x", true, TJobState::Finished},
      {TOverwriteAnswer::Cancel, "old x", false, TJobState::Finished},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    test::TempDir tmp;
    const std::string src = tmp / "src", dst = tmp / "dst";
    test::MakeDir(src);
    test::MakeDir(dst);
    WriteFile(src + "/x", "new x");
    WriteFile(src + "/y", "y");
    WriteFile(dst + "/x", "old x");
    ScriptedPrompt answers;
    answers.overwriteAnswers = {c.answer};
    std::thread::id askedOn, workedOn;
    answers.onMessage = [] {};
    AnswerThread gui;
    // Recorded on the answering thread through the question's own call.
    struct Spy final : TFMPrompt {
      ScriptedPrompt& inner;
      std::thread::id& on;
      Spy(ScriptedPrompt& i, std::thread::id& o) : inner(i), on(o) {}
      TOverwriteAnswer AskOverwrite(const std::string& item, const std::string& text) override {
        on = std::this_thread::get_id();
        return inner.AskOverwrite(item, text);
      }
      bool AskAbort(const std::string& text) override { return inner.AskAbort(text); }
      TMessageAnswer ShowMessage(const TFMMessage& m) override { return inner.ShowMessage(m); }
    } spy(answers, askedOn);
    {
      TJobQueue queue;
      auto job = queue.Add("copy", {}, [&](TJob& self) {
        workedOn = std::this_thread::get_id();
        TFMOperation engine;
        self.Attach(engine);
        TJobPrompt bridge(self, spy, gui.Poster());
        engine.SetPrompt(&bridge);
        engine.CopyFiles({"x", "y"}, src, dst);
      });
      ASSERT_TRUE(queue.WaitIdle(10s));
      EXPECT_EQ(job->State(), c.state);
    }
    EXPECT_EQ(answers.log, std::vector<std::string>{"?Overwrite file x?"});
    EXPECT_EQ(askedOn, gui.Id());
    EXPECT_NE(workedOn, gui.Id());
    EXPECT_EQ(ReadFile(dst + "/x"), c.x);
    EXPECT_EQ(Exists(dst + "/y"), c.yCopied);
  }
}

// Cancelled while a question waits for its answer: the job stops waiting at
// once, takes it as Cancel, and the question that nobody showed yet is never
// shown.
TEST(CopyJob, CancelWhileAQuestionWaits) {
  test::TempDir tmp;
  const std::string src = tmp / "src", dst = tmp / "dst";
  test::MakeDir(src);
  test::MakeDir(dst);
  WriteFile(src + "/x", "new");
  WriteFile(src + "/y", "y");
  WriteFile(dst + "/x", "old");
  ScriptedPrompt answers;
  std::mutex m;
  std::vector<std::function<void()>> unshown;
  TJobPrompt::TPost keep = [&](std::function<void()> call) {
    std::lock_guard lock(m);
    unshown.push_back(std::move(call));
  };
  TJobQueue queue;
  auto job = queue.Add("copy", {}, [&](TJob& self) {
    TFMOperation engine;
    self.Attach(engine);
    TJobPrompt bridge(self, answers, keep);
    engine.SetPrompt(&bridge);
    engine.CopyFiles({"x", "y"}, src, dst);
  });
  ASSERT_TRUE(Eventually([&] { return job->Progress().asking; }));
  queue.Cancel(job->Id());
  ASSERT_TRUE(queue.WaitIdle(5s));
  EXPECT_EQ(job->State(), TJobState::Cancelled);
  EXPECT_FALSE(job->Progress().asking);
  std::vector<std::function<void()>> calls;
  {
    std::lock_guard lock(m);
    calls.swap(unshown);
  }
  ASSERT_EQ(calls.size(), 1u);
  calls.front()();  // the window gets to it late
  EXPECT_TRUE(answers.log.empty());
  EXPECT_EQ(ReadFile(dst + "/x"), "old");
  EXPECT_FALSE(Exists(dst + "/y"));
}

// The copy between sources as a job: its overwrite question crosses to the
// answering thread, its progress reaches the job, and a cancel heard inside
// the archive's rewrite leaves the archive byte for byte.
TEST(CopyJob, SourceCopyIntoAnArchiveAsAJob) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel);
    test::TempDir tmp;
    const std::string src = tmp / "src", zipPath = tmp / "a.zip";
    test::MakeDir(src);
    WriteFile(src + "/x", "new x");
    WriteFile(src + "/big", PatternBytes(2 * 1024 * 1024, 5));
    test::MakeZip(zipPath, {{"x", "old x"}, {"keep", "kept", true}});
    const std::string pristine = ReadFile(zipPath);
    ScriptedPrompt answers;
    answers.overwriteAnswers = {TOverwriteAnswer::Yes};
    AnswerThread gui;
    std::atomic<int> jobId{0};
    std::atomic<bool> cancelled{false};
    std::thread canceller;
    {
      TJobQueue queue;
      auto job = queue.Add("copy in", DevicesOf({src, zipPath}), [&](TJob& self) {
        vfs::TError err;
        auto zip = vfs::TZipSource::Load(zipPath, zipPath, nullptr, &err);
        ASSERT_TRUE(zip) << err.text;
        vfs::TLocalSource local(src);
        TSourceCopy copy;
        copy.SetGate(&self);
        TJobPrompt bridge(self, answers, gui.Poster());
        copy.SetPrompt(&bridge);
        copy.ProgressInterval = 0ms;
        copy.OnGlobalDone = [&](TSourceCopy& c, int percent) {
          self.SetProgress(c.Done(), c.Total(), c.ItemsDone(), c.ItemCount(), c.CurrentItem());
          // Inside the rewrite: the job is cancelled from another thread.
          if (cancel && percent > 10 && percent < 90 && !cancelled.exchange(true))
            canceller = std::thread([&queue, &jobId] { queue.Cancel(jobId.load()); });
        };
        copy.Copy({"big", "x"}, local, "", *zip, "");
      }, TJobStart::Paused);
      jobId = job->Id();
      queue.Resume(job->Id());
      const bool idle = queue.WaitIdle(120s);  // ThreadSanitizer is slow
      if (canceller.joinable()) canceller.join();
      ASSERT_TRUE(idle);
      EXPECT_EQ(job->State(), cancel ? TJobState::Cancelled : TJobState::Finished);
      if (!cancel) { EXPECT_EQ(job->Progress().itemsDone, job->Progress().itemsTotal); }
    }
    EXPECT_EQ(answers.log, std::vector<std::string>{"?Overwrite file x?"});
    vfs::TError err;
    auto after = vfs::TZipSource::Load(zipPath, zipPath, nullptr, &err);
    ASSERT_TRUE(after) << err.text;
    if (cancel) {
      EXPECT_TRUE(cancelled.load());
      EXPECT_TRUE(ReadFile(zipPath) == pristine);
    } else {
      EXPECT_EQ(test::ReadAll(*after, "x"), "new x");
      EXPECT_EQ(test::ReadAll(*after, "keep"), "kept");
      EXPECT_EQ(test::ReadAll(*after, "big").size(), 2u * 1024 * 1024);
    }
    EXPECT_EQ(Snapshot(tmp.path(), false).size(), 4u);  // src, its two files, a.zip: nothing left beside
  }
}

// A move job killed at any moment loses nothing: every file is whole at its
// source or whole at its destination (a source goes only after its copy is
// complete), and no destination name holds part of a file.
TEST(CopyJob, AMoveKilledAtAnyMomentLosesNothing) {
#if defined(__SANITIZE_THREAD__)
  const int killAfter[] = {4, 60, 1000000};  // fewer rounds: the sanitizer makes each slow
#else
  const int killAfter[] = {1, 4, 12, 30, 60, 100, 1000000};  // progress events before the kill
#endif
  for (const int events : killAfter) {
    SCOPED_TRACE(events);
    test::TempDir tmp;
    const std::string src = tmp / "src", dst = tmp / "dst";
    test::MakeDir(src + "/tree/deeper");
    test::MakeDir(dst);
    std::map<std::string, std::string> files;
    for (int i = 0; i < 6; ++i) {
      std::string rel = i < 2 ? "" : i < 4 ? "tree/" : "tree/deeper/";
      rel += 'f' + std::to_string(i);
      files[rel] = PatternBytes((i + 1) * 1024 * 1024 + 17, i + 1);
      WriteFile(src + "/" + rel, files[rel]);
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(ready[0]);
      TJobQueue queue;
      queue.Add("move", {}, [&](TJob& self) {
        TFMOperation engine;
        self.Attach(engine);
        engine.ProgressInterval = 0ms;
        auto publish = engine.OnGlobalDone;
        engine.OnGlobalDone = [&](TFMOperation& e, int percent) {
          publish(e, percent);
          (void)!::write(ready[1], "x", 1);
        };
        engine.MoveFiles({"f0", "f1", "tree"}, src, dst);
      });
      queue.WaitIdle(60s);
      ::_exit(0);
    }
    ::close(ready[1]);
    char c;
    int seen = 0;
    while (seen < events && ::read(ready[0], &c, 1) == 1) ++seen;
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(ready[0]);
    for (const auto& [rel, bytes] : files) {
      SCOPED_TRACE(rel);
      const bool atSource = Exists(src + "/" + rel), atDest = Exists(dst + "/" + rel);
      EXPECT_TRUE(atSource || atDest);
      if (atSource) { EXPECT_TRUE(ReadFile(src + "/" + rel) == bytes); }
      if (atDest) { EXPECT_TRUE(ReadFile(dst + "/" + rel) == bytes); }
    }
    EXPECT_TRUE(TemporaryFiles(dst).empty());
  }
}

// Speed over the running time of a pass: paused time does not count; a pass
// that starts from nothing again starts the clock again.
TEST(SpeedMeter, SpeedAndTimeLeft) {
  using Clock = TSpeedMeter::Clock;
  struct Step {
    char what;  // 'u' update, 'p' pause, 'r' resume
    int ms;     // since the start
    double bytes;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    int atMs;
    double speed;     // bytes per second
    double left;      // seconds, for a total of 10,000 bytes
  };
  const Case cases[] = {
      {"too early", {{'u', 0, 0}, {'u', 400, 4000}}, 400, 0, -1},
      {"steady", {{'u', 0, 0}, {'u', 1000, 2000}}, 1000, 2000, 4},
      {"paused a second", {{'u', 0, 0}, {'u', 1000, 2000}, {'p', 1000, 0}, {'r', 2000, 0}}, 2000, 2000, 4},
      {"while paused", {{'u', 0, 0}, {'u', 1000, 2000}, {'p', 1000, 0}}, 5000, 2000, 4},
      {"second pass", {{'u', 0, 0}, {'u', 1000, 10000}, {'u', 1000, 0}, {'u', 2000, 5000}}, 2000, 5000, 1},
      {"nothing done", {{'u', 0, 0}}, 3000, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSpeedMeter meter;
    const Clock::time_point t0{};
    for (const Step& s : c.steps) {
      const auto at = t0 + std::chrono::milliseconds(s.ms);
      if (s.what == 'u') meter.Update(s.bytes, at);
      if (s.what == 'p') meter.Pause(at);
      if (s.what == 'r') meter.Resume(at);
    }
    const auto now = t0 + std::chrono::milliseconds(c.atMs);
    EXPECT_DOUBLE_EQ(meter.Speed(now), c.speed);
    EXPECT_DOUBLE_EQ(meter.SecondsLeft(10000, now), c.left);
  }
}

// The device of a path as the kernel resolves it, each once: a file's own,
// and for a path still to be made the one of the directory it would be made
// in; an empty path adds none.
TEST(JobDevices, DevicesOfPaths) {
  test::TempDir tmp;
  test::MakeDir(tmp / "d");
  WriteFile(tmp / "f", "f");
  const auto one = DevicesOf({tmp.path()});
  ASSERT_EQ(one.size(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat("/proc/self", &st), 0);
  const std::vector<uint64_t> proc{static_cast<uint64_t>(st.st_dev)};
  const struct {
    std::vector<std::string> paths;
    std::vector<uint64_t> devices;
  } cases[] = {
      {{tmp / "d"}, one},
      {{tmp / "f"}, one},                    // a file
      {{tmp / "missing"}, one},              // to be made in tmp
      {{tmp / "missing/deeper/still"}, one},
      {{tmp / "f/below"}, one},              // below a file: the file's
      {{tmp.path(), tmp / "d", tmp / "f", tmp / "missing"}, one},
      {{"/proc/self/status"}, proc},
      {{"/proc/self/not-there"}, proc},
      {{""}, {}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.paths.empty() ? std::string("(none)") : c.paths.front());
    EXPECT_EQ(DevicesOf(c.paths), c.devices);
  }
  const auto two = DevicesOf({tmp.path(), "/proc/self"});
  EXPECT_EQ(two.size(), one.front() == proc.front() ? 1u : 2u);
}

// Sources in memory by the facts' word, and what was asked.
class AllInMemory final : public TJobFacts {
 public:
  platform::Residency Sample(const std::vector<std::string>& sources) override {
    std::lock_guard lock(mutex_);
    sampled_ = sources;
    platform::Residency r;
    r.bytes = r.resident = 4096;
    r.files = 1;
    return r;
  }
  platform::SeekCost SeekCostOf(const std::string&) override { return platform::SeekCost::Seeks; }
  unsigned Processors() override { return 1; }
  std::chrono::nanoseconds ThreadProcessorTime() override { return {}; }
  std::optional<uint64_t> ThreadStorageReads() override { return std::nullopt; }
  std::vector<std::string> Sampled() {
    std::lock_guard lock(mutex_);
    return sampled_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> sampled_;
};

// Pack and unpack jobs wait for a running job on any device they read or
// write: the archive file's, the destination's (made or still to be made),
// each marked entry's (a mount point below the directory packed), and run
// beside a job on none of them. With their sources in memory they run
// beside it anyway, the sources being the archive (unpack) or the marked
// entries and the archive (pack).
TEST(JobQueue, PackAndUnpackJobsWaitForTheDevicesOfTheirFiles) {
  test::TempDir tmp;
  test::MakeDir(tmp / "src");
  WriteFile(tmp / "src/a.txt", "a");
  WriteFile(tmp / "a.zip", "PK");
  test::MakeDir(tmp / "out");
  const std::string disk = tmp.path(), proc = "/proc/self";
  if (DevicesOf({disk}) == DevicesOf({proc})) GTEST_SKIP() << "no second device to tell apart";
  const struct {
    const char* what;
    TJobPaths paths;
    std::string blocker;  // a path on the running job's device
    bool waits;
    std::vector<std::string> sources;
  } cases[] = {
      {"unpack into a directory", UnpackPaths(tmp / "a.zip", tmp / "out"), disk, true, {tmp / "a.zip"}},
      {"unpack into a new directory", UnpackPaths("/proc/self/status", tmp / "new/deeper"), disk, true,
       {"/proc/self/status"}},
      {"unpack from an archive on the disk", UnpackPaths(tmp / "a.zip", "/proc/self/new"), disk, true,
       {tmp / "a.zip"}},
      {"unpack on other devices", UnpackPaths(tmp / "a.zip", tmp / "out"), proc, false, {tmp / "a.zip"}},
      {"pack into a new archive", PackPaths("/proc/self", {"status"}, tmp / "new.zip"), disk, true,
       {"/proc/self/status", tmp / "new.zip"}},
      {"pack from the disk", PackPaths(tmp / "src", {"a.txt"}, "/proc/self/new.zip"), disk, true,
       {tmp / "src/a.txt", "/proc/self/new.zip"}},
      {"pack a mount point", PackPaths("/", {"proc"}, tmp / "new.zip"), proc, true, {"/proc", tmp / "new.zip"}},
      {"pack on other devices", PackPaths(tmp / "src", {"a.txt"}, tmp / "a.zip"), proc, false,
       {tmp / "src/a.txt", tmp / "a.zip"}},
  };
  for (const auto& c : cases) {
    for (const bool inMemory : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.what << (inMemory ? ", sources in memory" : ""));
      Workers w;
      TJobQueue queue;
      auto facts = std::make_shared<AllInMemory>();
      queue.SetFacts(inMemory ? facts : nullptr);
      queue.Add("running", DevicesOf({c.blocker}), w.Work("running"));
      ASSERT_TRUE(Eventually([&] { return w.HasStarted("running"); }));
      auto job = queue.Add("job", TJobPlaces{DevicesOf(c.paths.places), c.paths.sources}, w.Work("job"));
      if (!c.waits || inMemory) {
        EXPECT_TRUE(Eventually([&] { return w.HasStarted("job"); }));
        if (c.waits) {
          EXPECT_EQ(facts->Sampled(), c.sources);
        }
      } else {
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(job->State(), TJobState::Waiting);
      }
      w.Release("running");
      w.Release("job");
      EXPECT_TRUE(queue.WaitIdle(5s));
    }
  }
}

}  // namespace
}  // namespace vantrel::fileops::testing
