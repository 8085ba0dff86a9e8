// deflate_compress.cpp - the deflate compressor.
//
// ---------------------------------------------------------------------------
// The output is fully determined by the rules below; everything done for speed
// leaves every match choice and every block boundary as the rules make them.
//
// Window: 65536 bytes in two halves. strstart is the current position,
// lookahead the bytes available from it. When fewer than 262 bytes are ahead
// the window is refilled; once strstart reaches 65274 the upper half moves
// down and every hash position loses 32768 (positions below become 0, "no
// chain"). Position 0 therefore never serves as a match candidate.
//
// Hash chains: a 15-bit rolling hash of three bytes, h = ((h << 5) ^ b) &
// 0x7FFF; head[h] is the newest position with that hash, prev[p & 0x7FFF]
// the next older one. The first candidate may lie 32506 bytes back, later
// ones of the same search fewer. Because the hash of three bytes is exact in
// its third byte once the first two agree, a candidate from a chain always
// matches the third byte when it matches the first two.
//
// Chain walk at levels 4-9: with one link per position every step waits for
// the load of the previous one, and the walk runs at the speed of that load.
// These levels also keep prev2 and prev3, the positions two and three links
// along each chain (set on insertion from the old head's prev and prev2), and
// walk the chain as three interleaved strands, so three link loads are in
// flight at once. Candidates are still examined one by one in chain order,
// so the search finds what a one-link walk finds. The extra links of a
// position are read only while every position before it on the chain lies
// within reach, and a position within reach has not been overwritten in the
// 32 KB ring of links, so what they hold is always the chain's own.
//
// Match search: a candidate must be strictly longer than the best so far; the
// nearest wins ties. Candidates are screened with two 16-bit loads (the two
// bytes ending at the best length, and the first two bytes) and then compared
// eight bytes at a time. A match never reaches past the data read so far:
// bytes beyond the input's end never match, so the result does not depend on
// what an earlier file left in the window.
//
// Blocks: items (literals and length/distance pairs) collect in two parallel
// buffers. A block ends when 32767 items are buffered, or, from level 3, at
// every 4096th item when fewer than half the items are matches and an
// estimate of the coded size is under half the block's input. Each block is
// then sent as the cheapest of stored, static and dynamic; a file that is one
// block and would not shrink is written as its plain bytes.
//
// Bits leave through a 64-bit buffer, least significant bit first, into a
// 1024-byte output buffer that goes to the sink when full.
// ---------------------------------------------------------------------------
#include "zip/codec/deflate_compress.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "zip/codec/memory_access.h"

