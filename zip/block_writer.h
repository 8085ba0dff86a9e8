// block_writer.h - the CRC and the writing of one entry's output on a thread
// of their own, beside the decoder.
//
// The decoder copies its output blocks into a few large slots (memory stays
// bounded: kSlots x kSlotSize). When a slot is full it goes to the writer
// thread, which adds it to the CRC and hands it to the sink (the output
// file), while the decoder fills the next slot. The decoder waits only when
// every slot is in flight.
//
// A failure of the sink (a full disk, a write error) is kept and thrown on
// the decoder's thread at its next Put() or at Finish(), so the decoder stops
// within one slot of the failure; the writer takes no further slots after
// it. Dropping the object without Finish() (the decoder threw, the run was
// cancelled) stops the writer after the slot it is on and discards the rest.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vantrel::zip {

class TBlockWriter {
 public:
  // Takes n bytes; may throw, which stops the writer.
  using TSink = std::function<void(const uint8_t* data, size_t n)>;

  static constexpr size_t kSlots = 4;
  static constexpr size_t kSlotSize = size_t{1} << 20;
  // Entries from this size up are worth a second thread.
  static constexpr uint64_t kThreshold = uint64_t{8} << 20;

  explicit TBlockWriter(TSink sink, size_t slotSize = kSlotSize);
  ~TBlockWriter();
  TBlockWriter(const TBlockWriter&) = delete;
  TBlockWriter& operator=(const TBlockWriter&) = delete;

  // Copies n bytes into the current slot, handing over slots as they fill.
  // Throws what the sink threw.
  void Put(const uint8_t* data, size_t n);

  // Hands over the last partial slot, waits for the writer and returns the
  // finished CRC-32 of everything put. Throws what the sink threw.
  uint32_t Finish();

 private:
  void HandOver();
  void RethrowFailure();
  void Work();

  TSink sink_;
  const size_t slotSize_;
  std::unique_ptr<uint8_t[]> memory_;
  size_t sizes_[kSlots] = {};  // the bytes each slot holds

  // Decoder's side: the slot it fills and how much it holds.
  size_t filling_ = 0;
  size_t filled_ = 0;

  std::mutex mutex_;
  std::condition_variable ready_;  // a slot was handed over, or stop
  std::condition_variable freed_;  // a slot was written, or the writer failed
  size_t handed_ = 0;   // slots handed over so far
  size_t written_ = 0;  // slots written so far
  bool stop_ = false;
  std::exception_ptr failure_;
  uint32_t crc_ = 0xFFFFFFFF;  // the writer's; read after it is done with it

  std::thread thread_;
};

}  // namespace vantrel::zip
