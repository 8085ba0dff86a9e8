// dirwatch.cpp - TDirWatch over inotify.
#include "platform/dirwatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantrel::platform {

namespace {

// Entries appearing, vanishing, renamed, written or changing attributes; and
// the directory itself going away.
constexpr uint32_t kContentMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr uint32_t kSelfMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
// In the parent: the watched directory's name removed or renamed away.
constexpr uint32_t kParentMask = IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;

}  // namespace

TDirWatch::TDirWatch() { fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

TDirWatch::~TDirWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool TDirWatch::Watch(const std::string& path) {
  if (fd_ < 0) {
    errno = ENOSYS;
    return false;
  }
  Stop();
  wd_ = inotify_add_watch(fd_, path.c_str(), kContentMask | kSelfMask | IN_ONLYDIR);
  if (wd_ < 0) return false;
  // A directory that is some process's current directory (the active
  // panel's always is this program's) reports no deletion of itself until
  // that process leaves it; its parent reports the name going away at once.
  // Without a parent watch (the root, an unreadable parent) only the
  // directory's own events count.
  const size_t slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
  if (slash != std::string::npos && path != "/") {
    name_ = path.substr(slash + 1);
    if (!name_.empty() && name_.back() == '/') name_.pop_back();
    const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    parentWd_ = inotify_add_watch(fd_, parent.c_str(), kParentMask | IN_MASK_ADD);
    if (parentWd_ == wd_) parentWd_ = -1;  // the same directory by another name
  }
  return true;
}

void TDirWatch::Stop() {
  if (fd_ >= 0 && wd_ >= 0) inotify_rm_watch(fd_, wd_);
  if (fd_ >= 0 && parentWd_ >= 0) inotify_rm_watch(fd_, parentWd_);
  wd_ = parentWd_ = -1;
}

TDirWatch::TChanges TDirWatch::Drain() {
  TChanges changes;
  if (fd_ < 0) return changes;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;  // EAGAIN: nothing more pending
    for (ssize_t at = 0; at < n;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      const char* name = buffer + at + sizeof event;  // NUL-padded to event.len
      at += static_cast<ssize_t>(sizeof event + event.len);
      if (event.mask & IN_Q_OVERFLOW) {
        // Events were lost: whatever they said, the listing is stale.
        changes.contents = true;
        continue;
      }
      if (wd_ >= 0 && event.wd == parentWd_ && parentWd_ >= 0) {
        if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) && event.len > 0 && name_ == name)
          changes.gone = true;
        continue;
      }
      if (event.wd != wd_ || wd_ < 0) continue;  // a watch replaced meanwhile
      if (event.mask & (kSelfMask | IN_IGNORED)) changes.gone = true;
      if (event.mask & kContentMask) changes.contents = true;
    }
  }
  if (changes.gone) Stop();  // the directory's own watch is of no use any more
  return changes;
}

}  // namespace vantrel::platform
