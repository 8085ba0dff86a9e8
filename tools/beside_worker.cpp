// beside_worker.cpp - the worker's thread and its hand-over.
#include "tools/beside_worker.h"

namespace vantrel::tools {

TBesideWorker::TBesideWorker() : thread_([this] { Loop(); }) {}

TBesideWorker::~TBesideWorker() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TBesideWorker::Run(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    work_ = std::move(work);
    busy_ = true;
  }
  changed_.notify_all();
}

void TBesideWorker::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
}

void TBesideWorker::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || (busy_ && work_); });
    if (quit_) return;
    std::function<void()> work = std::move(work_);
    work_ = nullptr;
    lock.unlock();
    work();
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace vantrel::tools
