// The ZIP engine as a job: pause and cancel heard inside a large file while
// packing and extracting (nothing partial left: no new archive, the old one as
// it was, no half-extracted file), and its questions answered on another
// thread, also when the job is cancelled while one waits. Runs under
// ThreadSanitizer too.
#include "fileops/zip_job.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/fileops/fileops_helpers.h"
#include "tests/fileops/job_helpers.h"
#include "zip/zip_writer.h"

namespace vantrel::fileops::testing {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::WriteFile;

#if defined(__SANITIZE_THREAD__)
constexpr auto kCancelLimit = 1000ms;  // the sanitizer slows every step
constexpr size_t kLarge = 8u << 20;    // and makes smaller files last as long
#else
constexpr auto kCancelLimit = 100ms;
constexpr size_t kLarge = 48u << 20;
#endif

// Bytes that deflate cannot shrink, so that packing them takes a while.
std::string NoiseBytes(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// Packs `names` of `root` into `archive` on this thread.
void Pack(const std::string& archive, const std::string& root, const std::vector<std::string>& names,
          int level) {
  zip::TZipWriter w;
  w.SetZipName(archive);
  w.SetRootDir(root);
  w.SetRelativePaths(true);
  w.PackLevel = level;
  w.SetFilesList(names);
  w.Zip();
}

// Answers the engine's questions from a script and records on which thread
// each came.
class ScriptedZipUi final : public zip::TZipUserInterface {
 public:
  std::deque<zip::TOverwriteAnswer> overwrite;
  std::vector<std::string> asked;
  std::set<std::thread::id> threads;
  zip::TOverwriteAnswer AskOverwrite(const std::string& text, const std::string&, const zip::TOverwriteFacts&,
                                     const zip::TOverwriteFacts&) override {
    asked.push_back(text);
    threads.insert(std::this_thread::get_id());
    if (overwrite.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return zip::TOverwriteAnswer::Cancel;
    }
    const auto answer = overwrite.front();
    overwrite.pop_front();
    return answer;
  }
  bool AskYesNo(const std::string& text, const std::string&) override {
    asked.push_back(text);
    return false;
  }
};

// A job running one engine run through TZipJobInterface. `prepare` sets the
// writer up (before the interface attaches to it), `run` runs it; an
// exception of the run ends up in `error`.
struct ZipJobRun {
  std::string error;
  // When the run returned (its workers joined, its temporary file gone).
  std::chrono::steady_clock::time_point ended;
  std::shared_ptr<TJob> Start(TJobQueue& queue, zip::TZipUserInterface& answerer, TJobPrompt::TPost post,
                              std::function<void(zip::TZipWriter&)> prepare,
                              std::function<void(zip::TZipWriter&)> run) {
    return queue.Add("zip", {}, [this, &answerer, post, prepare, run](TJob& self) {
      TZipJobInterface ui(self, answerer, post);
      zip::TZipWriter w(&ui);
      if (prepare) prepare(w);
      ui.Attach(w);
      try {
        run(w);
      } catch (const std::exception& e) {
        error = e.what();
      }
      ended = std::chrono::steady_clock::now();
    });
  }
};

// A pack to be cancelled, with what it must leave as it found: when
// `existing`, an archive made beforehand (from a file "old" written into
// `oldDir`) and read back byte for byte; the names in `out` before the run.
// Its answers, their thread, the queue and the run live as long as it does.
struct CancelledPack {
  CancelledPack(std::string archive, std::string out, const std::string& oldDir, bool existing)
      : archive(std::move(archive)), out(std::move(out)), existing(existing) {
    if (existing) {
      WriteFile(oldDir + "/old", "old entry");
      Pack(this->archive, oldDir, {"old"}, 6);
      before = ReadFile(this->archive);
    }
    namesBefore = Names(this->out);
  }
  // Runs `pack` as a job of the queue.
  std::shared_ptr<TJob> Start(std::function<void(zip::TZipWriter&)> pack) {
    return run.Start(queue, answers, gui.Poster(), nullptr, std::move(pack));
  }
  // Once the queue is idle: the job was cancelled by the engine's own
  // cancel, nothing new is in `out`, the old archive is as it was, and
  // nothing was asked.
  void ExpectNothingPartial(const TJob& job) const {
    EXPECT_EQ(job.State(), TJobState::Cancelled);
    EXPECT_FALSE(run.error.empty());
    EXPECT_EQ(Names(out), namesBefore);
    if (existing) { EXPECT_TRUE(ReadFile(archive) == before); }
    EXPECT_TRUE(answers.asked.empty());
  }

  const std::string archive, out;
  const bool existing;
  std::string before;
  std::set<std::string> namesBefore;
  ScriptedZipUi answers;
  AnswerThread gui;
  TJobQueue queue;
  ZipJobRun run;
};

// Packing paused inside a large file stands still; cancelled there (paused
// or running) it ends within a tenth of a second and leaves no new archive,
// or the old archive byte for byte as it was, and no temporary file.
TEST(ZipJob, PackCancelledInsideALargeFileLeavesNothingPartial) {
  struct Case {
    bool existing;     // an archive is updated, not made
    bool pauseFirst;   // cancelled while paused, not while running
  };
  const Case cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "existing " << c.existing << " paused " << c.pauseFirst);
    test::TempDir tmp;
    const std::string src = tmp / "src", out = tmp / "out", archive = out + "/a.zip";
    test::MakeDir(src);
    test::MakeDir(out);
    WriteFile(src + "/small", "small");
    WriteFile(src + "/big", NoiseBytes(kLarge, 7));
    CancelledPack pack(archive, out, src, c.existing);
    TJobQueue& queue = pack.queue;
    auto job = pack.Start([&](zip::TZipWriter& w) {
      w.SetZipName(archive);
      w.SetRootDir(src);
      w.SetRelativePaths(true);
      w.PackLevel = 9;
      w.SetFilesList({"small", "big"});
      w.Zip();
    });
    ASSERT_TRUE(Eventually([&] {
      const TJobProgress p = job->Progress();
      return p.item == "big" && p.bytesDone > 5;
    }));
    if (c.pauseFirst) {
      queue.Pause(job->Id());
      ASSERT_TRUE(Eventually([&] { return job->AtGate(); }));
      const double at = job->Progress().bytesDone;
      std::this_thread::sleep_for(100ms);
      EXPECT_EQ(job->Progress().bytesDone, at);
      EXPECT_LT(at, job->Progress().bytesTotal);
    }
    const auto asked = std::chrono::steady_clock::now();
    queue.Cancel(job->Id());
    ASSERT_TRUE(queue.WaitIdle(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, kCancelLimit);
    pack.ExpectNothingPartial(*job);
  }
}

// Extraction paused inside a large entry writes nothing more; cancelled, it
// keeps the entry it had finished and leaves nothing of the large one.
TEST(ZipJob, ExtractionCancelledInsideALargeEntryLeavesNoPartialFile) {
  test::TempDir tmp;
  const std::string src = tmp / "src", dest = tmp / "dest", archive = tmp / "a.zip";
  test::MakeDir(src);
  test::MakeDir(dest);
  WriteFile(src + "/a", "first");
  WriteFile(src + "/big", NoiseBytes(kLarge * 4 / 3, 3));
  Pack(archive, src, {"a", "big"}, 0);
  ScriptedZipUi answers;
  AnswerThread gui;
  TJobQueue queue;
  std::atomic<int> id{0};
  std::atomic<bool> paused{false};
  ZipJobRun run;
  auto job = run.Start(
      queue, answers, gui.Poster(),
      [&](zip::TZipWriter& w) {
        // Pauses itself from inside the large entry, so that it cannot end first.
        w.OnFilePercentDone = [&](zip::TZipReader*, int percent) {
          if (percent > 0 && percent < 100 && !paused.exchange(true)) {
            while (id.load() == 0) std::this_thread::yield();  // the test has not taken it yet
            queue.Pause(id.load());
          }
        };
      },
      [&](zip::TZipWriter& w) {
        w.SetZipName(archive);
        w.SetDestDir(dest);
        w.DoAll = true;
        w.UnZip();
      });
  id = job->Id();
  ASSERT_TRUE(Eventually([&] { return job->AtGate(); }));
  EXPECT_EQ(job->State(), TJobState::Paused);
  const TJobProgress at = job->Progress();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(job->Progress().bytesDone, at.bytesDone);
  EXPECT_EQ(at.item, "big");
  EXPECT_EQ(ReadFile(dest + "/a"), "first");
  EXPECT_EQ(Names(dest), (std::set<std::string>{"a"}));
  const auto asked = std::chrono::steady_clock::now();
  queue.Cancel(job->Id());
  ASSERT_TRUE(queue.WaitIdle(10s));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, kCancelLimit);
  EXPECT_EQ(job->State(), TJobState::Cancelled);
  EXPECT_EQ(Names(dest), (std::set<std::string>{"a"}));
}

