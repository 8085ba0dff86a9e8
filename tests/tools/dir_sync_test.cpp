// Synchronise directories: the plan for every kind of difference, both ways
// and one way, masks, recursion, empty directories and links; the run for
// every action, against sides that changed since the comparison, with
// Skip all, abort, and one progress over the whole run.
#include "tools/dir_sync.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "fileops/fmoperation.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/support/test_support.h"

namespace vantrel::tools {
namespace {

using fileops::TFMOperation;
using fileops::TMessageAnswer;
using fileops::TOverwriteAnswer;
using fileops::testing::ScriptedPrompt;
using test::MakeDir;
using test::ReadFile;
using test::SetMTime;
using test::TempDir;
using test::WriteFile;

constexpr int64_t kOld = 1600000000, kNew = 1700000000;

const char* KindName(TSyncKind k) {
  switch (k) {
    case TSyncKind::OnlyLeft: return "only-left";
    case TSyncKind::OnlyRight: return "only-right";
    case TSyncKind::LeftNewer: return "left-newer";
    case TSyncKind::RightNewer: return "right-newer";
    case TSyncKind::Differ: return "differ";
    case TSyncKind::KindClash: return "clash";
  }
  return "?";
}

const char* ActionName(TSyncAction a) {
  switch (a) {
    case TSyncAction::Leave: return "=";
    case TSyncAction::ToRight: return "->";
    case TSyncAction::ToLeft: return "<-";
    case TSyncAction::Delete: return "del";
  }
  return "?";
}

std::string Describe(const TSyncPlan& plan) {
  std::string out;
  for (const TSyncRow& row : plan.rows)
    out += row.path + " " + KindName(row.kind) + " " + ActionName(row.action) + "\n";
  return out;
}

bool IsLink(const std::string& path, const std::string& target) {
  char buffer[256];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  return n >= 0 && std::string(buffer, static_cast<size_t>(n)) == target;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

void File(const std::string& path, std::string_view text, int64_t time) {
  WriteFile(path, text);
  SetMTime(path, time);
}

// Two trees with one difference of every kind.
struct TTrees {
  TempDir tmp;
  std::string left = tmp / "left", right = tmp / "right";
  TTrees() {
    for (const std::string& side : {left, right}) {
      MakeDir(side + "/both/deep");
      File(side + "/same.txt", "same", kOld);
      File(side + "/both/deep/same.c", "x", kOld);
    }
    File(left + "/only-left.txt", "l", kOld);
    File(right + "/only-right.txt", "r", kOld);
    File(left + "/newer.txt", "new", kNew), File(right + "/newer.txt", "old", kOld);
    File(left + "/older.txt", "old", kOld), File(right + "/older.txt", "new", kNew);
    File(left + "/size.txt", "four", kOld), File(right + "/size.txt", "three", kOld);
    File(left + "/data.txt", "abcd", kOld), File(right + "/data.txt", "abce", kOld);
    File(left + "/both/deep/changed.c", "left", kNew), File(right + "/both/deep/changed.c", "right", kOld);
    MakeDir(left + "/clash"), File(right + "/clash", "file", kOld);
    MakeDir(left + "/left-tree/sub");
    File(left + "/left-tree/a.c", "aa", kOld), File(left + "/left-tree/sub/b.txt", "bbb", kOld);
    MakeDir(right + "/right-empty/inner");
  }
};

TEST(DirSyncPlan, EveryKindWithItsDefaultAction) {
  TTrees t;
  struct TCase {
    const char* what;
    TSyncOptions options;
    const char* rows;
  };
  TSyncOptions bothWays;
  TSyncOptions oneWay;
  oneWay.bothWays = false;
  TSyncOptions mirror = oneWay;
  mirror.deleteExtra = true;
  TSyncOptions content = bothWays;
  content.byContent = true;
  TSyncOptions flat = bothWays;
  flat.recursive = false;
  TSyncOptions noEmpty = bothWays;
  noEmpty.emptyDirectories = false;
  TSyncOptions masked = bothWays;
  masked.masks = "*.c; only*";
  TSyncOptions noDate = bothWays;
  noDate.byDate = false;
  const TCase cases[] = {
      {"both ways", bothWays,
       "both/deep/changed.c left-newer ->\nclash clash =\nleft-tree only-left ->\nnewer.txt left-newer ->\n"
       "older.txt right-newer <-\nonly-left.txt only-left ->\nonly-right.txt only-right <-\n"
       "right-empty only-right <-\nsize.txt differ =\n"},
      {"one way", oneWay,
       "both/deep/changed.c left-newer ->\nclash clash =\nleft-tree only-left ->\nnewer.txt left-newer ->\n"
       "older.txt right-newer =\nonly-left.txt only-left ->\nonly-right.txt only-right =\n"
       "right-empty only-right =\nsize.txt differ ->\n"},
      {"one way, deleting what only the right has", mirror,
       "both/deep/changed.c left-newer ->\nclash clash =\nleft-tree only-left ->\nnewer.txt left-newer ->\n"
       "older.txt right-newer =\nonly-left.txt only-left ->\nonly-right.txt only-right del\n"
       "right-empty only-right del\nsize.txt differ ->\n"},
      {"by content as well: data.txt", content,
       "both/deep/changed.c left-newer ->\nclash clash =\ndata.txt differ =\nleft-tree only-left ->\n"
       "newer.txt left-newer ->\nolder.txt right-newer <-\nonly-left.txt only-left ->\n"
       "only-right.txt only-right <-\nright-empty only-right <-\nsize.txt differ =\n"},
      {"without subdirectories", flat,
       "clash clash =\nleft-tree only-left ->\nnewer.txt left-newer ->\nolder.txt right-newer <-\n"
       "only-left.txt only-left ->\nonly-right.txt only-right <-\nright-empty only-right <-\nsize.txt differ =\n"},
      {"without empty directories", noEmpty,
       "both/deep/changed.c left-newer ->\nclash clash =\nleft-tree only-left ->\nnewer.txt left-newer ->\n"
       "older.txt right-newer <-\nonly-left.txt only-left ->\nonly-right.txt only-right <-\nsize.txt differ =\n"},
      {"masks: files one by one inside a one-sided tree", masked,
       "both/deep/changed.c left-newer ->\nclash clash =\nleft-tree/a.c only-left ->\nonly-left.txt only-left ->\n"
       "only-right.txt only-right <-\nright-empty/inner only-right <-\n"},
      {"dates not compared: sizes only", noDate,
       "both/deep/changed.c differ =\nclash clash =\nleft-tree only-left ->\nonly-left.txt only-left ->\n"
       "only-right.txt only-right <-\nright-empty only-right <-\nsize.txt differ =\n"},
  };
  for (const TCase& c : cases) {
    TDirSync sync;
    const TSyncPlan plan = sync.Plan(t.left + "/", t.right, c.options);
    EXPECT_EQ(Describe(plan), c.rows) << c.what;
    EXPECT_TRUE(plan.unreadable.empty()) << c.what;
  }
  // A one-sided tree's row carries its files and bytes.
  const TSyncPlan plan = TDirSync().Plan(t.left, t.right, bothWays);
  const auto tree = std::find_if(plan.rows.begin(), plan.rows.end(), [](auto& r) { return r.path == "left-tree"; });
  ASSERT_NE(tree, plan.rows.end());
  EXPECT_EQ(tree->files, 2u);
  EXPECT_EQ(tree->left.size, 5u);
}

TEST(DirSyncPlan, AllowedActionsFollowWhatEachSideHas) {
  TSyncRow onlyLeft;
  onlyLeft.kind = TSyncKind::OnlyLeft;
  onlyLeft.left.kind = platform::EntryKind::File;
  TSyncRow both = onlyLeft;
  both.kind = TSyncKind::LeftNewer;
  both.right.kind = platform::EntryKind::File;
  TSyncRow clash = both;
  clash.kind = TSyncKind::KindClash;
  clash.right.kind = platform::EntryKind::Directory;
  struct TCase {
    const TSyncRow& row;
    const char* name;
    bool leave, toRight, toLeft, del;
  } cases[] = {
      {onlyLeft, "only left", true, true, false, true},
      {both, "both sides", true, true, true, false},  // never deletes a pair
      {clash, "clash", true, false, false, false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ActionAllowed(c.row, TSyncAction::Leave), c.leave) << c.name;
    EXPECT_EQ(ActionAllowed(c.row, TSyncAction::ToRight), c.toRight) << c.name;
    EXPECT_EQ(ActionAllowed(c.row, TSyncAction::ToLeft), c.toLeft) << c.name;
    EXPECT_EQ(ActionAllowed(c.row, TSyncAction::Delete), c.del) << c.name;
  }
}

TEST(DirSyncPlan, LinksAreComparedByTargetAndNeverFollowed) {
  TempDir tmp;
  const std::string l = tmp / "l", r = tmp / "r";
  MakeDir(l + "/real"), MakeDir(r);
  File(l + "/real/inside.txt", "x", kOld);
  ASSERT_EQ(::symlink("real", (l + "/to-dir").c_str()), 0);      // only left, a link to a directory
  ASSERT_EQ(::symlink("a", (l + "/same").c_str()), 0);
  ASSERT_EQ(::symlink("a", (r + "/same").c_str()), 0);           // equal targets: no row
  ASSERT_EQ(::symlink("one", (l + "/moved").c_str()), 0);
  ASSERT_EQ(::symlink("two", (r + "/moved").c_str()), 0);        // other targets
  File(l + "/link-or-file", "f", kOld);
  ASSERT_EQ(::symlink("elsewhere", (r + "/link-or-file").c_str()), 0);
  TSyncOptions options;
  options.bothWays = false;
  TSyncPlan plan = TDirSync().Plan(l, r, options);
  // The links' own times are those of their making: compare without dates.
  std::string rows = Describe(plan);
  EXPECT_NE(rows.find("link-or-file clash =\n"), std::string::npos) << rows;
  EXPECT_NE(rows.find("to-dir only-left ->\n"), std::string::npos) << rows;
  EXPECT_EQ(rows.find("to-dir/"), std::string::npos) << "a link is not entered: " << rows;
  EXPECT_EQ(rows.find("same"), std::string::npos) << rows;
  EXPECT_NE(rows.find("moved "), std::string::npos) << rows;

  // Run one way: the links arrive as links, the clash stays.
  for (TSyncRow& row : plan.rows)
    if (row.path == "moved") row.action = TSyncAction::ToRight;
  TFMOperation op;
  ScriptedPrompt prompt;
  op.SetPrompt(&prompt);
  RunSync(plan, op);
  EXPECT_TRUE(IsLink(r + "/to-dir", "real"));
  EXPECT_TRUE(IsLink(r + "/moved", "one"));
  EXPECT_TRUE(IsLink(r + "/link-or-file", "elsewhere"));
  EXPECT_TRUE(op.Failures().empty());
}

// The run of every action kind on the trees above, then a second plan.
TEST(DirSyncRun, EveryActionAndThenNothingIsLeftToDo) {
  TTrees t;
  TDirSync sync;
  TSyncPlan plan = sync.Plan(t.left, t.right, TSyncOptions{});
  for (TSyncRow& row : plan.rows) {
    if (row.path == "size.txt") row.action = TSyncAction::ToLeft;         // a conflict decided by hand
    if (row.path == "only-right.txt") row.action = TSyncAction::Delete;   // removed from the right
    if (row.path == "right-empty") row.action = TSyncAction::Delete;
    if (row.path == "clash") row.action = TSyncAction::ToRight;           // not allowed: stays
  }
  TFMOperation op;
  ScriptedPrompt prompt;  // no overwrite questions: the plan saw every destination
  op.SetPrompt(&prompt);
  std::vector<int> percents;
  op.OnGlobalDone = [&](TFMOperation&, int p) { percents.push_back(p); };
  const TSyncOutcome outcome = RunSync(plan, op);
  EXPECT_FALSE(outcome.aborted);
  EXPECT_TRUE(outcome.changed.empty());
  EXPECT_TRUE(op.Failures().empty());
  EXPECT_TRUE(prompt.log.empty()) << prompt.log.front();
  EXPECT_EQ(outcome.done, 8u);

  struct TExpect {
    const char* path;
    const char* text;  // nullptr: must not exist
  } expected[] = {
      {"right/only-left.txt", "l"},      {"right/newer.txt", "new"},
      {"left/older.txt", "new"},         {"left/size.txt", "three"},
      {"right/only-right.txt", nullptr}, {"left/only-right.txt", nullptr},
      {"right/right-empty", nullptr},    {"right/left-tree/sub/b.txt", "bbb"},
      {"right/both/deep/changed.c", "left"}, {"right/clash", "file"},
  };
  for (const TExpect& e : expected) {
    if (e.text == nullptr) {
      EXPECT_FALSE(Exists(t.tmp / e.path)) << e.path;
    } else {
      ASSERT_TRUE(Exists(t.tmp / e.path)) << e.path;
      EXPECT_EQ(ReadFile(t.tmp / e.path), e.text) << e.path;
    }
  }
  // One progress from 0 to 100 over the whole run.
  ASSERT_FALSE(percents.empty());
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);

  // Copies keep their times, so a second comparison finds only the clash.
  EXPECT_EQ(Describe(sync.Plan(t.left, t.right, TSyncOptions{})), "clash clash =\n");
}

TEST(DirSyncRun, SidesThatChangedSinceTheComparisonAreNotOverrun) {
  TTrees t;
  TSyncOptions mirror;
  mirror.bothWays = false;
  mirror.deleteExtra = true;
  const TSyncPlan plan = TDirSync().Plan(t.left, t.right, mirror);
  // Meanwhile: the right's newer.txt is rewritten, a file appears where
  // only-left.txt goes, only-right.txt (to be deleted) changes, and the
  // source of size.txt goes away.
  File(t.right + "/newer.txt", "edited meanwhile", kNew + 100);
  File(t.right + "/only-left.txt", "appeared", kNew);
  File(t.right + "/only-right.txt", "grown meanwhile", kNew);
  ASSERT_EQ(::unlink((t.left + "/size.txt").c_str()), 0);

  TFMOperation op;
  ScriptedPrompt prompt;
  prompt.overwriteAnswers = {TOverwriteAnswer::No, TOverwriteAnswer::No};
  op.SetPrompt(&prompt);
  const TSyncOutcome outcome = RunSync(plan, op);
  EXPECT_EQ(prompt.Questions("Overwrite file newer.txt?"), 1);
  EXPECT_EQ(prompt.Questions("Overwrite file only-left.txt?"), 1);
  EXPECT_EQ(ReadFile(t.right + "/newer.txt"), "edited meanwhile");
  EXPECT_EQ(ReadFile(t.right + "/only-left.txt"), "appeared");
  EXPECT_EQ(outcome.changed, std::vector<std::string>{"only-right.txt"});
  EXPECT_EQ(ReadFile(t.right + "/only-right.txt"), "grown meanwhile");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].kind, fileops::TFMMessageKind::NotFound);
  EXPECT_EQ(ReadFile(t.right + "/size.txt"), "three");
  // What did not change went through.
  EXPECT_EQ(ReadFile(t.right + "/both/deep/changed.c"), "left");
  EXPECT_FALSE(Exists(t.right + "/right-empty"));
}

