// fmoperation.cpp - the copy, move and delete engine: the work list, the copy
// pass with its questions, the removal pass, progress and the abort check.
#include "fileops/fmoperation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <memory>
#include <string_view>
#include <thread>

#include "fileops/copy_pool.h"
#include "platform/copyfile.h"
#include "platform/fs.h"

namespace vantrel::fileops {

using platform::CopyResult;
using platform::CopyStatus;
using platform::EntryInfo;
using platform::EntryKind;

std::string OverwriteQuestion(const std::string& item) { return "Overwrite file " + item + "?"; }

std::string MessageText(TFMMessageKind kind, const std::string& item) {
  switch (kind) {
    case TFMMessageKind::CouldNotCopy: return "Could not copy file " + item;
    case TFMMessageKind::CouldNotCreateDir: return "Could not create directory " + item;
    case TFMMessageKind::CouldNotDelete: return "Could not delete file " + item;
    case TFMMessageKind::OntoItself: return "Could not copy file " + item + " onto itself";
    case TFMMessageKind::IntoItself: return "Could not copy directory " + item + " into itself";
    case TFMMessageKind::NotFound: return "Could not find file " + item;
    case TFMMessageKind::InvalidName: return "Invalid file name " + item;
  }
  return item;
}

namespace {

// A name the caller hands over must be one entry of the directory: nothing
// that could reach above it or name the directory itself.
bool IsBareName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::string BaseDir(const std::string& dir) { return dir.empty() ? std::string(".") : dir; }

// The parent of a relative item path, or empty for a top-level item.
std::string ParentItem(const std::string& item) {
  const size_t slash = item.find_last_of('/');
  return slash == std::string::npos ? std::string() : item.substr(0, slash);
}

bool IsDenied(int error) { return error == EACCES || error == EPERM; }

// Small files go to the pool in runs of this many: one hand-over, and one
// wait, for each run.
constexpr size_t kPoolBatch = 32;

}  // namespace

// ---------------------------------------------------------------------------
// The work list

void TFMOperation::BuildFileList(const std::vector<std::string>& names, const std::string& dir,
                                 Pass pass, std::vector<Item>& list, double& total) {
  list.clear();
  total = 0;
  if (pass != Pass::Size) {
    listingStopped_ = false;
    listingEvent_ = std::chrono::steady_clock::now();
  }
  const std::string base = BaseDir(dir);
  for (const std::string& name : names) {
    if (!ListingTick(pass)) break;
    if (!IsBareName(name)) {
      Report(TFMMessageKind::InvalidName, name, EINVAL);
      continue;
    }
    EntryInfo info;
    platform::LStat(platform::JoinPath(base, name), info);  // a missing name is reported when handled
    list.push_back(
        Item{name, info.kind == EntryKind::Directory, info.kind == EntryKind::File, info.size, 0});
    if (info.kind == EntryKind::Directory) {
      AddDirectoryTree(base, list.size() - 1, pass, list, total);
    } else {
      total += static_cast<double>(info.size);
    }
  }
  if (total == 0) total = 0.00001;  // the percentage never divides by zero
}

void TFMOperation::AddDirectoryTree(const std::string& base, size_t index, Pass pass,
                                    std::vector<Item>& list, double& total) {
  if (!ListingTick(pass)) return;
  const std::string item = list[index].path;
  const std::string full = platform::JoinPath(base, item);
  // The user chose to delete this tree: make sure its directories can be
  // listed and emptied, as clearing read-only does for files.
  if (pass == Pass::Delete) platform::GrantOwnerAccess(full, S_IRWXU);

  // One enumeration, split into subdirectories and the rest, each group in
  // the order the system returns it. A link is never a directory here, so
  // the walk never leaves the chosen tree.
  std::vector<Item> dirs, others;
  const int error = platform::ListDirectory(full, [&](const char* name, const EntryInfo& info) {
    if (!ListingTick(pass)) return;  // the rest is not needed any more
    if (info.kind == EntryKind::Directory) {
      dirs.push_back(Item{item + "/" + name, true, false, 0, 0});
    } else {
      others.push_back(Item{item + "/" + name, false, info.kind == EntryKind::File, info.size, 0});
    }
  });
  if (error != 0) {
    list[index].listError = error;
    return;
  }
  for (auto& d : dirs) {
    list.push_back(std::move(d));
    AddDirectoryTree(base, list.size() - 1, pass, list, total);
  }
  for (auto& f : others) {
    total += static_cast<double>(f.size);
    list.push_back(std::move(f));
  }
}

// ---------------------------------------------------------------------------
// Questions, messages, progress

bool TFMOperation::ListingTick(Pass pass) {
  if (pass == Pass::Size) return true;  // measuring runs without the window
  if (listingStopped_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - listingEvent_ >= ProgressInterval) {
    listingEvent_ = now;
    if (OnGlobalDone) OnGlobalDone(*this, 0);
  }
  if (AbortCheck() == Outcome::Stop) listingStopped_ = true;
  return !listingStopped_;
}

TFMOperation::Outcome TFMOperation::AbortCheck() {
  if (stopNow_) return Outcome::Stop;  // "Abort" in a message: no second question
  if (gate_ != nullptr && !gate_->Pass()) {
    // The job was cancelled: no question, and no further one either.
    stopNow_ = true;
    OperationAborted = true;
    return Outcome::Stop;
  }
  if (!OperationAborted) return Outcome::Go;
  const bool yes = prompt_ == nullptr || prompt_->AskAbort(kAbortQuestion);
  if (yes) {
    abortChosen_ = prompt_ != nullptr;
    return Outcome::Stop;  // OperationAborted stays set for the caller
  }
  OperationAborted = false;
  return Outcome::Go;
}

void TFMOperation::RaiseProgress(double bytesDone) {
  shownDone_ = bytesDone;
  if (!OnGlobalDone) return;
  const double share = bytesDone * 100.0 / TotalBytes;
  const int percent = share >= 100.0 ? 100 : share <= 0.0 ? 0 : static_cast<int>(share);
  OnGlobalDone(*this, percent);
}

bool TFMOperation::Report(TFMMessageKind kind, const std::string& item, int error) {
  failures_.push_back(
      TFMMessage{kind, item, MessageText(kind, item), error, error != 0 ? platform::ErrorText(error) : ""});
  if (prompt_ == nullptr) return false;
  if (skipKinds_.count(kind) != 0) {
    ++skipped_;
    return false;
  }
  switch (prompt_->ShowMessage(failures_.back())) {
    case TMessageAnswer::SkipAll:
      skipKinds_.insert(kind);
      break;
    case TMessageAnswer::Abort:
      stopNow_ = true;
      abortChosen_ = true;
      OperationAborted = true;
      break;
    case TMessageAnswer::Retry:
      // Tried again: the failure is no longer one of the operation's.
      failures_.pop_back();
      retry_ = true;
      return true;
    case TMessageAnswer::Ok:
      break;
  }
  return false;
}

void TFMOperation::Begin() {
  busy_ = true;
  if (!Continuing()) {
    OperationAborted = false;
    BytesDone = 0;
    failures_.clear();
    skipKinds_.clear();
    skipped_ = 0;
    stopNow_ = false;
    abortChosen_ = false;
  }
  if (batch_) ++batchCalls_;
  completed_.clear();
  currentItem_.clear();
  copied_.clear();
  removed_.clear();
  itemsDone_ = 0;
  shownDone_ = 0;
}

void TFMOperation::MarkKept(size_t index) {
  copied_[index] = false;
  for (std::string parent = ParentItem(FileList[index].path); !parent.empty();
       parent = ParentItem(parent)) {
    if (!keptDirs_.insert(parent).second) break;  // everything above is marked already
    keptNow_.push_back(parent);
  }
}

// The items of one name follow each other in FileList (pre-order).
void TFMOperation::CollectCompleted(const std::vector<bool>& ok) {
  completed_.clear();
  for (size_t i = 0; i < FileList.size();) {
    const std::string& path = FileList[i].path;
    const std::string top = path.substr(0, path.find('/'));
    bool all = true;
    size_t j = i;
    for (; j < FileList.size(); ++j) {
      const std::string& p = FileList[j].path;
      if (p.compare(0, top.size(), top) != 0 || (p.size() > top.size() && p[top.size()] != '/')) break;
      all = all && j < ok.size() && ok[j];
    }
    if (all) completed_.push_back(top);
    i = j;
  }
}

// ---------------------------------------------------------------------------
// The copy pass

// What one copy pass carries from item to item.
struct TFMOperation::TCopyRun {
  std::string source, dest;
  // The destination and every directory above it: a directory among them
  // must not be copied, or the copy would run into itself.
  std::vector<platform::EntryId> destChain;
  uint32_t creationMask = 0;
  // The copy under a new name: the top item `renamedFrom` becomes `renamedTo`.
  std::string renamedFrom, renamedTo;
  bool overwriteAll = false;
  bool skipExisting = false;  // "None": existing files are left without a question

