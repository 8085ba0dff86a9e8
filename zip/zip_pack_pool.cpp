// zip_pack_pool.cpp - the workers that compress files ahead of the writer.
#include "zip/zip_pack_pool.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>

#include "zip/codec/crc32.h"
#include "zip/zip_errors.h"
#include "zip/zip_stream.h"
#include "zip/zip_ui.h"

namespace vantrel::zip {

namespace {

constexpr size_t kMemoryBlock = 256 * 1024;
constexpr size_t kStoreChunk = 32768;
constexpr size_t kScratchPiece = 1 << 20;
constexpr auto kIdleInterval = kEventInterval;

// Thrown inside a worker when the pool stops or the writer dropped the job.
struct TJobStopped {};

[[noreturn]] void ThrowScratchError(int err) {
  if (err == ENOSPC || err == EFBIG || err == EDQUOT || err == 0)
    throw ENotEnoughRoom(kTextNotEnoughRoom);
  throw ENotEnoughRoom(std::string(kTextNotEnoughRoom) + " (" + std::strerror(err) + ")");
}

// An unnamed file for output that does not fit in memory; a named one is
// unlinked at once where the file system has no unnamed files.
int CreateScratch(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string tmpl = (dir.empty() || dir.back() == '/' ? dir : dir + "/") + ".RQXscratchXXXXXX";
  fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0)
    throw EFOpenError("Cannot create a temporary file in \"" + dir + "\". " + std::strerror(errno));
  ::unlink(tmpl.c_str());
  return fd;
}

}  // namespace

// One file in the pool. The fields under `mutex` pass between the worker that
// runs the job and the writer thread.
class TPackJob {
 public:
  TPackJob(TPackRequest r, std::atomic<size_t>& held) : request(std::move(r)), held_(held) {}
  ~TPackJob() {
    if (scratch >= 0) ::close(scratch);
    held_.fetch_sub(memoryBytes, std::memory_order_relaxed);
  }

  const TPackRequest request;
  std::atomic<int64_t> bytesRead{0};
  std::atomic<bool> abandoned{false};
  std::atomic<bool> head{false};  // the writer is at this job
  bool taken = false;             // by a worker or the writer (under the pool's mutex)

  std::mutex mutex;
  std::condition_variable changed;
  TPackOpen open = TPackOpen::Pending;
  struct stat st {};
  std::deque<std::vector<uint8_t>> memory;
  size_t memoryBytes = 0;
  int scratch = -1;
  int64_t spillRead = 0, spillWritten = 0;
  bool finished = false;
  std::exception_ptr failure;
  TPackResult result;

  // Whether the writer waiting for this job has something to do: the job
  // is finished, or a block of output is ready.
  bool Ready() const {
    return finished || memoryBytes >= kMemoryBlock || spillWritten > spillRead;
  }

  // Worker side: appends compressed output. Output goes to the scratch file
  // while any of it waits there unread (so that it stays in order) or when
  // memory is full. The writer is woken only when the job becomes Ready.
  void Append(const uint8_t* data, size_t n, const TPackOptions& options) {
    std::unique_lock lock(mutex);
    const bool wasReady = Ready();
    const bool inMemory = spillWritten <= spillRead && memoryBytes + n <= options.memoryPerJob &&
                          TakeMemoryShare(n, options.memoryTotal);
    if (inMemory)
      Hold(data, n);
    else
      Spill(data, n, options.scratchDirectory);
    const bool wake = !wasReady && Ready();
    lock.unlock();
    if (wake) changed.notify_all();
  }

  // Writer side: takes the output held in memory.
  std::deque<std::vector<uint8_t>> TakeMemory() {
    std::deque<std::vector<uint8_t>> blocks;
    blocks.swap(memory);
    held_.fetch_sub(memoryBytes, std::memory_order_relaxed);
    memoryBytes = 0;
    return blocks;
  }

