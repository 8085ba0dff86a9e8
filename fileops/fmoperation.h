// fmoperation.h - the copy, move and delete engine.
//
// TFMOperation copies, moves and deletes a set of files and directory trees
// named relative to one directory. It first expands the names into a flat
// work list in pre-order (a directory before everything below it; inside a
// directory its subdirectories, each followed by its own tree, before its
// files), then handles the list item by item. It asks its questions and
// reports each failing item through a TFMPrompt, goes on with the next item
// after a failure, and raises OnGlobalDone after each item and, while a large
// file is being copied, about every ProgressInterval.
//
// The engine runs synchronously on the caller's thread. A progress window
// serves its pending window messages inside OnGlobalDone; its Cancel button
// sets OperationAborted, which the engine notices before the next item and
// between two blocks of a file, and answers with "Abort operation?".
//
// A job runs the engine on a worker thread and holds it through a TFMGate:
// the gate is passed wherever the abort check runs, so a pause or a cancel
// takes effect between two blocks of a large file as well.
//
// Names and paths are byte strings; relative item paths use "/".
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <set>
#include <unordered_set>
#include <vector>

namespace vantrel::platform {
struct EntryInfo;
class SourceFile;
}  // namespace vantrel::platform

namespace vantrel::fileops {

// The answers to "Overwrite file …?". None leaves this file and every other
// existing one of the operation as they are, without asking again.
enum class TOverwriteAnswer { Yes, No, Cancel, All, None };

// What went wrong with one item. Each kind has its own fixed text.
enum class TFMMessageKind {
  CouldNotCopy,         // "Could not copy file " + item
  CouldNotCreateDir,    // "Could not create directory " + item
  CouldNotDelete,       // "Could not delete file " + item (files and directories)
  OntoItself,           // "Could not copy file " + item + " onto itself"
  IntoItself,           // "Could not copy directory " + item + " into itself"
  NotFound,             // "Could not find file " + item (it vanished after listing)
  InvalidName,          // "Invalid file name " + name (empty, "." or "..", or holds "/")
};

struct TFMMessage {
  TFMMessageKind kind = TFMMessageKind::CouldNotCopy;
  std::string item;    // the item's path relative to the operation's directory
  std::string text;    // the complete text to show
  int error = 0;       // the system's error number behind it, 0 when there is none
  std::string reason;  // the system's text for `error` ("Permission denied"), empty for 0
};

// The answers to a failing item's message.
enum class TMessageAnswer {
  Ok,       // Skip: go on with the next item
  SkipAll,  // go on, and count the rest of this operation's failures of this kind unshown
  Abort,    // end the operation now (OperationAborted is set)
  Retry,    // try the item again (where the failure came from an item's copy or removal)
};

// Size and modification time of one side of an overwrite question.
struct TFileFacts {
  uint64_t size = 0;
  int64_t writeTime = 0;  // seconds since 1970-01-01 UTC
};

// The user's side of an operation: a progress window answers with message
// boxes, tests answer from a script. All calls come on the engine's thread,
// in the middle of the operation.
class TFMPrompt {
 public:
  virtual ~TFMPrompt() = default;
  // "Overwrite file " + item + "?" with Yes, No, All, None and Cancel
  // (caption "Confirm", question icon). `item` is the destination's path
  // relative to the destination directory; `text` is the complete question.
  virtual TOverwriteAnswer AskOverwrite(const std::string& item, const std::string& text) = 0;
  // "Abort operation?" with Yes and No (caption "Confirm"). True for Yes.
  virtual bool AskAbort(const std::string& text) = 0;
  // The same question with the size and time of the file to be copied and
  // of the one it would replace; by default asked as above.
  virtual TOverwriteAnswer AskOverwriteFacts(const std::string& item, const std::string& text,
                                             const TFileFacts& source, const TFileFacts& dest) {
    (void)source;
    (void)dest;
    return AskOverwrite(item, text);
  }
  // A failing item: its fixed text, then the system's reason, with "Skip",
  // "Skip all", "Abort" and "Retry".
  virtual TMessageAnswer ShowMessage(const TFMMessage& message) = 0;
};

// A job's hold on a running engine. Pass is called from the engine's thread
// at every abort check (before each item, between two blocks of a file, while
// listing); it blocks while the job is paused and returns false once the job
// was cancelled. The engine then ends at once, without "Abort operation?".
class TFMGate {
 public:
  virtual ~TFMGate() = default;
  virtual bool Pass() = 0;
};

// The fixed texts.
std::string OverwriteQuestion(const std::string& item);  // "Overwrite file <item>?"
inline constexpr const char* kAbortQuestion = "Abort operation?";
std::string MessageText(TFMMessageKind kind, const std::string& item);

class TFMOperation final {
 public:
  // Progress: `percent` (0 to 100) is the share of the operation's bytes
  // handled so far, truncated. A move runs from 0 to 100 twice.
  using TGlobalDone = std::function<void(TFMOperation& sender, int percent)>;

