// fs.cpp - directory enumeration, entry records, current directory, volumes.
#include "platform/fs.h"
#include "platform/escaped_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace vantrel::platform {

FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  // Times before 1601 cannot be represented; they clamp to the epoch.
  const int64_t ticks = seconds * 10000000 + nanoseconds / 100;
  if (ticks < -static_cast<int64_t>(kUnixEpochAsFileTime)) return 0;
  return kUnixEpochAsFileTime + ticks;
}

int64_t UnixSecondsFromFileTime(FileTime t) {
  return (static_cast<int64_t>(t) - static_cast<int64_t>(kUnixEpochAsFileTime)) / 10000000;
}

LocalTime ToLocalTime(FileTime t) {
  // localtime_r need not read TZ by itself; do it once.
  static const bool zoneRead = (tzset(), true);
  (void)zoneRead;
  time_t secs = static_cast<time_t>(UnixSecondsFromFileTime(t));
  struct tm tmv;
  LocalTime out;
  if (localtime_r(&secs, &tmv) == nullptr) return out;
  out.year = tmv.tm_year + 1900;
  out.month = tmv.tm_mon + 1;
  out.day = tmv.tm_mday;
  out.hour = tmv.tm_hour;
  out.minute = tmv.tm_min;
  out.second = tmv.tm_sec;
  return out;
}

static FileTime FromStatx(const struct statx_timestamp& ts) {
  return FileTimeFromUnix(ts.tv_sec, ts.tv_nsec);
}

bool StatEntry(int dirfd, const char* name, FindData& out) {
  struct statx sx;
  const unsigned mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME |
                        STATX_BTIME;
  if (statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, &sx) != 0) return false;

  uint32_t attrs = 0;
  mode_t mode = sx.stx_mode;
  uint64_t size = sx.stx_size;
  if (S_ISLNK(mode)) {
    attrs |= kAttrReparsePoint;
    // The directory bit and the size follow the link; a dangling link stays a file.
    struct stat target;
    if (fstatat(dirfd, name, &target, 0) == 0) {
      if (S_ISDIR(target.st_mode)) attrs |= kAttrDirectory;
      mode = target.st_mode;
      size = static_cast<uint64_t>(target.st_size);
    }
  } else if (S_ISDIR(mode)) {
    attrs |= kAttrDirectory;
  }
  if (!(attrs & kAttrDirectory)) attrs |= kAttrArchive;
  if (!(mode & S_IWUSR)) attrs |= kAttrReadOnly;

  out.attributes = attrs;
  out.size = (attrs & kAttrDirectory) ? 0 : size;
  out.lastWriteTime = FromStatx(sx.stx_mtime);
  out.lastAccessTime = FromStatx(sx.stx_atime);
  out.creationTime = (sx.stx_mask & STATX_BTIME) ? FromStatx(sx.stx_btime) : out.lastWriteTime;
  return true;
}

bool StatPath(const std::string& path, FindData& out) { return StatEntry(AT_FDCWD, path.c_str(), out); }

bool EnumerateDirectory(const std::string& path,
                        const std::function<void(FindData&&)>& onEntry,
                        std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = ErrorText(errno);
    return false;
  }
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    if (error) *error = ErrorText(errno);
    close(fd);
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* de = readdir(dir);
    if (de == nullptr) {
      if (errno != 0 && error) *error = ErrorText(errno);
      break;
    }
    FindData fd_entry;
    fd_entry.name = de->d_name;
    if (!StatEntry(dirfd(dir), de->d_name, fd_entry)) {
      // The entry vanished between readdir and stat, or cannot be examined:
      // it is still listed, by name, as an ordinary file with no times.
      if (errno == ENOENT) continue;
      fd_entry.attributes = (de->d_type == DT_DIR) ? kAttrDirectory : kAttrArchive;
    }
    onEntry(std::move(fd_entry));
  }
  closedir(dir);
  return true;
}

TDirReader::TDirReader() = default;

TDirReader::~TDirReader() {
  if (dir_ != nullptr) closedir(static_cast<DIR*>(dir_));
}