 private:
  // Counts n more bytes held in memory, unless that would take the jobs
  // behind the head past `total` (the head is not bound by it). The check
  // and the count are one step, so workers appending at once cannot pass
  // the limit together.
  bool TakeMemoryShare(size_t n, size_t total) {
    if (head.load(std::memory_order_relaxed)) {
      held_.fetch_add(n, std::memory_order_relaxed);
      return true;
    }
    size_t now = held_.load(std::memory_order_relaxed);
    do {
      if (now + n > total) return false;
    } while (!held_.compare_exchange_weak(now, now + n, std::memory_order_relaxed));
    return true;
  }

  // Keeps output in memory blocks (its share is already counted).
  void Hold(const uint8_t* data, size_t n) {
    for (size_t left = n; left > 0;) {
      if (memory.empty() || memory.back().size() == kMemoryBlock) {
        memory.emplace_back();
        memory.back().reserve(kMemoryBlock);
      }
      std::vector<uint8_t>& block = memory.back();
      const size_t take = std::min(left, kMemoryBlock - block.size());
      block.insert(block.end(), data, data + take);
      data += take;
      left -= take;
    }
    memoryBytes += n;
  }

  // Appends output to the scratch file, made on first use.
  void Spill(const uint8_t* data, size_t n, const std::string& dir) {
    if (scratch < 0) scratch = CreateScratch(dir);
    int64_t at = spillWritten;
    for (size_t left = n; left > 0;) {
      const ssize_t w = ::pwrite(scratch, data, left, at);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) ThrowScratchError(w < 0 ? errno : 0);
      data += w;
      left -= static_cast<size_t>(w);
      at += w;
    }
    spillWritten = at;
  }

  std::atomic<size_t>& held_;
};

namespace {

// The file as the compressor reads it: the CRC and the count of bytes read go
// along, and a stopped pool or a dropped job ends the reading.
class TPoolSource final : public TDeflateSource {
 public:
  // poll: called between reads at least every kIdleInterval (the writer's events
  // while it compresses a file itself); may be null.
  TPoolSource(TPackJob& job, const std::atomic<bool>& stop, int fd, uint64_t limit,
              const std::function<void()>* poll)
      : job_(job), stop_(stop), fd_(fd), limit_(limit), poll_(poll) {}

  size_t Read(uint8_t* buf, size_t n) override {
    if (stop_.load(std::memory_order_relaxed) || job_.abandoned.load(std::memory_order_relaxed))
      throw TJobStopped{};
    if (poll_) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastPoll_ >= kIdleInterval) {
        (*poll_)();
        lastPoll_ = now;
      }
    }
    n = static_cast<size_t>(std::min<uint64_t>(n, limit_ - static_cast<uint64_t>(total)));
    if (n == 0) return 0;
    for (;;) {
      ssize_t r = ::read(fd_, buf, n);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0)
        throw EZipError("Cannot read \"" + job_.request.path + "\": " + std::strerror(errno));
      total += r;
      crc = Crc32Update(crc, buf, static_cast<size_t>(r));
      job_.bytesRead.store(total, std::memory_order_relaxed);
      return static_cast<size_t>(r);
    }
  }

  bool Rewind() override {
    if (::lseek(fd_, 0, SEEK_SET) != 0) return false;
    crc = 0xFFFFFFFF;
    total = 0;
    job_.bytesRead.store(0, std::memory_order_relaxed);
    return true;
  }

  uint32_t crc = 0xFFFFFFFF;
  int64_t total = 0;

 private:
  TPackJob& job_;
  const std::atomic<bool>& stop_;
  int fd_;
  uint64_t limit_;
  const std::function<void()>* poll_;
  std::chrono::steady_clock::time_point lastPoll_ = std::chrono::steady_clock::now();
};

class TJobSink final : public TDeflateSink {
 public:
  TJobSink(TPackJob& job, const TPackOptions& options) : job_(job), options_(options) {}
  void Write(const uint8_t* data, size_t n) override {
    job_.Append(data, n, options_);
    written += n;
  }
  uint64_t written = 0;

