// lzma_decode.cpp - methods 14 (LZMA) and 95 (XZ) through liblzma.
//
// A method 14 entry starts with a 4-byte header of its own (two version bytes,
// the properties size in two bytes) and the LZMA properties (5 bytes: the
// lc/lp/pb byte and the dictionary size), then the raw LZMA stream. Its size
// is known from the entry, so the decoder stops there and accepts an end
// marker right after it whether or not flag bit 1 announced one.
#include <lzma.h>

#include <algorithm>
#include <cstdlib>

#include "zip/codec/library_decoders.h"
#include "zip/codec/stream_pump.h"

namespace vantrel::zip {

namespace {

constexpr size_t kLzmaPropsSize = 5;
// The most an .xz stream may ask for. Decoders only touch the memory their
// output reaches, so this bounds address space more than memory in use.
constexpr uint64_t kXzMemLimitFloor = uint64_t{1} << 30;

TStepStatus Status(lzma_ret r) {
  switch (r) {
    case LZMA_OK: return TStepStatus::More;
    case LZMA_STREAM_END: return TStepStatus::End;
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR: return TStepStatus::OutOfMemory;
    default: return TStepStatus::Error;
  }
}

TDecodeResult Run(lzma_stream& s, TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf) {
  struct TEnd {
    lzma_stream& s;
    ~TEnd() { lzma_end(&s); }
  } end{s};
  return PumpDecoder(in, out, buf, [&](TStepIO& io) {
    s.next_in = io.in;
    s.avail_in = io.inLen;
    s.next_out = io.out;
    s.avail_out = io.outLen;
    const lzma_ret r = lzma_code(&s, io.inputEnded ? LZMA_FINISH : LZMA_RUN);
    io.consumed = io.inLen - s.avail_in;
    io.produced = io.outLen - s.avail_out;
    // With LZMA_FINISH a stream that cannot end says so as a buffer error.
    return Status(r);
  });
}

}  // namespace

TDecodeResult UnLzma(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                     uint64_t uncompressedSize, bool endMarker) {
  uint8_t header[4 + kLzmaPropsSize];
  for (uint8_t& b : header) {
    const int c = in.NextByte();
    if (c < 0) return TDecodeResult::DataError;
    b = static_cast<uint8_t>(c);
  }
  if ((header[2] | header[3] << 8) != kLzmaPropsSize) return TDecodeResult::DataError;

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  const lzma_ret pr = lzma_properties_decode(&filters[0], nullptr, header + 4, kLzmaPropsSize);
  if (pr != LZMA_OK)
    return pr == LZMA_MEM_ERROR ? TDecodeResult::OutOfMemory : TDecodeResult::DataError;
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  // The dictionary never needs to hold more than the whole entry.
  options->dict_size = static_cast<uint32_t>(std::clamp<uint64_t>(
      uncompressedSize, LZMA_DICT_SIZE_MIN, options->dict_size));
  // (liblzma can also look for an optional marker after a known size, but
  // that check fails when the marker arrives in pieces of a few bytes.)
  options->ext_flags = 0;
  lzma_set_ext_size(*options, endMarker ? UINT64_MAX : uncompressedSize);

  lzma_stream s = LZMA_STREAM_INIT;
  const lzma_ret r = lzma_raw_decoder(&s, filters);
  std::free(options);
  if (r != LZMA_OK) {
    lzma_end(&s);
    return r == LZMA_MEM_ERROR ? TDecodeResult::OutOfMemory : TDecodeResult::DataError;
  }
  return Run(s, in, out, buf);
}

TDecodeResult UnXz(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                   uint64_t uncompressedSize) {
  lzma_stream s = LZMA_STREAM_INIT;
  const uint64_t limit = std::max(kXzMemLimitFloor, uncompressedSize + (uint64_t{64} << 20));
  const lzma_ret r = lzma_stream_decoder(&s, limit, LZMA_CONCATENATED);
  if (r != LZMA_OK) {
    lzma_end(&s);
    return r == LZMA_MEM_ERROR ? TDecodeResult::OutOfMemory : TDecodeResult::DataError;
  }
  return Run(s, in, out, buf);
}

}  // namespace vantrel::zip
