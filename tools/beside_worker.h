// beside_worker.h - one piece of work at a time on a thread of its own, so
// that a comparison lists one side while the caller lists the other.
//
// Run hands the work over and returns at once; Wait returns when it is
// done, and everything it wrote is then the caller's to read. The thread
// lives as long as the worker, so a walk through many directories pays for
// one thread, not one a directory.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vantrel::tools {

class TBesideWorker {
 public:
  TBesideWorker();
  ~TBesideWorker();
  TBesideWorker(const TBesideWorker&) = delete;
  TBesideWorker& operator=(const TBesideWorker&) = delete;

  // Starts `work`; the one before must have been waited for.
  void Run(std::function<void()> work);
  void Wait();

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> work_;
  bool busy_ = false;
  bool quit_ = false;
  std::thread thread_;  // last: starts once the rest is there
};

}  // namespace vantrel::tools