// The overwrite question of an extraction comes on the answering thread and
// its answer does what it says there.
TEST(ZipJob, OverwriteQuestionsAreAnsweredOnTheAnsweringThread) {
  struct Case {
    zip::TOverwriteAnswer answer;
    std::string x;  // what "x" holds afterwards
    bool yMade;     // the entry after it
  };
  const Case cases[] = {
      {zip::TOverwriteAnswer::Yes, "new x", true},
      {zip::TOverwriteAnswer::No, "old x", true},
      {zip::TOverwriteAnswer::Cancel, "old x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    test::TempDir tmp;
    const std::string src = tmp / "src", dest = tmp / "dest", archive = tmp / "a.zip";
    test::MakeDir(src);
    test::MakeDir(dest);
    WriteFile(src + "/x", "new x");
    WriteFile(src + "/y", "y");
    Pack(archive, src, {"x", "y"}, 6);
    WriteFile(dest + "/x", "old x");
    ScriptedZipUi answers;
    answers.overwrite = {c.answer};
    std::thread::id workedOn;
    std::thread::id guiId;
    {
      AnswerThread gui;
      guiId = gui.Id();
      TJobQueue queue;
      ZipJobRun run;
      auto job = run.Start(queue, answers, gui.Poster(), nullptr, [&](zip::TZipWriter& w) {
        workedOn = std::this_thread::get_id();
        w.SetZipName(archive);
        w.SetDestDir(dest);
        w.DoAll = true;
        w.UnZip();
      });
      ASSERT_TRUE(queue.WaitIdle(10s));
      EXPECT_EQ(job->State(), TJobState::Finished);
    }
    EXPECT_EQ(answers.asked, std::vector<std::string>{"Replace existing file x?"});
    EXPECT_EQ(answers.threads, std::set<std::thread::id>{guiId});
    EXPECT_NE(workedOn, guiId);
    EXPECT_EQ(ReadFile(dest + "/x"), c.x);
    EXPECT_EQ(Exists(dest + "/y"), c.yMade);
  }
}

// Cancelled while the overwrite question waits: the job stops waiting at
// once, keeps the file, and the question the window gets to late is not shown.
TEST(ZipJob, CancelWhileAQuestionWaits) {
  test::TempDir tmp;
  const std::string src = tmp / "src", dest = tmp / "dest", archive = tmp / "a.zip";
  test::MakeDir(src);
  test::MakeDir(dest);
  WriteFile(src + "/x", "new");
  WriteFile(src + "/y", "y");
  Pack(archive, src, {"x", "y"}, 6);
  WriteFile(dest + "/x", "old");
  ScriptedZipUi answers;
  std::mutex m;
  std::vector<std::function<void()>> unshown;
  TJobPrompt::TPost keep = [&](std::function<void()> call) {
    std::lock_guard lock(m);
    unshown.push_back(std::move(call));
  };
  TJobQueue queue;
  ZipJobRun run;
  auto job = run.Start(queue, answers, keep, nullptr, [&](zip::TZipWriter& w) {
    w.SetZipName(archive);
    w.SetDestDir(dest);
    w.DoAll = true;
    w.UnZip();
  });
  ASSERT_TRUE(Eventually([&] { return job->Progress().asking; }));
  queue.Cancel(job->Id());
  ASSERT_TRUE(queue.WaitIdle(5s));
  EXPECT_EQ(job->State(), TJobState::Cancelled);
  std::vector<std::function<void()>> calls;
  {
    std::lock_guard lock(m);
    calls.swap(unshown);
  }
  ASSERT_EQ(calls.size(), 1u);
  calls.front()();  // the window gets to it late
  EXPECT_TRUE(answers.asked.empty());
  EXPECT_EQ(ReadFile(dest + "/x"), "old");
  EXPECT_FALSE(Exists(dest + "/y"));
}

}  // namespace
}  // namespace vantrel::fileops::testing

