// trash.cpp - the desktop Trash over POSIX calls (see trash.h).
#include "platform/trash.h"
#include "platform/escaped_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

namespace vantrel::platform {
namespace {

constexpr const char* kInfoSuffix = ".trashinfo";
constexpr size_t kInfoSuffixLength = 10;

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Splits an absolute or relative path into its directory and last name; a
// trailing "/" is dropped first.
void SplitPath(std::string path, std::string& dir, std::string& name) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir = ".";
    name = path;
  } else {
    dir = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

std::string RealDirectory(const std::string& dir) {
  char* resolved = realpath(dir.c_str(), nullptr);
  if (!resolved) return {};
  std::string out(resolved);
  free(resolved);
  return out;
}

// The parent of an absolute path ("/" stays "/").
std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

bool StatDevice(const std::string& path, bool follow, dev_t& device) {
  struct stat st {};
  const int rc = follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
  if (rc != 0) return false;
  device = st.st_dev;
  return true;
}

std::string NearestExisting(std::string path) {
  struct stat st {};
  while (!path.empty() && path != "/" && stat(path.c_str(), &st) != 0) path = Parent(path);
  return path.empty() ? "/" : path;
}

bool ReadOnlyVolume(const std::string& path) {
  struct statvfs vfs {};
  return statvfs(NearestExisting(path).c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0;
}

// Makes `path` and the missing directories above it with `mode`.
int MakeDirectories(const std::string& path, mode_t mode) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (path != "/" && !path.empty()) {
    const int rc = MakeDirectories(Parent(path), mode);
    if (rc != 0) return rc;
  }
  if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return errno;
  return 0;
}

// A trash directory of a volume must be a real directory (no link) of the user.
bool UsableTrashDirectory(const std::string& path, uid_t uid) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
}

int MakeTrashSubdirs(const std::string& trash) {
  for (const char* sub : {"files", "info"}) {
    const std::string p = Join(trash, sub);
    if (mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ENOTSUP;
  }
  return 0;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("-_.!~*'()", c) != nullptr;
}

bool ReadSmallFile(const std::string& path, std::string& out, size_t limit = 64 * 1024) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  out.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
    if (out.size() > limit) break;
  }
  close(fd);
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The name an item takes in files/: its own, cut to leave room for
// ".trashinfo" and a number (at a character boundary), and from the second
// try on with ".N" before its extension: "report.pdf", "report.2.pdf".
std::string CandidateName(const std::string& base, int attempt) {
  std::string stem = base;
  std::string ext;
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0 && base.size() - dot <= 16) {
    stem = base.substr(0, dot);
    ext = base.substr(dot);
  }
  const std::string number = attempt > 1 ? "." + std::to_string(attempt) : std::string();
  const size_t room = NAME_MAX - kInfoSuffixLength - number.size() - ext.size();
  if (stem.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  return stem + number + ext;
}

bool InsideTrash(const std::string& path, const TrashEnv& env) {
  if (!env.homeTrash.empty() && (path == env.homeTrash || path.rfind(env.homeTrash + "/", 0) == 0))
    return true;
  const std::string uid = std::to_string(env.uid);
  for (const std::string& marker : {"/.Trash-" + uid, "/.Trash/" + uid}) {
    const size_t at = path.find(marker);
    if (at != std::string::npos) {
      const size_t end = at + marker.size();
      if (end == path.size() || path[end] == '/') return true;
    }
  }
  return false;
}

uint64_t DiskUsageAt(int dirfd, const char* name, std::set<std::pair<dev_t, ino_t>>& seen) {
  struct stat st {};
  if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  if (st.st_nlink > 1 && !S_ISDIR(st.st_mode) && !seen.insert({st.st_dev, st.st_ino}).second) return 0;
  uint64_t total = static_cast<uint64_t>(st.st_blocks) * 512;
  if (!S_ISDIR(st.st_mode)) return total;
  const int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return total;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return total;
  }
  while (const dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    total += DiskUsageAt(fd, e->d_name, seen);
  }
  closedir(dir);
  return total;
}

