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
#include <unordered_set>
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
// The directories of one extraction run, kept open so that the files of one
// directory are created without walking its path again. Every directory below
// the root is opened relative to its parent, never through a symbolic link,
// as OpenDirectoryBeneath does; the deepest path opened stays open, so a run
// over an archive in directory order opens each directory once.
class TDirectoryChain {
 public:
  // Forgets the directories opened so far; root is opened on first use
  // (followed as given; "" is the current directory).
  void Reset(const std::string& root);
  // Reset, unless root is the root already in use.
  void UseRoot(const std::string& root) {
    if (root != root_) Reset(root);
  }
  // The directory root/dirs, its missing parts created when create is set;
  // -1 on failure. The descriptor stays valid until the next Open or Reset.
  int Open(const std::vector<std::string>& dirs, bool create);

  // Whether nothing named leaf can be in the directory the last Open
  // returned: this chain created that directory and has held it open since,
  // and no earlier call named leaf in it. A directory the run made holds
  // only what the run puts there, so a file about to be made in it needs no
  // look-up first (which, beside the threads making files in the same
  // directory, waits for its lock). Another program writing into a
  // directory while the run makes it is not foreseen.
  bool ClaimNew(const std::string& leaf);

 private:
  // A directory held open, and the names claimed in it when the chain made it.
  struct TLevel {
    TFd fd;
    bool made = false;
    std::unordered_set<std::string> claimed;
  };
  TLevel OpenLevel(int parent, const std::string& name, bool create);

  // Paths deeper than this are walked again for each file instead of keeping
  // one descriptor per level open.
  static constexpr size_t kMaxHeld = 64;
  std::string root_;
  TFd rootFd_;
  std::vector<std::string> names_;  // the components held open
  std::vector<TLevel> held_;        // held_[i] is root/names_[0..i]
  std::vector<std::string> deepNames_;  // the last path deeper than kMaxHeld
  TLevel deep_;
  TLevel* last_ = nullptr;  // what the last Open returned (null: the root, or a failure)
};

// Creates a directory and its missing parents (following links: the caller's
// own path). True when it exists afterwards.
bool MakeDirectories(const std::string& path);
// root + "/" + dirs, each with a trailing "/" ("" root: relative).
std::string JoinDirectory(const std::string& root, const std::vector<std::string>& dirs);

}  // namespace vantrel::zip
