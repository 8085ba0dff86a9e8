// private_file.cpp - files in memory and nameless files, over Linux's
// memfd_create, O_TMPFILE and /proc/self/fd.
#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace vantrel::platform {

int PrivateMemoryFile(const std::string& label) {
  const int fd = ::memfd_create(label.c_str(), MFD_CLOEXEC);
  return fd >= 0 ? fd : PrivateTempFile();
}

int PrivateTempFile() {
  const char* env = std::getenv("TMPDIR");
  const std::string dir = env && *env ? env : "/tmp";
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

}  // namespace vantrel::platform
