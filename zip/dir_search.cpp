// dir_search.cpp - the recursive directory walker.
#include "zip/dir_search.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "zip/zip_mask.h"

namespace vantrel::zip {

TDirSearch::TDirSearch(const std::string& startDir, bool recurse, const std::string& mask,
                       bool storeLinks)
    : mask_(mask), recurse_(recurse), storeLinks_(storeLinks) {
  std::string start = startDir;
  if (start.empty() || start.back() != '/') start += '/';
  Open(start);
}

TDirSearch::~TDirSearch() {
  while (!levels_.empty()) CloseTop();
}

void TDirSearch::Open(const std::string& path) {
  TSearchData level;
  level.path = path;
  level.dir = ::opendir(path.c_str());
  // A directory that cannot be listed ends its level at once (and is said
  // when the walk gets there).
  level.status = level.dir ? 0 : errno != 0 ? errno : EIO;
  struct stat st;
  if (level.dir && ::fstat(dirfd(level.dir), &st) == 0) {
    level.dev = st.st_dev;
    level.ino = st.st_ino;
  }
  levels_.push_back(std::move(level));
}

void TDirSearch::CloseTop() {
  if (levels_.back().dir) ::closedir(levels_.back().dir);
  levels_.pop_back();
}

std::string TDirSearch::NextFile(int64_t& size) {
  TDirItem item;
  if (!Next(item)) {
    size = 0;
    return {};
  }
  size = item.size;
  return item.name;
}

bool TDirSearch::Matches(std::string_view n) const {
  // A name without a dot gets one for the match only, so "*.*" takes it.
  return n.find('.') == std::string_view::npos ? MatchMask(mask_, std::string(n) + ".")
                                               : MatchMask(mask_, n);
}

bool TDirSearch::Next(TDirItem& item) {
  while (!levels_.empty()) {
    TSearchData& level = levels_.back();
    if (level.status != 0 && !level.told) {
      level.told = true;
      LeftOut(level.path, std::string("cannot be read: ") + std::strerror(level.status));
    }
    struct dirent* d = level.status == 0 ? ::readdir(level.dir) : nullptr;
    if (!d) {
      // This level is exhausted: go up; the parent's search goes on.
      CloseTop();
      continue;
    }
    const char* name = d->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;

    struct stat st;
    // Follow a link to what it names (a dangling link names nothing), unless
    // links are kept as links.
    const int flags = storeLinks_ ? AT_SYMLINK_NOFOLLOW : 0;
    if (::fstatat(dirfd(level.dir), name, &st, flags) != 0) {
      const int err = errno;
      struct stat lst;
      const bool link = ::fstatat(dirfd(level.dir), name, &lst, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISLNK(lst.st_mode);
      if (Matches(name) || (recurse_ && link)) {
        if (link && err == ENOENT)
          LeftOut(level.path + name, "symbolic link to a file or directory that does not exist");
        else if (err == ELOOP)
          LeftOut(level.path + name, "symbolic link loop");
        else if (err != ENOENT)
          LeftOut(level.path + name, std::strerror(err));
      }
      continue;
    }

    if (S_ISDIR(st.st_mode)) {
      if (!recurse_) continue;
      if (static_cast<int>(levels_.size()) > kMaxDepth) {
        LeftOut(level.path + name + "/", "more than " + std::to_string(kMaxDepth) +
                                             " directory levels deep");
        continue;
      }
      bool loop = false;
      for (const TSearchData& l : levels_)
        loop = loop || (l.dev == static_cast<uint64_t>(st.st_dev) &&
                        l.ino == static_cast<uint64_t>(st.st_ino));
      if (loop) {
        LeftOut(level.path + name + "/", "symbolic link to a directory it is in (a loop)");
        continue;
      }
      item.name = level.path + name + "/";
      item.isDirectory = true;
      item.size = 0;
      item.dev = st.st_dev;
      item.ino = st.st_ino;
      item.mode = st.st_mode;
      Open(item.name);
      return true;
    }
    if (!Matches(name)) continue;
    item.name = level.path + name;
    item.isDirectory = false;
    item.size = st.st_size;
    item.dev = st.st_dev;
    item.ino = st.st_ino;
    item.mode = st.st_mode;
    return true;
  }
  return false;
}

}  // namespace vantrel::zip
