// Questions a background job keeps for its end: the items without a conflict
// are handled first, the kept conflicts settled with one choice (or each
// asked), failing items kept for the report without a question; the same
// through a job whose questions cross to another thread.
#include "fileops/deferred.h"

#include "fileops/job.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/fileops/job_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::WriteFile;

// A copy (or move) of src/{a, x, tree/y, tree/z} into dst, where x and
// tree/y exist already, settled with each choice.
TEST_F(FileOpsTest, KeptConflictsAreSettledWithOneChoiceAtTheEnd) {
  struct Case {
    TConflictChoice choice;
    bool move;
    std::map<std::string, std::string> dest;  // what dst holds at the end (files only)
    std::vector<std::string> sourceLeft;      // files left at the source after a move
    std::vector<TOverwriteAnswer> each;       // answers when each is asked
  };
  const Case cases[] = {
      {TConflictChoice::OverwriteAll, false,
       {{"a", "f a"}, {"x", "f new x"}, {"tree/y", "f new y"}, {"tree/z", "f z"}}, {}, {}},
      {TConflictChoice::SkipAll, false, {{"a", "f a"}, {"x", "f old x"}, {"tree/y", "f old y"}, {"tree/z", "f z"}}, {}, {}},
      {TConflictChoice::RenameAll, false,
       {{"a", "f a"}, {"x", "f old x"}, {"x (2)", "f new x"}, {"tree/y", "f old y"}, {"tree/y (2)", "f new y"}, {"tree/z", "f z"}},
       {}, {}},
      {TConflictChoice::DecideEach, false,
       {{"a", "f a"}, {"x", "f new x"}, {"tree/y", "f old y"}, {"tree/z", "f z"}}, {},
       {TOverwriteAnswer::Yes, TOverwriteAnswer::No}},
      {TConflictChoice::OverwriteAll, true,
       {{"a", "f a"}, {"x", "f new x"}, {"tree/y", "f new y"}, {"tree/z", "f z"}}, {}, {}},
      {TConflictChoice::SkipAll, true, {{"a", "f a"}, {"x", "f old x"}, {"tree/y", "f old y"}, {"tree/z", "f z"}},
       {"tree/y", "x"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.choice) << " move " << c.move);
    fs::remove_all(src);
    fs::remove_all(dst);
    MakeTree(src, {"a=a", "x=new x", "tree/y=new y", "tree/z=z"});
    MakeTree(dst, {"x=old x", "tree/y=old y"});
    ScriptedPrompt inner;
    TDeferringPrompt deferring(inner);
    deferring.SetDeferring(true);
    std::vector<std::pair<size_t, size_t>> kept;
    deferring.OnKept = [&](size_t conflicts, size_t failures) { kept.emplace_back(conflicts, failures); };
    TFMOperation engine;
    engine.SetPrompt(&deferring);
    deferring.SetRun(src, dst, {"a", "x", "tree"});
    c.move ? engine.MoveFiles({"a", "x", "tree"}, src, dst) : engine.CopyFiles({"a", "x", "tree"}, src, dst);
    // Nothing was asked; everything without a conflict is done already.
    EXPECT_TRUE(inner.log.empty());
    EXPECT_EQ(ReadFile(dst + "/a"), "a");
    EXPECT_EQ(ReadFile(dst + "/tree/z"), "z");
    EXPECT_EQ(ReadFile(dst + "/x"), "old x");
    EXPECT_EQ(kept, (std::vector<std::pair<size_t, size_t>>{{1, 0}, {2, 0}}));
    const std::vector<TDeferredConflict> conflicts = deferring.TakeConflicts();
    ASSERT_EQ(conflicts.size(), 2u);
    EXPECT_EQ(conflicts[1].sourceDir, src + "/tree");
    EXPECT_EQ(conflicts[1].destDir, dst + "/tree");
    EXPECT_EQ(conflicts[1].name, "y");
    deferring.SetDeferring(false);
    inner.overwriteAnswers.assign(c.each.begin(), c.each.end());
    SettleConflicts(engine, conflicts, c.choice, c.move);
    EXPECT_EQ(inner.overwriteAnswers.size(), 0u);
    std::map<std::string, std::string> files;
    for (const auto& [rel, what] : Snapshot(dst, false))
      if (what[0] == 'f') files[rel] = what;
    EXPECT_EQ(files, c.dest);
    if (c.move) {
      std::vector<std::string> left;
      for (const auto& [rel, what] : Snapshot(src, false))
        if (what[0] == 'f') left.push_back(rel);
      EXPECT_EQ(left, c.sourceLeft);
      // Directories the settled items left empty went with them.
      EXPECT_EQ(Exists(src + "/tree"), !c.sourceLeft.empty());
    }
  }
}

