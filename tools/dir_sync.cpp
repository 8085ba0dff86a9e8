// dir_sync.cpp - the plan of a synchronisation and its run.
#include "tools/dir_sync.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "fileops/fmoperation.h"
#include "fileops/source_copy.h"
#include "platform/fs.h"
#include "platform/readonly_file.h"
#include "platform/rename.h"
#include "platform/tree_read.h"
#include "platform/wildcard.h"
#include "tools/beside_worker.h"
#include "vfs/local_source.h"
#include "vfs/source.h"

namespace vantrel::tools {

using platform::EntryInfo;
using platform::EntryKind;

namespace {

// Times this close count as equal (some file systems keep two seconds, ZIP
// archives too).
constexpr int64_t kToleranceNs = 2'000'000'000;
constexpr size_t kBlock = 64 * 1024;  // as the comparison reads: the buffers stay in the cache

int64_t TimeNs(const EntryInfo& info) {
  return static_cast<int64_t>(info.writeTime.tv_sec) * 1'000'000'000 + info.writeTime.tv_nsec;
}

std::string Join(const std::string& rel, const std::string& name) { return rel.empty() ? name : rel + "/" + name; }

// One entry of a side as the planner sees it.
struct TSideEntry {
  std::string name;
  EntryKind kind = EntryKind::Missing;
  uint64_t size = 0;
  int64_t timeNs = 0;
};

bool ByName(const TSideEntry& a, const TSideEntry& b) { return a.name < b.name; }

TSyncSide SideOf(const TSideEntry& e) { return {e.kind, e.size, e.timeNs}; }

// A file's data, read from its start.
class TSideData {
 public:
  virtual ~TSideData() = default;
  // Up to n bytes, 0 at the end, -1 on failure (with `why`).
  virtual int64_t Read(void* buffer, size_t n, std::string& why) = 0;
};

// One side of the comparison, by paths below its top ("" is the top).
class TSide {
 public:
  virtual ~TSide() = default;
  // The entries of `rel`, sorted by name; false with `why` when unlisted.
  virtual bool List(const std::string& rel, std::vector<TSideEntry>& out, std::string& why) = 0;
  virtual std::string LinkTarget(const std::string& rel) = 0;
  virtual std::unique_ptr<TSideData> Open(const std::string& rel, std::string& why) = 0;
  // The entry as it is now (Missing when gone).
  virtual TSideEntry Now(const std::string& rel) = 0;
  // How a path is named in reports.
  virtual std::string Shown(const std::string& rel) const = 0;
};

// ------------------------------------------------------------ a local directory

class TLocalData final : public TSideData {
 public:
  platform::ReadOnlyFile file;
  uint64_t at = 0;
  int64_t Read(void* buffer, size_t n, std::string&) override {
    const size_t got = file.ReadAt(at, buffer, n);
    at += got;
    return static_cast<int64_t>(got);
  }
};

class TLocalSide final : public TSide {
 public:
  explicit TLocalSide(std::string root) : root_(std::move(root)) {}

  bool List(const std::string& rel, std::vector<TSideEntry>& out, std::string& why) override {
    out.clear();
    const int error = platform::ListDirectory(Path(rel), [&](const char* name, const EntryInfo& info) {
      out.push_back({name, info.kind, info.size, TimeNs(info)});
    });
    if (error != 0) {
      why = platform::ErrorText(error);
      return false;
    }
    std::sort(out.begin(), out.end(), ByName);
    return true;
  }

  std::string LinkTarget(const std::string& rel) override {
    std::string target;
    platform::ReadLinkTarget(Path(rel), target);
    return target;
  }

  std::unique_ptr<TSideData> Open(const std::string& rel, std::string& why) override {
    auto data = std::make_unique<TLocalData>();
    if (!data->file.Open(Path(rel), &why)) return nullptr;
    return data;
  }

  TSideEntry Now(const std::string& rel) override {
    EntryInfo info;
    platform::LStat(Path(rel), info);
    return {{}, info.kind, info.size, TimeNs(info)};
  }

  std::string Shown(const std::string& rel) const override { return Path(rel); }

