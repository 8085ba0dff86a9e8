// The copy pass with its pool of threads behaves as with one thread: for each
// case the same tree is copied once with CopyThreads 1 and once with 2 and 4,
// and the questions, messages, progress events, items completed and the
// destination left behind must be the same. Failures are made where both
// ways meet them at the same item: a progress event puts a file at the
// destination of a later item, whose copy then finds its name taken.
#include <gtest/gtest.h>

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

TEST_P(PooledCopy, BehavesAsOneThreadDoes) {
  const PoolCase& c = GetParam();
  const Outcome one = RunCase(c, 1);
  for (unsigned threads : {2u, 4u}) {
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
        PoolCase{"large_file_among_small", false, false, {}, 0, {}, false, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The pool on its own: Stop ends every task finished, those that never ran
// Stopped with their sources closed; nothing gets a name either way.
TEST(CopyPool, StopFinishesEveryTaskAndNamesNothing) {
  test::TempDir tmp;
  test::WriteFile(tmp / "a", PatternBytes(5000));
  for (unsigned threads : {0u, 2u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    TCopyPool pool(threads, platform::kUnknownMask);
    std::vector<std::shared_ptr<TCopyPool::TTask>> tasks;
    for (int i = 0; i < 100; ++i) {
      auto task = std::make_shared<TCopyPool::TTask>();
      task->source = std::make_unique<platform::SourceFile>();
      ASSERT_EQ(task->source->Open(tmp / "a"), 0);
      task->dir = tmp.path();
      task->dest = tmp / ("copy" + std::to_string(i));
      pool.Submit(task);
      tasks.push_back(task);
    }
    pool.Stop();
    int done = 0, stopped = 0;
    for (const auto& task : tasks) {
      pool.Wait(*task);
      EXPECT_EQ(task->source, nullptr) << "every source is closed";
      if (task->result.status == platform::CopyStatus::Done) {
        ++done;
        ASSERT_GE(task->fd, 0);
        ::close(task->fd);
      } else {
        ++stopped;
        EXPECT_EQ(task->result.status, platform::CopyStatus::Stopped);
        EXPECT_LT(task->fd, 0);
      }
    }
    EXPECT_EQ(done + stopped, 100);
    if (threads == 0) { EXPECT_EQ(stopped, 100) << "with no worker, nothing ran"; }
    EXPECT_EQ(Snapshot(tmp.path(), false).size(), 1u) << "only the source is there";
  }
}

}  // namespace
}  // namespace vantrel::fileops::testing
