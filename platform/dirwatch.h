// dirwatch.h - telling that a directory's contents changed (inotify).
//
// A TDirWatch watches at most one directory at a time: Watch replaces the
// previous watch. The owner polls Descriptor() for readability (the panel's
// event loop does) and calls Drain, which reads every pending event and says
// what happened since the last call.
#pragma once

#include <string>

namespace vantrel::platform {

class TDirWatch {
 public:
  TDirWatch();
  ~TDirWatch();
  TDirWatch(const TDirWatch&) = delete;
  TDirWatch& operator=(const TDirWatch&) = delete;

  // Starts watching `path` (the previous watch ends). False when the
  // directory cannot be watched (no such directory, the system's limit on
  // watches reached); errno says why.
  bool Watch(const std::string& path);
  void Stop();

  // Readable when events are pending; -1 when watching is not available.
  int Descriptor() const { return fd_; }

  struct TChanges {
    bool contents = false;  // an entry appeared, vanished, was renamed or written
    bool gone = false;      // the watched directory itself was deleted or moved away
  };
  // Reads all pending events without blocking.
  TChanges Drain();

 private:
  int fd_ = -1;
  int wd_ = -1;
  int parentWd_ = -1;  // the parent directory, for the watched name going away
  std::string name_;   // the watched directory's name in its parent
};

}  // namespace vantrel::platform
