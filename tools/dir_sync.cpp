// dir_sync.cpp - the plan of a synchronisation and its run.
#include "tools/dir_sync.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "fileops/fmoperation.h"
#include "platform/fs.h"
#include "platform/readonly_file.h"
#include "platform/rename.h"
#include "platform/wildcard.h"

namespace vantrel::tools {

using platform::EntryInfo;
using platform::EntryKind;

namespace {

// Times this close count as equal (some file systems keep two seconds).
constexpr int64_t kToleranceNs = 2'000'000'000;
constexpr size_t kBlock = 256 * 1024;

int64_t TimeNs(const EntryInfo& info) {
  return static_cast<int64_t>(info.writeTime.tv_sec) * 1'000'000'000 + info.writeTime.tv_nsec;
}

TSyncSide SideOf(const EntryInfo& info) { return {info.kind, info.size, TimeNs(info)}; }

std::string Join(const std::string& rel, const std::string& name) { return rel.empty() ? name : rel + "/" + name; }

std::string LinkTarget(const std::string& path) {
  std::string target(4096, '\0');
  const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
  target.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return target;
}

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

struct TPlanner {
  const TSyncOptions& options;
  TDirSync& owner;
  TSyncPlan& plan;
  TMasks masks{options.masks};
  std::unique_ptr<uint8_t[]> leftBuffer{new uint8_t[kBlock]};
  std::unique_ptr<uint8_t[]> rightBuffer{new uint8_t[kBlock]};

  bool Stop() {
    if (!plan.stopped && owner.ShouldStop && owner.ShouldStop()) plan.stopped = true;
    return plan.stopped;
  }

  bool List(const std::string& dir, std::map<std::string, EntryInfo>& out) {
    const int error = platform::ListDirectory(dir, [&](const char* name, const EntryInfo& info) {
      out.emplace(name, info);
    });
    if (error != 0) plan.unreadable.push_back({dir + "/", platform::ErrorText(error)});
    return error == 0;
  }

  void Add(const std::string& rel, TSyncKind kind, const EntryInfo* l, const EntryInfo* r, uint64_t files = 0) {
    TSyncRow row;
    row.path = rel;
    row.kind = kind;
    if (l != nullptr) row.left = SideOf(*l);
    if (r != nullptr) row.right = SideOf(*r);
    row.files = files;
    row.action = DefaultAction(kind, options);
    plan.rows.push_back(std::move(row));
  }

  // Whether the data of two files of the same size differ; an unreadable
  // side is reported and counts as no difference.
  bool DataDiffer(const std::string& left, const std::string& right) {
    platform::ReadOnlyFile lf, rf;
    std::string why;
    if (!lf.Open(left, &why)) return plan.unreadable.push_back({left, why}), false;
    if (!rf.Open(right, &why)) return plan.unreadable.push_back({right, why}), false;
    for (uint64_t at = 0; !Stop(); at += kBlock) {
      const size_t ln = lf.ReadAt(at, leftBuffer.get(), kBlock);
      const size_t rn = rf.ReadAt(at, rightBuffer.get(), kBlock);
      if (ln != rn || std::memcmp(leftBuffer.get(), rightBuffer.get(), ln) != 0) return true;
      if (ln < kBlock) return false;
    }
    return false;
  }

  // Two entries of the same name and kind (files or links): how they differ, if at all.
  bool Differs(const std::string& lp, const std::string& rp, const EntryInfo& l, const EntryInfo& r,
               TSyncKind& kind) {
    const bool links = l.kind == EntryKind::Symlink;
    if (links && LinkTarget(lp) == LinkTarget(rp)) return false;
    if (options.byDate) {
      const int64_t gap = TimeNs(l) - TimeNs(r);
      if (gap > kToleranceNs || gap < -kToleranceNs) {
        kind = gap > 0 ? TSyncKind::LeftNewer : TSyncKind::RightNewer;
        return true;
      }
    }
    kind = TSyncKind::Differ;
    if (links) return true;  // other targets, same time
    if ((options.bySize || options.byContent) && l.size != r.size) return true;
    return options.byContent && DataDiffer(lp, rp);
  }

