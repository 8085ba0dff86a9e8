// crc32.cpp - CRC-32 tables and the bulk update.
//
// The bulk update processes 16 bytes per step with sixteen derived tables
// ("slicing"): table k holds the CRC contribution of a byte followed by k zero
// bytes, so sixteen independent lookups replace sixteen dependent ones. The
// result is bit for bit that of the per-byte update with Crc32Table.
#include "zip/crc32.h"

#include <array>
#include <cstring>

namespace vantrel::zip {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 16;

using TSliceTables = std::array<std::array<uint32_t, 256>, kSlices>;

constexpr TSliceTables MakeTables() {
  TSliceTables t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][n] = c;
  }
  for (int k = 1; k < kSlices; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      const uint32_t prev = t[k - 1][n];
      t[k][n] = (prev >> 8) ^ t[0][prev & 0xFF];
    }
  }
  return t;
}

constexpr TSliceTables kTables = MakeTables();

inline uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

}  // namespace

// The one 256-entry table shared with the per-byte update (and so with the
// encryption keys): slice 0 of the derived tables.
const uint32_t Crc32Table[256] = {
#define VANTREL_CRC_ROW(i)                                                            \
  kTables[0][i + 0], kTables[0][i + 1], kTables[0][i + 2], kTables[0][i + 3],         \
      kTables[0][i + 4], kTables[0][i + 5], kTables[0][i + 6], kTables[0][i + 7]
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
  const auto& t = kTables;
  // Per byte up to an 8-byte boundary, so the wide loads below are aligned.
  while (n > 0 && (reinterpret_cast<uintptr_t>(data) & 7) != 0) {
    crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    --n;
  }
  while (n >= 16) {
    const uint64_t a = LoadLE64(data) ^ crc;
    const uint64_t b = LoadLE64(data + 8);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^
          t[12][(a >> 24) & 0xFF] ^ t[11][(a >> 32) & 0xFF] ^ t[10][(a >> 40) & 0xFF] ^
          t[9][(a >> 48) & 0xFF] ^ t[8][a >> 56] ^ t[7][b & 0xFF] ^ t[6][(b >> 8) & 0xFF] ^
          t[5][(b >> 16) & 0xFF] ^ t[4][(b >> 24) & 0xFF] ^ t[3][(b >> 32) & 0xFF] ^
          t[2][(b >> 40) & 0xFF] ^ t[1][(b >> 48) & 0xFF] ^ t[0][b >> 56];
    data += 16;
    n -= 16;
  }
  while (n > 0) {
    crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    --n;
  }
  return crc;
}

uint32_t Crc32(const uint8_t* data, size_t n) { return ~Crc32Update(0xFFFFFFFFu, data, n); }

}  // namespace vantrel::zip
