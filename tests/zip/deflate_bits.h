// deflate_bits.h - writers of hand-built deflate streams for the tests:
// fixed-code symbols and matches, stored blocks, dynamic headers from explicit
// code lengths, canonical codes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/zip/legacy_encoders.h"

namespace vantrel::zip::testing {

// Base values and extra bits of the length codes (257 + i) and distance
// codes; distance codes 30 and 31 exist in Deflate64 only.
struct TCodeTable {
  unsigned base[32], extra[32];
};
inline const TCodeTable kLen = [] {
  TCodeTable t{};
  for (unsigned i = 0, b = 3; i < 28; b += 1u << t.extra[i++]) t.extra[i] = i < 8 ? 0 : (i - 4) / 4, t.base[i] = b;
  t.base[28] = 258;
  return t;
}();
inline const TCodeTable kDist = [] {
  TCodeTable t{};
  for (unsigned i = 0, b = 1; i < 32; b += 1u << t.extra[i++]) t.extra[i] = i < 4 ? 0 : (i - 2) / 2, t.base[i] = b;
  return t;
}();

inline void FixedLitLen(TBitWriter& w, unsigned sym) {
  if (sym < 144) w.Code(0x30 + sym, 8);
  else if (sym < 256) w.Code(0x190 + sym - 144, 9);
  else if (sym < 280) w.Code(sym - 256, 7);
  else w.Code(0xC0 + sym - 280, 8);
}

// Deflate64: length code 285 means 3 plus 16 extra bits (258 is code 284 with
// 31), and distance codes 30 and 31 reach 65536 back.
inline void FixedMatch(TBitWriter& w, unsigned len, unsigned dist, bool deflate64 = false, bool longCode = false) {
  if (longCode) {
    FixedLitLen(w, 285);
    w.Bits(len - 3, 16);
  } else {
    int lc = deflate64 ? 27 : 28;
    while (kLen.base[lc] > len) --lc;
    FixedLitLen(w, 257 + lc);
    w.Bits(len - kLen.base[lc], kLen.extra[lc]);
  }
  int dc = 31;
  while (kDist.base[dc] > dist) --dc;
  w.Code(dc, 5);
  w.Bits(dist - kDist.base[dc], kDist.extra[dc]);
}

inline void StoredBlock(TBitWriter& w, const TBytes& data, bool last) {
  w.Bits(last, 3);  // the last-block bit and type 0
  w.Align();
  w.Bits(static_cast<uint32_t>(data.size()), 16);
  w.Bits(static_cast<uint32_t>(~data.size()) & 0xFFFF, 16);
  w.bytes.insert(w.bytes.end(), data.begin(), data.end());
}

// Dynamic block header from explicit code lengths; the code length code
// gives every length 0-15 four bits, so symbol v is written as the code v.
inline void DynamicHeader(TBitWriter& w, const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist) {
  w.Bits(1 | 2 << 1, 3);  // the last block, type 2: dynamic codes
  w.Bits(static_cast<uint32_t>(lit.size() - 257), 5);
  w.Bits(static_cast<uint32_t>(dist.size() - 1), 5);
  w.Bits(15, 4);  // 19 code length code lengths
  static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (uint8_t sym : order) w.Bits(sym >= 16 ? 0 : 4, 3);
  for (uint8_t l : lit) w.Code(l, 4);
  for (uint8_t l : dist) w.Code(l, 4);
}

// Canonical codes for a set of lengths.
inline std::vector<uint32_t> Canonical(const std::vector<uint8_t>& lens) {
  std::vector<uint32_t> codes(lens.size());
  uint32_t code = 0;
  for (int len = 1; len <= 15; ++len, code <<= 1)
    for (size_t s = 0; s < lens.size(); ++s)
      if (lens[s] == len) codes[s] = code++;
  return codes;
}

template <class F>
inline TBytes Build(F f) {
  TBitWriter w;
  f(w);
  return w.bytes;
}

// A last dynamic block whose header gives `hlit` + 257 literal/length and
// `hdist` + 1 distance codes and 19 code length codes of which only `given`
// have a length (3 bits each, in the header's order), then the raw `bits`
// and 32 zero bits.
inline void CodeLengthBlock(TBitWriter& w, unsigned hlit, unsigned hdist, const std::vector<unsigned>& given,
                            const std::vector<std::pair<uint32_t, int>>& bits) {
  w.Bits(1 | 2 << 1, 3);
  w.Bits(hlit, 5);
  w.Bits(hdist, 5);
  w.Bits(static_cast<uint32_t>(given.size() - 4), 4);
  for (unsigned l : given) w.Bits(l, 3);
  for (auto [v, n] : bits) w.Bits(v, n);
  w.Bits(0, 32);
}

// The same block as a whole stream, with one distance code.
inline TBytes CodeLengthHeader(unsigned hlit, std::vector<unsigned> given, std::vector<std::pair<uint32_t, int>> bits) {
  return Build([&](TBitWriter& w) { CodeLengthBlock(w, hlit, 0, given, bits); });
}

}  // namespace vantrel::zip::testing
