// decoders_support.h - helpers for the codec tests: in-memory input and output
// for the decoder contract, zlib as the deflate oracle, and generated inputs.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
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
inline TBytes ZlibDeflate(const TBytes& in, int level, int strategy = Z_DEFAULT_STRATEGY, int memLevel = 8) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
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

// Raw inflate by zlib: -1 for corrupt or truncated data, else the number of
// input bytes after the end of the stream; the output so far in *out.
inline long ZlibInflate(const TBytes& z, TBytes* out) {
  z_stream s{};
  inflateInit2(&s, -15);
  out->clear();
  uint8_t buf[16384];
  s.next_in = const_cast<Bytef*>(z.data());
  s.avail_in = static_cast<uInt>(z.size());
  int r;
  do {
    s.next_out = buf;
    s.avail_out = sizeof buf;
    r = inflate(&s, Z_NO_FLUSH);
    out->insert(out->end(), buf, buf + (sizeof buf - s.avail_out));
  } while (r == Z_OK);
  inflateEnd(&s);
  return r == Z_STREAM_END ? static_cast<long>(s.avail_in) : -1;
}

inline TBytes Concat(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (const TBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline std::string Str(const TBytes& b) { return std::string(b.begin(), b.end()); }

inline TBytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  TBytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Text-like data: words from a small vocabulary, so it has matches at all
// distances and is classified as text.
inline TBytes WordText(size_t n, unsigned seed) {
  static const char* words[] = {"the ", "window ", "deflate ", "block ", "of ", "a ", "match ",
                                "length ", "distance ", "tree ", "huffman ", "code ", "and ", "\n"};
  std::mt19937 rng(seed);
  TBytes b;
  while (b.size() < n) {
    const char* w = words[rng() % 14];
    while (*w && b.size() < n) b.push_back(static_cast<uint8_t>(*w++));
  }
  return b;
}

// Text, random stretches, runs of one byte and repeats from up to 32 KB back.
inline TBytes MixedData(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  TBytes d;
  while (d.size() < n) {
    const size_t len = 100 + rng() % 5000, kind = rng() % 4;
    const TBytes part = kind == 0 ? WordText(len, rng()) : kind == 1 ? RandomBytes(len, rng()) : TBytes();
    d.insert(d.end(), part.begin(), part.end());
    if (kind == 2) d.insert(d.end(), len * 3, static_cast<uint8_t>(rng()));
    for (size_t i = 0, from = d.size() - 32768 + rng() % 8000; kind == 3 && d.size() > 40000 && i < len; ++i)
      d.push_back(d[from + i]);
  }
  d.resize(n);
  return d;
}

}  // namespace vantrel::zip::testing
