// zip_outpath.h - where extracted entries may be written, and how.
//
// A stored path is reduced to safe components below the destination: empty,
// "." and ".." components are dropped, a leading drive ("C:") is dropped, and
// each component ends at a NUL byte. Directories below the destination are
// created and opened one component at a time without following symbolic
// links, so an entry cannot reach outside the destination through a link an
// earlier entry (or anyone else) placed there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel::zip {

std::vector<std::string> SafeComponents(std::string_view storedPath);
// A component made safe on its own: "" when nothing usable is left.
std::string SafeComponent(std::string_view component);

// An owned file descriptor.
class TFd {
 public:
  TFd() = default;
  explicit TFd(int fd) : fd_(fd) {}
  TFd(TFd&& o) noexcept : fd_(o.Release()) {}
  TFd& operator=(TFd&& o) noexcept;
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd();
  int Get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  bool Valid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Opens root (the current directory when empty; followed as given) and then
// each of dirs below it, creating them when create is set, never following a
// symbolic link. Invalid on failure.
TFd OpenDirectoryBeneath(const std::string& root, const std::vector<std::string>& dirs,
                         bool create);
// Creates a directory and its missing parents (following links: the caller's
// own path). True when it exists afterwards.
bool MakeDirectories(const std::string& path);
// root + "/" + dirs, each with a trailing "/" ("" root: relative).
std::string JoinDirectory(const std::string& root, const std::vector<std::string>& dirs);

}  // namespace vantrel::zip
