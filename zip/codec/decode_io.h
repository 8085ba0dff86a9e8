// decode_io.h - the contract between the extraction loop and the decoders.
//
// The extraction loop owns the archive stream, the decryption and the output
// file; a decoder sees only a byte source and a block sink:
//
//   * TDecodeInput hands out the entry's compressed bytes one input block
//     (at most 32768 bytes) at a time. The fast path is the [next, end) cursor;
//     Refill() loads the next block (reading from the archive, crossing to the
//     next disk, decrypting, letting pending window messages run, honouring
//     cancellation) and returns false once the entry's compressed bytes are
//     exhausted. Refill() may throw the engine's exceptions; decoders let them
//     pass.
//   * TDecodeOutput receives decoded bytes in blocks of at most 32768 bytes.
//     Write() checks the size limit, writes the file, updates the CRC, reports
//     progress and every few blocks honours cancellation; it may throw.
//
// The three buffers of an extraction run are allocated once per run and shared
// by every entry. The decoders own the window and output buffers while they
// run (their contents do not survive from one entry to the next, and no
// decoder reads bytes it has not written for the current entry); they never
// touch the input buffer. Explode and unreduce keep their window in
// TDecodeBuffers::window and collect output in TDecodeBuffers::output; unshrink
// collects output there directly; inflate uses window, output and
// inflateRoom together as one contiguous area (TDecodeBuffers::InflateArea),
// 32 KB of history followed by kInflateRoom bytes of new output, so the block
// passed to Write() points into any of them. (The larger room means the
// history moves to the front of the area once per eight blocks, not after
// every one.) Deflate64 needs 64 KB of history and allocates its own area for
// the entry. Write() must consume the block before it returns and must not
// modify it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::zip {

class TDecodeInput {
 public:
  virtual ~TDecodeInput() = default;

  // Loads the next block into [next, end); false at the end of the entry.
  virtual bool Refill() = 0;

  // The next compressed byte, or -1 at the end of the entry's data.
  int NextByte() {
    if (next == end && !Refill()) return -1;
    return *next++;
  }

  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;
};

class TDecodeOutput {
 public:
  virtual ~TDecodeOutput() = default;
  // Takes n (at most 32768) decoded bytes.
  virtual void Write(const uint8_t* data, size_t n) = 0;
};

inline constexpr size_t kBlockSize = 32768;
// Each of window and output has 512 bytes beyond its 32 KB: the inflater's
// word-wide copies may run past the end of a match.
inline constexpr size_t kWindowBufferSize = kBlockSize + 512;
inline constexpr size_t kOutputBufferSize = kBlockSize + 512;
inline constexpr size_t kInputBufferSize = kBlockSize + 1;
// New output inflate collects before it hands it out, and what its area holds
// beyond the history and that room (the overrun of its word-wide copies).
inline constexpr size_t kInflateRoom = 8 * kBlockSize;
inline constexpr size_t kInflateSlack = 1024;

struct TDecodeBuffers {
  // window, output and inflateRoom as one area of kInflateAreaSize bytes: a
  // 32 KB history, kInflateRoom and kInflateSlack.
  static constexpr size_t kInflateAreaSize = kBlockSize + kInflateRoom + kInflateSlack;

  uint8_t window[kWindowBufferSize];
  uint8_t output[kOutputBufferSize];
  uint8_t inflateRoom[kInflateAreaSize - kWindowBufferSize - kOutputBufferSize];
  uint8_t input[kInputBufferSize];

  uint8_t* InflateArea() { return reinterpret_cast<uint8_t*>(this) + offsetof(TDecodeBuffers, window); }
};
static_assert(offsetof(TDecodeBuffers, output) == offsetof(TDecodeBuffers, window) + kWindowBufferSize &&
                  offsetof(TDecodeBuffers, inflateRoom) == offsetof(TDecodeBuffers, output) + kOutputBufferSize,
              "window, output and inflateRoom must be adjacent");

enum class TDecodeResult {
  Ok,           // the stream ended as its format says
  DataError,    // corrupt data: decoding stopped early, the CRC check reports it
  OutOfMemory,  // decoder tables could not be allocated ("*** inflate out of memory ***")
  Unsupported,  // the stream asks for a variant of its method this decoder lacks
};

// Each decoder reads from `in` until its stream ends (or the data is corrupt or
// the input runs out) and writes everything it decodes to `out`, flushing its
// last partial block before it returns.

// Method 8: raw deflate (RFC 1951) with a 32 KB window.
TDecodeResult Inflate(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf);

// Method 9: Deflate64, deflate with a 64 KB window, length code 285 carrying
// 16 extra bits (lengths 3 to 65538) and distance codes 30 and 31 (up to
// 65536 back). Allocates its area (64 KB of history, 64 KB of new output) per
// entry, and reports OutOfMemory when it cannot.
TDecodeResult Inflate64(TDecodeInput& in, TDecodeOutput& out);

// Method 6: explode. window8k is general-purpose flag bit 1, literalTree bit 2;
// compressedSize picks the distance tree's lookup width; decoding stops after
// uncompressedSize bytes.
TDecodeResult Explode(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                      bool window8k, bool literalTree, uint64_t compressedSize,
                      uint64_t uncompressedSize);

// Methods 2 to 5: reduce with compression factor 1 to 4.
TDecodeResult Unreduce(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                       int factor, uint64_t uncompressedSize);

// Method 98: PPMd variant I revision 1, after its two-byte parameter header
// (model order, memory size, restoration method). Decodes uncompressedSize
// bytes; the model takes the memory the header names (1 to 256 MB).
// Unsupported for parameters it does not handle (`problem` names them, as
// "model restoration method 2 (freeze)") and OutOfMemory when the memory
// cannot be had (`problem` is the whole message, naming the method).
TDecodeResult UnPpmd(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf, uint64_t uncompressedSize,
                     std::string& problem);

// Method 1: shrink (LZW with partial clearing).
TDecodeResult Unshrink(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf,
                       uint64_t uncompressedSize);

}  // namespace vantrel::zip
