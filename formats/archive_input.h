// archive_input.h - the bytes libarchive reads: a local file or a range of
// one, with progress by bytes read and a way to stop.
//
// Progress counts the bytes taken from the file, which for a compressed
// stream are the compressed bytes: the one measure of how far a listing has
// come that is known before the end. A range serves the members of a
// Debian package (its data archive is one member of an ar archive) as if
// each were a file of its own.
//
// Skips move the position without reading, and the read after a skip is
// small: listing an uncompressed tar then reads its headers and nothing of
// the members' data, however large they are.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

struct archive;

namespace vantrel::formats {

// Told the bytes read so far of the total; returns false to stop.
using TByteProgress = std::function<bool(uint64_t done, uint64_t total)>;

class TArchiveInput final {
 public:
  // Reads `length` bytes of `fd` from `start` (the descriptor stays the
  // caller's and must outlive the input).
  TArchiveInput(int fd, uint64_t start, uint64_t length);
  TArchiveInput(const TArchiveInput&) = delete;
  TArchiveInput& operator=(const TArchiveInput&) = delete;

  // Where the first read begins, relative to the range (a member of an
  // uncompressed archive read on its own). Before Open.
  void StartAt(uint64_t offset) { position_ = offset; }
  void SetProgress(TByteProgress progress) { progress_ = std::move(progress); }

  // Sets the callbacks of `a` and opens it: archive_read_open1's result.
  int Open(struct archive* a);

  uint64_t Length() const { return length_; }
  // The furthest byte of the range read so far.
  uint64_t Furthest() const { return furthest_; }
  // Whether the progress callback asked to stop (the archive then fails).
  bool Stopped() const { return stopped_; }
  // The errno value of a failed read, 0 when none failed.
  int ReadError() const { return readError_; }

 private:
  static constexpr size_t kBlock = 256 * 1024;
  static constexpr size_t kAfterSkip = 4096;

  static long long ReadProxy(struct archive* a, void* self, const void** buffer);
  static long long SkipProxy(struct archive* a, void* self, long long request);
  static long long SeekProxy(struct archive* a, void* self, long long offset, int whence);
  long long Read(struct archive* a, const void** buffer);

  const int fd_;
  const uint64_t start_;
  const uint64_t length_;
  uint64_t position_ = 0;
  uint64_t furthest_ = 0;
  bool skipped_ = false;
  bool stopped_ = false;
  int readError_ = 0;
  TByteProgress progress_;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace vantrel::formats
