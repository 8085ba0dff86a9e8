// unreduce.cpp - decoding of reduced entries (methods 2 to 5).
//
// Two stages. First, follower sets: for every byte value from 255 down to 0 a
// 6-bit count and that many 8-bit followers. Each byte is then coded relative
// to the previous one: with an empty follower set as 8 plain bits; otherwise a
// 1 bit and 8 plain bits, or a 0 bit and the index into the set in as few bits
// as hold the set's largest index (at least one).
//
// Second, the byte stream is expanded: 144 (DLE) introduces a match unless it
// is followed by 0 (a literal 144). The byte after DLE holds the length in its
// low 8 - factor bits (all ones: one more byte adds to it) and the distance's
// high factor bits; the next byte is the distance's low 8 bits. A match copies
// length + 3 bytes from distance + 1 back; bytes before the start read as 0.
// Decoding ends after the declared size.
#include <cstring>

#include "zip/codec/decode_io.h"
#include "zip/codec/legacy_bits.h"

namespace vantrel::zip {

namespace {

constexpr size_t kWindow = 16384;
constexpr uint8_t kDle = 144;

// Bits of a follower index for a set of n entries.
unsigned IndexBits(unsigned n) {
  unsigned bits = 1;
  while ((1u << bits) < n) ++bits;
  return bits;
}

}  // namespace

TDecodeResult Unreduce(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf, int factor,
                       uint64_t uncompressedSize) {
  if (factor < 1 || factor > 4) return TDecodeResult::DataError;
  if (uncompressedSize == 0) return TDecodeResult::Ok;

  TLsbBitReader bits(in);
  uint8_t followers[256][64];
  uint8_t count[256];
  for (int j = 255; j >= 0; --j) {
    count[j] = static_cast<uint8_t>(bits.Get(6));
    for (unsigned k = 0; k < count[j]; ++k) followers[j][k] = static_cast<uint8_t>(bits.Get(8));
  }
  if (bits.Overrun()) return TDecodeResult::DataError;

  const unsigned lengthMask = 0xFFu >> factor;
  const unsigned distShift = 8 - static_cast<unsigned>(factor);
  uint8_t* const window = buf.window;
  std::memset(window, 0, kWindow);  // bytes before the start read as zeros
  TBlockWriter writer(out, buf.output);
  uint64_t produced = 0;
  auto put = [&](uint8_t b) {
    window[produced & (kWindow - 1)] = b;
    writer.Put(b);
    ++produced;
  };

  unsigned last = 0;
  int state = 0;
  unsigned v = 0;
  unsigned len = 0;
  TDecodeResult result = TDecodeResult::Ok;
  while (produced < uncompressedSize) {
    unsigned c;
    const unsigned n = count[last];
    if (n == 0 || bits.Get(1)) {
      c = bits.Get(8);
    } else {
      const unsigned i = bits.Get(IndexBits(n));
      if (i >= n) {
        result = TDecodeResult::DataError;
        break;
      }
      c = followers[last][i];
    }
    if (bits.Overrun()) {
      result = TDecodeResult::DataError;
      break;
    }
    last = c;

    switch (state) {
      case 0:
        if (c == kDle) {
          state = 1;
        } else {
          put(static_cast<uint8_t>(c));
        }
        break;
      case 1:
        if (c == 0) {
          put(kDle);
          state = 0;
        } else {
          v = c;
          len = v & lengthMask;
          state = len == lengthMask ? 2 : 3;
        }
        break;
      case 2:
        len += c;
        state = 3;
        break;
      default: {
        const uint64_t back = ((static_cast<uint64_t>(v >> distShift)) << 8) + c + 1;  // <= 4096
        for (unsigned k = 0; k < len + 3 && produced < uncompressedSize; ++k)
          put(window[(produced - back) & (kWindow - 1)]);
        state = 0;
        break;
      }
    }
  }
  writer.Flush();
  return result;
}

}  // namespace vantrel::zip