  // The item's path relative to the destination directory, and its full path.
  std::string DestItem(const std::string& item) const {
    if (renamedFrom.empty() || item.compare(0, renamedFrom.size(), renamedFrom) != 0 ||
        (item.size() > renamedFrom.size() && item[renamedFrom.size()] != '/'))
      return item;
    return renamedTo + item.substr(renamedFrom.size());
  }
  std::string DestPath(const std::string& item) const { return platform::JoinPath(dest, DestItem(item)); }
  std::string skipBelow;  // items below a directory that was refused or vanished
  std::string failBelow;  // items below a directory that could not be made
  struct Created {
    std::string path;
    EntryInfo source;
  };
  std::vector<Created> created;
  std::unordered_set<std::string> newDirs;  // items of the directories made
  // Small new files written on the pool, in list order: the batches handed
  // over, the next file to take back in the first of them, and the batch
  // being gathered.
  std::unique_ptr<TCopyPool> pool;
  std::deque<std::shared_ptr<TCopyPool::TBatch>> pending;
  size_t retireAt = 0;
  std::shared_ptr<TCopyPool::TBatch> gathering;
  size_t window = 0;  // how many batches may be under way at once
  // The directories of the files being gathered, and their item.
  std::shared_ptr<const TCopyPool::TDirs> dirs;
  std::string dirsItem;
  // What the files taken back weighed beyond their listed sizes.
  double drift = 0;
  bool Pooling() const { return !pending.empty() || gathering != nullptr; }
};

unsigned TFMOperation::DefaultCopyThreads() {
  return std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
}

void TFMOperation::LeaveItem(size_t index, uint64_t size) {
  MarkKept(index);
  itemsDone_ = index + 1;
  BytesDone += static_cast<double>(size);
  RaiseProgress(BytesDone);
}

bool TFMOperation::SkipInherited(TCopyRun& run, size_t index) {
  const Item& entry = FileList[index];
  const std::string& item = entry.path;
  if (!run.skipBelow.empty() && item.compare(0, run.skipBelow.size(), run.skipBelow) == 0) {
    LeaveItem(index, entry.size);
    return true;
  }
  if (!run.failBelow.empty() && item.compare(0, run.failBelow.size(), run.failBelow) == 0) {
    // Its destination directory is missing: it cannot be copied, and its
    // path there is not even tried, since it may lead through a link.
    Report(entry.directory ? TFMMessageKind::CouldNotCreateDir : TFMMessageKind::CouldNotCopy, item,
           ENOENT);
    LeaveItem(index, entry.size);
    return true;
  }
  return false;
}

// A regular file is examined through the descriptor it is copied from;
// anything else (or a file that changed its kind) by name. False after the
// item was reported and left.
bool TFMOperation::ExamineSource(TCopyRun& run, size_t index, EntryInfo& s,
                                 platform::SourceFile& file, bool& opened) {
  const Item& entry = FileList[index];
  const std::string src = platform::JoinPath(run.source, entry.path);
  opened = false;
  if (entry.file) {
    const int error = file.Open(src);
    opened = error == 0;
    if (opened) {
      s = file.info();
    } else if (error != EINVAL && error != ENOENT) {
      // Unreadable: reported at once, before any question about it.
      Report(TFMMessageKind::CouldNotCopy, entry.path, error);
      LeaveItem(index, entry.size);
      return false;
    }
  }
  if (!opened && !platform::LStat(src, s)) {
    const int error = errno;
    Report(error == ENOENT ? TFMMessageKind::NotFound : TFMMessageKind::CouldNotCopy, entry.path, error);
    if (entry.directory) run.skipBelow = entry.path + "/";
    LeaveItem(index, entry.size);
    return false;
  }
  return true;
}

void TFMOperation::CopyDirectoryItem(TCopyRun& run, size_t index, const EntryInfo& s,
                                     const EntryInfo& d) {
  const Item& entry = FileList[index];
  const std::string& item = entry.path;
  const platform::EntryId id{s.device, s.inode};
  if (std::find(run.destChain.begin(), run.destChain.end(), id) != run.destChain.end() ||
      platform::SameEntry(s, d)) {
    Report(TFMMessageKind::IntoItself, item, EINVAL);
    MarkKept(index);
    run.skipBelow = item + "/";
    return;
  }
  bool ready = d.kind == EntryKind::Directory;  // an existing directory is used as it is
  if (d.kind == EntryKind::Missing) {
    const std::string dst = run.DestPath(item);
    const int error = platform::CreateDirectory(dst);
    if (error != 0) {
      Report(TFMMessageKind::CouldNotCreateDir, item, error);
    } else {
      run.created.push_back(TCopyRun::Created{dst, s});
      run.newDirs.insert(item);
      ready = true;
    }
  } else if (!ready) {
    // A file or a link stands where the directory must go.
    Report(TFMMessageKind::CouldNotCreateDir, item, EEXIST);
  }
  if (!ready) run.failBelow = item + "/";
  if (ready && entry.listError != 0) {
    // Its contents could not be read, so it cannot be copied whole.
    Report(TFMMessageKind::CouldNotCopy, item, entry.listError);
    ready = false;
  }
  if (ready)
    copied_[index] = true;
  else
    MarkKept(index);
}

// Whether an existing destination may be replaced: Go to copy over it, Stop
// to end the operation, and Skip (as Outcome::Go with `skip`) to leave it.
TFMOperation::Outcome TFMOperation::MayReplace(TCopyRun& run, size_t index, const EntryInfo& s,
                                               const EntryInfo& d, bool& skip) {
  const std::string& item = FileList[index].path;
  skip = true;
  if (d.kind == EntryKind::Directory) {
    Report(TFMMessageKind::CouldNotCopy, item, EISDIR);
    MarkKept(index);
    return Outcome::Go;
  }
  if (platform::SameEntry(s, d)) {
    Report(TFMMessageKind::OntoItself, item, EINVAL);
    MarkKept(index);
    return Outcome::Go;
  }
  if (d.kind == EntryKind::File && !(d.mode & S_IWUSR)) {
    // A read-only destination file is protected, as on the desktop systems
    // users know: it is not replaced.
    Report(TFMMessageKind::CouldNotCopy, item, EACCES);
    MarkKept(index);
    return Outcome::Go;
  }
  if (ConfirmOverwrite && !run.overwriteAll) {
    TOverwriteAnswer answer = TOverwriteAnswer::No;
    if (!run.skipExisting && prompt_ != nullptr) {
      const TFileFacts source{s.size, static_cast<int64_t>(s.writeTime.tv_sec)};
      const TFileFacts dest{d.size, static_cast<int64_t>(d.writeTime.tv_sec)};
      const std::string target = run.DestItem(item);
      answer = prompt_->AskOverwriteFacts(target, OverwriteQuestion(target), source, dest);
    }
    if (answer == TOverwriteAnswer::Cancel) return Outcome::Stop;
    if (answer == TOverwriteAnswer::None) run.skipExisting = true;
    if (answer == TOverwriteAnswer::No || answer == TOverwriteAnswer::None) {
      MarkKept(index);
      skipQuietly_ = true;  // no progress event; its bytes stay counted
      return Outcome::Go;
    }
    if (answer == TOverwriteAnswer::All) run.overwriteAll = true;
  }
  skip = false;
  return Outcome::Go;
}

// Once the reading of a large file is asked for up to its end, the next
// large file of the list is asked for, so that the disk does not wait between
// the two. Small files are left to the pool; a look a few items ahead is
// enough (further on, the read would only be evicted before it is used).
void TFMOperation::ReadAheadNext(const TCopyRun& run, size_t index) const {
  constexpr size_t kLook = 16;
  constexpr uint64_t kLarge = 1024 * 1024;
  for (size_t i = index + 1; i < FileList.size() && i <= index + kLook; ++i) {
    const Item& next = FileList[i];
    if (!next.file || next.size <= kLarge) continue;
    platform::ReadAheadFile(platform::JoinPath(run.source, next.path),
                            std::min(next.size, platform::kReadAheadWindow));
    return;
  }
}

TFMOperation::Outcome TFMOperation::CopyFileItem(TCopyRun& run, size_t index, const EntryInfo& s,
                                                 const EntryInfo& d, platform::SourceFile& file,
                                                 bool opened) {
  const std::string& item = FileList[index].path;
  BytesDone += static_cast<double>(s.size);
  const bool replace = d.kind != EntryKind::Missing;
  if (replace) {
    bool skip = false;
    if (MayReplace(run, index, s, d, skip) == Outcome::Stop) return Outcome::Stop;
    if (skip) return Outcome::Go;
  }
  const std::string src = platform::JoinPath(run.source, item);
  const std::string dst = run.DestPath(item);
  CopyResult result;
  if (s.kind == EntryKind::File) {
    if (!opened) {
      const int error = file.Open(src);
      if (error != 0) {
        Report(TFMMessageKind::CouldNotCopy, item, error);
        MarkKept(index);
        return Outcome::Go;
      }
    }
    const double fileStart = BytesDone - static_cast<double>(s.size);
    auto lastEvent = std::chrono::steady_clock::now();
    bool nextAsked = false;
    result = platform::CopyOpenFile(file, dst, replace, [&](uint64_t bytesCopied) {
      if (!nextAsked && s.size - std::min(bytesCopied, s.size) <= platform::kReadAheadWindow) {
        nextAsked = true;
        ReadAheadNext(run, index);
      }
      // The last block needs no event of its own: the item's event follows.
      const auto now = std::chrono::steady_clock::now();
      if (bytesCopied < s.size && now - lastEvent >= ProgressInterval) {
        lastEvent = now;
        RaiseProgress(fileStart + static_cast<double>(bytesCopied));
      }
      return AbortCheck() == Outcome::Go;
    }, run.creationMask);
  } else {
    result = platform::CopySymlink(src, dst, replace);
  }
  if (result.status == CopyStatus::Stopped) return Outcome::Stop;
  if (result.status == CopyStatus::Failed) {
    Report(TFMMessageKind::CouldNotCopy, item, result.error);
    MarkKept(index);
  } else {
    copied_[index] = true;
  }
  return Outcome::Go;
}

TFMOperation::Outcome TFMOperation::CopyItem(TCopyRun& run, size_t index) {
  if (run.pool != nullptr) {
    switch (HandToPool(run, index)) {
      case Handed::Yes: return Outcome::Go;
      case Handed::Stop: return Outcome::Stop;
      case Handed::No: break;
    }
    // Whatever this item asks or reports comes after the earlier items'.
    if (RetireAll(run) == Outcome::Stop) return Outcome::Stop;
  }
  return CopyItemNow(run, index);
}

// A regular file of at most kPooledFileLimit bytes (as listed) going to a
// directory this copy made (so to a free name, with no question possible) is
// written on the pool; anything else takes the usual way, which examines and
// reports it. So does a file the pool declines when it opens it.
TFMOperation::Handed TFMOperation::HandToPool(TCopyRun& run, size_t index) {
  const Item& entry = FileList[index];
  const std::string& item = entry.path;
  if (!entry.file || entry.size > kPooledFileLimit) return Handed::No;
  const size_t slash = item.find_last_of('/');
  if (slash == std::string::npos) return Handed::No;  // a top item: its directory was not made here
  const std::string_view parent(item.data(), slash);
  if (run.dirs == nullptr || parent != run.dirsItem) {
    const std::string dir(parent);
    if (run.newDirs.count(dir) == 0) return Handed::No;
    const auto below = [&](const std::string& prefix) {
      return !prefix.empty() && item.compare(0, prefix.size(), prefix) == 0;
    };
    if (below(run.skipBelow) || below(run.failBelow)) return Handed::No;
    if (!OpenPoolDirs(run, dir)) return Handed::No;
  }
  if (run.gathering == nullptr) {
    run.gathering = std::make_shared<TCopyPool::TBatch>();
    run.gathering->tasks.reserve(kPoolBatch);
  }
  TCopyPool::TTask& task = run.gathering->tasks.emplace_back();
  task.index = index;
  task.dirs = run.dirs;
  task.name = item.substr(slash + 1);
  task.listedSize = entry.size;
  BytesDone += static_cast<double>(entry.size);
  task.bytesAfter = BytesDone - run.drift;
  if (run.gathering->tasks.size() >= kPoolBatch) SubmitGathered(run);
  while (run.pending.size() > run.window) {
    // The oldest batch is taken back whole.
    const size_t left = run.pending.size();
    while (run.pending.size() == left)
      if (RetireOne(run) == Outcome::Stop) return Handed::Stop;
  }
  return Handed::Yes;
}

// The source directory of the files of `parent` and their new destination
// directory, held open for the pool. The destination is opened without
// following a link: it is the very directory this copy made.
bool TFMOperation::OpenPoolDirs(TCopyRun& run, const std::string& parent) {
  auto dirs = std::make_shared<TCopyPool::TDirs>();
  if (dirs->source.Open(platform::JoinPath(run.source, parent), false) != 0 ||
      dirs->dest.Open(run.DestPath(parent), true) != 0)
    return false;
  run.dirs = std::move(dirs);
  run.dirsItem = parent;
  return true;
}

void TFMOperation::SubmitGathered(TCopyRun& run) {
  if (run.gathering == nullptr) return;
  run.pool->Submit(run.gathering);
  run.pending.push_back(std::move(run.gathering));
  run.gathering = nullptr;
}

// Takes back the oldest pooled copy: gives it its name, reports it if it
// failed (a Retry copies it again the usual way), and raises its progress
// event, as if it had been copied just now. A file the pool declined is
// copied the usual way now, which raises its own event.
TFMOperation::Outcome TFMOperation::RetireOne(TCopyRun& run) {
  if (run.pending.empty()) SubmitGathered(run);
  const std::shared_ptr<TCopyPool::TBatch> batch = run.pending.front();
  run.pool->Await(*batch, run.retireAt, run.pending);
  TCopyPool::TTask& task = batch->tasks[run.retireAt];
  if (++run.retireAt == batch->tasks.size()) {
    run.pending.pop_front();
    run.retireAt = 0;
  }
  const size_t index = task.index;
  currentItem_ = FileList[index].path;
  const double listed = static_cast<double>(task.listedSize);
  const double before = task.bytesAfter + run.drift - listed;
  // The directories this item keeps are its own, not the item's that made
  // room for it in the window (which may be tried again).
  std::vector<std::string> outerKept = std::move(keptNow_);
  keptNow_.clear();
  Outcome outcome = Outcome::Go;
  if (task.declined) {
    outcome = CopyInOrder(run, index, before, listed, false);
  } else {
    CopyResult result = task.result;
    if (result.status == CopyStatus::Done) {
      result = platform::NameUnnamedCopyAt(task.fd, task.dirs->dest.fd(), task.name.c_str());
      task.fd = -1;
    }
    if (result.status == CopyStatus::Stopped) return Outcome::Stop;
    // Its size when it was opened counts, as it would without the pool.
    const double drift = static_cast<double>(task.size) - listed;
    run.drift += drift;
    BytesDone += drift;
    bool again = false;
    if (result.status == CopyStatus::Done) {
      copied_[index] = true;
    } else {
      again = Report(TFMMessageKind::CouldNotCopy, currentItem_, result.error);
      MarkKept(index);
    }
    itemsDone_ = index + 1;
    RaiseProgress(before + static_cast<double>(task.size));
    // "Retry": the item again from the state before it, the usual way.
    if (again) outcome = CopyInOrder(run, index, before, static_cast<double>(task.size), true);
  }
  keptNow_ = std::move(outerKept);
  if (outcome == Outcome::Stop || stopNow_) return Outcome::Stop;
  // Cancel pressed during this item's event: asked now, as it would be
  // before the next item, while the later copies still have no names.
  if (OperationAborted) return AbortCheck();
  return outcome;
}

TFMOperation::Outcome TFMOperation::CopyInOrder(TCopyRun& run, size_t index, double before,
                                                double counted, bool check) {
  const double later = BytesDone;
  Outcome outcome = Outcome::Go;
  do {
    for (const std::string& dir : keptNow_) keptDirs_.erase(dir);
    keptNow_.clear();
    BytesDone = before;
    outcome = check ? AbortCheck() : Outcome::Go;
    check = true;
    retry_ = false;
    if (outcome == Outcome::Go) outcome = CopyItemNow(run, index);
  } while (retry_ && outcome == Outcome::Go);
  retry_ = false;
  const double drift = BytesDone - before - counted;
  run.drift += drift;
  BytesDone = later + drift;
  return outcome;
}

TFMOperation::Outcome TFMOperation::RetireAll(TCopyRun& run) {
  while (run.Pooling())
    if (RetireOne(run) == Outcome::Stop) return Outcome::Stop;
  return Outcome::Go;
}

void TFMOperation::DropPending(TCopyRun& run) {
  if (run.pool == nullptr) return;
  run.pool->Stop();
  for (const auto& batch : run.pending) {
    run.pool->Finish(*batch);
    for (TCopyPool::TTask& task : batch->tasks) {
      if (task.fd >= 0) ::close(task.fd);  // unnamed: it goes away
      task.fd = -1;
    }
  }
  run.pending.clear();
  run.retireAt = 0;
  run.gathering = nullptr;
}

TFMOperation::Outcome TFMOperation::CopyItemNow(TCopyRun& run, size_t index) {
  currentItem_ = FileList[index].path;
  if (SkipInherited(run, index)) return Outcome::Go;
  EntryInfo s;
  platform::SourceFile file;
  bool opened = false;
  if (!ExamineSource(run, index, s, file, opened)) return Outcome::Go;

  // Nothing can be in a directory this copy has just made (whatever appears
  // there meanwhile is still never overwritten: a new file only takes a free
  // name), so only other destinations are examined.
  const std::string& item = FileList[index].path;
  EntryInfo d;
  if (run.newDirs.count(ParentItem(item)) == 0) platform::LStat(run.DestPath(item), d);
  skipQuietly_ = false;
  switch (s.kind) {
    case EntryKind::Directory:
      CopyDirectoryItem(run, index, s, d);
      break;
    case EntryKind::File:
    case EntryKind::Symlink:
      if (CopyFileItem(run, index, s, d, file, opened) == Outcome::Stop) return Outcome::Stop;
      break;
    case EntryKind::Special:
    case EntryKind::Missing:
      // A FIFO would block a reader forever, a device would be read to no
      // end: these are not copied.
      Report(TFMMessageKind::CouldNotCopy, item, EINVAL);
      MarkKept(index);
      break;
  }
  itemsDone_ = index + 1;
  if (!skipQuietly_) RaiseProgress(BytesDone);
  return Outcome::Go;
}

TFMOperation::Outcome TFMOperation::CopyPass(const std::string& sourceDir, const std::string& destDir,
                                             const std::string& destName) {
  TCopyRun run;
  run.source = BaseDir(sourceDir);
  run.dest = BaseDir(destDir);
  if (!destName.empty() && !FileList.empty()) {
    run.renamedFrom = FileList.front().path;
    run.renamedTo = destName;
  }
  run.overwriteAll = batch_ && batchOverwriteAll_;
  run.skipExisting = batch_ && batchSkipExisting_;
  run.destChain = platform::DirectoryChain(run.dest);
  run.creationMask = platform::FileCreationMask();
  copied_.assign(FileList.size(), false);
  keptDirs_.clear();
  // Even on one thread the pool's way is the cheaper one: each file is
  // reached relative to its directory held open, not by its whole path.
  if (CopyThreads >= 1 && platform::HasUnnamedFiles(run.dest)) {
    run.pool = std::make_unique<TCopyPool>(CopyThreads - 1, kPooledFileLimit, run.creationMask);
    run.window = 2 * CopyThreads;
  }
  Outcome outcome = Outcome::Go;
  for (size_t i = 0; i < FileList.size() && outcome == Outcome::Go; ++i) {
    if (!run.Pooling()) itemsDone_ = i;
    // "Abort operation?" comes after the events of the items before it.
    if (OperationAborted && !stopNow_ && RetireAll(run) == Outcome::Stop) outcome = Outcome::Stop;
    if (outcome == Outcome::Go) outcome = AbortCheck();
    // "Retry" in a message about the item: it starts again from the state
    // before it.
    const double bytesBefore = BytesDone;
    const std::string skipBelow = run.skipBelow, failBelow = run.failBelow;
    do {
      retry_ = false;
      keptNow_.clear();
      if (outcome == Outcome::Go) outcome = CopyItem(run, i);
      if (retry_) {
        BytesDone = bytesBefore;
        run.skipBelow = skipBelow;
        run.failBelow = failBelow;
        for (const std::string& dir : keptNow_) keptDirs_.erase(dir);
        outcome = AbortCheck();
      }
    } while (retry_ && outcome == Outcome::Go);
  }
  if (outcome == Outcome::Go) outcome = RetireAll(run);
  DropPending(run);  // an early end: what was not taken back never gets a name
  run.pool.reset();
  // Directories made by this copy get the source's permission bits and times
  // last, once nothing more is written into them.
  for (auto it = run.created.rbegin(); it != run.created.rend(); ++it)
    platform::ApplyDirectoryAttributes(it->path, it->source.mode, it->source.accessTime,
                                       it->source.writeTime);
  if (batch_) batchOverwriteAll_ = run.overwriteAll, batchSkipExisting_ = run.skipExisting;
  return outcome;
}

// ---------------------------------------------------------------------------
// The removal pass

void TFMOperation::RemovePass(const std::string& dir, bool onlyCopied) {
  const std::string base = BaseDir(dir);
  platform::TreeRemover remover;
  if (!batch_) BytesDone = 0;  // a move's removal runs from 0 again; a batch runs once
  removed_.assign(FileList.size(), false);
  for (size_t n = FileList.size(); n-- > 0;) {
    if (AbortCheck() == Outcome::Stop) return;
    const Item& entry = FileList[n];
    const std::string& item = entry.path;
    currentItem_ = item;
    BytesDone += static_cast<double>(entry.size);
    itemsDone_ = FileList.size() - n;
    if (onlyCopied && (!copied_[n] || keptDirs_.count(item) != 0)) {
      // The only copy of something: it stays where it is, without a message.
      RaiseProgress(BytesDone);
      continue;
    }
    // Removed by its name in its directory, as listed; the kind is checked
    // by the removal itself, so a link is removed as a link.
    const size_t slash = item.find_last_of('/');
    const std::string parent = slash == std::string::npos ? std::string() : item.substr(0, slash);
    const std::string parentPath = parent.empty() ? base : platform::JoinPath(base, parent);
    const std::string name = slash == std::string::npos ? item : item.substr(slash + 1);
    int error = remover.Remove(parentPath, name, entry.directory);
    if (IsDenied(error) && !parent.empty()) {
      // Its directory belongs to the tree being removed: give the owner
      // write access to it, then try again.
      if (platform::GrantOwnerAccess(parentPath, S_IWUSR | S_IXUSR) == 0) {
        remover.Reset();
        error = remover.Remove(parentPath, name, entry.directory);
      }
    }
    while (error != 0 && error != ENOENT && Report(TFMMessageKind::CouldNotDelete, item, error)) {
      remover.Reset();
      error = remover.Remove(parentPath, name, entry.directory);
    }
    if (error == ENOENT) Report(TFMMessageKind::NotFound, item, error);
    removed_[n] = error == 0;
    RaiseProgress(BytesDone);
  }
}

// ---------------------------------------------------------------------------
// The operations

bool TFMOperation::AcceptDestName(const std::vector<std::string>& names, const std::string& destName) {
  if (destName.empty()) return true;
  if (names.size() == 1 && IsBareName(destName)) return true;
  // A caller's mistake: nothing may land anywhere but in the destination.
  Report(TFMMessageKind::InvalidName, destName, EINVAL);
  return false;
}

void TFMOperation::CopyFiles(const std::vector<std::string>& names, const std::string& sourceDir,
                             const std::string& destDir, const std::string& destName) {
  if (busy_ || BatchStopped()) return;
  Begin();
  if (AcceptDestName(names, destName)) {
    BuildFileList(names, sourceDir, Pass::Copy, FileList, TotalBytes);
    if (batch_) TotalBytes = batchTotal_;
    if (!listingStopped_) CopyPass(sourceDir, destDir, destName);
  }
  CollectCompleted(copied_);
  FileList.clear();
  busy_ = false;
}

void TFMOperation::MoveFiles(const std::vector<std::string>& names, const std::string& sourceDir,
                             const std::string& destDir, const std::string& destName) {
  if (busy_ || BatchStopped()) return;
  Begin();
  removed_.clear();
  if (AcceptDestName(names, destName)) {
    BuildFileList(names, sourceDir, Pass::Copy, FileList, TotalBytes);
    if (batch_) TotalBytes = batchTotal_;
    if (!listingStopped_ && CopyPass(sourceDir, destDir, destName) == Outcome::Go)
      RemovePass(sourceDir, true);
  }
  CollectCompleted(removed_);
  FileList.clear();
  busy_ = false;
}

void TFMOperation::DeleteFiles(const std::vector<std::string>& names, const std::string& dir) {
  if (busy_ || BatchStopped()) return;
  Begin();
  BuildFileList(names, dir, Pass::Delete, FileList, TotalBytes);
  if (batch_) TotalBytes = batchTotal_;
  removed_.clear();
  if (!listingStopped_) RemovePass(dir, false);
  CollectCompleted(removed_);
  FileList.clear();
  busy_ = false;
}

void TFMOperation::BeginBatch(double totalBytes) {
  batch_ = true;
  batchCalls_ = 0;
  batchTotal_ = totalBytes > 0 ? totalBytes : 0.00001;
  batchOverwriteAll_ = batchSkipExisting_ = false;
}

void TFMOperation::EndBatch() {
  batch_ = false;
  batchCalls_ = 0;
}

double TFMOperation::GetTotalSize(const std::vector<std::string>& names, const std::string& dir) {
  std::vector<Item> list;
  double total = 0;
  BuildFileList(names, dir, Pass::Size, list, total);
  return total;
}

}  // namespace vantrel::fileops
