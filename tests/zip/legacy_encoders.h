// legacy_encoders.h - encoders for the legacy ZIP methods, written for the
// tests: they make valid shrunk, reduced and imploded streams from any input so
// that every decoder runs on a fresh checkout and can be checked against other
// unzip programs. They favour exercising every code over compressing well.
#pragma once

#include <cstdint>
#include <vector>

namespace vantrel::zip::testing {

using TBytes = std::vector<uint8_t>;

// Bits least significant first, as the legacy formats and deflate store them.
class TBitWriter {
 public:
  void Bits(uint32_t value, int n) {
    for (int i = 0; i < n; ++i, value >>= 1, bit_ = (bit_ + 1) & 7) {  // n may pass 32: zeros
      if (bit_ == 0) bytes.push_back(0);
      bytes.back() |= static_cast<uint8_t>((value & 1) << bit_);
    }
  }
  // A Huffman code, most significant bit first.
  void Code(uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) Bits(code >> i & 1, 1);
  }
  void Align() { bit_ = 0; }
  TBytes bytes;

 private:
  int bit_ = 0;
};

// Method 1 (LZW, 9 to 13 bit codes). Emits a partial clear whenever the code
// table is full and, when clearEvery is set, after every clearEvery codes.
TBytes Shrink(const TBytes& in, unsigned clearEvery = 0);

// Methods 2 to 5: reduce with compression factor 1 to 4.
TBytes Reduce(const TBytes& in, int factor);

// Method 6: implode with an 8 KB (flag bit 1) or 4 KB window and with (flag
// bit 2) or without a literal tree.
TBytes Implode(const TBytes& in, bool window8k, bool literalTree);

// The method and general-purpose flags of a legacy variant; `Encode` picks
// the encoder for them.
struct TLegacyVariant {
  const char* name;
  uint16_t method;
  uint16_t flags;
};
inline constexpr TLegacyVariant kLegacyVariants[] = {
    {"shrink", 1, 0},     {"reduce1", 2, 0},    {"reduce2", 3, 0},    {"reduce3", 4, 0},
    {"reduce4", 5, 0},    {"implode4k2", 6, 0}, {"implode4k3", 6, 4}, {"implode8k2", 6, 2},
    {"implode8k3", 6, 6},
};
TBytes Encode(const TLegacyVariant& v, const TBytes& in);

}  // namespace vantrel::zip::testing
