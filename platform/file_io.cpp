// file_io.cpp - the file operations of the panel sources, over POSIX.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

namespace vantrel::platform {

bool GetFileIdentity(const std::string& path, FileIdentity& out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    out = {};
    return false;
  }
  out.device = static_cast<uint64_t>(st.st_dev);
  out.inode = static_cast<uint64_t>(st.st_ino);
  out.size = static_cast<uint64_t>(st.st_size);
  out.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

int WriteAccess(const std::string& path) { return ::access(path.c_str(), W_OK) == 0 ? 0 : errno; }

bool ReadLinkTarget(const std::string& path, std::string& target) {
  // Grown until the target fits: a link's target may be longer than a path.
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      target.assign(buffer.data(), static_cast<size_t>(n));
      return true;
    }
    if (buffer.size() >= (1u << 20)) {
      errno = ENAMETOOLONG;
      return false;
    }
    buffer.resize(buffer.size() * 4);
  }
}

int MakeSymlink(const std::string& target, const std::string& path, int64_t mtime) {
  if (::symlink(target.c_str(), path.c_str()) != 0) return errno;
  if (mtime != 0) {
    const struct timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  return 0;
}

int RenameReplacing(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int MakeDirectoryWithMode(const std::string& path, uint32_t mode) {
  return ::mkdir(path.c_str(), static_cast<mode_t>(mode & 07777)) == 0 ? 0 : errno;
}

int ProcessNumber() { return static_cast<int>(::getpid()); }

int WriteAll(int fd, const void* data, size_t n, uint64_t* written) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return w < 0 ? errno : ENOSPC;
    p += w;
    n -= static_cast<size_t>(w);
    if (written) *written += static_cast<uint64_t>(w);
  }
  return 0;
}

int64_t ReadSome(int fd, void* buffer, size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd, buffer, n);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

int Rewind(int fd) { return ::lseek(fd, 0, SEEK_SET) == 0 ? 0 : errno; }

int SetOpenFileMode(int fd, uint32_t mode) {
  return ::fchmod(fd, static_cast<mode_t>(mode & 07777)) == 0 ? 0 : errno;
}

int SetOpenFileTime(int fd, int64_t seconds) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  return ::futimens(fd, times) == 0 ? 0 : errno;
}

void CloseDescriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

void CloseDescriptorLater(int fd) {
  if (fd < 0) return;
  try {
    std::thread([fd] { ::close(fd); }).detach();
  } catch (const std::system_error&) {
    ::close(fd);
  }
}

}  // namespace vantrel::platform
