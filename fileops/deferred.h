// deferred.h - questions a background job keeps for its end.
//
// A job in the background never stands still on a question. Its engine asks
// through a TDeferringPrompt: while deferring, an overwrite question is
// answered "No" for now and the conflict kept (where it was, which item),
// and a failing item is skipped and kept for the job's report; the engine
// goes on with the items that need no answer. At the end the kept conflicts
// are settled in one go, with one choice for all of them (overwrite, skip,
// rename) or each asked as usual; the failed items can be tried again.
// While the job runs in front, questions pass straight through.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fileops/fmoperation.h"

namespace vantrel::fileops {

// One conflict kept for the end: the source item `name` in `sourceDir`
// would replace `destDir`/`destName`.
struct TDeferredConflict {
  std::string sourceDir;
  std::string destDir;
  std::string name;      // a bare name in sourceDir
  std::string destName;  // a bare name in destDir
  std::string item;      // the destination's path as the question named it
  std::string sourceRoot;  // the run's source directory (a move's emptied directories go up to it)
};

// The one answer to every kept conflict of a job.
enum class TConflictChoice { OverwriteAll, SkipAll, RenameAll, DecideEach };

class TDeferringPrompt final : public TFMPrompt {
 public:
  // `deferring` says whether questions are kept for the end (the job went
  // to the background); whoever holds it may switch it from any thread.
  explicit TDeferringPrompt(TFMPrompt& inner,
                            std::shared_ptr<std::atomic<bool>> deferring = std::make_shared<std::atomic<bool>>(false))
      : inner_(inner), deferring_(std::move(deferring)) {}

  void SetDeferring(bool on) { *deferring_ = on; }
  bool Deferring() const { return *deferring_; }
  // Called after each change of the kept questions (on the engine's thread).
  std::function<void(size_t conflicts, size_t failures)> OnKept;

  // The engine run now starting: its source and destination directories,
  // the names it was given and the name the one of them takes at the
  // destination (empty: its own), so that a kept conflict knows its source.
  void SetRun(const std::string& sourceDir, const std::string& destDir, const std::vector<std::string>& names,
              const std::string& destName = {});

  TOverwriteAnswer AskOverwrite(const std::string& item, const std::string& text) override;
  TOverwriteAnswer AskOverwriteFacts(const std::string& item, const std::string& text, const TFileFacts& source,
                                     const TFileFacts& dest) override;
  bool AskAbort(const std::string& text) override { return inner_.AskAbort(text); }
  TMessageAnswer ShowMessage(const TFMMessage& message) override;

  // What was kept, taken away.
  std::vector<TDeferredConflict> TakeConflicts();
  std::vector<TFMMessage> TakeFailures();

 private:
  bool Keep(const std::string& item);

  TFMPrompt& inner_;
  std::shared_ptr<std::atomic<bool>> deferring_;
  std::mutex mutex_;  // the kept lists, read by the end on another thread
  std::vector<TDeferredConflict> conflicts_;
  std::vector<TFMMessage> failures_;
  std::string sourceDir_, destDir_, destName_;
  std::vector<std::string> names_;
};

// "name (2).ext", "name (3).ext"...: the first such name not taken in `dir`.
std::string FreeName(const std::string& dir, const std::string& name);

// Settles kept conflicts by copying (or moving) each item again with
// `engine`: replacing the file there, under a free name beside it, or
// asking `engine`'s prompt about each; SkipAll leaves them. A moved item's
// source directories that became empty go too (up to the run's own).
void SettleConflicts(TFMOperation& engine, const std::vector<TDeferredConflict>& conflicts,
                     TConflictChoice choice, bool move);

}  // namespace vantrel::fileops
