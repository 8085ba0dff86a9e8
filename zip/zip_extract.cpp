// zip_extract.cpp - UnZip: selection, output paths, overwrite rules, password
// check, the one loop that feeds every decoder, CRC check and events.
//
// The decoders see only TDecodeInput and TDecodeOutput. TEntryInput reads the
// entry's compressed bytes from the archive 32768 at a time (crossing to the
// next disk, decrypting, letting pending messages run, honouring
// CancelOperation); TEntryOutput checks the declared size, writes the file,
// keeps the CRC, reports progress and, every 256 KB, honours CancelOperation
// as well.
//
// One damaged entry does not end the run: an entry whose data is longer or
// shorter than declared, runs past the archive's end, overlaps other data or
// uses an unknown method is reported through OnEntryError and left out, and
// the run goes on with the next one. Only what concerns every entry (a full
// disk, a failed write, cancellation) ends the run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/copyfile.h"
#include "platform/fs.h"
#include "zip/block_writer.h"
#include "zip/codec/crc32.h"
#include "zip/codec/decode_io.h"
#include "zip/codec/library_decoders.h"
#include "zip/crypto/winzip_aes.h"
#include "zip/crypto/zipcrypt.h"
#include "zip/zip_mask.h"
#include "zip/zip_outpath.h"
#include "zip/zip_pack_pool.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {

namespace {

// Percent of done in total, rounded to nearest with halves to even, at most
// 100; 0 for a total of 0 or less.
int Percent(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 100;
  // done < total here, so done * 100 cannot overflow for any ZIP size.
  int64_t num = done * 100;
  int64_t q = num / total, r = num % total;
  if (r * 2 > total || (r * 2 == total && (q & 1))) ++q;
  return static_cast<int>(std::min<int64_t>(q, 100));
}

constexpr uint32_t kModeTypeMask = 0170000;
constexpr uint32_t kModeSymlink = 0120000;
// The longest link target restored (the system's own limit on a path).
constexpr uint32_t kMaxLinkTarget = 4095;

// A symbolic link stored by a Unix host: its mode in the upper 16 bits of the
// external attributes, the target as the entry's data.
bool IsStoredSymlink(const TZipHeaderInfo& e) {
  const int host = e.VersionMadeBy >> 8;
  return (host == 3 || host == 19) && ((e.ExternalAttributes >> 16) & kModeTypeMask) == kModeSymlink;
}

// Method 0: the compressed bytes are the data.
TDecodeResult CopyStored(TDecodeInput& in, TDecodeOutput& out) {
  while (in.next != in.end || in.Refill()) {
    out.Write(in.next, static_cast<size_t>(in.end - in.next));
    in.next = in.end;
  }
  return TDecodeResult::Ok;
}

// A fresh hidden name for a temporary entry (only where the file system has
// no unnamed files, and for links, which cannot be unnamed).
std::string HiddenName() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  // Per thread: the workers of a parallel run make names too.
  static std::atomic<unsigned> threads{0};
  thread_local unsigned state =
      (static_cast<unsigned>(::getpid()) + 7919u * threads.fetch_add(1)) * 2654435761u;
  std::string name = ".vantrel-";
  for (int i = 0; i < 10; ++i) {
    state = state * 1103515245u + 12345u;
    name += kChars[(state >> 16) % 36];
  }
  return name;
}

// Gives the unnamed file open as fd the name leaf in the directory dir; false
// with errno set (EEXIST when the name is taken).
bool LinkUnnamed(int fd, int dir, const char* leaf) {
  if (::linkat(fd, "", dir, leaf, AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT) return false;
  // Without the capability AT_EMPTY_PATH needs, the descriptor's entry under
  // /proc serves every process.
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, proc, dir, leaf, AT_SYMLINK_FOLLOW) == 0;
}

// The output file of one entry. It is an unnamed file (O_TMPFILE) in the
// target's directory that gets its name only when it is complete, so a
// process that is killed leaves nothing behind; only where the file system
// has no unnamed files is it a hidden named file, removed on every failure.
class TTempOutput {
 public:
  TTempOutput() = default;
  TTempOutput(const TTempOutput&) = delete;
  TTempOutput& operator=(const TTempOutput&) = delete;
  ~TTempOutput() {
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
  }