namespace vantrel::fileops::testing {
namespace {

// In the background an extraction keeps the entries whose files are in the
// way and extracts the others first; one choice at the end settles the kept
// ones: replaced, put beside under a free name, left, or each asked.
TEST(ZipJob, BackgroundExtractionKeepsConflictsForOneChoiceAtTheEnd) {
  using A = zip::TOverwriteAnswer;
  const struct {
    TConflictChoice choice;
    std::deque<A> asked;  // answers when each is decided
    std::string a, b;     // what dest/a and dest/sub/b then hold
    std::set<std::string> extra;  // names beside them
  } rows[] = {
      {TConflictChoice::OverwriteAll, {}, "new a", "new b", {}},
      {TConflictChoice::SkipAll, {}, "old a", "old b", {}},
      {TConflictChoice::RenameAll, {}, "old a", "old b", {"a (2)", "sub/b (2)"}},
      {TConflictChoice::DecideEach, {A::Yes, A::No}, "new a", "old b", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.choice));
    test::TempDir tmp;
    const std::string src = tmp / "src", dest = tmp / "dest", archive = tmp / "a.zip";
    test::MakeDir(src);
    test::MakeDir(src + "/sub");
    WriteFile(src + "/a", "new a");
    WriteFile(src + "/sub/b", "new b");
    WriteFile(src + "/c", "c");
    WriteFile(src + "/d", "d");
    // Info-ZIP's zip stores the path below src as it is given.
    ASSERT_EQ(test::RunCommand("cd '" + src + "' && zip -q '" + archive + "' a sub/b c d"), 0);
    test::MakeDir(dest);
    test::MakeDir(dest + "/sub");
    WriteFile(dest + "/a", "old a");
    WriteFile(dest + "/sub/b", "old b");

    ScriptedZipUi answers;
    answers.overwrite = row.asked;
    AnswerThread gui;
    TJobQueue queue;
    auto background = std::make_shared<std::atomic<bool>>(true);
    std::vector<std::string> kept;
    std::set<std::string> firstRun;  // what the first run left in dest
    std::string error;
    auto job = queue.Add("unpack", {}, [&](TJob& self) {
      TZipJobInterface ui(self, answers, gui.Poster());
      ui.SetDeferring(background);
      try {
        {
          zip::TZipWriter w(&ui);
          ui.Attach(w);
          w.SetZipName(archive);
          w.SetDestDir(dest);
          w.DoAll = true;
          w.RecreateDirs = true;
          w.UnZip();
        }
        firstRun = {ReadFile(dest + "/a"), ReadFile(dest + "/sub/b"), ReadFile(dest + "/c"), ReadFile(dest + "/d")};
        std::vector<TZipConflict> conflicts = ui.TakeConflicts();
        for (const TZipConflict& c : conflicts) kept.push_back(c.entry);
        background->store(false);  // what is asked from here on is asked at once
        zip::TZipWriter w(&ui);
        ui.Attach(w);
        w.SetZipName(archive);
        w.SetDestDir(dest);
        w.RecreateDirs = true;
        for (const TZipConflict& c : conflicts) w.AddFile(c.entry);
        if (SettleZipConflicts(w, row.choice)) w.UnZip();
      } catch (const std::exception& e) {
        error = e.what();
      }
    });
    ASSERT_TRUE(queue.WaitIdle(10s));
    ASSERT_EQ(error, "");
    EXPECT_EQ(job->State(), TJobState::Finished);
    // The first run asked nothing, left the files in the way alone and
    // extracted the rest.
    EXPECT_EQ(kept, (std::vector<std::string>{"a", "sub/b"}));
    EXPECT_EQ(firstRun, (std::set<std::string>{"old a", "old b", "c", "d"}));
    EXPECT_EQ(job->Progress().deferred, 2u);
    EXPECT_EQ(answers.asked.size(), row.asked.size());
    EXPECT_TRUE(answers.overwrite.empty());
    EXPECT_EQ(ReadFile(dest + "/a"), row.a);
    EXPECT_EQ(ReadFile(dest + "/sub/b"), row.b);
    std::set<std::string> all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest))
      if (e.is_regular_file()) all.insert(std::filesystem::relative(e.path(), dest).string());
    std::set<std::string> expected = {"a", "sub/b", "c", "d"};
    expected.insert(row.extra.begin(), row.extra.end());
    EXPECT_EQ(all, expected);
    for (const std::string& beside : row.extra)
      EXPECT_EQ(ReadFile(dest + "/" + beside), beside[0] == 'a' ? "new a" : "new b");
  }
}

}  // namespace
}  // namespace vantrel::fileops::testing

