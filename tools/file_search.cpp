// file_search.cpp - depth-first search by mask, limits and content.
#include "tools/file_search.h"

#include <cerrno>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/tree_read.h"
#include "platform/wildcard.h"
#include "tools/archive_search.h"
#include "tools/content_match.h"
#include "tools/unicode.h"

namespace vantrel::tools {

bool MatchName(const std::string& mask, const std::string& name) {
  if (platform::MatchWildcard(mask, name)) return true;
  if (!HasNonAscii(name) && !HasNonAscii(mask)) return false;
  // The composed form of a decomposed name (as other systems write them)
  // meets the composed form of the mask; a name that is no UTF-8 stays as it is.
  return platform::MatchWildcard(ComposedForm(mask), ComposedForm(name));
}

namespace {

// How many blocks of one file are read between two stop checks.
constexpr unsigned kBlocksPerCheck = 16;

struct Walker {
  const TSearchCriteria& criteria;
  TFileSearch& search;
  TSearchCounts& counts;
  std::unique_ptr<TContentScanner> scanner;
  std::set<std::pair<uint64_t, uint64_t>> visited;
  unsigned sinceCheck = 0;
  bool stopped = false;
  std::string composedMask = ComposedForm(criteria.mask);

  // MatchName with the composed mask made once.
  bool NameMatches(const std::string& name) const {
    if (platform::MatchWildcard(criteria.mask, name)) return true;
    if (!HasNonAscii(name) && !HasNonAscii(criteria.mask)) return false;
    return platform::MatchWildcard(composedMask, ComposedForm(name));
  }

  bool Stop() {
    if (!stopped && search.ShouldStop && search.ShouldStop()) stopped = true;
    return stopped;
  }

  void Unreadable(std::string path, int error) { Unreadable(std::move(path), platform::ErrorText(error)); }
  void Unreadable(std::string path, std::string reason) {
    ++counts.unreadable;
    if (search.OnUnreadable) search.OnUnreadable(TUnreadable{std::move(path), std::move(reason)});
  }

  bool WithinLimits(uint64_t size, platform::FileTime time) const {
    return size >= criteria.minSize && size <= criteria.maxSize && time >= criteria.modifiedFrom &&
           time < criteria.modifiedTo;
  }

  void Report(TFoundFile&& found) {
    if (criteria.content != nullptr) {
      const TContentHit& hit = scanner->Hit();
      found.Line = hit.line;
      found.MatchStart = hit.matchStart;
      found.MatchLength = hit.matchLength;
    }
    if (search.OnFound) search.OnFound(std::move(found));
  }

  // Reads the file `name` of the directory `dir` through the scanner. True
  // when its data hold a match; false when they do not, or when it cannot
  // be read (reported).
  bool ScanFile(const platform::TreeDir& dir, const char* name, const std::string& path) {
    platform::SequentialFile file;
    if (const int error = file.OpenAt(dir, name); error != 0) {
      Unreadable(path, error);
      return false;
    }
    if (!file.IsRegular()) return false;  // a link to a device or a FIFO: there are no data to search
    file.ReadingThrough();
    scanner->Reset();
    bool matched = false;
    for (unsigned blocks = 1;; ++blocks) {
      const int64_t n = file.ReadSome(scanner->WriteArea(), kScanBlock);
      if (n < 0) {
        Unreadable(path, errno);
        break;
      }
      counts.bytesRead += static_cast<uint64_t>(n);
      if (n == 0) {
        matched = scanner->Finish();
        break;
      }
      if (scanner->Commit(static_cast<size_t>(n))) {
        matched = true;
        break;
      }
      if (blocks % kBlocksPerCheck == 0 && Stop()) break;
    }
    return matched && !stopped;
  }

  const TArchiveFormat* FormatOf(const char* name) const {
    if (!criteria.inArchives) return nullptr;
    for (const TArchiveFormat* format : search.ArchiveFormats)
      if (format->Claims(name)) return format;
    return nullptr;
  }

