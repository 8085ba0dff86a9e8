// The writer thread beside a decoder: every byte reaches the sink once and in
// order, the CRC is that of the bytes, and a failing sink stops the decoder
// within the slots in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <stdexcept>
#include <string>

#include "tests/zip/zip_writer_support.h"
#include "zip/block_writer.h"
#include "zip/codec/crc32.h"

namespace vantrel::zip {
namespace {

constexpr size_t kSlot = 4096;  // small slots: boundaries come every few puts

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(BlockWriter, EveryByteInOrderAndItsCrcAroundSlotBoundaries) {
  struct TCase {
    size_t size;
    size_t chunk;  // the decoder's block size
  };
  const TCase cases[] = {
      {0, 100},
      {1, 100},
      {kSlot - 1, 100},
      {kSlot, kSlot},
      {kSlot + 1, 1},
      {TBlockWriter::kSlots * kSlot, 3000},              // every slot once, exactly
      {TBlockWriter::kSlots * kSlot + 1, 3000},          // and the first again
      {9 * kSlot + 17, 32768},                           // a block spanning several slots
      {40 * kSlot + 5, 777},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes in blocks of " + std::to_string(c.chunk));
    const std::string data = testing::RandomBytes(c.size, static_cast<uint32_t>(c.size + c.chunk));
    std::string got;
    TBlockWriter writer([&](const uint8_t* p, size_t n) {
      EXPECT_LE(n, kSlot);
      got.append(reinterpret_cast<const char*>(p), n);
    }, kSlot);
    for (size_t at = 0; at < data.size(); at += c.chunk)
      writer.Put(Bytes(data) + at, std::min(c.chunk, data.size() - at));
    EXPECT_EQ(writer.Finish(), Crc32(Bytes(data), data.size()));
    EXPECT_TRUE(got == data);
  }
}

struct TSinkFull : std::runtime_error {
  TSinkFull() : std::runtime_error("no space left") {}
};

TEST(BlockWriter, AFailingSinkStopsTheDecoderWithinTheSlotsInFlight) {
  // The sink fails on its nth slot; the decoder learns it at a Put or at
  // Finish, and never puts more than the slots in flight past the failure.
  for (size_t failAt : {0u, 1u, 3u, 4u, 10u}) {
    SCOPED_TRACE(failAt);
    std::atomic<size_t> calls{0};
    std::atomic<bool> calledAfter{false};
    TBlockWriter writer([&](const uint8_t*, size_t) {
      const size_t call = calls++;
      if (call > failAt) calledAfter = true;
      if (call == failAt) throw TSinkFull();
    }, kSlot);
    const std::string block(1000, 'x');
    size_t put = 0;
    bool thrown = false;
    try {
      for (; put < 1000 * kSlot; put += block.size()) writer.Put(Bytes(block), block.size());
      writer.Finish();
    } catch (const TSinkFull&) {
      thrown = true;
    }
    EXPECT_TRUE(thrown);
    EXPECT_FALSE(calledAfter) << "the writer went on after its sink failed";
    EXPECT_LE(put, (failAt + 2 + TBlockWriter::kSlots) * kSlot) << "the decoder went on";
  }
}

TEST(BlockWriter, AFailureInTheLastSlotIsThrownByFinish) {
  TBlockWriter writer([&](const uint8_t*, size_t) { throw TSinkFull(); }, kSlot);
  const std::string data(100, 'y');
  writer.Put(Bytes(data), data.size());  // less than a slot: nothing handed over yet
  EXPECT_THROW(writer.Finish(), TSinkFull);
}

TEST(BlockWriter, DroppedUnfinishedItStopsWithoutWritingTheRest) {
  // A slow sink and every slot in flight: the destructor returns after the
  // slot being written, and the others are dropped.
  std::atomic<size_t> calls{0};
  {
    TBlockWriter writer([&](const uint8_t*, size_t) {
      ++calls;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }, kSlot);
    const std::string data(TBlockWriter::kSlots * kSlot, 'z');
    writer.Put(Bytes(data), data.size());
  }
  EXPECT_GE(calls.load(), 1u) << "Put waits for a free slot when all are in flight";
  EXPECT_LT(calls.load(), TBlockWriter::kSlots);
}

}  // namespace
}  // namespace vantrel::zip
