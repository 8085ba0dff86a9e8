// copy_pool.cpp - the helpers behind TCopyPool.
#include "fileops/copy_pool.h"

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
  batch->done.reset(new std::atomic<bool>[batch->tasks.size()]);
  for (size_t i = 0; i < batch->tasks.size(); ++i) batch->done[i].store(false, std::memory_order_relaxed);
  if (threads_.empty()) return;  // the caller writes everything in Await
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(batch);
  }
  queued_.notify_one();
}

void TCopyPool::Await(TBatch& batch, size_t i, const std::deque<std::shared_ptr<TBatch>>& later) {
  if (batch.done[i].load(std::memory_order_acquire)) return;
  while (WriteNext(batch))
    if (batch.done[i].load(std::memory_order_acquire)) return;
  for (const auto& other : later) {
    if (other.get() == &batch) continue;
    while (WriteNext(*other))
      if (batch.done[i].load(std::memory_order_acquire)) return;
  }
  // Everything is begun: task i is being written by a helper.
  std::unique_lock lock(mutex_);
  waiting_.fetch_add(1);
  finished_.wait(lock, [&] { return batch.done[i].load(); });
  waiting_.fetch_sub(1);
}

void TCopyPool::Finish(TBatch& batch) {
  for (size_t i = 0; i < batch.tasks.size(); ++i) Await(batch, i, {});
}

void TCopyPool::Stop() {
  stopping_ = true;
  std::lock_guard lock(mutex_);
  queue_.clear();  // their files are claimed, unwritten, by whoever awaits them
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
    }
    while (WriteNext(*batch)) {
    }
  }
}

bool TCopyPool::WriteNext(TBatch& batch) {
  const size_t k = batch.next.fetch_add(1);
  if (k >= batch.tasks.size()) return false;
  Write(batch.tasks[k]);
  // Published before anyone waiting is looked for, who looks at it after
  // saying it waits: one of the two sees the other.
  batch.done[k].store(true);
  if (waiting_.load() > 0) {
    std::lock_guard lock(mutex_);
    finished_.notify_all();
  }
  return true;
}

void TCopyPool::Write(TTask& task) {
  if (stopping_.load(std::memory_order_relaxed)) {
    task.result = {platform::CopyStatus::Stopped, 0};
    return;
  }
  platform::SourceFile source;
  if (source.OpenAt(task.dirs->source.fd(), task.name.c_str()) != 0 || source.info().size > sizeLimit_) {
    task.declined = true;
    return;
  }
  task.size = source.info().size;
  task.result = platform::CopyToUnnamedAt(source, task.dirs->dest.fd(), keepGoing_, creationMask_, task.fd);
}

}  // namespace vantrel::fileops
