// inflate.cpp - raw deflate decoding (RFC 1951) with a 32 KB window, and
// Deflate64 (the same format with a 64 KB window, longer lengths and two more
// distance codes).
//
// Output and history: the decoder writes into one contiguous area that holds
// the history (32 KB; 64 KB for Deflate64) followed by room for new output
// (256 KB; 64 KB) and some slack. A back-reference is always a plain copy from
// earlier in the same area, never split. When the new output fills its room,
// it is handed to the sink in blocks of 32 KB, and the last history-sized
// stretch (with whatever a final match wrote beyond the room) moves to the
// front of the area. For deflate the area is the run's decode buffers
// (TDecodeBuffers::InflateArea); Deflate64 allocates its own.
//
// Input: a 64-bit bit buffer filled eight bytes at a time while the input block
// has enough bytes left; near the end of a block it is refilled byte by byte,
// crossing into the next block through TDecodeInput::Refill(). When the
// entry's data run out, zero bytes are fed in and counted, and a symbol that
// needed any of them ends decoding with DataError.
//
// Huffman decoding is table driven: an 11-bit first-level table for literals
// and lengths, an 8-bit one for distances, and second-level tables for longer
// codes. (Entries holding two literals were tried: building them costs more
// than they save, most of all on short entries.)
// A fast loop decodes with few checks while the input block and the output
// room have margins for a whole symbol; a careful loop handles the rest one
// symbol at a time.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "zip/codec/decode_io.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VANTREL_INFLATE_BMI2 1
#endif