 private:
  TPackJob& job_;
  const TPackOptions& options_;
};

// A piece of a split file as its compressor reads it: from memory, ending
// when the pool stops or the file's job has ended.
class TPieceSource final : public TDeflateSource {
 public:
  TPieceSource(const TSplitPiece& piece, const std::atomic<bool>& stop, const std::atomic<bool>& dropped,
               const std::function<void()>* poll)
      : data_(piece.bytes.data() + piece.dictionary),
        size_(piece.bytes.size() - piece.dictionary),
        stop_(stop),
        dropped_(dropped),
        poll_(poll) {}

  size_t Read(uint8_t* buf, size_t n) override {
    if (stop_.load(std::memory_order_relaxed) || dropped_.load(std::memory_order_relaxed)) throw TJobStopped{};
    if (poll_) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastPoll_ >= kIdleInterval) {
        (*poll_)();
        lastPoll_ = now;
      }
    }
    n = std::min(n, size_ - at_);
    std::memcpy(buf, data_ + at_, n);
    at_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  const std::atomic<bool>& stop_;
  const std::atomic<bool>& dropped_;
  const std::function<void()>* poll_;
  std::chrono::steady_clock::time_point lastPoll_ = std::chrono::steady_clock::now();
};

class TBytesSink final : public TDeflateSink {
 public:
  explicit TBytesSink(std::vector<uint8_t>& out) : out_(out) {}
  void Write(const uint8_t* data, size_t n) override { out_.insert(out_.end(), data, data + n); }

 private:
  std::vector<uint8_t>& out_;
};

struct TFd {
  int fd = -1;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

// The pieces of one file being split. A piece done is announced here.
struct TPackPool::TSplitRun {
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<bool> dropped{false};  // the file's job has ended: its pieces are not wanted
};

// One piece of a split file, queued for any thread. One thread at a time
// has it (taken from the queue under the pool's mutex); the job reads
// `output` once `done` is set under the run's mutex.
struct TPackPool::TSplitTask {
  TSplitTask(std::shared_ptr<TSplitRun> r, std::shared_ptr<TSplitPiece> p)
      : run(std::move(r)), piece(std::move(p)) {}
  const std::shared_ptr<TSplitRun> run;
  const std::shared_ptr<TSplitPiece> piece;
  std::vector<uint8_t> output;
  uint16_t attributes = 2;
  std::exception_ptr failure;
  bool done = false;
};

int AvailableProcessors() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

TPackPool::TPackPool(std::vector<TPackRequest> requests, TPackOptions options)
    : options_(std::move(options)) {
  options_.window = std::max<size_t>(options_.window, 1);
  jobs_.reserve(requests.size());
  for (TPackRequest& r : requests)
    jobs_.push_back(std::make_shared<TPackJob>(std::move(r), memoryHeld_));
  if (!jobs_.empty()) jobs_.front()->head = true;
  // A writer that works is one of the threads; there is always one worker,
  // for the files too large for the writer.
  const int workers = options_.writerWorks ? options_.threads - 1 : options_.threads;
  const int n = std::max(1, std::min<int>(workers, static_cast<int>(jobs_.size())));
  for (int i = 0; i < n && !jobs_.empty(); ++i) workers_.emplace_back([this] { Work(); });
}

TPackPool::~TPackPool() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  workAvailable_.notify_all();
  for (std::thread& t : workers_) t.join();
}

bool TPackPool::IsHead(size_t line) const {
  std::lock_guard lock(mutex_);
  return head_ < jobs_.size() && jobs_[head_]->request.line == line;
}

