// readonly_file.cpp - open without blocking, refuse what is not a regular
// file, read with pread.
#include "platform/readonly_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/fs.h"

namespace vantrel::platform {

namespace {

// Why a file of this type cannot be viewed.
const char* RefusalOf(mode_t mode) {
  if (S_ISDIR(mode)) return "It is a directory";
  if (S_ISFIFO(mode)) return "It is a FIFO, not a regular file";
  if (S_ISSOCK(mode)) return "It is a socket, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "It is a device, not a regular file";
  return "It is not a regular file";
}

}  // namespace

ReadOnlyFile::~ReadOnlyFile() { Close(); }

void ReadOnlyFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  memory_.clear();
  inMemory_ = false;
}

bool ReadOnlyFile::Open(const std::string& path, std::string* error) {
  Close();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    Close();
    return false;
  };
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(ErrorText(errno));
  fd_ = fd;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return fail(ErrorText(errno));
  if (!S_ISREG(st.st_mode)) return fail(RefusalOf(st.st_mode));
  // Regular files never block; clearing the flag keeps reads ordinary.
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  size_ = static_cast<uint64_t>(st.st_size);
  if (size_ > 0) return true;

  // No size reported: an empty file, or one whose contents the kernel makes
  // up as it is read. Read what there is, once.
  char chunk[65536];
  while (memory_.size() < kMaxUnsizedBytes) {
    const ssize_t got = ::read(fd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(ErrorText(errno));
    if (got == 0) break;
    memory_.append(chunk, static_cast<size_t>(got));
  }
  if (memory_.size() > kMaxUnsizedBytes) memory_.resize(kMaxUnsizedBytes);
  inMemory_ = true;
  size_ = memory_.size();
  return true;
}

size_t ReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t count) const {
  if (fd_ < 0 || offset >= size_) return 0;
  count = static_cast<size_t>(std::min<uint64_t>(count, size_ - offset));
  if (inMemory_) {
    std::memcpy(buffer, memory_.data() + offset, count);
    return count;
  }
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, count - done,
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // shrunk since it was opened, or a read error
    done += static_cast<size_t>(got);
  }
  return done;
}

}  // namespace vantrel::platform
