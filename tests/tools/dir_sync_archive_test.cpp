// Synchronising with an archive as one side: the plan through the archive's
// listing is the plan of the same tree on disk; copying into a ZIP side is
// one rewrite that unzip accepts; a read-only side (forced, or another
// format) is only read; content is compared through the archive's data.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "fileops/source_copy.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/support/test_support.h"
#include "tests/vfs/vfs_helpers.h"
#include "tools/dir_sync.h"
#include "vfs/archive_source.h"
#include "vfs/local_source.h"
#include "vfs/zip_source.h"

namespace vantrel::tools {
namespace {

using fileops::TOverwriteAnswer;
using fileops::TSourceCopy;
using fileops::testing::ScriptedPrompt;
using test::MakeDir;
using test::Q;
using test::ReadAll;
using test::SetMTime;
using test::Sh;
using test::TempDir;
using test::WriteFile;

constexpr int64_t kOld = 1600000000, kNew = 1700000000;

void File(const std::string& path, std::string_view text, int64_t time) {
  WriteFile(path, text);
  SetMTime(path, time);
}

std::string Describe(const TSyncPlan& plan) {
  static const char* kinds[] = {"only-left", "only-right", "left-newer", "right-newer", "differ", "clash"};
  static const char* actions[] = {"=", "->", "<-", "del"};
  std::string out;
  for (const TSyncRow& row : plan.rows)
    out += row.path + " " + kinds[static_cast<int>(row.kind)] + " " + actions[static_cast<int>(row.action)] + "\n";
  return out;
}

// A source that counts the changes it is asked for, around another one.
class TCounting final : public vfs::TSource {
 public:
  explicit TCounting(std::unique_ptr<vfs::TSource> inner) : inner_(std::move(inner)) {}
  int applies = 0;
  std::string Root() const override { return inner_->Root(); }
  vfs::TCapabilities Capabilities() const override { return inner_->Capabilities(); }
  bool List(const std::string& p, std::vector<vfs::TEntry>& out, vfs::TError* err) override {
    return inner_->List(p, out, err);
  }
  bool Stat(const std::string& p, vfs::TEntry& out, vfs::TError* err) override { return inner_->Stat(p, out, err); }
  bool ReadInto(const std::string& p, vfs::TDataSink& sink, const vfs::TProgress& progress,
                vfs::TError* err) override {
    return inner_->ReadInto(p, sink, progress, err);
  }
  std::unique_ptr<vfs::TReadStream> Open(const std::string& p, vfs::TError* err) override {
    return inner_->Open(p, err);
  }
  bool Apply(const vfs::TChangeSet& changes, const vfs::TProgress& progress, vfs::TError* err) override {
    ++applies;
    return inner_->Apply(changes, progress, err);
  }
  bool BatchesChanges() const override { return inner_->BatchesChanges(); }
  bool Stale() const override { return inner_->Stale(); }
  bool Refresh(vfs::TError* err) override { return inner_->Refresh(err); }

