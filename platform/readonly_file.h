// readonly_file.h - a file opened for reading at any offset, for the viewer.
//
// Only regular files are opened: a directory, a FIFO, a socket or a device is
// refused after fstat, and the open itself never waits (O_NONBLOCK), so a
// FIFO without a writer cannot hang the caller. Reads go through pread, so a
// file that shrinks while it is read gives short reads, never a crash (a
// mapping would fault past the new end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::platform {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens `path`. Returns false with a sentence for the user in `error`
  // ("Permission denied", "It is a directory", "It is a FIFO, not a regular
  // file") when it cannot be read. A regular file that reports no size
  // (the kernel's own files under /proc and /sys) is read into memory once,
  // up to `kMaxUnsizedBytes`.
  bool Open(const std::string& path, std::string* error = nullptr);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // The size at opening; reads never go past it.
  uint64_t Size() const { return size_; }

  // Copies up to `count` bytes at `offset` into `buffer` and returns how many
  // were copied: fewer at the end of the file, or when it shrank since it
  // was opened. Safe to call from several threads at once.
  size_t ReadAt(uint64_t offset, void* buffer, size_t count) const;

  static constexpr uint64_t kMaxUnsizedBytes = 64ull << 20;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string memory_;  // the contents of a file that reports no size
  bool inMemory_ = false;
};

}  // namespace vantrel::platform