  // What a tree only one side has holds: its files (and links), bytes, and
  // whether it holds nothing at all.
  struct TTree {
    uint64_t files = 0, bytes = 0;
  };
  TTree Measure(const std::string& dir) {
    TTree tree;
    std::vector<std::string> pending{dir};
    while (!pending.empty() && !Stop()) {
      const std::string d = std::move(pending.back());
      pending.pop_back();
      std::map<std::string, EntryInfo> entries;
      List(d, entries);
      for (const auto& [name, info] : entries) {
        if (info.kind == EntryKind::Directory) pending.push_back(d + "/" + name);
        else if (info.kind == EntryKind::File || info.kind == EntryKind::Symlink) ++tree.files, tree.bytes += info.size;
      }
    }
    return tree;
  }

  // A directory only one side has (`leftSide`: the left).
  void OneSidedDirectory(const std::string& full, const std::string& rel, const EntryInfo& info, bool leftSide) {
    const TSyncKind kind = leftSide ? TSyncKind::OnlyLeft : TSyncKind::OnlyRight;
    if (masks.all) {
      const TTree tree = Measure(full);
      if (tree.files == 0 && !options.emptyDirectories) return;
      Add(rel, kind, leftSide ? &info : nullptr, leftSide ? nullptr : &info, tree.files);
      (leftSide ? plan.rows.back().left : plan.rows.back().right).size = tree.bytes;
      return;
    }
    if (!options.recursive) return;
    std::map<std::string, EntryInfo> entries;
    if (!List(full, entries)) return;
    if (entries.empty() && options.emptyDirectories) Add(rel, kind, leftSide ? &info : nullptr, leftSide ? nullptr : &info);
    for (const auto& [name, e] : entries) {
      if (Stop()) return;
      if (e.kind == EntryKind::Directory) {
        OneSidedDirectory(full + "/" + name, Join(rel, name), e, leftSide);
      } else if ((e.kind == EntryKind::File || e.kind == EntryKind::Symlink) && masks.Match(name)) {
        Add(Join(rel, name), kind, leftSide ? &e : nullptr, leftSide ? nullptr : &e);
      }
    }
  }

  void Directories(const std::string& left, const std::string& right, const std::string& rel) {
    std::map<std::string, EntryInfo> lefts, rights;
    const bool leftListed = List(left, lefts);
    const bool rightListed = List(right, rights);
    if (!leftListed || !rightListed) return;  // nothing is proposed against a side not seen
    auto l = lefts.begin();
    auto r = rights.begin();
    while ((l != lefts.end() || r != rights.end()) && !Stop()) {
      const int order = l == lefts.end() ? 1 : r == rights.end() ? -1 : l->first.compare(r->first);
      if (order != 0) {
        const bool leftSide = order < 0;
        const auto& [name, info] = *(leftSide ? l : r);
        const std::string full = (leftSide ? left : right) + "/" + name;
        if (info.kind == EntryKind::Directory) {
          OneSidedDirectory(full, Join(rel, name), info, leftSide);
        } else if ((info.kind == EntryKind::File || info.kind == EntryKind::Symlink) && masks.Match(name)) {
          Add(Join(rel, name), leftSide ? TSyncKind::OnlyLeft : TSyncKind::OnlyRight, leftSide ? &info : nullptr,
              leftSide ? nullptr : &info);
        }
        ++(leftSide ? l : r);
        continue;
      }
      const std::string& name = l->first;
      const EntryInfo& li = l->second;
      const EntryInfo& ri = r->second;
      const std::string lp = left + "/" + name, rp = right + "/" + name;
      if (li.kind != ri.kind) {
        if (li.kind != EntryKind::Special && ri.kind != EntryKind::Special) Add(Join(rel, name), TSyncKind::KindClash, &li, &ri);
      } else if (li.kind == EntryKind::Directory) {
        if (options.recursive) Directories(lp, rp, Join(rel, name));
      } else if ((li.kind == EntryKind::File || li.kind == EntryKind::Symlink) && masks.Match(name)) {
        TSyncKind kind;
        if (Differs(lp, rp, li, ri, kind)) Add(Join(rel, name), kind, &li, &ri);
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
  TSyncPlan plan;
  plan.left = WithoutTrailingSlash(left);
  plan.right = WithoutTrailingSlash(right);
  plan.options = options;
  TPlanner planner{options, *this, plan};
  planner.Directories(plan.left, plan.right, "");
  return plan;
}

TSyncOutcome RunSync(const TSyncPlan& plan, fileops::TFMOperation& op) {
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
    if (row.action == TSyncAction::Leave || !ActionAllowed(row, row.action)) continue;
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

}  // namespace vantrel::tools
