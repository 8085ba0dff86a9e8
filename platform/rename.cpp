// rename.cpp - create and rename without replacing anything.
#include "platform/rename.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/copyfile.h"

namespace vantrel::platform {

int CreateNewFile(const std::string& name) {
  if (name.empty()) return ENOENT;
  const int fd = open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

int MakeDirectory(const std::string& name) {
  if (name.empty()) return ENOENT;
  return mkdir(name.c_str(), 0777) == 0 ? 0 : errno;
}

int MakeDirectoryPath(const std::string& name) {
  if (name.empty()) return ENOENT;
  std::string path = name;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (path[slash - 1] == '/') continue;  // "a//b"
    const std::string level = path.substr(0, slash);
    if (mkdir(level.c_str(), 0777) == 0) continue;
    const int error = errno;
    // An existing level may refuse with another error first (a read-only
    // file system, no write access to its parent): what counts is that it
    // is a directory.
    struct stat st;
    if (stat(level.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      return ENOTDIR;
    }
    return error;
  }
  return mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

// Splits a name into its directory ("." when there is none) and last name.
static void SplitName(std::string name, std::string& dir, std::string& leaf) {
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const size_t slash = name.rfind('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  leaf = slash == std::string::npos ? name : name.substr(slash + 1);
}

bool SameEntryName(const std::string& a, const std::string& b) {
  if (a == b) return !a.empty();
  std::string dirA, leafA, dirB, leafB;
  SplitName(a, dirA, leafA);
  SplitName(b, dirB, leafB);
  if (leafA != leafB || leafA.empty() || leafA == "." || leafA == "..") return false;
  struct stat x, y;
  return stat(dirA.c_str(), &x) == 0 && stat(dirB.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

static int RenameAt2(const std::string& from, const std::string& to, unsigned flags) {
  return syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0 ? 0
                                                                                           : errno;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return ENOENT;
  int err = RenameAt2(from, to, RENAME_NOREPLACE);
  if (err == EINVAL || err == ENOSYS) {
    // File systems without the no-replace flag: check, then link-and-unlink
    // for files (atomic refusal of an existing target), plain rename for the rest.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) return EEXIST;
    if (lstat(from.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) {
      if (link(from.c_str(), to.c_str()) == 0) return unlink(from.c_str()) == 0 ? 0 : errno;
      if (errno == EEXIST) return EEXIST;
    }
    err = rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  }
  if (err != EXDEV) return err;

  // Another volume: only files and links can travel, by copy and then delete.
  EntryInfo info;
  if (!LStat(from, info)) return errno;
  EntryInfo target;
  if (LStat(to, target)) return EEXIST;
  CopyResult r;
  if (info.kind == EntryKind::File) {
    r = CopyRegularFile(from, to, /*replace=*/false, nullptr);
  } else if (info.kind == EntryKind::Symlink) {
    r = CopySymlink(from, to, /*replace=*/false);
  } else {
    return EXDEV;
  }
  if (r.status != CopyStatus::Done) return r.error != 0 ? r.error : EIO;
  return RemoveEntry(from);
}

int WriteWholeFile(const std::string& path, std::string_view data) {
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  int error = 0;
  for (size_t done = 0; error == 0 && done < data.size();) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error = n < 0 ? errno : EIO;
    else done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temporary.c_str());
  return error;
}

}  // namespace vantrel::platform