namespace vantrel::zip {

namespace {

constexpr int kLitRootBits = 11;
constexpr int kDistRootBits = 8;
constexpr int kCodeLenRootBits = 7;
constexpr int kMaxCodeBits = 15;
constexpr uint64_t kLitMask = (1u << kLitRootBits) - 1;
constexpr uint64_t kDistMask = (1u << kDistRootBits) - 1;

// The largest table any complete code can need with the first-level widths
// above: 288 literal/length symbols with 11 bits and 32 distance symbols with
// 8 bits, codes of at most 15 bits. Found by trying every distribution of code
// lengths (the longest codes spread over as many 11-bit prefixes as the
// symbols allow); the builder checks the bound anyway.
constexpr size_t kLitTableSize = 2342;
constexpr size_t kDistTableSize = 402;
constexpr size_t kCodeLenTableSize = 128;  // 7 bits, single level

// A table entry is 32 bits.
//   bits 0-5    bits to drop: the code, plus the extra bits of a length or
//               distance (a subtable pointer: the first-level width); bits 6
//               and 7 are zero, so the fast loop shifts and subtracts by the
//               whole entry without masking
// A literal (bit 31 set; only in literal/length tables):
//   bits 8-15   the literal
// Anything else (the flags below are tested only on entries without bit 31,
// whose bits 8-15 may hold a literal):
//   bits 8-12   the code's bits (a subtable pointer: the subtable's width)
//   bit 13      subtable pointer, bit 14 end of block, bit 15 invalid code
//   bits 16-31  length or distance base, subtable offset, or code-length symbol
constexpr uint32_t kCountMask = 0x3F;
constexpr uint32_t kFlagLiteral = 1u << 31;
constexpr uint32_t kFlagSub = 1u << 13;
constexpr uint32_t kFlagEnd = 1u << 14;
constexpr uint32_t kFlagInvalid = 1u << 15;

constexpr uint32_t Entry(uint32_t value, uint32_t flags, uint32_t codeBits, uint32_t extraBits) {
  return value << 16 | flags | codeBits << 8 | (codeBits + extraBits);
}
constexpr uint32_t LiteralEntry(uint32_t lit, uint32_t codeBits) { return kFlagLiteral | lit << 8 | codeBits; }
constexpr uint32_t EntryCount(uint32_t e) { return e & kCountMask; }
constexpr uint32_t EntryCodeBits(uint32_t e) { return (e >> 8) & 0x1F; }
constexpr uint32_t EntryValue(uint32_t e) { return e >> 16; }
constexpr uint8_t EntryLiteral(uint32_t e) { return static_cast<uint8_t>(e >> 8); }
constexpr uint64_t Mask(uint32_t n) { return (uint64_t{1} << n) - 1; }

// The value of a length or distance entry: its base plus the extra bits that
// followed the code in `bits` (the bit buffer before the entry was dropped).
// (Bits 13-15 of such an entry are clear, so e >> 8 masked to 6 bits, as a
// 64-bit shift masks its count, is the code's length.)
inline unsigned EntryNumber(uint32_t e, uint64_t bits) {
  return EntryValue(e) + static_cast<unsigned>((bits & Mask(EntryCount(e))) >> ((e >> 8) & 63));
}

// EntryNumber for the BMI2 build of the fast loop: one bzhi keeps the low
// bits, indexed by the entry itself (its low byte is the bit count). It frees
// the register that held the all-ones mask, and with it the loop keeps its
// input limit out of memory. An instruction rather than the intrinsic, which
// cannot be inlined into the fast loop: that is one template compiled for
// both targets, and only its BMI2 instance takes this path.
template <bool kBmi2>
inline unsigned FastEntryNumber(uint32_t e, uint64_t bits) {
#ifdef VANTREL_INFLATE_BMI2
  if constexpr (kBmi2) {
    uint64_t low;
    asm("bzhi %2, %1, %0" : "=r"(low) : "r"(bits), "r"(uint64_t{e}) : "cc");
    return EntryValue(e) + static_cast<unsigned>(low >> ((e >> 8) & 63));
  }
#endif
  return EntryNumber(e, bits);
}

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance codes 30 and 31 exist only in Deflate64.
constexpr uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// Order in which the code length code lengths are stored.
constexpr uint8_t kCodeLenOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// What differs between deflate and Deflate64.
struct TFormat {
  size_t history;      // largest distance
  unsigned distCodes;  // distance codes with a meaning
  bool longLengths;    // length code 285: base 3 with 16 extra bits, not 258
};
constexpr TFormat kDeflate{32768, 30, false};
constexpr TFormat kDeflate64{65536, 32, true};

enum class TCodeKind { LitLen, Dist, CodeLen };

// The decoded meaning of a symbol whose code has codeBits bits.
constexpr uint32_t SymbolEntry(const TFormat& f, TCodeKind kind, unsigned sym, uint32_t codeBits) {
  switch (kind) {
    case TCodeKind::LitLen:
      if (sym < 256) return LiteralEntry(sym, codeBits);
      if (sym == 256) return Entry(0, kFlagEnd, codeBits, 0);
      if (sym == 285 && f.longLengths) return Entry(3, 0, codeBits, 16);
      if (sym <= 285) return Entry(kLengthBase[sym - 257], 0, codeBits, kLengthExtra[sym - 257]);
      break;  // 286 and 287 have codes but no meaning
    case TCodeKind::Dist:
      if (sym < f.distCodes) return Entry(kDistBase[sym], 0, codeBits, kDistExtra[sym]);
      break;
    case TCodeKind::CodeLen:
      return Entry(sym, 0, codeBits, 0);
  }
  return Entry(0, kFlagInvalid, codeBits, 0);
}

// Every symbol's entry for a code of no bits: adding codeBits times
// EntryStep() gives the entry for a code of codeBits bits (a literal counts
// them once, anything else in its code bits too). Bit 31 marks a literal
// only in literal/length tables: a Deflate64 distance base sets it too.
constexpr uint32_t EntryStep(uint32_t base, bool literals) { return literals ? 0x101 - (base >> 31 << 8) : 0x101; }
template <size_t N>
struct TSymbolEntries {
  uint32_t base[N];
};
template <size_t N>
constexpr TSymbolEntries<N> MakeSymbolEntries(const TFormat& f, TCodeKind kind) {
  TSymbolEntries<N> t{};
  for (unsigned s = 0; s < N; ++s) t.base[s] = SymbolEntry(f, kind, s, 0);
  return t;
}
constexpr auto kLitLenEntries = MakeSymbolEntries<288>(kDeflate, TCodeKind::LitLen);
constexpr auto kLitLenEntries64 = MakeSymbolEntries<288>(kDeflate64, TCodeKind::LitLen);
constexpr auto kDistEntries = MakeSymbolEntries<32>(kDeflate, TCodeKind::Dist);
constexpr auto kDistEntries64 = MakeSymbolEntries<32>(kDeflate64, TCodeKind::Dist);
constexpr auto kCodeLenEntries = MakeSymbolEntries<19>(kDeflate, TCodeKind::CodeLen);

const uint32_t* SymbolEntries(const TFormat& f, TCodeKind kind) {
  switch (kind) {
    case TCodeKind::LitLen:
      return f.longLengths ? kLitLenEntries64.base : kLitLenEntries.base;
    case TCodeKind::Dist:
      return f.longLengths ? kDistEntries64.base : kDistEntries.base;
    case TCodeKind::CodeLen:
      break;
  }
  return kCodeLenEntries.base;
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

// Copies table[0, n) behind itself (n a power of two).
inline void DoubleEntries(uint32_t* table, size_t n) {
  if (n < 8) {
    for (size_t k = 0; k < n; ++k) table[n + k] = table[k];
    return;
  }
  if (n >= 64) {
    std::memcpy(table + n, table, n * sizeof(uint32_t));
    return;
  }
  for (size_t k = 0; k < n; k += 8) std::memcpy(table + n + k, table + k, 32);
}

// Builds a decoding table for the code lengths lens[0..n). Returns false for an
// over-subscribed set, and for an incomplete one unless it is the single
// one-bit code that RFC 1951 allows for distances (and that encoders also emit
// for literal/length codes); an empty distance code is accepted, and any use of
// it is an error. Entries no code reaches are invalid.
bool BuildTable(const TFormat& f, const uint8_t* lens, unsigned n, TCodeKind kind, int rootBits, uint32_t* table,
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
  for (int len = 0; len <= kMaxCodeBits; ++len) count[len] += count2[len];

  int left = 1;
  int maxLen = 0;
  for (int len = 1; len <= kMaxCodeBits; ++len) {
    left <<= 1;
    left -= static_cast<int>(count[len]);
    if (left < 0) return false;  // over-subscribed
    if (count[len]) maxLen = len;
  }
  const size_t rootSize = size_t{1} << rootBits;
  const uint32_t* const entries = SymbolEntries(f, kind);
  const bool literals = kind == TCodeKind::LitLen;
  auto entry = [&](unsigned sym, unsigned bits) {
    const uint32_t base = entries[sym];
    return base + bits * EntryStep(base, literals);
  };
  if (left != 0) {
    // Incomplete: only a lone one-bit code (code 0) is allowed.
    std::fill(table, table + rootSize, Entry(0, kFlagInvalid, 0, 0));
    if (maxLen == 0) return kind == TCodeKind::Dist;  // no codes at all
    if (kind == TCodeKind::CodeLen || maxLen != 1) return false;
    for (s = 0; lens[s] == 0; ++s) {
    }
    const uint32_t e = entry(s, 1);
    for (size_t j = 0; j < rootSize; j += 2) table[j] = e;
    return true;
  }

  // Symbols sorted by code length, then by value: the canonical order. The
  // symbols without a code go first, so that sorting takes no branch (which
  // the pattern of unused symbols made hard to predict); the codes begin
  // after them.
  unsigned offs[kMaxCodeBits + 2] = {};
  for (int len = 0; len <= kMaxCodeBits; ++len) offs[len + 1] = offs[len] + count[len];
  uint16_t sorted[320];
  for (s = 0; s < n; ++s) sorted[offs[lens[s]]++] = static_cast<uint16_t>(s);

  // Codes of at most rootBits bits fill the first-level table by doubling:
  // each length's codes go into its first 2^len entries, after that part
  // was copied behind itself, which repeats every shorter code over all the
  // entries that begin with it (whatever the entries held before is
  // overwritten on the way, by a code or by a subtable pointer).
  unsigned next = 0;  // canonical code of the next symbol of length len
  unsigned i = count[0];
  const int rootMax = std::min(maxLen, rootBits);
  for (int len = 1; len <= rootMax; ++len) {
    if (len > 1) DoubleEntries(table, size_t{1} << (len - 1));
    for (const unsigned end = i + count[len]; i < end; ++i, ++next)
      table[Reverse(next, len)] = entry(sorted[i], static_cast<unsigned>(len));
    next <<= 1;
  }
  for (int len = rootMax; len < rootBits; ++len) DoubleEntries(table, size_t{1} << len);

  // Longer codes: subtables.
  size_t used = rootSize;
  unsigned subPrefix = ~0u;  // first-level index of the open subtable
  size_t subBase = 0;
  int subBits = 0;
  int len = rootBits + 1;
  for (const unsigned total = offs[kMaxCodeBits + 1]; i < total; ++i, ++next) {
    const unsigned sym = sorted[i];
    for (; len < lens[sym]; ++len) next <<= 1;
    const unsigned code = next;
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
      table[Reverse(prefix, rootBits)] = static_cast<uint32_t>(subBase) << 16 | kFlagSub |
                                         static_cast<uint32_t>(subBits) << 8 | static_cast<uint32_t>(rootBits);
    }
    const int rest = len - rootBits;
    const uint32_t e = entry(sym, static_cast<unsigned>(rest));
    for (size_t j = Reverse(code & ((1u << rest) - 1), rest); j < (size_t{1} << subBits); j += size_t{1} << rest)
      table[subBase + j] = e;
  }
  return true;
}

// The two tables of a block, side by side: the fast loop reaches both
// through one pointer.
struct alignas(64) TTables {
  uint32_t lit[kLitTableSize];
  uint32_t dist[kDistTableSize];
};

// The fixed code of block type 1, built once per format.
const TTables& FixedTables(const TFormat& f) {
  auto build = [](const TFormat& fmt) {
    auto t = std::make_unique<TTables>();
    uint8_t lens[288];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    BuildTable(fmt, lens, 288, TCodeKind::LitLen, kLitRootBits, t->lit, kLitTableSize);
    // 32 five-bit codes; deflate has no use for 30 and 31.
    uint8_t dl[32];
    std::fill(dl, dl + 32, 5);
    BuildTable(fmt, dl, 32, TCodeKind::Dist, kDistRootBits, t->dist, kDistTableSize);
    return t;
  };
  static const std::unique_ptr<TTables> deflate = build(kDeflate);
  static const std::unique_ptr<TTables> deflate64 = build(kDeflate64);
  return f.longLengths ? *deflate64 : *deflate;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Copies len bytes from dist bytes back, in words that may write up to 63
// bytes past dst + len. The source may overlap the destination: each word
// reads only bytes written before it (or repeats the pattern of period dist).
// Most matches are short: the first 32 bytes go without a loop test, and a
// distance of 16 or more copies 32 bytes per test, so that longer matches
// also take few (mispredicted) loop exits.
inline void CopyMatch(uint8_t* dst, size_t dist, size_t len) {
  const uint8_t* src = dst - dist;
  uint8_t* const stop = dst + len;
  if (dist >= 16) {
    do {
      std::memcpy(dst, src, 16);
      std::memcpy(dst + 16, src + 16, 16);
      dst += 32;
      src += 32;
    } while (dst < stop);
  } else if (dist >= 8) {
    for (int k = 0; k < 32; k += 8) std::memcpy(dst + k, src + k, 8);
    dst += 32;
    src += 32;
    while (dst < stop) {
      std::memcpy(dst, src, 8);
      dst += 8;
      src += 8;
    }
  } else if (dist == 1) {
    const uint64_t v = 0x0101010101010101ull * *src;
    do {
      std::memcpy(dst, &v, 8);
      std::memcpy(dst + 8, &v, 8);
      dst += 16;
    } while (dst < stop);
  } else {
    // A short period: write the first bytes one by one until a multiple of
    // the period is at least 8 bytes back, then copy 8 bytes at a time from
    // that far back (the output repeats with the period).
    size_t period = dist;
    while (period < 8) period += dist;
    const size_t head = std::min(len, period - dist);
    for (size_t k = 0; k < head; ++k) dst[k] = src[k];
    dst += head;
    src = dst - period;
    while (dst < stop) {
      std::memcpy(dst, src, 8);
      dst += 8;
      src += 8;
    }
  }
}

class TInflater {
 public:
  // area: kAreaSlack bytes beyond history + room.
  TInflater(const TFormat& format, TDecodeInput& in, TDecodeOutput& out, uint8_t* area, size_t room)
      : f_(format), in_(in), out_(out), area_(area), flushAt_(format.history + room) {}

  TDecodeResult Run();

  // What the fast loop may write past the output room: two literals, a
  // longest deflate match and the overrun of the word copies.
  static constexpr size_t kAreaSlack = 2 + 258 + 64;

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
    Drop(n);
    return v;
  }
  void Drop(unsigned n) {
    buf_ >>= n;
    cnt_ -= n;
  }
  // Decodes one symbol's table entry and drops its code bits (the extra bits
  // of a length or distance stay). Needs cnt_ >= 15. Bit 31 marks a literal
  // only in literal/length tables (a distance base can set it).
  uint32_t Decode(const uint32_t* table, int rootBits, bool literals) {
    uint32_t e = table[buf_ & Mask(rootBits)];
    const bool literal = literals && (e & kFlagLiteral);
    if (!literal && (e & kFlagSub)) {
      Drop(EntryCount(e));
      e = table[EntryValue(e) + (buf_ & Mask(EntryCodeBits(e)))];
    }
    Drop(literals && (e & kFlagLiteral) ? EntryCount(e) : EntryCodeBits(e));
    return e;
  }
  // The extra bits of a decoded length or distance entry, added to its base.
  unsigned Extra(uint32_t e) { return EntryValue(e) + GetBits(EntryCount(e) - EntryCodeBits(e)); }

  // --- output ---
  // Hands out the new output up to flushAt_ and keeps the history.
  void Flush() {
    for (size_t p = flushed_; p < flushAt_; p += kBlockSize) out_.Write(area_ + p, std::min(kBlockSize, flushAt_ - p));
    const size_t drop = flushAt_ - f_.history;
    std::memmove(area_, area_ + drop, pos_ - drop);
    pos_ -= drop;
    flushed_ = f_.history;
  }
  void PutByte(uint8_t b) {
    area_[pos_++] = b;
    if (pos_ >= flushAt_) Flush();
  }
  // A match of any length, copied in pieces that end at the flush point;
  // dist already checked.
  void CopyLong(size_t dist, size_t len) {
    while (len > 0) {
      if (pos_ >= flushAt_) Flush();
      const size_t n = std::min(len, flushAt_ - pos_);
      CopyMatch(area_ + pos_, dist, n);
      pos_ += n;
      len -= n;
    }
  }
  bool DistanceOk(size_t dist) const { return dist <= pos_; }

  TStatus StoredBlock();
  TStatus DynamicTables();
  TStatus HuffmanBlock(const TTables& t);
  // kFullHistory: the area already holds a whole history, so no distance
  // can reach before its start and the check is left out. kBmi2: compiled
  // for processors with BMI2 (FastLoopBmi2).
  template <bool kLongLengths, bool kFullHistory, bool kBmi2 = false>
  [[gnu::always_inline]] inline TStatus FastLoop(const TTables& t);
  // The fast loop compiled for any processor, for x86-64 processors with BMI2
  // (shifts and masks by a register in one instruction), and for Deflate64;
  // the constructor picks the pair (while filling the history, once full).
  using TFastLoopFn = TStatus (*)(TInflater&, const TTables&);
  // Input bytes the fast loop leaves: between two of its limit tests it
  // refills twice, each time loading eight bytes and moving on by up to
  // seven (Deflate64: three times, the long extra bits of a length may need
  // one more).
  static constexpr ptrdiff_t InMargin(bool longLengths) { return longLengths ? 24 : 16; }
  template <bool kLongLengths, bool kFullHistory>
  static TStatus FastLoopPlain(TInflater& s, const TTables& t) {
    return s.FastLoop<kLongLengths, kFullHistory>(t);
  }
#ifdef VANTREL_INFLATE_BMI2
  template <bool kFullHistory>
  [[gnu::target("bmi,bmi2")]] static TStatus FastLoopBmi2(TInflater& s, const TTables& t) {
    return s.FastLoop<false, kFullHistory, true>(t);
  }
#endif
  struct TFastLoops {
    TFastLoopFn filling, full;
  };
  static TFastLoops ChooseFastLoops(const TFormat& f);

  const TFormat& f_;
  const TFastLoops fastLoops_ = ChooseFastLoops(f_);
  TDecodeInput& in_;
  TDecodeOutput& out_;
  uint8_t* const area_;
  const size_t flushAt_;  // end of the room for new output
  size_t pos_ = 0;        // next output byte in area_
  size_t flushed_ = 0;    // area_[flushed_, pos_) not yet handed out

  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t buf_ = 0;
  unsigned cnt_ = 0;
  unsigned pad_ = 0;
  bool eof_ = false;

  TTables dyn_;
};

TInflater::TFastLoops TInflater::ChooseFastLoops(const TFormat& f) {
  if (f.longLengths) return {FastLoopPlain<true, false>, FastLoopPlain<true, true>};
#ifdef VANTREL_INFLATE_BMI2
  static const bool bmi2 = __builtin_cpu_supports("bmi2");
  if (bmi2) return {FastLoopBmi2<false>, FastLoopBmi2<true>};
#endif
  return {FastLoopPlain<false, false>, FastLoopPlain<false, true>};
}

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
      st = HuffmanBlock(FixedTables(f_));
    } else if (type == 2) {
      st = DynamicTables();
      if (st == TStatus::Ok) st = HuffmanBlock(dyn_);
    } else {
      st = TStatus::Error;  // block type 3
    }
    if (st == TStatus::Error) break;
  }
  // What was decoded goes out even after an error; the CRC check judges it.
  for (size_t p = flushed_; p < pos_; p += kBlockSize) out_.Write(area_ + p, std::min(kBlockSize, pos_ - p));
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
    Drop(8);
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
    const size_t n = std::min<size_t>({left, static_cast<size_t>(end_ - next_), flushAt_ - pos_});
    std::memcpy(area_ + pos_, next_, n);
    next_ += n;
    pos_ += n;
    left -= static_cast<uint32_t>(n);
    if (pos_ >= flushAt_) Flush();
  }
  return TStatus::Ok;
}

