// zip_outpath.cpp - safe output paths for extraction.
#include "zip/zip_outpath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vantrel::zip {

std::string SafeComponent(std::string_view c) {
  size_t nul = c.find('\0');
  if (nul != std::string_view::npos) c = c.substr(0, nul);
  if (c.empty() || c == "." || c == "..") return {};
  return std::string(c);
}

std::vector<std::string> SafeComponents(std::string_view path) {
  std::vector<std::string> out;
  bool first = true;
  size_t i = 0;
  while (i <= path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view c = path.substr(i, slash - i);
    // A leading drive ("C:") names no directory on Linux.
    bool drive = first && c.size() == 2 && c[1] == ':' &&
                 ((c[0] >= 'A' && c[0] <= 'Z') || (c[0] >= 'a' && c[0] <= 'z'));
    if (!c.empty()) first = false;
    std::string safe = drive ? std::string() : SafeComponent(c);
    if (!safe.empty()) out.push_back(std::move(safe));
    i = slash + 1;
  }
  return out;
}

TFd& TFd::operator=(TFd&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.Release();
  }
  return *this;
}

TFd::~TFd() {
  if (fd_ >= 0) ::close(fd_);
}

TFd OpenDirectoryBeneath(const std::string& root, const std::vector<std::string>& dirs,
                         bool create) {
  TFd dir(::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) return dir;
  for (const std::string& c : dirs) {
    if (create && ::mkdirat(dir.Get(), c.c_str(), 0777) != 0 && errno != EEXIST) return TFd();
    TFd next(::openat(dir.Get(), c.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.Valid()) return TFd();
    dir = std::move(next);
  }
  return dir;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return true;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!MakeDirectories(path.substr(0, slash))) return false;
  }
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string JoinDirectory(const std::string& root, const std::vector<std::string>& dirs) {
  std::string out = root;
  if (!out.empty() && out.back() != '/') out += '/';
  for (const std::string& d : dirs) {
    out += d;
    out += '/';
  }
  return out;
}

}  // namespace vantrel::zip
