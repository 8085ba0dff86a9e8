// Fuzz target: inflate. The first byte picks the input block size (so refills
// fall anywhere in the stream); the rest is the raw deflate stream.
#include "tests/fuzz/fuzz_decode_support.h"

using namespace vantrel::zip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const size_t kBlocks[8] = {1, 3, 8, 16, 17, 255, 4096, kBlockSize};
  const size_t block = kBlocks[data[0] & 7];
  auto buf = fuzz::FuzzBuffers();
  fuzz::TFuzzInput in(data + 1, size - 1, block);
  // Deflate expands at most 1032:1 (258 bytes from two bits, plus headers).
  fuzz::TFuzzOutput out(uint64_t{1032} * 8 * (size + 64));
  fuzz::CheckResult(Inflate(in, out, *buf));
  return 0;
}