int RemoveTreeAt(int dirfd, const char* name) {
  struct stat st {};
  if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISDIR(st.st_mode)) return unlinkat(dirfd, name, 0) == 0 || errno == ENOENT ? 0 : errno;
  if ((st.st_mode & S_IRWXU) != S_IRWXU) fchmodat(dirfd, name, (st.st_mode & 07777) | S_IRWXU, 0);
  const int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    const int err = errno;
    close(fd);
    return err;
  }
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  }
  int first = 0;
  for (const std::string& child : names) {
    const int rc = RemoveTreeAt(fd, child.c_str());
    if (rc != 0 && first == 0) first = rc;
  }
  closedir(dir);
  if (unlinkat(dirfd, name, AT_REMOVEDIR) != 0 && errno != ENOENT && first == 0) first = errno;
  return first;
}

// Moves `from` to `to` without ever replacing an entry at `to`.
int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
  if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a link-free check, then a plain rename.
  struct stat st {};
  if (fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
}

}  // namespace

TrashEnv TrashEnv::FromProcess() {
  TrashEnv env;
  env.uid = getuid();
  std::string data;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && x[0] == '/') data = x;
  if (data.empty()) {
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0]) home = h;
    if (home.empty()) {
      if (const passwd* pw = getpwuid(env.uid); pw && pw->pw_dir) home = pw->pw_dir;
    }
    data = Join(home.empty() ? "/" : home, ".local/share");
  }
  env.homeTrash = Join(data, "Trash");
  return env;
}

std::string TrashEncodePath(const std::string& path) {
  return PercentEncode(path, [](unsigned char c) { return IsUnreserved(c) || c == '/'; });
}

std::string TrashDecodePath(const std::string& text) { return PercentDecode(text); }

std::string TrashFormatDate(time_t t) {
  struct tm local {};
  localtime_r(&t, &local);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return buffer;
}

time_t TrashParseDate(const std::string& text) {
  struct tm local {};
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &local.tm_year, &local.tm_mon,
                  &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec, &consumed) != 6)
    return -1;
  if (local.tm_mon < 1 || local.tm_mon > 12 || local.tm_mday < 1 || local.tm_mday > 31 ||
      local.tm_hour > 23 || local.tm_min > 59 || local.tm_sec > 60)
    return -1;
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  return mktime(&local);
}

std::string TrashInfoText(const std::string& storedPath, time_t deletionDate) {
  return "[Trash Info]\nPath=" + TrashEncodePath(storedPath) +
         "\nDeletionDate=" + TrashFormatDate(deletionDate) + "\n";
}

bool ParseTrashInfo(const std::string& text, std::string& storedPath, time_t& deletionDate) {
  bool inGroup = false, sawGroup = false, sawPath = false;
  deletionDate = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[Trash Info]";
      sawGroup = sawGroup || inGroup;
      continue;
    }
    if (!inGroup) continue;
    if (line.rfind("Path=", 0) == 0 && !sawPath) {
      storedPath = TrashDecodePath(line.substr(5));
      sawPath = !storedPath.empty();
    } else if (line.rfind("DeletionDate=", 0) == 0) {
      const time_t t = TrashParseDate(line.substr(13));
      deletionDate = t < 0 ? 0 : t;
    }
  }
  return sawGroup && sawPath;
}

// The trash chosen for one source directory, with its subdirectories open.
struct TrashSession::Cached {
  int error = 0;
  TrashDir trash;
  int infoFd = -1;
  int filesFd = -1;
  ~Cached() {
    if (infoFd >= 0) close(infoFd);
    if (filesFd >= 0) close(filesFd);
  }
};

TrashSession::TrashSession(TrashEnv env) : env_(std::move(env)) {}

TrashSession::~TrashSession() { Flush(); }