TInflater::TStatus TInflater::DynamicTables() {
  const unsigned hlit = GetBits(5) + 257;
  const unsigned hdist = GetBits(5) + 1;
  const unsigned hclen = GetBits(4) + 4;
  if (Overrun() || hlit > 286 || hdist > f_.distCodes) return TStatus::Error;

  uint8_t clens[19] = {};
  for (unsigned i = 0; i < hclen; ++i) clens[kCodeLenOrder[i]] = static_cast<uint8_t>(GetBits(3));
  if (Overrun()) return TStatus::Error;
  uint32_t clTable[kCodeLenTableSize];
  if (!BuildTable(f_, clens, 19, TCodeKind::CodeLen, kCodeLenRootBits, clTable, kCodeLenTableSize))
    return TStatus::Error;

  uint8_t lens[286 + 32] = {};
  const unsigned n = hlit + hdist;
  unsigned i = 0;
  // Repeat codes 16, 17 and 18: extra bits and the least count.
  static constexpr uint8_t kRepeatExtra[3] = {2, 3, 7};
  static constexpr uint8_t kRepeatBase[3] = {3, 3, 11};
  while (i < n) {
    // A code of at most seven bits and at most seven extra bits. Zero bytes
    // fed after the end of the input only run the loop to its end: the
    // overrun is judged once, after it.
    if (cnt_ < 14) SlowRefill();
    const uint32_t e = clTable[buf_ & Mask(kCodeLenRootBits)];
    if (e & kFlagInvalid) return TStatus::Error;
    Drop(EntryCount(e));
    const unsigned sym = EntryValue(e);
    if (sym < 16) {
      lens[i++] = static_cast<uint8_t>(sym);
      continue;
    }
    const unsigned extra = kRepeatExtra[sym - 16];
    const unsigned repeat = kRepeatBase[sym - 16] + static_cast<unsigned>(buf_ & Mask(extra));
    Drop(extra);
    uint8_t value = 0;
    if (sym == 16) {
      if (i == 0) return TStatus::Error;  // nothing to repeat
      value = lens[i - 1];
    }
    if (repeat > n - i) return TStatus::Error;
    std::fill(lens + i, lens + i + repeat, value);
    i += repeat;
  }
  if (Overrun()) return TStatus::Error;
  if (lens[256] == 0) return TStatus::Error;  // no end-of-block code
  if (!BuildTable(f_, lens, hlit, TCodeKind::LitLen, kLitRootBits, dyn_.lit, kLitTableSize))
    return TStatus::Error;
  if (!BuildTable(f_, lens + hlit, hdist, TCodeKind::Dist, kDistRootBits, dyn_.dist, kDistTableSize))
    return TStatus::Error;
  return TStatus::Ok;
}

