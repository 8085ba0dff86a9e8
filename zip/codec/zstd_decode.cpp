// zstd_decode.cpp - method 93 through libzstd.
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <bit>

#include "zip/codec/library_decoders.h"
#include "zip/codec/stream_pump.h"

namespace vantrel::zip {

TDecodeResult UnZstd(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                     uint64_t uncompressedSize) {
  ZSTD_DStream* ds = ZSTD_createDStream();
  if (!ds) return TDecodeResult::OutOfMemory;
  struct TEnd {
    ZSTD_DStream* ds;
    ~TEnd() { ZSTD_freeDStream(ds); }
  } end{ds};
  // Windows up to the command-line tool's default limit are always accepted,
  // larger ones when the entry is large enough to have used them.
  const int sizeLog = uncompressedSize <= 1 ? 0 : std::bit_width(uncompressedSize - 1);
  ZSTD_DCtx_setParameter(ds, ZSTD_d_windowLogMax, std::clamp(sizeLog, 27, 31));

  bool frameDone = false;  // the last call ended a frame
  return PumpDecoder(in, out, buf, [&](TStepIO& io) {
    if (io.inLen == 0 && io.inputEnded && frameDone) return TStepStatus::End;
    ZSTD_inBuffer src{io.in, io.inLen, 0};
    ZSTD_outBuffer dst{io.out, io.outLen, 0};
    const size_t r = ZSTD_decompressStream(ds, &dst, &src);
    io.consumed = src.pos;
    io.produced = dst.pos;
    if (ZSTD_isError(r)) {
      const ZSTD_ErrorCode code = ZSTD_getErrorCode(r);
      return code == ZSTD_error_memory_allocation || code == ZSTD_error_frameParameter_windowTooLarge
                 ? TStepStatus::OutOfMemory
                 : TStepStatus::Error;
    }
    frameDone = r == 0;
    if (frameDone && io.inputEnded && src.pos == io.inLen) return TStepStatus::End;
    return TStepStatus::More;
  });
}

}  // namespace vantrel::zip