bool TDirReader::NextNames(std::vector<FindData>& out, size_t most, std::string* error) {
  out.clear();
  if (dir_ == nullptr) return false;
  DIR* dir = static_cast<DIR*>(dir_);
  while (out.size() < most) {
    errno = 0;
    struct dirent* de = readdir(dir);
    if (de == nullptr) {
      if (errno == 0) break;
      if (error) *error = ErrorText(errno);
      return false;
    }
    FindData& fd = out.emplace_back();
    fd.name = de->d_name;
    fd.attributes = de->d_type == DT_DIR ? kAttrDirectory : kAttrArchive;
  }
  return !out.empty();
}

bool TDirReader::Examine(FindData& entry) const {
  if (dir_ == nullptr) return true;
  const uint32_t listed = entry.attributes;
  if (StatEntry(dirfd(static_cast<DIR*>(dir_)), entry.name.c_str(), entry)) return true;
  if (errno == ENOENT) return false;  // gone since it was listed
  entry.attributes = listed;
  return true;
}

bool TDirReader::Open(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = ErrorText(errno);
    return false;
  }
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    if (error) *error = ErrorText(errno);
    close(fd);
    return false;
  }
  if (dir_ != nullptr) closedir(static_cast<DIR*>(dir_));
  dir_ = dir;
  path_ = path;
  return true;
}

std::string TDirReader::ResolvedPath() const {
  if (dir_ == nullptr) return {};
  // The link the system keeps for the open descriptor names the directory
  // itself, even when `path_` went through links on the way.
  const std::string link = "/proc/self/fd/" + std::to_string(dirfd(static_cast<DIR*>(dir_)));
  std::string buf(4096, '\0');
  const ssize_t n = readlink(link.c_str(), buf.data(), buf.size());
  if (n > 0 && static_cast<size_t>(n) < buf.size() && buf[0] == '/') {
    buf.resize(static_cast<size_t>(n));
    return buf;
  }
  char* real = realpath(path_.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string out = real;
  free(real);
  return out;
}

bool TDirReader::Next(FindData& out, std::string* error) {
  if (dir_ == nullptr) return false;
  DIR* dir = static_cast<DIR*>(dir_);
  for (;;) {
    errno = 0;
    struct dirent* de = readdir(dir);
    if (de == nullptr) {
      if (errno != 0 && error) *error = ErrorText(errno);
      return false;
    }
    out = FindData();
    out.name = de->d_name;
    if (!StatEntry(dirfd(dir), de->d_name, out)) {
      if (errno == ENOENT) continue;  // vanished since readdir
      out.attributes = (de->d_type == DT_DIR) ? kAttrDirectory : kAttrArchive;
    }
    return true;
  }
}

std::string GetCurrentDir() {
  std::string buf(256, '\0');
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) {
      buf.resize(std::strlen(buf.c_str()));
      return buf;
    }
    if (errno != ERANGE) return {};
    buf.resize(buf.size() * 2);
  }
}

bool SetCurrentDir(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  return chdir(path.c_str()) == 0;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (out.empty() || out.back() != '/') out += '/';
  out += name;
  return out;
}

bool GetVolumeSpace(const std::string& path, VolumeSpace& out) {
  struct statvfs sv;
  if (statvfs(path.c_str(), &sv) != 0) return false;
  out.total = static_cast<uint64_t>(sv.f_blocks) * sv.f_frsize;
  out.free = static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize;
  return true;
}

// Mount points in /proc/self/mountinfo escape space, tab, newline and backslash
// as octal sequences.
// File systems that hold no user files of their own.
static bool IsPseudoFileSystem(const std::string& type) {
  static const std::set<std::string> pseudo = {
      "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "securityfs", "cgroup", "cgroup2",
      "pstore", "bpf", "debugfs", "tracefs", "configfs", "fusectl", "mqueue", "hugetlbfs",
      "autofs", "binfmt_misc", "rpc_pipefs", "nsfs", "efivarfs", "ramfs", "squashfs",
      "overlay", "fuse.gvfsd-fuse", "fuse.portal", "selinuxfs", "rootfs", "devfs"};
  return pseudo.count(type) != 0;
}

// Labels come from the udev links under /dev/disk/by-label, whose names escape
// special characters as \xHH.
static std::string LabelForDevice(const std::string& device) {
  char resolvedDev[PATH_MAX];
  if (realpath(device.c_str(), resolvedDev) == nullptr) return {};
  DIR* dir = opendir("/dev/disk/by-label");
  if (dir == nullptr) return {};
  std::string label;
  while (struct dirent* de = readdir(dir)) {
    if (de->d_name[0] == '.') continue;
    std::string link = std::string("/dev/disk/by-label/") + de->d_name;
    char target[PATH_MAX];
    if (realpath(link.c_str(), target) != nullptr && std::strcmp(target, resolvedDev) == 0) {
      label = UnescapeHex(de->d_name);
      break;
    }
  }
  closedir(dir);
  return label;
}

