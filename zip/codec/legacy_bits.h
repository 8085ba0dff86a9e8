// legacy_bits.h - the bit reader of the legacy decoders (shrink, reduce,
// implode): least significant bit first, one byte at a time from TDecodeInput.
//
// When the entry's data run out, zero bytes are supplied and counted, so a
// decoder may look ahead past the end (a table lookup wider than the last
// code); Overrun() tells whether any consumed bit was one of them.
#pragma once

#include <cstdint>

#include "zip/codec/decode_io.h"

namespace vantrel::zip {

class TLsbBitReader {
 public:
  explicit TLsbBitReader(TDecodeInput& in) : in_(in) {}

  // Holds at least n (at most 56) bits afterwards.
  void Need(unsigned n) {
    while (cnt_ < n) {
      int b = eof_ ? -1 : in_.NextByte();
      if (b < 0) {
        eof_ = true;
        ++pad_;
        b = 0;
      }
      buf_ |= static_cast<uint64_t>(b) << cnt_;
      cnt_ += 8;
    }
  }
  uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(buf_ & ((uint64_t{1} << n) - 1)); }
  uint64_t Raw() const { return buf_; }
  void Drop(unsigned n) {
    buf_ >>= n;
    cnt_ -= n;
  }
  uint32_t Get(unsigned n) {
    Need(n);
    const uint32_t v = Peek(n);
    Drop(n);
    return v;
  }
  // True once a consumed bit lay past the end of the entry's data.
  bool Overrun() const { return pad_ * 8 > cnt_; }

 private:
  TDecodeInput& in_;
  uint64_t buf_ = 0;
  unsigned cnt_ = 0;
  unsigned pad_ = 0;
  bool eof_ = false;
};

// Collects decoded bytes in the run's output buffer and hands each full
// 32768-byte block to the sink.
class TBlockWriter {
 public:
  TBlockWriter(TDecodeOutput& out, uint8_t* buffer) : out_(out), buf_(buffer) {}
  void Put(uint8_t b) {
    buf_[n_++] = b;
    if (n_ == kBlockSize) Flush();
  }
  void Flush() {
    if (n_) out_.Write(buf_, n_);
    n_ = 0;
  }

 private:
  TDecodeOutput& out_;
  uint8_t* buf_;
  size_t n_ = 0;
};

}  // namespace vantrel::zip
