// file_details.cpp - statx of the entry itself, chmod without following
// links, a tree walk with totals.
#include "platform/file_details.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/readonly_file.h"

namespace vantrel::platform {

namespace {

TimeStamp FromStatx(const struct statx_timestamp& ts) {
  return {ts.tv_sec, ts.tv_nsec};
}

std::string UserName(uint32_t uid) {
  std::vector<char> buffer(16384);
  struct passwd pw, *found = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->pw_name;
  return std::to_string(uid);
}

std::string GroupName(uint32_t gid) {
  std::vector<char> buffer(16384);
  struct group gr, *found = nullptr;
  if (getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->gr_name;
  return std::to_string(gid);
}

}  // namespace

bool GetFileDetails(const std::string& path, FileDetails& out, std::string* error) {
  struct statx sx;
  const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, &sx) != 0) {
    if (error) *error = ErrorText(errno);
    return false;
  }
  out = FileDetails{};
  out.mode = sx.stx_mode;
  out.size = sx.stx_size;
  out.uid = sx.stx_uid;
  out.gid = sx.stx_gid;
  out.owner = UserName(sx.stx_uid);
  out.group = GroupName(sx.stx_gid);
  out.modified = FromStatx(sx.stx_mtime);
  out.accessed = FromStatx(sx.stx_atime);
  out.changed = FromStatx(sx.stx_ctime);
  out.hasBirthTime = (sx.stx_mask & STATX_BTIME) != 0;
  if (out.hasBirthTime) out.born = FromStatx(sx.stx_btime);
  out.isDirectory = S_ISDIR(sx.stx_mode);
  out.isLink = S_ISLNK(sx.stx_mode);
  out.device = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  out.inode = sx.stx_ino;
  if (out.isLink) {
    std::string target(4096, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n >= 0) out.linkTarget.assign(target.data(), static_cast<size_t>(n));
  }
  return true;
}

bool CanChangePermissions(const FileDetails& details) {
  if (details.isLink) return false;
  const uid_t me = geteuid();
  return me == 0 || me == details.uid;
}

bool SetPermissions(const std::string& path, uint32_t mode, const FileDetails& expected,
                    std::string* error) {
  auto fail = [&](int err) {
    if (error) *error = ErrorText(err);
    return false;
  };
  // A handle on the entry itself: a link stays a link, never its target.
  const int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int err = errno;
    close(fd);
    return fail(err);
  }
  if (S_ISLNK(st.st_mode)) {
    close(fd);
    if (error) *error = "The permissions of a symbolic link cannot be changed";
    return false;
  }
  if (st.st_ino != expected.inode || makedev(expected.device >> 32, expected.device & 0xFFFFFFFF) != st.st_dev) {
    close(fd);
    if (error) *error = "The entry was replaced since it was examined";
    return false;
  }
  // The handle's /proc name reaches the same inode without looking up the
  // path again.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  int result = chmod(self.c_str(), mode & 07777);
  int err = errno;
  if (result != 0 && err == ENOENT)  // no /proc: the entry's name, not following a link
    result = fchmodat(AT_FDCWD, path.c_str(), mode & 07777, AT_SYMLINK_NOFOLLOW), err = errno;
  close(fd);
  return result == 0 ? true : fail(err);
}

std::string PermissionText(uint32_t mode) {
  std::string text = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i)
    if (!(mode & (0400u >> i))) text[static_cast<size_t>(i)] = '-';
  auto special = [&](uint32_t bit, size_t at, char set, char unset) {
    if (mode & bit) text[at] = text[at] == 'x' ? set : unset;
  };
  special(S_ISUID, 2, 's', 'S');
  special(S_ISGID, 5, 's', 'S');
  special(S_ISVTX, 8, 't', 'T');
  return text;
}

TreeTotals MeasureTree(const std::string& path, const std::atomic<bool>& stop,
                       const std::function<void(const TreeTotals&)>& progress) {
  TreeTotals totals;
  std::set<std::pair<dev_t, ino_t>> linked;  // files with several names, seen once
  std::vector<std::string> pending{path};
  uint64_t sinceReport = 0;
  while (!pending.empty() && !stop.load(std::memory_order_relaxed)) {
    const std::string dir = std::move(pending.back());
    pending.pop_back();
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (d == nullptr) {
      if (fd >= 0) close(fd);
      ++totals.unreadable;
      continue;
    }
    while (dirent* e = readdir(d)) {
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      struct stat st;
      if (fstatat(dirfd(d), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // vanished
      if (S_ISDIR(st.st_mode)) {
        ++totals.directories;
        pending.push_back(JoinPath(dir, name));
      } else {
        ++totals.files;
        if (st.st_nlink < 2 || linked.insert({st.st_dev, st.st_ino}).second)
          totals.bytes += static_cast<uint64_t>(st.st_size);
      }
      if (progress && ++sinceReport >= 512) {
        sinceReport = 0;
        progress(totals);
      }
      if (stop.load(std::memory_order_relaxed)) break;
    }
    closedir(d);
  }
  if (progress) progress(totals);
  return totals;
}

std::string ReadFileHead(const std::string& path, size_t count) {
  ReadOnlyFile file;
  if (!file.Open(path)) return {};
  std::string head(count, '\0');
  head.resize(file.ReadAt(0, head.data(), head.size()));
  return head;
}

}  // namespace vantrel::platform
