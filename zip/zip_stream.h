// zip_stream.h - the byte streams the ZIP engine reads and writes through.
//
// TStream is the abstract stream (read, write, seek). THandleStream works on a
// POSIX file descriptor, TMemoryStream on bytes in memory (tests and the fuzz
// target). TS_BufferStream buffers another stream; TLFNFileStream is a
// buffered stream that owns the file it opened. Every archive and every
// output file is accessed through a TLFNFileStream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/zip_errors.h"

namespace vantrel::zip {

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads up to count bytes; fewer only at the end of the data or on an error.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes up to count bytes; fewer means the device refused the rest.
  virtual size_t Write(const void* buffer, size_t count) = 0;
  // Moves the position and returns the new one (origin: TSeekOrigin).
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, soCurrent); }
  // Reads exactly count bytes; false on a short read.
  bool ReadExact(void* buffer, size_t count) { return Read(buffer, count) == count; }
};

// A stream on a file descriptor; closes it on destruction when it owns it.
class THandleStream : public TStream {
 public:
  THandleStream(int fd, bool owns) : fd_(fd), owns_(owns) {}
  ~THandleStream() override;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;
  int Handle() const { return fd_; }

 private:
  int fd_;
  bool owns_;
};

// A growable stream over bytes in memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  const std::string& Bytes() const { return data_; }

 private:
  std::string data_;
  size_t pos_ = 0;
};

// Buffers another stream (not owned). Reading fills the buffer with one read
// of up to its size; writing collects bytes and writes the whole buffer when
// it is full. Seeking within the bytes already read ahead only moves the read
// pointer; any other seek flushes, repositions the underlying stream and
// empties the buffer.
class TS_BufferStream : public TStream {
 public:
  // position: where the underlying stream stands, when the caller knows it
  // (-1: ask the stream).
  TS_BufferStream(TStream* underlying, size_t bufferSize, bool flushOnClose,
                  int64_t position = -1);
  ~TS_BufferStream() override;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  // Raises EStreamError "Invalid seek origin (%d)" for an unknown origin and
  // "\nSeek error" when pending data cannot be written.
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;

  // Steps the read pointer back one byte and stores b there; raises
  // "Putback overflow" at the start of the buffer.
  void Putback(uint8_t b);
  // Writes pending data; false when the underlying stream took fewer bytes.
  bool FlushBuffer();

  void (*AfterFill)(TS_BufferStream&) = nullptr;
  void (*AfterFlush)(TS_BufferStream&) = nullptr;

 protected:
  virtual size_t FillBuffer();
  // Forgets buffered data without writing it.
  void DropBuffer() { cur_ = end_ = 0; mode_ = Mode::Idle; }
  enum class Mode { Idle, Reading, Writing };
  TStream* underlying_;
  bool flushOnClose_;
  bool written_ = false;

 private:
  std::unique_ptr<uint8_t[]> buffer_;
  size_t size_;
  size_t cur_ = 0;      // read or write pointer in the buffer
  size_t end_ = 0;      // end of the data read ahead
  int64_t start_ = 0;   // underlying position of buffer_[0]
  Mode mode_ = Mode::Idle;
};

// File open modes for TLFNFileStream.
enum TFileOpenMode : int {
  fmOpenRead = 0,
  fmOpenWrite = 1,
  fmOpenReadWrite = 2,
  fmCreate = 0x100,  // create or truncate, read/write
};

// A buffered stream on a file it opens and owns. Raises EFOpenError when the
// file cannot be opened.
// Holds the file of a TLFNFileStream so that it exists before the buffer
// that works on it.
struct TOwnedFile {
  std::unique_ptr<THandleStream> file_;
};

class TLFNFileStream : private TOwnedFile, public TS_BufferStream {
 public:
  TLFNFileStream(const std::string& fileName, size_t bufferSize, bool flushOnClose,
                 int openMode);
  // Adopts the descriptor of a file the caller has just created (opened with
  // O_NOFOLLOW, empty, at its start).
  TLFNFileStream(int fd, size_t bufferSize, bool flushOnClose, bool forWriting);
  ~TLFNFileStream() override;

  int Handle() const { return file_ ? file_->Handle() : -1; }
  // Flushes pending data (and the file's buffers when asked to flush on
  // close) and closes the file. False when data could not be written.
  bool Close();

 private:
  bool closed_ = false;
};

// The file of a TLFNFileStream could not be opened.
class EFOpenError : public EZipError {
 public:
  explicit EFOpenError(const std::string& message) : EZipError(message) {}
};

}  // namespace vantrel::zip