  TFMOperation() = default;
  TFMOperation(const TFMOperation&) = delete;
  TFMOperation& operator=(const TFMOperation&) = delete;

  // Ask before overwriting an existing file at the destination.
  bool ConfirmOverwrite = true;
  // Set by the progress window's Cancel (from OnGlobalDone, or from another
  // thread); cleared at the start of each copy, move and delete and when the
  // user declines to abort. After an operation, true means it was cancelled.
  std::atomic<bool> OperationAborted{false};
  TGlobalDone OnGlobalDone;
  // How often OnGlobalDone is raised while one file is being copied. A copy
  // step takes a few tens of milliseconds at most while the disk keeps up,
  // so with 50 ms the window hears from the engine well within 100 ms, stays
  // responsive, and Cancel is heard inside a large file.
  std::chrono::milliseconds ProgressInterval{50};
  // Threads that write the data of small files going into directories the
  // copy has made (see copy_pool.h): the caller's thread and CopyThreads - 1
  // helpers; 1 copies everything on the caller's thread, and 0 copies every
  // file the usual way, one after another, without the pool. Questions,
  // messages and progress events stay on the caller's thread and in the
  // list's order either way.
  unsigned CopyThreads = DefaultCopyThreads();
  static unsigned DefaultCopyThreads();
  // Files up to this size are handed to those threads; larger ones are
  // copied in place, where the kernel's in-kernel copy does the work.
  static constexpr uint64_t kPooledFileLimit = 1024 * 1024;

  // The prompt the engine asks and reports through; the caller keeps it alive.
  // Without one, overwrite questions are answered No, "Abort operation?" Yes,
  // and messages are dropped: nothing is ever overwritten silently.
  void SetPrompt(TFMPrompt* prompt) { prompt_ = prompt; }
  // Where the questions go, for another engine of the same operation.
  TFMPrompt* Prompt() const { return prompt_; }
  // The gate of the job that runs this engine, or null; the caller keeps it alive.
  void SetGate(TFMGate* gate) { gate_ = gate; }

  // Copies each named file or tree from `sourceDir` to `destDir`. Names are
  // bare entry names in `sourceDir`; the list stays the caller's. With
  // `destName`, the one name of `names` is copied into `destDir` under that
  // name (a bare name as well; see copy_target.h for how a typed destination
  // comes to this). One operation at a time: a copy, move or delete started
  // while another runs (from inside OnGlobalDone) does nothing.
  void CopyFiles(const std::vector<std::string>& names, const std::string& sourceDir,
                 const std::string& destDir, const std::string& destName = {});
  // A copy pass followed by a removal pass that removes only what was copied:
  // an item left out of the copy (declined, failed, refused, vanished) stays,
  // and so does every directory above it.
  void MoveFiles(const std::vector<std::string>& names, const std::string& sourceDir,
                 const std::string& destDir, const std::string& destName = {});
  // Deletes each named file or tree in `dir`, without asking.
  void DeleteFiles(const std::vector<std::string>& names, const std::string& dir);
  // The total size in bytes of the named files and trees in `dir` (the current
  // directory when empty); a set without any bytes yields 0.00001. Safe to
  // call while an operation runs.
  double GetTotalSize(const std::vector<std::string>& names, const std::string& dir = {});

