// Fuzz target: unreduce. Byte 0: bits 0-1 the factor minus one, bits 2-4 the
// input block size. Bytes 1-2: the declared uncompressed size. Then the data.
#include "tests/fuzz/fuzz_decode_support.h"

using namespace vantrel::zip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const size_t kBlocks[8] = {1, 2, 7, 64, 1000, 4096, 10000, kBlockSize};
  const int factor = (data[0] & 3) + 1;
  const size_t block = kBlocks[(data[0] >> 2) & 7];
  const uint64_t uncompressed = (uint64_t{data[1]} | uint64_t{data[2]} << 8) * 4;
  auto buf = fuzz::FuzzBuffers();
  fuzz::TFuzzInput in(data + 3, size - 3, block);
  fuzz::TFuzzOutput out(uncompressed);
  fuzz::CheckResult(Unreduce(in, out, *buf, factor, uncompressed));
  return 0;
}
