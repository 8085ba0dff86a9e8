// stream_pump.h - drives a streaming library decoder through the decoder
// contract of decode_io.h.
//
// The library is called with whatever input the current block holds and the
// free part of the output block; the pump refills the input, writes every
// full output block (and the last partial one), and stops when the library
// reports the end of its stream, an error, or makes no progress once the
// input is exhausted (a truncated stream). Every call either consumes input
// or produces output, or the pump stops, so it cannot spin.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/codec/decode_io.h"

namespace vantrel::zip {

enum class TStepStatus { More, End, Error, OutOfMemory };

// One call into the library: the input and output it may use, and how much
// of each it used.
struct TStepIO {
  const uint8_t* in;
  size_t inLen;
  uint8_t* out;
  size_t outLen;
  bool inputEnded;  // no input follows what `in` holds
  size_t consumed = 0;
  size_t produced = 0;
};

template <class Step>
TDecodeResult PumpDecoder(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                          Step&& step) {
  uint8_t* const block = buf.output;
  size_t filled = 0;
  bool ended = false;
  for (;;) {
    if (in.next == in.end && !ended) ended = !in.Refill();
    TStepIO io{in.next, static_cast<size_t>(in.end - in.next), block + filled,
               kBlockSize - filled, ended};
    const TStepStatus status = step(io);
    in.next += io.consumed;
    filled += io.produced;
    const bool stalled = status == TStepStatus::More && io.consumed == 0 && io.produced == 0;
    if (filled == kBlockSize || ((status != TStepStatus::More || stalled) && filled > 0)) {
      out.Write(block, filled);
      filled = 0;
    }
    switch (status) {
      case TStepStatus::More:
        if (stalled) return TDecodeResult::DataError;
        break;
      case TStepStatus::End:
        return TDecodeResult::Ok;
      case TStepStatus::Error:
        return TDecodeResult::DataError;
      case TStepStatus::OutOfMemory:
        return TDecodeResult::OutOfMemory;
    }
  }
}

}  // namespace vantrel::zip
