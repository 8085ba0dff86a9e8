// copyfile.cpp - copying one file or link through a temporary file, and the
// other single-entry steps of the copy, move and delete engine, over POSIX.
#include "platform/copyfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>

namespace vantrel::platform {

namespace {

// Closes a descriptor when the scope ends.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISLNK(mode)) return EntryKind::Symlink;
  return EntryKind::Special;
}

void FillInfo(const struct stat& st, EntryInfo& out) {
  out.kind = KindOf(st.st_mode);
  out.size = out.kind == EntryKind::File ? static_cast<uint64_t>(st.st_size) : 0;
  out.mode = st.st_mode & 07777;
  out.device = st.st_dev;
  out.inode = st.st_ino;
  out.accessTime = st.st_atim;
  out.writeTime = st.st_mtim;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A fresh name for a temporary entry in `dir`: a dot name that no listing of
// the user's files would take for one of theirs.
std::string TemporaryName(const std::string& dir) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[8];
  if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    static unsigned counter = 0;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    for (size_t i = 0; i < sizeof random; ++i) {
      random[i] = static_cast<unsigned char>((now >> (i * 8)) ^ (getpid() >> i) ^ (counter++ * 131));
    }
  }
  std::string name = "/.vantrel-";
  for (unsigned char c : random) name += kChars[c % (sizeof kChars - 1)];
  return dir + name;
}

