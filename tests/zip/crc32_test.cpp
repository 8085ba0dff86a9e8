// CRC-32: known values, the shared per-byte table, and every bulk method the
// processor runs against zlib and the portable tables at every length and
// alignment.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string_view>

#include "tests/zip/decoders_support.h"
#include "zip/codec/crc32.h"

namespace vantrel::zip {
namespace {

uint32_t CrcOf(std::string_view s) { return Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

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

// Every method the processor runs, on every length 0-4096 at every alignment
// 0-63, against zlib (the oracle) and the portable tables. zlib's value for
// each prefix is built one byte at a time from the previous one.
TEST(Crc32Test, EveryKernelMatchesZlibAndTheTablesAtEveryLengthAndAlignment) {
  constexpr size_t kMaxLen = 4096, kAligns = 64;
  std::mt19937 rng(42);
  // 64-byte aligned storage, so "alignment a" really starts a bytes past a
  // cache line boundary.
  std::vector<uint64_t> storage((kMaxLen + kAligns) / 8 + 8);
  uint8_t* base = reinterpret_cast<uint8_t*>(storage.data());
  base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64;
  for (size_t i = 0; i < kMaxLen + kAligns; ++i) base[i] = static_cast<uint8_t>(rng());
  std::vector<uint32_t> expect(kMaxLen + 1);
  int kernels = 0;
  for (TCrc32Kernel kernel : kCrc32Kernels) {
    if (!Crc32KernelSupported(kernel)) {
      std::printf("CRC-32 kernel %s: not supported here\n", Crc32KernelName(kernel));
      continue;
    }
    ++kernels;
    for (size_t align = 0; align < kAligns; ++align) {
      const uint8_t* p = base + align;
      expect[0] = 0;
      for (size_t n = 0; n < kMaxLen; ++n) expect[n + 1] = static_cast<uint32_t>(crc32(expect[n], p + n, 1));
      // The incoming value matters too: start from a prefix's running value.
      const uint32_t seed = ~expect[align];
      for (size_t n = 0; n <= kMaxLen; ++n) {
        const uint32_t got = Crc32UpdateWith(kernel, 0xFFFFFFFFu, p, n);
        ASSERT_EQ(~got, expect[n]) << Crc32KernelName(kernel) << " align " << align << " length " << n;
        ASSERT_EQ(Crc32UpdateWith(kernel, seed, p, n), Crc32UpdateWith(TCrc32Kernel::Table, seed, p, n))
            << Crc32KernelName(kernel) << " align " << align << " length " << n;
      }
    }
  }
  EXPECT_GE(kernels, 1);
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