TEST(DirSyncRun, SkipAllCoversTheWholeRunAndAbortEndsIt) {
  struct TCase {
    const char* what;
    TMessageAnswer first;
    size_t shown;     // messages shown
    int skipped;      // kept from being shown by Skip all
    bool reached;     // z.txt, after the failures, was copied
  } cases[] = {
      {"Skip", TMessageAnswer::Ok, 3, 0, true},
      {"Skip all", TMessageAnswer::SkipAll, 1, 2, true},
      {"Abort", TMessageAnswer::Abort, 1, 0, false},
  };
  for (const TCase& c : cases) {
    TempDir tmp;
    const std::string l = tmp / "l", r = tmp / "r";
    MakeDir(l), MakeDir(r);
    for (const char* name : {"a.txt", "b.txt", "c.txt", "z.txt"}) File(l + "/" + name, name, kOld);
    const TSyncPlan plan = TDirSync().Plan(l, r, TSyncOptions{});
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) ASSERT_EQ(::unlink((l + "/" + name).c_str()), 0);
    TFMOperation op;
    ScriptedPrompt prompt;
    prompt.messageAnswers = {c.first};
    op.SetPrompt(&prompt);
    const TSyncOutcome outcome = RunSync(plan, op);
    EXPECT_EQ(prompt.messages.size(), c.shown) << c.what;
    EXPECT_EQ(op.SkippedCount(), c.skipped) << c.what;
    EXPECT_EQ(op.Failures().size(), c.first == TMessageAnswer::Abort ? 1u : 3u) << c.what;
    EXPECT_EQ(Exists(r + "/z.txt"), c.reached) << c.what;
    EXPECT_EQ(outcome.aborted, !c.reached) << c.what;
    // The engine is itself again after the run, also after an abort.
    MakeDir(tmp / "again");
    op.CopyFiles({"z.txt"}, l, tmp / "again");
    EXPECT_TRUE(Exists(tmp / "again/z.txt")) << c.what;
    EXPECT_TRUE(op.Failures().empty()) << c.what;
  }
}

TEST(DirSyncRun, OverwriteAllHoldsForTheRestOfTheRun) {
  TempDir tmp;
  const std::string l = tmp / "l", r = tmp / "r";
  MakeDir(l), MakeDir(r);
  for (const char* name : {"a", "b", "c"}) File(l + "/" + name, "new", kNew);
  const TSyncPlan plan = TDirSync().Plan(l, r, TSyncOptions{});
  for (const char* name : {"a", "b", "c"}) File(r + "/" + name, "appeared", kOld);
  TFMOperation op;
  ScriptedPrompt prompt;
  prompt.overwriteAnswers = {TOverwriteAnswer::All};
  op.SetPrompt(&prompt);
  RunSync(plan, op);
  EXPECT_EQ(prompt.log.size(), 1u);
  for (const char* name : {"a", "b", "c"}) EXPECT_EQ(ReadFile(r + "/" + name), "new") << name;
}

}  // namespace
}  // namespace vantrel::tools
