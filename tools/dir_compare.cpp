// dir_compare.cpp - pairing two listings by name and comparing the pairs.
#include "tools/dir_compare.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/copyfile.h"
#include "platform/tree_read.h"
#include "tools/beside_worker.h"

namespace vantrel::tools {

namespace {

// Blocks of 64 KiB: both buffers stay in the processor's cache between the
// copy out of the page cache and the comparison; 128 KiB reads and more
// measured twice the system time here.
constexpr size_t kBlock = 64 * 1024;
// How many blocks of one pair are read between two stop checks.
constexpr unsigned kBlocksPerCheck = 16;

enum class TKind : uint8_t { File, Directory, Link, Other };

TKind KindOf(platform::EntryKind kind) {
  switch (kind) {
    case platform::EntryKind::File: return TKind::File;
    case platform::EntryKind::Directory: return TKind::Directory;
    case platform::EntryKind::Symlink: return TKind::Link;
    default: return TKind::Other;
  }
}

struct TInfo {
  std::string name;
  TKind kind = TKind::Other;
  uint64_t size = 0;
  platform::FileTime time = 0;
};

bool ByName(const TInfo& a, const TInfo& b) { return a.name < b.name; }

// A directory's entries sorted by name, or why it could not be listed.
struct TListing {
  std::vector<TInfo> entries;
  int error = 0;
};

// Lists `dir` into `out`: one descriptor for the directory, each entry
// examined through it.
void ListInto(const std::string& dir, TListing& out) {
  out.entries.clear();
  out.error = platform::ListDirectory(dir, [&](const char* name, const platform::EntryInfo& info) {
    out.entries.push_back({name, KindOf(info.kind), info.size,
                           platform::FileTimeFromUnix(info.writeTime.tv_sec, info.writeTime.tv_nsec)});
  });
  std::sort(out.entries.begin(), out.entries.end(), ByName);
}

struct TComparer {
  TComparer(const TCompareOptions& o, TDirCompare& d, TCompareResult& r) : options(o), owner(d), result(r) {}

  const TCompareOptions& options;
  TDirCompare& owner;
  TCompareResult& result;
  std::unique_ptr<uint8_t[]> leftBuffer{new uint8_t[kBlock]};
  std::unique_ptr<uint8_t[]> rightBuffer{new uint8_t[kBlock]};
  TBesideWorker beside;
  bool parallelReads = false;  // the two trees are on different devices

  bool Stop() {
    if (!result.stopped && owner.ShouldStop && owner.ShouldStop()) result.stopped = true;
    return result.stopped;
  }

  void Unreadable(const std::string& path, int error) {
    result.unreadable.push_back({path, platform::ErrorText(error)});
  }

  // Both directories' entries, the left listed beside on the worker; false
  // (reported) when either cannot be listed.
  bool ListBoth(const std::string& left, const std::string& right, TListing& lefts, TListing& rights) {
    beside.Run([&] { ListInto(left, lefts); });
    ListInto(right, rights);
    beside.Wait();
    if (lefts.error != 0) Unreadable(left + "/", lefts.error);
    if (rights.error != 0) Unreadable(right + "/", rights.error);
    return lefts.error == 0 && rights.error == 0;
  }

