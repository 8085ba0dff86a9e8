// CRC-32: known values, and every bulk method the processor runs against zlib
// and the portable table at every length and alignment.
#include <gtest/gtest.h>

#include <cstdio>
#include <string_view>

#include "tests/zip/decoders_support.h"
#include "zip/codec/crc32.h"

namespace vantrel::zip {
namespace {

TEST(Crc32Test, KnownValues) {
  const std::vector<uint8_t> zeros(65536, 0);
  const std::pair<std::string_view, uint32_t> known[] = {
      {"", 0},  // the CRC of nothing is 0
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {{reinterpret_cast<const char*>(zeros.data()), zeros.size()}, 0xD7978EEBu},
  };
  for (const auto& [s, crc] : known) EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()), crc) << s;
}

// Every method the processor runs, on every length 0-4096 at every alignment
// 0-63, against zlib (the oracle) and the portable table. zlib's value for
// each prefix is built one byte at a time from the previous one.
TEST(Crc32Test, EveryKernelMatchesZlibAndTheTablesAtEveryLengthAndAlignment) {
  constexpr size_t kMaxLen = 4096, kAligns = 64;
  // Aligned to a cache line, so "alignment a" really starts a bytes past one.
  alignas(64) static uint8_t base[kMaxLen + kAligns];
  const testing::TBytes random = testing::RandomBytes(kMaxLen + kAligns, 42);
  std::copy(random.begin(), random.end(), base);
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
        ASSERT_EQ(~Crc32UpdateWith(kernel, 0xFFFFFFFFu, p, n), expect[n])
            << Crc32KernelName(kernel) << " align " << align << " length " << n;
        ASSERT_EQ(Crc32UpdateWith(kernel, seed, p, n), Crc32UpdateWith(TCrc32Kernel::Table, seed, p, n))
            << Crc32KernelName(kernel) << " align " << align << " length " << n;
      }
    }
  }
  EXPECT_GE(kernels, 1);
}

}  // namespace
}  // namespace vantrel::zip
