// Fuzz target: compresses arbitrary input with TDeflateCompressor at a level
// chosen by the first byte (1 + b % 9), reads it back with the engine's own
// inflater and aborts unless the bytes, the reported size and the method
// agree. The second byte picks the read sizes, so short reads are covered.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "zip/codec/decode_io.h"
#include "zip/codec/deflate_compress.h"

using namespace vantrel::zip;

namespace {

class TSource final : public TDeflateSource {
 public:
  TSource(const uint8_t* data, size_t size, size_t step) : data_(data), size_(size), step_(step) {}
  size_t Read(uint8_t* buf, size_t n) override {
    if (n == 0 || n > 65534) std::abort();
    size_t take = std::min({n, size_ - pos_, step_});
    if (take) std::memcpy(buf, data_ + pos_, take);
    pos_ += take;
    return take;
  }
  bool Rewind() override {
    pos_ = 0;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_, step_, pos_ = 0;
};

class TSink final : public TDeflateSink {
 public:
  void Write(const uint8_t* data, size_t n) override { bytes.insert(bytes.end(), data, data + n); }
  std::vector<uint8_t> bytes;
};

class TInput final : public TDecodeInput {
 public:
  explicit TInput(const std::vector<uint8_t>& d) : d_(d) {}
  bool Refill() override {
    if (pos_ >= d_.size()) return false;
    size_t n = std::min<size_t>(kBlockSize, d_.size() - pos_);
    next = d_.data() + pos_;
    end = next + n;
    pos_ += n;
    return true;
  }

 private:
  const std::vector<uint8_t>& d_;
  size_t pos_ = 0;
};

class TOutput final : public TDecodeOutput {
 public:
  void Write(const uint8_t* data, size_t n) override { bytes.insert(bytes.end(), data, data + n); }
  std::vector<uint8_t> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TDeflateCompressor compressor;  // reused like in an archive run
  static auto buffers = std::make_unique<TDecodeBuffers>();
  int level = size > 0 ? 1 + data[0] % 9 : 6;
  size_t step = size > 1 ? (data[1] < 128 ? 65534 : 1 + data[1] * 97) : 65534;
  TSource src(data, size, step);
  TSink sink;
  TDeflateResult r = compressor.Deflate(level, src, sink);
  if (r.CompressedSize != sink.bytes.size()) std::abort();
  if (r.FlagBits != DeflateLevelFlags(level)) std::abort();
  if (r.InternalAttributes > 1) std::abort();
  std::vector<uint8_t> back;
  if (r.CompressionMethod == 0) {
    back = sink.bytes;
  } else {
    if (r.CompressionMethod != 8) std::abort();
    TInput in(sink.bytes);
    TOutput out;
    if (Inflate(in, out, *buffers) != TDecodeResult::Ok) std::abort();
    back = std::move(out.bytes);
  }
  if (back.size() != size || (size && std::memcmp(back.data(), data, size) != 0)) std::abort();
  return 0;
}
