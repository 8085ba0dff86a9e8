// fuzz_decode_support.h - input and output for the decoder fuzz targets.
//
// The input hands out the data in blocks of a size chosen by the fuzzer, each
// copied into its own heap block so that reading past it is caught by
// AddressSanitizer. The output checks the decoder contract (blocks of 1 to
// 32768 bytes, never more than an allowed total) and keeps only a checksum.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "zip/codec/crc32.h"
#include "zip/codec/decode_io.h"

namespace vantrel::zip::fuzz {

class TFuzzInput : public TDecodeInput {
 public:
  TFuzzInput(const uint8_t* data, size_t size, size_t block)
      : data_(data), size_(size), block_(block == 0 ? 1 : block) {}
  bool Refill() override {
    if (pos_ >= size_) return false;
    const size_t n = size_ - pos_ < block_ ? size_ - pos_ : block_;
    chunk_.reset(new uint8_t[n]);
    std::memcpy(chunk_.get(), data_ + pos_, n);
    pos_ += n;
    next = chunk_.get();
    end = chunk_.get() + n;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t block_;
  size_t pos_ = 0;
  std::unique_ptr<uint8_t[]> chunk_;
};

class TFuzzOutput : public TDecodeOutput {
 public:
  explicit TFuzzOutput(uint64_t limit) : limit_(limit) {}
  void Write(const uint8_t* data, size_t n) override {
    if (n == 0 || n > kBlockSize) std::abort();
    total_ += n;
    if (total_ > limit_) std::abort();
    crc_ = Crc32Update(crc_, data, n);
  }
  uint64_t total() const { return total_; }
  uint32_t crc() const { return ~crc_; }

 private:
  uint64_t limit_;
  uint64_t total_ = 0;
  uint32_t crc_ = 0xFFFFFFFFu;
};

inline std::unique_ptr<TDecodeBuffers> FuzzBuffers() {
  auto b = std::make_unique<TDecodeBuffers>();
  std::memset(b.get(), 0x5A, sizeof(TDecodeBuffers));
  return b;
}

inline void CheckResult(TDecodeResult r) {
  if (r != TDecodeResult::Ok && r != TDecodeResult::DataError) std::abort();
}

}  // namespace vantrel::zip::fuzz