int TrashSession::TrashFor(const std::string& path, bool create, TrashDir& out) {
  std::string dir, name;
  SplitPath(path, dir, name);
  const std::string real = RealDirectory(dir);
  if (real.empty()) return errno ? errno : ENOENT;
  const std::string full = Join(real, name);
  if (InsideTrash(full, env_)) return EXDEV;

  const bool home = env_.onHomeVolume ? env_.onHomeVolume(full) : [&] {
    dev_t item = 0, trash = 0;
    return StatDevice(full, false, item) && StatDevice(NearestExisting(env_.homeTrash), true, trash) &&
           item == trash;
  }();
  if (home) {
    if (ReadOnlyVolume(env_.homeTrash)) return EROFS;
    // Something that is no directory where the home trash or its parts
    // belong: no trash, said before the question rather than per item.
    for (const std::string& part : {env_.homeTrash, Join(env_.homeTrash, "files"), Join(env_.homeTrash, "info")}) {
      struct stat st {};
      if (stat(part.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return ENOTSUP;
    }
    if (create) {
      if (const int rc = MakeDirectories(env_.homeTrash, 0700); rc != 0) return rc;
      if (const int rc = MakeTrashSubdirs(env_.homeTrash); rc != 0) return rc;
    }
    out = TrashDir{env_.homeTrash, {}};
    return 0;
  }

  std::string topdir;
  if (env_.topdirOf) {
    topdir = env_.topdirOf(real);
  } else {
    dev_t device = 0, above = 0;
    topdir = real;
    if (!StatDevice(topdir, true, device)) return errno;
    while (topdir != "/" && StatDevice(Parent(topdir), true, above) && above == device)
      topdir = Parent(topdir);
  }
  if (ReadOnlyVolume(topdir)) return EROFS;
  const std::string uid = std::to_string(env_.uid);

  // $topdir/.Trash/$uid, where the administrator made a shared, sticky .Trash.
  const std::string shared = Join(topdir, ".Trash");
  struct stat st {};
  if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
    const std::string mine = Join(shared, uid);
    bool usable = UsableTrashDirectory(mine, env_.uid);
    if (!usable && lstat(mine.c_str(), &st) != 0) {
      usable = create ? mkdir(mine.c_str(), 0700) == 0 : access(shared.c_str(), W_OK) == 0;
    }
    if (usable && (!create || MakeTrashSubdirs(mine) == 0)) {
      out = TrashDir{mine, topdir};
      return 0;
    }
  }

  // $topdir/.Trash-$uid, made when missing.
  const std::string own = Join(topdir, ".Trash-" + uid);
  if (lstat(own.c_str(), &st) == 0) {
    if (!UsableTrashDirectory(own, env_.uid)) return ENOTSUP;
  } else if (create) {
    if (mkdir(own.c_str(), 0700) != 0) return errno == EROFS ? EROFS : ENOTSUP;
  } else if (access(topdir.c_str(), W_OK) != 0) {
    return ENOTSUP;
  }
  if (create) {
    if (const int rc = MakeTrashSubdirs(own); rc != 0) return rc;
  }
  out = TrashDir{own, topdir};
  return 0;
}

bool TrashSession::CanTrash(const std::vector<std::string>& paths) {
  std::map<std::string, bool> byDir;
  for (const std::string& path : paths) {
    std::string dir, name;
    SplitPath(path, dir, name);
    auto it = byDir.find(dir);
    if (it == byDir.end()) {
      TrashDir trash;
      it = byDir.emplace(dir, TrashFor(path, false, trash) == 0).first;
    }
    if (!it->second) return false;
  }
  return true;
}

int TrashSession::Trash(const std::string& path, TrashedItem* out) {
  std::string dir, base;
  SplitPath(path, dir, base);
  if (base.empty() || base == "." || base == ".." || base == "/") return EINVAL;

  const std::string real = RealDirectory(dir);
  if (real.empty()) return errno ? errno : ENOENT;
  const std::string full = Join(real, base);
  struct stat st {};
  if (lstat(full.c_str(), &st) != 0) return errno;
  if (InsideTrash(full, env_)) return EXDEV;

  // One trash per source directory: items of one directory share it.
  std::shared_ptr<Cached>& cached = byDir_[real];
  if (!cached || cached->error != 0) {
    auto fresh = std::make_shared<Cached>();
    fresh->error = TrashFor(path, true, fresh->trash);
    if (fresh->error == 0) {
      fresh->infoFd = open(Join(fresh->trash.path, "info").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      fresh->filesFd = open(Join(fresh->trash.path, "files").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fresh->infoFd < 0 || fresh->filesFd < 0) fresh->error = errno ? errno : ENOTSUP;
    }
    if (fresh->error != 0) return fresh->error;
    cached = std::move(fresh);
  }

  const TrashDir& trash = cached->trash;
  std::string stored = full;
  if (!trash.topdir.empty()) {
    const std::string prefix = trash.topdir == "/" ? "/" : trash.topdir + "/";
    if (full.rfind(prefix, 0) != 0) return EXDEV;
    stored = full.substr(prefix.size());
  }
  const time_t now = time(nullptr);
  if (now != dateSecond_) {
    dateSecond_ = now;
    dateText_ = TrashFormatDate(now);
  }
  const std::string text = "[Trash Info]\nPath=" + TrashEncodePath(stored) + "\nDeletionDate=" + dateText_ + "\n";

  for (int attempt = 1; attempt < 100000; ++attempt) {
    const std::string name = CandidateName(base, attempt);
    const std::string infoName = name + kInfoSuffix;
    const int fd = openat(cached->infoFd, infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    const bool written = WriteAll(fd, text);
    const int closeError = close(fd) == 0 ? 0 : errno;
    if (!written || closeError != 0) {
      const int err = closeError ? closeError : (errno ? errno : EIO);
      unlinkat(cached->infoFd, infoName.c_str(), 0);
      return err;
    }
    const int rc = RenameNoReplace(AT_FDCWD, full.c_str(), cached->filesFd, name.c_str());
    if (rc == EEXIST) {  // an item without an info file holds the name
      unlinkat(cached->infoFd, infoName.c_str(), 0);
      continue;
    }
    if (rc != 0) {
      unlinkat(cached->infoFd, infoName.c_str(), 0);
      return rc;
    }
    if (S_ISDIR(st.st_mode)) pendingSizes_[trash.path].push_back(name);
    if (out) {
      out->trash = trash;
      out->name = name;
      out->originalPath = full;
      out->deletionDate = now;
      out->directory = S_ISDIR(st.st_mode);
      out->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    }
    return 0;
  }
  return EEXIST;
}

void TrashSession::Flush() {
  for (const auto& [path, names] : pendingSizes_) {
    for (const auto& [key, cached] : byDir_) {
      if (cached && cached->trash.path == path) {
        UpdateDirectorySizes(cached->trash, names);
        break;
      }
    }
  }
  pendingSizes_.clear();
}

std::vector<TrashDir> ExistingTrashDirs(const TrashEnv& env, const std::vector<std::string>& topdirs) {
  std::vector<TrashDir> out;
  std::set<std::string> seen;
  auto add = [&](const std::string& path, const std::string& topdir) {
    struct stat st {};
    if (!UsableTrashDirectory(path, env.uid)) return;
    if (stat(Join(path, "info").c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    const std::string real = RealDirectory(path);
    if (!seen.insert(real.empty() ? path : real).second) return;
    out.push_back(TrashDir{path, topdir});
  };
  add(env.homeTrash, {});
  const std::string uid = std::to_string(env.uid);
  for (const std::string& topdir : topdirs) {
    const std::string shared = Join(topdir, ".Trash");
    struct stat st {};
    if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))
      add(Join(shared, uid), topdir);
    add(Join(topdir, ".Trash-" + uid), topdir);
  }
  return out;
}

std::vector<TrashedItem> ListTrash(const TrashDir& trash) {
  std::vector<TrashedItem> out;
  const std::string infoDir = Join(trash.path, "info");
  const std::string filesDir = Join(trash.path, "files");
  DIR* dir = opendir(infoDir.c_str());
  if (!dir) return out;
  std::map<std::string, uint64_t> sizes;
  bool sizesRead = false;
  while (const dirent* e = readdir(dir)) {
    const std::string infoName = e->d_name;
    if (infoName.size() <= kInfoSuffixLength ||
        infoName.compare(infoName.size() - kInfoSuffixLength, kInfoSuffixLength, kInfoSuffix) != 0)
      continue;
    TrashedItem item;
    item.trash = trash;
    item.name = infoName.substr(0, infoName.size() - kInfoSuffixLength);
    struct stat st {};
    if (lstat(Join(filesDir, item.name).c_str(), &st) != 0) continue;
    std::string text, stored;
    if (!ReadSmallFile(Join(infoDir, infoName), text) || !ParseTrashInfo(text, stored, item.deletionDate))
      continue;
    if (stored[0] == '/') {
      item.originalPath = stored;
    } else {
      const std::string base = trash.topdir.empty() ? Parent(trash.path) : trash.topdir;
      item.originalPath = Join(base, stored);
    }
    item.directory = S_ISDIR(st.st_mode);
    if (item.directory) {
      if (!sizesRead) {
        sizes = ReadDirectorySizes(trash);
        sizesRead = true;
      }
      const auto it = sizes.find(item.name);
      item.size = it != sizes.end() ? it->second : DiskUsage(Join(filesDir, item.name));
    } else {
      item.size = static_cast<uint64_t>(st.st_size);
    }
    out.push_back(std::move(item));
  }
  closedir(dir);
  return out;
}

int RestoreFromTrash(const TrashedItem& item, const std::string& target) {
  const std::string to = target.empty() ? item.originalPath : target;
  if (to.empty() || to[0] != '/') return EINVAL;
  if (const int rc = MakeDirectories(Parent(to), 0777); rc != 0) return rc;
  const std::string from = Join(Join(item.trash.path, "files"), item.name);
  if (const int rc = RenameNoReplace(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()); rc != 0) return rc;
  unlink(Join(Join(item.trash.path, "info"), item.name + kInfoSuffix).c_str());
  if (item.directory) UpdateDirectorySizes(item.trash, {});
  return 0;
}

int EraseFromTrash(const TrashedItem& item) {
  const int filesFd = open(Join(item.trash.path, "files").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (filesFd < 0) return errno;
  const int rc = RemoveTreeAt(filesFd, item.name.c_str());
  close(filesFd);
  if (rc != 0) return rc;
  if (unlink(Join(Join(item.trash.path, "info"), item.name + kInfoSuffix).c_str()) != 0 && errno != ENOENT)
    return errno;
  if (item.directory) UpdateDirectorySizes(item.trash, {});
  return 0;
}

std::map<std::string, uint64_t> ReadDirectorySizes(const TrashDir& trash) {
  std::map<std::string, uint64_t> out;
  std::string text;
  if (!ReadSmallFile(Join(trash.path, "directorysizes"), text, 64u << 20)) return out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    unsigned long long size = 0;
    long long mtime = 0;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%llu %lld %n", &size, &mtime, &consumed) < 2 || consumed <= 0) continue;
    const std::string name = TrashDecodePath(line.substr(static_cast<size_t>(consumed)));
    struct stat st {};
    if (name.empty() || name.find('/') != std::string::npos) continue;
    if (stat(Join(Join(trash.path, "info"), name + kInfoSuffix).c_str(), &st) != 0) continue;
    if (static_cast<long long>(st.st_mtime) != mtime) continue;
    out[name] = size;
  }
  return out;
}

void UpdateDirectorySizes(const TrashDir& trash, const std::vector<std::string>& added) {
  const std::string filesDir = Join(trash.path, "files");
  const std::string infoDir = Join(trash.path, "info");
  std::map<std::string, std::pair<uint64_t, long long>> entries;
  // Entries kept: still in the trash, as a directory, with an info file.
  for (const auto& [name, size] : ReadDirectorySizes(trash)) {
    struct stat st {}, info {};
    if (lstat(Join(filesDir, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        stat(Join(infoDir, name + kInfoSuffix).c_str(), &info) == 0)
      entries[name] = {size, static_cast<long long>(info.st_mtime)};
  }
  for (const std::string& name : added) {
    struct stat info {};
    if (stat(Join(infoDir, name + kInfoSuffix).c_str(), &info) != 0) continue;
    entries[name] = {DiskUsage(Join(filesDir, name)), static_cast<long long>(info.st_mtime)};
  }
  std::string text;
  for (const auto& [name, value] : entries)
    text += std::to_string(value.first) + " " + std::to_string(value.second) + " " + TrashEncodePath(name) + "\n";

  // Replaced in one step through a temporary file beside it.
  std::string temp = Join(trash.path, "directorysizes.XXXXXX");
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return;
  const bool ok = WriteAll(fd, text) && fchmod(fd, 0600) == 0;
  if (close(fd) != 0 || !ok || rename(temp.c_str(), Join(trash.path, "directorysizes").c_str()) != 0)
    unlink(temp.c_str());
}

uint64_t DiskUsage(const std::string& path) {
  std::set<std::pair<dev_t, ino_t>> seen;
  return DiskUsageAt(AT_FDCWD, path.c_str(), seen);
}

int RemoveTree(const std::string& path) { return RemoveTreeAt(AT_FDCWD, path.c_str()); }

}  // namespace vantrel::platform