namespace vantrel::zip {

namespace {

// Window and matching.
constexpr unsigned kWSize = 32768;
constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kWindowSize = 2 * kWSize;
constexpr unsigned kWindowPad = 16;  // slack for 8-byte loads at the window's end
constexpr unsigned kHashSize = 32768;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = 5;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
constexpr unsigned kMaxDist = kWSize - kMinLookahead;          // 32506
constexpr unsigned kTooFar = 4096;
constexpr unsigned kMaxRead = 65534;

// Item buffers.
constexpr unsigned kLitBufSize = 32768;
constexpr unsigned kDistBufSize = 32768;

// Trees.
constexpr int kLengthCodes = 29;
constexpr int kLiterals = 256;
constexpr int kEndBlock = 256;
constexpr int kLCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kDCodes = 30;
constexpr int kBLCodes = 19;
constexpr int kHeapSize = 2 * kLCodes + 1;  // 573
constexpr int kMaxBits = 15;
constexpr int kMaxBLBits = 7;
constexpr int kRep3_6 = 16;
constexpr int kRepZ3_10 = 17;
constexpr int kRepZ11_138 = 18;

constexpr size_t kOutBufSize = 1024;

constexpr uint8_t kExtraLBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kExtraDBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kExtraBLBits[kBLCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr uint8_t kBLOrder[kBLCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct TLevelParams {
  uint16_t good;   // a previous match this long quarters the chain limit
  uint16_t lazy;   // greedy: longest match whose inner positions are hashed;
                   // lazy: no search at the next position from this length on
  uint16_t nice;   // stop searching once a match is this long
  uint16_t chain;  // most candidates examined per search
  bool lazyMatch;
};

constexpr TLevelParams kLevels[10] = {
    {0, 0, 0, 0, false},          // 0: stored by the writer, never here
    {4, 4, 8, 4, false},          {4, 5, 16, 8, false},         {4, 6, 32, 32, false},
    {4, 4, 16, 16, true},         {8, 16, 32, 32, true},        {8, 16, 128, 128, true},
    {8, 32, 128, 256, true},      {32, 128, 258, 1024, true},   {32, 258, 258, 4096, true},
};

unsigned BitReverse(unsigned code, int len) {
  unsigned res = 0;
  do {
    res |= code & 1;
    code >>= 1;
    res <<= 1;
  } while (--len > 0);
  return res >> 1;
}

// The fixed tables of RFC 1951 and the static trees, built once.
struct TStaticTables {
  uint8_t lengthCode[256];  // match length - 3 -> length code 0..28
  uint16_t baseLength[kLengthCodes];
  uint8_t distCode[512];    // see DistCode()
  uint16_t baseDist[kDCodes];
  uint8_t ltreeLen[kLCodes + 2];
  uint16_t ltreeCode[kLCodes + 2];
  uint8_t dtreeLen[kDCodes];
  uint16_t dtreeCode[kDCodes];

  TStaticTables() {
    int length = 0;
    int code;
    for (code = 0; code < kLengthCodes - 1; code++) {
      baseLength[code] = static_cast<uint16_t>(length);
      for (int n = 0; n < (1 << kExtraLBits[code]); n++) lengthCode[length++] = static_cast<uint8_t>(code);
    }
    // Length 258 has its own code (285) rather than 284 with 31 in the extra bits.
    baseLength[kLengthCodes - 1] = 255;
    lengthCode[length - 1] = static_cast<uint8_t>(code);

    int dist = 0;
    for (code = 0; code < 16; code++) {
      baseDist[code] = static_cast<uint16_t>(dist);
      for (int n = 0; n < (1 << kExtraDBits[code]); n++) distCode[dist++] = static_cast<uint8_t>(code);
    }
    dist >>= 7;
    for (; code < kDCodes; code++) {
      baseDist[code] = static_cast<uint16_t>(dist << 7);
      for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); n++) distCode[256 + dist++] = static_cast<uint8_t>(code);
    }

    uint16_t blCount[kMaxBits + 1] = {};
    int n = 0;
    while (n <= 143) ltreeLen[n++] = 8, blCount[8]++;
    while (n <= 255) ltreeLen[n++] = 9, blCount[9]++;
    while (n <= 279) ltreeLen[n++] = 7, blCount[7]++;
    while (n <= 287) ltreeLen[n++] = 8, blCount[8]++;
    uint16_t nextCode[kMaxBits + 1];
    unsigned c = 0;
    for (int bits = 1; bits <= kMaxBits; bits++) nextCode[bits] = static_cast<uint16_t>(c = (c + blCount[bits - 1]) << 1);
    for (n = 0; n < kLCodes + 2; n++) ltreeCode[n] = static_cast<uint16_t>(BitReverse(nextCode[ltreeLen[n]]++, ltreeLen[n]));
    for (n = 0; n < kDCodes; n++) {
      dtreeLen[n] = 5;
      dtreeCode[n] = static_cast<uint16_t>(BitReverse(static_cast<unsigned>(n), 5));
    }
  }

  // Distance code of (distance - 1).
  unsigned DistCode(unsigned dist) const { return dist < 256 ? distCode[dist] : distCode[256 + (dist >> 7)]; }
};

const TStaticTables& Tables() {
  static const TStaticTables tables;
  return tables;
}

// The bit writer stores 32-bit words and the matcher finds the first differing
// byte from the low end of a 64-bit word: both read memory as little-endian.
static_assert(std::endian::native == std::endian::little, "the compressor assumes a little-endian host");

// A Huffman tree under construction: leaves 0..elems-1, inner nodes after them.
struct TTree {
  uint32_t freq[kHeapSize];
  uint16_t dad[kHeapSize];
  uint16_t len[kHeapSize];
  uint16_t code[kLCodes + 2];
  int maxCode = 0;
};

}  // namespace

size_t TMemoryDeflateSource::Read(uint8_t* buf, size_t n) {
  size_t take = std::min(n, size_ - pos_);
  if (take) std::memcpy(buf, data_ + pos_, take);
  pos_ += take;
  return take;
}

uint16_t DeflateLevelFlags(int level) {
  if (level == 1 || level == 2) return 4;
  if (level == 8 || level == 9) return 2;
  return 0;
}

struct TDeflateCompressor::TState {
  // ---- Buffers allocated once, reused for every file.
  uint8_t window[kWindowSize + kWindowPad];
  uint16_t head[kHashSize];
  uint16_t prev[kWSize];
  uint16_t prev2[kWSize];  // levels 4-9: two links along the chain
  uint16_t prev3[kWSize];  // levels 4-9: three links along the chain
  uint8_t lbuf[kLitBufSize];    // literal, or match length - 3
  uint16_t dbuf[kLitBufSize];   // 0 for a literal, else the match distance
  TTree ltree, dtree, bltree;
  int heap[kHeapSize];
  uint8_t depth[kHeapSize];
  uint16_t blCount[kMaxBits + 1];
  int heapLen = 0, heapMax = 0;
  uint8_t outBuf[kOutBufSize + 8];

  const TStaticTables* tab = &Tables();

  // ---- Per file.
  TDeflateSource* in = nullptr;
  TDeflateSink* out = nullptr;
  TDeflateObserver* observer = nullptr;
  int level = 6;
  TLevelParams params{};

  unsigned strstart = 0;
  int64_t blockStart = 0;
  unsigned lookahead = 0;
  unsigned insH = 0;
  unsigned matchStart = 0;
  unsigned prevLength = 0;
  bool eof = false;

  unsigned lastLit = 0;   // items buffered
  unsigned lastDist = 0;  // matches buffered
  uint64_t optLen = 0;    // bit length of the block with dynamic trees
  uint64_t staticLen = 0; // bit length of the block with static trees
  uint64_t compressedBits = 0;

  uint64_t bitBuf = 0;
  unsigned bitCount = 0;
  size_t outPos = 0;
  uint64_t bytesOut = 0;

  uint16_t internalAttributes = 2;
  uint16_t method = 8;
  // A piece of a split stream: never the plain bytes, and not always final.
  bool wholeFileAllowed = true;
  bool finalBlock = true;

  // ---------------------------------------------------------------- output

  void FlushOut() {
    if (outPos) {
      out->Write(outBuf, outPos);
      bytesOut += outPos;
      outPos = 0;
    }
  }

