// zip_stream.cpp - file, memory and buffered streams.
#include "zip/zip_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vantrel::zip {

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

// ---------------------------------------------------------------- THandleStream

THandleStream::~THandleStream() {
  if (owns_ && fd_ >= 0) ::close(fd_);
}

size_t THandleStream::Read(void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd_, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;  // retry
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t THandleStream::Write(const void* buffer, size_t count) {
  auto* p = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;  // retry
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

int64_t THandleStream::Seek(int64_t offset, int origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t THandleStream::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

// ---------------------------------------------------------------- TMemoryStream

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (pos_ >= data_.size()) return 0;
  size_t n = std::min(count, data_.size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  if (pos_ + count > data_.size()) data_.resize(pos_ + count);
  std::memcpy(data_.data() + pos_, buffer, count);
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
  int64_t base = origin == soBeginning ? 0
                 : origin == soCurrent ? static_cast<int64_t>(pos_)
                                       : static_cast<int64_t>(data_.size());
  int64_t target = base + offset;
  if (target < 0) return -1;
  pos_ = static_cast<size_t>(target);
  return target;
}

// ---------------------------------------------------------------- TS_BufferStream

TS_BufferStream::TS_BufferStream(TStream* underlying, size_t bufferSize, bool flushOnClose,
                                 int64_t position)
    : underlying_(underlying),
      flushOnClose_(flushOnClose),
      buffer_(new uint8_t[std::max<size_t>(bufferSize, 16)]),
      size_(std::max<size_t>(bufferSize, 16)) {
  start_ = position >= 0 ? position : underlying_->Seek(0, soCurrent);
  if (start_ < 0) start_ = 0;
}

TS_BufferStream::~TS_BufferStream() { FlushBuffer(); }

size_t TS_BufferStream::FillBuffer() {
  start_ += static_cast<int64_t>(end_);
  cur_ = end_ = 0;
  end_ = underlying_->Read(buffer_.get(), size_);
  mode_ = end_ ? Mode::Reading : Mode::Idle;
  if (AfterFill) AfterFill(*this);
  return end_;
}

bool TS_BufferStream::FlushBuffer() {
  if (mode_ != Mode::Writing) return true;
  size_t n = cur_ ? underlying_->Write(buffer_.get(), cur_) : 0;
  bool ok = n == cur_;
  if (n) written_ = true;
  start_ += static_cast<int64_t>(n);
  if (!ok) {
    // Keep the unwritten rest so that the logical position stays right.
    std::memmove(buffer_.get(), buffer_.get() + n, cur_ - n);
    cur_ -= n;
    return false;
  }
  cur_ = end_ = 0;
  mode_ = Mode::Idle;
  if (AfterFlush) AfterFlush(*this);
  return true;
}

size_t TS_BufferStream::Read(void* buffer, size_t count) {
  if (mode_ == Mode::Writing && !FlushBuffer()) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (cur_ < end_) {
      size_t n = std::min(count - done, end_ - cur_);
      std::memcpy(out + done, buffer_.get() + cur_, n);
      cur_ += n;
      done += n;
      continue;
    }
    if (count - done >= size_) {
      // A large read bypasses the buffer.
      start_ += static_cast<int64_t>(end_);
      cur_ = end_ = 0;
      mode_ = Mode::Idle;
      size_t n = underlying_->Read(out + done, count - done);
      start_ += static_cast<int64_t>(n);
      done += n;
      break;
    }
    if (FillBuffer() == 0) break;
  }
  return done;
}

size_t TS_BufferStream::Write(const void* buffer, size_t count) {
  if (mode_ == Mode::Reading) {
    // Drop the read-ahead: the underlying stream goes back to the logical position.
    int64_t logical = start_ + static_cast<int64_t>(cur_);
    underlying_->Seek(logical, soBeginning);
    start_ = logical;
    cur_ = end_ = 0;
    mode_ = Mode::Idle;
  }
  auto* in = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (mode_ != Mode::Writing) {
      mode_ = Mode::Writing;
      cur_ = end_ = 0;
    }
    size_t n = std::min(count - done, size_ - cur_);
    std::memcpy(buffer_.get() + cur_, in + done, n);
    cur_ += n;
    done += n;
    if (cur_ == size_ && !FlushBuffer()) {
      // The device took less than the buffer: the bytes it did not take are
      // not counted as written.
      size_t lost = cur_;
      cur_ = 0;
      mode_ = Mode::Idle;
      return done > lost ? done - lost : 0;
    }
  }
  return done;
}

int64_t TS_BufferStream::Seek(int64_t offset, int origin) {
  int64_t logical = start_ + static_cast<int64_t>(cur_);
  int64_t target;
  switch (origin) {
    case soBeginning: target = offset; break;
    case soCurrent: target = logical + offset; break;
    case soEnd: {
      int64_t size = std::max(underlying_->Size(), logical);
      target = size - (offset < 0 ? -offset : offset);
      break;
    }
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Invalid seek origin (%d)", origin);
      throw EStreamError(text);
    }
  }
  if (target < 0) target = 0;
  if (target == logical) return logical;
  if (mode_ == Mode::Reading && target >= start_ &&
      target <= start_ + static_cast<int64_t>(end_)) {
    cur_ = static_cast<size_t>(target - start_);
    return target;
  }
  if (mode_ == Mode::Writing && !FlushBuffer()) throw EStreamError("\nSeek error");
  underlying_->Seek(target, soBeginning);
  start_ = target;
  cur_ = end_ = 0;
  mode_ = Mode::Idle;
  return target;
}

