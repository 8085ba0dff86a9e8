// deflate_compress.h - the deflate compressor of the archive writer.
//
// TDeflateCompressor turns one input file into a raw deflate stream (RFC 1951,
// no zlib or gzip framing). Its output is fixed by its rules, not left to
// heuristics: hash chains over a 64 KB sliding window (32 KB reach), greedy
// match selection at levels 1-3 and lazy selection at 4-9 with the level's
// good/lazy/nice/chain parameters, blocks that end when the item buffers fill
// (or, from level 3, when a 4096-item checkpoint finds the block compressing
// well), and for each block the cheapest of a stored, a static-tree and a
// dynamic-tree block. A file whose single block would not shrink is written as
// its plain bytes and the entry becomes method 0 (stored).
//
// The caller (the archive writer) supplies input through TDeflateSource, whose
// Read also updates the entry's CRC and the progress, and takes output through
// TDeflateSink, which writes to the archive. Both may throw; the exception
// passes through Deflate unchanged.
//
// One compressor object is meant to live for a whole archive run: its window,
// hash tables, chain links and item buffers (about 450 KB) are allocated once
// by the constructor and reused for every file. Nothing grows with the file size.
// A compressor is not safe to use from two threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel::zip {

// Input of one file.
class TDeflateSource {
 public:
  virtual ~TDeflateSource() = default;

  // Reads up to n bytes (1 <= n <= 65534) into buf and returns how many it
  // read; 0 means the end of the input. A short read that is not 0 is allowed:
  // the compressor asks again, so the output never depends on how the input
  // was split into reads. After returning 0 it may be asked again and must
  // return 0 again. The first request is for 32768 bytes, later ones for the
  // free part of the window; each input byte is read once, in order.
  virtual size_t Read(uint8_t* buf, size_t n) = 0;

  // Starts the input again from its first byte. The compressor calls it only
  // in one case: the whole file turns out not to compress and must be stored
  // as plain bytes, but the file was longer than the window, so its start is
  // no longer in memory. The bytes are then read a second time; an
  // implementation that computes a CRC or reports progress in Read must start
  // those over when it rewinds. Returns false when the input cannot be read
  // again; the file is then written as (slightly larger) deflate data instead.
  virtual bool Rewind() { return false; }
};

// Output of one file.
class TDeflateSink {
 public:
  virtual ~TDeflateSink() = default;
  // Takes n bytes (1 <= n <= 65535) of compressed output.
  virtual void Write(const uint8_t* data, size_t n) = 0;
};

// What compressing one file did to its entry.
struct TDeflateResult {
  // Bytes handed to the sink: the entry's compressed size.
  uint64_t CompressedSize = 0;
  // 8 (deflated), or 0 when the file was written as its plain bytes.
  uint16_t CompressionMethod = 8;
  // 1 text, 0 binary, classified from the first block's literals.
  uint16_t InternalAttributes = 2;
  // General-purpose flag bits 1-2 for the level, to be OR-ed into the entry's
  // flags: 4 at levels 1 and 2, 2 at levels 8 and 9, else 0.
  uint16_t FlagBits = 0;
};

enum class TDeflateBlockKind {
  Stored,     // stored block: 3 header bits, length, complement, plain bytes
  Static,     // block coded with the fixed trees of RFC 1951
  Dynamic,    // block coded with trees sent in its header
  WholeFile,  // no deflate framing at all: the file's bytes unchanged (method 0)
};

// A block as the compressor ended it: for tests and diagnostics.
struct TDeflateBlockInfo {
  TDeflateBlockKind Kind = TDeflateBlockKind::Dynamic;
  bool Last = false;
  uint64_t Length = 0;  // input bytes the block covers
  // The block's items in order: Dists[i] == 0 is the literal Lits[i];
  // otherwise a match of length Lits[i] + 3 at distance Dists[i].
  size_t Items = 0;
  const uint8_t* Lits = nullptr;
  const uint16_t* Dists = nullptr;
};