  // Searches the entries of an archive like a tree. False when it could not
  // be opened (reported).
  bool SearchArchive(const TArchiveFormat& format, const std::string& path) {
    std::string error;
    std::unique_ptr<TArchiveReader> archive = format.Open(path, &error);
    if (archive == nullptr) {
      Unreadable(path, error);
      return false;
    }
    const std::vector<TArchiveItem>& items = archive->Items();
    for (size_t i = 0; i < items.size() && !Stop(); ++i) {
      const TArchiveItem& item = items[i];
      if (item.directory) continue;
      ++counts.files;
      const size_t slash = item.path.find_last_of('/');
      const std::string name = slash == std::string::npos ? item.path : item.path.substr(slash + 1);
      if (!NameMatches(name) || !WithinLimits(item.size, item.writeTime)) continue;
      const std::string entryPath = path + "/" + item.path;
      if (criteria.content != nullptr) {
        scanner->Reset();
        bool matched = false;
        uint64_t read = 0;
        unsigned blocks = 0;
        const bool whole = archive->Read(
            i,
            [&](const uint8_t* data, size_t n) {
              read += n;
              matched = scanner->Feed(data, n);
              return !matched && !(++blocks % kBlocksPerCheck == 0 && Stop());
            },
            &error);
        counts.bytesRead += read;
        if (!whole) {
          Unreadable(entryPath, error);
          if (!matched) continue;
        }
        if (!matched && whole && !stopped) matched = scanner->Finish();
        if (!matched || stopped) continue;
      }
      TFoundFile found;
      found.Directory = path + "/" + (slash == std::string::npos ? std::string() : item.path.substr(0, slash + 1));
      found.Name = name;
      found.Size = item.size;
      found.LastWriteTime = item.writeTime;
      found.Archive = path;
      Report(std::move(found));
    }
    return true;
  }

  // One file entry of the directory `dir`, known as `path`.
  void VisitFile(const platform::TreeDir& dir, const char* name, const std::string& path) {
    ++counts.files;
    const std::string full = path + name;
    const TArchiveFormat* format = FormatOf(name);
    bool archiveSearched = false;
    if (format != nullptr) archiveSearched = SearchArchive(*format, full);
    if (!NameMatches(name)) return;
    const bool limits = criteria.minSize > 0 || criteria.maxSize != UINT64_MAX || criteria.modifiedFrom > 0 ||
                        criteria.modifiedTo != UINT64_MAX;
    platform::FindData fdata;
    const bool examined = platform::StatEntry(dir.Descriptor(), name, fdata);
    if (limits && (!examined || !WithinLimits(fdata.size, fdata.lastWriteTime))) return;
    // An archive that was searched inside is not searched again as bytes.
    if (criteria.content != nullptr && (archiveSearched || !ScanFile(dir, name, full))) return;
    TFoundFile found;
    found.Directory = path;
    found.Name = name;
    if (examined) {
      found.Size = fdata.size;
      found.LastWriteTime = fdata.lastWriteTime;
    }
    Report(std::move(found));
  }

  // Lists one directory (open as `dir`, known as `path` ending in "/"),
  // reports its matches, then descends into its subdirectories in listing
  // order.
  void Walk(platform::TreeDir& dir, const std::string& path) {
    const platform::EntryId id = dir.Identity();
    if ((id.device == 0 && id.inode == 0) || !visited.insert({id.device, id.inode}).second) return;
    ++counts.directories;
    std::vector<std::string> subdirs;
    const int error = dir.ForEach([&](const char* name, platform::EntryKind kind) {
      if (kind == platform::EntryKind::Directory) {
        subdirs.emplace_back(name);
      } else if (kind != platform::EntryKind::Symlink || !dir.LeadsToDirectory(name)) {
        // A link to a directory is a directory entry: never listed, never entered.
        VisitFile(dir, name, path);
      }
      return !(stopped || (++sinceCheck >= 4096 && (sinceCheck = 0, Stop())));
    });
    if (error != 0 && !stopped) Unreadable(path, error);  // the listing broke off
    // Close this directory before descending, so that the depth of the tree
    // never costs more than one open descriptor.
    dir.Close();
    for (const std::string& sub : subdirs) {
      if (stopped || Stop()) break;
      const std::string childPath = path + sub;
      platform::TreeDir child;
      if (const int childError = child.Open(childPath, true); childError != 0) {
        Unreadable(childPath + "/", childError);
        continue;
      }
      Walk(child, childPath + "/");
    }
  }
};

}  // namespace

bool TFileSearch::Search(const std::string& mask, const std::string& start) {
  TSearchCriteria criteria;
  criteria.mask = mask;
  return Search(criteria, start);
}

bool TFileSearch::Search(const TSearchCriteria& criteria, const std::string& start) {
  counts_ = TSearchCounts{};
  std::string base = platform::GetCurrentDir();
  std::string dir = start.empty() ? base
                    : start[0] == '/' ? start
                                      : platform::JoinPath(base, start);
  platform::TreeDir top;
  if (top.Open(dir) != 0) {
    dir = base;
    if (top.Open(dir) != 0) return true;
  }
  // The path shown is the directory as the system names it, so that "." and
  // ".." in what was typed do not appear in the results. (No change of the
  // current directory: the search may run on a thread of its own.)
  std::string resolved = platform::ResolvedPathOf(dir);
  if (resolved.empty()) resolved = dir;
  if (resolved.back() != '/') resolved += '/';
  Walker walker{criteria, *this, counts_, nullptr, {}};
  if (criteria.content != nullptr) walker.scanner = std::make_unique<TContentScanner>(*criteria.content);
  walker.Walk(top, resolved);
  return !walker.stopped;
}

}  // namespace vantrel::tools
