// archive_input.cpp - libarchive's client callbacks over a file range.
#include "formats/archive_input.h"

#include <archive.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace vantrel::formats {

TArchiveInput::TArchiveInput(int fd, uint64_t start, uint64_t length)
    : fd_(fd), start_(start), length_(length), buffer_(new char[kBlock]) {}

int TArchiveInput::Open(struct archive* a) {
  archive_read_set_callback_data(a, this);
  archive_read_set_read_callback(a, [](struct archive* ar, void* self, const void** buffer) -> la_ssize_t {
    return static_cast<la_ssize_t>(ReadProxy(ar, self, buffer));
  });
  archive_read_set_skip_callback(a, [](struct archive* ar, void* self, la_int64_t request) -> la_int64_t {
    return SkipProxy(ar, self, request);
  });
  archive_read_set_seek_callback(a, [](struct archive* ar, void* self, la_int64_t offset, int whence) -> la_int64_t {
    return SeekProxy(ar, self, offset, whence);
  });
  return archive_read_open1(a);
}

long long TArchiveInput::ReadProxy(struct archive* a, void* self, const void** buffer) {
  return static_cast<TArchiveInput*>(self)->Read(a, buffer);
}

long long TArchiveInput::Read(struct archive* a, const void** buffer) {
  if (progress_ && !progress_(std::min(position_, length_), length_)) {
    stopped_ = true;
    archive_set_error(a, ECANCELED, "stopped");
    return -1;
  }
  if (position_ >= length_) return 0;
  // Right after a skip the next header is all that is wanted.
  const size_t want = static_cast<size_t>(std::min<uint64_t>(skipped_ ? kAfterSkip : kBlock, length_ - position_));
  skipped_ = false;
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer_.get(), want, static_cast<off_t>(start_ + position_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      readError_ = errno;
      archive_set_error(a, errno, "read error");
      return -1;
    }
    *buffer = buffer_.get();
    position_ += static_cast<uint64_t>(n);
    furthest_ = std::max(furthest_, position_);
    return n;
  }
}

long long TArchiveInput::SkipProxy(struct archive*, void* self, long long request) {
  auto* input = static_cast<TArchiveInput*>(self);
  if (request <= 0) return 0;
  const uint64_t room = input->length_ > input->position_ ? input->length_ - input->position_ : 0;
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(request), room);
  input->position_ += n;
  input->skipped_ = n > 0;
  return static_cast<long long>(n);
}

long long TArchiveInput::SeekProxy(struct archive*, void* self, long long offset, int whence) {
  auto* input = static_cast<TArchiveInput*>(self);
  long long base = 0;
  switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<long long>(input->position_); break;
    case SEEK_END: base = static_cast<long long>(input->length_); break;
    default: return ARCHIVE_FATAL;
  }
  const long long target = base + offset;
  if (target < 0) return ARCHIVE_FATAL;
  input->position_ = static_cast<uint64_t>(target);
  input->skipped_ = false;
  return target;
}

}  // namespace vantrel::formats
