// source_copy.cpp - copying and moving between any two panel sources.
#include "fileops/source_copy.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/text.h"
#include "vfs/local_source.h"

namespace vantrel::fileops {

namespace {

bool IsBareName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Names joined by single slashes, each a bare name.
bool IsNamePath(const std::string& path) {
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    if (!IsBareName(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start))) return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

bool IsAtOrBelow(const std::string& path, const std::string& dir) {
  return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/');
}

}  // namespace

struct TSourceCopy::TAheadPiece {
  std::string memory;
  // Set: the data are the entry as its archive stores them (ReadStored).
  std::shared_ptr<const vfs::TStoredRecord> record;
  bool spooled = false;
  uint64_t offset = 0;  // in the spool
  uint64_t size = 0;
};

// The data of entries read out of one archive before they go into another
// in one rewrite: what the rewrite then takes cannot fail on the source,
// so that a damaged entry is one message with Skip, not a failed rewrite,
// and the source may be the archive being rewritten. Small pieces stay in
// memory up to a budget, the rest goes to one private file.
class TSourceCopy::TReadAhead final {
 public:
  explicit TReadAhead(uint64_t memoryBudget) : budget_(memoryBudget) {}

  using TPiece = TAheadPiece;

  // Takes the data of one entry as a sink; Drop() forgets a failed one.
  class TSink final : public vfs::TDataSink {
   public:
    TSink(TReadAhead& owner, TPiece& piece) : owner_(owner), piece_(piece) {}
    bool Write(const void* data, size_t n) override {
      if (!piece_.spooled && owner_.memoryUsed_ + n <= owner_.budget_) {
        piece_.memory.append(static_cast<const char*>(data), n);
        owner_.memoryUsed_ += n;
        piece_.size += n;
        return true;
      }
      if (!piece_.spooled) {
        // Over the budget: this piece goes to the disk, with what it had.
        piece_.offset = owner_.spool_.Size();
        if ((error = owner_.spool_.Append(piece_.memory.data(), piece_.memory.size())) != 0) return false;
        owner_.memoryUsed_ -= piece_.memory.size();
        std::string().swap(piece_.memory);
        piece_.spooled = true;
      }
      if ((error = owner_.spool_.Append(data, n)) != 0) return false;
      piece_.size += n;
      return true;
    }
    int error = 0;

   private:
    TReadAhead& owner_;
    TPiece& piece_;
  };

  std::shared_ptr<TPiece> NewPiece() { return std::make_shared<TPiece>(); }
  void Drop(TPiece& piece) {
    memoryUsed_ -= piece.memory.size();
    piece = TPiece();
  }

  // Sends a piece to the rewrite (as often as it asks).
  bool Give(const TPiece& piece, vfs::TDataSink& sink, vfs::TError* err) const {
    constexpr uint64_t kBlock = 1 << 20;
    if (!piece.spooled) {
      for (uint64_t at = 0; at < piece.size; at += kBlock)
        if (!sink.Write(piece.memory.data() + at, static_cast<size_t>(std::min(kBlock, piece.size - at))))
          return false;
      return true;
    }
    std::string buffer(static_cast<size_t>(std::min(kBlock, piece.size)), '\0');
    for (uint64_t at = 0; at < piece.size; at += kBlock) {
      const size_t n = static_cast<size_t>(std::min(kBlock, piece.size - at));
      if (const int error = spool_.ReadAt(piece.offset + at, buffer.data(), n); error != 0) {
        if (err) err->Set(error, "Cannot read the data kept aside: " + platform::ErrorText(error));
        return false;
      }
      if (!sink.Write(buffer.data(), n)) return false;
    }
    return true;
  }

 private:
  uint64_t budget_;
  uint64_t memoryUsed_ = 0;
  platform::PrivateSpool spool_;
};

struct TSourceCopy::TRun {
  TRun(vfs::TSource& source, std::string sourceDir, vfs::TSource& destination, std::string destinationDir)
      : from(source), fromDir(std::move(sourceDir)), to(destination), toDir(std::move(destinationDir)) {}