void TPackPool::Work() {
  TDeflateCompressor compressor;
  for (;;) {
    std::shared_ptr<TPackJob> job;
    std::shared_ptr<TSplitTask> piece;
    {
      std::unique_lock lock(mutex_);
      workAvailable_.wait(lock, [&] {
        SkipTaken();
        return stop_ || !pieces_.empty() || (next_ < jobs_.size() && next_ < head_ + options_.window + 1);
      });
      if (stop_) return;
      // A piece of a file being split before a new file: the pieces hold
      // memory, and their file is usually the one the writer waits for.
      if (!pieces_.empty()) {
        piece = std::move(pieces_.front());
        pieces_.pop_front();
      } else {
        job = jobs_[next_++];
        job->taken = true;
      }
    }
    if (piece) {
      CompressPiece(piece, compressor, nullptr);
    } else {
      Run(*job, compressor);
    }
  }
}

std::shared_ptr<TPackPool::TSplitTask> TPackPool::TakePiece() {
  std::lock_guard lock(mutex_);
  if (pieces_.empty()) return nullptr;
  std::shared_ptr<TSplitTask> task = std::move(pieces_.front());
  pieces_.pop_front();
  return task;
}

void TPackPool::CompressPiece(const std::shared_ptr<TSplitTask>& taken, TDeflateCompressor& compressor,
                              const std::function<void()>* poll) {
  TSplitTask& task = *taken;
  TSplitRun& run = *task.run;
  task.output.clear();
  try {
    const TSplitPiece& piece = *task.piece;
    TPieceSource source(piece, stop_, run.dropped, poll);
    TBytesSink sink(task.output);
    task.attributes =
        compressor.DeflatePiece(options_.level, piece.bytes.data(), piece.dictionary, piece.last, source, sink)
            .InternalAttributes;
  } catch (const TJobStopped&) {
    if (poll != nullptr && !stop_ && !run.dropped) {
      // Stopped by the writer's events, not for the file's sake: another
      // thread does the piece.
      {
        std::lock_guard lock(mutex_);
        pieces_.push_front(taken);
      }
      throw;
    }
  } catch (...) {
    task.failure = std::current_exception();
  }
  {
    std::lock_guard lock(run.mutex);
    task.done = true;
  }
  run.changed.notify_all();
}

std::shared_ptr<TPackJob> TPackPool::Take(bool forWriter) {
  std::lock_guard lock(mutex_);
  if (stop_) return nullptr;
  SkipTaken();
  // The writer looks past a large file, up to a wider window while the
  // output waiting in memory leaves room (what it compresses is small and
  // never goes to a scratch file, which would cost a descriptor a job).
  const size_t reach = std::min(jobs_.size(), head_ + options_.window + 1);
  const size_t farReach = std::min(jobs_.size(), head_ + kWriterReach * options_.window + 1);
  for (size_t i = next_; i < (forWriter ? farReach : reach); ++i) {
    TPackJob& job = *jobs_[i];
    if (job.taken) continue;
    if (forWriter && (job.request.size > kMostForWriter ||
                      (i >= reach && MemoryHeld() > options_.memoryTotal / 2)))
      continue;
    job.taken = true;
    return jobs_[i];
  }
  return nullptr;
}

void TPackPool::SkipTaken() {
  // The jobs before the head are gone; from the head on, those the writer
  // took are passed over.
  next_ = std::max(next_, head_);
  while (next_ < jobs_.size() && jobs_[next_]->taken) ++next_;
}

void TPackPool::Run(TPackJob& job, TDeflateCompressor& compressor,
                    const std::function<void()>* poll) {
  try {
    RunJob(job, compressor, poll);
  } catch (const TJobStopped&) {
  } catch (...) {
    std::lock_guard lock(job.mutex);
    job.failure = std::current_exception();
  }
  {
    std::lock_guard lock(job.mutex);
    job.finished = true;
    if (job.open == TPackOpen::Pending) job.open = TPackOpen::Elsewhere;
  }
  job.changed.notify_all();
  if (options_.jobEnded) options_.jobEnded(job.request.line);
}

