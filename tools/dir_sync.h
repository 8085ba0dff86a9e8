// dir_sync.h - synchronising two directories: the differences as a plan with
// an action per row, and the plan carried out as one copy-engine operation.
//
// The plan pairs the two trees by name (bytes, with case). A file present on
// both sides differs by the criteria chosen: the newer modification time
// (times within kTimeTolerance are equal), another size, other data (read
// side by side, only for files of the same size). Symbolic links are links:
// never followed, compared by their targets (and times), copied as links. A
// file on one side and a directory or link on the other is a clash the plan
// never resolves by itself. The masks choose files and links by name;
// directories are always entered.
//
// A directory only one side has is one row for its whole tree when every
// file counts (no masks); with masks, its matching files are rows of their
// own. A directory that holds no file at all is a row only when empty
// directories are synchronised.
//
// Each row gets the action a seasoned user expects by default (newer and
// missing entries copied towards the other side; one way, the right made
// like the left) and any allowed action may be chosen instead.
//
// Either side may be a place inside an archive (a panel source) instead of
// a local directory. A side that cannot be changed (a read-only archive, one
// inside another archive) takes part only as a source: nothing is proposed
// or allowed that would copy into it or delete from it.
//
// Carrying out the plan, nothing is done against a change the plan did not
// see: a destination that appeared or changed since the comparison is
// replaced only after the copy engine's overwrite question; an entry to be
// deleted that changed since is left alone and reported. Into an archive,
// everything copied one way is one change of the archive (one rewrite).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fileops/deferred.h"
#include "fileops/fmoperation.h"
#include "platform/copyfile.h"
#include "tools/file_search.h"

namespace vantrel::fileops {
class TSourceCopy;
}
namespace vantrel::vfs {
class TPasswordProvider;
class TSource;
}  // namespace vantrel::vfs

namespace vantrel::tools {

// Where one side is: a local directory, or a place of a panel source.
struct TSyncPlace {
  std::string path;                      // as shown; the directory itself when local
  std::shared_ptr<vfs::TSource> source;  // null: the local directory `path`
  std::string inner;                     // the place inside `source` ("" its root)
  // A reader of its own of the same archive, for a run on another thread
  // (a reader serves one thread); null with `error` when it cannot be read.
  using TReopen = std::function<std::shared_ptr<vfs::TSource>(vfs::TPasswordProvider* passwords, std::string* error)>;
  TReopen reopen;
  bool Local() const { return source == nullptr; }
};

struct TSyncOptions {
  bool byDate = true;
  bool bySize = true;
  bool byContent = false;
  bool recursive = true;
  bool bothWays = true;          // false: left to right only, the right made like the left
  bool deleteExtra = false;      // one way: what only the right has is proposed for deletion
  bool emptyDirectories = true;  // directories that hold no file are synchronised too
  std::string masks = "*";       // for files and links, ";" between masks
};

enum class TSyncKind : uint8_t {
  OnlyLeft,
  OnlyRight,
  LeftNewer,
  RightNewer,
  Differ,     // same time, other size or data (or link target)
  KindClash,  // a file on one side, a directory or link on the other
};

enum class TSyncAction : uint8_t {
  Leave,
  ToRight,  // copy left to right
  ToLeft,   // copy right to left
  Delete,   // remove it from the side that has it (one-sided rows only)
};

// One side of a row as the comparison saw it.
struct TSyncSide {
  platform::EntryKind kind = platform::EntryKind::Missing;
  uint64_t size = 0;       // a file's bytes; a directory row: the bytes of its tree
  int64_t timeNs = 0;      // modification time, nanoseconds since 1970
  bool Present() const { return kind != platform::EntryKind::Missing; }
};

struct TSyncRow {
  std::string path;  // below both directories, "/" between the parts
  TSyncKind kind = TSyncKind::Differ;
  TSyncAction action = TSyncAction::Leave;
  TSyncSide left, right;
  uint64_t files = 0;  // a directory row: the files (and links) of its tree
};

struct TSyncPlan {
  std::string left, right;           // as shown
  TSyncPlace leftPlace, rightPlace;
  // Why a side cannot be changed (empty: it can); such a side is only read.
  std::string leftReadOnly, rightReadOnly;
  TSyncOptions options;
  std::vector<TSyncRow> rows;  // in path order, a directory before what is below it
  std::vector<TUnreadable> unreadable;
  bool stopped = false;
};

// The action a row gets by default, and whether `action` may be chosen
// for the row (and, with the plan, towards the sides that can be changed).
TSyncAction DefaultAction(TSyncKind kind, const TSyncOptions& options);
bool ActionAllowed(const TSyncRow& row, TSyncAction action);
bool ActionAllowed(const TSyncPlan& plan, const TSyncRow& row, TSyncAction action);

struct TDirSync {
  // Asked between entries and blocks; true stops the comparison.
  std::function<bool()> ShouldStop;

  TSyncPlan Plan(const std::string& left, const std::string& right, const TSyncOptions& options);
  TSyncPlan Plan(const TSyncPlace& left, const TSyncPlace& right, const TSyncOptions& options);
};

struct TSyncOutcome {
  size_t done = 0;                   // rows carried out whole
  std::vector<std::string> changed;  // rows left alone: the side changed since the comparison
  bool aborted = false;
  // The run through panel sources: what failed, and how many failures
  // "Skip all" kept from being shown.
  std::vector<fileops::TFMMessage> failures;
  int skipped = 0;
};

// Carries out the rows' actions with `op` as one operation (its prompt asks
// the questions, its progress runs once over all of it). The engine's
// Failures() tell what failed. `kept`, the prompt of a run that may go to
// the background, is told where each copy goes, so that a question kept for
// the end knows its item.
TSyncOutcome RunSync(const TSyncPlan& plan, fileops::TFMOperation& op, fileops::TDeferringPrompt* kept = nullptr);

// The same through panel sources, for a plan with an archive side (local
// sides work too): `copy` asks the questions through its prompt. `progress`
// hears the bytes done of the whole run and the item at hand, and stops the
// run (after the copy engine's "Abort operation?") by returning false.
// An archive side takes everything of the run as one change (one rewrite):
// what is copied into it and what is deleted from it, all or nothing.
using TSyncProgress = std::function<bool(double done, double total, const std::string& item)>;
TSyncOutcome RunSync(const TSyncPlan& plan, fileops::TSourceCopy& copy, const TSyncProgress& progress = {},
                     fileops::TDeferringPrompt* kept = nullptr);

// Gives each archive side of `plan` a reader of its own (TSyncPlace::reopen)
// for a run on this thread; false with `error` when one cannot be read.
bool ReopenSides(TSyncPlan& plan, vfs::TPasswordProvider* passwords, std::string* error);

// The destinations a run through sources kept for its end (they changed
// since the comparison), settled with one choice: replaced, left, asked
// about one by one through `copy`'s prompt, or copied beside them under a
// free name ("name (2).ext"). Each side changes once more at most.
TSyncOutcome SettleSyncConflicts(const TSyncPlan& plan, fileops::TSourceCopy& copy,
                                 const std::vector<fileops::TDeferredConflict>& conflicts,
                                 fileops::TConflictChoice choice);

}  // namespace vantrel::tools
