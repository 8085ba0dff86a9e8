// file_search.cpp - depth-first search by wildcard mask.
#include "app/commands/file_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <utility>
#include <vector>

#include "platform/wildcard.h"

namespace vantrel::app {
namespace {

struct Walker {
  const std::string& mask;
  TFileSearch& search;
  std::set<std::pair<dev_t, ino_t>> visited;
  unsigned sinceCheck = 0;
  bool stopped = false;

  bool Stop() {
    if (!stopped && search.ShouldStop && search.ShouldStop()) stopped = true;
    return stopped;
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
      close(fd);
      return;
    }
    std::vector<std::string> subdirs;
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
      } else if (platform::MatchWildcard(mask, name)) {
        platform::FindData fdata;
        TFoundFile found;
        found.Directory = path;
        found.Name = name;
        if (platform::StatEntry(dirfd(dir), name, fdata)) {
          found.Size = fdata.size;
          found.LastWriteTime = fdata.lastWriteTime;
        }
        if (search.OnFound) search.OnFound(std::move(found));
      }
      if (++sinceCheck >= 4096) {
        sinceCheck = 0;
        if (Stop()) break;
      }
    }
    // Close this directory before descending, so that the depth of the tree
    // never costs more than one open descriptor.
    closedir(dir);
    for (const std::string& sub : subdirs) {
      if (stopped || Stop()) break;
      const std::string childPath = path + sub;
      int child = open(childPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0) continue;  // cannot be entered: skipped silently
      Walk(child, childPath + "/");
    }
  }
};

}  // namespace

bool TFileSearch::Search(const std::string& mask, const std::string& start) {
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
  // ".." in what was typed do not appear in the results.
  std::string resolved = dir;
  if (platform::SetCurrentDir(dir)) {
    resolved = platform::GetCurrentDir();
    platform::SetCurrentDir(base);
  }
  if (resolved.empty() || resolved.back() != '/') resolved += '/';
  Walker walker{mask, *this, {}, 0, false};
  walker.Walk(fd, resolved);
  return !walker.stopped;
}

}  // namespace vantrel::app
