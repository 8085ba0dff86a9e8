// library_decoders.h - the methods decoded through system libraries.
//
// Each decoder follows the contract of decode_io.h: it reads the entry's
// compressed bytes from `in` (whose Refill lets pending messages run and
// honours cancellation), writes blocks of at most 32768 bytes to `out` (whose
// Write enforces the declared size and honours cancellation too, so a stream
// that expands a thousandfold stops promptly) through TDecodeBuffers::output, and
// returns DataError for a corrupt or truncated stream (the CRC and length
// checks then report the entry) and OutOfMemory when the library cannot get
// the memory the stream asks for. Library state is released on every path,
// exceptions from `in` and `out` included.
#pragma once

#include <cstdint>

#include "zip/codec/decode_io.h"

namespace vantrel::zip {

// Method 12: one bzip2 stream.
TDecodeResult Bunzip2(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf);

// Method 14: the ZIP LZMA header (version, properties size, properties)
// followed by a raw LZMA stream. With endMarker (general-purpose flag bit 1)
// the stream ends with an end marker; without it, after uncompressedSize
// bytes.
TDecodeResult UnLzma(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                     uint64_t uncompressedSize, bool endMarker);

// Method 95: an .xz stream (concatenated streams and padding allowed).
TDecodeResult UnXz(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                   uint64_t uncompressedSize);

// Method 93: one or more Zstandard frames.
TDecodeResult UnZstd(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                     uint64_t uncompressedSize);

}  // namespace vantrel::zip