  // Moves whole bytes from the bit buffer when 32 or more bits wait.
  void Drain() {
    if (bitCount >= 32) {
      uint32_t word = static_cast<uint32_t>(bitBuf);
      std::memcpy(outBuf + outPos, &word, 4);
      outPos += 4;
      bitBuf >>= 32;
      bitCount -= 32;
      if (outPos >= kOutBufSize) FlushFullOut();
    }
  }

  void FlushFullOut() {
    out->Write(outBuf, kOutBufSize);
    bytesOut += kOutBufSize;
    outPos -= kOutBufSize;
    std::memcpy(outBuf, outBuf + kOutBufSize, outPos);
  }

  // Appends `length` (at most 32) bits of `value`.
  void SendBits(uint32_t value, unsigned length) {
    bitBuf |= static_cast<uint64_t>(value) << bitCount;
    bitCount += length;
    Drain();
  }

  void PutByte(uint8_t b) {
    outBuf[outPos++] = b;
    if (outPos >= kOutBufSize) FlushFullOut();
  }

  // Sends the bits still waiting, padded to a whole byte.
  void WindUp() {
    while (bitCount > 0) {
      PutByte(static_cast<uint8_t>(bitBuf));
      bitBuf >>= 8;
      bitCount = bitCount > 8 ? bitCount - 8 : 0;
    }
    bitBuf = 0;
    bitCount = 0;
  }

  void WriteRaw(const uint8_t* data, size_t n) {
    FlushOut();
    while (n > 0) {
      size_t part = std::min<size_t>(n, 65535);
      out->Write(data, part);
      bytesOut += part;
      data += part;
      n -= part;
    }
  }

  // ---------------------------------------------------------------- input

  // Reads until `n` bytes are in or the input ends.
  size_t ReadFull(uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
      size_t r = in->Read(buf + got, std::min<size_t>(n - got, kMaxRead));
      if (r == 0) break;
      got += std::min(r, n - got);
    }
    return got;
  }

  static void SlidePositions(uint16_t* positions, unsigned count) {
    for (unsigned n = 0; n < count; n++) {
      uint16_t m = positions[n];
      positions[n] = static_cast<uint16_t>(m >= kWSize ? m - kWSize : 0);
    }
  }

  void SlideWindow() {
    std::memcpy(window, window + kWSize, kWSize);
    matchStart -= kWSize;
    strstart -= kWSize;
    blockStart -= kWSize;
    SlidePositions(head, kHashSize);
    SlidePositions(prev, kWSize);
    if (params.lazyMatch) {
      SlidePositions(prev2, kWSize);
      SlidePositions(prev3, kWSize);
    }
  }

  void FillWindow() {
    do {
      unsigned more = kWindowSize - lookahead - strstart;
      if (strstart >= kWSize + kMaxDist) {
        SlideWindow();
        more += kWSize;
      }
      // The end of the input counts only when a read brings nothing: a
      // short read leaves it for the next fill, which may slide first.
      size_t n = ReadFull(window + strstart + lookahead, more);
      if (n == 0) {
        eof = true;
      } else {
        lookahead += static_cast<unsigned>(n);
      }
    } while (lookahead < kMinLookahead && !eof);
  }

  // ---------------------------------------------------------------- matching

  // Puts `pos` at the head of its chain and returns the old head. With
  // kFarLinks (levels 4-9) it also sets the links two and three steps on.
  template <bool kFarLinks>
  inline unsigned InsertString(unsigned pos) {
    insH = ((insH << kHashShift) ^ window[pos + 2]) & kHashMask;
    unsigned h = head[insH];
    prev[pos & kWMask] = static_cast<uint16_t>(h);
    if constexpr (kFarLinks) {
      prev2[pos & kWMask] = prev[h & kWMask];
      prev3[pos & kWMask] = prev2[h & kWMask];
    }
    head[insH] = static_cast<uint16_t>(pos);
    return h;
  }

  // Searches the chain from curMatch for a match longer than prevLength.
  // Returns the best length found (prevLength if none) and sets matchStart
  // when it finds a longer one. The result is at most the lookahead.
  // kStrands: walk the chain as three strands (levels 4-9, see the top).
  template <bool kStrands>
  inline unsigned LongestMatch(unsigned curMatch) {
    unsigned chain = params.chain;
    const uint8_t* scan = window + strstart;
    unsigned best = prevLength;
    const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
    const unsigned maxLen = std::min(kMaxMatch, lookahead);
    if (best >= maxLen) return best;
    const unsigned nice = std::min<unsigned>(params.nice, maxLen);
    if (prevLength >= params.good) chain >>= 2;

    uint16_t scanEnd = Load16(scan + best - 1);
    const uint16_t scanStart = Load16(scan);
    // Examines one candidate; true when the search is over.
    auto examine = [&](unsigned cand) -> bool {
      const uint8_t* match = window + cand;
      if (Load16(match + best - 1) != scanEnd || Load16(match) != scanStart) return false;
      // Bytes 0 and 1 agree, and byte 2 by the hash; compare from byte 2 on.
      unsigned len = 2;
      for (;;) {
        uint64_t diff = Load64(scan + len) ^ Load64(match + len);
        if (diff) {
          len += static_cast<unsigned>(std::countr_zero(diff)) >> 3;
          break;
        }
        len += 8;
        if (len >= maxLen) break;
      }
      if (len > maxLen) len = maxLen;
      if (len > best) {
        matchStart = cand;
        best = len;
        if (len >= nice) return true;
        scanEnd = Load16(scan + best - 1);
      }
      return false;
    };

    if constexpr (!kStrands) {
      do {
        if (examine(curMatch)) break;
      } while ((curMatch = prev[curMatch & kWMask]) > limit && --chain != 0);
    } else {
      // a, b, c: three successive candidates; the next three are each three
      // links on. The links are loaded before the candidates are examined.
      unsigned a = curMatch, b = prev[a & kWMask], c = prev2[a & kWMask];
      for (;;) {
        const unsigned nextA = prev3[a & kWMask], nextB = prev3[b & kWMask], nextC = prev3[c & kWMask];
        if (examine(a) || b <= limit || --chain == 0) break;
        if (examine(b) || c <= limit || --chain == 0) break;
        if (examine(c) || nextA <= limit || --chain == 0) break;
        a = nextA;
        b = nextB;
        c = nextC;
      }
    }
    return best;
  }