std::vector<Volume> ListVolumes() {
  std::vector<Volume> out;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  std::set<std::string> seen;
  while (std::getline(in, line)) {
    // id parent major:minor root mountpoint options [optional...] - fstype source superopts
    std::istringstream ls(line);
    std::string id, parent, majmin, root, mountPoint;
    ls >> id >> parent >> majmin >> root >> mountPoint;
    std::string field;
    while (ls >> field && field != "-") {
    }
    std::string fsType, source;
    ls >> fsType >> source;
    mountPoint = UnescapeOctal(mountPoint);
    if (mountPoint != "/" && IsPseudoFileSystem(fsType)) continue;
    if (mountPoint != "/" && (mountPoint.rfind("/proc", 0) == 0 || mountPoint.rfind("/sys", 0) == 0 ||
                              mountPoint.rfind("/dev", 0) == 0 || mountPoint.rfind("/run", 0) == 0 ||
                              mountPoint.rfind("/snap/", 0) == 0)) {
      // Removable media appear under /run/media and /media; keep those.
      if (mountPoint.rfind("/run/media/", 0) != 0) continue;
    }
    if (!seen.insert(mountPoint).second) continue;
    Volume v;
    v.mountPoint = mountPoint;
    v.device = UnescapeOctal(source);
    v.fsType = fsType;
    if (v.device.rfind("/dev/", 0) == 0) v.label = LabelForDevice(v.device);
    out.push_back(std::move(v));
  }
  if (out.empty() || seen.count("/") == 0) out.insert(out.begin(), Volume{"/", "", "", ""});
  return out;
}

std::string MountPointOf(const std::string& path, const std::vector<Volume>& volumes) {
  std::string best = "/";
  for (const auto& v : volumes) {
    const std::string& m = v.mountPoint;
    const bool prefix = path == m || m == "/" ||
                        (path.size() > m.size() && path.compare(0, m.size(), m) == 0 &&
                         path[m.size()] == '/');
    if (prefix && m.size() > best.size()) best = m;
  }
  return best;
}

// Reads the first character of a sysfs flag file; '\0' when it cannot.
static char SysfsFlag(const std::string& file) {
  std::ifstream in(file);
  char c = '\0';
  in.get(c);
  return c;
}

bool IsRemovableMedia(const std::string& path) {
  // The file itself may not exist yet: its directory decides.
  struct stat st;
  std::string at = path;
  if (::stat(at.c_str(), &st) != 0) {
    const size_t slash = at.rfind('/');
    at = slash == std::string::npos ? "." : slash == 0 ? "/" : at.substr(0, slash);
    if (::stat(at.c_str(), &st) != 0) return false;
  }
  char resolved[PATH_MAX];
  if (realpath(at.c_str(), resolved) != nullptr) {
    const std::string mount = MountPointOf(resolved, ListVolumes());
    if (mount.rfind("/media/", 0) == 0 || mount.rfind("/run/media/", 0) == 0) return true;
  }
  // A partition's flag is on its parent device.
  const std::string dev = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                          std::to_string(minor(st.st_dev));
  if (SysfsFlag(dev + "/removable") == '1') return true;
  char device[PATH_MAX];
  if (realpath(dev.c_str(), device) == nullptr) return false;
  std::string parent = device;
  parent.erase(parent.rfind('/'));
  return SysfsFlag(parent + "/removable") == '1';
}

std::string ErrorText(int err) {
  char buf[256];
  // The GNU variant returns the text, which may or may not be in buf.
  const char* text = strerror_r(err, buf, sizeof buf);
  return text;
}

}  // namespace vantrel::platform

namespace vantrel::platform {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string NearestExistingDirectory(const std::string& path) {
  std::string dir = path;
  while (!dir.empty() && dir != "/" && !IsDirectory(dir)) {
    const size_t slash = dir.find_last_of('/');
    dir = slash == 0 || slash == std::string::npos ? std::string("/") : dir.substr(0, slash);
  }
  return dir.empty() ? std::string("/") : dir;
}

}  // namespace vantrel::platform