  vfs::TSource& from;
  std::string fromDir;
  vfs::TSource& to;
  std::string toDir;
  // The destination takes all of the copy as one change (an archive).
  bool batch = false;
  vfs::TChangeSet changes;
  std::vector<size_t> pending;  // the items whose change is in `changes`
  // The source's files are on the disk: they go by name, not through a copy.
  vfs::TLocalSource* localFrom = nullptr;
  // From one archive into another (or into itself): each file's data are
  // read while the questions are asked, and the rewrite takes them from here.
  std::shared_ptr<TReadAhead> ahead;
  // The destination takes the source's entries as they are stored: an
  // encrypted one goes so, staying encrypted under its password.
  bool keepsStored = false;
  bool overwriteAll = false;
  bool skipExisting = false;
  std::vector<std::string> skipBelow;  // directories refused: nothing below them is copied
  // A move inside one archive: entries change their names in the one
  // rewrite, their stored bytes untouched, and nothing is read or written
  // twice.
  bool within = false;
  std::vector<std::string> movedWhole;  // directories renamed with everything below them
  std::vector<std::string> mergedKept;  // directory entries of their own left behind by a merge

  std::string Src(const std::string& item) const { return vfs::JoinInner(fromDir, item); }
  std::string Dst(const std::string& item) const { return vfs::JoinInner(toDir, item); }
};

void TSourceCopy::Begin() {
  OperationAborted = false;
  items_.clear();
  failures_.clear();
  skipKinds_.clear();
  completed_.clear();
  skipped_ = 0;
  stopNow_ = abortChosen_ = retry_ = alsoApplied_ = stopped_ = false;
  currentItem_.clear();
  itemsDone_ = 0;
  done_ = 0;
  total_ = 0.00001;
  lastEvent_ = std::chrono::steady_clock::now();
}

bool TSourceCopy::Report(TFMMessageKind kind, const std::string& item, int error, const std::string& reason) {
  failures_.push_back(TFMMessage{kind, item, MessageText(kind, item), error,
                                 !reason.empty() ? reason : error != 0 ? platform::ErrorText(error) : ""});
  if (!prompt_) return false;
  for (TFMMessageKind k : skipKinds_)
    if (k == kind) {
      ++skipped_;
      return false;
    }
  switch (prompt_->ShowMessage(failures_.back())) {
    case TMessageAnswer::SkipAll: skipKinds_.push_back(kind); break;
    case TMessageAnswer::Abort:
      stopNow_ = abortChosen_ = true;
      OperationAborted = true;
      break;
    case TMessageAnswer::Retry: failures_.pop_back(); return true;
    case TMessageAnswer::Ok: break;
  }
  return false;
}

TSourceCopy::TOutcome TSourceCopy::AbortCheck() {
  if (stopNow_) return TOutcome::Stop;
  if (gate_ != nullptr && !gate_->Pass()) {
    // The job was cancelled: no question, and no further one either.
    stopNow_ = true;
    OperationAborted = true;
    return TOutcome::Stop;
  }
  if (!OperationAborted) return TOutcome::Go;
  if (!prompt_ || prompt_->AskAbort(kAbortQuestion)) {
    abortChosen_ = prompt_ != nullptr;
    stopNow_ = true;
    return TOutcome::Stop;
  }
  OperationAborted = false;
  return TOutcome::Go;
}

void TSourceCopy::Progress(double done) {
  done_ = done;
  if (!OnGlobalDone) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastEvent_ < ProgressInterval && done < total_) return;
  lastEvent_ = now;
  const double share = done * 100.0 / total_;
  OnGlobalDone(*this, share >= 100.0 ? 100 : share <= 0.0 ? 0 : static_cast<int>(share));
}

// ---------------------------------------------------------------------------
// The work list

void TSourceCopy::AddTree(vfs::TSource& from, const std::string& fromDir, const std::string& path) {
  std::vector<vfs::TEntry> children;
  vfs::TError err;
  if (!from.List(vfs::JoinInner(fromDir, path), children, &err)) {
    Report(TFMMessageKind::CouldNotCopy, path, err.code, err.text);
    items_.push_back(TItem{path + "/", {}, false});  // stands for what could not be listed
    return;
  }
  const size_t first = items_.size();
  for (vfs::TEntry& e : children) {
    const std::string child = path + "/" + e.name;
    if (!IsBareName(e.name)) {
      // Never written: an entry named ".." would land above the place.
      Report(TFMMessageKind::InvalidName, child, EINVAL);
      items_.push_back(TItem{child, {}, false});
      continue;
    }
    total_ += e.kind == vfs::TEntryKind::File ? static_cast<double>(e.size) : 0;
    items_.push_back(TItem{child, std::move(e), false});
  }
  // Directories after the files of their parent, each followed by its tree.
  const size_t end = items_.size();
  for (size_t i = first; i < end; ++i)
    if (items_[i].entry.kind == vfs::TEntryKind::Directory && !items_[i].entry.name.empty())
      AddTree(from, fromDir, std::string(items_[i].path));  // a copy: the list grows under it
}

