// private_file.cpp - files in memory and nameless files, over Linux's
// memfd_create, O_TMPFILE and /proc/self/fd.
#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vantrel::platform {

int PrivateMemoryFile(const std::string& label) {
  const int fd = ::memfd_create(label.c_str(), MFD_CLOEXEC);
  return fd >= 0 ? fd : PrivateTempFile();
}

std::string PrivateTempDirectory() {
  const char* env = std::getenv("TMPDIR");
  return env && *env ? env : "/tmp";
}

int PrivateTempFile() {
  const std::string dir = PrivateTempDirectory();
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = dir + "/.vantrel-private-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

int UnnamedFileIn(const std::string& dir, unsigned mode) {
  return ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode & 07777);
}

std::string OpenDescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

PrivateSpool::~PrivateSpool() {
  if (fd_ >= 0) ::close(fd_);
}

int PrivateSpool::Append(const void* data, size_t n) {
  if (fd_ < 0 && (fd_ = PrivateTempFile()) < 0) return errno;
  const char* p = static_cast<const char*>(data);
  uint64_t at = size_;
  for (size_t left = n; left > 0;) {
    const ssize_t w = ::pwrite(fd_, p, left, static_cast<off_t>(at));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      const int error = w < 0 ? errno : ENOSPC;
      // What went in of this piece is not kept.
      [[maybe_unused]] const int trimmed = ::ftruncate(fd_, static_cast<off_t>(size_));
      return error;
    }
    p += w;
    at += static_cast<uint64_t>(w);
    left -= static_cast<size_t>(w);
  }
  size_ = at;
  return 0;
}

int PrivateSpool::ReadAt(uint64_t offset, void* buffer, size_t n) const {
  if (offset + n > size_) return EINVAL;
  char* p = static_cast<char*>(buffer);
  for (size_t left = n; left > 0;) {
    const ssize_t r = ::pread(fd_, p, left, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return r < 0 ? errno : EIO;
    p += r;
    offset += static_cast<uint64_t>(r);
    left -= static_cast<size_t>(r);
  }
  return 0;
}

}  // namespace vantrel::platform