 private:
  std::string Path(const std::string& rel) const { return rel.empty() ? root_ : root_ + "/" + rel; }
  std::string root_;
};

// ------------------------------------------------------------ a panel source

EntryKind KindOf(vfs::TEntryKind kind) {
  switch (kind) {
    case vfs::TEntryKind::File: return EntryKind::File;
    case vfs::TEntryKind::Directory: return EntryKind::Directory;
    case vfs::TEntryKind::Link: return EntryKind::Symlink;
    case vfs::TEntryKind::Special: return EntryKind::Special;
  }
  return EntryKind::Special;
}

TSideEntry EntryOf(vfs::TEntry& e) {
  const bool file = e.kind == vfs::TEntryKind::File;
  return {std::move(e.name), KindOf(e.kind), file ? e.size : 0, e.mtime * 1'000'000'000};
}

class TSourceData final : public TSideData {
 public:
  std::unique_ptr<vfs::TReadStream> stream;
  int64_t Read(void* buffer, size_t n, std::string& why) override {
    vfs::TError err;
    const int64_t got = stream->Read(buffer, n, &err);
    if (got < 0) why = err.text.empty() ? platform::ErrorText(err.code) : err.text;
    return got;
  }
};

class TSourceSide final : public TSide {
 public:
  explicit TSourceSide(const TSyncPlace& place) : source_(*place.source), inner_(place.inner), shown_(place.path) {}

  bool List(const std::string& rel, std::vector<TSideEntry>& out, std::string& why) override {
    out.clear();
    std::vector<vfs::TEntry> listed;
    vfs::TError err;
    if (!source_.List(Inner(rel), listed, &err)) {
      why = Reason(err);
      return false;
    }
    out.reserve(listed.size());
    for (vfs::TEntry& e : listed) out.push_back(EntryOf(e));
    std::sort(out.begin(), out.end(), ByName);
    return true;
  }

  std::string LinkTarget(const std::string& rel) override {
    vfs::TEntry e;
    vfs::TError err;
    return source_.Stat(Inner(rel), e, &err) ? e.linkTarget : std::string();
  }

  std::unique_ptr<TSideData> Open(const std::string& rel, std::string& why) override {
    vfs::TError err;
    auto data = std::make_unique<TSourceData>();
    data->stream = source_.Open(Inner(rel), &err);
    if (data->stream == nullptr) {
      why = Reason(err);
      return nullptr;
    }
    return data;
  }

  TSideEntry Now(const std::string& rel) override {
    vfs::TEntry e;
    vfs::TError err;
    if (!source_.Stat(Inner(rel), e, &err)) return {};
    return EntryOf(e);
  }

  std::string Shown(const std::string& rel) const override { return rel.empty() ? shown_ : shown_ + "/" + rel; }

 private:
  static std::string Reason(const vfs::TError& err) {
    return err.text.empty() ? platform::ErrorText(err.code) : err.text;
  }
  std::string Inner(const std::string& rel) const { return vfs::JoinInner(inner_, rel); }
  vfs::TSource& source_;
  std::string inner_;
  std::string shown_;
};

std::unique_ptr<TSide> SideFor(const TSyncPlace& place) {
  if (place.Local()) return std::make_unique<TLocalSide>(place.path);
  return std::make_unique<TSourceSide>(place);
}

// Why a side cannot be changed; empty when it can.
std::string ReadOnlyReason(const TSyncPlace& place) {
  if (place.Local()) return {};
  const vfs::TCapabilities caps = place.source->Capabilities();
  if (caps.writable) return {};
  return caps.readOnlyReason.empty() ? place.path + " is read-only here" : caps.readOnlyReason;
}

// ------------------------------------------------------------ the masks

// The masks, split at ";" and trimmed; none or "*" (or "*.*") means every name.
struct TMasks {
  std::vector<std::string> masks;
  bool all = false;
  explicit TMasks(const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(';', start);
      if (end == std::string::npos) end = text.size();
      std::string mask = text.substr(start, end - start);
      while (!mask.empty() && mask.front() == ' ') mask.erase(0, 1);
      while (!mask.empty() && mask.back() == ' ') mask.pop_back();
      if (mask == "*" || mask == "*.*") all = true;
      if (!mask.empty()) masks.push_back(mask);
      start = end + 1;
    }
    if (masks.empty()) all = true;
  }
  bool Match(const std::string& name) const {
    if (all) return true;
    for (const std::string& m : masks)
      if (platform::MatchWildcard(m, name)) return true;
    return false;
  }
};

bool FileOrLink(EntryKind kind) { return kind == EntryKind::File || kind == EntryKind::Symlink; }

// ------------------------------------------------------------ the planner

struct TPlanner {
  const TSyncOptions& options;
  TDirSync& owner;
  TSyncPlan& plan;
  TSide& leftSide;
  TSide& rightSide;
  TMasks masks{options.masks};
  std::unique_ptr<uint8_t[]> leftBuffer{new uint8_t[kBlock]};
  std::unique_ptr<uint8_t[]> rightBuffer{new uint8_t[kBlock]};
  TBesideWorker* beside = nullptr;  // two local directories: listed at once