  // One operation made of several copies and deletes (a synchronisation of
  // two directories does one per entry it was asked to handle). Between
  // BeginBatch and EndBatch the calls share what one call keeps to itself:
  // the failures and the "Skip all" answers, "All" and "None" to overwrite
  // questions, and the progress, which runs once from 0 to 100 over
  // `totalBytes` (what the calls copy and delete). Once the user chose to
  // abort, every later call of the batch returns at once. Completed() still
  // tells about the last call alone.
  void BeginBatch(double totalBytes);
  void EndBatch();
  bool BatchStopped() const { return batch_ && (stopNow_ || abortChosen_); }

  // Every item that failed in the last operation, in order, shown or not.
  const std::vector<TFMMessage>& Failures() const { return failures_; }
  // How many of them "Skip all" kept from being shown.
  int SkippedCount() const { return skipped_; }
  // The names handed to the last operation that it handled whole: copied
  // (with everything below them), moved, or deleted. A name that failed
  // anywhere in its tree, was declined or never reached is not among them.
  const std::vector<std::string>& Completed() const { return completed_; }
  // The user ended the last operation: "Yes" to "Abort operation?" or
  // "Abort" in a message. (Cancel pressed while the last item was handled
  // sets OperationAborted without a question.)
  bool AbortChosen() const { return abortChosen_; }

  // While an operation runs (for its progress handler): the item being
  // handled, the bytes handled so far in this pass and the pass's total.
  const std::string& CurrentItem() const { return currentItem_; }
  double Done() const { return BytesDone; }
  double Total() const { return TotalBytes; }
  // The bytes of the last progress event: inside a large file, what of it
  // is copied so far (Done already counts the whole file).
  double ShownDone() const { return shownDone_; }
  // The items of the pass handled so far and the pass's item count.
  size_t ItemsDone() const { return itemsDone_; }
  size_t ItemCount() const { return FileList.size(); }

 private:
  enum class Pass { Copy, Delete, Size };
  enum class Outcome { Go, Stop };

  struct Item {
    std::string path;        // relative to the operation's directory
    bool directory = false;  // as listed
    bool file = false;       // a regular file, as listed
    uint64_t size = 0;       // as listed
    int listError = 0;       // a directory whose contents could not be listed
  };

  // Expands `names` into `list` in pre-order and sums the sizes of its files
  // into `total` (never 0).
  void BuildFileList(const std::vector<std::string>& names, const std::string& dir, Pass pass,
                     std::vector<Item>& list, double& total);
  void AddDirectoryTree(const std::string& base, size_t index, Pass pass, std::vector<Item>& list,
                        double& total);

