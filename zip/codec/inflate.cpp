// inflate.cpp - raw deflate decoding (RFC 1951) with a 32 KB window.
//
// Output and history: the decoder writes into one of two 32 KB halves, the
// run's window buffer or its output buffer. When the current half is full it is
// handed to the sink as one block, and the halves swap roles: the full half
// becomes the history for the next one. A back-reference reaches into the
// current half when its distance is at most the current position, else into the
// tail of the other half. Nothing is copied twice and nothing beyond the two
// buffers of the run is needed.
//
// Input: a 64-bit bit buffer filled eight bytes at a time while the input block
// has at least 16 bytes left; near the end of a block it is refilled byte by
// byte, crossing into the next block through TDecodeInput::Refill(). When the
// entry's data run out, zero bytes are fed in and counted, and a symbol that
// needed any of them ends decoding with DataError.
//
// Huffman decoding is table driven: a 9-bit first-level table for literals and
// lengths, a 6-bit one for distances, and second-level tables for longer codes.
#include <algorithm>
#include <array>
#include <cstring>

#include "zip/codec/decode_io.h"

namespace vantrel::zip {

namespace {

constexpr int kLitRootBits = 9;
constexpr int kDistRootBits = 6;
constexpr int kMaxCodeBits = 15;
constexpr size_t kHalf = kBlockSize;  // 32768: one output block, one history half

// Table sizes that fit every complete code with the first-level widths above
// (286 literal/length symbols with 9 bits, 30 distance symbols with 6 bits,
// codes of at most 15 bits). The builder checks the bound anyway.
constexpr size_t kLitTableSize = 852;
constexpr size_t kDistTableSize = 592;
constexpr size_t kCodeLenTableSize = 128;  // 7-bit single-level table

// A table entry: value << 16 | flags | aux << 8 | bits.
//   bits  - code bits to drop (for a subtable pointer: the first-level width)
//   aux   - extra bits of a length or distance; for a pointer: subtable width
//   value - literal byte, length or distance base, or subtable offset
constexpr uint32_t kBitsMask = 0xFF;
constexpr uint32_t kFlagLiteral = 0x1000;
constexpr uint32_t kFlagSub = 0x2000;
constexpr uint32_t kFlagEnd = 0x4000;
constexpr uint32_t kFlagInvalid = 0x8000;

constexpr uint32_t Entry(uint32_t value, uint32_t flags, uint32_t aux, uint32_t bits) {
  return value << 16 | flags | aux << 8 | bits;
}
constexpr uint32_t EntryBits(uint32_t e) { return e & kBitsMask; }
constexpr uint32_t EntryAux(uint32_t e) { return (e >> 8) & 0xF; }
constexpr uint32_t EntryValue(uint32_t e) { return e >> 16; }
constexpr uint64_t Mask(uint32_t n) { return (uint64_t{1} << n) - 1; }

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                    33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code length code lengths are stored.
constexpr uint8_t kCodeLenOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class TCodeKind { LitLen, Dist, CodeLen };

// The decoded meaning of a symbol, without its code bits.
uint32_t SymbolEntry(TCodeKind kind, unsigned sym) {
  switch (kind) {
    case TCodeKind::LitLen:
      if (sym < 256) return Entry(sym, kFlagLiteral, 0, 0);
      if (sym == 256) return Entry(0, kFlagEnd, 0, 0);
      if (sym <= 285) return Entry(kLengthBase[sym - 257], 0, kLengthExtra[sym - 257], 0);
      return Entry(0, kFlagInvalid, 0, 0);  // 286 and 287 have codes but no meaning
    case TCodeKind::Dist:
      if (sym < 30) return Entry(kDistBase[sym], 0, kDistExtra[sym], 0);
      return Entry(0, kFlagInvalid, 0, 0);
    case TCodeKind::CodeLen:
      return Entry(sym, 0, 0, 0);
  }
  return Entry(0, kFlagInvalid, 0, 0);
}

constexpr std::array<uint8_t, 256> MakeReverseBytes() {
  std::array<uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = 0;
    for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1u) << (7 - b);
    t[i] = static_cast<uint8_t>(r);
  }
  return t;
}
constexpr std::array<uint8_t, 256> kReverseBytes = MakeReverseBytes();