// Puts the finished temporary entry `temp` at `dest`. Without `replace`, an
// entry that exists at `dest` is never taken over.
int MoveIntoPlace(const std::string& temp, const std::string& dest, bool replace) {
  if (replace) return ::rename(temp.c_str(), dest.c_str()) == 0 ? 0 : errno;
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, dest.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // The file system cannot refuse to replace in one step; a hard link can.
  if (::link(temp.c_str(), dest.c_str()) == 0) {
    ::unlink(temp.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  struct stat st;
  if (::lstat(dest.c_str(), &st) == 0) return EEXIST;
  return ::rename(temp.c_str(), dest.c_str()) == 0 ? 0 : errno;
}

// Keeps the reading of a large source ahead of the copy: the kernel's own
// read-ahead asks the disk for one window at a time and waits for it, which
// leaves a disk that serves several requests at once mostly idle (a second
// copy running beside the first then doubles the speed, where the queue
// would rather run them one after the other). Asking for the next tens of
// megabytes early keeps enough reads in flight for one copy to take the
// whole disk; on a spinning disk the reads stay in order.
//
// The window is asked for in small steps, about as much as each block of the
// copy takes: a request for half a window at once holds the copy up while
// the kernel sets up tens of thousands of pages (cold, 1 GiB of 64 MiB files,
// medians of 7 rounds on a loaded machine: 0.79 s with steps of 8 MiB, 0.96 s
// with halves of the window).
class ReadAhead {
 public:
  static constexpr uint64_t kWindow = kReadAheadWindow;
  static constexpr uint64_t kStep = 8ull << 20;

  // Reading starts at `from`; what lies before it is not asked for.
  ReadAhead(int fd, uint64_t size, uint64_t from = 0) : fd_(fd), size_(size), asked_(from) {}
  // The copy has reached `position`: asks for what is missing of the window
  // beyond it.
  void At(uint64_t position) {
    while (asked_ < size_ && asked_ < position + kWindow) {
      const uint64_t step = std::min(kStep, size_ - asked_);
      ::posix_fadvise(fd_, static_cast<off_t>(asked_), static_cast<off_t>(step), POSIX_FADV_WILLNEED);
      asked_ += step;
    }
  }

 private:
  int fd_;
  uint64_t size_;
  uint64_t asked_;
};

// Makes `out` share the blocks of `in` (a reflink), where the file system
// keeps shared blocks (btrfs, XFS): nothing is read or written but the
// file system's own records. It goes in steps of a gigabyte, so that the
// hook still runs and can stop a clone of a huge file; the last step takes
// everything up to the source's end, also what was appended meanwhile.
// Returns Done when all is shared, Stopped when the hook asked to stop, and
// Failed when (the rest of) the file cannot be shared: `cloned` then tells
// how much is, and the caller copies the rest.
CopyStatus CloneData(int in, int out, uint64_t size, const CopyHook& hook, uint64_t& cloned) {
  // Steps must start on a block boundary; a gigabyte is one on any file system.
  constexpr uint64_t kStep = 1ull << 30;
  cloned = 0;
  for (;;) {
    const bool last = size - std::min(size, cloned) <= kStep;
    struct file_clone_range range {};
    range.src_fd = in;
    range.src_offset = cloned;
    range.src_length = last ? 0 : kStep;  // 0: up to the end
    range.dest_offset = cloned;
    if (::ioctl(out, FICLONERANGE, &range) != 0) return CopyStatus::Failed;
    if (last) {
      struct stat st;
      if (::fstat(out, &st) != 0) return CopyStatus::Failed;
      cloned = static_cast<uint64_t>(st.st_size);
    } else {
      cloned += kStep;
    }
    if (hook && !hook(cloned)) return CopyStatus::Stopped;
    if (last) return CopyStatus::Done;
  }
}

// Copies everything from the current positions of `in` and `out` on; the
// hook counts from `from`, the bytes there before. The block size adapts so
// that each block takes a few tens of milliseconds at most, which keeps the
// hook's calls frequent on slow disks and the system calls few on fast ones.
//
// `size` is the source's size when it was examined. A block shorter than
// asked for that ends exactly there has met the end of the file, so the
// call that would only say so (by copying nothing) is spared: most small
// files take one call instead of two. A file that has grown since gives more
// than `size` and is copied on until a call copies nothing.
CopyStatus CopyData(int in, int out, uint64_t size, const CopyHook& hook, int& error,
                    ReadAhead* ahead = nullptr, uint64_t from = 0) {
  constexpr size_t kMinBlock = 256 * 1024;
  constexpr size_t kMaxBlock = 16 * 1024 * 1024;
  constexpr size_t kBufferSize = 1024 * 1024;
  size_t block = 1024 * 1024;
  bool inKernel = true;
  std::unique_ptr<char[]> buffer;
  uint64_t copied = from;
  for (;;) {
    const auto start = std::chrono::steady_clock::now();
    if (ahead != nullptr) ahead->At(copied);
    ssize_t n;
    size_t asked = block;
    if (inKernel) {
      n = ::copy_file_range(in, nullptr, out, nullptr, block, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        // Not possible between these files (another file system, a file
        // system without support): fall back to reading and writing.
        if (copied == from && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                            errno == EOPNOTSUPP || errno == EBADF || errno == EPERM)) {
          inKernel = false;
          continue;
        }
        error = errno;
        return CopyStatus::Failed;
      }
      if (n == 0 && copied == from) {
        // Some file systems report no data for files whose size they do not
        // know in advance; reading tells for sure.
        inKernel = false;
        continue;
      }
    } else {
      if (!buffer) buffer.reset(new char[kBufferSize]);
      asked = std::min(block, kBufferSize);
      n = ::read(in, buffer.get(), asked);
      if (n < 0) {
        if (errno == EINTR) continue;
        error = errno;
        return CopyStatus::Failed;
      }
      for (ssize_t written = 0; written < n;) {
        const ssize_t w = ::write(out, buffer.get() + written, static_cast<size_t>(n - written));
        if (w < 0) {
          if (errno == EINTR) continue;
          error = errno;
          return CopyStatus::Failed;
        }
        written += w;
      }
    }
    if (n == 0) return CopyStatus::Done;
    copied += static_cast<uint64_t>(n);

    const auto took = std::chrono::steady_clock::now() - start;
    if (took > std::chrono::milliseconds(40) && block > kMinBlock) {
      block /= 2;
    } else if (took < std::chrono::milliseconds(10) && block < kMaxBlock) {
      block *= 2;
    }
    if (hook && !hook(copied)) return CopyStatus::Stopped;
    if (copied == size && static_cast<size_t>(n) < asked) return CopyStatus::Done;
  }
}

}  // namespace

bool LStat(const std::string& path, EntryInfo& out) {
  out = EntryInfo{};
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  FillInfo(st, out);
  return true;
}

