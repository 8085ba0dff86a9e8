// Fuzz target: inflate. The first byte picks the input block size (so refills
// fall anywhere in the stream); the rest is the raw deflate stream. zlib is
// the oracle: wherever it decodes a complete stream, ours must produce the
// same bytes.
#include <zlib.h>

#include "tests/fuzz/fuzz_decode_support.h"

using namespace vantrel::zip;

namespace {

// zlib's raw inflate: true for a complete stream, with its size and CRC.
bool ZlibDecodes(const uint8_t* data, size_t size, uint64_t limit, uint64_t& total, uint32_t& crc) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  uint8_t buf[65536];
  int r;
  crc = 0;
  do {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    r = inflate(&z, Z_NO_FLUSH);
    crc = static_cast<uint32_t>(crc32(crc, buf, static_cast<uInt>(sizeof buf - z.avail_out)));
  } while (r == Z_OK && z.total_out <= limit);
  total = z.total_out;
  inflateEnd(&z);
  return r == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const size_t kBlocks[8] = {1, 3, 8, 16, 17, 255, 4096, kBlockSize};
  const size_t block = kBlocks[data[0] & 7];
  auto buf = fuzz::FuzzBuffers();
  fuzz::TFuzzInput in(data + 1, size - 1, block);
  // Deflate expands at most 1032:1 (258 bytes from two bits, plus headers).
  const uint64_t limit = uint64_t{1032} * 8 * (size + 64);
  fuzz::TFuzzOutput out(limit);
  const TDecodeResult r = Inflate(in, out, *buf);
  fuzz::CheckResult(r);
  uint64_t total = 0;
  uint32_t crc = 0;
  if (ZlibDecodes(data + 1, size - 1, limit, total, crc) &&
      (r != TDecodeResult::Ok || total != out.total() || crc != out.crc()))
    std::abort();
  return 0;
}