// The low len (at most 16) bits of code in reverse order.
inline unsigned Reverse(unsigned code, int len) {
  const unsigned r = static_cast<unsigned>(kReverseBytes[code & 0xFF]) << 8 | kReverseBytes[(code >> 8) & 0xFF];
  return r >> (16 - len);
}

// Builds a decoding table for the code lengths lens[0..n). Returns false for an
// over-subscribed set, and for an incomplete one unless it is the single
// one-bit code that RFC 1951 allows for distances (and that encoders also emit
// for literal/length codes); an empty distance code is accepted, and any use of
// it is an error. Entries no code reaches are invalid.
bool BuildTable(const uint8_t* lens, unsigned n, TCodeKind kind, int rootBits, uint32_t* table,
                size_t tableSize) {
  // Two sets of counters: runs of equal lengths would otherwise chain every
  // increment on the one before.
  unsigned count[kMaxCodeBits + 1] = {};
  unsigned count2[kMaxCodeBits + 1] = {};
  unsigned s = 0;
  for (; s + 1 < n; s += 2) {
    ++count[lens[s]];
    ++count2[lens[s + 1]];
  }
  if (s < n) ++count[lens[s]];
  for (int len = 1; len <= kMaxCodeBits; ++len) count[len] += count2[len];
  count[0] = 0;

  int left = 1;
  int maxLen = 0;
  for (int len = 1; len <= kMaxCodeBits; ++len) {
    left <<= 1;
    left -= static_cast<int>(count[len]);
    if (left < 0) return false;  // over-subscribed
    if (count[len]) maxLen = len;
  }
  const size_t rootSize = size_t{1} << rootBits;
  std::fill(table, table + rootSize, Entry(0, kFlagInvalid, 0, 0));
  if (maxLen == 0) return kind == TCodeKind::Dist;  // no codes at all
  if (left > 0 && (kind == TCodeKind::CodeLen || maxLen != 1)) return false;  // incomplete

  // Symbols sorted by code length, then by value: the canonical order.
  unsigned offs[kMaxCodeBits + 2] = {};
  for (int len = 1; len <= kMaxCodeBits; ++len) offs[len + 1] = offs[len] + count[len];
  uint16_t sorted[320];
  for (s = 0; s < n; ++s)
    if (lens[s]) sorted[offs[lens[s]]++] = static_cast<uint16_t>(s);
  const unsigned total = offs[kMaxCodeBits + 1];

  size_t used = rootSize;
  unsigned code = 0;  // canonical code of the current symbol
  int prevLen = 0;
  unsigned subPrefix = ~0u;  // first-level index of the open subtable
  size_t subBase = 0;
  int subBits = 0;
  for (unsigned i = 0; i < total; ++i) {
    const unsigned sym = sorted[i];
    const int len = lens[sym];
    if (prevLen) code = (code + 1) << (len - prevLen);
    prevLen = len;
    const uint32_t meaning = SymbolEntry(kind, sym);
    if (len <= rootBits) {
      const unsigned idx = Reverse(code, len);
      const uint32_t e = meaning | static_cast<uint32_t>(len);
      for (size_t j = idx; j < rootSize; j += size_t{1} << len) table[j] = e;
      continue;
    }
    const unsigned prefix = code >> (len - rootBits);
    if (prefix != subPrefix) {
      // Open a subtable wide enough for the longest code under this prefix:
      // the codes under one prefix are consecutive in canonical order.
      int groupMax = len;
      unsigned c = code;
      int l = len;
      for (unsigned k = i + 1; k < total; ++k) {
        const int nl = lens[sorted[k]];
        c = (c + 1) << (nl - l);
        l = nl;
        if ((c >> (nl - rootBits)) != prefix) break;
        groupMax = nl;
      }
      subPrefix = prefix;
      subBits = groupMax - rootBits;
      subBase = used;
      used += size_t{1} << subBits;
      if (used > tableSize) return false;
      std::fill(table + subBase, table + used, Entry(0, kFlagInvalid, 0, 0));
      table[Reverse(prefix, rootBits)] =
          Entry(static_cast<uint32_t>(subBase), kFlagSub, static_cast<uint32_t>(subBits),
                static_cast<uint32_t>(rootBits));
    }
    const int rest = len - rootBits;
    const unsigned idx = Reverse(code & ((1u << rest) - 1), rest);
    const uint32_t e = meaning | static_cast<uint32_t>(rest);
    for (size_t j = idx; j < (size_t{1} << subBits); j += size_t{1} << rest) table[subBase + j] = e;
  }
  return true;
}