  // ---------------------------------------------------------------- items

  // Records a literal; true when the block must end.
  inline bool TallyLit(unsigned c) {
    lbuf[lastLit] = static_cast<uint8_t>(c);
    dbuf[lastLit] = 0;
    lastLit++;
    ltree.freq[c]++;
    return CheckBlockFull();
  }

  // Records a match of `length` at `dist`; true when the block must end.
  inline bool TallyMatch(unsigned dist, unsigned length) {
    const TStaticTables& t = *tab;
    unsigned lc = length - kMinMatch;
    lbuf[lastLit] = static_cast<uint8_t>(lc);
    dbuf[lastLit] = static_cast<uint16_t>(dist);
    lastLit++;
    lastDist++;
    ltree.freq[t.lengthCode[lc] + kLiterals + 1]++;
    dtree.freq[t.DistCode(dist - 1)]++;
    return CheckBlockFull();
  }

  inline bool CheckBlockFull() {
    if ((lastLit & 0xFFF) == 0 && level > 2) {
      uint64_t outLength = static_cast<uint64_t>(lastLit) * 8;
      uint64_t inLength = static_cast<uint64_t>(static_cast<int64_t>(strstart) - blockStart);
      for (int d = 0; d < kDCodes; d++) outLength += static_cast<uint64_t>(dtree.freq[d]) * (5 + kExtraDBits[d]);
      outLength >>= 3;
      if (lastDist < lastLit / 2 && outLength < inLength / 2) return true;
    }
    return lastLit == kLitBufSize - 1 || lastDist == kDistBufSize;
  }

  // ---------------------------------------------------------------- trees

  void InitBlock() {
    std::fill(std::begin(ltree.freq), std::begin(ltree.freq) + kLCodes, 0u);
    std::fill(std::begin(dtree.freq), std::begin(dtree.freq) + kDCodes, 0u);
    std::fill(std::begin(bltree.freq), std::begin(bltree.freq) + kBLCodes, 0u);
    ltree.freq[kEndBlock] = 1;
    optLen = staticLen = 0;
    lastLit = lastDist = 0;
  }

  bool Smaller(const TTree& t, int n, int m) const {
    return t.freq[n] < t.freq[m] || (t.freq[n] == t.freq[m] && depth[n] <= depth[m]);
  }

  void PqDownHeap(const TTree& t, int k) {
    int v = heap[k];
    int j = k << 1;
    while (j <= heapLen) {
      if (j < heapLen && Smaller(t, heap[j + 1], heap[j])) j++;
      if (Smaller(t, v, heap[j])) break;
      heap[k] = heap[j];
      k = j;
      j <<= 1;
    }
    heap[k] = v;
  }

  // Gives each leaf its code length, keeping to maxLength, and adds the
  // block's cost with these lengths (and with the static ones) to the totals.
  void GenBitLen(TTree& t, const uint8_t* staticLens, const uint8_t* extra, int base, int maxLength) {
    const int maxCode = t.maxCode;
    int overflow = 0;
    std::fill(std::begin(blCount), std::end(blCount), uint16_t{0});

    t.len[heap[heapMax]] = 0;  // the root
    int h;
    for (h = heapMax + 1; h < kHeapSize; h++) {
      int n = heap[h];
      int bits = t.len[t.dad[n]] + 1;
      if (bits > maxLength) bits = maxLength, overflow++;
      t.len[n] = static_cast<uint16_t>(bits);
      if (n > maxCode) continue;  // inner node
      blCount[bits]++;
      int xbits = n >= base ? extra[n - base] : 0;
      uint64_t f = t.freq[n];
      optLen += f * static_cast<uint64_t>(bits + xbits);
      if (staticLens) staticLen += f * static_cast<uint64_t>(staticLens[n] + xbits);
    }
    if (overflow == 0) return;

    // Move leaves down from the deepest level below the limit that has one,
    // each together with an overflowed leaf as its brother.
    do {
      int bits = maxLength - 1;
      while (blCount[bits] == 0) bits--;
      blCount[bits]--;
      blCount[bits + 1] += 2;
      blCount[maxLength]--;
      overflow -= 2;
    } while (overflow > 0);

    // Hand the lengths back in order of frequency (h is kHeapSize here).
    for (int bits = maxLength; bits != 0; bits--) {
      int n = blCount[bits];
      while (n != 0) {
        int m = heap[--h];
        if (m > maxCode) continue;
        if (t.len[m] != bits) {
          optLen += static_cast<uint64_t>((static_cast<int64_t>(bits) - t.len[m]) * static_cast<int64_t>(t.freq[m]));
          t.len[m] = static_cast<uint16_t>(bits);
        }
        n--;
      }
    }
  }

