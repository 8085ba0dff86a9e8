// dir_compare.cpp - pairing two listings by name and comparing the pairs.
#include "tools/dir_compare.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

namespace vantrel::tools {

namespace {

constexpr size_t kBlock = 256 * 1024;
// How many blocks of one pair are read between two stop checks.
constexpr unsigned kBlocksPerCheck = 16;

enum class TKind : uint8_t { File, Directory, Link, Other };

struct TInfo {
  TKind kind = TKind::Other;
  uint64_t size = 0;
  platform::FileTime time = 0;
};

TKind KindOf(mode_t mode) {
  return S_ISREG(mode) ? TKind::File : S_ISDIR(mode) ? TKind::Directory : S_ISLNK(mode) ? TKind::Link : TKind::Other;
}

int OpenForReading(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOATIME | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);  // not ours
  return fd;
}

// Reads up to `n` bytes, retrying short reads; -1 on an error.
ssize_t ReadFull(int fd, uint8_t* buffer, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = read(fd, buffer + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

struct TComparer {
  const TCompareOptions& options;
  TDirCompare& owner;
  TCompareResult& result;
  std::unique_ptr<uint8_t[]> leftBuffer{new uint8_t[kBlock]};
  std::unique_ptr<uint8_t[]> rightBuffer{new uint8_t[kBlock]};

  bool Stop() {
    if (!result.stopped && owner.ShouldStop && owner.ShouldStop()) result.stopped = true;
    return result.stopped;
  }

  void Unreadable(const std::string& path, int error) {
    result.unreadable.push_back({path, platform::ErrorText(error)});
  }

  // The entries of `dir` by name; false (reported) when it cannot be listed.
  bool List(const std::string& dir, std::map<std::string, TInfo>& out) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
      Unreadable(dir + "/", errno);
      return false;
    }
    errno = 0;
    while (struct dirent* de = readdir(d)) {
      const char* name = de->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      struct stat st;
      if (fstatat(dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      TInfo info;
      info.kind = KindOf(st.st_mode);
      info.size = static_cast<uint64_t>(st.st_size);
      info.time = platform::FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
      out.emplace(name, info);
      errno = 0;
    }
    const int error = errno;
    closedir(d);
    if (error != 0) {
      Unreadable(dir + "/", error);
      return false;
    }
    return true;
  }

  // 1 when the data differ, 0 when they are the same, -1 when a side
  // cannot be read (reported) or the comparison was stopped.
  int DataDiffer(const std::string& left, const std::string& right) {
    const int lf = OpenForReading(left);
    if (lf < 0) {
      Unreadable(left, errno);
      return -1;
    }
    const int rf = OpenForReading(right);
    if (rf < 0) {
      Unreadable(right, errno);
      close(lf);
      return -1;
    }
    posix_fadvise(lf, 0, 0, POSIX_FADV_SEQUENTIAL);
    posix_fadvise(rf, 0, 0, POSIX_FADV_SEQUENTIAL);
    int verdict = 0;
    for (unsigned blocks = 1;; ++blocks) {
      const ssize_t ln = ReadFull(lf, leftBuffer.get(), kBlock);
      if (ln < 0) {
        Unreadable(left, errno);
        verdict = -1;
        break;
      }
      const ssize_t rn = ReadFull(rf, rightBuffer.get(), kBlock);
      if (rn < 0) {
        Unreadable(right, errno);
        verdict = -1;
        break;
      }
      result.bytesRead += static_cast<uint64_t>(ln + rn);
      if (ln != rn || std::memcmp(leftBuffer.get(), rightBuffer.get(), static_cast<size_t>(ln)) != 0) {
        verdict = 1;  // a file that changed its size while read differs too
        break;
      }
      if (ln == 0) break;
      if (blocks % kBlocksPerCheck == 0 && Stop()) {
        verdict = -1;
        break;
      }
    }
    close(lf);
    close(rf);
    return verdict;
  }

  static bool LinkTarget(const std::string& path, std::string& target) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    if (n < 0) return false;
    target.assign(buffer, static_cast<size_t>(n));
    return true;
  }

  void Add(const std::string& rel, TDifference difference) { result.items.push_back({rel, difference}); }

  // Compares one pair present on both sides; true when it differs.
  bool Pair(const std::string& left, const std::string& right, const std::string& rel, const TInfo& l,
            const TInfo& r) {
    ++result.pairs;
    if (l.kind != r.kind) {
      Add(rel, TDifference::Kind);
      return true;
    }
    if (l.kind == TKind::Directory) return options.recursive && Directories(left, right, rel + "/");
    if (l.kind == TKind::Link) {
      std::string lt, rt;
      if (!LinkTarget(left, lt) || !LinkTarget(right, rt) || lt == rt) return false;
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
      if (DataDiffer(left, right) == 1) {
        Add(rel, TDifference::Content);
        return true;
      }
    }
    return false;
  }

  // Compares two directories below the top ones (`rel` ends in "/", empty
  // at the top); true when anything in them differs.
  bool Directories(const std::string& left, const std::string& right, const std::string& rel) {
    std::map<std::string, TInfo> lefts, rights;
    const bool leftListed = List(left, lefts);
    const bool rightListed = List(right, rights);
    if (!leftListed || !rightListed) return false;
    bool differs = false;
    const bool top = rel.empty();
    auto mark = [&](std::set<std::string>& marks, const std::string& name) {
      if (top) marks.insert(name);
    };
    auto l = lefts.begin();
    auto r = rights.begin();
    while ((l != lefts.end() || r != rights.end()) && !Stop()) {
      const int order = l == lefts.end() ? 1 : r == rights.end() ? -1 : l->first.compare(r->first);
      if (order < 0) {
        Add(rel + l->first, TDifference::OnlyLeft);
        mark(result.leftMarks, l->first);
        differs = true;
        ++l;
      } else if (order > 0) {
        Add(rel + r->first, TDifference::OnlyRight);
        mark(result.rightMarks, r->first);
        differs = true;
        ++r;
      } else {
        const size_t before = result.items.size();
        if (Pair(left + "/" + l->first, right + "/" + r->first, rel + l->first, l->second, r->second)) {
          differs = true;
          // The pair's own verdict decides its marks; a directory that holds
          // differences is marked on both sides.
          const TDifference d = result.items.size() > before && result.items[before].path == rel + l->first
                                    ? result.items[before].difference
                                    : TDifference::Content;
          if (d != TDifference::RightNewer) mark(result.leftMarks, l->first);
          if (d != TDifference::LeftNewer) mark(result.rightMarks, r->first);
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
  TComparer comparer{options, *this, result};
  comparer.Directories(WithoutTrailingSlash(left), WithoutTrailingSlash(right), "");
  return result;
}

}  // namespace vantrel::tools