std::vector<EntryId> DirectoryChain(const std::string& dir) {
  std::vector<EntryId> chain;
  Fd fd(::open(dir.empty() ? "." : dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  while (fd.get() >= 0) {
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) break;
    const EntryId id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    if (!chain.empty() && chain.back() == id) break;  // ".." of the root is the root
    chain.push_back(id);
    fd.reset(::openat(fd.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  return chain;
}

std::optional<uint64_t> DeviceOf(const std::string& path) {
  std::string at = path;
  while (!at.empty()) {
    struct stat st;
    if (::stat(at.c_str(), &st) == 0) return static_cast<uint64_t>(st.st_dev);
    // Only a missing part makes the directory above the answer: a path that
    // cannot be examined for another reason is not guessed at.
    if (errno != ENOENT && errno != ENOTDIR) return std::nullopt;
    if (at == "/" || at == ".") return std::nullopt;
    const size_t slash = at.find_last_of('/');
    at = slash == std::string::npos ? "." : slash == 0 ? "/" : at.substr(0, slash);
  }
  return std::nullopt;
}

int ListDirectory(const std::string& path,
                  const std::function<void(const char* name, const EntryInfo& info)>& onEntry) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  int error = 0;
  for (;;) {
    errno = 0;
    const struct dirent* de = ::readdir(dir);
    if (de == nullptr) {
      error = errno;
      break;
    }
    const char* name = de->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    EntryInfo info;
    struct stat st;
    if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      FillInfo(st, info);
    } else if (errno == ENOENT) {
      continue;  // gone already
    } else {
      // Cannot be examined (a directory without search permission): the
      // kind the directory itself records is all there is.
      info.kind = de->d_type == DT_DIR   ? EntryKind::Directory
                  : de->d_type == DT_LNK ? EntryKind::Symlink
                  : de->d_type == DT_REG ? EntryKind::File
                                         : EntryKind::Special;
    }
    onEntry(name, info);
  }
  ::closedir(dir);
  return error;
}

SourceFile::~SourceFile() {
  if (fd_ >= 0) ::close(fd_);
}

int SourceFile::Open(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  info_ = EntryInfo{};
  // O_NONBLOCK: opening a FIFO for reading must not wait for a writer. It is
  // refused just below, as is anything else that is not a regular file; for
  // a regular file the flag changes nothing.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  return Examine();
}

int SourceFile::OpenAt(int dirFd, const char* name) {
  if (fd_ >= 0) ::close(fd_);
  info_ = EntryInfo{};
  fd_ = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  return Examine();
}

// After the open: refuses anything but a regular file.
int SourceFile::Examine() {
  if (fd_ < 0) {
    const int error = errno;
    if (error == ELOOP) {
      info_.kind = EntryKind::Symlink;
      return EINVAL;
    }
    return error;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0) return errno;
  FillInfo(st, info_);
  if (info_.kind != EntryKind::File) {
    ::close(fd_);
    fd_ = -1;
    return EINVAL;
  }
  return 0;
}

DirectoryHandle::~DirectoryHandle() {
  if (fd_ >= 0) ::close(fd_);
}

int DirectoryHandle::Open(const std::string& path, bool noFollow) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
  return fd_ >= 0 ? 0 : errno;
}

CopyResult CopyRegularFile(const std::string& source, const std::string& dest, bool replace,
                           const CopyHook& hook) {
  SourceFile in;
  const int error = in.Open(source);
  if (error != 0) return {CopyStatus::Failed, error};
  return CopyOpenFile(in, dest, replace, hook);
}

uint32_t FileCreationMask() {
  // Linux reports it in the process status; asking umask() would change it.
  std::FILE* f = std::fopen("/proc/self/status", "re");
  if (f == nullptr) return kUnknownMask;
  uint32_t mask = kUnknownMask;
  char line[256];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    unsigned value;
    if (std::sscanf(line, "Umask: %o", &value) == 1) {
      mask = value & 0777;
      break;
    }
  }
  std::fclose(f);
  return mask;
}

