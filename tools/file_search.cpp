// file_search.cpp - depth-first search by mask, limits and content.
#include "tools/file_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <set>
#include <utility>
#include <vector>

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
  std::set<std::pair<dev_t, ino_t>> visited;
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

  // Reads the file `name` of the directory open as `dirfd` through the
  // scanner. True when its data hold a match; false when they do not, or
  // when it cannot be read (reported).
  bool ScanFile(int dirfd, const char* name, const std::string& path) {
    int fd = openat(dirfd, name, O_RDONLY | O_NOATIME | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EPERM) fd = openat(dirfd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // not ours
    if (fd < 0) {
      Unreadable(path, errno);
      return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      // A link to a device or a FIFO: there are no data to search.
      close(fd);
      return false;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    scanner->Reset();
    bool matched = false;
    for (unsigned blocks = 1;; ++blocks) {
      const ssize_t n = read(fd, scanner->WriteArea(), kScanBlock);
      if (n < 0 && errno == EINTR) continue;
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
    close(fd);
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

  // One file entry of a directory (open as `dirfd`, known as `path`).
  void VisitFile(int dirfd, const char* name, const std::string& path) {
    ++counts.files;
    const std::string full = path + name;
    const TArchiveFormat* format = FormatOf(name);
    bool archiveSearched = false;
    if (format != nullptr) archiveSearched = SearchArchive(*format, full);
    if (!NameMatches(name)) return;
    const bool limits = criteria.minSize > 0 || criteria.maxSize != UINT64_MAX || criteria.modifiedFrom > 0 ||
                        criteria.modifiedTo != UINT64_MAX;
    platform::FindData fdata;
    const bool examined = platform::StatEntry(dirfd, name, fdata);
    if (limits && (!examined || !WithinLimits(fdata.size, fdata.lastWriteTime))) return;
    // An archive that was searched inside is not searched again as bytes.
    if (criteria.content != nullptr && (archiveSearched || !ScanFile(dirfd, name, full))) return;
    TFoundFile found;
    found.Directory = path;
    found.Name = name;
    if (examined) {
      found.Size = fdata.size;
      found.LastWriteTime = fdata.lastWriteTime;
    }
    Report(std::move(found));
  }

  // Lists one directory (open as `fd`, known as `path` ending in "/"), reports
  // its matches, then descends into its subdirectories in listing order.
  void Walk(int fd, const std::string& path) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second) {
      close(fd);
      return;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
      Unreadable(path, errno);
      close(fd);
      return;
    }
    ++counts.directories;
    std::vector<std::string> subdirs;
    errno = 0;
    while (struct dirent* de = readdir(dir)) {
      const char* name = de->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      unsigned char type = de->d_type;
      if (type == DT_UNKNOWN) {
        struct stat es;
        if (fstatat(dirfd(dir), name, &es, AT_SYMLINK_NOFOLLOW) != 0) continue;
        type = S_ISDIR(es.st_mode) ? DT_DIR : S_ISLNK(es.st_mode) ? DT_LNK : DT_REG;
      }
      bool isDir = type == DT_DIR;
      if (type == DT_LNK) {
        // A link to a directory is a directory entry: never listed, never entered.
        struct stat ts;
        isDir = fstatat(dirfd(dir), name, &ts, 0) == 0 && S_ISDIR(ts.st_mode);
      }
      if (isDir) {
        if (type == DT_DIR) subdirs.emplace_back(name);
      } else {
        VisitFile(dirfd(dir), name, path);
      }
      if (stopped || (++sinceCheck >= 4096 && (sinceCheck = 0, Stop()))) break;
      errno = 0;
    }
    if (errno != 0 && !stopped) Unreadable(path, errno);  // the listing broke off
    // Close this directory before descending, so that the depth of the tree
    // never costs more than one open descriptor.
    closedir(dir);
    for (const std::string& sub : subdirs) {
      if (stopped || Stop()) break;
      const std::string childPath = path + sub;
      int child = open(childPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0) {
        Unreadable(childPath + "/", errno);
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
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    dir = base;
    fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
  }
  // The path shown is the directory as the system names it, so that "." and
  // ".." in what was typed do not appear in the results. (No change of the
  // current directory: the search may run on a thread of its own.)
  std::string resolved = dir;
  if (char* real = realpath(dir.c_str(), nullptr)) {
    resolved = real;
    free(real);
  }
  if (resolved.empty() || resolved.back() != '/') resolved += '/';
  Walker walker{criteria, *this, counts_, nullptr, {}};
  if (criteria.content != nullptr) walker.scanner = std::make_unique<TContentScanner>(*criteria.content);
  walker.Walk(fd, resolved);
  return !walker.stopped;
}

}  // namespace vantrel::tools