  // 1 when the data differ, 0 when they are the same, -1 when a side
  // cannot be read (reported) or the comparison was stopped.
  int DataDiffer(const std::string& left, const std::string& right, uint64_t size) {
    platform::SequentialFile lf, rf;
    if (const int error = lf.Open(left); error != 0) {
      Unreadable(left, error);
      return -1;
    }
    if (const int error = rf.Open(right); error != 0) {
      Unreadable(right, error);
      return -1;
    }
    if (size > 4 * kBlock) {  // small files are read ahead well enough as they are
      lf.ReadingThrough();
      rf.ReadingThrough();
    }
    // The listed size is read and no further: two files of that size whose
    // bytes agree are equal; one whose size changed meanwhile differs.
    int verdict = 0;
    for (uint64_t at = 0, blocks = 1; at < size; at += kBlock, ++blocks) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, size - at));
      int64_t ln = 0, rn = 0;
      int leftErrno = 0, rightErrno = 0;
      if (parallelReads) {  // two devices: each side's read waits for its own disk only
        beside.Run([&] {
          ln = lf.ReadFull(leftBuffer.get(), want);
          leftErrno = errno;
        });
        rn = rf.ReadFull(rightBuffer.get(), want);
        rightErrno = errno;
        beside.Wait();
      } else {
        ln = lf.ReadFull(leftBuffer.get(), want);
        leftErrno = errno;
        if (ln >= 0) rn = rf.ReadFull(rightBuffer.get(), want), rightErrno = errno;
      }
      if (ln < 0 || rn < 0) {
        Unreadable(ln < 0 ? left : right, ln < 0 ? leftErrno : rightErrno);
        verdict = -1;
        break;
      }
      result.bytesRead += static_cast<uint64_t>(ln + rn);
      if (static_cast<size_t>(ln) != want || static_cast<size_t>(rn) != want ||
          std::memcmp(leftBuffer.get(), rightBuffer.get(), want) != 0) {
        verdict = 1;
        break;
      }
      if (blocks % kBlocksPerCheck == 0 && Stop()) {
        verdict = -1;
        break;
      }
    }
    if (verdict == 0 && (lf.SizeNow() != size || rf.SizeNow() != size)) verdict = 1;
    return verdict;
  }

  void Add(const std::string& rel, TDifference difference) { result.items.push_back({rel, difference}); }

  // Compares one pair present on both sides (in the directories `leftDir`
  // and `rightDir`, `relDir` below the tops); true when it differs. The
  // paths are only made for what is read.
  bool Pair(const std::string& leftDir, const std::string& rightDir, const std::string& relDir, const TInfo& l,
            const TInfo& r) {
    ++result.pairs;
    const std::string rel = relDir + l.name;
    const auto left = [&] { return leftDir + "/" + l.name; };
    const auto right = [&] { return rightDir + "/" + r.name; };
    if (l.kind != r.kind) {
      Add(rel, TDifference::Kind);
      return true;
    }
    if (l.kind == TKind::Directory) return options.recursive && Directories(left(), right(), rel + "/");
    if (l.kind == TKind::Link) {
      std::string lt, rt;
      if (!platform::ReadLinkTarget(left(), lt) || !platform::ReadLinkTarget(right(), rt) || lt == rt) return false;
      Add(rel, TDifference::Content);
      return true;
    }
    if (l.kind != TKind::File) return false;
    if (options.byDate) {
      const uint64_t gap = l.time > r.time ? l.time - r.time : r.time - l.time;
      if (gap > kTimeTolerance) {
        Add(rel, l.time > r.time ? TDifference::LeftNewer : TDifference::RightNewer);
        return true;
      }
    }
    if (options.bySize && l.size != r.size) {
      Add(rel, TDifference::Size);
      return true;
    }
    if (options.byContent) {
      if (l.size != r.size) {
        Add(rel, TDifference::Content);
        return true;
      }
      if (DataDiffer(left(), right(), l.size) == 1) {
        Add(rel, TDifference::Content);
        return true;
      }
    }
    return false;
  }

  // Compares two directories below the top ones (`rel` ends in "/", empty
  // at the top); true when anything in them differs.
  bool Directories(const std::string& left, const std::string& right, const std::string& rel) {
    TListing leftListing, rightListing;
    if (!ListBoth(left, right, leftListing, rightListing)) return false;
    const std::vector<TInfo>& lefts = leftListing.entries;
    const std::vector<TInfo>& rights = rightListing.entries;
    bool differs = false;
    const bool top = rel.empty();
    auto mark = [&](std::set<std::string>& marks, const std::string& name) {
      if (top) marks.insert(name);
    };
    auto l = lefts.begin();
    auto r = rights.begin();
    while ((l != lefts.end() || r != rights.end()) && !Stop()) {
      const int order = l == lefts.end() ? 1 : r == rights.end() ? -1 : l->name.compare(r->name);
      if (order < 0) {
        Add(rel + l->name, TDifference::OnlyLeft);
        mark(result.leftMarks, l->name);
        differs = true;
        ++l;
      } else if (order > 0) {
        Add(rel + r->name, TDifference::OnlyRight);
        mark(result.rightMarks, r->name);
        differs = true;
        ++r;
      } else {
        const size_t before = result.items.size();
        if (Pair(left, right, rel, *l, *r)) {
          differs = true;
          // The pair's own verdict decides its marks; a directory that holds
          // differences is marked on both sides.
          const TDifference d = result.items.size() > before && result.items[before].path == rel + l->name
                                    ? result.items[before].difference
                                    : TDifference::Content;
          if (d != TDifference::RightNewer) mark(result.leftMarks, l->name);
          if (d != TDifference::LeftNewer) mark(result.rightMarks, r->name);
        }
        ++l;
        ++r;
      }
    }
    return differs;
  }
};

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

TCompareResult TDirCompare::Compare(const std::string& left, const std::string& right,
                                    const TCompareOptions& options) {
  TCompareResult result;
  TComparer comparer(options, *this, result);
  uint64_t l = 0, r = 0;
  comparer.parallelReads = platform::DeviceOf(left, l) && platform::DeviceOf(right, r) && l != r;
  comparer.Directories(WithoutTrailingSlash(left), WithoutTrailingSlash(right), "");
  return result;
}

}  // namespace vantrel::tools