namespace {

// Gives the unnamed file open as `fd` the name `dest`; fails with EEXIST
// when something is there.
int LinkUnnamed(int fd, int dirFd, const char* dest) {
  if (::linkat(fd, "", dirFd, dest, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT) return errno;
  // Older kernels allow that only to privileged processes (and say ENOENT);
  // the descriptor's entry under /proc serves everyone.
  char procPath[64];
  std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, procPath, dirFd, dest, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// The data of a large file: shared with the source where the file system
// can (reading it ahead would then only load the disk with reads nobody
// needs), else copied with the source read ahead of the copy. A clone that
// stops part of the way is completed by copying from where it stopped.
CopyStatus CopyLargeData(const SourceFile& source, int out, const CopyHook& hook, int& error) {
  const int in = source.fd();
  uint64_t cloned = 0;
  const CopyStatus status = CloneData(in, out, source.info().size, hook, cloned);
  if (status != CopyStatus::Failed) return status;
  if (cloned > 0) {
    const off_t at = static_cast<off_t>(cloned);
    if (::lseek(in, at, SEEK_SET) != at || ::lseek(out, at, SEEK_SET) != at) {
      error = errno;
      return CopyStatus::Failed;
    }
  }
  ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  ReadAhead ahead(in, source.info().size, cloned);
  return CopyData(in, out, source.info().size, hook, error, &ahead, cloned);
}

}  // namespace

int PlaceUnnamed(int fd, const std::string& dir, const std::string& dest, bool replace) {
  const int error = LinkUnnamed(fd, AT_FDCWD, dest.c_str());
  if (error != EEXIST || !replace) return error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = TemporaryName(dir);
    const int linked = LinkUnnamed(fd, AT_FDCWD, temp.c_str());
    if (linked == EEXIST) continue;
    if (linked != 0) return linked;
    const int moved = MoveIntoPlace(temp, dest, true);
    if (moved != 0) ::unlink(temp.c_str());
    return moved;
  }
  return EEXIST;
}

void ReadAheadFile(const std::string& path, uint64_t bytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (fd.get() < 0) return;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  ::posix_fadvise(fd.get(), 0, static_cast<off_t>(bytes), POSIX_FADV_WILLNEED);
}

CopyResult CopyOpenFile(const SourceFile& source, const std::string& dest, bool replace,
                        const CopyHook& hook, uint32_t creationMask) {
  if (source.fd() < 0) return {CopyStatus::Failed, EBADF};
  const EntryInfo& st = source.info();
  const uint32_t wanted = st.mode & 0777;
  const bool large = st.size > 1024 * 1024;

  const std::string dir = ParentOf(dest);
  Fd out;
  std::string temp;
  out.reset(::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, wanted));
  const bool unnamed = out.get() >= 0;
  // Only a file system without unnamed files falls back to a named one.
  if (!unnamed && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return {CopyStatus::Failed, errno};
  }
  if (!unnamed) {
    temp = dir + "/.vantrel-XXXXXX";
    out.reset(::mkostemp(temp.data(), O_CLOEXEC));
    if (out.get() < 0) return {CopyStatus::Failed, errno};
  }

  int error = 0;
  CopyStatus status = large ? CopyLargeData(source, out.get(), hook, error)
                            : CopyData(source.fd(), out.get(), st.size, hook, error);
  if (status == CopyStatus::Done) {
    const struct timespec times[2] = {st.accessTime, st.writeTime};
    const bool modeRight = unnamed && creationMask != kUnknownMask && (wanted & ~creationMask) == wanted;
    if ((!modeRight && ::fchmod(out.get(), wanted) != 0) || ::futimens(out.get(), times) != 0) {
      status = CopyStatus::Failed;
      error = errno;
    }
  }
  if (unnamed) {
    // An unnamed file that is closed without a name simply goes away.
    if (status == CopyStatus::Done) {
      error = PlaceUnnamed(out.get(), dir, dest, replace);
      if (error != 0) status = CopyStatus::Failed;
    }
    // A late write error shows up on closing; the name given a moment ago
    // is then taken back, unless it replaced a file (which is gone by then:
    // the copy is more than nothing).
    if (::close(out.release()) != 0 && status == CopyStatus::Done) {
      error = errno;
      status = CopyStatus::Failed;
      if (!replace) ::unlink(dest.c_str());
    }
    return {status, error};
  }
  if (::close(out.release()) != 0 && status == CopyStatus::Done) {
    status = CopyStatus::Failed;
    error = errno;
  }
  if (status == CopyStatus::Done) {
    error = MoveIntoPlace(temp, dest, replace);
    if (error != 0) status = CopyStatus::Failed;
  }
  if (status != CopyStatus::Done) ::unlink(temp.c_str());
  return {status, error};
}

namespace {

// CopyToUnnamed for the directory `dir`, relative to the directory open as `dirFd`.
CopyResult WriteUnnamed(const SourceFile& source, int dirFd, const char* dir, const CopyHook& hook,
                        uint32_t creationMask, int& fd) {
  fd = -1;
  if (source.fd() < 0) return {CopyStatus::Failed, EBADF};
  const EntryInfo& st = source.info();
  const uint32_t wanted = st.mode & 0777;
  Fd out(::openat(dirFd, dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, wanted));
  if (out.get() < 0) {
    const int error = errno == EISDIR || errno == EINVAL ? EOPNOTSUPP : errno;
    return {CopyStatus::Failed, error};
  }
  int error = 0;
  CopyStatus status = CopyData(source.fd(), out.get(), st.size, hook, error);
  if (status == CopyStatus::Done) {
    const struct timespec times[2] = {st.accessTime, st.writeTime};
    const bool modeRight = creationMask != kUnknownMask && (wanted & ~creationMask) == wanted;
    if ((!modeRight && ::fchmod(out.get(), wanted) != 0) || ::futimens(out.get(), times) != 0) {
      status = CopyStatus::Failed;
      error = errno;
    }
  }
  if (status == CopyStatus::Done) fd = out.release();
  return {status, error};
}

}  // namespace