namespace vantrel::fileops::testing {
namespace {

// The engine's messages (errors) reach the answering thread while the job
// runs in front; in the background they are kept for the job's report and
// the job never stands still on them.
TEST(ZipJob, MessagesWaitForTheEndOnlyInTheBackground) {
  class TMessages final : public zip::TZipUserInterface {
   public:
    std::vector<std::string> shown;
    void ShowMessage(const std::string& text, const std::string&) override { shown.push_back(text); }
  };
  for (const bool background : {false, true}) {
    SCOPED_TRACE(background);
    TMessages answers;
    AnswerThread gui;
    TJobQueue queue;
    std::vector<std::string> kept;
    auto job = queue.Add("zip", {}, [&](TJob& self) {
      TZipJobInterface ui(self, answers, gui.Poster());
      ui.SetDeferring(std::make_shared<std::atomic<bool>>(background));
      ui.ShowMessage("Disk full", "Error");
      ui.ShowMessage("Volume 2 missing", "Error");
      kept = ui.TakeMessages();
    });
    ASSERT_TRUE(queue.WaitIdle(10s));
    EXPECT_EQ(job->State(), TJobState::Finished);
    const std::vector<std::string> both = {"Disk full", "Volume 2 missing"};
    EXPECT_EQ(answers.shown, background ? std::vector<std::string>{} : both);
    EXPECT_EQ(kept, background ? both : std::vector<std::string>{});
    EXPECT_EQ(job->Progress().deferred, background ? 2u : 0u);
  }
}

// Threaded packing and extraction cancelled in the middle of a mix of large
// files, some that deflate shrinks and some it cannot: the run returns within
// the bound however the work was spread over the threads at that moment.
// The files (about 200 MB, an eighth of it under the sanitizer) are made
// once for the suite.
class ZipJobThreaded : public ::testing::Test {
 protected:
#if defined(__SANITIZE_THREAD__)
  static constexpr size_t kUnit = 2u << 20;
#else
  static constexpr size_t kUnit = 16u << 20;
#endif
  // Measured against this bound and printed; the requirement is a tenth of
  // a second, the bound leaves room for a loaded machine and the sanitizer.
  static constexpr auto kBound = 1000ms;

  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    test::MakeDir(Source());
    // The largest file comes last but the small ones: a cancel at any share
    // up to two thirds finds work still to do.
    const struct {
      const char* name;
      size_t units;
      bool noise;  // else text
    } files[] = {{"text-1", 3, false}, {"noise-2", 3, true}, {"text-2", 2, false},
                 {"noise-3", 1, true}, {"noise-1", 4, true}};
    for (size_t i = 0; i < 8; ++i) AddFile(test::Numbered("small-", i), TextBytes(256u << 10, 40 + i));
    uint32_t seed = 1;
    for (const auto& f : files)
      AddFile(f.name, f.noise ? NoiseBytes(f.units * kUnit, ++seed) : TextBytes(f.units * kUnit, ++seed));
    for (size_t i = 8; i < 12; ++i) AddFile(test::Numbered("small-", i), TextBytes(64u << 10, 40 + i));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
    names_.clear();
  }

