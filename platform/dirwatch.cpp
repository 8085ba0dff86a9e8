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
  return wd_ >= 0;
}

void TDirWatch::Stop() {
  if (fd_ >= 0 && wd_ >= 0) inotify_rm_watch(fd_, wd_);
  wd_ = -1;
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
      at += static_cast<ssize_t>(sizeof event + event.len);
      if (event.mask & IN_Q_OVERFLOW) {
        // Events were lost: whatever they said, the listing is stale.
        changes.contents = true;
        continue;
      }
      if (event.wd != wd_ || wd_ < 0) continue;  // a watch replaced meanwhile
      if (event.mask & (kSelfMask | IN_IGNORED)) changes.gone = true;
      if (event.mask & kContentMask) changes.contents = true;
    }
  }
  if (changes.gone) wd_ = -1;  // the system has dropped the watch
  return changes;
}

}  // namespace vantrel::platform
