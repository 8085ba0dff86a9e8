// Fuzz target: PPMd (method 98). Byte 0: bits 0-2 the input block size; bit 3
// keeps the memory size the stream's header names, else it becomes 1 MB (the
// smallest model fills up soonest, and each run stays cheap). Bytes 1-3: the
// declared size. The rest is the entry's data, header first.
//
// There is no second decoder to compare with, so the stream is decoded twice,
// in blocks of the chosen size and in one block: result, length and CRC must
// agree (the model may depend on nothing but the stream), and neither run may
// give more than the declared size. (The declared size is capped at 256 times
// the data, more than the seeds need, so that garbage does not decode for
// megabytes on end.)
#include <algorithm>

#include "tests/fuzz/fuzz_decode_support.h"

using namespace vantrel::zip;

namespace {

struct TRun {
  TDecodeResult result;
  uint64_t total;
  uint32_t crc;
};

TRun Run(const uint8_t* data, size_t size, size_t block, uint64_t declared) {
  auto buf = fuzz::FuzzBuffers();
  fuzz::TFuzzInput in(data, size, block);
  fuzz::TFuzzOutput out(declared);
  std::string problem;
  const TDecodeResult r = UnPpmd(in, out, *buf, declared, problem);
  if (r == TDecodeResult::OutOfMemory || (r == TDecodeResult::Unsupported) == problem.empty()) std::abort();
  return {r, out.total(), out.crc()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  static const size_t kBlocks[8] = {1, 2, 5, 64, 1000, 4096, 10000, kBlockSize};
  const size_t block = kBlocks[data[0] & 7];
  const uint64_t declared =
      std::min<uint64_t>(uint64_t{data[1]} | uint64_t{data[2]} << 8 | uint64_t{data[3]} << 16, 256 * size);
  std::vector<uint8_t> stream(data + 4, data + size);
  if (!(data[0] & 8)) stream[1] &= 0xF0, stream[0] &= 0x0F;  // 1 MB
  const TRun a = Run(stream.data(), stream.size(), block, declared);
  const TRun b = Run(stream.data(), stream.size(), kBlockSize, declared);
  if (a.result != b.result || a.total != b.total || a.crc != b.crc) std::abort();
  return 0;
}