bool TPackPool::RunOneHere(const std::function<void()>& idle) {
  if (!options_.writerWorks) return false;
  // A piece of a file being split first, as on the workers.
  const std::shared_ptr<TSplitTask> piece = TakePiece();
  const std::shared_ptr<TPackJob> job = piece ? nullptr : Take(true);
  if (!piece && !job) return false;
  if (!writerCompressor_) writerCompressor_ = std::make_unique<TDeflateCompressor>();
  // What the writer's events throw (a cancel) stops the job and goes on
  // from here.
  std::exception_ptr thrown;
  const std::function<void()> poll = [&] {
    try {
      idle();
    } catch (...) {
      thrown = std::current_exception();
      throw TJobStopped{};
    }
  };
  if (piece) {
    try {
      CompressPiece(piece, *writerCompressor_, &poll);
    } catch (const TJobStopped&) {
    }
  } else {
    Run(*job, *writerCompressor_, &poll);
    ++runByWriter_;
  }
  if (thrown) std::rethrow_exception(thrown);
  return true;
}

TDeflateResult TPackPool::RunSplit(TPackJob& job, TDeflateCompressor& compressor, TDeflateSource& source,
                                   TDeflateSink& sink, const std::function<void()>* poll) {
  const auto run = std::make_shared<TSplitRun>();
  std::deque<std::shared_ptr<TSplitTask>> inFlight;
  // However this ends (done, a read error, a stop), the pieces still queued
  // are withdrawn and their share given back; a thread at work on one stops
  // at its next read.
  struct TWithdraw {
    TPackPool& pool;
    TSplitRun& run;
    std::deque<std::shared_ptr<TSplitTask>>& inFlight;
    ~TWithdraw() {
      run.dropped = true;
      std::lock_guard lock(pool.mutex_);
      std::erase_if(pool.pieces_, [&](const std::shared_ptr<TSplitTask>& t) { return t->run.get() == &run; });
      pool.piecesInFlight_ -= inFlight.size();
    }
  } withdraw{*this, *run, inFlight};

  const size_t share = kPiecesPerThread * static_cast<size_t>(std::max(1, options_.threads));
  TSplitPieces pieces(source);
  TDeflateResult whole;
  whole.FlagBits = DeflateLevelFlags(options_.level);
  bool more = true;
  auto lastPoll = std::chrono::steady_clock::now();
  for (;;) {
    // Reads pieces ahead while the pool's share allows, one at least.
    while (more) {
      {
        std::lock_guard lock(mutex_);
        if (!inFlight.empty() && piecesInFlight_ >= share) break;
      }
      std::shared_ptr<TSplitPiece> piece = pieces.Next();
      if (!piece) break;
      more = !piece->last;
      inFlight.push_back(std::make_shared<TSplitTask>(run, std::move(piece)));
      {
        std::lock_guard lock(mutex_);
        pieces_.push_back(inFlight.back());
        ++piecesInFlight_;
      }
      workAvailable_.notify_one();
    }
    if (inFlight.empty()) break;
    // Rather than wait for the oldest piece, compresses queued ones here.
    TSplitTask& oldest = *inFlight.front();
    for (;;) {
      {
        std::unique_lock lock(run->mutex);
        if (oldest.done) break;
      }
      if (std::shared_ptr<TSplitTask> task = TakePiece()) {
        CompressPiece(task, compressor, poll);
        continue;
      }
      {
        std::unique_lock lock(run->mutex);
        run->changed.wait_for(lock, kIdleInterval, [&] { return oldest.done; });
      }
      if (stop_ || job.abandoned) throw TJobStopped{};
      const auto now = std::chrono::steady_clock::now();
      if (poll != nullptr && now - lastPoll >= kIdleInterval) {
        (*poll)();
        lastPoll = now;
      }
    }
    if (oldest.failure) std::rethrow_exception(oldest.failure);
    if (stop_ || job.abandoned) throw TJobStopped{};
    for (size_t at = 0; at < oldest.output.size();) {
      const size_t n = std::min<size_t>(oldest.output.size() - at, 65535);
      sink.Write(oldest.output.data() + at, n);
      at += n;
    }
    if (oldest.piece->index == 0) whole.InternalAttributes = oldest.attributes;
    whole.CompressedSize += oldest.output.size();
    inFlight.pop_front();
    std::lock_guard lock(mutex_);
    --piecesInFlight_;
  }
  return whole;
}

