// copy_pool.h - a few threads that write the data of small new files.
//
// Copying a tree of many small files is mostly system calls per file, which
// one thread makes one after another while the other cores wait. The copy
// pass hands each small file that goes to a free name in a directory it has
// just made to this pool: a worker writes the data, permission bits and times
// into an unnamed file in the destination directory. Everything the user sees
// stays on the engine's thread and in the list's order: the engine gives each
// finished file its name, raises its progress event and asks its questions as
// it takes the tasks back one by one, first in first out. A task never taken
// back leaves nothing behind (its unnamed file goes away when closed).
#pragma once

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
  // One file's copy.
  struct TTask {
    size_t index = 0;  // the item in the engine's list
    uint64_t size = 0;
    std::unique_ptr<platform::SourceFile> source;  // open; closed by the worker
    std::string dir;   // the destination directory
    std::string dest;  // the destination path
    double bytesAfter = 0;  // the pass's bytes once this file counts
    // Written by the worker before `finished`.
    platform::CopyResult result;
    int fd = -1;  // the unnamed copy, when result is Done
    bool finished = false;
  };

  // `threads` workers; `creationMask` as for CopyOpenFile.
  TCopyPool(unsigned threads, uint32_t creationMask);
  // Stops the workers; tasks still queued are dropped unwritten.
  ~TCopyPool();
  TCopyPool(const TCopyPool&) = delete;
  TCopyPool& operator=(const TCopyPool&) = delete;

  void Submit(const std::shared_ptr<TTask>& task);
  // Waits until `task` is finished (written, failed, or dropped by Stop).
  void Wait(TTask& task);
  // Drops the queued tasks and asks running ones to stop between blocks;
  // each ends finished with the result Stopped.
  void Stop();

 private:
  void Work();

  uint32_t creationMask_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<TTask>> queue_;
  bool stopping_ = false;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace vantrel::fileops
