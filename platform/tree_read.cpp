// tree_read.cpp - directories held open and files read through once.
#include "platform/tree_read.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vantrel::platform {

namespace {

// O_NOATIME is only granted on the caller's own files (EPERM otherwise):
// then the file is opened plainly.
int OpenNoAtime(int dirfd, const char* path, int flags) {
  const int fd = ::openat(dirfd, path, flags | O_NOATIME);
  if (fd >= 0 || errno != EPERM) return fd;
  return ::openat(dirfd, path, flags);
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

EntryKind KindOfMode(mode_t mode) {
  return S_ISREG(mode) ? EntryKind::File : S_ISDIR(mode) ? EntryKind::Directory
                                         : S_ISLNK(mode) ? EntryKind::Symlink
                                                         : EntryKind::Special;
}

}  // namespace

// ---------------------------------------------------------------------------
// SequentialFile

SequentialFile::~SequentialFile() { Close(); }

void SequentialFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int SequentialFile::Opened(int fd) {
  if (fd < 0) return errno;
  fd_ = fd;
  return 0;
}

int SequentialFile::Open(const std::string& path) {
  Close();
  return Opened(OpenNoAtime(AT_FDCWD, path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
}

int SequentialFile::OpenAt(const TreeDir& dir, const char* name) {
  Close();
  return Opened(OpenNoAtime(dir.fd_, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

bool SequentialFile::IsRegular() const {
  struct stat st;
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

uint64_t SequentialFile::SizeNow() const {
  struct stat st;
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void SequentialFile::ReadingThrough() const {
  if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

int64_t SequentialFile::ReadSome(void* buffer, size_t n) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, n);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

int64_t SequentialFile::ReadFull(void* buffer, size_t n) {
  size_t got = 0;
  while (got < n) {
    const int64_t r = ReadSome(static_cast<char*>(buffer) + got, n - got);
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(got);
}

// ---------------------------------------------------------------------------
// TreeDir

TreeDir::~TreeDir() { Close(); }

void TreeDir::Close() {
  if (dir_ != nullptr)
    ::closedir(static_cast<DIR*>(dir_));  // closes fd_ too
  else if (fd_ >= 0)
    ::close(fd_);
  dir_ = nullptr;
  fd_ = -1;
}

int TreeDir::Open(const std::string& path, bool noLink) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (noLink ? O_NOFOLLOW : 0));
  return fd_ < 0 ? errno : 0;
}

EntryId TreeDir::Identity() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return {};
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

int TreeDir::ForEach(const std::function<bool(const char* name, EntryKind kind)>& onEntry) {
  if (fd_ < 0) return EBADF;
  if (dir_ == nullptr) {
    dir_ = ::fdopendir(fd_);
    if (dir_ == nullptr) return errno;
  } else {
    ::rewinddir(static_cast<DIR*>(dir_));
  }
  DIR* dir = static_cast<DIR*>(dir_);
  for (;;) {
    errno = 0;
    const struct dirent* de = ::readdir(dir);
    if (de == nullptr) return errno;
    const char* name = de->d_name;
    if (IsDotOrDotDot(name)) continue;
    EntryKind kind;
    switch (de->d_type) {
      case DT_REG: kind = EntryKind::File; break;
      case DT_DIR: kind = EntryKind::Directory; break;
      case DT_LNK: kind = EntryKind::Symlink; break;
      case DT_UNKNOWN: {
        struct stat st;
        if (::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        kind = KindOfMode(st.st_mode);
        break;
      }
      default: kind = EntryKind::Special; break;
    }
    if (!onEntry(name, kind)) return 0;
  }
}

bool TreeDir::LeadsToDirectory(const char* name) const {
  struct stat st;
  return fd_ >= 0 && ::fstatat(fd_, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

std::string ResolvedPathOf(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string resolved(real);
  ::free(real);
  return resolved;
}

bool DeviceOf(const std::string& path, uint64_t& device) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  device = static_cast<uint64_t>(st.st_dev);
  return true;
}

}  // namespace vantrel::platform
