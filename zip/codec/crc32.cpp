// crc32.cpp - CRC-32 tables and the bulk update.
//
// Where the processor multiplies without carries (PCLMULQDQ, or VPCLMULQDQ on
// 256- and 512-bit registers) long runs are folded with it (see the second
// half of this file). Everywhere else, and for short runs, the update is
// table driven, in two forms:
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
#include <iterator>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#endif

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

namespace {

uint32_t TableUpdate(uint32_t crc, const uint8_t* data, size_t n) {
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

// ---------------------------------------------------------------------------
// Folding with carry-less multiplication (x86-64).
//
// Arithmetic is over GF(2)[x] modulo P = x^32 + 0x04C11DB7 (the reflected form
// of 0xEDB88320). The data are a polynomial whose first bit (the lowest bit of
// the first byte) is the highest coefficient, and the CRC register holds
// M(x) * x^32 mod P where M is the data with the incoming register value
// XOR-ed into its first four bytes.
//
// A 128-bit register loaded from 16 bytes holds a polynomial of degree < 128
// with the coefficient of x^m at bit 127 - m; its low 64-bit half L carries
// the high coefficients: X = L * x^64 + H. PCLMULQDQ multiplies two 64-bit
// halves as integers; read in the same bit order, the product of A and B is
// x * A * B (the integer product lacks the one bit shift that the reversed
// order needs). So to move X forward over D further bits,
//     X * x^D = L * x^(D+64) + H * x^D
//             = clmul(L, x^(D+63) mod P) + clmul(H, x^(D-1) mod P)   (mod P),
// a polynomial of degree < 96 that is simply XOR-ed onto the data D bits
// later. Four (or more) registers fold side by side, each over the bytes the
// others take in between; at the end they fold into one 128-bit register,
// which two more folds by x^64 bring down to 64 bits. Those 64 bits are then an
// eight-byte message whose CRC (register 0) is the result: one slicing step.
//
// Every constant is FoldConstant(e) = x^e mod P, placed at bits 32..63 of a
// 64-bit half (coefficient of x^m at bit 63 - m), computed at compile time.

constexpr uint64_t FoldConstant(unsigned e) {
  uint32_t r = 1;  // x^0, coefficient of x^m at bit m
  for (unsigned i = 0; i < e; ++i) r = (r << 1) ^ ((r >> 31) ? 0x04C11DB7u : 0u);
  uint32_t reflected = 0;
  for (int b = 0; b < 32; ++b) reflected |= ((r >> b) & 1u) << (31 - b);
  return uint64_t{reflected} << 32;
}

// The CRC of an eight-byte message with register 0.
uint32_t WordCrc(uint64_t w) { return Fold(kSlice, w); }

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VANTREL_CRC_CLMUL 1

#define VANTREL_TARGET_128 __attribute__((target("sse4.1,pclmul")))
#define VANTREL_TARGET_256 __attribute__((target("sse4.1,pclmul,avx2,vpclmulqdq")))
#define VANTREL_TARGET_512 \
  __attribute__((target("sse4.1,pclmul,avx2,avx512f,avx512vl,avx512bw,vpclmulqdq")))

// The two constants that move a register forward over `bits` bits: the low
// half's in the low lane, the high half's in the high lane.
// (Template arguments, so that the constants are computed by the compiler.)
template <unsigned kBits>
constexpr long long kLow = static_cast<long long>(FoldConstant(kBits + 63));
template <unsigned kBits>
constexpr long long kHigh = static_cast<long long>(FoldConstant(kBits - 1));

template <unsigned kBits>
VANTREL_TARGET_128 inline __m128i Constants() {
  return _mm_set_epi64x(kHigh<kBits>, kLow<kBits>);
}

// The same pair in every 128-bit lane of a 512-bit register.
template <unsigned kBits>
VANTREL_TARGET_512 inline __m512i Constants512() {
  constexpr long long lo = kLow<kBits>, hi = kHigh<kBits>;
  return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

VANTREL_TARGET_128 inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
VANTREL_TARGET_256 inline __m256i Load256(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
VANTREL_TARGET_512 inline __m512i Load512(const uint8_t* p) { return _mm512_loadu_si512(p); }

VANTREL_TARGET_128 inline __m128i Fold128(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Folds x over the remaining 16-byte pieces, reduces it and runs the last
// bytes (fewer than 16) through the tables.
VANTREL_TARGET_128 uint32_t Finish128(__m128i x, const uint8_t* data, size_t n) {
  const __m128i k128 = Constants<128>();
  for (; n >= 16; data += 16, n -= 16)
    x = _mm_xor_si128(Fold128(x, k128), Load128(data));
  // Two folds of the low half by x^64 leave a polynomial of degree < 64 in
  // the high half.
  const __m128i k64 = _mm_set_epi64x(0, kHigh<64>);
  const __m128i zero = _mm_setzero_si128();
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, k64, 0x00), _mm_unpackhi_epi64(zero, x));
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, k64, 0x00), _mm_unpackhi_epi64(zero, x));
  const uint32_t crc = WordCrc(static_cast<uint64_t>(_mm_extract_epi64(x, 1)));
  return TableUpdate(crc, data, n);
}

// Needs n >= 64.
VANTREL_TARGET_128 uint32_t Clmul128(uint32_t crc, const uint8_t* data, size_t n) {
  __m128i x0 = _mm_xor_si128(Load128(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load128(data + 16), x2 = Load128(data + 32), x3 = Load128(data + 48);
  data += 64;
  n -= 64;
  const __m128i k512 = Constants<512>();
  for (; n >= 64; data += 64, n -= 64) {
    x0 = _mm_xor_si128(Fold128(x0, k512), Load128(data));
    x1 = _mm_xor_si128(Fold128(x1, k512), Load128(data + 16));
    x2 = _mm_xor_si128(Fold128(x2, k512), Load128(data + 32));
    x3 = _mm_xor_si128(Fold128(x3, k512), Load128(data + 48));
  }
  const __m128i k128 = Constants<128>();
  x1 = _mm_xor_si128(x1, Fold128(x0, k128));
  x2 = _mm_xor_si128(x2, Fold128(x1, k128));
  x3 = _mm_xor_si128(x3, Fold128(x2, k128));
  return Finish128(x3, data, n);
}

VANTREL_TARGET_256 inline __m256i Fold256(__m256i x, __m256i k) {
  return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00), _mm256_clmulepi64_epi128(x, k, 0x11));
}

// Needs n >= 128.
VANTREL_TARGET_256 uint32_t Clmul256(uint32_t crc, const uint8_t* data, size_t n) {
  __m256i y0 = _mm256_xor_si256(Load256(data), _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(crc))));
  __m256i y1 = Load256(data + 32), y2 = Load256(data + 64), y3 = Load256(data + 96);
  data += 128;
  n -= 128;
  const __m256i k1024 = _mm256_broadcastsi128_si256(Constants<1024>());
  for (; n >= 128; data += 128, n -= 128) {
    y0 = _mm256_xor_si256(Fold256(y0, k1024), Load256(data));
    y1 = _mm256_xor_si256(Fold256(y1, k1024), Load256(data + 32));
    y2 = _mm256_xor_si256(Fold256(y2, k1024), Load256(data + 64));
    y3 = _mm256_xor_si256(Fold256(y3, k1024), Load256(data + 96));
  }
  const __m256i k256 = _mm256_broadcastsi128_si256(Constants<256>());
  y1 = _mm256_xor_si256(y1, Fold256(y0, k256));
  y2 = _mm256_xor_si256(y2, Fold256(y1, k256));
  y3 = _mm256_xor_si256(y3, Fold256(y2, k256));
  for (; n >= 32; data += 32, n -= 32) y3 = _mm256_xor_si256(Fold256(y3, k256), Load256(data));
  // The lower lane comes 128 bits before the upper one.
  const __m128i lo = _mm256_castsi256_si128(y3);
  const __m128i x = _mm_xor_si128(_mm256_extracti128_si256(y3, 1), Fold128(lo, Constants<128>()));
  return Finish128(x, data, n);
}

