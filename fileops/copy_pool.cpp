// copy_pool.cpp - the workers behind TCopyPool.
#include "fileops/copy_pool.h"

namespace vantrel::fileops {

TCopyPool::TCopyPool(unsigned threads, uint32_t creationMask) : creationMask_(creationMask) {
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

TCopyPool::~TCopyPool() {
  Stop();
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  queued_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void TCopyPool::Submit(const std::shared_ptr<TTask>& task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(task);
  }
  queued_.notify_one();
}

void TCopyPool::Wait(TTask& task) {
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return task.finished; });
}

void TCopyPool::Stop() {
  std::deque<std::shared_ptr<TTask>> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(queue_);
    for (const auto& task : dropped) {
      task->result = {platform::CopyStatus::Stopped, 0};
      task->finished = true;
    }
  }
  finished_.notify_all();
  // The dropped tasks' sources close here, outside the lock.
  for (const auto& task : dropped) task->source.reset();
}

void TCopyPool::Work() {
  for (;;) {
    std::shared_ptr<TTask> task;
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [&] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    int fd = -1;
    const platform::CopyResult result = platform::CopyToUnnamed(
        *task->source, task->dir,
        [this](uint64_t) {
          std::lock_guard lock(mutex_);
          return !stopping_;
        },
        creationMask_, fd);
    task->source.reset();
    {
      std::lock_guard lock(mutex_);
      task->result = result;
      task->fd = fd;
      task->finished = true;
    }
    finished_.notify_all();
  }
}

}  // namespace vantrel::fileops