// Decodes while the output room is not full (the instance that checks
// distances: while the history is not full) and the input block has more
// than InMargin() bytes left. Works on local copies of the state; returns
// Ok when a limit is reached (or after a long Deflate64 match). The next
// literal/length entry is looked up before the current match is copied, so
// that the table load overlaps the copy.
template <bool kLongLengths, bool kFullHistory, bool kBmi2>
TInflater::TStatus TInflater::FastLoop(const TTables& t) {
  constexpr ptrdiff_t kInMargin = InMargin(kLongLengths);
  // The low byte of cnt is the number of bits held; the bytes above it
  // collect garbage from subtracting whole entries.
  uint64_t bb = buf_;
  uint32_t cnt = cnt_;
  const uint8_t* in = next_;
  // Deflate's room is fixed (Inflate() passes kInflateRoom), so the bytes in
  // the area follow from the output limit: the start of the area takes no
  // register (with it, one of the limits was kept on the stack). While the
  // history fills, the loop stops once it is full: the rest of the room is
  // decoded by the loop without the distance check.
  const size_t history = kLongLengths ? kDeflate64.history : kDeflate.history;
  const size_t limitAt = !kFullHistory ? history : kLongLengths ? flushAt_ : kDeflate.history + kInflateRoom;
  uint8_t* out = area_ + pos_;
  uint8_t* const outLimit = area_ + limitAt;
  auto written = [&] { return limitAt - static_cast<size_t>(outLimit - out); };  // out - area_
  if (out >= outLimit || end_ - in < kInMargin) return TStatus::Ok;
  const uint8_t* const inLimit = end_ - kInMargin;
  constexpr bool longLengths = kLongLengths;
  TStatus st = TStatus::Ok;

  auto refill = [&] {
    bb |= Load64(in) << (cnt & 63);
    in += 7 - ((cnt >> 3) & 7);
    cnt |= 56;
  };
  // Drops an entry's bits (its low six bits are the count).
  auto drop = [&](uint32_t e) {
    bb >>= (e & 63);
    cnt -= e;
  };
  auto putLiteral = [&](uint32_t e) { *out++ = EntryLiteral(e); };
  // out < outLimit and in <= inLimit, as one test of a sign bit.
  auto more = [&] { return ((out - outLimit) & ~(inLimit - in)) < 0; };

  // A refill loads 64 bits of which it counts 56 or more, and the bits it
  // does not count are the true next bits of the stream too; dropping bits
  // shifts zeros in from the top. So after consuming k bits since the last
  // refill, the low 64 - k bits of bb are the stream's next bits whatever cnt
  // says. An iteration consumes at most 48 bits (a literal/length code with
  // its extra bits and a distance code with its extra bits; two literal
  // entries take at most 22), which leaves 16, enough for the next
  // first-level lookup: it is done before the refill, so that the table load
  // does not wait for the refill. (Not so for Deflate64, whose length codes
  // carry up to 16 extra bits.)

  refill();
  uint32_t e = t.lit[bb & kLitMask];
  for (;;) {
    if (e & kFlagLiteral) {
      // One more first-level literal entry fits in the bits held before the
      // refill (two per refill measured faster than three or four).
      drop(e);
      putLiteral(e);
      e = t.lit[bb & kLitMask];
      if (e & kFlagLiteral) {
        drop(e);
        putLiteral(e);
        if (!more()) break;
        e = t.lit[bb & kLitMask];  // before the refill: see above
        refill();
        continue;
      }
      // A length may follow with too few bits left for its distance.
      refill();
    }
    // One test for the rare entries: a subtable, end of block, invalid.
    if (e & (kFlagSub | kFlagEnd | kFlagInvalid)) {
      if (e & kFlagSub) {
        drop(e);
        e = t.lit[EntryValue(e) + (bb & Mask(EntryCodeBits(e)))];
        if (e & kFlagLiteral) {
          drop(e);
          *out++ = EntryLiteral(e);
          if (!more()) break;
          refill();
          e = t.lit[bb & kLitMask];
          continue;
        }
      }
      if (e & (kFlagEnd | kFlagInvalid)) {
        drop(EntryCodeBits(e));
        st = (e & kFlagEnd) ? TStatus::EndOfBlock : TStatus::Error;
        break;
      }
    }
    const size_t len = FastEntryNumber<kBmi2>(e, bb);
    drop(e);
    // Deflate64's 16 extra length bits can leave too few for the distance.
    if (longLengths && static_cast<uint8_t>(cnt) < 32) refill();

    e = t.dist[bb & kDistMask];
    if (e & (kFlagSub | kFlagInvalid)) {
      if (e & kFlagSub) {
        drop(e);
        e = t.dist[EntryValue(e) + (bb & Mask(EntryCodeBits(e)))];
      }
      if (e & kFlagInvalid) {
        st = TStatus::Error;
        break;
      }
    }
    const size_t d = FastEntryNumber<kBmi2>(e, bb);
    drop(e);
    if (!kFullHistory && d > written()) {
      st = TStatus::Error;
      break;
    }
    if (longLengths && len > 258) {
      pos_ = static_cast<size_t>(out - area_);
      CopyLong(d, len);
      out = area_ + pos_;
      if (!more()) break;
      refill();
      e = t.lit[bb & kLitMask];
      continue;
    }
    uint8_t* const dst = out;
    out += len;
    if (!more()) {
      CopyMatch(dst, d, len);
      break;
    }
    if (longLengths) {
      // Deflate64's longer extra bits may have used up the margin.
      refill();
      e = t.lit[bb & kLitMask];
    } else {
      e = t.lit[bb & kLitMask];  // before the refill: see above
      refill();
    }
    CopyMatch(dst, d, len);
  }

  buf_ = bb;
  cnt_ = static_cast<uint8_t>(cnt);
  next_ = in;
  pos_ = static_cast<size_t>(out - area_);
  return st;
}

