// copy_pool.cpp - the helpers behind TCopyPool.
#include "fileops/copy_pool.h"

#include <algorithm>

namespace vantrel::fileops {

TCopyPool::TCopyPool(unsigned helpers, uint64_t sizeLimit, uint32_t creationMask)
    : sizeLimit_(sizeLimit),
      creationMask_(creationMask),
      keepGoing_([this](uint64_t) { return !stopping_.load(std::memory_order_relaxed); }) {
  for (unsigned i = 0; i < helpers; ++i) threads_.emplace_back([this] { Work(); });
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

void TCopyPool::Submit(const std::shared_ptr<TBatch>& batch) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(batch);
  }
  // Without helpers nobody listens, and a busy helper finds it anyway.
  if (!threads_.empty()) queued_.notify_one();
}

void TCopyPool::Finish(TBatch& batch) {
  std::unique_lock lock(mutex_);
  // Waiting would only leave this thread idle: while the batch is not done,
  // it writes one nobody has begun, this one first.
  while (batch.state != TBatch::State::Finished) {
    std::shared_ptr<TBatch> next;
    if (batch.state == TBatch::State::Queued) {
      const auto it = std::find_if(queue_.begin(), queue_.end(),
                                   [&](const std::shared_ptr<TBatch>& b) { return b.get() == &batch; });
      next = *it;
      queue_.erase(it);
    } else if (!queue_.empty()) {
      next = std::move(queue_.front());
      queue_.pop_front();
    } else {
      finished_.wait(lock, [&] { return batch.state == TBatch::State::Finished; });
      return;
    }
    next->state = TBatch::State::Running;
    lock.unlock();
    Write(*next);
    lock.lock();
    next->state = TBatch::State::Finished;
  }
}

void TCopyPool::Stop() {
  std::deque<std::shared_ptr<TBatch>> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(queue_);
    for (const auto& batch : dropped) {
      for (TTask& task : batch->tasks) task.result = {platform::CopyStatus::Stopped, 0};
      batch->state = TBatch::State::Finished;
    }
  }
  finished_.notify_all();
}

void TCopyPool::Work() {
  for (;;) {
    std::shared_ptr<TBatch> batch;
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [&] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      batch = std::move(queue_.front());
      queue_.pop_front();
      batch->state = TBatch::State::Running;
    }
    Write(*batch);
    {
      std::lock_guard lock(mutex_);
      batch->state = TBatch::State::Finished;
    }
    finished_.notify_all();
  }
}

void TCopyPool::Write(TBatch& batch) {
  for (TTask& task : batch.tasks) {
    if (stopping_.load(std::memory_order_relaxed)) {
      task.result = {platform::CopyStatus::Stopped, 0};
      continue;
    }
    platform::SourceFile source;
    if (source.OpenAt(task.dirs->source.fd(), task.name.c_str()) != 0 || source.info().size > sizeLimit_) {
      task.declined = true;
      continue;
    }
    task.size = source.info().size;
    task.result = platform::CopyToUnnamedAt(source, task.dirs->dest.fd(), keepGoing_, creationMask_, task.fd);
  }
}

}  // namespace vantrel::fileops
