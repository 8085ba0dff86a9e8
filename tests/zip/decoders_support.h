// decoders_support.h - helpers for the decoder tests: in-memory input and
// output for the decoder contract, a zlib oracle for deflate streams, and a
// minimal archive walker that pulls one entry's raw data out of a fixture.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
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
    ++refills;
    return true;
  }
  size_t consumedBlocks() const { return pos_; }
  int refills = 0;

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

inline TBytes ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return TBytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline std::string FixturesRoot() {
  const char* env = std::getenv("VANTREL_FIXTURES");
  return env ? env : "/work/shared/fixtures";
}

// One entry of an archive as far as the decoder tests need it: the raw data
// (after the local header, encryption header included) and its parameters.
struct TRawEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t modTime = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  TBytes data;
};

inline uint16_t Le16(const TBytes& b, size_t p) {
  if (p + 2 > b.size()) throw std::runtime_error("short read");
  return static_cast<uint16_t>(b[p] | b[p + 1] << 8);
}
inline uint32_t Le32(const TBytes& b, size_t p) {
  return Le16(b, p) | static_cast<uint32_t>(Le16(b, p + 2)) << 16;
}

// Walks the central directory (found from the end record) and returns every
// entry with its data taken from behind its local header. Test-only: trusts
// the fixtures to be well formed, but throws instead of reading out of bounds.
inline std::vector<TRawEntry> ReadArchiveEntries(const TBytes& zip) {
  if (zip.size() < 22) throw std::runtime_error("too small");
  size_t eocd = std::string::npos;
  for (size_t p = zip.size() - 22 + 1; p-- > 0;) {
    if (Le32(zip, p) == 0x06054b50) {
      eocd = p;
      break;
    }
    if (zip.size() - p > 22 + 65535) break;
  }
  if (eocd == std::string::npos) throw std::runtime_error("no end record");
  const unsigned count = Le16(zip, eocd + 10);
  size_t cd = Le32(zip, eocd + 16);
  // Archives with junk in front: shift by the difference.
  const size_t cdSize = Le32(zip, eocd + 12);
  const size_t shift = eocd >= cd + cdSize ? eocd - (cd + cdSize) : 0;
  cd += shift;
  std::vector<TRawEntry> out;
  for (unsigned i = 0; i < count; ++i) {
    if (Le32(zip, cd) != 0x02014b50) throw std::runtime_error("bad central header");
    TRawEntry e;
    e.flags = Le16(zip, cd + 8);
    e.method = Le16(zip, cd + 10);
    e.modTime = Le16(zip, cd + 12);
    e.crc = Le32(zip, cd + 16);
    e.compressedSize = Le32(zip, cd + 20);
    e.size = Le32(zip, cd + 24);
    const unsigned nameLen = Le16(zip, cd + 28);
    const unsigned extraLen = Le16(zip, cd + 30);
    const unsigned commentLen = Le16(zip, cd + 32);
    const size_t local = Le32(zip, cd + 42) + shift;
    if (cd + 46 + nameLen > zip.size()) throw std::runtime_error("name out of bounds");
    e.name.assign(reinterpret_cast<const char*>(zip.data() + cd + 46), nameLen);
    if (Le32(zip, local) != 0x04034b50) throw std::runtime_error("bad local header");
    const size_t dataStart = local + 30 + Le16(zip, local + 26) + Le16(zip, local + 28);
    if (dataStart + e.compressedSize > zip.size()) throw std::runtime_error("data out of bounds");
    e.data.assign(zip.begin() + static_cast<long>(dataStart),
                  zip.begin() + static_cast<long>(dataStart + e.compressedSize));
    out.push_back(std::move(e));
    cd += 46 + nameLen + extraLen + commentLen;
  }
  return out;
}

}  // namespace vantrel::zip::testing