  void GenCodes(TTree& t) {
    uint16_t nextCode[kMaxBits + 1];
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; bits++) nextCode[bits] = static_cast<uint16_t>(code = (code + blCount[bits - 1]) << 1);
    for (int n = 0; n <= t.maxCode; n++) {
      int len = t.len[n];
      if (len == 0) continue;
      t.code[n] = static_cast<uint16_t>(BitReverse(nextCode[len]++, len));
    }
  }

  void BuildTree(TTree& t, int elems, const uint8_t* staticLens, const uint8_t* extra, int base, int maxLength) {
    heapLen = 0;
    heapMax = kHeapSize;
    int maxCode = -1;
    for (int n = 0; n < elems; n++) {
      if (t.freq[n] != 0) {
        heap[++heapLen] = maxCode = n;
        depth[n] = 0;
      } else {
        t.len[n] = 0;
      }
    }
    // At least two codes must exist: add symbols of frequency 1 as needed.
    // They are never sent, so their cost is taken out again.
    while (heapLen < 2) {
      int added = heap[++heapLen] = (maxCode < 2 ? ++maxCode : 0);
      t.freq[added] = 1;
      depth[added] = 0;
      optLen--;
      if (staticLens) staticLen -= staticLens[added];
    }
    t.maxCode = maxCode;

    for (int n = heapLen / 2; n >= 1; n--) PqDownHeap(t, n);

    int node = elems;
    do {
      int n = heap[1];
      heap[1] = heap[heapLen--];
      PqDownHeap(t, 1);
      int m = heap[1];
      heap[--heapMax] = n;
      heap[--heapMax] = m;
      t.freq[node] = t.freq[n] + t.freq[m];
      depth[node] = static_cast<uint8_t>(std::max(depth[n], depth[m]) + 1);
      t.dad[n] = t.dad[m] = static_cast<uint16_t>(node);
      heap[1] = node++;
      PqDownHeap(t, 1);
    } while (heapLen >= 2);
    heap[--heapMax] = heap[1];

    GenBitLen(t, staticLens, extra, base, maxLength);
    GenCodes(t);
  }

  // Walks the code lengths 0..maxCode of a tree as they are run-length coded
  // and calls emit(symbol, repeatCount) for each code-length symbol: for 16,
  // 17 and 18 the count is the run length, else 1.
  template <typename Emit>
  static void WalkLengths(const TTree& t, int maxCode, Emit emit) {
    int prevLen = -1;
    int nextLen = t.len[0];
    int count = 0;
    int maxCount = 7, minCount = 4;
    if (nextLen == 0) maxCount = 138, minCount = 3;
    for (int n = 0; n <= maxCode; n++) {
      int curLen = nextLen;
      nextLen = n + 1 <= maxCode ? t.len[n + 1] : -1;
      if (++count < maxCount && curLen == nextLen) {
        continue;
      } else if (count < minCount) {
        do emit(curLen, 1); while (--count != 0);
      } else if (curLen != 0) {
        if (curLen != prevLen) {
          emit(curLen, 1);
          count--;
        }
        emit(kRep3_6, count);
      } else if (count <= 10) {
        emit(kRepZ3_10, count);
      } else {
        emit(kRepZ11_138, count);
      }
      count = 0;
      prevLen = curLen;
      if (nextLen == 0) {
        maxCount = 138, minCount = 3;
      } else if (curLen == nextLen) {
        maxCount = 6, minCount = 3;
      } else {
        maxCount = 7, minCount = 4;
      }
    }
  }

  // Builds the code-length tree; returns the index in kBLOrder of the last
  // code-length code to send.
  int BuildBLTree() {
    auto count = [this](int sym, int) { bltree.freq[sym]++; };
    WalkLengths(ltree, ltree.maxCode, count);
    WalkLengths(dtree, dtree.maxCode, count);
    BuildTree(bltree, kBLCodes, nullptr, kExtraBLBits, 0, kMaxBLBits);
    int maxBLIndex;
    for (maxBLIndex = kBLCodes - 1; maxBLIndex >= 3; maxBLIndex--) {
      if (bltree.len[kBLOrder[maxBLIndex]] != 0) break;
    }
    optLen += 3 * (static_cast<uint64_t>(maxBLIndex) + 1) + 5 + 5 + 4;
    return maxBLIndex;
  }

  void SendAllTrees(int lcodes, int dcodes, int blcodes) {
    SendBits(static_cast<uint32_t>(lcodes - 257), 5);
    SendBits(static_cast<uint32_t>(dcodes - 1), 5);
    SendBits(static_cast<uint32_t>(blcodes - 4), 4);
    for (int rank = 0; rank < blcodes; rank++) SendBits(bltree.len[kBLOrder[rank]], 3);
    auto send = [this](int sym, int count) {
      SendBits(bltree.code[sym], bltree.len[sym]);
      if (sym == kRep3_6) SendBits(static_cast<uint32_t>(count - 3), 2);
      else if (sym == kRepZ3_10) SendBits(static_cast<uint32_t>(count - 3), 3);
      else if (sym == kRepZ11_138) SendBits(static_cast<uint32_t>(count - 11), 7);
    };
    WalkLengths(ltree, lcodes - 1, send);
    WalkLengths(dtree, dcodes - 1, send);
  }

  // Sends the buffered items and the end-of-block code with the given codes.
  void CompressBlock(const uint16_t* lcode, const uint16_t* llen16, const uint8_t* llen8, const uint16_t* dcode,
                     const uint16_t* dlen16, const uint8_t* dlen8) {
    const TStaticTables& t = Tables();
    auto llen = [&](int n) -> unsigned { return llen16 ? llen16[n] : llen8[n]; };
    auto dlen = [&](int n) -> unsigned { return dlen16 ? dlen16[n] : dlen8[n]; };

    // Per block: literal codes, and each match length's code with its extra
    // bits already attached.
    uint32_t litCode[256];
    uint8_t litLen[256];
    for (int c = 0; c < 256; c++) litCode[c] = lcode[c], litLen[c] = static_cast<uint8_t>(llen(c));
    uint32_t lenCode[256];
    uint8_t lenLen[256];
    for (int lc = 0; lc < 256; lc++) {
      int code = t.lengthCode[lc];
      int sym = code + kLiterals + 1;
      unsigned extra = kExtraLBits[code];
      unsigned l = llen(sym);
      lenCode[lc] = lcode[sym] | (static_cast<uint32_t>(lc - t.baseLength[code]) << l);
      lenLen[lc] = static_cast<uint8_t>(l + extra);
    }
    uint32_t distSym[kDCodes];
    uint8_t distLen[kDCodes];
    for (int d = 0; d < kDCodes; d++) distSym[d] = dcode[d], distLen[d] = static_cast<uint8_t>(dlen(d));

    uint64_t bb = bitBuf;
    unsigned bc = bitCount;
    auto put = [&](uint32_t value, unsigned length) {
      bb |= static_cast<uint64_t>(value) << bc;
      bc += length;
      if (bc >= 32) {
        uint32_t word = static_cast<uint32_t>(bb);
        std::memcpy(outBuf + outPos, &word, 4);
        outPos += 4;
        bb >>= 32;
        bc -= 32;
        if (outPos >= kOutBufSize) FlushFullOut();
      }
    };
    for (unsigned i = 0; i < lastLit; i++) {
      unsigned lc = lbuf[i];
      unsigned dist = dbuf[i];
      if (dist == 0) {
        put(litCode[lc], litLen[lc]);
      } else {
        put(lenCode[lc], lenLen[lc]);
        dist--;
        unsigned code = t.DistCode(dist);
        unsigned l = distLen[code];
        put(distSym[code] | ((dist - t.baseDist[code]) << l), l + kExtraDBits[code]);
      }
    }
    put(lcode[kEndBlock], llen(kEndBlock));
    bitBuf = bb;
    bitCount = bc;
  }

  void ClassifyText() {
    unsigned bin = 0, text = 0;
    int n = 0;
    while (n < 7) bin += ltree.freq[n++];
    while (n < 128) text += ltree.freq[n++];
    while (n < kLiterals) bin += ltree.freq[n++];
    internalAttributes = bin > (text >> 2) ? 0 : 1;
  }

  // Writes the whole file unframed after all; its start is gone from the
  // window, so it is read again. Returns false when the input cannot rewind.
  bool StoreWholeFileAgain(uint64_t length) {
    if (!in->Rewind()) return false;
    FlushOut();
    uint64_t left = length;
    while (left > 0) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(left, kWSize));
      size_t n = ReadFull(window, want);
      if (n == 0) break;
      WriteRaw(window, n);
      left -= n;
    }
    return true;
  }

  void Notify(TDeflateBlockKind kind, uint64_t length, bool last) {
    if (!observer) return;
    TDeflateBlockInfo info;
    info.Kind = kind;
    info.Last = last;
    info.Length = length;
    info.Items = lastLit;
    info.Lits = lbuf;
    info.Dists = dbuf;
    observer->BlockEnded(info);
  }

  void FlushBlock(bool last) {
    const uint64_t storedLen = static_cast<uint64_t>(static_cast<int64_t>(strstart) - blockStart);
    const uint8_t* buf = blockStart >= 0 ? window + blockStart : nullptr;

    if (internalAttributes == 2) ClassifyText();

    BuildTree(ltree, kLCodes, Tables().ltreeLen, kExtraLBits, kLiterals + 1, kMaxBits);
    BuildTree(dtree, kDCodes, Tables().dtreeLen, kExtraDBits, 0, kMaxBits);
    int maxBLIndex = BuildBLTree();

    uint64_t optLenB = (optLen + 3 + 7) >> 3;
    uint64_t staticLenB = (staticLen + 3 + 7) >> 3;
    if (staticLenB <= optLenB) optLenB = staticLenB;

    bool done = false;
    if (storedLen <= optLenB && last && compressedBits == 0 && wholeFileAllowed) {
      // The file is one block that would not shrink: its plain bytes.
      if (buf) {
        Notify(TDeflateBlockKind::WholeFile, storedLen, last);
        WriteRaw(buf, storedLen);
        done = true;
      } else if (StoreWholeFileAgain(storedLen)) {
        Notify(TDeflateBlockKind::WholeFile, storedLen, last);
        done = true;
      }
      if (done) {
        compressedBits = storedLen << 3;
        method = 0;
      }
    }
    if (done) {
    } else if (storedLen + 4 <= optLenB && buf && storedLen <= 0xFFFF) {
      Notify(TDeflateBlockKind::Stored, storedLen, last);
      SendBits(last ? 1 : 0, 3);
      compressedBits = ((compressedBits + 3 + 7) & ~uint64_t{7}) + ((storedLen + 4) << 3);
      WindUp();
      PutByte(static_cast<uint8_t>(storedLen));
      PutByte(static_cast<uint8_t>(storedLen >> 8));
      PutByte(static_cast<uint8_t>(~storedLen));
      PutByte(static_cast<uint8_t>(~storedLen >> 8));
      WriteRaw(buf, storedLen);
    } else if (staticLenB == optLenB) {
      Notify(TDeflateBlockKind::Static, storedLen, last);
      SendBits((1 << 1) + (last ? 1 : 0), 3);
      const TStaticTables& t = Tables();
      CompressBlock(t.ltreeCode, nullptr, t.ltreeLen, t.dtreeCode, nullptr, t.dtreeLen);
      compressedBits += 3 + staticLen;
    } else {
      Notify(TDeflateBlockKind::Dynamic, storedLen, last);
      SendBits((2 << 1) + (last ? 1 : 0), 3);
      SendAllTrees(ltree.maxCode + 1, dtree.maxCode + 1, maxBLIndex + 1);
      CompressBlock(ltree.code, ltree.len, nullptr, dtree.code, dtree.len, nullptr);
      compressedBits += 3 + optLen;
    }
    InitBlock();
    if (last) {
      WindUp();
      FlushOut();
    }
  }

  // ---------------------------------------------------------------- loops

  // Levels 1-3: take the longest match at each position.
  void DeflateGreedy() {
    const unsigned maxInsert = params.lazy;
    prevLength = kMinMatch - 1;
    while (lookahead != 0) {
      unsigned hashHead = 0;
      if (lookahead >= kMinMatch) hashHead = InsertString<false>(strstart);
      unsigned matchLength = 0;
      if (hashHead != 0 && strstart - hashHead <= kMaxDist)
        matchLength = std::min(LongestMatch<false>(hashHead), lookahead);

      bool flush;
      if (matchLength >= kMinMatch) {
        flush = TallyMatch(strstart - matchStart, matchLength);
        lookahead -= matchLength;
        if (matchLength <= maxInsert) {
          matchLength--;
          do {
            strstart++;
            InsertString<false>(strstart);
          } while (--matchLength != 0);
          strstart++;
        } else {
          strstart += matchLength;
          insH = window[strstart];
          insH = ((insH << kHashShift) ^ window[strstart + 1]) & kHashMask;
        }
      } else {
        flush = TallyLit(window[strstart]);
        lookahead--;
        strstart++;
      }
      if (flush) {
        FlushBlock(false);
        blockStart = strstart;
      }
      if (lookahead < kMinLookahead && !eof) FillWindow();
    }
    FlushBlock(finalBlock);
  }

  // Levels 4-9: a match is taken only if the next position has no longer one.
  void DeflateLazy() {
    unsigned matchLength = kMinMatch - 1;
    bool matchAvailable = false;
    prevLength = kMinMatch - 1;
    while (lookahead != 0) {
      unsigned hashHead = 0;
      if (lookahead >= kMinMatch) hashHead = InsertString<true>(strstart);
      prevLength = matchLength;
      unsigned prevMatch = matchStart;
      matchLength = kMinMatch - 1;

      if (hashHead != 0 && prevLength < params.lazy && strstart - hashHead <= kMaxDist) {
        matchLength = std::min(LongestMatch<true>(hashHead), lookahead);
        if (matchLength == kMinMatch && strstart - matchStart > kTooFar) matchLength--;
      }

      if (prevLength >= kMinMatch && matchLength <= prevLength) {
        bool flush = TallyMatch(strstart - 1 - prevMatch, prevLength);
        lookahead -= prevLength - 1;
        unsigned n = prevLength - 2;
        do {
          strstart++;
          InsertString<true>(strstart);
        } while (--n != 0);
        matchAvailable = false;
        matchLength = kMinMatch - 1;
        strstart++;
        if (flush) {
          FlushBlock(false);
          blockStart = strstart;
        }
      } else if (matchAvailable) {
        if (TallyLit(window[strstart - 1])) {
          FlushBlock(false);
          blockStart = strstart;
        }
        strstart++;
        lookahead--;
      } else {
        matchAvailable = true;
        strstart++;
        lookahead--;
      }
      if (lookahead < kMinLookahead && !eof) FillWindow();
    }
    if (matchAvailable) TallyLit(window[strstart - 1]);
    FlushBlock(finalBlock);
  }

  // A piece that is not the last ends after its last block with an empty
  // stored block, which leaves the output at a byte boundary.
  void EndPiece() {
    SendBits(0, 3);
    WindUp();
    for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) PutByte(b);
    FlushOut();
  }

  // Puts the dictionary at the window's start, hashed as if compressed
  // just before; the input follows it in the window.
  template <bool kFarLinks>
  void HashDictionary(unsigned size) {
    insH = window[0];
    insH = ((insH << kHashShift) ^ window[1]) & kHashMask;
    // A position is hashed with the two bytes after it, which for the last
    // two are the input's first.
    const unsigned end = std::min(size, size + lookahead >= 2 ? size + lookahead - 2 : 0u);
    for (unsigned pos = 0; pos < end; ++pos) InsertString<kFarLinks>(pos);
  }

  TDeflateResult Run(int lvl, TDeflateSource& source, TDeflateSink& sink, const uint8_t* dictionary = nullptr,
                     size_t dictionarySize = 0) {
    in = &source;
    out = &sink;
    level = lvl;
    params = kLevels[lvl];

    bitBuf = 0;
    bitCount = 0;
    outPos = 0;
    bytesOut = 0;
    compressedBits = 0;
    internalAttributes = 2;
    method = 8;
    InitBlock();
    std::fill(std::begin(head), std::end(head), uint16_t{0});

    const unsigned start = static_cast<unsigned>(std::min<size_t>(dictionarySize, kWSize));
    if (start > 0) std::memcpy(window, dictionary + dictionarySize - start, start);
    strstart = start;
    blockStart = start;
    matchStart = 0;
    eof = false;
    insH = 0;
    lookahead = static_cast<unsigned>(ReadFull(window + start, kWSize));
    if (lookahead == 0) {
      eof = true;
    } else if (lookahead < kMinLookahead) {
      FillWindow();
    }
    if (start > 0) {
      if (params.lazyMatch) {
        HashDictionary<true>(start);
      } else {
        HashDictionary<false>(start);
      }
    }
    if (lookahead > 0) {
      insH = window[start];
      insH = ((insH << kHashShift) ^ window[start + 1]) & kHashMask;
    }

    if (params.lazyMatch) {
      DeflateLazy();
    } else {
      DeflateGreedy();
    }
    if (!finalBlock) EndPiece();

    TDeflateResult result;
    result.CompressedSize = bytesOut;
    result.CompressionMethod = method;
    result.InternalAttributes = internalAttributes;
    result.FlagBits = DeflateLevelFlags(lvl);
    in = nullptr;
    out = nullptr;
    return result;
  }
};

