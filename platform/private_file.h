// private_file.h - files no other program sees: in memory, or on disk
// without a name, gone when the last descriptor closes.
//
// An archive inside an archive is read through one of these: small ones are
// decoded into memory, large ones into a nameless temporary file. Either can
// be opened again by the path OpenDescriptorPath gives while the descriptor
// is open, so that code that reads files by name reads them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::platform {

// A file in memory (`label` shows in the process's descriptor list); falls
// back to a nameless temporary file. -1 with errno set on failure.
int PrivateMemoryFile(const std::string& label);
// A nameless file in PrivateTempDirectory(). -1 with errno set on failure.
int PrivateTempFile();
// Where the private files on disk go: $TMPDIR, or /tmp.
std::string PrivateTempDirectory();
// A nameless file in the directory `dir` (mode bits `mode`), to be given
// its name by PlaceUnnamed (copyfile.h) once complete. -1 with errno set.
int UnnamedFileIn(const std::string& dir, unsigned mode);
// A path that opens the file the descriptor `fd` has open, while it is open.
std::string OpenDescriptorPath(int fd);

// Data kept aside on disk where no one else sees them: appended piece by
// piece, read back at any offset, gone with the object. The file is made
// at the first append.
class PrivateSpool final {
 public:
  PrivateSpool() = default;
  PrivateSpool(const PrivateSpool&) = delete;
  PrivateSpool& operator=(const PrivateSpool&) = delete;
  ~PrivateSpool();
  // Appends all of `data`: 0, or the error (ENOSPC when the disk is full);
  // a failed append leaves Size() as it was.
  int Append(const void* data, size_t n);
  uint64_t Size() const { return size_; }
  // Reads exactly `n` bytes at `offset` (below Size()): 0 or the error.
  int ReadAt(uint64_t offset, void* buffer, size_t n) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

}  // namespace vantrel::platform