int64_t TS_BufferStream::Size() {
  int64_t logical = start_ + static_cast<int64_t>(cur_);
  return std::max(underlying_->Size(), logical);
}

void TS_BufferStream::Putback(uint8_t b) {
  if (cur_ == 0) throw EStreamError("Putback overflow");
  buffer_[--cur_] = b;
}

// ---------------------------------------------------------------- TLFNFileStream

namespace {

int OpenFlags(int mode) {
  if (mode & fmCreate) return O_RDWR | O_CREAT | O_TRUNC;
  switch (mode & 3) {
    case fmOpenWrite: return O_WRONLY;
    case fmOpenReadWrite: return O_RDWR;
    default: return O_RDONLY;
  }
}

int OpenOrThrow(const std::string& name, int mode) {
  const bool readOnly = OpenFlags(mode) == O_RDONLY;
  // A FIFO would block the open and a device never ends: only regular files
  // are read, and the open itself never waits.
  int fd = ::open(name.c_str(), OpenFlags(mode) | O_CLOEXEC | (readOnly ? O_NONBLOCK : 0), 0666);
  if (fd < 0) {
    throw EFOpenError("Cannot open file \"" + name + "\". " + std::strerror(errno));
  }
  if (readOnly) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      throw EFOpenError("Cannot open file \"" + name + "\". Not a regular file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  return fd;
}

}  // namespace

TLFNFileStream::TLFNFileStream(const std::string& fileName, size_t bufferSize,
                               bool flushOnClose, int openMode)
    : TLFNFileStream(OpenOrThrow(fileName, openMode), bufferSize, flushOnClose,
                     (openMode & (3 | fmCreate)) != 0) {}

TLFNFileStream::TLFNFileStream(int fd, size_t bufferSize, bool flushOnClose, bool forWriting)
    : TOwnedFile{std::make_unique<THandleStream>(fd, true)},
      TS_BufferStream(file_.get(), bufferSize, forWriting && flushOnClose, 0) {}

TLFNFileStream::~TLFNFileStream() { Close(); }

bool TLFNFileStream::Close() {
  if (closed_) return true;
  closed_ = true;
  bool ok = FlushBuffer();
  DropBuffer();
  if (flushOnClose_ && written_) ok = ::fsync(file_->Handle()) == 0 && ok;
  file_.reset();
  return ok;
}

}  // namespace vantrel::zip
