// copyfile.h - the file-system steps of copying, moving and deleting trees:
// examining an entry without following links, copying one regular file or one
// symbolic link safely, creating and removing directories, and granting the
// owner access. Paths are byte strings; nothing here assumes UTF-8.
//
// A copy never overwrites its destination in place: the data goes to a
// temporary file in the destination's directory, which takes the source's
// permission bits and times and is renamed over the destination only when it
// is complete. Whatever goes wrong (a full disk, a cancelled copy), the
// temporary file is removed and the previous destination is left as it was.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::platform {

// What an entry is, seen without following a symbolic link.
enum class EntryKind {
  Missing,    // no such entry
  File,       // a regular file
  Directory,
  Symlink,
  Special,    // FIFO, socket, character or block device
};

struct EntryInfo {
  EntryKind kind = EntryKind::Missing;
  uint64_t size = 0;       // bytes of a regular file, 0 for everything else
  uint32_t mode = 0;       // permission bits (07777)
  uint64_t device = 0;
  uint64_t inode = 0;
  struct timespec accessTime {};
  struct timespec writeTime {};
};

// Examines `path` without following a final symbolic link. Returns false with
// errno set when the entry cannot be examined; `out.kind` is Missing then.
bool LStat(const std::string& path, EntryInfo& out);

// True when both describe the same file system object (same device and inode).
inline bool SameEntry(const EntryInfo& a, const EntryInfo& b) {
  return a.kind != EntryKind::Missing && b.kind != EntryKind::Missing && a.device == b.device &&
         a.inode == b.inode;
}

// The identities (device, inode) of the directory `dir` as the kernel resolves
// it and of every directory above it up to the root, nearest first. Empty when
// `dir` cannot be opened. Used to refuse copying a directory into itself.
struct EntryId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const EntryId&) const = default;
};
std::vector<EntryId> DirectoryChain(const std::string& dir);

// The device (st_dev) of what `path` names, a link followed; for a path that
// does not exist yet, of the deepest directory above it that does (where it
// would be made). Empty for an empty path, or when nothing on the way up can
// be examined.
std::optional<uint64_t> DeviceOf(const std::string& path);

// Lists the entries of the directory `path` ("." and ".." left out) in the
// order the system returns them, each examined without following a link.
// An entry that vanishes meanwhile is left out. Returns 0, or an errno value
// when the directory cannot be read (entries read before an error are kept).
int ListDirectory(const std::string& path,
                  const std::function<void(const char* name, const EntryInfo& info)>& onEntry);

// The outcome of a copy step: Done, Failed with `error` (an errno value), or
// Stopped because the progress hook asked to stop.
enum class CopyStatus { Done, Failed, Stopped };
struct CopyResult {
  CopyStatus status = CopyStatus::Done;
  int error = 0;
};

// Called after each block of a file copy with the bytes copied so far; return
// false to stop the copy. Blocks are sized so that the hook runs at least
// every few tens of milliseconds while the disk keeps up.
using CopyHook = std::function<bool(uint64_t bytesCopied)>;

// A regular file open for copying. Open never follows a final link and
// never waits (a FIFO swapped in is not read); anything but a regular file is
// refused with EINVAL, and `info()` then tells what was found when known.
class SourceFile {
 public:
  SourceFile() = default;
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // Returns 0 or an errno value.
  int Open(const std::string& path);
  // The same for the entry `name` of the directory open as `dirFd` (see
  // DirectoryHandle), which spares looking up the path's directories again.
  int OpenAt(int dirFd, const char* name);
  const EntryInfo& info() const { return info_; }
  int fd() const { return fd_; }

 private:
  int Examine();

  int fd_ = -1;
  EntryInfo info_;
};

// A directory held open, so that the entries of one directory are reached
// without looking up its path once for each of them. With `noFollow` a final
// link is refused (ELOOP): the handle then stands for the very directory
// found there, even if a link is swapped in for it later.
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  ~DirectoryHandle();
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;

  // Returns 0 or an errno value.
  int Open(const std::string& path, bool noFollow);
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// The process's file-creation mask, read without changing it, or
// kUnknownMask when the system does not tell.
inline constexpr uint32_t kUnknownMask = 0xffffffffu;
uint32_t FileCreationMask();

// Gives the complete unnamed file (O_TMPFILE) open as `fd` the name `dest`.
// Replacing, it first takes a hidden name in `dir` (the directory of dest)
// and is renamed over `dest` in one step; otherwise an entry at `dest` makes
// it fail with EEXIST. Returns 0 or an errno value.
int PlaceUnnamed(int fd, const std::string& dir, const std::string& dest, bool replace);

