// zip_job.h - the ZIP engine run as a job on a worker thread.
//
// The engine asks the user through a TZipUserInterface and checks for a
// cancel wherever it lets pending window messages run (between entries,
// every block read and every block written). TZipJobInterface is the
// interface a job hands its engine: the check passes the job's gate (a pause
// stops the engine there, a cancel makes it end as a cancelled run: no new
// archive, the old one as it was, no partial file extracted), and every
// question is carried to the answering thread (the window's) through the
// job, which waits for the answer or its cancel.
//
// A question nobody may answer any more (the job was cancelled meanwhile)
// counts as the safe answer: keep the existing file, cancel the run, No.
//
// In the background an extraction never stands still on an existing file:
// while deferring, the overwrite question is answered No for now and the
// entry kept, and the run goes on with the entries that need no answer. At
// the end one choice settles the kept ones (SettleZipConflicts): a second
// run over exactly those entries that replaces the files, puts each beside
// its file under a free name, or asks for each.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fileops/deferred.h"
#include "fileops/job.h"
#include "zip/zip_ui.h"

namespace vantrel::zip {
class TZipWriter;
}

namespace vantrel::fileops {

// An entry whose file was in the way, kept for the end.
struct TZipConflict {
  std::string entry;  // its path in the archive
  std::string text;   // the question it would have asked
};

class TZipJobInterface final : public zip::TZipUserInterface {
 public:
  TZipJobInterface(TJob& job, zip::TZipUserInterface& answerer, TJobPrompt::TPost post);

  // Keeps overwrite questions for the end while `*deferring` holds (the job
  // went to the background; whoever holds the flag may set it from any
  // thread); null asks at once.
  void SetDeferring(std::shared_ptr<std::atomic<bool>> deferring) { deferring_ = std::move(deferring); }
  // The entries kept, taken away.
  std::vector<TZipConflict> TakeConflicts();
  // The engine's messages (errors) kept while deferring, for the job's
  // report: in the background nothing stands still on a message either.
  std::vector<std::string> TakeMessages();

  // Makes `engine` ask through this interface, stop at the job's gate and
  // publish its progress (bytes of the run, the entry at hand) to the job.
  void Attach(zip::TZipWriter& engine);

  // A question of the caller's own (a password, say), answered on the
  // answering thread; empty when the job was cancelled first.
  std::optional<int> Ask(std::function<int()> ask) { return AskThrough(job_, post_, std::move(ask)); }

  bool ChooseArchive(const std::string& title, const std::string& filter, std::string& name) override;
  bool ChooseDirectory(std::string& dir) override;
  bool AskForDisk(const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  zip::TOverwriteAnswer AskOverwrite(const std::string& text, const std::string& caption,
                                     const zip::TOverwriteFacts& entry,
                                     const zip::TOverwriteFacts& existing) override;
  // The window's cursor is the window's business: nothing from a worker.
  void SetBusyCursor(bool busy) override { (void)busy; }
  // The engine's cancel check: the job's gate.
  void ProcessMessages() override;

 private:
  // A dialog that changes a path in place.
  bool ChoosePath(std::string& path, std::function<bool(zip::TZipUserInterface&, std::string&)> choose);
  void Publish();

  TJob& job_;
  zip::TZipUserInterface& answerer_;
  TJobPrompt::TPost post_;
  zip::TZipWriter* engine_ = nullptr;
  std::string item_;  // the entry being handled
  std::shared_ptr<std::atomic<bool>> deferring_;
  std::mutex mutex_;  // conflicts_, messages_
  std::vector<TZipConflict> conflicts_;
  std::vector<std::string> messages_;
};

// Prepares `engine` (set up to extract exactly the kept entries) for the
// run that settles them with `choice`: OverwriteAll replaces the files,
// RenameAll writes each entry beside its file under the first free name
// "name (2).ext", DecideEach asks for each. False for SkipAll: no run.
bool SettleZipConflicts(zip::TZipWriter& engine, TConflictChoice choice);

}  // namespace vantrel::fileops
