#include "zip/block_writer.h"

#include <algorithm>
#include <cstring>

#include "zip/codec/crc32.h"

namespace vantrel::zip {

TBlockWriter::TBlockWriter(TSink sink, size_t slotSize)
    : sink_(std::move(sink)), slotSize_(slotSize), memory_(new uint8_t[kSlots * slotSize]) {
  thread_ = std::thread([this] { Work(); });
}

TBlockWriter::~TBlockWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  ready_.notify_one();
  thread_.join();
}

void TBlockWriter::Put(const uint8_t* data, size_t n) {
  while (n > 0) {
    const size_t take = std::min(n, slotSize_ - filled_);
    std::memcpy(memory_.get() + filling_ * slotSize_ + filled_, data, take);
    filled_ += take;
    data += take;
    n -= take;
    if (filled_ == slotSize_) HandOver();
  }
}

uint32_t TBlockWriter::Finish() {
  if (filled_ > 0) HandOver();
  std::unique_lock lock(mutex_);
  freed_.wait(lock, [&] { return written_ == handed_ || failure_; });
  if (failure_) std::rethrow_exception(failure_);
  return ~crc_;
}

// Gives the current slot to the writer and waits for a free one.
void TBlockWriter::HandOver() {
  {
    std::lock_guard lock(mutex_);
    sizes_[filling_] = filled_;
    ++handed_;
  }
  ready_.notify_one();
  {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return handed_ - written_ < kSlots || failure_; });
    if (failure_) std::rethrow_exception(failure_);
  }
  filling_ = (filling_ + 1) % kSlots;
  filled_ = 0;
}

void TBlockWriter::Work() {
  for (;;) {
    size_t slot = 0, size = 0;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [&] { return stop_ || written_ < handed_; });
      if (written_ == handed_ || stop_) return;
      slot = written_ % kSlots;
      size = sizes_[slot];
    }
    // The slot is the writer's until written_ moves past it.
    const uint8_t* data = memory_.get() + slot * slotSize_;
    try {
      crc_ = Crc32Update(crc_, data, size);
      sink_(data, size);
    } catch (...) {
      {
        std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
      }
      freed_.notify_one();
      return;
    }
    {
      std::lock_guard lock(mutex_);
      ++written_;
    }
    freed_.notify_one();
  }
}

}  // namespace vantrel::zip