CopyResult CopyToUnnamed(const SourceFile& source, const std::string& dir, const CopyHook& hook,
                         uint32_t creationMask, int& fd) {
  return WriteUnnamed(source, AT_FDCWD, dir.c_str(), hook, creationMask, fd);
}

CopyResult CopyToUnnamedAt(const SourceFile& source, int dirFd, const CopyHook& hook,
                           uint32_t creationMask, int& fd) {
  return WriteUnnamed(source, dirFd, ".", hook, creationMask, fd);
}

CopyResult NameUnnamedCopy(int fd, const std::string& dir, const std::string& dest) {
  Fd out(fd);
  const int error = PlaceUnnamed(out.get(), dir, dest, false);
  if (error != 0) return {CopyStatus::Failed, error};
  if (::close(out.release()) != 0) {
    const int late = errno;
    ::unlink(dest.c_str());
    return {CopyStatus::Failed, late};
  }
  return {};
}

CopyResult NameUnnamedCopyAt(int fd, int dirFd, const char* name) {
  Fd out(fd);
  const int error = LinkUnnamed(out.get(), dirFd, name);
  if (error != 0) return {CopyStatus::Failed, error};
  if (::close(out.release()) != 0) {
    const int late = errno;
    ::unlinkat(dirFd, name, 0);
    return {CopyStatus::Failed, late};
  }
  return {};
}

bool HasUnnamedFiles(const std::string& dir) {
  Fd probe(::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  return probe.get() >= 0;
}

CopyResult CopySymlink(const std::string& source, const std::string& dest, bool replace) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
    if (n < 0) return {CopyStatus::Failed, errno};
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      break;
    }
    target.resize(target.size() * 2);
  }
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0) return {CopyStatus::Failed, errno};

  const std::string dir = ParentOf(dest);
  std::string temp;
  for (int attempt = 0;; ++attempt) {
    temp = TemporaryName(dir);
    if (::symlink(target.c_str(), temp.c_str()) == 0) break;
    if (errno != EEXIST || attempt == 100) return {CopyStatus::Failed, errno};
  }
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::utimensat(AT_FDCWD, temp.c_str(), times, AT_SYMLINK_NOFOLLOW);  // best effort
  const int error = MoveIntoPlace(temp, dest, replace);
  if (error != 0) {
    ::unlink(temp.c_str());
    return {CopyStatus::Failed, error};
  }
  return {};
}

int CreateDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0 ? 0 : errno; }

int ApplyDirectoryAttributes(const std::string& path, uint32_t mode, const struct timespec& accessTime,
                             const struct timespec& writeTime) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  const struct timespec times[2] = {accessTime, writeTime};
  if (::futimens(fd.get(), times) != 0) return errno;
  if (::fchmod(fd.get(), mode & 07777) != 0) return errno;
  return 0;
}

int GrantOwnerAccess(const std::string& path, uint32_t bits) {
  bits &= S_IRWXU;
  Fd fd(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return EPERM;
  if ((st.st_mode & bits) == bits) return 0;
  // The descriptor pins the very entry examined above, so the change cannot
  // be redirected through a link swapped in meanwhile.
  char procPath[64];
  std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd.get());
  if (::chmod(procPath, (st.st_mode | bits) & 07777) == 0) return 0;
  if (errno != ENOENT) return errno;
  // Without /proc: change it by name; it was not a link a moment ago.
  return ::fchmodat(AT_FDCWD, path.c_str(), (st.st_mode | bits) & 07777, 0) == 0 ? 0 : errno;
}

int RemoveEntry(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

int RemoveDirectory(const std::string& path) { return ::rmdir(path.c_str()) == 0 ? 0 : errno; }

TreeRemover::~TreeRemover() { Reset(); }

void TreeRemover::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  dir_.clear();
}

int TreeRemover::Remove(const std::string& dir, const std::string& name, bool directory) {
  if (fd_ < 0 || dir != dir_) {
    Reset();
    fd_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return errno;
    dir_ = dir;
  }
  if (::unlinkat(fd_, name.c_str(), directory ? AT_REMOVEDIR : 0) == 0) return 0;
  const int error = errno;
  // Listed as a file, now a directory, or the other way round.
  const bool otherKind = directory ? error == ENOTDIR : (error == EISDIR || error == EPERM);
  if (otherKind && ::unlinkat(fd_, name.c_str(), directory ? 0 : AT_REMOVEDIR) == 0) return 0;
  return error;
}

}  // namespace vantrel::platform