struct TTables {
  uint32_t lit[kLitTableSize];
  uint32_t dist[kDistTableSize];
};

// The fixed code of block type 1, built once.
const TTables& FixedTables() {
  static const TTables tables = [] {
    TTables t{};
    uint8_t lens[288];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    BuildTable(lens, 288, TCodeKind::LitLen, kLitRootBits, t.lit, kLitTableSize);
    // 32 five-bit codes; 30 and 31 are invalid when used.
    uint8_t dl[32];
    std::fill(dl, dl + 32, 5);
    BuildTable(dl, 32, TCodeKind::Dist, kDistRootBits, t.dist, kDistTableSize);
    return t;
  }();
  return tables;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

class TInflater {
 public:
  TInflater(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf)
      : in_(in), out_(out), cur_(buf.output), other_(buf.window) {}

  TDecodeResult Run();

 private:
  enum class TStatus { Ok, EndOfBlock, Error };

  // --- bit input ---
  // Bits of buf_ above cnt_ are zero or a copy of the bytes at next_ (an
  // eight-byte refill loads more than it counts), so loading again at cnt_ is
  // harmless. Refills until more than 56 bits are held: eight bytes at once
  // inside an input block, else byte by byte, crossing input blocks; after the
  // end of the entry's data, zero bytes are counted in pad_.
  void SlowRefill() {
    if (end_ - next_ >= 8) {
      // Eight bytes at once; bits above cnt_ already hold the same bytes.
      buf_ |= Load64(next_) << cnt_;
      next_ += (63 - cnt_) >> 3;
      cnt_ |= 56;
      return;
    }
    buf_ &= Mask(cnt_);
    while (cnt_ <= 56) {
      if (next_ == end_) {
        if (!eof_) {
          in_.next = next_;
          in_.end = end_;
          if (in_.Refill()) {
            next_ = in_.next;
            end_ = in_.end;
            continue;
          }
          eof_ = true;
          next_ = end_ = nullptr;
        }
        ++pad_;
        cnt_ += 8;
        continue;
      }
      buf_ |= uint64_t{*next_++} << cnt_;
      cnt_ += 8;
    }
  }
  // True once a consumed bit was one of the zero bytes fed after the input ended.
  bool Overrun() const { return pad_ * 8 > cnt_; }
  uint32_t GetBits(unsigned n) {  // n <= 32
    if (cnt_ < n) SlowRefill();
    const uint32_t v = static_cast<uint32_t>(buf_ & Mask(n));
    buf_ >>= n;
    cnt_ -= n;
    return v;
  }
  // Decodes one symbol's table entry, code bits consumed. Needs cnt_ >= 15.
  static uint32_t Lookup(const uint32_t* table, int rootBits, uint64_t& bb, unsigned& cnt) {
    uint32_t e = table[bb & Mask(rootBits)];
    if (e & kFlagSub) {
      bb >>= rootBits;
      cnt -= rootBits;
      e = table[EntryValue(e) + (bb & Mask(EntryAux(e)))];
    }
    bb >>= EntryBits(e);
    cnt -= EntryBits(e);
    return e;
  }

  // --- output ---
  void Flush() {
    out_.Write(cur_, kHalf);
    std::swap(cur_, other_);
    pos_ = 0;
    total_ += kHalf;
  }
  void PutByte(uint8_t b) {
    cur_[pos_++] = b;
    if (pos_ == kHalf) Flush();
  }
  // Byte-wise copy that flushes at the half boundary; dist already checked.
  void CopyMatchSlow(unsigned dist, unsigned len) {
    while (len--) {
      const uint8_t b = dist <= pos_ ? cur_[pos_ - dist] : other_[kHalf - (dist - pos_)];
      PutByte(b);
    }
  }
  bool DistanceOk(unsigned dist) const { return dist <= pos_ + total_; }

  TStatus StoredBlock();
  TStatus DynamicTables();
  TStatus HuffmanBlock(const uint32_t* lit, const uint32_t* dist);
  TStatus FastLoop(const uint32_t* lit, const uint32_t* dist);

  TDecodeInput& in_;
  TDecodeOutput& out_;
  uint8_t* cur_;
  uint8_t* other_;
  size_t pos_ = 0;
  uint64_t total_ = 0;  // bytes handed to the sink (capped use: distance check)

  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t buf_ = 0;
  unsigned cnt_ = 0;
  unsigned pad_ = 0;
  bool eof_ = false;

  TTables dyn_;
};

TDecodeResult TInflater::Run() {
  next_ = in_.next;
  end_ = in_.end;
  bool last = false;
  TStatus st = TStatus::Ok;
  while (!last) {
    last = GetBits(1) != 0;
    const uint32_t type = GetBits(2);
    if (Overrun()) {
      st = TStatus::Error;
      break;
    }
    if (type == 0) {
      st = StoredBlock();
    } else if (type == 1) {
      const TTables& f = FixedTables();
      st = HuffmanBlock(f.lit, f.dist);
    } else if (type == 2) {
      st = DynamicTables();
      if (st == TStatus::Ok) st = HuffmanBlock(dyn_.lit, dyn_.dist);
    } else {
      st = TStatus::Error;  // block type 3
    }
    if (st == TStatus::Error) break;
  }
  // What was decoded goes out even after an error; the CRC check judges it.
  if (pos_) out_.Write(cur_, pos_);
  if (!eof_) in_.next = next_;
  return st == TStatus::Error ? TDecodeResult::DataError : TDecodeResult::Ok;
}

TInflater::TStatus TInflater::StoredBlock() {
  // Skip to a byte boundary, then LEN and its one's complement.
  GetBits(cnt_ & 7);
  const uint32_t len = GetBits(16);
  const uint32_t nlen = GetBits(16);
  if (Overrun() || (len ^ 0xFFFF) != nlen) return TStatus::Error;
  uint32_t left = len;
  // Whole bytes still held in the bit buffer come first.
  while (left && cnt_ >= 8) {
    if (cnt_ - 8 < pad_ * 8) return TStatus::Error;  // only padding left
    PutByte(static_cast<uint8_t>(buf_));
    buf_ >>= 8;
    cnt_ -= 8;
    --left;
  }
  if (left == 0) return TStatus::Ok;
  // The buffer is empty now (cnt_ is a multiple of 8 after alignment).
  buf_ = 0;
  cnt_ = 0;
  while (left) {
    if (next_ == end_) {
      if (eof_) return TStatus::Error;
      in_.next = next_;
      in_.end = end_;
      if (!in_.Refill()) {
        eof_ = true;
        next_ = end_ = nullptr;
        return TStatus::Error;
      }
      next_ = in_.next;
      end_ = in_.end;
      continue;
    }
    size_t n = std::min<size_t>({left, static_cast<size_t>(end_ - next_), kHalf - pos_});
    std::memcpy(cur_ + pos_, next_, n);
    next_ += n;
    pos_ += n;
    left -= static_cast<uint32_t>(n);
    if (pos_ == kHalf) Flush();
  }
  return TStatus::Ok;
}

TInflater::TStatus TInflater::DynamicTables() {
  const unsigned hlit = GetBits(5) + 257;
  const unsigned hdist = GetBits(5) + 1;
  const unsigned hclen = GetBits(4) + 4;
  if (Overrun() || hlit > 286 || hdist > 30) return TStatus::Error;

  uint8_t clens[19] = {};
  for (unsigned i = 0; i < hclen; ++i) clens[kCodeLenOrder[i]] = static_cast<uint8_t>(GetBits(3));
  if (Overrun()) return TStatus::Error;
  uint32_t clTable[kCodeLenTableSize];
  if (!BuildTable(clens, 19, TCodeKind::CodeLen, 7, clTable, kCodeLenTableSize))
    return TStatus::Error;

  uint8_t lens[286 + 30] = {};
  const unsigned n = hlit + hdist;
  unsigned i = 0;
  while (i < n) {
    if (cnt_ < 16) SlowRefill();
    const uint32_t e = Lookup(clTable, 7, buf_, cnt_);
    if (e & kFlagInvalid) return TStatus::Error;
    const unsigned sym = EntryValue(e);
    if (sym < 16) {
      lens[i++] = static_cast<uint8_t>(sym);
    } else {
      uint8_t value = 0;
      unsigned repeat;
      if (sym == 16) {
        if (i == 0) return TStatus::Error;  // nothing to repeat
        value = lens[i - 1];
        repeat = 3 + GetBits(2);
      } else if (sym == 17) {
        repeat = 3 + GetBits(3);
      } else {
        repeat = 11 + GetBits(7);
      }
      if (repeat > n - i) return TStatus::Error;
      std::fill(lens + i, lens + i + repeat, value);
      i += repeat;
    }
    if (Overrun()) return TStatus::Error;
  }
  if (lens[256] == 0) return TStatus::Error;  // no end-of-block code
  if (!BuildTable(lens, hlit, TCodeKind::LitLen, kLitRootBits, dyn_.lit, kLitTableSize))
    return TStatus::Error;
  if (!BuildTable(lens + hlit, hdist, TCodeKind::Dist, kDistRootBits, dyn_.dist, kDistTableSize))
    return TStatus::Error;
  return TStatus::Ok;
}

// Decodes while the current half has room for a longest match plus the copy
// slack and the input block has 16 bytes for the eight-byte refills. Works on
// local copies of the bit state; returns Ok when a limit is reached.
TInflater::TStatus TInflater::FastLoop(const uint32_t* lit, const uint32_t* dist) {
  constexpr size_t kOutLimit = kHalf - 258 - 32;
  uint64_t bb = buf_;
  unsigned cnt = cnt_;
  const uint8_t* next = next_;
  const uint8_t* const end = end_;
  uint8_t* const out = cur_;
  const uint8_t* const hist = other_;
  size_t pos = pos_;
  const uint64_t total = total_;
  TStatus st = TStatus::Ok;

  while (pos < kOutLimit && end - next >= 16) {
    bb |= Load64(next) << cnt;
    next += (63 - cnt) >> 3;
    cnt |= 56;

    uint32_t e = Lookup(lit, kLitRootBits, bb, cnt);
    if (e & kFlagLiteral) {
      out[pos++] = static_cast<uint8_t>(EntryValue(e));
      // Up to two more literals fit in the bits held (3 x 15 < 56).
      e = Lookup(lit, kLitRootBits, bb, cnt);
      if (e & kFlagLiteral) {
        out[pos++] = static_cast<uint8_t>(EntryValue(e));
        e = Lookup(lit, kLitRootBits, bb, cnt);
        if (e & kFlagLiteral) {
          out[pos++] = static_cast<uint8_t>(EntryValue(e));
          continue;
        }
      }
      // A length may follow with too few bits left for its distance.
      bb |= Load64(next) << cnt;
      next += (63 - cnt) >> 3;
      cnt |= 56;
    }
    if (e & (kFlagEnd | kFlagInvalid)) {
      st = (e & kFlagEnd) ? TStatus::EndOfBlock : TStatus::Error;
      break;
    }
    uint32_t extra = EntryAux(e);
    const unsigned len = EntryValue(e) + static_cast<unsigned>(bb & Mask(extra));
    bb >>= extra;
    cnt -= extra;

    e = Lookup(dist, kDistRootBits, bb, cnt);
    if (e & kFlagInvalid) {
      st = TStatus::Error;
      break;
    }
    extra = EntryAux(e);
    const unsigned d = EntryValue(e) + static_cast<unsigned>(bb & Mask(extra));
    bb >>= extra;
    cnt -= extra;

    uint8_t* dst = out + pos;
    if (d <= pos) {
      const uint8_t* src = dst - d;
      uint8_t* const stop = dst + len;
      if (d >= 16) {
        // Sixteen bytes at a time; each chunk's source is already written.
        do {
          std::memcpy(dst, src, 16);
          dst += 16;
          src += 16;
        } while (dst < stop);
      } else if (d == 1) {
        std::memset(dst, *src, len);
      } else {
        // A short period: write the first bytes one by one until a multiple
        // of the period is at least 8 bytes back, then copy 8 bytes at a
        // time from that far back (the output repeats with the period).
        unsigned period = d;
        while (period < 8) period += d;
        const unsigned head = std::min(len, period - d);
        for (unsigned k = 0; k < head; ++k) dst[k] = src[k];
        dst += head;
        src = dst - period;
        while (dst < stop) {
          std::memcpy(dst, src, 8);
          dst += 8;
          src += 8;
        }
      }
    } else {
      const size_t back = d - pos;  // bytes reaching into the history half
      if (d > pos + total) {
        st = TStatus::Error;
        break;
      }
      const uint8_t* src = hist + kHalf - back;
      if (back >= len) {
        std::memcpy(dst, src, len);
      } else {
        // The rest starts over at the beginning of the current half.
        std::memcpy(dst, src, back);
        for (size_t k = back; k < len; ++k) dst[k] = out[k - back];
      }
    }
    pos += len;
  }

  buf_ = bb;
  cnt_ = cnt;
  next_ = next;
  pos_ = pos;
  return st;
}

TInflater::TStatus TInflater::HuffmanBlock(const uint32_t* lit, const uint32_t* dist) {
  for (;;) {
    if (next_ && end_ - next_ >= 16 && pos_ < kHalf - 258 - 32) {
      const TStatus st = FastLoop(lit, dist);
      if (st == TStatus::EndOfBlock) return TStatus::Ok;
      if (st == TStatus::Error) return st;
      continue;
    }
    // One symbol with every check: near the end of the input block or of
    // the output half.
    if (cnt_ < 48) SlowRefill();
    uint32_t e = Lookup(lit, kLitRootBits, buf_, cnt_);
    if (Overrun() || (e & kFlagInvalid)) return TStatus::Error;
    if (e & kFlagLiteral) {
      PutByte(static_cast<uint8_t>(EntryValue(e)));
      continue;
    }
    if (e & kFlagEnd) return TStatus::Ok;
    uint32_t extra = EntryAux(e);
    const unsigned len = EntryValue(e) + static_cast<unsigned>(buf_ & Mask(extra));
    buf_ >>= extra;
    cnt_ -= extra;
    e = Lookup(dist, kDistRootBits, buf_, cnt_);
    if (e & kFlagInvalid) return TStatus::Error;
    extra = EntryAux(e);
    const unsigned d = EntryValue(e) + static_cast<unsigned>(buf_ & Mask(extra));
    buf_ >>= extra;
    cnt_ -= extra;
    if (Overrun() || !DistanceOk(d)) return TStatus::Error;
    CopyMatchSlow(d, len);
  }
}

}  // namespace

TDecodeResult Inflate(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf) {
  TInflater inflater(in, out, buf);
  return inflater.Run();
}

}  // namespace vantrel::zip
