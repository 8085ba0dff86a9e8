// source_copy.h - copying and moving between any two panel sources.
//
// The local copy (fmoperation.h) works on directories of the disk; this one
// copies from any source (a local directory, a place inside an archive) to
// any other, with the same user's side: the same TFMPrompt questions
// ("Overwrite file …?" with Yes, No, All, None and Cancel, "Abort
// operation?"), the same messages with Skip, Skip all, Abort and Retry, and
// the same progress in per cent.
//
// Files are never written in place: into a directory each file goes to a
// nameless file that takes its name only when complete; into an archive the
// whole copy is one change of the archive (one rewrite, however many
// files), made only after every question was answered, so that Cancel, a
// failure or a full disk leaves the archive byte for byte. Names that are
// not names (".", "..", empty, with "/" or NUL) are refused, never written.
//
// A move deletes from the source only the names copied whole, and only
// after all of the copy is safely written.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fileops/fmoperation.h"
#include "vfs/source.h"

namespace vantrel::fileops {

class TSourceCopy final {
 public:
  using TGlobalDone = std::function<void(TSourceCopy& sender, int percent)>;

  bool ConfirmOverwrite = true;
  // Asked for an existing destination (by the item's path below the source
  // place) before the overwrite question: true replaces it unasked, as a
  // synchronisation does with a destination it saw and planned to replace.
  std::function<bool(const std::string& path, const vfs::TEntry& existing)> ReplaceUnasked;
  // More changes of an archive destination that go with CopyPaths into it,
  // in its one rewrite (a synchronisation's deletions there): all of it is
  // made, or nothing. AlsoApplied() tells which. Not used for a directory.
  vfs::TChangeSet AlsoApply;
  bool AlsoApplied() const { return alsoApplied_; }

  // Set by the window's Cancel (from any thread); answered with "Abort
  // operation?" before the next item and between blocks.
  std::atomic<bool> OperationAborted{false};
  TGlobalDone OnGlobalDone;
  std::chrono::milliseconds ProgressInterval{50};
  // From one archive into another the data are read before the rewrite:
  // this much of them in memory, the rest in a private temporary file.
  uint64_t ReadAheadMemory = 64u << 20;
  void SetPrompt(TFMPrompt* prompt) { prompt_ = prompt; }
  // A job's hold on the copy, checked wherever a cancel is heard (before
  // each item, between two blocks, inside an archive's rewrite): a paused
  // job waits there, a cancelled one ends at once without "Abort
  // operation?", and an archive being rewritten stays as it was.
  void SetGate(TFMGate* gate) { gate_ = gate; }

  // Copies the entries `names` of the place `fromDir` of `from` into the
  // place `toDir` of `to`, directories with everything below them.
  void Copy(const std::vector<std::string>& names, vfs::TSource& from, const std::string& fromDir,
            vfs::TSource& to, const std::string& toDir);
  // Copies the entries at `paths` below `fromDir` ("a/b/c.txt", "/" between
  // names) to the same paths below `toDir`, all of them one change of an
  // archive. The directories above a path that the destination lacks are
  // made first. Completed() lists the paths copied whole.
  void CopyPaths(const std::vector<std::string>& paths, vfs::TSource& from, const std::string& fromDir,
                 vfs::TSource& to, const std::string& toDir);
  // Copies, then deletes from `from` the names copied whole. Inside one
  // archive the entries are renamed instead, in one rewrite that keeps
  // their stored bytes.
  void Move(const std::vector<std::string>& names, vfs::TSource& from, const std::string& fromDir,
            vfs::TSource& to, const std::string& toDir);

  const std::vector<TFMMessage>& Failures() const { return failures_; }
  int SkippedCount() const { return skipped_; }
  const std::vector<std::string>& Completed() const { return completed_; }
  bool AbortChosen() const { return abortChosen_; }
  // The last copy ended early: Cancel in a question, Abort, a cancelled job.
  bool Stopped() const { return stopped_; }
  const std::string& CurrentItem() const { return currentItem_; }
  // The items of the copy (files and directories, everything below the
  // names) and how many of them were handled so far.
  uint64_t ItemCount() const { return items_.size(); }
  uint64_t ItemsDone() const { return itemsDone_; }
  double Done() const { return done_; }
  double Total() const { return total_; }

 private:
  struct TItem {
    std::string path;  // relative to fromDir
    vfs::TEntry entry;
    bool ok = false;
  };
  enum class TOutcome { Go, Stop };
  struct TRun;
  class TReadAhead;
  struct TAheadPiece;

  void Begin();
  // How the run writes: one batch or item by item, by name or through data.
  void Prepare(TRun& run);
  // Whether the file systems a copy from one archive into another writes on
  // (the data kept aside, the rewritten archive) have the room it needs;
  // false after a message naming what is needed and what is free.
  bool RoomFor(TRun& run);
  // The directories above `path` the destination lacks (and `listed` does
  // not hold yet), as items.
  void ListParents(const std::string& path, vfs::TSource& from, const std::string& fromDir, vfs::TSource& to,
                   const std::string& toDir, std::vector<std::string>& listed);
  bool ListItems(const std::vector<std::string>& names, vfs::TSource& from, const std::string& fromDir);
  void AddTree(vfs::TSource& from, const std::string& fromDir, const std::string& path);
  TOutcome CopyItem(TRun& run, size_t index);
  TOutcome CopyDirectory(TRun& run, size_t index);
  TOutcome CopyFile(TRun& run, size_t index);
  // Reads the data of the file `index` out of the source ahead of the
  // rewrite; `piece` stays null when it was skipped after a message.
  TOutcome ReadAhead(TRun& run, size_t index, double fileStart, std::shared_ptr<TAheadPiece>& piece);
  // The target of the link `item`; false after a message when it has none.
  bool LinkTarget(TRun& run, const TItem& item, std::string& target);
  // The overwrite question for an existing destination; skip when it stays.
  TOutcome MayReplace(TRun& run, size_t index, const vfs::TEntry& existing, bool& skip);
  // Applies what was collected for the destination (all of it for an
  // archive, one item for a directory).
  bool Flush(TRun& run, const std::vector<size_t>& items);
  TOutcome AbortCheck();
  void Progress(double done);
  bool Report(TFMMessageKind kind, const std::string& item, int error, const std::string& reason = {});
  void CollectCompleted();
  // A move inside one archive: the directories its merges leave behind.
  void DeleteLeftovers(TRun& run);

  TFMPrompt* prompt_ = nullptr;
  TFMGate* gate_ = nullptr;
  bool moving_ = false;  // the copy is a move's (inside one archive: renames)
  uint64_t itemsDone_ = 0;
  std::vector<TItem> items_;
  std::vector<TFMMessage> failures_;
  std::vector<TFMMessageKind> skipKinds_;
  std::vector<std::string> completed_;
  int skipped_ = 0;
  bool alsoApplied_ = false;  // AlsoApply went in with the last rewrite
  bool stopped_ = false;      // the last copy ended early
  bool stopNow_ = false;
  bool abortChosen_ = false;
  bool retry_ = false;
  std::string currentItem_;
  double done_ = 0;
  double total_ = 0.00001;
  std::chrono::steady_clock::time_point lastEvent_;
};

}  // namespace vantrel::fileops
