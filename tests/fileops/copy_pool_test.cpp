// The copy pass with its pool behaves as without it: for each case the same
// tree is copied once with CopyThreads 0 (every file the usual way) and once
// with 1, 2 and 4, and the questions, messages, progress events, items
// completed and the destination left behind must be the same. Failures are made where both
// ways meet them at the same item: a progress event puts a file at the
// destination of a later item, whose copy then finds its name taken.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "fileops/copy_pool.h"
#include "fileops_helpers.h"

namespace vantrel::fileops::testing {
namespace {

struct Outcome {
  std::vector<std::string> log;  // questions and messages, in order
  std::vector<int> events;
  std::vector<std::string> items;  // CurrentItem at each event
  std::vector<std::string> completed;
  std::map<std::string, std::string> dest;
  std::map<std::string, std::string> source;
  bool aborted = false;
};

struct PoolCase {
  const char* name;
  bool move = false;
  // A file put in the way of a later item: at the event of the directory
  // "tree/d1", before any of its files, "tree/d1/f30" gets a rival.
  bool block = false;
  std::vector<TMessageAnswer> messages;
  int cancelAtEvent = 0;  // Cancel pressed during this event...
  std::vector<bool> abortAnswers;  // ...and "Abort operation?" answered so
  bool existingTarget = false;     // "d0" already at the destination, with f3 in it
  std::vector<TOverwriteAnswer> overwrites;
  bool largeFile = false;  // one file past the pool's limit among the small ones
  // At the event of "tree/d1", before any of its files: "tree/d1/f5"
  // vanishes, "tree/d1/f7" grows a little and "tree/d1/f8" past the limit.
  bool changeSource = false;
};

// Three directories of 40 small files, and a file at the top.
void MakeSource(const std::string& src, const PoolCase& c) {
  for (int d = 0; d < 3; ++d) {
    test::MakeDir(src + "/tree/d" + std::to_string(d));
    for (int f = 0; f < 40; ++f)
      test::WriteFile(src + "/tree/d" + std::to_string(d) + "/f" + std::to_string(f),
                      PatternBytes(100 + static_cast<size_t>(f) * 37, static_cast<uint32_t>(d * 100 + f)));
  }
  test::WriteFile(src + "/top.txt", "top");
  test::WriteFile(src + "/tree/d2/name\xff\x80", "not UTF-8");
  if (c.largeFile) test::WriteFile(src + "/tree/d1/large", PatternBytes(TFMOperation::kPooledFileLimit + 5));
}

Outcome RunCase(const PoolCase& c, unsigned threads) {
  test::TempDir tmp;
  const std::string src = tmp / "src", dst = tmp / "dst";
  test::MakeDir(src);
  test::MakeDir(dst);
  MakeSource(src, c);
  if (c.existingTarget) {
    test::MakeDir(dst + "/tree/d0");
    test::WriteFile(dst + "/tree/d0/f3", "old");
  }

  ScriptedPrompt prompt;
  prompt.messageAnswers.assign(c.messages.begin(), c.messages.end());
  prompt.abortAnswers.assign(c.abortAnswers.begin(), c.abortAnswers.end());
  prompt.overwriteAnswers.assign(c.overwrites.begin(), c.overwrites.end());
  TFMOperation op;
  op.CopyThreads = threads;
  op.ProgressInterval = std::chrono::hours(1);
  op.SetPrompt(&prompt);
  Outcome out;
  op.OnGlobalDone = [&](TFMOperation& sender, int percent) {
    out.events.push_back(percent);
    out.items.push_back(sender.CurrentItem());
    const int n = static_cast<int>(out.events.size());
    if (c.block && sender.CurrentItem() == "tree/d1") test::WriteFile(dst + "/tree/d1/f30", "rival");
    if (c.changeSource && sender.CurrentItem() == "tree/d1") {
      ::unlink((src + "/tree/d1/f5").c_str());
      test::WriteFile(src + "/tree/d1/f7", PatternBytes(5000, 7));
      test::WriteFile(src + "/tree/d1/f8", PatternBytes(TFMOperation::kPooledFileLimit + 1, 8));
    }
    if (n == c.cancelAtEvent) sender.OperationAborted = true;
  };
  if (c.move)
    op.MoveFiles({"tree", "top.txt"}, src, dst);
  else
    op.CopyFiles({"tree", "top.txt"}, src, dst);
  out.log = prompt.log;
  out.completed = op.Completed();
  out.dest = Snapshot(dst);
  out.source = Snapshot(src);
  out.aborted = op.OperationAborted;
  EXPECT_TRUE(TemporaryFiles(dst).empty());
  return out;
}

class PooledCopy : public ::testing::TestWithParam<PoolCase> {};

TEST_P(PooledCopy, BehavesAsTheUsualWayDoes) {
  const PoolCase& c = GetParam();
  const Outcome one = RunCase(c, 0);
  for (unsigned threads : {1u, 2u, 4u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const Outcome many = RunCase(c, threads);
    EXPECT_EQ(many.log, one.log);
    EXPECT_EQ(many.events, one.events);
    EXPECT_EQ(many.items, one.items);
    EXPECT_EQ(many.completed, one.completed);
    EXPECT_EQ(many.dest, one.dest);
    EXPECT_EQ(many.source, one.source);
    EXPECT_EQ(many.aborted, one.aborted);
  }
  // A copy's events never go back (a move's run from 0 to 100 twice).
  if (!c.move) { EXPECT_TRUE(std::is_sorted(one.events.begin(), one.events.end())); }
  if (c.block) {
    ASSERT_FALSE(one.log.empty()) << "the rival file should have been met";
    EXPECT_EQ(one.log.front(), "!Could not copy file tree/d1/f30");
  }
  if (c.changeSource) {
    EXPECT_EQ(one.log, std::vector<std::string>{"!Could not find file tree/d1/f5"});
    EXPECT_EQ(one.dest.count("tree/d1/f5"), 0u);
    EXPECT_EQ(one.dest.at("tree/d1/f7").size(), one.source.at("tree/d1/f7").size());
    EXPECT_EQ(one.dest.at("tree/d1/f8").size(), one.source.at("tree/d1/f8").size());
  }
  if (!one.aborted) { EXPECT_EQ(one.dest.count("tree/d2/name\xff\x80"), 1u); }
}

using A = TMessageAnswer;
INSTANTIATE_TEST_SUITE_P(
    Cases, PooledCopy,
    ::testing::Values(
        PoolCase{"plain", false, false, {}, 0, {}, false, {}, false},
        PoolCase{"move", true, false, {}, 0, {}, false, {}, false},
        PoolCase{"failure_skipped", false, true, {A::Ok}, 0, {}, false, {}, false},
        PoolCase{"failure_skip_all", false, true, {A::SkipAll}, 0, {}, false, {}, false},
        PoolCase{"failure_aborts", false, true, {A::Abort}, 0, {}, false, {}, false},
        PoolCase{"failure_retried_then_skipped", false, true, {A::Retry, A::Ok}, 0, {}, false, {}, false},
        PoolCase{"move_with_failure", true, true, {A::Ok}, 0, {}, false, {}, false},
        PoolCase{"cancel_answered_yes", false, false, {}, 20, {true}, false, {}, false},
        PoolCase{"cancel_answered_no", false, false, {}, 20, {false}, false, {}, false},
        PoolCase{"existing_target_asked", false, false, {}, 0, {}, true, {TOverwriteAnswer::Yes}, false},
        PoolCase{"existing_target_none", false, false, {}, 0, {}, true, {TOverwriteAnswer::None}, false},
        PoolCase{"large_file_among_small", false, false, {}, 0, {}, false, {}, true},
        PoolCase{"source_changed", false, false, {}, 0, {}, false, {}, false, true},
        PoolCase{"move_source_changed", true, false, {}, 0, {}, false, {}, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The pool on its own: a batch nobody has begun is written by the thread
// that asks for it back; Stop ends every batch finished, the files not
// written Stopped; what was written has no name either way.
TEST(CopyPool, StopFinishesEveryBatchAndNamesNothing) {
  test::TempDir tmp;
  test::MakeDir(tmp / "src");
  test::MakeDir(tmp / "dst");
  test::WriteFile(tmp / "src/a", PatternBytes(5000));
  auto dirs = std::make_shared<TCopyPool::TDirs>();
  ASSERT_EQ(dirs->source.Open(tmp / "src", false), 0);
  ASSERT_EQ(dirs->dest.Open(tmp / "dst", true), 0);
  for (unsigned helpers : {0u, 2u}) {
    SCOPED_TRACE("helpers " + std::to_string(helpers));
    TCopyPool pool(helpers, TFMOperation::kPooledFileLimit, platform::kUnknownMask);
    std::vector<std::shared_ptr<TCopyPool::TBatch>> batches;
    for (int i = 0; i < 20; ++i) {
      auto batch = std::make_shared<TCopyPool::TBatch>();
      for (int k = 0; k < 5; ++k) {
        TCopyPool::TTask& task = batch->tasks.emplace_back();
        task.dirs = dirs;
        task.name = "a";
      }
      pool.Submit(batch);
      batches.push_back(batch);
    }
    pool.Finish(*batches.front());
    for (const TCopyPool::TTask& task : batches.front()->tasks) {
      EXPECT_EQ(task.result.status, platform::CopyStatus::Done) << "the first batch is written in any case";
      EXPECT_EQ(task.size, 5000u);
    }
    pool.Stop();
    int done = 0, stopped = 0;
    for (const auto& batch : batches) {
      pool.Finish(*batch);
      for (TCopyPool::TTask& task : batch->tasks) {
        EXPECT_FALSE(task.declined);
        if (task.result.status == platform::CopyStatus::Done) {
          ++done;
          ASSERT_GE(task.fd, 0);
          ::close(task.fd);
        } else {
          ++stopped;
          EXPECT_EQ(task.result.status, platform::CopyStatus::Stopped);
          EXPECT_LT(task.fd, 0);
        }
      }
    }
    EXPECT_EQ(done + stopped, 100);
    if (helpers == 0) { EXPECT_EQ(stopped, 95) << "with no helper, only the batch asked for ran"; }
    EXPECT_TRUE(Snapshot(tmp / "dst", false).empty()) << "nothing got a name";
  }
}

// What the pool leaves to the engine's usual way: a name that is gone, a
// link, a FIFO, a directory, a file past the limit. A name that is not UTF-8
// is written like any other.
TEST(CopyPool, DeclinesWhatIsNoSmallRegularFile) {
  test::TempDir tmp;
  test::MakeDir(tmp / "src");
  test::MakeDir(tmp / "dst");
  test::MakeDir(tmp / "src/dir");
  test::WriteFile(tmp / "src/large", PatternBytes(70));
  test::WriteFile(tmp / "src/bad\xff\xfe", PatternBytes(60, 3));
  ASSERT_EQ(::symlink("large", (tmp / "src/link").c_str()), 0);
  ASSERT_EQ(::mkfifo((tmp / "src/fifo").c_str(), 0600), 0);
  auto dirs = std::make_shared<TCopyPool::TDirs>();
  ASSERT_EQ(dirs->source.Open(tmp / "src", false), 0);
  ASSERT_EQ(dirs->dest.Open(tmp / "dst", true), 0);
  TCopyPool pool(1, 64, platform::kUnknownMask);
  auto batch = std::make_shared<TCopyPool::TBatch>();
  for (const char* name : {"gone", "link", "fifo", "dir", "large", "bad\xff\xfe"})
    batch->tasks.emplace_back().name = name;
  for (TCopyPool::TTask& task : batch->tasks) task.dirs = dirs;
  pool.Submit(batch);
  pool.Finish(*batch);
  std::vector<bool> declined;
  for (const TCopyPool::TTask& task : batch->tasks) declined.push_back(task.declined);
  EXPECT_EQ(declined, (std::vector<bool>{true, true, true, true, true, false}));
  const TCopyPool::TTask& odd = batch->tasks.back();
  ASSERT_EQ(odd.result.status, platform::CopyStatus::Done);
  EXPECT_EQ(platform::NameUnnamedCopyAt(odd.fd, dirs->dest.fd(), odd.name.c_str()).status,
            platform::CopyStatus::Done);
  EXPECT_EQ(test::ReadFile(tmp / "dst/bad\xff\xfe"), PatternBytes(60, 3));
}

}  // namespace
}  // namespace vantrel::fileops::testing