TDeflateCompressor::TDeflateCompressor() : state_(std::make_unique<TState>()) {
  // Zero the window once so that no byte is ever read uninitialised.
  std::memset(state_->window, 0, sizeof(state_->window));
  std::memset(state_->prev, 0, sizeof(state_->prev));
  std::memset(state_->prev2, 0, sizeof(state_->prev2));
  std::memset(state_->prev3, 0, sizeof(state_->prev3));
  Tables();
}

TDeflateCompressor::~TDeflateCompressor() = default;

void TDeflateCompressor::SetObserver(TDeflateObserver* observer) { state_->observer = observer; }

TDeflateResult TDeflateCompressor::Deflate(int level, TDeflateSource& in, TDeflateSink& out) {
  if (level < 1 || level > 9) throw std::invalid_argument("deflate level must be 1 to 9");
  state_->wholeFileAllowed = true;
  state_->finalBlock = true;
  return state_->Run(level, in, out);
}

TDeflateResult TDeflateCompressor::DeflatePiece(int level, const uint8_t* dictionary, size_t dictionarySize,
                                                bool last, TDeflateSource& in, TDeflateSink& out) {
  if (level < 1 || level > 9) throw std::invalid_argument("deflate level must be 1 to 9");
  state_->wholeFileAllowed = false;
  state_->finalBlock = last;
  return state_->Run(level, in, out, dictionary, dictionarySize);
}

