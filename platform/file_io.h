// file_io.h - the file operations of the panel sources (vfs/): the identity
// of an archive file, write access, links, and reading and writing open
// descriptors, each retried where the system is interrupted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::platform {

// What tells that a file changed since it was read: the same name may hold
// another file (device, inode), or the file was written (size, time).
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // modification time in nanoseconds since 1970
  bool operator==(const FileIdentity&) const = default;
};
// The identity of the file `path` names (links followed); false with errno
// when it cannot be examined.
bool GetFileIdentity(const std::string& path, FileIdentity& out);

// 0 when this process may write `path`, else the reason (an errno value).
int WriteAccess(const std::string& path);

// The target of the link `path`, as stored; false with errno.
bool ReadLinkTarget(const std::string& path, std::string& target);
// Makes the link `path` to `target` and gives the link itself the
// modification time `mtime` (seconds; 0 leaves it now): 0 or the error.
int MakeSymlink(const std::string& target, const std::string& path, int64_t mtime = 0);
// Gives the entry `from` the name `to`, replacing a file or link there in
// one step: 0 or the error.
int RenameReplacing(const std::string& from, const std::string& to);
// A new directory `path` with the permission bits `mode`: 0 or the error.
int MakeDirectoryWithMode(const std::string& path, uint32_t mode);
// The number of this process, for names of its own.
int ProcessNumber();

// ------------------------------------------------------------ descriptors

// Writes all of `data` at the descriptor's position: 0, or the error
// (ENOSPC when the file system takes no more); `written` counts what went.
int WriteAll(int fd, const void* data, size_t n, uint64_t* written = nullptr);
// Up to `n` bytes from the descriptor's position: how many, 0 at the end,
// -1 with errno.
int64_t ReadSome(int fd, void* buffer, size_t n);
// Back to the start of the file: 0 or the error.
int Rewind(int fd);
// Permission bits of an open file: 0 or the error.
int SetOpenFileMode(int fd, uint32_t mode);
// Access and modification time (seconds) of an open file: 0 or the error.
int SetOpenFileTime(int fd, int64_t seconds);
void CloseDescriptor(int fd);
// Closes the descriptor on a thread of its own: the last close of a large
// file whose name is gone frees its pages and blocks, which takes time no
// caller needs to wait for. Closed at once when no thread can be had.
void CloseDescriptorLater(int fd);

}  // namespace vantrel::platform