  bool Stop() {
    if (!plan.stopped && owner.ShouldStop && owner.ShouldStop()) plan.stopped = true;
    return plan.stopped;
  }

  TSide& SideAt(bool left) { return left ? leftSide : rightSide; }

  bool List(TSide& side, const std::string& rel, std::vector<TSideEntry>& out) {
    std::string why;
    if (side.List(rel, out, why)) return true;
    plan.unreadable.push_back({side.Shown(rel) + "/", why});
    return false;
  }

  void Add(const std::string& rel, TSyncKind kind, const TSideEntry* l, const TSideEntry* r, uint64_t files = 0) {
    TSyncRow row;
    row.path = rel;
    row.kind = kind;
    if (l != nullptr) row.left = SideOf(*l);
    if (r != nullptr) row.right = SideOf(*r);
    row.files = files;
    row.action = DefaultAction(kind, options);
    if (!ActionAllowed(plan, row, row.action)) row.action = TSyncAction::Leave;  // towards a read-only side
    plan.rows.push_back(std::move(row));
  }

  // Fills `buffer` as far as the data go; -1 after a failure (reported).
  int64_t ReadFull(TSideData& data, uint8_t* buffer, TSide& side, const std::string& rel) {
    size_t got = 0;
    while (got < kBlock) {
      std::string why;
      const int64_t n = data.Read(buffer + got, kBlock - got, why);
      if (n < 0) {
        plan.unreadable.push_back({side.Shown(rel), why});
        return -1;
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(got);
  }

  // Whether the data of two files of the same size differ; an unreadable
  // side is reported and counts as no difference.
  bool DataDiffer(const std::string& rel) {
    std::string why;
    const std::unique_ptr<TSideData> l = leftSide.Open(rel, why);
    if (l == nullptr) return plan.unreadable.push_back({leftSide.Shown(rel), why}), false;
    const std::unique_ptr<TSideData> r = rightSide.Open(rel, why);
    if (r == nullptr) return plan.unreadable.push_back({rightSide.Shown(rel), why}), false;
    while (!Stop()) {
      const int64_t ln = ReadFull(*l, leftBuffer.get(), leftSide, rel);
      if (ln < 0) return false;
      const int64_t rn = ReadFull(*r, rightBuffer.get(), rightSide, rel);
      if (rn < 0) return false;
      if (ln != rn || std::memcmp(leftBuffer.get(), rightBuffer.get(), static_cast<size_t>(ln)) != 0) return true;
      if (static_cast<size_t>(ln) < kBlock) return false;
    }
    return false;
  }

  // Two entries of the same name and kind (files or links): how they differ, if at all.
  bool Differs(const std::string& rel, const TSideEntry& l, const TSideEntry& r, TSyncKind& kind) {
    const bool links = l.kind == EntryKind::Symlink;
    if (links && leftSide.LinkTarget(rel) == rightSide.LinkTarget(rel)) return false;
    if (options.byDate) {
      const int64_t gap = l.timeNs - r.timeNs;
      if (gap > kToleranceNs || gap < -kToleranceNs) {
        kind = gap > 0 ? TSyncKind::LeftNewer : TSyncKind::RightNewer;
        return true;
      }
    }
    kind = TSyncKind::Differ;
    if (links) return true;  // other targets, same time
    if ((options.bySize || options.byContent) && l.size != r.size) return true;
    return options.byContent && DataDiffer(rel);
  }

  // What a tree only one side has holds: its files (and links) and bytes.
  struct TTree {
    uint64_t files = 0, bytes = 0;
  };
  TTree Measure(TSide& side, const std::string& top) {
    TTree tree;
    std::vector<std::string> pending{top};
    std::vector<TSideEntry> entries;
    while (!pending.empty() && !Stop()) {
      const std::string rel = std::move(pending.back());
      pending.pop_back();
      List(side, rel, entries);
      for (const TSideEntry& e : entries) {
        if (e.kind == EntryKind::Directory) pending.push_back(Join(rel, e.name));
        else if (FileOrLink(e.kind)) ++tree.files, tree.bytes += e.size;
      }
    }
    return tree;
  }

  void AddOneSided(const std::string& rel, const TSideEntry& e, bool left, uint64_t files = 0) {
    Add(rel, left ? TSyncKind::OnlyLeft : TSyncKind::OnlyRight, left ? &e : nullptr, left ? nullptr : &e, files);
  }

  // A directory only one side has (`left`: the left).
  void OneSidedDirectory(const std::string& rel, const TSideEntry& info, bool left) {
    TSide& side = SideAt(left);
    if (masks.all) {
      const TTree tree = Measure(side, rel);
      if (tree.files == 0 && !options.emptyDirectories) return;
      AddOneSided(rel, info, left, tree.files);
      (left ? plan.rows.back().left : plan.rows.back().right).size = tree.bytes;
      return;
    }
    if (!options.recursive) return;
    std::vector<TSideEntry> entries;
    if (!List(side, rel, entries)) return;
    if (entries.empty() && options.emptyDirectories) AddOneSided(rel, info, left);
    for (const TSideEntry& e : entries) {
      if (Stop()) return;
      if (e.kind == EntryKind::Directory) OneSidedDirectory(Join(rel, e.name), e, left);
      else if (FileOrLink(e.kind) && masks.Match(e.name)) AddOneSided(Join(rel, e.name), e, left);
    }
  }

  // Both sides of `rel`; two directories are listed at once, the left on
  // the worker beside.
  bool ListBoth(const std::string& rel, std::vector<TSideEntry>& lefts, std::vector<TSideEntry>& rights) {
    if (beside == nullptr) {
      const bool leftListed = List(leftSide, rel, lefts);
      return List(rightSide, rel, rights) && leftListed;
    }
    bool leftListed = false;
    std::string why;
    beside->Run([&] { leftListed = leftSide.List(rel, lefts, why); });
    const bool rightListed = List(rightSide, rel, rights);
    beside->Wait();
    if (!leftListed) plan.unreadable.push_back({leftSide.Shown(rel) + "/", why});
    return leftListed && rightListed;
  }

  void Directories(const std::string& rel) {
    std::vector<TSideEntry> lefts, rights;
    if (!ListBoth(rel, lefts, rights)) return;  // nothing is proposed against a side not seen
    auto l = lefts.begin();
    auto r = rights.begin();
    while ((l != lefts.end() || r != rights.end()) && !Stop()) {
      const int order = l == lefts.end() ? 1 : r == rights.end() ? -1 : l->name.compare(r->name);
      if (order != 0) {
        const bool left = order < 0;
        const TSideEntry& e = *(left ? l : r);
        if (e.kind == EntryKind::Directory) OneSidedDirectory(Join(rel, e.name), e, left);
        else if (FileOrLink(e.kind) && masks.Match(e.name)) AddOneSided(Join(rel, e.name), e, left);
        ++(left ? l : r);
        continue;
      }
      const std::string path = Join(rel, l->name);
      if (l->kind != r->kind) {
        if (l->kind != EntryKind::Special && r->kind != EntryKind::Special) Add(path, TSyncKind::KindClash, &*l, &*r);
      } else if (l->kind == EntryKind::Directory) {
        if (options.recursive) Directories(path);
      } else if (FileOrLink(l->kind) && masks.Match(l->name)) {
        TSyncKind kind;
        if (Differs(path, *l, *r, kind)) Add(path, kind, &*l, &*r);
      }
      ++l;
      ++r;
    }
  }
};

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentOf(const std::string& rel) {
  const size_t slash = rel.rfind('/');
  return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

std::string BaseOf(const std::string& rel) {
  const size_t slash = rel.rfind('/');
  return slash == std::string::npos ? rel : rel.substr(slash + 1);
}

// Whether the entry at `path` is still as the comparison saw it.
bool Unchanged(const std::string& path, const TSyncSide& seen) {
  EntryInfo now;
  platform::LStat(path, now);
  if (now.kind != seen.kind) return false;
  if (now.kind == EntryKind::Missing) return true;
  if (now.kind == EntryKind::Directory) return TimeNs(now) == seen.timeNs;  // what it holds directly
  return now.size == seen.size && TimeNs(now) == seen.timeNs;
}

}  // namespace

TSyncAction DefaultAction(TSyncKind kind, const TSyncOptions& options) {
  switch (kind) {
    case TSyncKind::OnlyLeft:
    case TSyncKind::LeftNewer:
      return TSyncAction::ToRight;
    case TSyncKind::OnlyRight:
      if (options.bothWays) return TSyncAction::ToLeft;
      return options.deleteExtra ? TSyncAction::Delete : TSyncAction::Leave;
    case TSyncKind::RightNewer:
      // One way never replaces a newer file on the right unasked.
      return options.bothWays ? TSyncAction::ToLeft : TSyncAction::Leave;
    case TSyncKind::Differ:
      // Both ways, neither side is known to be the better one.
      return options.bothWays ? TSyncAction::Leave : TSyncAction::ToRight;
    case TSyncKind::KindClash:
      return TSyncAction::Leave;
  }
  return TSyncAction::Leave;
}

bool ActionAllowed(const TSyncPlan& plan, const TSyncRow& row, TSyncAction action) {
  if (!ActionAllowed(row, action)) return false;
  switch (action) {
    case TSyncAction::Leave: return true;
    case TSyncAction::ToRight: return plan.rightReadOnly.empty();
    case TSyncAction::ToLeft: return plan.leftReadOnly.empty();
    case TSyncAction::Delete: return (row.left.Present() ? plan.leftReadOnly : plan.rightReadOnly).empty();
  }
  return false;
}

bool ActionAllowed(const TSyncRow& row, TSyncAction action) {
  switch (action) {
    case TSyncAction::Leave:
      return true;
    case TSyncAction::ToRight:
      return row.kind != TSyncKind::KindClash && row.left.Present();
    case TSyncAction::ToLeft:
      return row.kind != TSyncKind::KindClash && row.right.Present();
    case TSyncAction::Delete:
      return row.left.Present() != row.right.Present();
  }
  return false;
}

TSyncPlan TDirSync::Plan(const std::string& left, const std::string& right, const TSyncOptions& options) {
  TSyncPlace l, r;
  l.path = left;
  r.path = right;
  return Plan(l, r, options);
}

TSyncPlan TDirSync::Plan(const TSyncPlace& left, const TSyncPlace& right, const TSyncOptions& options) {
  TSyncPlan plan;
  plan.leftPlace = left;
  plan.rightPlace = right;
  plan.leftPlace.path = plan.left = WithoutTrailingSlash(left.path);
  plan.rightPlace.path = plan.right = WithoutTrailingSlash(right.path);
  plan.leftReadOnly = ReadOnlyReason(left);
  plan.rightReadOnly = ReadOnlyReason(right);
  plan.options = options;
  const std::unique_ptr<TSide> l = SideFor(plan.leftPlace), r = SideFor(plan.rightPlace);
  TPlanner planner{options, *this, plan, *l, *r};
  std::unique_ptr<TBesideWorker> beside;
  if (left.Local() && right.Local()) planner.beside = (beside = std::make_unique<TBesideWorker>()).get();
  planner.Directories("");
  return plan;
}

TSyncOutcome RunSync(const TSyncPlan& plan, fileops::TFMOperation& op, fileops::TDeferringPrompt* kept) {
  TSyncOutcome outcome;
  double total = 0;
  for (const TSyncRow& row : plan.rows) {
    if (row.action == TSyncAction::ToRight) total += static_cast<double>(row.left.size);
    if (row.action == TSyncAction::ToLeft) total += static_cast<double>(row.right.size);
    if (row.action == TSyncAction::Delete) total += static_cast<double>(row.left.size + row.right.size);
  }
  const bool confirm = op.ConfirmOverwrite;
  op.BeginBatch(total);
  for (const TSyncRow& row : plan.rows) {
    if (row.action == TSyncAction::Leave || !ActionAllowed(plan, row, row.action)) continue;
    const std::string parent = ParentOf(row.path), name = BaseOf(row.path);
    const auto side = [&](bool leftSide) {
      const std::string& root = leftSide ? plan.left : plan.right;
      return parent.empty() ? root : root + "/" + parent;
    };
    if (row.action == TSyncAction::Delete) {
      const bool leftSide = row.left.Present();
      if (!Unchanged(side(leftSide) + "/" + name, leftSide ? row.left : row.right)) {
        outcome.changed.push_back(row.path);
        continue;
      }
      op.DeleteFiles({name}, side(leftSide));
    } else {
      const bool toRight = row.action == TSyncAction::ToRight;
      const std::string destDir = side(!toRight);
      // A destination the comparison saw is replaced as planned; one that
      // appeared or changed since is asked about first.
      op.ConfirmOverwrite = !Unchanged(destDir + "/" + name, toRight ? row.right : row.left);
      platform::MakeDirectoryPath(destDir);  // a failure shows as the copy's own
      if (kept != nullptr) kept->SetRun(side(toRight), destDir, {name});
      op.CopyFiles({name}, side(toRight), destDir);
    }
    outcome.done += op.Completed().size();
    if (op.BatchStopped() || op.OperationAborted) {
      outcome.aborted = true;
      break;
    }
  }
  op.EndBatch();
  op.ConfirmOverwrite = confirm;
  return outcome;
}

namespace {

// A side of a run through panel sources: its source (a local directory
// becomes one) and the place in it.
struct TRunSide {
  std::shared_ptr<vfs::TSource> source;
  std::string inner;
  std::unique_ptr<TSide> side;
  explicit TRunSide(const TSyncPlace& place)
      : source(place.Local() ? std::make_shared<vfs::TLocalSource>(place.path) : place.source),
        inner(place.Local() ? std::string() : place.inner),
        side(SideFor(place)) {}
};

// Whether an entry is as the comparison saw it. Times within a second
// count (an archive keeps whole seconds at best).
bool AsSeen(const TSideEntry& now, const TSyncSide& seen) {
  if (now.kind != seen.kind) return false;
  if (now.kind == EntryKind::Missing) return true;
  const int64_t gap = now.timeNs / 1'000'000'000 - seen.timeNs / 1'000'000'000;
  if (gap != 0) return false;
  return now.kind == EntryKind::Directory || now.size == seen.size;
}

fileops::TFMMessage DeleteFailure(const std::string& item, const vfs::TError& err) {
  return {fileops::TFMMessageKind::CouldNotDelete, item, fileops::MessageText(fileops::TFMMessageKind::CouldNotDelete, item),
          err.code, err.text.empty() ? platform::ErrorText(err.code) : err.text};
}

// An archive another program (or the other side's reader) changed since it
// was read is read again, so that what changed in it is seen (and asked
// about); false with the failure in `outcome`.
bool ReadAgainWhereChanged(std::initializer_list<TRunSide*> sides, TSyncOutcome& outcome) {
  for (TRunSide* side : sides) {
    vfs::TError err;
    if (side->source->Stale() && !side->source->Refresh(&err)) {
      outcome.failures.push_back({fileops::TFMMessageKind::CouldNotCopy, side->source->Root(),
                                  fileops::MessageText(fileops::TFMMessageKind::CouldNotCopy, side->source->Root()),
                                  err.code, err.text});
      return false;
    }
  }
  return true;
}

// The deletions planned on one side, of what is still as it was seen
// (the rest goes to `outcome.changed`).
void CollectDeletes(const TSyncPlan& plan, TRunSide& side, bool leftSide, vfs::TChangeSet& deletes,
                    std::vector<std::string>& paths, TSyncOutcome& outcome) {
  for (const TSyncRow& row : plan.rows) {
    if (row.action != TSyncAction::Delete || !ActionAllowed(plan, row, row.action)) continue;
    if (row.left.Present() != leftSide) continue;
    if (!AsSeen(side.side->Now(row.path), leftSide ? row.left : row.right)) {
      outcome.changed.push_back(row.path);
      continue;
    }
    deletes.Delete(vfs::JoinInner(side.inner, row.path));
    paths.push_back(row.path);
  }
}

void Tally(const fileops::TSourceCopy& copy, TSyncOutcome& outcome) {
  outcome.done += copy.Completed().size();
  outcome.failures.insert(outcome.failures.end(), copy.Failures().begin(), copy.Failures().end());
  outcome.skipped += copy.SkippedCount();
}

// "name (2).ext", "name (3).ext"...: the first such name `dir` of `source` lacks.
std::string FreeNameIn(vfs::TSource& source, const std::string& dir, const std::string& name) {
  const size_t dot = name.rfind('.');
  const bool ext = dot != std::string::npos && dot > 0;
  const std::string stem = ext ? name.substr(0, dot) : name;
  const std::string tail = ext ? name.substr(dot) : std::string();
  for (int n = 2;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + tail;
    vfs::TEntry e;
    vfs::TError err;
    if (!source.Stat(vfs::JoinInner(dir, candidate), e, &err)) return candidate;
  }
}

// Copies the files and links at `paths` beside what is in their way at the
// destination, each under a free name, as one change of the destination.
void CopyBeside(const std::vector<std::string>& paths, TRunSide& from, TRunSide& to, TSyncOutcome& outcome) {
  vfs::TChangeSet changes;
  for (const std::string& path : paths) {
    vfs::TEntry e;
    vfs::TError err;
    const std::string src = vfs::JoinInner(from.inner, path);
    if (!from.source->Stat(src, e, &err) || e.kind == vfs::TEntryKind::Directory) continue;
    const std::string dir = vfs::JoinInner(to.inner, ParentOf(path));
    const std::string dst = vfs::JoinInner(dir, FreeNameIn(*to.source, dir, BaseOf(path)));
    if (e.kind == vfs::TEntryKind::Link) {
      changes.PutLink(dst, e.linkTarget, e.mtime);
      continue;
    }
    vfs::TSource& source = *from.source;
    changes.PutData(dst, [&source, src](vfs::TDataSink& sink, vfs::TError* perr) {
      return source.ReadInto(src, sink, {}, perr);
    }, e.size, e.mtime, e.mode != 0 ? e.mode : 0644);
  }
  if (changes.empty()) return;
  vfs::TError err;
  if (to.source->Apply(changes, {}, &err)) {
    outcome.done += changes.changes.size();
    return;
  }
  const std::string item = to.source->Root();
  outcome.failures.push_back({fileops::TFMMessageKind::CouldNotCopy, item,
                              fileops::MessageText(fileops::TFMMessageKind::CouldNotCopy, item), err.code,
                              err.text.empty() ? platform::ErrorText(err.code) : err.text});
}

}  // namespace

TSyncOutcome RunSync(const TSyncPlan& plan, fileops::TSourceCopy& copy, const TSyncProgress& progress,
                     fileops::TDeferringPrompt* kept) {
  TSyncOutcome outcome;
  TRunSide left(plan.leftPlace), right(plan.rightPlace);
  if (!ReadAgainWhereChanged({&left, &right}, outcome)) return outcome;
  double total = 0;
  for (const TSyncRow& row : plan.rows) {
    if (row.action == TSyncAction::ToRight) total += static_cast<double>(row.left.size);
    if (row.action == TSyncAction::ToLeft) total += static_cast<double>(row.right.size);
  }
  double before = 0;  // bytes of the passes done
  const auto saved = copy.OnGlobalDone;
  copy.OnGlobalDone = [&](fileops::TSourceCopy& c, int) {
    if (progress && !progress(std::min(before + c.Done(), total), total, c.CurrentItem())) c.OperationAborted = true;
  };
  // One pass a side written: everything copied into it and deleted from it
  // is one change (one rewrite of an archive).
  for (const TSyncAction way : {TSyncAction::ToRight, TSyncAction::ToLeft}) {
    const bool toRight = way == TSyncAction::ToRight;
    TRunSide& from = toRight ? left : right;
    TRunSide& to = toRight ? right : left;
    if (!ReadAgainWhereChanged({&from, &to}, outcome)) break;
    std::vector<std::string> paths;
    std::vector<const TSyncRow*> rows;
    for (const TSyncRow& row : plan.rows)
      if (row.action == way && ActionAllowed(plan, row, way)) paths.push_back(row.path), rows.push_back(&row);
    vfs::TChangeSet deletes;
    std::vector<std::string> deleted;
    CollectDeletes(plan, to, !toRight, deletes, deleted, outcome);
    if (!paths.empty()) {
      // A destination the comparison saw is replaced as planned; one that
      // appeared or changed since is asked about first.
      copy.ReplaceUnasked = [&](const std::string& path, const vfs::TEntry& existing) {
        for (const TSyncRow* row : rows)
          if (row->path == path) {
            vfs::TEntry e = existing;
            return AsSeen(EntryOf(e), toRight ? row->right : row->left);
          }
        return false;
      };
      if (kept != nullptr) kept->SetRun(toRight ? plan.left : plan.right, toRight ? plan.right : plan.left, paths);
      const bool together = to.source->BatchesChanges();
      if (together) copy.AlsoApply = std::move(deletes);
      copy.CopyPaths(paths, *from.source, from.inner, *to.source, to.inner);
      copy.ReplaceUnasked = nullptr;
      copy.AlsoApply = vfs::TChangeSet();
      Tally(copy, outcome);
      if (together) {
        if (copy.AlsoApplied()) outcome.done += deleted.size();
        deletes = vfs::TChangeSet();  // made with the copy, or reported as its failure
      }
      before = std::min(before + copy.Done(), total);
      if (copy.Stopped() || copy.AbortChosen() || copy.OperationAborted) {
        outcome.aborted = true;
        break;
      }
    }
    if (deletes.empty()) continue;
    if (progress && !progress(before, total, deleted.front())) {
      outcome.aborted = true;
      break;
    }
    vfs::TError err;
    if (to.source->Apply(deletes, {}, &err))
      outcome.done += deleted.size();
    else
      outcome.failures.push_back(DeleteFailure(deleted.size() == 1 ? deleted.front() : to.source->Root(), err));
  }
  copy.OnGlobalDone = saved;
  if (progress && !outcome.aborted) progress(total, total, {});
  return outcome;
}

bool ReopenSides(TSyncPlan& plan, vfs::TPasswordProvider* passwords, std::string* error) {
  // Two sides in one archive share one reader: what one pass writes, the
  // other sees.
  const bool shared = plan.leftPlace.source != nullptr && plan.leftPlace.source == plan.rightPlace.source;
  for (TSyncPlace* place : {&plan.leftPlace, &plan.rightPlace}) {
    if (place->Local() || !place->reopen) continue;
    if (shared && place == &plan.rightPlace) {
      plan.rightPlace.source = plan.leftPlace.source;
      break;
    }
    std::shared_ptr<vfs::TSource> own = place->reopen(passwords, error);
    if (own == nullptr) return false;
    place->source = std::move(own);
  }
  return true;
}

TSyncOutcome SettleSyncConflicts(const TSyncPlan& plan, fileops::TSourceCopy& copy,
                                 const std::vector<fileops::TDeferredConflict>& conflicts,
                                 fileops::TConflictChoice choice) {
  TSyncOutcome outcome;
  if (choice == fileops::TConflictChoice::SkipAll || conflicts.empty()) return outcome;
  TRunSide left(plan.leftPlace), right(plan.rightPlace);
  if (!ReadAgainWhereChanged({&left, &right}, outcome)) return outcome;
  for (const bool toRight : {true, false}) {
    // A kept conflict names the run's source as its root, the row as its item.
    std::vector<std::string> paths;
    for (const fileops::TDeferredConflict& c : conflicts)
      if (c.sourceRoot == (toRight ? plan.left : plan.right)) paths.push_back(c.item);
    if (paths.empty()) continue;
    TRunSide& from = toRight ? left : right;
    TRunSide& to = toRight ? right : left;
    if (!ReadAgainWhereChanged({&from, &to}, outcome)) break;
    if (choice == fileops::TConflictChoice::RenameAll) {
      CopyBeside(paths, from, to, outcome);
      continue;
    }
    if (choice == fileops::TConflictChoice::OverwriteAll)
      copy.ReplaceUnasked = [](const std::string&, const vfs::TEntry&) { return true; };
    copy.CopyPaths(paths, *from.source, from.inner, *to.source, to.inner);
    copy.ReplaceUnasked = nullptr;
    Tally(copy, outcome);
    if (copy.Stopped() || copy.AbortChosen() || copy.OperationAborted) {
      outcome.aborted = true;
      break;
    }
  }
  return outcome;
}

}  // namespace vantrel::tools