  // mode: the permissions asked for (the umask applies).
  bool Create(int dir, mode_t mode) {
    dir_ = dir;
    fd_ = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd_ >= 0) return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = HiddenName();
      fd_ = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
      if (fd_ >= 0) {
        name_ = std::move(name);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  int Fd() const { return fd_; }
  // The directory, through another descriptor of it (the one given to
  // Create may be closed before the file is put in place).
  void UseDirectory(int dir) { dir_ = dir; }

  // Puts the complete file at leaf, replacing what is there (a link at leaf
  // is replaced, never written through). The file must still be open.
  bool Commit(const std::string& leaf) {
    if (!name_.empty()) {
      if (::renameat(dir_, name_.c_str(), dir_, leaf.c_str()) != 0) return false;
      name_.clear();
      return true;
    }
    if (LinkUnnamed(fd_, dir_, leaf.c_str())) return true;
    if (errno != EEXIST) return false;
    // Replacing: the complete file takes a hidden name and is renamed over
    // the old one in one step.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = HiddenName();
      if (LinkUnnamed(fd_, dir_, name.c_str())) {
        if (::renameat(dir_, name.c_str(), dir_, leaf.c_str()) == 0) return true;
        ::unlinkat(dir_, name.c_str(), 0);
        return false;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

 private:
  int dir_ = -1;
  int fd_ = -1;
  std::string name_;  // the fallback's name until it is committed
};

// The permission bits a Unix host stored for the entry, or -1 when there are
// none.
int StoredUnixMode(const TZipHeaderInfo& e) {
  const int host = e.VersionMadeBy >> 8;
  const uint32_t mode = e.ExternalAttributes >> 16;
  return (host == 3 || host == 19) && mode != 0 ? static_cast<int>(mode & 0777) : -1;
}

// Whether the open directory dir has been removed (nothing can be created in
// it any more; the errno that says so differs between file systems).
bool IsRemovedDirectory(int dir) {
  struct stat st;
  return ::fstat(dir, &st) == 0 && st.st_nlink == 0;
}

// Creates a symbolic link to target at leaf in dir, replacing what is there.
bool PlaceSymlink(int dir, const std::string& leaf, const std::string& target) {
  if (::symlinkat(target.c_str(), dir, leaf.c_str()) == 0) return true;
  if (errno != EEXIST) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = HiddenName();
    if (::symlinkat(target.c_str(), dir, name.c_str()) == 0) {
      if (::renameat(dir, name.c_str(), dir, leaf.c_str()) == 0) return true;
      ::unlinkat(dir, name.c_str(), 0);
      return false;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// A link takes the entry's times as a file does: the link's own, never
// those of what it points to.
void StampLink(int dir, const std::string& leaf, const TZipHeaderInfo& e, int64_t accessed) {
  const struct timespec modified = e.ModTime();
  const struct timespec times[2] = {accessed != kNoExactTime ? NsToTimespec(accessed) : modified,
                                    modified};
  ::utimensat(dir, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace

// Methods 12 bzip2, 14 LZMA, 93 Zstandard (and 20, its code before 93 was
// assigned) and 95 XZ go through the system's libraries; 98 is PPMd.
bool IsKnownMethod(uint16_t method) {
  return method <= 6 || method == 8 || method == 9 || method == 12 || method == 14 || method == 20 ||
         method == 93 || method == 95 || method == 98;
}

namespace {

// The method of the entry's data: for an AES entry, the one inside.
uint16_t DataMethod(const TZipHeaderInfo& e) {
  return e.IsAes() ? e.AesMethod : e.CompressionMethod;
}

// What a decoder that could not get its memory says: the established text for
// inflate, the method's own name for the others.
std::string OutOfMemoryText(uint16_t method) {
  if (method == 8) return kTextInflateOutOfMemory;
  const char* name = CompressionMethodName(method);
  return std::string("*** ") + (name ? name : "decoder") + " out of memory ***";
}

// Why the entry cannot be extracted at all; empty when it can.
std::string UnsupportedText(const TZipHeaderInfo& e) {
  if (e.GeneralPurposeFlags & kFlagStrongEncryption)
    return "unsupported encryption (strong encryption, flag bit 6)";
  if (e.CompressionMethod == kMethodAes && !e.IsAes())
    return "unsupported encryption (AES entry without a valid 0x9901 extra field)";
  if (!IsKnownMethod(DataMethod(e))) return UnsupportedMethodText(DataMethod(e));
  return {};
}


// Whether the decoder's verdict lets an entry whose size and CRC came out
// right pass. The decoders of the oldest methods (shrink, reduce, implode)
// stop after the declared size, and one that stumbles on the padding behind
// its last code has lost nothing. A deflate stream, and one decoded by a
// library (or inside AES), must end as its format says: a deflate stream
// that has no final block, or runs on past the declared size, is damaged
// even where the bytes before the damage are all there.
bool DecoderVerdictAccepts(const TZipHeaderInfo& e, TDecodeResult result) {
  if (e.IsAes() || DataMethod(e) >= 8) return result == TDecodeResult::Ok;
  return result != TDecodeResult::OutOfMemory;
}

// What is said about an entry whose decoder found its data damaged.
std::string DamagedDataText(int64_t decoded, uint64_t declared) {
  if (decoded >= 0 && static_cast<uint64_t>(decoded) == declared)
    return "damaged compressed data: all " + std::to_string(declared) +
           " bytes decoded, but the stream does not end there";
  return "damaged compressed data: " + std::to_string(decoded) + " of " + std::to_string(declared) +
         " bytes decoded";
}

// The one place that maps a method code to its decoder; IsKnownMethod lists
// the same codes. problem receives what a decoder says when it refuses the
// stream or runs out of memory.
TDecodeResult DecodeEntryData(const TZipHeaderInfo& e, TDecodeBuffers& buf, TDecodeInput& input,
                              TDecodeOutput& output, uint64_t compressedSize, std::string& problem) {
  const uint16_t flags = e.GeneralPurposeFlags;
  problem.clear();
  switch (DataMethod(e)) {
    case 0: return CopyStored(input, output);
    case 1: return Unshrink(input, output, buf, e.UncompressedSize);
    case 2:
    case 3:
    case 4:
    case 5:
      return Unreduce(input, output, buf, e.CompressionMethod - 1, e.UncompressedSize);
    case 6:
      return Explode(input, output, buf, flags & kFlagExplode8k, flags & kFlagExplodeLiteralTree,
                     compressedSize, e.UncompressedSize);
    case 8: return Inflate(input, output, buf);
    case 9: return Inflate64(input, output);
    case 12: return Bunzip2(input, output, buf);
    case 14:
      return UnLzma(input, output, buf, e.UncompressedSize, flags & kFlagLzmaEndMarker);
    case 20:
    case 93: return UnZstd(input, output, buf, e.UncompressedSize);
    case 95: return UnXz(input, output, buf, e.UncompressedSize);
    case 98: return UnPpmd(input, output, buf, e.UncompressedSize, problem);
  }
  throw EFatalUnzipError(kTextUnknownMethod);
}

// Writes out what the stream still holds and gives the file the entry's date
// and, with `retain`, its permissions.
// `accessed`: the local header's access time, or kNoExactTime (the file
// then gets its modification time as access time).
void FinishFile(TLFNFileStream& file, const TZipHeaderInfo& e, bool flush, bool retain,
                uint32_t umask, int64_t accessed = kNoExactTime) {
  if (!file.FlushBuffer()) throw ECantWriteUCF(kTextCantWrite);
  const int fd = file.Handle();
  if (flush && ::fdatasync(fd) != 0 && errno != EINVAL) throw ECantWriteUCF(kTextCantWrite);
  const struct timespec modified = e.ModTime();
  const struct timespec times[2] = {accessed != kNoExactTime ? NsToTimespec(accessed) : modified,
                                    modified};
  ::futimens(fd, times);
  if (retain) {
    const int mode = StoredUnixMode(e);
    struct stat st;
    if (mode >= 0) {
      // Made with these bits (see ExtractEntry): only what the umask took
      // needs putting back.
      if (static_cast<uint32_t>(mode) & umask) ::fchmod(fd, static_cast<mode_t>(mode));
    } else if ((e.ExternalAttributes & 0x01) && ::fstat(fd, &st) == 0)
      ::fchmod(fd, st.st_mode & 0777 & ~0222);
  }
}

}  // namespace

namespace {

// A thread that computes the CRC of a large entry and writes its file while
// the decoder goes on (when the run may use more than one thread).
std::unique_ptr<TBlockWriter> BesideWriter(TLFNFileStream& file) {
  return std::make_unique<TBlockWriter>([&file](const uint8_t* data, size_t n) {
    if (file.Write(data, n) != n) throw ECantWriteUCF(kTextCantWrite);
  });
}

}  // namespace

// ------------------------------------------------------------ decoder input

class TEntryInput final : public TDecodeInput {
 public:
  TEntryInput(TZipReader& r, uint64_t remaining, TZipCrypt* crypt, TAesCipher* aes)
      : r_(r), remaining_(remaining), crypt_(crypt), aes_(aes) {}

  bool Refill() override {
    if (remaining_ == 0) return false;
    r_.ProcessMessagesAndCheckCancel();
    size_t n = static_cast<size_t>(std::min<uint64_t>(kBlockSize, remaining_));
    remaining_ -= n;
    uint8_t* buf = r_.buffers_->input;
    r_.ReadArchive(buf, n);
    if (crypt_) crypt_->Decrypt(buf, n);
    if (aes_) aes_->Decrypt(buf, n);
    next = buf;
    end = buf + n;
    return true;
  }

 private:
  TZipReader& r_;
  uint64_t remaining_;
  TZipCrypt* crypt_;
  TAesCipher* aes_;
};

// ------------------------------------------------------------ decoder output

class TEntryOutput final : public TDecodeOutput {
 public:
  // file: the output file (none when testing); memory: collects the data
  // instead (a link's target).
  TEntryOutput(TZipReader& r, TLFNFileStream* file, std::string* memory,
               const TZipReader::TEntrySink* sink = nullptr)
      : r_(r), file_(file), memory_(memory), sink_(sink) {}

  // Hands the CRC and the writing of the file to a thread of their own.
  void WriteBeside() { beside_ = BesideWriter(*file_); }

  void Write(const uint8_t* data, size_t n) override {
    if (n == 0) return;
    if (static_cast<uint64_t>(r_.entryDone_) + n > r_.work_.UncompressedSize)
      throw EBiggerThanUncompressed(kTextBiggerThanUncompressed);
    // A few kilobytes of input can stand for gigabytes of output: the output,
    // too, lets pending messages run and honours cancellation.
    if ((sinceCheck_ += n) >= kOutputPerCheck) {
      sinceCheck_ = 0;
      r_.ProcessMessagesAndCheckCancel();
    }
    if (beside_) {
      beside_->Put(data, n);
    } else {
      if (file_ && file_->Write(data, n) != n) throw ECantWriteUCF(kTextCantWrite);
      if (memory_) memory_->append(reinterpret_cast<const char*>(data), n);
      if (sink_ && !(*sink_)(data, n)) throw EUserCanceled(kTextUserAborted);
      crc_ = Crc32Update(crc_, data, n);
    }
    r_.ReportProgress(n);
  }

  // Waits for the writer thread, if there is one; throws its failure.
  void Finish() {
    if (beside_) crc_ = ~beside_->Finish();
    beside_.reset();
  }
  uint32_t Crc() const { return ~crc_; }

 private:
  TZipReader& r_;
  TLFNFileStream* file_;
  std::string* memory_;
  const TZipReader::TEntrySink* sink_;
  std::unique_ptr<TBlockWriter> beside_;
  uint32_t crc_ = 0xFFFFFFFF;
  static constexpr size_t kOutputPerCheck = 8 * kBlockSize;
  size_t sinceCheck_ = 0;  // output bytes since the last check
};


// ------------------------------------------------------------ the pool

// One entry handed to a worker: everything about where it goes was settled
// on the caller's thread (its directory is open, any question asked); the
// worker makes the unnamed file in that directory, decodes into it, gives it
// its date and, when size, CRC and decoder agree, its name. The caller's
// thread only reports, in the archive's order.
struct TExtractJob {
  int index = 0;
  TZipHeaderInfo entry;
  int64_t dataStart = 0;
  // The local header's access time (kNoExactTime: none), as for an entry
  // decoded on the caller's thread.
  int64_t accessed = kNoExactTime;
  std::string fname;     // the output name, for the events
  std::string computed;  // the name before any handler changed it
  std::string leaf;      // its last component, in dir
  std::vector<std::string> dirs;  // the directory below the destination
  mode_t mode = 0666;    // the permissions the file is made with
  TFd dir;               // the directory the file goes in (a copy of the descriptor)
  std::unique_ptr<TLFNFileStream> file;
  std::unique_ptr<TTempOutput> temp;

  std::atomic<int64_t> done{0};  // bytes decoded so far
  // Set by the worker before `finished`.
  bool created = false;  // false: the file could not be made in dir
  bool good = false;     // size, CRC and the decoder's verdict agree
  bool placed = false;   // good, and under its name
  TDecodeResult result = TDecodeResult::Ok;
  uint32_t crc = 0;
  std::string problem;
  std::exception_ptr failure;
  bool finished = false;  // under the pool's mutex
  uint64_t sequence = 0;  // the order it was handed in
};

namespace {

// Thrown inside a worker when the pool stops.
struct TExtractStopped {};

// The entry's compressed bytes, read at their offset (the archive's read
// position belongs to the caller's thread).
class TPreadInput final : public TDecodeInput {
 public:
  TPreadInput(int fd, int64_t at, uint64_t remaining, uint8_t* buf, const std::atomic<bool>& stop)
      : fd_(fd), at_(at), remaining_(remaining), buf_(buf), stop_(stop) {}
  bool Refill() override {
    if (stop_.load(std::memory_order_relaxed)) throw TExtractStopped{};
    if (remaining_ == 0) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kBlockSize, remaining_));
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::pread(fd_, buf_ + got, n - got, at_ + static_cast<int64_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) throw EFatalUnzipError(kTextPrematureEnd);
      got += static_cast<size_t>(r);
    }
    at_ += static_cast<int64_t>(n);
    remaining_ -= n;
    next = buf_;
    end = buf_ + n;
    return true;
  }

 private:
  int fd_;
  int64_t at_;
  uint64_t remaining_;
  uint8_t* buf_;
  const std::atomic<bool>& stop_;
};

// A worker's output: the declared size holds, the CRC and the count go along.
class TPooledOutput final : public TDecodeOutput {
 public:
  explicit TPooledOutput(TExtractJob& job) : job_(job) {
    if (job.entry.UncompressedSize >= TBlockWriter::kThreshold) beside_ = BesideWriter(*job.file);
  }
  void Write(const uint8_t* data, size_t n) override {
    if (n == 0) return;
    if (static_cast<uint64_t>(done_) + n > job_.entry.UncompressedSize)
      throw EBiggerThanUncompressed(kTextBiggerThanUncompressed);
    if (beside_) {
      beside_->Put(data, n);
    } else {
      if (job_.file->Write(data, n) != n) throw ECantWriteUCF(kTextCantWrite);
      crc_ = Crc32Update(crc_, data, n);
    }
    done_ += static_cast<int64_t>(n);
    job_.done.store(done_, std::memory_order_relaxed);
  }
  // Waits for the writer thread, if there is one; throws its failure.
  void Finish() {
    if (beside_) crc_ = ~beside_->Finish();
    beside_.reset();
  }
  uint32_t Crc() const { return ~crc_; }

 private:
  TExtractJob& job_;
  std::unique_ptr<TBlockWriter> beside_;
  uint32_t crc_ = 0xFFFFFFFF;
  int64_t done_ = 0;
};

}  // namespace

// Worker threads that decode entries in the order they are handed in.
class TExtractPool {
 public:
  struct TSettings {
    int archiveFd = -1;
    bool flush = false;
    bool retain = true;
    uint32_t umask = 0;
    size_t bufferSize = 0;  // of each output file's stream
  };
  // threads: the threads that decode, the caller's among them (it decodes
  // entries too while it waits for the workers, see TakeForCaller), so that
  // N threads keep N processors busy and the caller never waits for a
  // processor a worker holds.
  TExtractPool(int threads, TSettings settings) : settings_(settings) {
    // Far enough ahead that the caller's thread, which prepares entries
    // faster than the workers make files, meets the workers in batches (see
    // SubmitPooledEntry) and not at every entry. A job holds no data, only a
    // directory descriptor.
    window_ = 16 * static_cast<size_t>(std::max(threads, 2));
    for (int i = 1; i < std::max(threads, 2); ++i) workers_.emplace_back([this] { Work(); });
  }
  ~TExtractPool() {
    stopFlag_ = true;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    workAvailable_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  // The jobs handed in and not yet taken back, oldest first (caller's thread).
  std::deque<std::shared_ptr<TExtractJob>> pending;
  size_t Window() const { return window_; }

  void Submit(std::shared_ptr<TExtractJob> job) {
    job->sequence = submitted_++;
    pending.push_back(job);
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(job));
      wake = idle_ > 0;
    }
    // A busy worker takes the job when it comes back for the next.
    if (wake) workAvailable_.notify_one();
  }

  // The next job no worker has taken, for the caller's thread to run itself
  // (RunForCaller), when it is small enough to take the caller away from its
  // reports and a cancel only briefly; null otherwise.
  std::shared_ptr<TExtractJob> TakeForCaller() {
    std::lock_guard lock(mutex_);
    if (queue_.empty() || queue_.front()->entry.UncompressedSize > kMostForCaller) return nullptr;
    std::shared_ptr<TExtractJob> job = std::move(queue_.front());
    queue_.pop_front();
    return job;
  }
  void RunForCaller(TExtractJob& job, TDecodeBuffers& buffers) {
    Run(job, buffers);
    std::lock_guard lock(mutex_);
    job.finished = true;
  }
  bool Finished(const TExtractJob& job) {
    std::lock_guard lock(mutex_);
    return job.finished;
  }

  // Waits up to kEventInterval for the first `count` pending jobs to be finished, so
  // that the caller can wake once for a batch of entries, not for each one
  // (every wake takes a processor from a worker); true when the first one is
  // finished.
  bool WaitFor(size_t count) {
    count = std::clamp<size_t>(count, 1, pending.size());
    std::unique_lock lock(mutex_);
    size_t unfinished = 0;
    for (size_t i = 0; i < count; ++i) unfinished += pending[i]->finished ? 0 : 1;
    if (unfinished > 0) {
      waitUntil_ = pending[count - 1]->sequence;
      awaited_ = unfinished;
      jobDone_.wait_for(lock, kEventInterval, [&] { return awaited_ == 0; });
      awaited_ = 0;
    }
    return pending.front()->finished;
  }

 private:
  void Work() {
    auto buffers = std::make_unique<TDecodeBuffers>();
    for (;;) {
      std::shared_ptr<TExtractJob> job;
      {
        std::unique_lock lock(mutex_);
        ++idle_;
        workAvailable_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        --idle_;
        if (stop_) return;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      Run(*job, *buffers);
      bool wake = false;
      {
        std::lock_guard lock(mutex_);
        job->finished = true;
        wake = awaited_ > 0 && job->sequence <= waitUntil_ && --awaited_ == 0;
      }
      if (wake) jobDone_.notify_all();
    }
  }

 public:
  // Makes the job's file (unless the caller made it), decodes into it and
  // puts it in place when it is good; on a worker, or on the caller's thread
  // for an entry whose file the worker could not make.
  void Run(TExtractJob& job, TDecodeBuffers& buffers) {
    try {
      if (!job.temp) {
        job.temp = std::make_unique<TTempOutput>();
        if (!job.temp->Create(job.dir.Get(), job.mode)) {
          job.temp.reset();
          return;  // the caller's thread decides (a directory removed meanwhile)
        }
      }
      job.created = true;
      job.file = std::make_unique<TLFNFileStream>(job.temp->Fd(), settings_.bufferSize,
                                                  settings_.flush, true);
      TPreadInput input(settings_.archiveFd, job.dataStart, job.entry.CompressedSize,
                        buffers.input, stopFlag_);
      TPooledOutput output(job);
      job.result = DecodeEntryData(job.entry, buffers, input, output, job.entry.CompressedSize,
                                   job.problem);
      output.Finish();
      FinishFile(*job.file, job.entry, settings_.flush, settings_.retain, settings_.umask,
                 job.accessed);
      job.crc = output.Crc();
      // The same rules as for an entry decoded on the caller's thread.
      job.good = job.crc == job.entry.CRC32 &&
                 static_cast<uint64_t>(job.done.load(std::memory_order_relaxed)) ==
                     job.entry.UncompressedSize &&
                 DecoderVerdictAccepts(job.entry, job.result);
      if (job.good) {
        job.placed = job.temp->Commit(job.leaf);
        job.file->Close();
      }
    } catch (const TExtractStopped&) {
    } catch (...) {
      job.failure = std::current_exception();
    }
    // Closing here, not on the caller's thread: an unnamed file that was not
    // placed goes away with its descriptor.
    job.file.reset();
    job.temp.reset();
  }

 private:
  // The largest entry the caller's thread decodes itself: some milliseconds
  // with the slowest method.
  static constexpr uint64_t kMostForCaller = 1 << 20;
  TSettings settings_;
  size_t window_ = 4;
  std::mutex mutex_;
  std::condition_variable workAvailable_, jobDone_;
  std::deque<std::shared_ptr<TExtractJob>> queue_;
  int idle_ = 0;  // workers waiting for a job
  // The caller's thread waits in WaitFor for `awaited_` more jobs, those up
  // to the one numbered waitUntil_ (0: it does not wait).
  size_t awaited_ = 0;
  uint64_t waitUntil_ = 0;
  uint64_t submitted_ = 0;  // jobs handed in (caller's thread)
  bool stop_ = false;
  std::atomic<bool> stopFlag_{false};
  std::vector<std::thread> workers_;

 public:
  // Stops the workers at their next block (cancellation, a failed run).
  void Stop() { stopFlag_ = true; }
};

void TExtractPoolDeleter::operator()(TExtractPool* pool) const {
  if (pool) pool->Stop();
  delete pool;
}

// ------------------------------------------------------------ run

int TZipReader::UnZip() {
  CancelOperation = false;
  int result = 0;
  try {
    OpenIfNeeded();
    result = RunUnZip();
  } catch (...) {
    CancelOperation = false;
    CloseIfAllowed();
    throw;
  }
  CloseIfAllowed();
  CancelOperation = false;
  return result;
}

int TZipReader::SelectEntries() {
  totalBytes_ = 0;
  bytesDone_ = 0;
  int numFiles = Count();
  for (int i = 0; i < Count(); ++i) {
    TZipHeaderInfo& e = *view_->Entry(i);
    bool isDir = e.Filename().empty();
    e.Selected = DoAll;
    if (isDir && !RecreateDirs) {
      e.Selected = 0;
    } else {
      std::string path = e.Path();
      for (const std::string& mask : filesList_) {
        if (MatchMask(mask, path)) {
          e.Selected = 1;
          break;
        }
      }
    }
    if (!e.Selected || isDir)
      --numFiles;
    else
      totalBytes_ += e.UncompressedSize;
  }
  return numFiles;
}

void TZipReader::CheckFreeSpace() {
  if (TestOnly || totalBytes_ <= 0) return;
  platform::VolumeSpace space;
  if (!platform::GetVolumeSpace(destDir_.empty() ? "." : destDir_, space)) return;
  if (static_cast<uint64_t>(totalBytes_) <= space.free) return;
  const std::string need = std::to_string(totalBytes_) + " bytes";
  const std::string have = std::to_string(space.free) + " bytes";
  if (!ui_->AskYesNo("The entries to extract need " + need + ", but the destination has only " +
                         have + " free. Extract anyway?",
                     "Not enough room"))
    throw ENotEnoughRoom("Not enough room to extract: " + need + " needed, " + have + " free");
}

int TZipReader::RunUnZip() {
  const bool keepOpen = KeepZipOpen;
  KeepZipOpen = true;
  bool viewSwitched = false;
  runCount_ = 0;

  TDirectoryChain outDirs;
  missingVolumes_.clear();
  dirStamps_.clear();
  auto finish = [&]() {
    extractPool_.reset();
    buffers_.reset();
    StampDirectories();
    outDirs_ = nullptr;
    filesList_.clear();
    if (viewSwitched) BuildView();
    if (OnUnZipComplete) OnUnZipComplete(this, runCount_);
    KeepZipOpen = keepOpen;
  };

  try {
    buffers_ = std::make_unique<TDecodeBuffers>();
    if (!destDir_.empty() && !TestOnly) MakeDirectories(destDir_);
    outDirs.Reset(destDir_);
    outDirs_ = &outDirs;
    runUmask_ = platform::FileCreationMask();
    const int threads = Threads <= 0 ? AvailableProcessors() : Threads;
    if (threads > 1 && !TestOnly && numberOfDisks_ <= 1 && endRecord_.ThisDisk == 0 &&
        multiMode_ == TMultiMode::mmNone)
      extractPool_.reset(new TExtractPool(
          threads, {archive_->Handle(), FlushFilesOnClose, RetainAttributes, runUmask_,
                    StreamBufferSize}));

    // Disks are visited in order: a multi-disk archive runs in physical order.
    if (endRecord_.ThisDisk > 0 && SortMode != TZipSortMode::ByNone && dirList_) {
      view_ = dirList_.get();
      viewSwitched = true;
    }

    runOverwrite_ = TRunOverwrite::Ask;
    int numFiles = SelectEntries();
    bool stopNow = false;
    CheckFreeSpace();
    if (OnStartUnZipInfo) OnStartUnZipInfo(this, numFiles, totalBytes_, stopNow);
    // Directory entries alone (an archive of empty directories) are work too,
    // though NumFiles does not count them.
    bool anySelected = numFiles > 0;
    for (int i = 0; !anySelected && i < Count(); ++i) anySelected = view_->Entry(i)->Selected;
    if (anySelected && !stopNow) {
      // Cancel at the overwrite question ends the run quietly, after the
      // entry it was asked for.
      for (int i = 0; i < Count() && runOverwrite_ != TRunOverwrite::Cancelled; ++i) {
        if (!DoAll && !view_->Entry(i)->Selected) continue;
        do {
          ExtractEntryReportingDamage(i);
        } while (retry_);
      }
      FinishPooledEntries(0);
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return runCount_;
}

void TZipReader::ExtractEntryReportingDamage(int index) {
  ReportingDamage(index, [&] { ExtractEntry(index); });
}

void TZipReader::ReportingDamage(int index, const std::function<void()>& body) {
  try {
    body();
  } catch (const EBiggerThanUncompressed&) {
    retry_ = false;
    EntryFailed(index, "size mismatch: more than " + std::to_string(work_.UncompressedSize) +
                           " bytes, " + std::to_string(work_.UncompressedSize) + " declared");
  } catch (const EFatalUnzipError& e) {
    retry_ = false;
    EntryFailed(index, e.what());
  } catch (const EVolumeMissing& e) {
    // Entries wholly on the volumes that are there still come out.
    retry_ = false;
    const std::string name = e.File().substr(e.File().rfind('/') + 1);
    if (std::find(missingVolumes_.begin(), missingVolumes_.end(), name) == missingVolumes_.end())
      missingVolumes_.push_back(name);
    EntryFailed(index, e.Needs());
  }
}

// Where one entry goes: the directory below DestDir, the file's name in it,
// and the open directory the file is created in.
struct TZipReader::TEntryTarget {
  std::string root;               // DestDir
  std::vector<std::string> dirs;  // the stored directory made safe, less RootDir
  std::string leaf;               // the stored name made safe
  std::string fname;              // the full output name (a handler may change it)
  std::string computed;           // the name before any handler changed it
  int dirFd = -1;                 // the directory the file goes in
  TFd ownDir;                     // dirFd when a handler chose another directory
  std::string fileLeaf;           // fname's last component
  bool nothingThere = false;      // the run made dirFd and nothing named fileLeaf yet
};

bool TZipReader::PoolCandidate(const TZipHeaderInfo& e) const {
  return extractPool_ && !e.Filename().empty() && !e.IsEncrypted() && !IsStoredSymlink(e) &&
         !e.DataOverlaps && UnsupportedText(e).empty();
}

void TZipReader::FinishPooledEntries(size_t keep, bool batched) {
  auto lastCheck = std::chrono::steady_clock::now();
  while (extractPool_ && extractPool_->pending.size() > keep) {
    TExtractPool& pool = *extractPool_;
    // Rather than wait for the first entry, this thread decodes the next
    // one no worker has taken yet, still seeing events and a cancel at
    // least every kEventInterval.
    const bool ready = pool.Finished(*pool.pending.front());
    if (!ready)
      if (const std::shared_ptr<TExtractJob> job = pool.TakeForCaller()) {
        pool.RunForCaller(*job, *buffers_);
        const auto now = std::chrono::steady_clock::now();
        if (now - lastCheck >= kEventInterval) {
          ProcessMessagesAndCheckCancel();
          lastCheck = now;
        }
        continue;
      }
    FinishPooledEntry(batched && !ready ? pool.pending.size() - keep : 1);
    lastCheck = std::chrono::steady_clock::now();
  }
}

void TZipReader::FinishPooledEntry(size_t batch) {
  TExtractPool& pool = *extractPool_;
  const std::shared_ptr<TExtractJob> job = pool.pending.front();
  // The entry being prepared (if any) is put back afterwards.
  TZipHeaderInfo saved;
  saved.Assign(work_);
  const int64_t savedDone = entryDone_;
  const bool savedRetry = retry_;
  auto restore = [&] {
    work_.Assign(saved);
    entryDone_ = savedDone;
    retry_ = savedRetry;
  };
  try {
    work_.Assign(job->entry);
    entryDone_ = 0;
    for (;;) {
      const bool finished = pool.WaitFor(batch);
      const int64_t done = job->done.load(std::memory_order_relaxed);
      if (done > entryDone_) ReportProgress(static_cast<size_t>(done - entryDone_));
      ProcessMessagesAndCheckCancel();
      if (finished) break;
    }
    pool.pending.pop_front();
    ReportingDamage(job->index, [&] { PlacePooledEntry(*job); });
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

bool TZipReader::SubmitPooledEntry(int index, const TEntryTarget& target, int64_t dataStart,
                                   uint32_t mode) {
  auto job = std::make_shared<TExtractJob>();
  job->dir = TFd(::fcntl(target.dirFd, F_DUPFD_CLOEXEC, 0));
  if (!job->dir.Valid()) return false;
  job->index = index;
  job->entry.Assign(work_);
  job->dataStart = dataStart;
  job->accessed = workAccessed_;
  job->fname = target.fname;
  job->computed = target.computed;
  job->leaf = target.fileLeaf;
  job->dirs = target.dirs;
  job->mode = static_cast<mode_t>(mode);
  extractPool_->Submit(std::move(job));
  // Once the window is full, half of it is reported in one go, and waited
  // for in batches. Elsewhere (the end of the run, an entry that must come
  // after those before it) each entry is reported once it is done.
  if (extractPool_->pending.size() > extractPool_->Window())
    FinishPooledEntries(extractPool_->Window() / 2, true);
  return true;
}

void TZipReader::PlacePooledEntry(TExtractJob& job) {
  if (!job.created && !MakePooledFileHere(job)) return;
  if (job.failure) std::rethrow_exception(job.failure);
  if (job.result == TDecodeResult::OutOfMemory)
    ui_->ShowMessage(job.problem.empty() ? OutOfMemoryText(DataMethod(work_)) : job.problem, "Error");
  if (job.good) {
    if (!job.placed) {
      bool retry = false;
      if (OnSkippingFile) OnSkippingFile(this, skipCannotCreate, job.fname, job.index, retry);
      return;
    }
    if (OnEndUnZip) OnEndUnZip(this, job.index, job.fname);
    ++runCount_;
    return;
  }
  decodeProblem_ = job.problem;
  ReportBadEntry(job.index, job.result, job.crc, true);
}

bool TZipReader::MakePooledFileHere(TExtractJob& job) {
  // The directory kept open since an earlier entry may have been removed
  // meanwhile: its path is walked (and made) again, and what is there now
  // decides, as for an entry decoded on this thread, which then decodes it.
  TEntryTarget target;
  target.root = destDir_;
  target.dirs = job.dirs;
  target.leaf = job.leaf;
  target.fname = job.fname;
  target.computed = job.computed;
  auto temp = std::make_unique<TTempOutput>();
  bool created = false;
  if (job.fname == job.computed && IsRemovedDirectory(job.dir.Get())) {
    outDirs_->Reset(destDir_);
    if (OpenTarget(target)) {
      if (!MayOverwrite(job.index, target)) return false;
      job.dir = TFd(::fcntl(target.dirFd, F_DUPFD_CLOEXEC, 0));
      created = job.dir.Valid() && temp->Create(job.dir.Get(), job.mode);
    }
  }
  if (!created) {
    bool retry = false;
    if (OnSkippingFile) OnSkippingFile(this, skipCannotCreate, job.fname, job.index, retry);
    SkipBookkeeping(work_);
    return false;
  }
  job.temp = std::move(temp);
  extractPool_->Run(job, *buffers_);
  const int64_t done = job.done.load(std::memory_order_relaxed);
  if (done > entryDone_) ReportProgress(static_cast<size_t>(done - entryDone_));
  return true;
}

void TZipReader::EntryFailed(int index, const std::string& message) {
  if (OnEntryError) OnEntryError(this, index, message);
  SkipBookkeeping(work_);
}

void TZipReader::SkipBookkeeping(const TZipHeaderInfo& entry) {
  totalBytes_ -= entry.UncompressedSize;
}

void TZipReader::ReportProgress(size_t n) {
  entryDone_ += static_cast<int64_t>(n);
  bytesDone_ += static_cast<int64_t>(n);
  if (OnFilePercentDone) OnFilePercentDone(this, Percent(entryDone_, work_.UncompressedSize));
  if (OnTotalPercentDone) OnTotalPercentDone(this, Percent(bytesDone_, totalBytes_));
}

void TZipReader::ReadArchive(uint8_t* dst, size_t n) {
  size_t got = archive_->Read(dst, n);
  while (got < n) {
    // A single-disk archive, or the last disk of a set, simply ended.
    if (endRecord_.ThisDisk == 0 || !OnGetNextDisk || currentDisk_ + 1 >= numberOfDisks_)
      throw EFatalUnzipError(kTextPrematureEnd);
    LoadDisk(currentDisk_ + 2);
    got += archive_->Read(dst + got, n - got);
  }
}

// ------------------------------------------------------------ one entry

void TZipReader::ExtractEntry(int index) {
  retry_ = false;
  {
    // What the workers have is finished before an entry the caller's thread
    // decodes or reports (a directory entry only makes a directory).
    const TZipHeaderInfo& e = *view_->Entry(index);
    if (extractPool_ && !PoolCandidate(e) && !e.Filename().empty()) FinishPooledEntries(0);
  }
  work_.Assign(*view_->Entry(index));
  auto skipping = [&](TSkipReason reason, const std::string& name, bool bookkeeping) {
    FinishPooledEntries(0);  // reports come in the archive's order
    bool retry = false;
    if (OnSkippingFile) OnSkippingFile(this, reason, name, index, retry);
    if (bookkeeping) SkipBookkeeping(work_);
  };

  TEntryTarget target;
  target.root = destDir_;
  if (RecreateDirs && !work_.Directory().empty()) {
    std::string d(work_.Directory());
    if (!rootDir_.empty() && d.size() >= rootDir_.size() &&
        CompareTextAscii(d.substr(0, rootDir_.size()), rootDir_) == 0)
      d.erase(0, rootDir_.size());
    target.dirs = SafeComponents(d);
  }
  // A test creates nothing: an entry whose name gives no file is still
  // decoded and checked.
  const bool nameless = work_.Path().empty();
  if (nameless && !TestOnly) {
    EntryFailed(index, "entry without a name");
    return;
  }
  if (!nameless && work_.Filename().empty()) {
    ExtractDirectoryEntry(index, target);
    return;
  }
  if (work_.DataOverlaps) {
    EntryFailed(index, "its data overlaps another entry or the archive directory; refused");
    return;
  }
  const int64_t dataStart = SeekEntryData();

  target.leaf = SafeComponent(work_.Filename());
  target.fname = JoinDirectory(target.root, target.dirs) + target.leaf;
  if (target.leaf.empty() && !TestOnly) {
    skipping(skipCannotCreate, target.fname, true);
    return;
  }
  target.computed = target.fname;
  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(this, index, target.fname, skip);
  if (skip) return;
  // An earlier entry of the same name is put in place first, so that this
  // one meets it (and its overwrite question) as it would one at a time.
  if (extractPool_)
    for (const auto& job : extractPool_->pending)
      if (job->fname == target.fname) {
        FinishPooledEntries(0);
        break;
      }

  // An unknown method or encryption is refused before anything is created,
  // so an existing file is not destroyed for nothing and the entry is not
  // reported as a wrong password or a bad CRC.
  const std::string unsupported = UnsupportedText(work_);
  if (!unsupported.empty()) {
    EntryFailed(index, unsupported);
    return;
  }
  if (work_.IsAes() && work_.CompressedSize < AesOverhead(work_.AesStrength)) {
    EntryFailed(index, "damaged AES entry: shorter than its salt, verifier and authentication code");
    return;
  }
  if (!TestOnly && !OpenTarget(target)) {
    skipping(skipCannotCreate, target.fname, true);
    return;
  }

  TZipCrypt crypt;
  TAesCipher aes;
  uint64_t remaining = work_.CompressedSize;
  const bool aesEntry = work_.IsAes();
  const bool zipCrypto = work_.IsEncrypted() && !aesEntry;
  if (aesEntry) {
    if (!CheckAesPassword(index, dataStart, aes)) {
      skipping(skipBadPassword, work_.Path(), true);
      return;
    }
    remaining -= AesOverhead(work_.AesStrength);
  } else if (zipCrypto) {
    if (!CheckPassword(index, dataStart, crypt)) {
      skipping(skipBadPassword, work_.Path(), true);
      return;
    }
    remaining -= kEncryptionHeaderSize;
  }
  if (!TestOnly && !MayOverwrite(index, target)) return;

  // The entry is written to an unnamed file beside its target and linked
  // over the target only once it is complete and its CRC is right, so a
  // corrupt entry, a full disk or a killed run never destroys the file it was
  // to replace, and leaves no partial file behind.
  const bool isLink = IsStoredSymlink(work_);
  std::unique_ptr<TLFNFileStream> file;
  auto temp = std::make_unique<TTempOutput>();
  std::string linkTarget;
  if (isLink && work_.UncompressedSize > kMaxLinkTarget) {
    EntryFailed(index, "symbolic link target too long");
    return;
  }
  if (!TestOnly && !isLink) {
    // The file is made with the stored permissions where they are kept, so
    // that they need no change afterwards when the umask leaves them whole.
    const int stored = RetainAttributes ? StoredUnixMode(work_) : -1;
    const mode_t mode = stored >= 0 ? static_cast<mode_t>(stored) : 0666;
    if (PoolCandidate(work_) && !zipCrypto && !aesEntry &&
        SubmitPooledEntry(index, target, dataStart, mode))
      return;
    bool created = temp->Create(target.dirFd, mode);
    if (!created && target.fname == target.computed && IsRemovedDirectory(target.dirFd)) {
      // The directory kept open since an earlier entry was removed meanwhile:
      // its path is walked (and made) again, and what is there now decides.
      outDirs_->Reset(destDir_);
      if (!OpenTarget(target)) {
        skipping(skipCannotCreate, target.fname, true);
        return;
      }
      if (!MayOverwrite(index, target)) return;
      created = temp->Create(target.dirFd, mode);
    }
    if (!created) {
      skipping(skipCannotCreate, target.fname, true);
      return;
    }
    file = std::make_unique<TLFNFileStream>(temp->Fd(), StreamBufferSize, FlushFilesOnClose, true);
  }
  if (!zipCrypto && !aesEntry) archive_->Seek(dataStart, soBeginning);
  entryDone_ = 0;
  TEntryInput input(*this, remaining, zipCrypto ? &crypt : nullptr, aesEntry ? &aes : nullptr);
  TEntryOutput output(*this, file.get(), isLink ? &linkTarget : nullptr);
  if (file && extractPool_ && work_.UncompressedSize >= TBlockWriter::kThreshold)
    output.WriteBeside();
  const TDecodeResult result = DecodeEntry(input, output, remaining);
  output.Finish();
  if (result == TDecodeResult::OutOfMemory)
    ui_->ShowMessage(decodeProblem_.empty() ? OutOfMemoryText(DataMethod(work_)) : decodeProblem_, "Error");
  // The authentication code covers every encrypted byte, also those a
  // decoder left unread.
  bool authentic = true;
  if (aesEntry) {
    while (input.Refill()) {
    }
    uint8_t code[kAesMacSize];
    ReadArchive(code, sizeof code);
    authentic = aes.Verify(code);
  }
  if (file) FinishOutputFile(*file);

  const uint32_t calc = output.Crc();
  // The size, the CRC and the decoder's verdict decide (see
  // DecoderVerdictAccepts). AE-2 entries store no CRC: their authentication
  // code stands for it.
  const bool crcOk = (aesEntry && work_.AesVersion == 2) || calc == work_.CRC32;
  const bool good = crcOk && authentic &&
                    static_cast<uint64_t>(entryDone_) == work_.UncompressedSize &&
                    DecoderVerdictAccepts(work_, result);
  if (good) {
    if (!TestOnly) {
      const bool placed = isLink ? linkTarget.find('\0') == std::string::npos &&
                                       PlaceSymlink(target.dirFd, target.fileLeaf, linkTarget)
                                 : temp->Commit(target.fileLeaf);
      if (file) file->Close();
      if (!placed) {
        skipping(skipCannotCreate, target.fname, false);
        return;
      }
      if (isLink) StampLink(target.dirFd, target.fileLeaf, work_, workAccessed_);
    }
    if (OnEndUnZip) OnEndUnZip(this, index, target.fname);
    ++runCount_;
    return;
  }
  // The unnamed file goes away with `temp`; the target stays as it was.
  file.reset();
  ReportBadEntry(index, result, calc, authentic);
}

void TZipReader::ExtractDirectoryEntry(int index, const TEntryTarget& target) {
  if (TestOnly) return;
  auto cannotCreate = [&]() {
    bool retry = false;
    if (OnSkippingFile)
      OnSkippingFile(this, skipCannotCreate, JoinDirectory(target.root, target.dirs), index, retry);
  };
  if (SafeComponents(work_.Directory()).empty()) {
    // "/", "../" and the like name no directory below the destination.
    cannotCreate();
    return;
  }
  outDirs_->UseRoot(target.root);
  if (RecreateDirs && outDirs_->Open(target.dirs, true) < 0) {
    cannotCreate();
    return;
  }
  // Its date and permissions are given at the end of the run: the files
  // created in it until then would change its date again.
  if (RecreateDirs && !target.dirs.empty())
    dirStamps_.push_back({target.root, target.dirs, work_.ModTime(),
                          RetainAttributes ? StoredUnixMode(work_) : -1});
  ++runCount_;
}

void TZipReader::StampDirectories() {
  // Paths in falling order put every directory after all below it, so that
  // a parent's date is set after its children's (and its permissions, which
  // may shut it, after the walk below it), and keep neighbours together, so
  // that the walk reopens only what differs from the directory before.
  std::stable_sort(dirStamps_.begin(), dirStamps_.end(), [](const TDirStamp& a, const TDirStamp& b) {
    return a.root != b.root ? a.root < b.root : b.dirs < a.dirs;
  });
  TDirectoryChain walk;
  for (const TDirStamp& d : dirStamps_) {
    walk.UseRoot(d.root);
    const int dir = walk.Open(d.dirs, false);
    if (dir < 0) continue;
    const struct timespec times[2] = {d.modified, d.modified};
    ::futimens(dir, times);
    if (d.mode >= 0) ::fchmod(dir, static_cast<mode_t>(d.mode));
  }
  dirStamps_.clear();
}

int64_t TZipReader::SeekEntryData() {
  if (multiMode_ != TMultiMode::mmNone) {
    const int64_t disk = static_cast<int64_t>(work_.DiskNumberStart);
    if (disk >= numberOfDisks_)
      throw EFatalUnzipError("its local header is on volume " + std::to_string(disk + 1) +
                             ", but the set has " + std::to_string(numberOfDisks_) + " volumes");
    if (disk != currentDisk_) LoadDisk(disk + 1);
  }
  uint8_t lh[kLocalHeaderSize];
  const int64_t at = static_cast<int64_t>(work_.LocalHeaderOffset);
  if (archive_->Seek(at, soBeginning) != at ||
      !archive_->ReadExact(lh, sizeof lh))
    throw EFatalUnzipError(kTextPrematureEnd);
  if (GetU32(lh) != LocalFileHeaderSig)
    throw EFatalUnzipError("local header damaged: no signature at offset " +
                           std::to_string(work_.LocalHeaderOffset));
  // The local extra field may hold the access time, and the modification
  // time where the central record has none.
  workAccessed_ = kNoExactTime;
  const uint16_t extraLen = GetU16(lh + 28);
  if (extraLen == 0) return archive_->Seek(GetU16(lh + 26), soCurrent);
  std::string extra(extraLen, '\0');
  archive_->Seek(GetU16(lh + 26), soCurrent);
  if (archive_->ReadExact(extra.data(), extra.size())) {
    const TExtraTimes times =
        ReadExtraTimes(reinterpret_cast<const uint8_t*>(extra.data()), extra.size());
    workAccessed_ = times.accessed;
    if (work_.ExactModTime == kNoExactTime) work_.ExactModTime = times.modified;
  }
  return archive_->Seek(at + static_cast<int64_t>(kLocalHeaderSize) + GetU16(lh + 26) + extraLen,
                        soBeginning);
}

bool TZipReader::OpenTarget(TEntryTarget& t) {
  if (t.fname == t.computed) {
    // (A handler may have changed DestDir since the last entry.)
    outDirs_->UseRoot(t.root);
    t.dirFd = outDirs_->Open(t.dirs, true);
    t.fileLeaf = t.leaf;
    t.nothingThere = t.dirFd >= 0 && outDirs_->ClaimNew(t.fileLeaf);
  } else {
    // A handler chose another name: its directory is the caller's choice.
    size_t slash = t.fname.rfind('/');
    std::string parent;
    if (slash != std::string::npos) parent.assign(t.fname, 0, slash == 0 ? 1 : slash);
    t.fileLeaf.assign(t.fname, slash == std::string::npos ? 0 : slash + 1, std::string::npos);
    MakeDirectories(parent);
    t.ownDir = OpenDirectoryBeneath(parent, {}, false);
    t.dirFd = t.ownDir.Get();
    t.nothingThere = false;
  }
  return t.dirFd >= 0 && !SafeComponent(t.fileLeaf).empty();
}

bool TZipReader::CheckPassword(int index, int64_t dataStart, TZipCrypt& crypt) {
  for (;;) {
    bool ok = false;
    if (work_.CompressedSize >= kEncryptionHeaderSize) {
      if (multiMode_ != TMultiMode::mmNone &&
          static_cast<int64_t>(work_.DiskNumberStart) != currentDisk_)
        LoadDisk(static_cast<int64_t>(work_.DiskNumberStart) + 1);
      archive_->Seek(dataStart, soBeginning);
      uint8_t header[kEncryptionHeaderSize];
      ReadArchive(header, sizeof header);
      crypt.Init(Password);
      crypt.Decrypt(header, sizeof header);
      uint8_t check = work_.HasDataDescriptor() ? static_cast<uint8_t>(work_.LastModDateTime >> 8)
                                                : static_cast<uint8_t>(work_.CRC32 >> 24);
      ok = header[kEncryptionHeaderSize - 1] == check;
    }
    if (ok) return true;
    std::string newPassword = Password;
    if (!OnBadPassword) return false;
    OnBadPassword(this, index, newPassword);
    if (newPassword == Password) return false;
    Password = newPassword;
  }
}

bool TZipReader::CheckAesPassword(int index, int64_t dataStart, TAesCipher& aes) {
  const size_t saltSize = AesSaltSize(work_.AesStrength);
  uint8_t header[16 + kAesVerifierSize];
  if (multiMode_ != TMultiMode::mmNone &&
      static_cast<int64_t>(work_.DiskNumberStart) != currentDisk_)
    LoadDisk(static_cast<int64_t>(work_.DiskNumberStart) + 1);
  archive_->Seek(dataStart, soBeginning);
  ReadArchive(header, saltSize + kAesVerifierSize);
  for (;;) {
    uint8_t verifier[kAesVerifierSize];
    if (aes.Init(Password, work_.AesStrength, header, verifier) &&
        verifier[0] == header[saltSize] && verifier[1] == header[saltSize + 1])
      return true;
    std::string newPassword = Password;
    if (!OnBadPassword) return false;
    OnBadPassword(this, index, newPassword);
    if (newPassword == Password) return false;
    Password = newPassword;
  }
}

bool TZipReader::AskOverwrite(const TOverwriteFacts& existing) {
  if (runOverwrite_ == TRunOverwrite::All) return true;
  if (runOverwrite_ != TRunOverwrite::Ask) return false;
  const TOverwriteFacts entry{work_.UncompressedSize,
                              static_cast<int64_t>(work_.ModTime().tv_sec)};
  switch (ui_->AskOverwrite("Replace existing file " + std::string(work_.Filename()) + "?",
                            "File Exists Alert", entry, existing)) {
    case TOverwriteAnswer::Yes: return true;
    case TOverwriteAnswer::All: runOverwrite_ = TRunOverwrite::All; return true;
    case TOverwriteAnswer::None: runOverwrite_ = TRunOverwrite::None; return false;
    case TOverwriteAnswer::Cancel: runOverwrite_ = TRunOverwrite::Cancelled; return false;
    case TOverwriteAnswer::No: break;
  }
  return false;
}

bool TZipReader::MayOverwrite(int index, TEntryTarget& t) {
  auto refuse = [&](TSkipReason reason) {
    bool retry = false;
    if (OnSkippingFile) OnSkippingFile(this, reason, t.fname, index, retry);
    SkipBookkeeping(work_);
    return false;
  };
  if (t.nothingThere) return true;
  struct stat st;
  if (::fstatat(t.dirFd, t.fileLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (OverwriteMode != TUZOverwriteMode::Always) {
    bool overwrite = false;
    switch (OverwriteMode) {
      case TUZOverwriteMode::Prompt:
        if (OnPromptForOverwrite) {
          std::string before = t.fname;
          OnPromptForOverwrite(this, overwrite, index, t.fname);
          if (t.fname != before && !OpenTarget(t)) return refuse(skipCannotCreate);
        } else {
          overwrite = AskOverwrite(
              {static_cast<uint64_t>(st.st_size), static_cast<int64_t>(st.st_mtime)});
        }
        break;
      case TUZOverwriteMode::ifNewer:
      case TUZOverwriteMode::ifOlder: {
        // To the second with an exact time, else as a DOS time (2 seconds).
        const bool exact = work_.ExactModTime != kNoExactTime;
        std::time_t entryTime = exact ? work_.ModTime().tv_sec
                                      : DosDateTimeToTime(work_.LastModDateTime);
        std::time_t fileTime =
            exact ? st.st_mtime : DosDateTimeToTime(TimeToDosDateTime(st.st_mtime));
        overwrite = OverwriteMode == TUZOverwriteMode::ifNewer ? entryTime > fileTime
                                                               : entryTime < fileTime;
        break;
      }
      default:
        overwrite = false;
        break;
    }
    if (!overwrite) return refuse(skipNoOverwrite);
  }
  // What is there now (the prompt may have changed the name).
  if (::fstatat(t.dirFd, t.fileLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  // A directory in the way cannot be replaced by a file; a read-only file is
  // replaced only when asked to.
  const bool blocked = S_ISDIR(st.st_mode) ||
                       (S_ISREG(st.st_mode) && !ReplaceReadOnly &&
                        ::faccessat(t.dirFd, t.fileLeaf.c_str(), W_OK, AT_EACCESS) != 0);
  return blocked ? refuse(skipCannotCreate) : true;
}

TDecodeResult TZipReader::DecodeEntry(TDecodeInput& input, TDecodeOutput& output,
                                      uint64_t compressedSize) {
  return DecodeEntryData(work_, *buffers_, input, output, compressedSize, decodeProblem_);
}

void TZipReader::FinishOutputFile(TLFNFileStream& file) {
  FinishFile(file, work_, FlushFilesOnClose, RetainAttributes, runUmask_, workAccessed_);
}

void TZipReader::ReportBadEntry(int index, TDecodeResult result, uint32_t calc, bool authentic) {
  if (!authentic) {
    EntryFailed(index, "authentication failed: the encrypted data were damaged or changed");
    return;
  }
  // The password passed its check (the verifier of an AES entry, the check
  // byte of a traditional one): the data are at fault, as with any other
  // entry.
  const std::string declared = std::to_string(work_.UncompressedSize);
  if (result == TDecodeResult::DataError)
    EntryFailed(index, DamagedDataText(entryDone_, work_.UncompressedSize));
  else if (result == TDecodeResult::OutOfMemory)
    EntryFailed(index, decodeProblem_.empty() ? OutOfMemoryText(DataMethod(work_)) : decodeProblem_);
  else if (result == TDecodeResult::Unsupported)
    EntryFailed(index, UnsupportedMethodText(DataMethod(work_)) + ": " + decodeProblem_);
  else if (static_cast<uint64_t>(entryDone_) != work_.UncompressedSize)
    EntryFailed(index, "size mismatch: " + std::to_string(entryDone_) + " bytes, " + declared +
                           " declared");
  else if (OnBadCRC)
    OnBadCRC(this, static_cast<int32_t>(calc), static_cast<int32_t>(work_.CRC32), index);
}

// ------------------------------------------------------------ one entry to a sink

std::string TZipReader::ReadOneEntry(int index, const std::function<std::string()>& read) {
  CancelOperation = false;
  std::string problem;
  try {
    OpenIfNeeded();
    CheckIndex(index);
    problem = read();
  } catch (const EBiggerThanUncompressed&) {
    problem = "size mismatch: more than " + std::to_string(work_.UncompressedSize) + " bytes, " +
              std::to_string(work_.UncompressedSize) + " declared";
  } catch (const EVolumeMissing& e) {
    problem = e.Needs();
  } catch (const std::exception& e) {
    problem = e.what();
  }
  CancelOperation = false;
  CloseIfAllowed();
  return problem;
}

std::string TZipReader::ReadEntry(int index, const TEntrySink& sink) {
  return ReadOneEntry(index, [&] {
    if (!buffers_) buffers_ = std::make_unique<TDecodeBuffers>();
    return DecodeToSink(index, sink);
  });
}

std::string TZipReader::ReadStoredEntry(int index, const TEntrySink& sink, TZipHeaderInfo& record) {
  return ReadOneEntry(index, [&] { return CopyStoredData(index, sink, record); });
}

std::string TZipReader::CopyStoredData(int index, const TEntrySink& sink, TZipHeaderInfo& record) {
  work_.Assign(*view_->Entry(index));
  if (work_.DataOverlaps) return "its data overlaps another entry or the archive directory; refused";
  if (work_.HasComment() && !work_.FileComment()) LoadEntryComment(work_, *archive_);
  SeekEntryData();
  std::string problem;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(work_.CompressedSize, 1u << 20)));
  for (uint64_t left = work_.CompressedSize; left > 0 && problem.empty();) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    ReadArchive(block.data(), n);
    if (!sink(block.data(), n)) problem = kTextUserAborted;
    left -= n;
  }
  record.Assign(work_);
  return problem;
}

std::string TZipReader::DecodeToSink(int index, const TEntrySink& sink) {
  work_.Assign(*view_->Entry(index));
  if (work_.Filename().empty()) return {};
  if (work_.DataOverlaps) return "its data overlaps another entry or the archive directory; refused";
  const std::string unsupported = UnsupportedText(work_);
  if (!unsupported.empty()) return unsupported;
  if (work_.IsAes() && work_.CompressedSize < AesOverhead(work_.AesStrength))
    return "damaged AES entry: shorter than its salt, verifier and authentication code";
  const int64_t dataStart = SeekEntryData();

  TZipCrypt crypt;
  TAesCipher aes;
  uint64_t remaining = work_.CompressedSize;
  const bool aesEntry = work_.IsAes();
  const bool zipCrypto = work_.IsEncrypted() && !aesEntry;
  if (aesEntry) {
    if (!CheckAesPassword(index, dataStart, aes)) return "wrong password";
    remaining -= AesOverhead(work_.AesStrength);
  } else if (zipCrypto) {
    if (!CheckPassword(index, dataStart, crypt)) return "wrong password";
    remaining -= kEncryptionHeaderSize;
  }
  if (!zipCrypto && !aesEntry) archive_->Seek(dataStart, soBeginning);
  entryDone_ = 0;
  TEntryInput input(*this, remaining, zipCrypto ? &crypt : nullptr, aesEntry ? &aes : nullptr);
  TEntryOutput output(*this, nullptr, nullptr, &sink);
  const TDecodeResult result = DecodeEntry(input, output, remaining);
  bool authentic = true;
  if (aesEntry) {
    while (input.Refill()) {
    }
    uint8_t code[kAesMacSize];
    ReadArchive(code, sizeof code);
    authentic = aes.Verify(code);
  }
  const uint32_t calc = output.Crc();
  const bool crcOk = (aesEntry && work_.AesVersion == 2) || calc == work_.CRC32;
  const bool good = crcOk && authentic &&
                    static_cast<uint64_t>(entryDone_) == work_.UncompressedSize &&
                    DecoderVerdictAccepts(work_, result);
  if (good) return {};
  const std::string declared = std::to_string(work_.UncompressedSize);
  if (!authentic) return "authentication failed: the encrypted data were damaged or changed";
  if (result == TDecodeResult::DataError) return DamagedDataText(entryDone_, work_.UncompressedSize);
  if (result == TDecodeResult::OutOfMemory)
    return decodeProblem_.empty() ? OutOfMemoryText(DataMethod(work_)) : decodeProblem_;
  if (result == TDecodeResult::Unsupported)
    return UnsupportedMethodText(DataMethod(work_)) + ": " + decodeProblem_;
  if (static_cast<uint64_t>(entryDone_) != work_.UncompressedSize)
    return "size mismatch: " + std::to_string(entryDone_) + " bytes, " + declared + " declared";
  if (!crcOk) return "CRC error: the data are damaged";
  return "damaged compressed data";
}

}  // namespace vantrel::zip