TInflater::TStatus TInflater::HuffmanBlock(const TTables& t) {
  for (;;) {
    if (pos_ >= flushAt_) Flush();
    if (next_ && end_ - next_ >= InMargin(f_.longLengths)) {
      const TStatus st = (pos_ >= f_.history ? fastLoops_.full : fastLoops_.filling)(*this, t);
      if (st == TStatus::EndOfBlock) return TStatus::Ok;
      if (st == TStatus::Error) return st;
      if (pos_ >= flushAt_ || (next_ && end_ - next_ >= InMargin(f_.longLengths))) continue;
    }
    // One symbol with every check: near the end of the input block.
    if (cnt_ < 48) SlowRefill();
    const uint32_t e = Decode(t.lit, kLitRootBits, true);
    if (Overrun()) return TStatus::Error;
    if (e & kFlagLiteral) {
      PutByte(EntryLiteral(e));
      continue;
    }
    if (e & kFlagInvalid) return TStatus::Error;
    if (e & kFlagEnd) return TStatus::Ok;
    const unsigned len = Extra(e);
    if (cnt_ < 32) SlowRefill();
    const uint32_t de = Decode(t.dist, kDistRootBits, false);
    if (de & kFlagInvalid) return TStatus::Error;
    const unsigned d = Extra(de);
    if (Overrun() || !DistanceOk(d)) return TStatus::Error;
    CopyLong(d, len);
  }
}

TDecodeResult RunInflater(const TFormat& format, TDecodeInput& in, TDecodeOutput& out, uint8_t* area, size_t room) {
  TInflater inflater(format, in, out, area, room);
  return inflater.Run();
}

}  // namespace

TDecodeResult Inflate(TDecodeInput& in, TDecodeOutput& out, TDecodeBuffers& buf) {
  // The fast loop relies on this room for deflate (see its output limit).
  static_assert(kDeflate.history + kInflateRoom + TInflater::kAreaSlack <= TDecodeBuffers::kInflateAreaSize);
  return RunInflater(kDeflate, in, out, buf.InflateArea(), kInflateRoom);
}

TDecodeResult Inflate64(TDecodeInput& in, TDecodeOutput& out) {
  constexpr size_t kRoom = 2 * kBlockSize;
  std::unique_ptr<uint8_t[]> area(new (std::nothrow) uint8_t[kDeflate64.history + kRoom + TInflater::kAreaSlack]);
  if (!area) return TDecodeResult::OutOfMemory;
  return RunInflater(kDeflate64, in, out, area.get(), kRoom);
}

}  // namespace vantrel::zip
