// Fuzz target: explode. Byte 0: bit 0 8 KB window, bit 1 literal tree, bit 2
// compressed size above 200000 (wider distance table), bits 3-5 the input
// block size. Bytes 1-2: the declared uncompressed size. The rest is the data.
#include "tests/fuzz/fuzz_decode_support.h"

using namespace vantrel::zip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const size_t kBlocks[8] = {1, 2, 7, 64, 1000, 4096, 10000, kBlockSize};
  const bool window8k = data[0] & 1;
  const bool literalTree = data[0] & 2;
  const uint64_t compressedSize = (data[0] & 4) ? 300000 : size - 3;
  const size_t block = kBlocks[(data[0] >> 3) & 7];
  const uint64_t uncompressed = (uint64_t{data[1]} | uint64_t{data[2]} << 8) * 4;
  auto buf = fuzz::FuzzBuffers();
  fuzz::TFuzzInput in(data + 3, size - 3, block);
  fuzz::TFuzzOutput out(uncompressed);
  fuzz::CheckResult(Explode(in, out, *buf, window8k, literalTree, compressedSize, uncompressed));
  return 0;
}
