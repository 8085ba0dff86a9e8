// decoders_support.h - helpers for the decoder tests: in-memory input and
// output for the decoder contract and a zlib oracle for deflate streams.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "zip/codec/decode_io.h"

namespace vantrel::zip::testing {

using TBytes = std::vector<uint8_t>;

// Hands out the data in blocks of at most `block` bytes (32768 like the
// extraction loop, or tiny blocks to stress block boundaries).
class TMemInput : public TDecodeInput {
 public:
  explicit TMemInput(const TBytes& data, size_t block = kBlockSize)
      : data_(data), block_(std::max<size_t>(1, std::min(block, kBlockSize))) {}
  bool Refill() override {
    if (pos_ >= data_.size()) return false;
    const size_t n = std::min(block_, data_.size() - pos_);
    // Copy into a private block so reading past it is caught by sanitizers.
    chunk_.assign(data_.begin() + static_cast<long>(pos_), data_.begin() + static_cast<long>(pos_ + n));
    pos_ += n;
    next = chunk_.data();
    end = chunk_.data() + chunk_.size();
    return true;
  }

 private:
  const TBytes& data_;
  size_t block_;
  size_t pos_ = 0;
  TBytes chunk_;
};

// Collects everything written; records whether any block broke the 32768 limit.
class TMemOutput : public TDecodeOutput {
 public:
  explicit TMemOutput(size_t limit = SIZE_MAX) : limit_(limit) {}
  void Write(const uint8_t* data, size_t n) override {
    if (n == 0 || n > kBlockSize) badBlock = true;
    if (data_.size() + n > limit_) throw std::length_error("output limit");
    data_.insert(data_.end(), data, data + n);
    ++writes;
  }
  const TBytes& data() const { return data_; }
  bool badBlock = false;
  int writes = 0;

 private:
  size_t limit_;
  TBytes data_;
};

inline std::unique_ptr<TDecodeBuffers> NewBuffers() {
  auto b = std::make_unique<TDecodeBuffers>();
  // Stale bytes from "an earlier entry" must never leak into the output.
  std::memset(b.get(), 0xA5, sizeof(TDecodeBuffers));
  return b;
}

// Raw deflate (no header) by zlib.
inline TBytes ZlibDeflate(const TBytes& in, int level, int strategy = Z_DEFAULT_STRATEGY,
                          int memLevel = 8) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK)
    throw std::runtime_error("deflateInit2");
  TBytes out(deflateBound(&z, in.size()) + 64);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline uint32_t ZlibCrc(const TBytes& d) {
  return static_cast<uint32_t>(crc32(0L, d.data(), static_cast<uInt>(d.size())));
}

}  // namespace vantrel::zip::testing