VANTREL_TARGET_512 inline __m512i Fold512(__m512i x, __m512i k) {
  return _mm512_xor_si512(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11));
}

// Three-way XOR in one instruction.
VANTREL_TARGET_512 inline __m512i Xor3(__m512i a, __m512i b, __m512i c) {
  return _mm512_ternarylogic_epi64(a, b, c, 0x96);
}

// GCC 12's AVX-512 headers trip -Wuninitialized on their own placeholders.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
// Needs n >= 256.
VANTREL_TARGET_512 uint32_t Clmul512(uint32_t crc, const uint8_t* data, size_t n) {
  __m512i z0 = _mm512_xor_si512(Load512(data), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
  __m512i z1 = Load512(data + 64), z2 = Load512(data + 128), z3 = Load512(data + 192);
  data += 256;
  n -= 256;
  const __m512i k2048 = Constants512<2048>();
  for (; n >= 256; data += 256, n -= 256) {
    z0 = Xor3(_mm512_clmulepi64_epi128(z0, k2048, 0x00), _mm512_clmulepi64_epi128(z0, k2048, 0x11), Load512(data));
    z1 = Xor3(_mm512_clmulepi64_epi128(z1, k2048, 0x00), _mm512_clmulepi64_epi128(z1, k2048, 0x11), Load512(data + 64));
    z2 = Xor3(_mm512_clmulepi64_epi128(z2, k2048, 0x00), _mm512_clmulepi64_epi128(z2, k2048, 0x11), Load512(data + 128));
    z3 = Xor3(_mm512_clmulepi64_epi128(z3, k2048, 0x00), _mm512_clmulepi64_epi128(z3, k2048, 0x11), Load512(data + 192));
  }
  const __m512i k512 = Constants512<512>();
  z1 = _mm512_xor_si512(z1, Fold512(z0, k512));
  z2 = _mm512_xor_si512(z2, Fold512(z1, k512));
  z3 = _mm512_xor_si512(z3, Fold512(z2, k512));
  for (; n >= 64; data += 64, n -= 64) z3 = _mm512_xor_si512(Fold512(z3, k512), Load512(data));
  // Lanes 0, 1 and 2 come 384, 256 and 128 bits before lane 3: fold each
  // over its own distance (lane 3 times zero) and add them up.
  const __m512i kLanes =
      _mm512_set_epi64(0, 0, kHigh<128>, kLow<128>, kHigh<256>, kLow<256>, kHigh<384>, kLow<384>);
  const __m512i t = Fold512(z3, kLanes);
  const __m128i x = _mm_xor_si128(
      _mm_xor_si128(_mm512_castsi512_si128(t), _mm512_extracti32x4_epi32(t, 1)),
      _mm_xor_si128(_mm512_extracti32x4_epi32(t, 2), _mm512_extracti32x4_epi32(z3, 3)));
  return Finish128(x, data, n);
}
#pragma GCC diagnostic pop

struct TCpuFeatures {
  bool clmul128 = false, clmul256 = false, clmul512 = false;
};

TCpuFeatures DetectCpu() {
  TCpuFeatures f;
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  const bool pclmul = c & (1u << 1), sse41 = c & (1u << 19), osxsave = c & (1u << 27), avx = c & (1u << 28);
  f.clmul128 = pclmul && sse41;
  if (!f.clmul128 || !osxsave || !avx) return f;
  // The operating system must save the vector registers: XMM and YMM state,
  // and for AVX-512 also the mask and upper ZMM state.
  uint32_t xcrLo, xcrHi;
  __asm__("xgetbv" : "=a"(xcrLo), "=d"(xcrHi) : "c"(0));
  const bool ymmState = (xcrLo & 0x6) == 0x6, zmmState = (xcrLo & 0xE6) == 0xE6;
  if (!ymmState || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return f;
  const bool avx2 = b & (1u << 5), avx512f = b & (1u << 16), avx512bw = b & (1u << 30),
             avx512vl = b & (1u << 31), vpclmul = c & (1u << 10);
  f.clmul256 = avx2 && vpclmul;
  f.clmul512 = f.clmul256 && zmmState && avx512f && avx512bw && avx512vl;
  return f;
}

const TCpuFeatures& Cpu() {
  static const TCpuFeatures features = DetectCpu();
  return features;
}
#endif  // x86-64

// Below these lengths a kernel's setup costs more than the tables.
constexpr size_t kMin128 = 64, kMin256 = 256, kMin512 = 512;

using TUpdateFn = uint32_t (*)(uint32_t, const uint8_t*, size_t);

template <TUpdateFn Kernel, size_t kMin>
uint32_t WithFallback(uint32_t crc, const uint8_t* data, size_t n) {
  return n >= kMin ? Kernel(crc, data, n) : TableUpdate(crc, data, n);
}

TUpdateFn KernelFunction(TCrc32Kernel kernel) {
  switch (kernel) {
#ifdef VANTREL_CRC_CLMUL
    case TCrc32Kernel::Clmul128: return WithFallback<Clmul128, kMin128>;
    case TCrc32Kernel::Clmul256: return WithFallback<Clmul256, kMin256>;
    case TCrc32Kernel::Clmul512: return WithFallback<Clmul512, kMin512>;
#endif
    default: return TableUpdate;
  }
}

TCrc32Kernel ChooseKernel() {
  for (auto it = std::rbegin(kCrc32Kernels); it != std::rend(kCrc32Kernels); ++it)
    if (Crc32KernelSupported(*it)) return *it;
  return TCrc32Kernel::Table;
}

const TUpdateFn gChosen = KernelFunction(ChooseKernel());

}  // namespace

bool Crc32KernelSupported(TCrc32Kernel kernel) {
  switch (kernel) {
    case TCrc32Kernel::Table: return true;
#ifdef VANTREL_CRC_CLMUL
    case TCrc32Kernel::Clmul128: return Cpu().clmul128;
    case TCrc32Kernel::Clmul256: return Cpu().clmul256;
    case TCrc32Kernel::Clmul512: return Cpu().clmul512;
#endif
    default: return false;
  }
}

TCrc32Kernel Crc32ChosenKernel() { return ChooseKernel(); }

const char* Crc32KernelName(TCrc32Kernel kernel) {
  switch (kernel) {
    case TCrc32Kernel::Table: return "tables";
    case TCrc32Kernel::Clmul128: return "pclmulqdq";
    case TCrc32Kernel::Clmul256: return "vpclmulqdq-avx2";
    case TCrc32Kernel::Clmul512: return "vpclmulqdq-avx512";
  }
  return "?";
}

uint32_t Crc32UpdateWith(TCrc32Kernel kernel, uint32_t crc, const uint8_t* data, size_t n) {
  return KernelFunction(kernel)(crc, data, n);
}

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t n) {
  // Short pieces (the encryption header, small records) skip the indirect call.
  if (n < kMin128) return TableUpdate(crc, data, n);
  // Static initialisation of other files may run before gChosen is set.
  const TUpdateFn fn = gChosen ? gChosen : TableUpdate;
  return fn(crc, data, n);
}

uint32_t Crc32(const uint8_t* data, size_t n) { return ~Crc32Update(0xFFFFFFFFu, data, n); }

}  // namespace vantrel::zip