bool TSourceCopy::ListItems(const std::vector<std::string>& names, vfs::TSource& from, const std::string& fromDir) {
  for (const std::string& name : names) {
    if (!IsBareName(name)) {
      Report(TFMMessageKind::InvalidName, name, EINVAL);
      continue;
    }
    vfs::TEntry e;
    vfs::TError err;
    if (!from.Stat(vfs::JoinInner(fromDir, name), e, &err)) {
      Report(TFMMessageKind::NotFound, name, err.code, err.text);
      continue;
    }
    e.name = name;
    total_ += e.kind == vfs::TEntryKind::File ? static_cast<double>(e.size) : 0;
    const bool dir = e.kind == vfs::TEntryKind::Directory;
    items_.push_back(TItem{name, std::move(e), false});
    if (dir) AddTree(from, fromDir, name);
    if (stopNow_) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The copy

TSourceCopy::TOutcome TSourceCopy::MayReplace(TRun& run, size_t index, const vfs::TEntry& existing, bool& skip) {
  const TItem& item = items_[index];
  skip = true;
  if (existing.kind == vfs::TEntryKind::Directory) {
    Report(TFMMessageKind::CouldNotCopy, item.path, EISDIR);
    return TOutcome::Go;
  }
  if (&run.from == &run.to && run.Src(item.path) == run.Dst(item.path)) {
    Report(TFMMessageKind::OntoItself, item.path, EINVAL);
    return TOutcome::Go;
  }
  if (ReplaceUnasked && ReplaceUnasked(item.path, existing)) {
    skip = false;
    return TOutcome::Go;
  }
  if (ConfirmOverwrite && !run.overwriteAll) {
    TOverwriteAnswer answer = TOverwriteAnswer::No;
    if (!run.skipExisting && prompt_) {
      const TFileFacts source{item.entry.size, item.entry.mtime};
      const TFileFacts dest{existing.size, existing.mtime};
      answer = prompt_->AskOverwriteFacts(item.path, OverwriteQuestion(item.path), source, dest);
    }
    if (answer == TOverwriteAnswer::Cancel) return TOutcome::Stop;
    if (answer == TOverwriteAnswer::None) run.skipExisting = true;
    if (answer == TOverwriteAnswer::No || answer == TOverwriteAnswer::None) return TOutcome::Go;
    if (answer == TOverwriteAnswer::All) run.overwriteAll = true;
  }
  skip = false;
  return TOutcome::Go;
}

bool TSourceCopy::Flush(TRun& run, const std::vector<size_t>& which) {
  if (run.changes.empty()) return true;
  const double start = done_;
  for (;;) {
    vfs::TError err;
    const bool ok = run.to.Apply(run.changes, [&](uint64_t done, uint64_t total) {
      if (run.batch && total > 0) Progress(start + (total_ - start) * static_cast<double>(done) / static_cast<double>(total));
      return AbortCheck() == TOutcome::Go;
    }, &err);
    if (ok) {
      for (size_t i : which) items_[i].ok = true;
      alsoApplied_ = run.batch;
      break;
    }
    if (err.code == ECANCELED || stopNow_) break;  // the user stopped it: nothing was changed
    const std::string item = run.batch || which.empty() ? run.to.Root() : items_[which.front()].path;
    const TFMMessageKind kind = !which.empty() && items_[which.front()].entry.kind == vfs::TEntryKind::Directory && !run.batch
                                    ? TFMMessageKind::CouldNotCreateDir
                                    : TFMMessageKind::CouldNotCopy;
    if (!Report(kind, item, err.code, err.text)) break;
  }
  run.changes = vfs::TChangeSet();
  return true;
}

TSourceCopy::TOutcome TSourceCopy::CopyDirectory(TRun& run, size_t index) {
  TItem& item = items_[index];
  const std::string dst = run.Dst(item.path);
  if (&run.from == &run.to && IsAtOrBelow(run.toDir, run.Src(item.path))) {
    Report(TFMMessageKind::IntoItself, item.path, EINVAL);
    run.skipBelow.push_back(item.path);
    return TOutcome::Go;
  }
  vfs::TEntry existing;
  vfs::TError err;
  if (run.to.Stat(dst, existing, &err)) {
    if (existing.kind == vfs::TEntryKind::Directory) {
      item.ok = true;  // merged into the directory that is there
      if (run.within && !item.entry.implied) run.mergedKept.push_back(item.path);
      return TOutcome::Go;
    }
    Report(TFMMessageKind::CouldNotCreateDir, item.path, EEXIST);
    run.skipBelow.push_back(item.path);
    return TOutcome::Go;
  }
  if (run.within) {
    run.changes.Rename(run.Src(item.path), dst);
    run.movedWhole.push_back(item.path);
    run.pending.push_back(index);
    return TOutcome::Go;
  }
  run.changes.MakeDir(dst);
  if (run.batch) {
    run.pending.push_back(index);
    return TOutcome::Go;
  }
  Flush(run, {index});
  if (!item.ok) run.skipBelow.push_back(item.path);
  return stopNow_ ? TOutcome::Stop : TOutcome::Go;
}

bool TSourceCopy::LinkTarget(TRun& run, const TItem& item, std::string& target) {
  target = item.entry.linkTarget;
  // A listing need not carry the targets (a ZIP archive keeps a link's
  // target as its data): the entry's own facts do.
  vfs::TEntry facts;
  vfs::TError err;
  if (target.empty() && run.from.Stat(run.Src(item.path), facts, &err)) target = facts.linkTarget;
  if (!target.empty()) return true;
  // Never a link to nothing: that is no copy of this one.
  Report(TFMMessageKind::CouldNotCopy, item.path, err.code != 0 ? err.code : EIO,
         err.text.empty() ? "The target of the link could not be read" : err.text);
  return false;
}

TSourceCopy::TOutcome TSourceCopy::ReadAhead(TRun& run, size_t index, double fileStart,
                                             std::shared_ptr<TAheadPiece>& piece) {
  const TItem& item = items_[index];
  for (;;) {
    piece = run.ahead->NewPiece();
    TReadAhead::TSink sink(*run.ahead, *piece);
    vfs::TError err;
    const vfs::TProgress progress = [this, fileStart](uint64_t done, uint64_t) {
      Progress(fileStart + static_cast<double>(done));
      return AbortCheck() == TOutcome::Go;
    };
    // An encrypted entry going into an archive that takes it as stored is
    // never decoded: no password is asked, and the copy stays encrypted.
    const bool ok = run.keepsStored && item.entry.encrypted
                        ? run.from.ReadStored(run.Src(item.path), sink, piece->record, progress, &err)
                        : run.from.ReadInto(run.Src(item.path), sink, progress, &err);
    if (ok) return TOutcome::Go;
    run.ahead->Drop(*piece);
    piece.reset();
    if (stopNow_ || (err.code == ECANCELED && sink.error == 0)) return TOutcome::Stop;
    const std::string full = "The disk is full: no room left in " + platform::PrivateTempDirectory() +
                             " for the data kept aside; the destination was left as it was";
    const bool retry = sink.error != 0 ? Report(TFMMessageKind::CouldNotCopy, item.path, sink.error,
                                                sink.error == ENOSPC ? full : std::string())
                                       : Report(TFMMessageKind::CouldNotCopy, item.path, err.code, err.text);
    if (!retry) return stopNow_ ? TOutcome::Stop : TOutcome::Go;
    Progress(fileStart);
  }
}

TSourceCopy::TOutcome TSourceCopy::CopyFile(TRun& run, size_t index) {
  TItem& item = items_[index];
  const vfs::TEntry& e = item.entry;
  const double fileStart = done_;
  const std::string dst = run.Dst(item.path);
  vfs::TEntry existing;
  vfs::TError err;
  const bool replacing = run.to.Stat(dst, existing, &err);
  if (replacing) {
    bool skip = false;
    if (MayReplace(run, index, existing, skip) == TOutcome::Stop) return TOutcome::Stop;
    if (skip) {
      Progress(fileStart + static_cast<double>(e.size));
      return TOutcome::Go;
    }
  }
  std::string localPath;
  if (run.within) {
    if (replacing) run.changes.Delete(dst);
    run.changes.Rename(run.Src(item.path), dst);
    run.pending.push_back(index);
    Progress(fileStart + static_cast<double>(e.size));
    return TOutcome::Go;
  }
  if (e.kind == vfs::TEntryKind::Link) {
    // A link is copied as a link, never what it points to.
    std::string target;
    if (!LinkTarget(run, item, target)) {
      Progress(fileStart + static_cast<double>(e.size));
      return stopNow_ ? TOutcome::Stop : TOutcome::Go;
    }
    run.changes.PutLink(dst, target, e.mtime);
  } else if (run.localFrom && run.localFrom->LocalPath(run.Src(item.path), localPath)) {
    run.changes.PutFile(dst, localPath, e.mtime, e.mode);
  } else if (run.ahead) {
    std::shared_ptr<TAheadPiece> piece;
    if (ReadAhead(run, index, fileStart, piece) == TOutcome::Stop) return TOutcome::Stop;
    Progress(fileStart + static_cast<double>(e.size));
    if (!piece) return stopNow_ ? TOutcome::Stop : TOutcome::Go;  // skipped after a message
    std::shared_ptr<const TReadAhead> ahead = run.ahead;
    auto give = [ahead, piece](vfs::TDataSink& sink, vfs::TError* perr) { return ahead->Give(*piece, sink, perr); };
    if (piece->record)
      run.changes.PutStored(dst, piece->record, std::move(give), piece->size);
    else
      run.changes.PutData(dst, std::move(give), piece->size, e.mtime, e.mode ? e.mode : 0644);
  } else {
    const std::string src = run.Src(item.path);
    vfs::TSource& from = run.from;
    const bool batch = run.batch;  // the rewrite reports the progress of a batch itself
    run.changes.PutData(dst, [this, &from, src, fileStart, batch](vfs::TDataSink& sink, vfs::TError* perr) {
      return from.ReadInto(src, sink, [this, fileStart, batch](uint64_t done, uint64_t) {
        if (!batch) Progress(fileStart + static_cast<double>(done));
        return AbortCheck() == TOutcome::Go;
      }, perr);
    }, e.size, e.mtime, e.mode ? e.mode : 0644);
  }
  if (run.batch) {
    // Nothing is written yet: the rewrite moves the progress from here.
    run.pending.push_back(index);
    return TOutcome::Go;
  }
  Flush(run, {index});
  Progress(fileStart + static_cast<double>(e.size));
  return stopNow_ ? TOutcome::Stop : TOutcome::Go;
}

TSourceCopy::TOutcome TSourceCopy::CopyItem(TRun& run, size_t index) {
  TItem& item = items_[index];
  currentItem_ = item.path;
  itemsDone_ = index;
  if (AbortCheck() == TOutcome::Stop) return TOutcome::Stop;
  if (item.entry.name.empty()) return TOutcome::Go;  // refused while listing
  for (const std::string& dir : run.skipBelow)
    if (IsAtOrBelow(item.path, dir)) {
      done_ += static_cast<double>(item.entry.size);
      return TOutcome::Go;
    }
  for (const std::string& dir : run.movedWhole)
    if (IsAtOrBelow(item.path, dir)) {
      run.pending.push_back(index);  // goes with its directory
      Progress(done_ + static_cast<double>(item.entry.size));
      return TOutcome::Go;
    }
  switch (item.entry.kind) {
    case vfs::TEntryKind::Directory: return CopyDirectory(run, index);
    case vfs::TEntryKind::File:
    case vfs::TEntryKind::Link: return CopyFile(run, index);
    case vfs::TEntryKind::Special: Report(TFMMessageKind::CouldNotCopy, item.path, EINVAL); return TOutcome::Go;
  }
  return TOutcome::Go;
}

void TSourceCopy::Prepare(TRun& run) {
  run.batch = run.to.BatchesChanges();
  run.localFrom = dynamic_cast<vfs::TLocalSource*>(&run.from);
  run.within = moving_ && run.batch && &run.from == &run.to;
  if (run.batch && run.localFrom == nullptr && !run.within) {
    run.ahead = std::make_shared<TReadAhead>(ReadAheadMemory);
    run.keepsStored = run.to.TakesStored(run.from);
    // Every byte goes twice: read out, then written in by the rewrite.
    total_ *= 2;
  }
}

bool TSourceCopy::RoomFor(TRun& run) {
  if (!run.ahead) return true;
  uint64_t bytes = 0, files = 0;
  for (const TItem& item : items_)
    if (item.entry.kind == vfs::TEntryKind::File && !item.entry.name.empty()) {
      bytes += run.keepsStored && item.entry.encrypted ? item.entry.packedSize : item.entry.size;
      ++files;
    }
  std::vector<vfs::TSpaceNeed> needs = run.to.SpaceToAdd(bytes, files);
  if (bytes > ReadAheadMemory) needs.push_back({platform::PrivateTempDirectory(), bytes - ReadAheadMemory});
  // What each file system must hold at once.
  struct TDisk {
    uint64_t device;
    vfs::TSpaceNeed need;
  };
  std::vector<TDisk> disks;
  for (const vfs::TSpaceNeed& need : needs) {
    platform::FileIdentity id;
    if (need.bytes == 0 || !platform::GetFileIdentity(need.path, id)) continue;
    auto same = std::find_if(disks.begin(), disks.end(), [&](const TDisk& d) { return d.device == id.device; });
    if (same != disks.end())
      same->need.bytes += need.bytes;
    else
      disks.push_back({id.device, need});
  }
  for (const TDisk& disk : disks)
    for (;;) {
      platform::VolumeSpace space;
      if (!platform::GetVolumeSpace(disk.need.path, space) || space.free >= disk.need.bytes) break;
      const std::string reason = "Not enough free space in " + disk.need.path + ": the copy needs " +
                                 platform::FormatThousands(disk.need.bytes) + " bytes there, " +
                                 platform::FormatThousands(space.free) + " bytes are free; nothing was changed";
      if (!Report(TFMMessageKind::CouldNotCopy, run.to.Root(), ENOSPC, reason)) return false;
    }
  return true;
}

void TSourceCopy::DeleteLeftovers(TRun& run) {
  // A name whose every item goes (or is a directory merged) leaves behind
  // only the directory entries of its merged directories: they go in the
  // same rewrite. A name with something kept stays whole.
  std::vector<bool> pending(items_.size(), false);
  for (size_t i : run.pending) pending[i] = true;
  for (size_t i = 0; i < items_.size();) {
    const std::string top = items_[i].path.substr(0, items_[i].path.find('/'));
    bool all = true, kept = false;
    size_t j = i;
    for (; j < items_.size() && IsAtOrBelow(items_[j].path.substr(0, items_[j].path.find('/')), top); ++j)
      all = all && (pending[j] || items_[j].ok);
    for (const std::string& dir : run.mergedKept) kept = kept || IsAtOrBelow(dir, top);
    if (all && kept) run.changes.Delete(run.Src(top));
    i = j;
  }
}

void TSourceCopy::CollectCompleted() {
  completed_.clear();
  for (size_t i = 0; i < items_.size();) {
    const std::string top = items_[i].path.substr(0, items_[i].path.find('/'));
    bool all = true;
    size_t j = i;
    for (; j < items_.size() && IsAtOrBelow(items_[j].path.substr(0, items_[j].path.find('/')), top); ++j)
      all = all && items_[j].ok;
    if (all) completed_.push_back(top);
    i = j;
  }
}

void TSourceCopy::Copy(const std::vector<std::string>& names, vfs::TSource& from, const std::string& fromDir,
                       vfs::TSource& to, const std::string& toDir) {
  Begin();
  const vfs::TCapabilities caps = to.Capabilities();
  if (!caps.writable) {
    Report(TFMMessageKind::CouldNotCopy, to.Root(), EROFS, caps.readOnlyReason);
    return;
  }
  if (!ListItems(names, from, fromDir)) return;
  // Directory by directory is seldom the order of a compressed tar: say
  // which files come, so that one pass over the stream serves them all.
  std::vector<std::string> files;
  for (const TItem& item : items_)
    if (item.entry.kind == vfs::TEntryKind::File && !item.entry.name.empty())
      files.push_back(vfs::JoinInner(fromDir, item.path));
  from.Expect(files);
  TRun run{from, fromDir, to, toDir};
  Prepare(run);
  bool stopped = !RoomFor(run);
  for (size_t i = 0; i < items_.size() && !stopped; ++i) stopped = CopyItem(run, i) == TOutcome::Stop;
  if (!stopped && run.within) DeleteLeftovers(run);
  // Into an archive: everything at once, and nothing after a Cancel.
  if (!stopped && run.batch) Flush(run, run.pending);
  stopped_ = stopped || stopNow_;
  if (!stopNow_) itemsDone_ = items_.size();
  CollectCompleted();
  if (OnGlobalDone && !stopped) OnGlobalDone(*this, 100);
}

void TSourceCopy::Move(const std::vector<std::string>& names, vfs::TSource& from, const std::string& fromDir,
                       vfs::TSource& to, const std::string& toDir) {
  moving_ = true;
  Copy(names, from, fromDir, to, toDir);
  moving_ = false;
  // Inside one archive the names moved in the copy's own rewrite.
  if (&from == &to && to.BatchesChanges()) return;
  if (stopNow_ || completed_.empty()) {
    completed_.clear();
    return;
  }
  vfs::TChangeSet deletes;
  for (const std::string& name : completed_) deletes.Delete(vfs::JoinInner(fromDir, name));
  for (;;) {
    vfs::TError err;
    if (from.Apply(deletes, {}, &err)) return;
    if (!Report(TFMMessageKind::CouldNotDelete, completed_.size() == 1 ? completed_.front() : from.Root(),
                err.code, err.text)) {
      completed_.clear();
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Paths below the place

void TSourceCopy::ListParents(const std::string& path, vfs::TSource& from, const std::string& fromDir,
                              vfs::TSource& to, const std::string& toDir, std::vector<std::string>& listed) {
  std::string parent;
  const std::vector<std::string> parts = vfs::SplitInner(path);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    parent = vfs::JoinInner(parent, parts[i]);
    if (std::find(listed.begin(), listed.end(), parent) != listed.end()) continue;
    listed.push_back(parent);
    vfs::TEntry there;
    vfs::TError err;
    if (to.Stat(vfs::JoinInner(toDir, parent), there, &err)) continue;
    vfs::TEntry e;
    if (!from.Stat(vfs::JoinInner(fromDir, parent), e, &err)) e.kind = vfs::TEntryKind::Directory;
    e.name = parts[i];
    items_.push_back(TItem{parent, std::move(e), false});
  }
}

void TSourceCopy::CopyPaths(const std::vector<std::string>& paths, vfs::TSource& from, const std::string& fromDir,
                            vfs::TSource& to, const std::string& toDir) {
  Begin();
  const vfs::TCapabilities caps = to.Capabilities();
  if (!caps.writable) {
    Report(TFMMessageKind::CouldNotCopy, to.Root(), EROFS, caps.readOnlyReason);
    return;
  }
  // Each path's items: its first and past its last.
  std::vector<std::pair<size_t, size_t>> ranges;
  std::vector<std::string> given, parents;
  for (const std::string& path : paths) {
    if (!IsNamePath(path)) {
      Report(TFMMessageKind::InvalidName, path, EINVAL);
      if (stopNow_) return;
      continue;
    }
    ListParents(path, from, fromDir, to, toDir, parents);
    vfs::TEntry e;
    vfs::TError err;
    if (!from.Stat(vfs::JoinInner(fromDir, path), e, &err)) {
      Report(TFMMessageKind::NotFound, path, err.code, err.text);
      if (stopNow_) return;
      continue;
    }
    const size_t first = items_.size();
    e.name = vfs::LeafInner(path);
    total_ += e.kind == vfs::TEntryKind::File ? static_cast<double>(e.size) : 0;
    const bool dir = e.kind == vfs::TEntryKind::Directory;
    items_.push_back(TItem{path, std::move(e), false});
    if (dir) AddTree(from, fromDir, path);
    if (stopNow_) return;
    given.push_back(path);
    ranges.emplace_back(first, items_.size());
  }
  TRun run{from, fromDir, to, toDir};
  Prepare(run);
  bool stopped = !RoomFor(run);
  for (size_t i = 0; i < items_.size() && !stopped; ++i) stopped = CopyItem(run, i) == TOutcome::Stop;
  // Into an archive: everything at once, with the changes that go along,
  // and nothing after a Cancel.
  if (!stopped && run.batch) {
    for (vfs::TChange& change : AlsoApply.changes) run.changes.changes.push_back(std::move(change));
    Flush(run, run.pending);
  }
  AlsoApply = vfs::TChangeSet();
  stopped_ = stopped || stopNow_;
  completed_.clear();
  for (size_t g = 0; g < given.size(); ++g) {
    bool all = ranges[g].first < ranges[g].second;
    for (size_t i = ranges[g].first; i < ranges[g].second; ++i) all = all && items_[i].ok;
    if (all) completed_.push_back(given[g]);
  }
  if (OnGlobalDone && !stopped) OnGlobalDone(*this, 100);
}

}  // namespace vantrel::fileops