  static std::string Source() { return *dir_ / "src"; }
  static const std::vector<std::string>& Files() { return names_; }

  // Lines of numbers and words: deflate shrinks them to about a third, and
  // works at them longer than at noise.
  static std::string TextBytes(size_t size, uint32_t seed) {
    std::string out;
    out.reserve(size + 128);
    uint64_t x = 0x2545F4914F6CDD1Dull ^ seed;
    static const char* const kWords[] = {"archive", "entry", "panel", "copy", "deflate", "window", "queue", "job"};
    while (out.size() < size) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      out += std::to_string(x % 100000);
      out += ' ';
      out += kWords[(x >> 20) % 8];
      out += ' ';
      out += kWords[(x >> 28) % 8];
      out += (x >> 40) % 5 == 0 ? '\n' : ' ';
    }
    out.resize(size);
    return out;
  }

  // Waits until the job has done `fraction` of its bytes; false when it
  // ended first (or after five minutes, a guard against a hang).
  static bool WaitForShare(TJob& job, double fraction) {
    for (auto end = std::chrono::steady_clock::now() + 300s; std::chrono::steady_clock::now() < end;) {
      const TJobProgress p = job.Progress();
      if (p.bytesTotal > 0 && p.bytesDone >= fraction * p.bytesTotal) return true;
      const TJobState state = job.State();
      if (state == TJobState::Finished || state == TJobState::Cancelled) return false;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }

 private:
  static void AddFile(const std::string& name, const std::string& bytes) {
    WriteFile(Source() + "/" + name, bytes);
    names_.push_back(name);
  }
  static inline test::TempDir* dir_ = nullptr;
  static inline std::vector<std::string> names_;
};

// Cancelled at some share of a pack with 2 and 3 threads, split deflate on
// and off, making an archive or updating one: the run returns within the
// bound, leaves no archive, no temporary file, or the old archive as it was.
TEST_F(ZipJobThreaded, PackCancelledInTheMiddleReturnsAtOnceAndLeavesNothingPartial) {
  struct Case {
    int threads;
    bool split;
    bool existing;
    int level;
    double share;  // of the bytes done when cancelled
  };
  const Case cases[] = {
      {2, false, false, 6, 0.2}, {2, true, true, 9, 0.5},  {3, false, true, 6, 0.7},  {3, true, false, 9, 0.35},
      {2, false, true, 9, 0.45}, {3, true, true, 6, 0.15}, {2, true, false, 6, 0.8}, {3, false, false, 9, 0.55},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "threads " << c.threads << " split " << c.split << " existing "
                                      << c.existing << " level " << c.level << " share " << c.share);
    test::TempDir tmp;
    const std::string out = tmp / "out", archive = out + "/a.zip";
    test::MakeDir(out);
    CancelledPack pack(archive, out, tmp.path(), c.existing);
    auto job = pack.Start([&](zip::TZipWriter& w) {
      w.Threads = c.threads;
      w.SplitDeflate = c.split;
      w.SetZipName(archive);
      w.SetRootDir(Source());
      w.SetRelativePaths(true);
      w.PackLevel = c.level;
      w.SetFilesList(Files());
      w.Zip();
    });
    ASSERT_TRUE(WaitForShare(*job, c.share)) << "the pack ended or stood still before the cancel";
    const auto asked = std::chrono::steady_clock::now();
    pack.queue.Cancel(job->Id());
    ASSERT_TRUE(pack.queue.WaitIdle(60s));
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(pack.run.ended - asked);
    std::printf("pack cancel, %d threads, split %d, level %d, at %.0f%%: %lld ms\n", c.threads, c.split ? 1 : 0,
                c.level, c.share * 100, static_cast<long long>(latency.count()));
    EXPECT_LT(latency, kBound);
    pack.ExpectNothingPartial(*job);
  }
}