 private:
  std::unique_ptr<vfs::TSource> inner_;
};

// The left a directory, the right the same kind of tree packed by Info-ZIP
// (with its times) and kept on disk beside it for the oracle plan.
struct TZipTrees {
  TempDir tmp;
  std::string left = tmp / "left", right = tmp / "right", archive = tmp / "right.zip";
  std::shared_ptr<TCounting> zip;
  TZipTrees() {
    MakeDir(left + "/both"), MakeDir(right + "/both");
    for (const std::string& side : {left, right}) File(side + "/both/same.txt", "same", kOld);
    File(left + "/only-left.txt", "l", kOld);
    File(right + "/only-right.txt", "r", kOld);
    File(left + "/newer.txt", "new", kNew), File(right + "/newer.txt", "old", kOld);
    File(left + "/older.txt", "old", kOld), File(right + "/older.txt", "new", kNew);
    File(left + "/data.txt", "abcd", kOld), File(right + "/data.txt", "abce", kOld);
    MakeDir(left + "/tree/sub"), File(left + "/tree/sub/deep.txt", "deep", kOld);
    MakeDir(right + "/only-right-dir"), File(right + "/only-right-dir/x.txt", "x", kOld);
    Sh("cd " + Q(right) + " && zip -qr " + Q(archive) + " .");
    Load();
  }
  void Load() {
    vfs::TError err;
    auto source = vfs::TZipSource::Load(archive, archive, nullptr, &err);
    ASSERT_TRUE(source) << err.text;
    zip = std::make_shared<TCounting>(std::move(source));
  }
  TSyncPlace Left() const { return {left, nullptr, {}, {}}; }
  TSyncPlace Right() const { return {archive, zip, {}, {}}; }
  // The archive edited by another program after the comparison: newer.txt
  // replaced by a copy of its own.
  void EditNewerMeanwhile() {
    MakeDir(tmp / "edited");
    File(tmp / "edited/newer.txt", "edited meanwhile", kNew + 100);
    Sh("cd " + Q(tmp / "edited") + " && zip -q " + Q(archive) + " newer.txt");
  }
};

TEST(DirSyncArchive, PlanThroughTheArchiveIsThePlanOfTheSameTreeOnDisk) {
  TZipTrees t;
  TSyncOptions oneWay;
  oneWay.bothWays = false;
  oneWay.deleteExtra = true;
  TSyncOptions content;
  content.byContent = true;
  for (const TSyncOptions& options : {TSyncOptions{}, oneWay, content}) {
    const TSyncPlan onDisk = TDirSync().Plan(t.left, t.right, options);
    const TSyncPlan inArchive = TDirSync().Plan(t.Left(), t.Right(), options);
    EXPECT_EQ(Describe(inArchive), Describe(onDisk));
    EXPECT_TRUE(inArchive.unreadable.empty());
    EXPECT_TRUE(inArchive.rightReadOnly.empty());
  }
  // data.txt differs only in its data, read through the archive's entry.
  TSyncOptions byContent;
  byContent.byContent = true;
  EXPECT_NE(Describe(TDirSync().Plan(t.Left(), t.Right(), byContent)).find("data.txt differ"), std::string::npos);
  EXPECT_EQ(Describe(TDirSync().Plan(t.Left(), t.Right(), TSyncOptions{})).find("data.txt"), std::string::npos);
}

TEST(DirSyncArchive, IntoTheArchiveInOneRewriteAndOutOfIt) {
  TZipTrees t;
  TSyncPlan plan = TDirSync().Plan(t.Left(), t.Right(), TSyncOptions{});
  for (TSyncRow& row : plan.rows)
    if (row.path == "only-right-dir") row.action = TSyncAction::Delete;
  TSourceCopy copy;
  ScriptedPrompt prompt;  // the plan saw every destination: no questions
  copy.SetPrompt(&prompt);
  std::vector<double> done;
  const TSyncOutcome outcome = RunSync(plan, copy, [&](double d, double total, const std::string&) {
    done.push_back(d / total);
    return true;
  });
  EXPECT_TRUE(prompt.log.empty()) << prompt.log.front();
  EXPECT_TRUE(outcome.failures.empty()) << outcome.failures.front().text;
  EXPECT_FALSE(outcome.aborted);
  EXPECT_EQ(outcome.done, 6u);  // only-left, newer, tree (in); older, only-right (out); the deletion
  // Copies in and the deletion: one change of the archive, not one a file.
  EXPECT_EQ(t.zip->applies, 1);
  Sh("unzip -tqq " + Q(t.archive));
  EXPECT_EQ(ReadAll(*t.zip, "newer.txt"), "new");
  EXPECT_EQ(ReadAll(*t.zip, "tree/sub/deep.txt"), "deep");
  EXPECT_EQ(ReadAll(*t.zip, "only-left.txt"), "l");
  EXPECT_EQ(test::ListNames(*t.zip, ""), (std::vector<std::string>{"both/", "data.txt", "newer.txt", "older.txt",
                                                                    "only-left.txt", "only-right.txt", "tree/"}));
  EXPECT_EQ(test::ReadFile(t.left + "/older.txt"), "new");
  EXPECT_EQ(test::ReadFile(t.left + "/only-right.txt"), "r");
  ASSERT_FALSE(done.empty());
  EXPECT_TRUE(std::is_sorted(done.begin(), done.end())) << ::testing::PrintToString(done);
  EXPECT_DOUBLE_EQ(done.back(), 1.0);
  // The archive keeps the times: compared again, nothing is left to do.
  t.Load();
  EXPECT_EQ(Describe(TDirSync().Plan(t.Left(), t.Right(), TSyncOptions{})), "");
}

TEST(DirSyncArchive, ADestinationChangedSinceTheComparisonIsAskedAbout) {
  TZipTrees t;
  const TSyncPlan plan = TDirSync().Plan(t.Left(), t.Right(), TSyncOptions{});
  t.EditNewerMeanwhile();
  ASSERT_TRUE(t.zip->Stale());  // the run reads it again
  TSourceCopy copy;
  ScriptedPrompt prompt;
  prompt.overwriteAnswers = {TOverwriteAnswer::No};
  copy.SetPrompt(&prompt);
  RunSync(plan, copy);
  for (const auto& m : prompt.messages) ADD_FAILURE() << m.text << ": " << m.reason;
  ASSERT_EQ(prompt.log.size(), 1u);
  EXPECT_EQ(prompt.log.front(), "?Overwrite file newer.txt?");
  EXPECT_EQ(ReadAll(*t.zip, "newer.txt"), "edited meanwhile");
  EXPECT_EQ(ReadAll(*t.zip, "only-left.txt"), "l");  // the rest went in
}

// A side that cannot be changed is only a source: nothing is proposed or
// carried out towards it, whatever a row asks.
TEST(DirSyncArchive, AReadOnlyArchiveIsOnlyASource) {
  TZipTrees t;
  Sh("cd " + Q(t.right) + " && tar czf " + Q(t.tmp / "right.tar.gz") + " .");
  struct TCase {
    const char* what;
    std::function<std::shared_ptr<vfs::TSource>()> open;
  } cases[] = {
      {"zip made read-only",
       [&]() -> std::shared_ptr<vfs::TSource> {
         vfs::TError err;
         std::shared_ptr<vfs::TZipSource> zip = vfs::TZipSource::Load(t.archive, t.archive, nullptr, &err);
         if (zip) zip->SetReadOnly("Archives inside archives are read-only here");
         return zip;
       }},
      {"tar.gz", [&]() -> std::shared_ptr<vfs::TSource> {
         vfs::TError err;
         return vfs::TArchiveSource::Load(t.tmp / "right.tar.gz", t.tmp / "right.tar.gz", nullptr, &err);
       }},
  };
  for (const TCase& c : cases) {
    const std::shared_ptr<vfs::TSource> source = c.open();
    ASSERT_TRUE(source) << c.what;
    const std::string before = test::ReadFile(source->Root());
    TSyncPlan plan = TDirSync().Plan(t.Left(), TSyncPlace{source->Root(), source, {}, {}}, TSyncOptions{});
    EXPECT_FALSE(plan.rightReadOnly.empty()) << c.what;
    EXPECT_EQ(Describe(plan),
              "newer.txt left-newer =\nolder.txt right-newer <-\nonly-left.txt only-left =\n"
              "only-right-dir only-right <-\nonly-right.txt only-right <-\ntree only-left =\n")
        << c.what;
    for (TSyncRow& row : plan.rows) {
      EXPECT_FALSE(ActionAllowed(plan, row, TSyncAction::ToRight)) << c.what << " " << row.path;
      if (row.path == "only-right.txt") {
        EXPECT_FALSE(ActionAllowed(plan, row, TSyncAction::Delete)) << c.what;
        row.action = TSyncAction::Delete;  // asked for all the same
      }
      if (row.path == "newer.txt") row.action = TSyncAction::ToRight;
    }
    TSourceCopy copy;
    ScriptedPrompt prompt;
    copy.SetPrompt(&prompt);
    const TSyncOutcome outcome = RunSync(plan, copy);
    EXPECT_TRUE(outcome.failures.empty()) << c.what;
    EXPECT_EQ(test::ReadFile(source->Root()), before) << c.what;  // byte for byte
    EXPECT_EQ(test::ReadFile(t.left + "/older.txt"), "new") << c.what;
    EXPECT_EQ(test::ReadFile(t.left + "/only-right-dir/x.txt"), "x") << c.what;
    ::unlink((t.left + "/only-right-dir/x.txt").c_str()), ::rmdir((t.left + "/only-right-dir").c_str());
    ::unlink((t.left + "/only-right.txt").c_str());
    File(t.left + "/older.txt", "old", kOld);
  }
}


// Cancel at a question of the run drops the whole change of the archive:
// the files going in and the deletion that goes with them.
TEST(DirSyncArchive, CancelLeavesTheArchiveAndItsDeletionsAlone) {
  TZipTrees t;
  TSyncPlan plan = TDirSync().Plan(t.Left(), t.Right(), TSyncOptions{});
  for (TSyncRow& row : plan.rows)
    if (row.path == "only-right.txt") row.action = TSyncAction::Delete;
  t.EditNewerMeanwhile();
  const std::string before = test::ReadFile(t.archive);
  TSourceCopy copy;
  ScriptedPrompt prompt;
  prompt.overwriteAnswers = {TOverwriteAnswer::Cancel};
  copy.SetPrompt(&prompt);
  const TSyncOutcome outcome = RunSync(plan, copy);
  EXPECT_TRUE(outcome.aborted);
  EXPECT_EQ(test::ReadFile(t.archive), before);
  EXPECT_EQ(t.zip->applies, 0);
  EXPECT_NE(::access((t.left + "/only-right-dir").c_str(), F_OK), 0);  // the way back never started
}

// In the background the run asks nothing: a destination that changed since
// the comparison is kept for the end, the rest goes in with the one
// rewrite; at the end one choice settles every kept one, with one more
// change of the archive at most.
TEST(DirSyncArchive, ChangedDestinationsKeptForTheEndAndSettledByOneChoice) {
  using fileops::TConflictChoice;
  struct TCase {
    TConflictChoice choice;
    std::vector<TOverwriteAnswer> asked;  // "Decide each" asks them one by one
    const char* newer;                    // newer.txt in the archive at the end
    const char* beside;                   // "newer (2).txt" in the archive, "" none
    int applies;
  } cases[] = {
      {TConflictChoice::OverwriteAll, {}, "new", "", 2},
      {TConflictChoice::SkipAll, {}, "edited meanwhile", "", 1},
      {TConflictChoice::RenameAll, {}, "edited meanwhile", "new", 2},
      {TConflictChoice::DecideEach, {TOverwriteAnswer::Yes}, "new", "", 2},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.choice));
    TZipTrees t;
    const TSyncPlan plan = TDirSync().Plan(t.Left(), t.Right(), TSyncOptions{});
    t.EditNewerMeanwhile();
    ScriptedPrompt prompt;
    fileops::TDeferringPrompt kept(prompt);
    kept.SetDeferring(true);
    TSourceCopy copy;
    copy.SetPrompt(&kept);
    const TSyncOutcome run = RunSync(plan, copy, {}, &kept);
    EXPECT_TRUE(prompt.log.empty()) << prompt.log.front();
    EXPECT_FALSE(run.aborted);
    EXPECT_EQ(ReadAll(*t.zip, "only-left.txt"), "l");  // the rest went in meanwhile
    const std::vector<fileops::TDeferredConflict> conflicts = kept.TakeConflicts();
    ASSERT_EQ(conflicts.size(), 1u);
    EXPECT_EQ(conflicts.front().item, "newer.txt");
    kept.SetDeferring(false);  // the end asks at once
    prompt.overwriteAnswers.assign(c.asked.begin(), c.asked.end());
    const TSyncOutcome settled = SettleSyncConflicts(plan, copy, conflicts, c.choice);
    EXPECT_TRUE(settled.failures.empty()) << settled.failures.front().text << ": " << settled.failures.front().reason;
    EXPECT_EQ(prompt.Questions("Overwrite file newer.txt?"), static_cast<int>(c.asked.size()));
    EXPECT_EQ(ReadAll(*t.zip, "newer.txt"), c.newer);
    vfs::TEntry beside;
    vfs::TError err;
    EXPECT_EQ(t.zip->Stat("newer (2).txt", beside, &err), *c.beside != '\0');
    if (*c.beside != '\0') { EXPECT_EQ(ReadAll(*t.zip, "newer (2).txt"), c.beside); }
    EXPECT_EQ(t.zip->applies, c.applies);
    Sh("unzip -tqq " + Q(t.archive));
  }
}

