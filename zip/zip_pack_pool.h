// zip_pack_pool.h - TPackPool: the files of a run compressed ahead of the
// writer on a pool of threads.
//
// The writer still writes every entry itself, in the order of its file list;
// the pool only moves the expensive part (reading, CRC, deflate) onto worker
// threads. Each file is compressed by one worker with its own compressor, so
// its bytes are exactly those the writer's own compressor would make, and the
// archive is the same at every thread count.
//
// A job is a line of the file list. Workers take jobs in list order, at most
// `window` of them past the one the writer is at. A job's output waits in
// memory up to `memoryPerJob` bytes, and that of all jobs together up to
// `memoryTotal` (the head job, which the writer is draining, is not held to
// that); beyond that it goes to an unnamed scratch file in the
// archive's temporary directory, from which the writer copies it when the
// job's turn comes. Memory therefore stays bounded whatever the file sizes and
// the window: a 4 GB file in flight costs its scratch file, not 4 GB of memory.
//
// The writer thread sees a job through Wait... calls that return only for the
// job at the head, once it is finished or has a block of output ready (so the
// writer wakes once for a small file, not for every piece); while it waits it
// calls the `idle` callback at least every kEventInterval (zip_ui.h: events,
// cancellation), also between the blocks of a job's output it writes.
// Rather than wait, it compresses the next small file no worker has taken
// yet itself: `threads` counts the writer, which runs threads - 1 workers
// beside it, so that N threads keep N processors busy and the writer never
// waits for a processor a worker holds.
//
// With splitDeflate, a file of kSplitFileLeast bytes or more is compressed
// as pieces (DeflateSplit in deflate_compress.h): the thread that runs its
// job reads it piece by piece and queues the pieces; idle workers take a
// queued piece before a new file, and the writer takes one rather than wait;
// the job's own thread compresses pieces too while the oldest of its pieces
// is not done, and passes the outputs on in order. At most
// kPiecesPerThread * threads pieces are read and not yet passed on, over all
// files, besides one for each file being split.
// Destroying the pool stops every worker within one read of at most 64 KB.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zip/codec/deflate_compress.h"

namespace vantrel::zip {

// One file for the pool.
struct TPackRequest {
  size_t line = 0;    // the line of the file list
  std::string path;   // the file as the list names it
  bool store = false; // written as plain bytes (level 0, no-compress patterns)
  // Its size when the list was made: the writer compresses a small file
  // itself rather than wait (UINT64_MAX: not known, left to the workers).
  uint64_t size = UINT64_MAX;
};

// How a worker met the file.
enum class TPackOpen {
  Pending,    // not opened yet
  Opened,     // a regular file, being read (st is valid)
  Elsewhere,  // anything else (gone, unreadable, a link to store), or not taken by a
              // worker yet: the writer opens it itself
  Refused,    // the archive being updated or the output itself: left out
};

class TPackJob;

// Files from this size (at opening) on are split when split deflate is on,
// by the pool and by the writer's own compressing alike, so that the archive
// is the same at every thread count.
inline constexpr uint64_t kSplitFileLeast = 4 * kSplitPiece;

struct TPackOptions {
  int threads = 2;
  // The writer compresses files too while it would wait, and a head no
  // worker has taken is its own; threads counts it (threads - 1 workers, at
  // least one). false: `threads` workers, the writer only writes.
  bool writerWorks = true;
  int level = 6;                      // 1-9, for files not stored
  size_t window = 4;                  // jobs in flight past the head (at least 1)
  size_t memoryPerJob = 4u << 20;     // output held in memory per job before it spills
  size_t memoryTotal = 16u << 20;     // the same for all jobs together (not binding the head)
  std::string scratchDirectory;       // where the scratch files are made
  bool storeLinks = false;            // links are left to the writer (Elsewhere)
  // Files that are never read: (device, inode) pairs.
  std::vector<std::pair<uint64_t, uint64_t>> refused;
  // The most bytes read of a file whose size at opening is below
  // zip64Threshold (the rest of a file that grew is left out).
  uint64_t zip64Threshold = UINT64_MAX;
  // Files of kSplitFileLeast bytes or more compressed as pieces on every
  // thread (the bytes of DeflateSplit).
  bool splitDeflate = false;
  // Called on the thread that ran a job (a worker's or the writer's) when it
  // is done with it (finished, failed or dropped), with the job's line;
  // nothing when empty.
  std::function<void(size_t line)> jobEnded;
};

// What a finished job tells the writer.
struct TPackResult {
  int64_t read = 0;        // bytes read of the file
  uint32_t crc = 0;        // their CRC-32
  TDeflateResult deflate;  // method, compressed size, attributes, flags (stored files: method 0)
  struct stat after {};    // the file as it was when reading ended
  bool afterValid = false;
};

class TPackPool {
 public:
  TPackPool(std::vector<TPackRequest> requests, TPackOptions options);
  ~TPackPool();
  TPackPool(const TPackPool&) = delete;
  TPackPool& operator=(const TPackPool&) = delete;