  // Copy pass over FileList; returns Stop when the operation must end at once.
  Outcome CopyPass(const std::string& sourceDir, const std::string& destDir,
                   const std::string& destName);
  // Whether `destName` can stand for the one name of `names`; reported when not.
  bool AcceptDestName(const std::vector<std::string>& names, const std::string& destName);
  // Its steps, for item `index` of FileList.
  struct TCopyRun;
  Outcome CopyItem(TCopyRun& run, size_t index);
  Outcome CopyItemNow(TCopyRun& run, size_t index);
  // The pooled copies: handing one over, taking them back in order, and
  // dropping those not taken back when the operation ends early.
  enum class Handed { No, Yes, Stop };
  Handed HandToPool(TCopyRun& run, size_t index);
  bool OpenPoolDirs(TCopyRun& run, const std::string& parent);
  void SubmitGathered(TCopyRun& run);
  Outcome RetireOne(TCopyRun& run);
  Outcome RetireAll(TCopyRun& run);
  // The item again the usual way from the state before it, until its
  // messages are no longer answered "Retry"; keeps the bytes of the items
  // after it as they were, moved by what this one turned out to weigh.
  Outcome CopyInOrder(TCopyRun& run, size_t index, double before, double listed, bool check);
  void DropPending(TCopyRun& run);
  bool SkipInherited(TCopyRun& run, size_t index);
  bool ExamineSource(TCopyRun& run, size_t index, platform::EntryInfo& s, platform::SourceFile& file,
                     bool& opened);
  void CopyDirectoryItem(TCopyRun& run, size_t index, const platform::EntryInfo& s,
                         const platform::EntryInfo& d);
  void ReadAheadNext(const TCopyRun& run, size_t index) const;
  Outcome CopyFileItem(TCopyRun& run, size_t index, const platform::EntryInfo& s,
                       const platform::EntryInfo& d, platform::SourceFile& file, bool opened);
  Outcome MayReplace(TCopyRun& run, size_t index, const platform::EntryInfo& s,
                     const platform::EntryInfo& d, bool& skip);
  // An item left out: kept in a move, its bytes counted, progress raised.
  void LeaveItem(size_t index, uint64_t size);
  // The start of each copy, move and delete.
  void Begin();
  // Removal pass, last item first. `onlyCopied` restricts it to the items the
  // copy pass left at the destination.
  void RemovePass(const std::string& dir, bool onlyCopied);

  // While a large tree is being listed: raises OnGlobalDone (0 per cent)
  // every ProgressInterval and makes the abort check. False once the user
  // chose to abort; the listing then ends and so does the operation.
  bool ListingTick(Pass pass);
  Outcome AbortCheck();
  void RaiseProgress(double bytesDone);
  // Reports a failing item; true when the user asked to try it again.
  bool Report(TFMMessageKind kind, const std::string& item, int error);
  void MarkKept(size_t index);
  // The names of FileList whose items are all `ok`, into completed_.
  void CollectCompleted(const std::vector<bool>& ok);

  // Whether a call goes on with a batch (true) or starts on its own.
  bool Continuing() const { return batch_ && batchCalls_ > 0; }

  bool batch_ = false;
  int batchCalls_ = 0;
  double batchTotal_ = 0;
  bool batchOverwriteAll_ = false;
  bool batchSkipExisting_ = false;

  TFMPrompt* prompt_ = nullptr;
  TFMGate* gate_ = nullptr;
  size_t itemsDone_ = 0;
  double shownDone_ = 0;
  std::vector<TFMMessage> failures_;
  std::set<TFMMessageKind> skipKinds_;  // answered "Skip all"
  int skipped_ = 0;
  bool stopNow_ = false;  // a message was answered "Abort"
  bool skipQuietly_ = false;  // the item was declined: no progress event for it
  bool retry_ = false;        // the last message was answered "Retry"
  bool abortChosen_ = false;
  std::string currentItem_;
  std::vector<std::string> completed_;
  std::vector<std::string> keptNow_;  // directories MarkKept added for the current item
  // An operation is running: a nested call (from a handler that serves
  // window messages) must not disturb its list.
  bool busy_ = false;
  std::chrono::steady_clock::time_point listingEvent_;
  bool listingStopped_ = false;
  std::vector<Item> FileList;
  double TotalBytes = 0.00001;
  double BytesDone = 0;
  // Per item of the copy pass: its copy is at the destination.
  std::vector<bool> copied_;
  // Per item of the removal pass: it is gone.
  std::vector<bool> removed_;
  // Directories that keep something below them in a move.
  std::unordered_set<std::string> keptDirs_;
};

}  // namespace vantrel::fileops
