// CRC-32: known values, the shared per-byte table, and the bulk update against
// the per-byte form and zlib at every length and alignment.
#include <gtest/gtest.h>

#include <random>
#include <string_view>

#include "tests/zip/decoders_support.h"
#include "zip/codec/crc32.h"

namespace vantrel::zip {
namespace {

uint32_t CrcOf(std::string_view s) { return Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

uint32_t BytewiseUpdate(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = Crc32Byte(crc, p[i]);
  return crc;
}

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(CrcOf(""), 0u);  // the CRC of nothing is 0
  EXPECT_EQ(CrcOf("a"), 0xE8B7BE43u);
  EXPECT_EQ(CrcOf("123456789"), 0xCBF43926u);
  EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  const std::vector<uint8_t> zeros(65536, 0);
  EXPECT_EQ(Crc32(zeros.data(), zeros.size()), 0xD7978EEBu);  // zeros64k.dat of the fixtures
}

TEST(Crc32Test, TableIsTheReflectedPolynomialTable) {
  EXPECT_EQ(Crc32Table[0], 0u);
  EXPECT_EQ(Crc32Table[1], 0x77073096u);
  EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
  EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32Test, BulkUpdateMatchesBytewiseAndZlibAtEveryLengthAndAlignment) {
  std::mt19937 rng(42);
  std::vector<uint8_t> data(400 + 16);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t align = 0; align < 16; ++align) {
    for (size_t n = 0; n <= 400; ++n) {
      const uint8_t* p = data.data() + align;
      const uint32_t bulk = Crc32Update(0xFFFFFFFFu, p, n);
      ASSERT_EQ(bulk, BytewiseUpdate(0xFFFFFFFFu, p, n)) << align << "/" << n;
      ASSERT_EQ(~bulk, static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n)))) << align << "/" << n;
    }
  }
}

TEST(Crc32Test, RunningValueAcrossArbitraryPieces) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(1 << 20);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const uint32_t whole = Crc32(data.data(), data.size());
  EXPECT_EQ(whole, testing::ZlibCrc(data));
  uint32_t running = 0xFFFFFFFFu;
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t n = std::min<size_t>(data.size() - pos, rng() % 40000);
    running = Crc32Update(running, data.data() + pos, n);
    pos += n;
  }
  EXPECT_EQ(~running, whole);
}

}  // namespace
}  // namespace vantrel::zip