  // Whether `line` is the head job (the next one the writer takes).
  bool IsHead(size_t line) const;

  // Waits until the head job has opened its file and, when it has, until its
  // first block of output is ready or the job is finished; st receives the
  // file's state at opening when the result is Opened. A head no worker has
  // taken is left to the writer (Elsewhere).
  TPackOpen WaitOpened(struct stat& st, const std::function<void()>& idle);

  // Hands the head job's output to `write` as it comes, calling
  // progress(bytes read so far) when that moves and idle at least every
  // kEventInterval; returns the job's result, or rethrows what stopped the worker
  // (a read error, a full disk for the scratch file).
  TPackResult Drain(const std::function<void(const uint8_t*, size_t)>& write,
                    const std::function<void(int64_t)>& progress,
                    const std::function<void()>& idle);

  // Drops the head job (finished or not) and lets the workers take the next.
  void PopHead();

  // The compressed output held in memory by all jobs, in bytes.
  size_t MemoryHeld() const { return memoryHeld_.load(std::memory_order_relaxed); }
  // The files the writer compressed itself so far.
  size_t RunByWriter() const { return runByWriter_; }

  // Files up to this size (when the list was made) are compressed by the
  // writer while it would wait (a second or so at the slowest level, events
  // going on meanwhile), so that a row of large files keeps every thread
  // busy; larger ones hold up the head's output too long.
  static constexpr uint64_t kMostForWriter = 16u << 20;
  // How many windows ahead of the head the writer may take small files.
  static constexpr size_t kWriterReach = 8;
  // Pieces of split files in flight for each thread.
  static constexpr size_t kPiecesPerThread = 2;

 private:
  void Work();
  // Takes the next job within the window (for the writer: only a small
  // one); null when there is none to take.
  std::shared_ptr<TPackJob> Take(bool forWriter);
  // Moves next_ to the first job neither popped nor taken (under mutex_).
  void SkipTaken();
  // Runs a job taken and marks it finished; poll (may be null) is called
  // between reads at least every kEventInterval.
  void Run(TPackJob& job, TDeflateCompressor& compressor, const std::function<void()>* poll = nullptr);
  void RunJob(TPackJob& job, TDeflateCompressor& compressor, const std::function<void()>* poll);
  // Writer side: compresses the next file it may take instead of waiting,
  // calling idle as it goes; true when there was one.
  bool RunOneHere(const std::function<void()>& idle);

  struct TSplitRun;
  struct TSplitTask;
  // Compresses the job's file as pieces on every thread that is free.
  TDeflateResult RunSplit(TPackJob& job, TDeflateCompressor& compressor, TDeflateSource& source,
                          TDeflateSink& sink, const std::function<void()>* poll);
  // The oldest queued piece, or null.
  std::shared_ptr<TSplitTask> TakePiece();
  // Compresses a piece taken and marks it done; one stopped by `poll` (the
  // writer's events) is queued again and the stop passed on.
  void CompressPiece(const std::shared_ptr<TSplitTask>& task, TDeflateCompressor& compressor,
                     const std::function<void()>* poll);

  TPackOptions options_;
  // Output in memory of all jobs; before jobs_, which count it down as they go.
  std::atomic<size_t> memoryHeld_{0};
  std::vector<std::shared_ptr<TPackJob>> jobs_;
  mutable std::mutex mutex_;
  std::condition_variable workAvailable_;
  size_t head_ = 0;  // the job the writer is at
  size_t next_ = 0;  // the next job a worker takes
  std::deque<std::shared_ptr<TSplitTask>> pieces_;  // queued, oldest first
  size_t piecesInFlight_ = 0;                        // read and not passed on
  std::atomic<bool> stop_{false};
  std::unique_ptr<TDeflateCompressor> writerCompressor_;  // made when first needed
  size_t runByWriter_ = 0;                                // writer's thread only
  std::vector<std::thread> workers_;
};

// The number of threads "all" stands for: the processors this process may
// run on (at least 1).
int AvailableProcessors();

}  // namespace vantrel::zip