// Extraction with 2 and 3 threads cancelled inside a large entry returns
// within the bound, keeps the entries before it whole and leaves nothing of
// it; entries after it that a worker had finished and placed stay, whole.
// The workers decode far ahead of what the run reports: the run's thread
// waits in its report of the large entry part done until the cancel is
// asked, so that the cancel certainly comes before that entry's end.
TEST_F(ZipJobThreaded, ExtractionCancelledInsideALargeEntryReturnsAtOnceAndLeavesWholeFiles) {
  test::TempDir tmp;
  const std::string archive = tmp / "a.zip";
  // The small files first, then a large one slow enough to inflate that the
  // run reports it part done, then the rest.
  std::vector<std::string> order, before;
  for (const std::string& name : Files())
    if (name.starts_with("small-") && order.size() < 8) order.push_back(name);
  before = order;
  int64_t largeFrom = 0;
  for (const std::string& name : before) largeFrom += static_cast<int64_t>(std::filesystem::file_size(Source() + "/" + name));
  const int64_t largeTo = largeFrom + static_cast<int64_t>(std::filesystem::file_size(Source() + "/text-1"));
  order.push_back("text-1");
  for (const std::string& name : Files())
    if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
  {
    zip::TZipWriter w;
    w.Threads = 2;
    w.SetZipName(archive);
    w.SetRootDir(Source());
    w.SetRelativePaths(true);
    w.PackLevel = 1;
    w.SetFilesList(order);
    w.Zip();
  }
  struct Case {
    int threads;
    int percent;  // of the large entry reported when cancelled
  };
  const Case cases[] = {{2, 5}, {3, 20}, {2, 35}, {3, 45}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "threads " << c.threads << " percent " << c.percent);
    const std::string dest = tmp / test::Numbered("dest-", static_cast<long long>(&c - cases));
    test::MakeDir(dest);
    ScriptedZipUi answers;
    AnswerThread gui;
    TJobQueue queue;
    ZipJobRun run;
    std::atomic<bool> inside{false}, asking{false};
    auto job = run.Start(
        queue, answers, gui.Poster(),
        [&](zip::TZipWriter& w) {
          // The entries are announced as they go to the workers, far ahead:
          // the bytes reported tell which one the run is at.
          w.OnFilePercentDone = [&](zip::TZipReader*, int percent) {
            const int64_t done = w.BytesDone();
            if (done > largeFrom && done < largeTo && percent >= c.percent && !inside.exchange(true))
              while (!asking) std::this_thread::yield();
          };
        },
        [&](zip::TZipWriter& w) {
          w.Threads = c.threads;
          w.SetZipName(archive);
          w.SetDestDir(dest);
          w.DoAll = true;
          w.UnZip();
        });
    for (auto end = std::chrono::steady_clock::now() + 300s; !inside && std::chrono::steady_clock::now() < end;)
      std::this_thread::yield();
    ASSERT_TRUE(inside) << "the large entry was not reported part done";
    const auto asked = std::chrono::steady_clock::now();
    queue.Cancel(job->Id());
    asking = true;
    ASSERT_TRUE(queue.WaitIdle(60s));
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(run.ended - asked);
    std::printf("extraction cancel, %d threads, at %d%% of the large entry: %lld ms\n", c.threads, c.percent,
                static_cast<long long>(latency.count()));
    EXPECT_LT(latency, kBound);
    EXPECT_EQ(job->State(), TJobState::Cancelled);
    EXPECT_FALSE(run.error.empty());  // the engine heard the cancel before its end
    const std::set<std::string> left = Names(dest);
    for (const std::string& name : before) EXPECT_EQ(left.count(name), 1u) << name;
    EXPECT_EQ(left.count("text-1"), 0u);
    for (const std::string& name : left) {
      SCOPED_TRACE(name);
      ASSERT_NE(std::find(Files().begin(), Files().end(), name), Files().end());
      EXPECT_TRUE(ReadFile(dest + "/" + name) == ReadFile(Source() + "/" + name));
    }
  }
}

}  // namespace
}  // namespace vantrel::fileops::testing