// A renamed single item (a copy under a new name) keeps its conflicts with
// the source's own name.
TEST_F(FileOpsTest, KeptConflictOfARenamedItemFindsItsSource) {
  MakeTree(src, {"tree/y=new y"});
  MakeTree(dst, {"copy/y=old y"});
  ScriptedPrompt inner;
  TDeferringPrompt deferring(inner);
  deferring.SetDeferring(true);
  TFMOperation engine;
  engine.SetPrompt(&deferring);
  deferring.SetRun(src, dst, {"tree"}, "copy");
  engine.CopyFiles({"tree"}, src, dst, "copy");
  const auto conflicts = deferring.TakeConflicts();
  ASSERT_EQ(conflicts.size(), 1u);
  EXPECT_EQ(conflicts[0].sourceDir, src + "/tree");
  EXPECT_EQ(conflicts[0].destDir, dst + "/copy");
  SettleConflicts(engine, conflicts, TConflictChoice::OverwriteAll, false);
  EXPECT_EQ(ReadFile(dst + "/copy/y"), "new y");
}

// In front, questions pass straight through; failing items are shown then,
// kept (and skipped) while deferring.
TEST_F(FileOpsTest, FailingItemsAreKeptWithoutAQuestionWhileDeferring) {
  for (const bool defer : {false, true}) {
    SCOPED_TRACE(defer);
    fs::remove_all(src);
    fs::remove_all(dst);
    MakeTree(src, {"a=a", "b=b"});
    test::MakeDir(dst);
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0644), 0);
    ScriptedPrompt inner;
    TDeferringPrompt deferring(inner);
    deferring.SetDeferring(defer);
    TFMOperation engine;
    engine.SetPrompt(&deferring);
    deferring.SetRun(src, dst, {"a", "pipe", "b"});
    engine.CopyFiles({"a", "pipe", "b"}, src, dst);
    EXPECT_EQ(ReadFile(dst + "/b"), "b");
    EXPECT_EQ(inner.messages.size(), defer ? 0u : 1u);
    EXPECT_EQ(deferring.TakeFailures().size(), defer ? 1u : 0u);
    EXPECT_EQ(engine.Failures().size(), 1u);
  }
}

TEST(FreeName, TheFirstNameNotTaken) {
  test::TempDir tmp;
  WriteFile(tmp / "x.txt", "");
  WriteFile(tmp / "x (2).txt", "");
  WriteFile(tmp / "noext", "");
  WriteFile(tmp / ".hidden", "");
  const std::pair<const char*, const char*> cases[] = {
      {"x.txt", "x (3).txt"},
      {"noext", "noext (2)"},
      {".hidden", ".hidden (2)"},
      {"a.tar.gz", "a.tar (2).gz"},
  };
  for (const auto& [name, free] : cases) EXPECT_EQ(FreeName(tmp.path(), name), free) << name;
}

// Through a job: a question that came while the job ran in front is asked
// on the answering thread; once deferring (the job went to the background
// meanwhile), the next conflict is kept, the job counts it, and nothing
// stands still.
TEST(DeferredJob, GoingToTheBackgroundKeepsTheNextQuestions) {
  test::TempDir tmp;
  const std::string src = tmp / "src", dst = tmp / "dst";
  MakeTree(src, {"p=new p", "q=new q", "r=r"});
  MakeTree(dst, {"p=old p", "q=old q"});
  ScriptedPrompt answers;
  answers.overwriteAnswers = {TOverwriteAnswer::Yes};
  auto deferFlag = std::make_shared<std::atomic<bool>>(false);
  AnswerThread gui;
  TJobQueue queue;
  auto job = queue.Add("copy", {}, [&](TJob& self) {
    TFMOperation engine;
    self.Attach(engine);
    TJobPrompt bridge(self, answers, gui.Poster());
    TDeferringPrompt deferring(bridge, deferFlag);
    deferring.OnKept = [&self](size_t conflicts, size_t failures) { self.SetDeferred(conflicts + failures); };
    // The first answer sends the job to the background.
    answers.onMessage = nullptr;
    engine.SetPrompt(&deferring);
    deferring.SetRun(src, dst, {"p", "q", "r"});
    engine.OnGlobalDone = [&](TFMOperation& e, int) {
      if (e.CurrentItem() == "p") *deferFlag = true;
    };
    engine.CopyFiles({"p", "q", "r"}, src, dst);
    EXPECT_EQ(deferring.TakeConflicts().size(), 1u);
  });
  ASSERT_TRUE(queue.WaitIdle(10s));
  EXPECT_EQ(job->Progress().deferred, 1u);
  EXPECT_EQ(answers.log, std::vector<std::string>{"?Overwrite file p?"});
  EXPECT_EQ(ReadFile(dst + "/p"), "new p");
  EXPECT_EQ(ReadFile(dst + "/q"), "old q");
  EXPECT_EQ(ReadFile(dst + "/r"), "r");
}

}  // namespace
}  // namespace vantrel::fileops::testing
