// crc32.cpp - CRC-32 tables and the bulk update.
//
// The bulk update is table driven, in two forms:
//   * slicing by 8: eight derived tables, table k holding the CRC contribution
//     of a byte followed by k zero bytes, so one 8-byte word takes eight
//     independent lookups instead of eight dependent steps;
//   * braiding, for long runs: the data are split into kBraids interleaved
//     streams of 8-byte words, each with its own running value, so the
//     lookups of several words proceed in parallel. A word's contribution is
//     carried kBraids words ahead with tables for that distance, and the
//     values are folded together over the last block by slicing.
// Both give bit for bit the result of the per-byte update with Crc32Table.
#include "zip/codec/crc32.h"

#include <array>
#include <cstring>

namespace vantrel::zip {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kBraids = 8;
constexpr size_t kBlockBytes = kBraids * 8;

using TTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr std::array<uint32_t, 256> MakeByteTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[n] = c;
  }
  return t;
}

constexpr std::array<uint32_t, 256> kByteTable = MakeByteTable();

// One zero byte through the CRC register.
constexpr uint32_t ZeroByte(uint32_t v) { return kByteTable[v & 0xFF] ^ (v >> 8); }

// tables[k][x]: byte x followed by (shift - k) zero bytes, for k = 0..7.
constexpr TTables MakeTables(int shift) {
  TTables t{};
  for (int k = 0; k < 8; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t v = kByteTable[n];
      for (int z = 0; z < shift - k; ++z) v = ZeroByte(v);
      t[k][n] = v;
    }
  }
  return t;
}

// Slicing: byte k of a word is followed by 7 - k bytes within the word.
constexpr TTables kSlice = MakeTables(7);
// Braiding: byte k of a word is carried to the start of the same stream's
// next word, kBlockBytes - k - 1 bytes further.
constexpr TTables kBraid = MakeTables(static_cast<int>(kBlockBytes) - 1);

inline uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// The contribution of one word (byte k through tables[k]); the word is taken
// as two 32-bit halves, which keeps the byte extraction short.
inline uint32_t Fold(const TTables& t, uint64_t w) {
  const uint32_t lo = static_cast<uint32_t>(w);
  const uint32_t hi = static_cast<uint32_t>(w >> 32);
  return t[0][lo & 0xFF] ^ t[1][(lo >> 8) & 0xFF] ^ t[2][(lo >> 16) & 0xFF] ^ t[3][lo >> 24] ^
         t[4][hi & 0xFF] ^ t[5][(hi >> 8) & 0xFF] ^ t[6][(hi >> 16) & 0xFF] ^ t[7][hi >> 24];
}

}  // namespace

// The one 256-entry table shared with the per-byte update (and so with the
// encryption keys).
const uint32_t Crc32Table[256] = {
#define VANTREL_CRC_ROW(i)                                                                  \
  kByteTable[i + 0], kByteTable[i + 1], kByteTable[i + 2], kByteTable[i + 3], kByteTable[i + 4], \
      kByteTable[i + 5], kByteTable[i + 6], kByteTable[i + 7]
    VANTREL_CRC_ROW(0),   VANTREL_CRC_ROW(8),   VANTREL_CRC_ROW(16),  VANTREL_CRC_ROW(24),
    VANTREL_CRC_ROW(32),  VANTREL_CRC_ROW(40),  VANTREL_CRC_ROW(48),  VANTREL_CRC_ROW(56),
    VANTREL_CRC_ROW(64),  VANTREL_CRC_ROW(72),  VANTREL_CRC_ROW(80),  VANTREL_CRC_ROW(88),
    VANTREL_CRC_ROW(96),  VANTREL_CRC_ROW(104), VANTREL_CRC_ROW(112), VANTREL_CRC_ROW(120),
    VANTREL_CRC_ROW(128), VANTREL_CRC_ROW(136), VANTREL_CRC_ROW(144), VANTREL_CRC_ROW(152),
    VANTREL_CRC_ROW(160), VANTREL_CRC_ROW(168), VANTREL_CRC_ROW(176), VANTREL_CRC_ROW(184),
    VANTREL_CRC_ROW(192), VANTREL_CRC_ROW(200), VANTREL_CRC_ROW(208), VANTREL_CRC_ROW(216),
    VANTREL_CRC_ROW(224), VANTREL_CRC_ROW(232), VANTREL_CRC_ROW(240), VANTREL_CRC_ROW(248),
#undef VANTREL_CRC_ROW
};

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t n) {
  // Per byte up to an 8-byte boundary, so the word loads below are aligned.
  while (n > 0 && (reinterpret_cast<uintptr_t>(data) & 7) != 0) {
    crc = kByteTable[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    --n;
  }
  if (n >= 2 * kBlockBytes) {
    // The running value enters the first word of stream 0; the other streams
    // start from zero. Every block but the last goes through the braids.
    uint32_t c[kBraids] = {crc};
    size_t blocks = n / kBlockBytes;
    while (--blocks) {
      for (int i = 0; i < kBraids; ++i) c[i] = Fold(kBraid, LoadLE64(data + 8 * i) ^ c[i]);
      data += kBlockBytes;
    }
    // Fold the streams into one value over the last block.
    crc = 0;
    for (int i = 0; i < kBraids; ++i) crc = Fold(kSlice, LoadLE64(data + 8 * i) ^ c[i] ^ crc);
    data += kBlockBytes;
    n %= kBlockBytes;
  }
  while (n >= 8) {
    crc = Fold(kSlice, LoadLE64(data) ^ crc);
    data += 8;
    n -= 8;
  }
  while (n > 0) {
    crc = kByteTable[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    --n;
  }
  return crc;
}

uint32_t Crc32(const uint8_t* data, size_t n) { return ~Crc32Update(0xFFFFFFFFu, data, n); }

}  // namespace vantrel::zip
