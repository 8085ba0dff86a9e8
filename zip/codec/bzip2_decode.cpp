// bzip2_decode.cpp - method 12 through libbz2.
#include <bzlib.h>

#include "zip/codec/library_decoders.h"
#include "zip/codec/stream_pump.h"

namespace vantrel::zip {

TDecodeResult Bunzip2(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf) {
  bz_stream s{};
  const int init = BZ2_bzDecompressInit(&s, 0, 0);
  if (init != BZ_OK) return init == BZ_MEM_ERROR ? TDecodeResult::OutOfMemory : TDecodeResult::DataError;
  struct TEnd {
    bz_stream& s;
    ~TEnd() { BZ2_bzDecompressEnd(&s); }
  } end{s};
  return PumpDecoder(in, out, buf, [&](TStepIO& io) {
    s.next_in = const_cast<char*>(reinterpret_cast<const char*>(io.in));
    s.avail_in = static_cast<unsigned>(io.inLen);
    s.next_out = reinterpret_cast<char*>(io.out);
    s.avail_out = static_cast<unsigned>(io.outLen);
    const int r = BZ2_bzDecompress(&s);
    io.consumed = io.inLen - s.avail_in;
    io.produced = io.outLen - s.avail_out;
    switch (r) {
      case BZ_OK: return TStepStatus::More;
      case BZ_STREAM_END: return TStepStatus::End;
      case BZ_MEM_ERROR: return TStepStatus::OutOfMemory;
      default: return TStepStatus::Error;
    }
  });
}

}  // namespace vantrel::zip
