// file_details.h - what the Properties dialog shows of one entry, changing
// its permissions, and measuring a directory tree.
//
// The entry itself is examined, never what a symbolic link points to, and a
// change of permissions is applied to the entry itself: through a symbolic
// link nothing is ever changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace vantrel::platform {

struct TimeStamp {
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
};

struct FileDetails {
  uint32_t mode = 0;  // type and permission bits, as st_mode
  uint64_t size = 0;
  uint32_t uid = 0, gid = 0;
  std::string owner, group;  // names, or the numbers when the system has none
  TimeStamp modified, accessed, changed, born;
  bool hasBirthTime = false;  // the file system records creation times
  bool isDirectory = false;
  bool isLink = false;
  std::string linkTarget;  // for a link, what it points to (bytes)
  uint64_t device = 0, inode = 0;
};

// Examines `path` itself (a link is not followed). False with the reason.
bool GetFileDetails(const std::string& path, FileDetails& out, std::string* error = nullptr);

// Whether this process may change the permissions of the entry: it owns it,
// or it is the superuser; a symbolic link's own permissions cannot change.
bool CanChangePermissions(const FileDetails& details);

// Sets the permission bits (07777) of `path` itself. Refuses a symbolic link,
// and an entry that is no longer the one examined (`expected`): it was
// replaced in the meantime.
bool SetPermissions(const std::string& path, uint32_t mode, const FileDetails& expected,
                    std::string* error = nullptr);

// "rwxr-x---" for the nine permission bits, with s, S, t, T where the
// set-user-ID, set-group-ID and sticky bits are.
std::string PermissionText(uint32_t mode);

// The totals of a directory tree: its files (links included), the
// directories below it, and their bytes (a file with several hard links in
// the tree counts once). Links are not followed.
struct TreeTotals {
  uint64_t files = 0;
  uint64_t directories = 0;
  uint64_t bytes = 0;
  uint64_t unreadable = 0;  // directories that could not be read
};
// Walks `path`, calling `progress` now and then with the totals so far, until
// done or `stop` is set. Returns the totals.
TreeTotals MeasureTree(const std::string& path, const std::atomic<bool>& stop,
                       const std::function<void(const TreeTotals&)>& progress = {});

// The first `count` bytes of a regular file (for recognising its type), or
// nothing for anything else: a FIFO is never read.
std::string ReadFileHead(const std::string& path, size_t count);

}  // namespace vantrel::platform