// Copies the open regular file `source` to `dest` through a temporary file
// in the directory of `dest`, using the kernel's in-kernel copy where it can
// and plain reads and writes otherwise. The copy gets the source's permission
// bits (without set-user-id and set-group-id) and its access and
// modification times. With `replace` false the copy never takes the place of
// an entry that appeared at `dest` meanwhile (the result is then Failed with
// EEXIST); with `replace` true it replaces a file or link at `dest`.
//
// A large file is read ahead of the copy by a window of tens of megabytes,
// so that one copy keeps a disk that serves many requests at once busy.
//
// Where the file system allows, the copy is written as an unnamed file that
// gets its name only when complete (a replaced destination through a hidden
// name that is renamed over it at once), so that even a killed process
// leaves nothing half-written behind; only a file system without unnamed
// files gets a hidden temporary file, renamed into place.
// `creationMask` (from FileCreationMask) spares a permission change when the
// mask already gives the right bits.
CopyResult CopyOpenFile(const SourceFile& source, const std::string& dest, bool replace,
                        const CopyHook& hook, uint32_t creationMask = kUnknownMask);

// CopyOpenFile in two halves, so that the data of many small new files can
// be written on other threads while their names are given in order on one:
// CopyToUnnamed writes `source` with its permission bits and times into an
// unnamed file in `dir` and hands back its descriptor in `fd` (EOPNOTSUPP
// when the file system has none; nothing is left behind on any failure);
// NameUnnamedCopy gives it the name `dest` in `dir`, never over an entry
// that is there (EEXIST), and closes it, taking the name back when the close
// reports a late write error. An unnamed file closed unnamed goes away.
CopyResult CopyToUnnamed(const SourceFile& source, const std::string& dir, const CopyHook& hook,
                         uint32_t creationMask, int& fd);
CopyResult NameUnnamedCopy(int fd, const std::string& dir, const std::string& dest);
// The same two halves for a file of the directory open as `dirFd` (a
// DirectoryHandle), named `name` there.
CopyResult CopyToUnnamedAt(const SourceFile& source, int dirFd, const CopyHook& hook,
                           uint32_t creationMask, int& fd);
CopyResult NameUnnamedCopyAt(int fd, int dirFd, const char* name);
// Whether the file system of the directory `dir` keeps unnamed files.
bool HasUnnamedFiles(const std::string& dir);

// Asks the system to start reading the first `bytes` of the file at `path`
// into the page cache, without waiting for it: the copy of a list calls it
// for the next large file while the current one ends, so that the disk has
// no pause between two files. Nothing happens when the file cannot be opened.
void ReadAheadFile(const std::string& path, uint64_t bytes);
// How far CopyOpenFile reads ahead of its copy of a large file.
inline constexpr uint64_t kReadAheadWindow = 64ull << 20;

// Opens `source` and copies it as CopyOpenFile does.
CopyResult CopyRegularFile(const std::string& source, const std::string& dest, bool replace,
                           const CopyHook& hook);

// Creates at `dest` a symbolic link with the same target as the link `source`
// (and its modification time), the same way: a temporary link renamed into place.
CopyResult CopySymlink(const std::string& source, const std::string& dest, bool replace);

// Creates the directory `path` with owner access only, so that it can be
// filled before its final attributes are applied. Returns 0 or an errno value.
int CreateDirectory(const std::string& path);

// Gives the directory `path` (never anything a link points to) the permission
// bits `mode` and the given times. Returns 0 or an errno value.
int ApplyDirectoryAttributes(const std::string& path, uint32_t mode, const struct timespec& accessTime,
                             const struct timespec& writeTime);

// Adds the owner permission bits `bits` (of S_IRWXU) to the directory or file
// at `path` when any is missing. Never follows a link: a link is left alone
// and the result is EPERM. Returns 0 or an errno value.
int GrantOwnerAccess(const std::string& path, uint32_t bits);

// Removes a file, link or special file (never what a link points to).
// Returns 0 or an errno value.
int RemoveEntry(const std::string& path);
// Removes an empty directory. Returns 0 or an errno value.
int RemoveDirectory(const std::string& path);

// Removes entries of a tree one by one, keeping the directory it used last
// open, so that removing the entries of one directory costs one system call
// each. A final link is never followed.
class TreeRemover {
 public:
  TreeRemover() = default;
  ~TreeRemover();
  TreeRemover(const TreeRemover&) = delete;
  TreeRemover& operator=(const TreeRemover&) = delete;

  // Removes the entry `name` of the directory `dir`: an empty directory when
  // `directory`, else a file, link or special file. When the entry has
  // changed its kind since it was listed, the other kind is tried. Returns 0
  // or an errno value (ENOENT when it is gone).
  int Remove(const std::string& dir, const std::string& name, bool directory);
  // Forgets the open directory (after its permissions were changed, say).
  void Reset();

 private:
  std::string dir_;
  int fd_ = -1;
};

}  // namespace vantrel::platform
