// fs.h - the file-system services the panels, dialogs and engines need,
// implemented over POSIX. Paths and names are byte strings: nothing here
// assumes they are valid UTF-8.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::platform {

// Attribute bits of a directory entry, as the panels and the ZIP engine know them.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;     // never reported on Linux
inline constexpr uint32_t kAttrSystem = 0x04;     // never reported on Linux
inline constexpr uint32_t kAttrDirectory = 0x10;  // the entry, following a link, is a directory
inline constexpr uint32_t kAttrArchive = 0x20;    // an ordinary file
inline constexpr uint32_t kAttrReparsePoint = 0x400;  // the entry itself is a symbolic link

// 100-nanosecond ticks since 1601-01-01 UTC.
using FileTime = uint64_t;
inline constexpr FileTime kUnixEpochAsFileTime = 116444736000000000ULL;
FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
int64_t UnixSecondsFromFileTime(FileTime t);

// The local broken-down time of a file time, in the system's time zone.
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime ToLocalTime(FileTime t);

// One directory entry as the enumeration reports it.
struct FindData {
  uint32_t attributes = 0;
  FileTime creationTime = 0;    // birth time where recorded, else the modification time
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  uint64_t size = 0;
  std::string name;             // the real bytes of the name
};

// Fills `out` from the entry `name` in the directory open as `dirfd` (or a
// path when dirfd is AT_FDCWD). Returns false with errno set when the entry
// cannot be examined (it vanished, for instance).
bool StatEntry(int dirfd, const char* name, FindData& out);
// The same for a path (absolute, or relative to the current directory).
bool StatPath(const std::string& path, FindData& out);

// Enumerates every entry of `path` ("." and ".." included, when the system
// reports them) in the order the system returns them. Returns false with an
// error text when the directory cannot be opened; an error in the middle ends
// the enumeration with what was read so far.
bool EnumerateDirectory(const std::string& path,
                        const std::function<void(FindData&&)>& onEntry,
                        std::string* error = nullptr);

// A directory open for reading entry by entry, so that a caller can stop,
// report or sort between entries. Open may wait as long as the file system
// does (a network mount that no longer answers): callers that must not wait
// run it on a thread of their own.
class TDirReader {
 public:
  TDirReader();
  ~TDirReader();
  TDirReader(const TDirReader&) = delete;
  TDirReader& operator=(const TDirReader&) = delete;

  // Opens `path`; false with the system's text in `error` when it is no
  // directory or cannot be read.
  bool Open(const std::string& path, std::string* error = nullptr);
  // The directory's own path with every link resolved, as the current
  // directory would report it after entering it; empty when unknown.
  std::string ResolvedPath() const;
  // The next entry ("." and ".." included when the system reports them),
  // examined as EnumerateDirectory does. False at the end, or on an error,
  // whose text then goes to `error`.
  bool Next(FindData& out, std::string* error = nullptr);
  // Up to `most` next names at once into `out` (emptied first), not yet
  // examined: each has only its name, and as attributes what the listing
  // says of it (a directory or not). Examining them is most of the work in
  // a large directory, and Examine may do it on other threads. False at the
  // end with `out` empty, or on an error (its text to `error`) with what
  // was read before it.
  bool NextNames(std::vector<FindData>& out, size_t most, std::string* error = nullptr);
  // Fills in `entry` (one NextNames gave) as Next would; safe on any number
  // of threads while the reader stays open. False when the entry vanished
  // since it was listed; one that cannot be examined keeps what NextNames
  // said of it.
  bool Examine(FindData& entry) const;

 private:
  void* dir_ = nullptr;  // the system's directory stream
  std::string path_;
};

// The process's current directory as the system reports it (no trailing "/"
// except at "/"), or an empty string when it cannot be read.
std::string GetCurrentDir();
// Makes `path` current. Returns false (with errno set) on failure.
bool SetCurrentDir(const std::string& path);

// True when `path` names a directory (a link to one counts).
bool IsDirectory(const std::string& path);

// The deepest directory that exists on the way from `path` up to "/"
// (`path` itself when it still exists).
std::string NearestExistingDirectory(const std::string& path);

// Joins a directory and a name with exactly one "/".
std::string JoinPath(std::string_view dir, std::string_view name);

// Total and free bytes of the volume holding `path`; free counts what an
// ordinary user may still write.
struct VolumeSpace {
  uint64_t total = 0;
  uint64_t free = 0;
};
bool GetVolumeSpace(const std::string& path, VolumeSpace& out);

// A mounted volume a user cares about: "/" and the real, non-pseudo file systems.
struct Volume {
  std::string mountPoint;
  std::string device;
  std::string fsType;
  std::string label;  // the file-system label where one can be found, else empty
};
std::vector<Volume> ListVolumes();
// The mount point of the volume that holds `path` (the longest mount-point prefix).
std::string MountPointOf(const std::string& path, const std::vector<Volume>& volumes);

// Whether `path` (a file or directory; it need not exist yet, its directory
// must) lies on removable media: a mount under /media or /run/media, or a
// block device the kernel marks removable (/sys/dev/block/.../removable).
bool IsRemovableMedia(const std::string& path);

// The system's text for an error number.
std::string ErrorText(int err);

}  // namespace vantrel::platform
