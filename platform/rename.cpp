// rename.cpp - create and rename without replacing anything.
#include "platform/rename.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/copyfile.h"

namespace vantrel::platform {

int CreateNewFile(const std::string& name) {
  if (name.empty()) return ENOENT;
  const int fd = open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

int MakeDirectory(const std::string& name) {
  if (name.empty()) return ENOENT;
  return mkdir(name.c_str(), 0777) == 0 ? 0 : errno;
}

static int RenameAt2(const std::string& from, const std::string& to, unsigned flags) {
  return syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0 ? 0
                                                                                           : errno;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return ENOENT;
  int err = RenameAt2(from, to, RENAME_NOREPLACE);
  if (err == EINVAL || err == ENOSYS) {
    // File systems without the no-replace flag: check, then link-and-unlink
    // for files (atomic refusal of an existing target), plain rename for the rest.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) return EEXIST;
    if (lstat(from.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) {
      if (link(from.c_str(), to.c_str()) == 0) return unlink(from.c_str()) == 0 ? 0 : errno;
      if (errno == EEXIST) return EEXIST;
    }
    err = rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  }
  if (err != EXDEV) return err;

  // Another volume: only files and links can travel, by copy and then delete.
  EntryInfo info;
  if (!LStat(from, info)) return errno;
  EntryInfo target;
  if (LStat(to, target)) return EEXIST;
  CopyResult r;
  if (info.kind == EntryKind::File) {
    r = CopyRegularFile(from, to, /*replace=*/false, nullptr);
  } else if (info.kind == EntryKind::Symlink) {
    r = CopySymlink(from, to, /*replace=*/false);
  } else {
    return EXDEV;
  }
  if (r.status != CopyStatus::Done) return r.error != 0 ? r.error : EIO;
  return RemoveEntry(from);
}

}  // namespace vantrel::platform
