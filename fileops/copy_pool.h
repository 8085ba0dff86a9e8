// copy_pool.h - a few threads that write the data of small new files.
//
// Copying a tree of many small files is mostly system calls per file, which
// one thread makes one after another while the other cores wait. The copy
// pass hands the small files that go to free names in directories it has
// just made to this pool, in batches of consecutive files: whoever writes a
// batch opens each source relative to its directory, and writes its data,
// permission bits and times into an unnamed file in the destination
// directory. Everything the user sees stays on the engine's thread and in
// the list's order: the engine gives each finished file its name, raises its
// progress event and asks its questions as it takes the files back one by
// one, first in first out. A file never taken back leaves nothing behind
// (its unnamed file goes away when closed).
//
// Batches keep the hand-over cheap: a helper wakes once for a batch rather
// than once for each file. Within a batch each file is claimed by whoever
// writes it, so the engine's thread, rather than wait for a file, writes the
// ones nobody has begun; with no helpers at all the pool is the engine's own
// way of copying small files.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/copyfile.h"

namespace vantrel::fileops {

class TCopyPool {
 public:
  // The source directory of a run of files and the destination directory
  // this copy made for them, held open.
  struct TDirs {
    platform::DirectoryHandle source;
    platform::DirectoryHandle dest;
  };

  // One file's copy.
  struct TTask {
    size_t index = 0;  // the item in the engine's list
    std::shared_ptr<const TDirs> dirs;
    std::string name;  // its entry name, the same in both directories
    uint64_t listedSize = 0;
    double bytesAfter = 0;  // the pass's bytes once this file counts, as listed
    // Written before the batch is finished.
    // Not opened as a regular file within the size limit (gone, replaced by
    // something else, unreadable, grown): left to the engine's usual way,
    // which examines and reports it as it would without the pool.
    bool declined = false;
    uint64_t size = 0;  // as examined through the open source
    platform::CopyResult result;
    int fd = -1;  // the unnamed copy, when result is Done
  };

  struct TBatch {
    std::vector<TTask> tasks;

   private:
    friend class TCopyPool;
    // Whoever writes a file of the batch claims it here first, in order.
    std::atomic<size_t> next{0};
    std::unique_ptr<std::atomic<bool>[]> done;  // per task, once Submit ran
  };

  // `helpers` threads besides the caller's; files larger than `sizeLimit`
  // are declined; `creationMask` as for CopyOpenFile.
  TCopyPool(unsigned helpers, uint64_t sizeLimit, uint32_t creationMask);
  // Stops the helpers; files not yet begun are not written.
  ~TCopyPool();
  TCopyPool(const TCopyPool&) = delete;
  TCopyPool& operator=(const TCopyPool&) = delete;

  // Hands `batch` over; its tasks stay as they are until the batch is done.
  void Submit(const std::shared_ptr<TBatch>& batch);
  // Returns once task `i` of `batch` is done. Waiting would only leave the
  // caller's thread idle, so meanwhile it writes the files nobody has begun,
  // those of `batch` first (task `i` among them, unless a helper has it),
  // then those of the batches in `later`. A helper that is not given a
  // processor for a while thus holds up at most the one file it is writing.
  void Await(TBatch& batch, size_t i, const std::deque<std::shared_ptr<TBatch>>& later);
  // Await for every task of `batch`.
  void Finish(TBatch& batch);
  // From now on a file not yet begun ends with the result Stopped, unwritten,
  // and running ones are asked to stop between blocks.
  void Stop();

 private:
  void Work();
  // Claims and writes the next file of `batch` nobody has begun; false when
  // every file of it has been claimed.
  bool WriteNext(TBatch& batch);
  void Write(TTask& task);

  const uint64_t sizeLimit_;
  const uint32_t creationMask_;
  const platform::CopyHook keepGoing_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<TBatch>> queue_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> waiting_{0};  // threads in Await's wait
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace vantrel::fileops
