// zip_outpath.cpp - safe output paths for extraction.
#include "zip/zip_outpath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

TFd OpenRoot(const std::string& root) {
  return TFd(::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The directory c in parent, created first when create is set (made: whether
// it was); never a link.
TFd OpenBelow(int parent, const std::string& c, bool create, bool* made = nullptr) {
  const bool created = create && ::mkdirat(parent, c.c_str(), 0777) == 0;
  if (made) *made = created;
  if (create && !created && errno != EEXIST) return TFd();
  return TFd(::openat(parent, c.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

}  // namespace

TFd OpenDirectoryBeneath(const std::string& root, const std::vector<std::string>& dirs,
                         bool create) {
  TFd dir = OpenRoot(root);
  for (size_t i = 0; i < dirs.size() && dir.Valid(); ++i) dir = OpenBelow(dir.Get(), dirs[i], create);
  return dir;
}

void TDirectoryChain::Reset(const std::string& root) {
  root_ = root;
  rootFd_ = TFd();
  names_.clear();
  held_.clear();
  deepNames_.clear();
  deep_ = TLevel();
  last_ = nullptr;
}

TDirectoryChain::TLevel TDirectoryChain::OpenLevel(int parent, const std::string& name,
                                                   bool create) {
  // The name is taken in the level above, which a file of that name could
  // no longer be made in.
  if (!held_.empty() && parent == held_.back().fd.Get()) held_.back().claimed.insert(name);
  TLevel level;
  level.fd = OpenBelow(parent, name, create, &level.made);
  return level;
}

int TDirectoryChain::Open(const std::vector<std::string>& dirs, bool create) {
  last_ = nullptr;
  if (!rootFd_.Valid()) rootFd_ = OpenRoot(root_);
  if (!rootFd_.Valid()) return -1;
  // Keep the common beginning of the path held open, open the rest.
  size_t same = 0;
  while (same < names_.size() && same < dirs.size() && names_[same] == dirs[same]) ++same;
  names_.resize(same);
  held_.resize(same);
  const size_t hold = std::min(dirs.size(), kMaxHeld);
  while (held_.size() < hold) {
    TLevel next = OpenLevel(held_.empty() ? rootFd_.Get() : held_.back().fd.Get(),
                            dirs[held_.size()], create);
    if (!next.fd.Valid()) return -1;
    names_.push_back(dirs[held_.size()]);
    held_.push_back(std::move(next));
  }
  if (dirs.size() == hold) {
    if (held_.empty()) return rootFd_.Get();
    last_ = &held_.back();
    return last_->fd.Get();
  }
  if (!deep_.fd.Valid() || deepNames_ != dirs) {
    deepNames_.clear();
    deep_ = OpenLevel(held_.back().fd.Get(), dirs[hold], create);
    for (size_t i = hold + 1; i < dirs.size() && deep_.fd.Valid(); ++i)
      deep_ = OpenLevel(deep_.fd.Get(), dirs[i], create);
    if (!deep_.fd.Valid()) return -1;
    deepNames_ = dirs;
  }
  last_ = &deep_;
  return deep_.fd.Get();
}

bool TDirectoryChain::ClaimNew(const std::string& leaf) {
  return last_ && last_->made && last_->claimed.insert(leaf).second;
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