void TPackPool::RunJob(TPackJob& job, TDeflateCompressor& compressor,
                       const std::function<void()>* poll) {
  const std::string& path = job.request.path;
  TFd file;
  struct stat st {};
  // The writer waits for an opened file's output (see WaitOpened): only
  // a file it opens itself or leaves out needs waking it now.
  auto opened = [&](TPackOpen how) {
    {
      std::lock_guard lock(job.mutex);
      job.open = how;
      job.st = st;
    }
    if (how != TPackOpen::Opened) job.changed.notify_all();
  };
  // A link stored as a link, a file that cannot be opened or is no regular
  // file: the writer deals with it at its turn, with its events.
  if (options_.storeLinks && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    return opened(TPackOpen::Elsewhere);
  file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
    return opened(TPackOpen::Elsewhere);
  for (const auto& [dev, ino] : options_.refused)
    if (static_cast<uint64_t>(st.st_dev) == dev && static_cast<uint64_t>(st.st_ino) == ino)
      return opened(TPackOpen::Refused);
  ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
  opened(TPackOpen::Opened);

  const uint64_t limit = static_cast<uint64_t>(st.st_size) >= options_.zip64Threshold
                             ? UINT64_MAX
                             : options_.zip64Threshold;
  TPoolSource source(job, stop_, file.fd, limit, poll);
  TJobSink sink(job, options_);
  TPackResult result;
  if (job.request.store) {
    std::unique_ptr<uint8_t[]> buf(new uint8_t[kStoreChunk]);
    for (;;) {
      size_t n = source.Read(buf.get(), kStoreChunk);
      if (n == 0) break;
      sink.Write(buf.get(), n);
    }
    result.deflate.CompressionMethod = 0;
    result.deflate.InternalAttributes = 0;
    result.deflate.CompressedSize = sink.written;
  } else if (options_.splitDeflate && static_cast<uint64_t>(st.st_size) >= kSplitFileLeast) {
    result.deflate = RunSplit(job, compressor, source, sink, poll);
  } else {
    result.deflate = compressor.Deflate(options_.level, source, sink);
  }
  result.read = source.total;
  result.crc = ~source.crc;
  result.afterValid = ::fstat(file.fd, &result.after) == 0;
  std::lock_guard lock(job.mutex);
  job.result = result;
}

TPackOpen TPackPool::WaitOpened(struct stat& st, const std::function<void()>& idle) {
  std::shared_ptr<TPackJob> job;
  {
    std::lock_guard lock(mutex_);
    job = jobs_.at(head_);
    // No worker has come to it: the writer reads it itself, as without the
    // pool, straight into the archive; a file to split is left to a worker,
    // whose pieces the writer helps with while it waits.
    const bool split = options_.splitDeflate && job->request.size != UINT64_MAX &&
                       job->request.size >= kSplitFileLeast;
    if (options_.writerWorks && !job->taken && !split) {
      job->taken = true;
      return TPackOpen::Elsewhere;
    }
  }
  // Under job->mutex.
  auto ready = [&] {
    return job->open != TPackOpen::Pending && (job->open != TPackOpen::Opened || job->Ready());
  };
  auto lastIdle = std::chrono::steady_clock::now();
  for (;;) {
    {
      std::unique_lock lock(job->mutex);
      if (ready()) {
        st = job->st;
        return job->open;
      }
    }
    // Rather than wait for the head, a small file behind it.
    if (!RunOneHere(idle)) {
      std::unique_lock lock(job->mutex);
      job->changed.wait_for(lock, kIdleInterval, ready);
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastIdle >= kIdleInterval) {
      idle();
      lastIdle = now;
    }
  }
}

TPackResult TPackPool::Drain(const std::function<void(const uint8_t*, size_t)>& write,
                             const std::function<void(int64_t)>& progress,
                             const std::function<void()>& idle) {
  std::shared_ptr<TPackJob> job;
  {
    std::lock_guard lock(mutex_);
    job = jobs_.at(head_);
  }
  std::unique_ptr<uint8_t[]> piece;
  int64_t reported = 0;  // nothing is reported before the first byte, as without the pool
  // While the writer packs another file, the head's progress goes on too.
  const std::function<void()> pollHead = [&] {
    const int64_t read = job->bytesRead.load(std::memory_order_relaxed);
    if (read != reported) {
      progress(read);
      reported = read;
    }
    idle();
  };
  auto lastIdle = std::chrono::steady_clock::now();
  for (;;) {
    std::deque<std::vector<uint8_t>> blocks;
    int64_t spillFrom = 0, spillTo = 0;
    int scratch = -1;
    bool finished = false;
    {
      std::unique_lock lock(job->mutex);
      if (!job->Ready()) {
        lock.unlock();
        // Rather than wait for the head's output, a file behind it.
        if (!RunOneHere(pollHead)) {
          lock.lock();
          job->changed.wait_for(lock, kIdleInterval, [&] { return job->Ready(); });
        } else {
          lock.lock();
        }
      }
      blocks = job->TakeMemory();
      spillFrom = job->spillRead;
      spillTo = job->spillWritten;
      scratch = job->scratch;
      finished = job->finished;
    }
    // What was taken may be a whole file's output, spilled while the writer
    // was at the files before it: the events (a cancel) run between its
    // blocks too, not only once it is all written.
    const auto writeStep = [&](const uint8_t* data, size_t n) {
      write(data, n);
      const auto now = std::chrono::steady_clock::now();
      if (now - lastIdle >= kIdleInterval) {
        idle();
        lastIdle = now;
      }
    };
    // Memory first: it was written before anything now in the scratch file.
    for (const std::vector<uint8_t>& b : blocks) writeStep(b.data(), b.size());
    if (spillTo > spillFrom) {
      if (!piece) piece.reset(new uint8_t[kScratchPiece]);
      for (int64_t at = spillFrom; at < spillTo;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(spillTo - at, kScratchPiece));
        ssize_t r = ::pread(scratch, piece.get(), want, at);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) ThrowScratchError(r < 0 ? errno : 0);
        writeStep(piece.get(), static_cast<size_t>(r));
        at += r;
      }
      std::lock_guard lock(job->mutex);
      job->spillRead = spillTo;
      // Everything read back: the scratch file is used again from its start.
      if (job->spillRead == job->spillWritten) job->spillRead = job->spillWritten = 0;
    }
    const int64_t read = job->bytesRead.load(std::memory_order_relaxed);
    if (read != reported) {
      progress(read);
      reported = read;
    }
    if (finished) {
      // Output taken before `finished` was seen may not have been all of it;
      // once finished is seen, one more pass finds the rest.
      std::unique_lock lock(job->mutex);
      if (job->memoryBytes == 0 && job->spillWritten == job->spillRead) {
        if (job->failure) std::rethrow_exception(job->failure);
        const TPackResult result = job->result;
        lock.unlock();
        if (result.read != reported) progress(result.read);
        idle();
        return result;
      }
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastIdle >= kIdleInterval) {
      idle();
      lastIdle = now;
    }
  }
}

void TPackPool::PopHead() {
  std::shared_ptr<TPackJob> job;
  {
    std::lock_guard lock(mutex_);
    if (head_ >= jobs_.size()) return;
    job = std::move(jobs_[head_]);
    ++head_;
    if (head_ < jobs_.size()) jobs_[head_]->head = true;
  }
  job->abandoned = true;  // a worker still on it stops at its next read
  workAvailable_.notify_all();
}

}  // namespace vantrel::zip
