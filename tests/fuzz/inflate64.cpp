// Fuzz target: Deflate64. The first byte picks the input block size; the rest
// is the raw stream.
#include "tests/fuzz/fuzz_decode_support.h"

using namespace vantrel::zip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const size_t kBlocks[8] = {1, 3, 8, 16, 17, 255, 4096, kBlockSize};
  fuzz::TFuzzInput in(data + 1, size - 1, kBlocks[data[0] & 7]);
  // A match of 65538 bytes takes at least 18 bits (a one-bit code, 16 extra
  // bits, a one-bit distance code): no stream expands more than 3641:1.
  fuzz::TFuzzOutput out(uint64_t{3641} * 8 * (size + 64));
  fuzz::CheckResult(Inflate64(in, out));
  return 0;
}