std::shared_ptr<TSplitPiece> TSplitPieces::Read(const TSplitPiece* before) {
  auto piece = std::make_shared<TSplitPiece>();
  if (before != nullptr) {
    const size_t own = before->bytes.size() - before->dictionary;
    piece->dictionary = std::min(own, kSplitDictionary);
    piece->bytes.reserve(piece->dictionary + kSplitPiece);
    piece->bytes.assign(before->bytes.end() - static_cast<ptrdiff_t>(piece->dictionary), before->bytes.end());
  } else {
    piece->bytes.reserve(kSplitPiece);
  }
  const size_t from = piece->bytes.size();
  piece->bytes.resize(from + kSplitPiece);
  size_t got = 0;
  while (got < kSplitPiece) {
    const size_t n = in_.Read(piece->bytes.data() + from + got, std::min<size_t>(kSplitPiece - got, kMaxRead));
    if (n == 0) break;
    got += n;
  }
  piece->bytes.resize(from + got);
  piece->index = index_++;
  return piece;
}

std::shared_ptr<TSplitPiece> TSplitPieces::Next() {
  if (!started_) {
    started_ = true;
    ahead_ = Read(nullptr);  // the first piece, empty or not
  }
  if (!ahead_) return nullptr;
  std::shared_ptr<TSplitPiece> piece = std::move(ahead_);
  // The piece is the last when nothing follows it (a full piece may be).
  if (piece->bytes.size() > piece->dictionary) {
    std::shared_ptr<TSplitPiece> next = Read(piece.get());
    if (next->bytes.size() > next->dictionary) ahead_ = std::move(next);
  }
  piece->last = !ahead_;
  return piece;
}

TDeflateResult DeflateSplitPiece(TDeflateCompressor& compressor, int level, const TSplitPiece& piece,
                                 TDeflateSink& out) {
  TMemoryDeflateSource input(piece.bytes.data() + piece.dictionary, piece.bytes.size() - piece.dictionary);
  return compressor.DeflatePiece(level, piece.bytes.data(), piece.dictionary, piece.last, input, out);
}

TDeflateResult DeflateSplit(TDeflateCompressor& compressor, int level, TDeflateSource& in, TDeflateSink& out) {
  TSplitPieces pieces(in);
  TDeflateResult whole;
  whole.FlagBits = DeflateLevelFlags(level);
  while (const std::shared_ptr<TSplitPiece> piece = pieces.Next()) {
    const TDeflateResult r = DeflateSplitPiece(compressor, level, *piece, out);
    if (piece->index == 0) whole.InternalAttributes = r.InternalAttributes;
    whole.CompressedSize += r.CompressedSize;
  }
  return whole;
}

}  // namespace vantrel::zip