// Receives every block as it ends (diagnostic hook, off by default).
class TDeflateObserver {
 public:
  virtual ~TDeflateObserver() = default;
  virtual void BlockEnded(const TDeflateBlockInfo& block) = 0;
};

// General-purpose flag bits 1-2 for a level: 4 for 1 and 2, 2 for 8 and 9.
uint16_t DeflateLevelFlags(int level);

class TDeflateCompressor {
 public:
  // Allocates the window, the hash tables and the item buffers.
  TDeflateCompressor();
  ~TDeflateCompressor();
  TDeflateCompressor(const TDeflateCompressor&) = delete;
  TDeflateCompressor& operator=(const TDeflateCompressor&) = delete;

  // Compresses everything `in` delivers into `out` at `level`.
  // REQUIRES: 1 <= level <= 9 (std::invalid_argument otherwise).
  TDeflateResult Deflate(int level, TDeflateSource& in, TDeflateSink& out);

  // Compresses one piece of a stream cut into pieces (see DeflateSplit):
  // matches may reach back into `dictionary`, the up to 32768 bytes just
  // before the piece, which the reader has already decoded. A piece that is
  // not `last` ends with a non-final block and an empty stored block, byte
  // aligned, so that the next piece's output simply follows it; the last one
  // ends with the final block. A piece is always deflate data (never the
  // plain bytes of method 0).
  TDeflateResult DeflatePiece(int level, const uint8_t* dictionary, size_t dictionarySize, bool last,
                              TDeflateSource& in, TDeflateSink& out);

  // Installs (or, with nullptr, removes) the block observer.
  void SetObserver(TDeflateObserver* observer);

  struct TState;

 private:
  std::unique_ptr<TState> state_;
};

// Split deflate: one file's input cut into pieces of kSplitPiece bytes,
// each compressed on its own with the 32768 bytes before it as its
// dictionary, their outputs joined into one plain deflate stream that any
// reader inflates. The pieces can be compressed on different threads; the
// bytes depend only on the input and the level, never on who compressed
// which piece. A little larger than one stream (each piece starts its
// blocks afresh and ends with five bytes of empty block).
inline constexpr size_t kSplitPiece = 1u << 20;
inline constexpr size_t kSplitDictionary = 32768;

// One piece as TSplitPieces reads it: `bytes` holds the dictionary (the
// previous piece's last kSplitDictionary bytes, none for the first piece)
// followed by the piece's own input.
struct TSplitPiece {
  std::vector<uint8_t> bytes;
  size_t dictionary = 0;
  bool last = false;
  size_t index = 0;
};

// Reads a source piece by piece. It reads one piece ahead, so that it knows
// which piece is the last; an empty input is one empty last piece.
class TSplitPieces {
 public:
  explicit TSplitPieces(TDeflateSource& in) : in_(in) {}
  // The next piece, or null after the last.
  std::shared_ptr<TSplitPiece> Next();

 private:
  std::shared_ptr<TSplitPiece> Read(const TSplitPiece* before);
  TDeflateSource& in_;
  std::shared_ptr<TSplitPiece> ahead_;
  bool started_ = false;
  size_t index_ = 0;
};

// Compresses one piece with `compressor` into `out`.
TDeflateResult DeflateSplitPiece(TDeflateCompressor& compressor, int level, const TSplitPiece& piece,
                                 TDeflateSink& out);

// Split deflate on the calling thread: the same bytes the pieces give when
// compressed on many threads. The result's InternalAttributes are those of
// the first piece.
TDeflateResult DeflateSplit(TDeflateCompressor& compressor, int level, TDeflateSource& in, TDeflateSink& out);

// A source over a memory buffer (rewindable), for callers that hold the data.
class TMemoryDeflateSource final : public TDeflateSource {
 public:
  TMemoryDeflateSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(uint8_t* buf, size_t n) override;
  bool Rewind() override {
    pos_ = 0;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace vantrel::zip