// A run on another thread reads the archive through readers of its own:
// the panel's reader is never used there; a side that cannot be read again
// says why; two sides in one archive share the job's one reader.
TEST(DirSyncArchive, ARunReadsThroughReadersOfItsOwn) {
  TZipTrees t;
  std::vector<std::shared_ptr<TCounting>> opened;
  auto reopen = [&](vfs::TPasswordProvider*, std::string* error) -> std::shared_ptr<vfs::TSource> {
    vfs::TError err;
    auto source = vfs::TZipSource::Load(t.archive, t.archive, nullptr, &err);
    if (source == nullptr) {
      *error = err.text;
      return nullptr;
    }
    opened.push_back(std::make_shared<TCounting>(std::move(source)));
    return opened.back();
  };
  TSyncPlace right = t.Right();
  right.reopen = reopen;
  TSyncPlan plan = TDirSync().Plan(t.Left(), right, TSyncOptions{});
  std::string error;
  ASSERT_TRUE(ReopenSides(plan, nullptr, &error)) << error;
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(plan.rightPlace.source, opened.front());
  TSourceCopy copy;
  ScriptedPrompt prompt;
  copy.SetPrompt(&prompt);
  EXPECT_TRUE(RunSync(plan, copy).failures.empty());
  EXPECT_EQ(opened.front()->applies, 1);
  EXPECT_EQ(t.zip->applies, 0);
  EXPECT_TRUE(t.zip->Stale());  // the panel's reader reads it again when it lists next

  // Both sides in the one archive: one reader for both.
  opened.clear();
  TSyncPlace tree = t.Right(), both = t.Right();
  tree.inner = "both", both.inner = "tree";
  tree.reopen = both.reopen = reopen;
  TSyncPlan inside = TDirSync().Plan(tree, both, TSyncOptions{});
  ASSERT_TRUE(ReopenSides(inside, nullptr, &error)) << error;
  EXPECT_EQ(opened.size(), 1u);
  EXPECT_EQ(inside.leftPlace.source, inside.rightPlace.source);

  // Gone meanwhile: no reader, and the reason.
  ::unlink(t.archive.c_str());
  TSyncPlan gone = TDirSync().Plan(t.Left(), right, TSyncOptions{});
  error.clear();
  EXPECT_FALSE(ReopenSides(gone, nullptr, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vantrel::tools
