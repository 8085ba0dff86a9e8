// Inflate: streams made by zlib at every level and strategy, hand-built streams
// that reach the 32 KB window limits (and Deflate64's 64 KB ones), and corrupt
// streams of every kind the decoder must reject without reading or writing out
// of bounds.
#include <gtest/gtest.h>

#include <random>

#include "tests/support/test_support.h"
#include "tests/zip/decoders_support.h"
#include "zip/codec/crc32.h"

namespace vantrel::zip {
namespace {

using testing::NewBuffers;
using testing::TBytes;
using testing::TMemInput;
using testing::TMemOutput;

enum class TFlavour { Deflate, Deflate64 };

TDecodeResult RunInflate(const TBytes& stream, TBytes* out, size_t block = kBlockSize,
                         TMemOutput* sinkOut = nullptr, TFlavour flavour = TFlavour::Deflate) {
  auto buf = NewBuffers();
  TMemInput in(stream, block);
  TMemOutput sink;
  const TDecodeResult r = flavour == TFlavour::Deflate ? Inflate(in, sink, *buf) : Inflate64(in, sink);
  EXPECT_FALSE(sink.badBlock) << "a block was empty or longer than 32768 bytes";
  if (out) *out = sink.data();
  if (sinkOut) *sinkOut = sink;
  return r;
}

TBytes TextData(size_t n, uint32_t seed) {
  static const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta, ",
                                "eta ",   "theta ", "iota. ", "kappa ", "lambda\t", "mu "};
  std::mt19937 rng(seed);
  TBytes d;
  while (d.size() < n) {
    const char* w = words[rng() % 12];
    d.insert(d.end(), w, w + std::strlen(w));
  }
  d.resize(n);
  return d;
}

TBytes RandomData(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes d(n);
  for (auto& b : d) b = static_cast<uint8_t>(rng());
  return d;
}

// Data of mixed character: text, random runs, long runs of one byte, and
// repeats at long distances.
TBytes MixedData(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes d;
  while (d.size() < n) {
    switch (rng() % 4) {
      case 0: {
        TBytes t = TextData(1000 + rng() % 5000, rng());
        d.insert(d.end(), t.begin(), t.end());
        break;
      }
      case 1: {
        TBytes r = RandomData(100 + rng() % 3000, rng());
        d.insert(d.end(), r.begin(), r.end());
        break;
      }
      case 2:
        d.insert(d.end(), 50 + rng() % 2000, static_cast<uint8_t>(rng()));
        break;
      default:
        if (d.size() > 40000) {
          const size_t from = d.size() - 20000 - rng() % 12000;
          const size_t len = 200 + rng() % 4000;
          for (size_t i = 0; i < len; ++i) d.push_back(d[from + i]);
        }
        break;
    }
  }
  d.resize(n);
  return d;
}

// Every level and strategy of zlib, in input blocks of any size; the output
// comes in full blocks except the last.
TEST(InflateTest, DecodesZlibOutputAtEveryLevelAndStrategyInAnyInputBlocks) {
  const TBytes data = MixedData(300000, 1);
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
    for (int level = 0; level <= 9; ++level) {
      const TBytes z = testing::ZlibDeflate(data, level, strategy);
      for (size_t block : {size_t{1}, size_t{7}, size_t{4093}, kBlockSize}) {
        if (block < 4093 && (strategy != Z_DEFAULT_STRATEGY || level % 3 != 0)) continue;
        TBytes out;
        TMemOutput sink;
        ASSERT_EQ(RunInflate(z, &out, block, &sink), TDecodeResult::Ok) << strategy << "/" << level << "/" << block;
        ASSERT_TRUE(out == data) << "strategy " << strategy << " level " << level << " block " << block;
        EXPECT_EQ(sink.writes, static_cast<int>((data.size() + kBlockSize - 1) / kBlockSize));
      }
    }
  }
}

TEST(InflateTest, EveryTruncationIsADataErrorWithAPrefixOfTheOutput) {
  const TBytes data = MixedData(70000, 4);
  for (int level : {0, 1, 9}) {
    const TBytes z = testing::ZlibDeflate(data, level);
    const size_t step = std::max<size_t>(1, z.size() / 300);
    for (size_t cut = 0; cut < z.size(); cut += step) {
      const TBytes part(z.begin(), z.begin() + static_cast<long>(cut));
      TBytes out;
      ASSERT_EQ(RunInflate(part, &out, 4096), TDecodeResult::DataError) << level << " cut " << cut;
      ASSERT_LE(out.size(), data.size());
      ASSERT_TRUE(std::equal(out.begin(), out.end(), data.begin())) << level << " cut " << cut;
    }
    // The last byte missing, too.
    const TBytes part(z.begin(), z.end() - 1);
    EXPECT_EQ(RunInflate(part, nullptr), TDecodeResult::DataError) << level;
  }
  // An empty stream is an empty entry; no data at all never ends properly.
  TBytes out;
  EXPECT_EQ(RunInflate(testing::ZlibDeflate({}, 6), &out), TDecodeResult::Ok);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(RunInflate({}, &out), TDecodeResult::DataError);
  EXPECT_TRUE(out.empty());
}

// ---- hand-built streams ----

class TBitWriter {
 public:
  void Bits(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) {
      if (bit_ == 0) bytes.push_back(0);
      if ((v >> i) & 1) bytes.back() |= static_cast<uint8_t>(1 << bit_);
      bit_ = (bit_ + 1) & 7;
    }
  }
  // A Huffman code: most significant bit first.
  void Code(uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) Bits((code >> i) & 1, 1);
  }
  void Align() { bit_ = 0; }
  TBytes bytes;

 private:
  int bit_ = 0;
};

const uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Codes 30 and 31 exist in Deflate64 only.
const uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,    33,
                                49,   65,   97,   129,  193,  257,   385,   513,   769,   1025,  1537,
                                2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

void FixedLitLen(TBitWriter& w, unsigned sym) {
  if (sym < 144) w.Code(0x30 + sym, 8);
  else if (sym < 256) w.Code(0x190 + sym - 144, 9);
  else if (sym < 280) w.Code(sym - 256, 7);
  else w.Code(0xC0 + sym - 280, 8);
}

void FixedMatch(TBitWriter& w, unsigned len, unsigned dist) {
  int lc = 28;
  while (kLenBase[lc] > len) --lc;
  if (len == 258) lc = 28;
  FixedLitLen(w, 257 + lc);
  w.Bits(len - kLenBase[lc], kLenExtra[lc]);
  int dc = 29;
  while (kDistBase[dc] > dist) --dc;
  w.Code(dc, 5);
  w.Bits(dist - kDistBase[dc], kDistExtra[dc]);
}

// Deflate64: length code 285 means 3 plus 16 extra bits (258 is code 284 with
// 31), and distance codes 30 and 31 reach 65536 back.
void FixedMatch64(TBitWriter& w, unsigned len, unsigned dist, bool longCode) {
  if (longCode) {
    FixedLitLen(w, 285);
    w.Bits(len - 3, 16);
  } else {
    int lc = 27;
    while (kLenBase[lc] > len) --lc;
    FixedLitLen(w, 257 + lc);
    w.Bits(len - kLenBase[lc], kLenExtra[lc]);
  }
  int dc = 31;
  while (kDistBase[dc] > dist) --dc;
  w.Code(dc, 5);
  w.Bits(dist - kDistBase[dc], kDistExtra[dc]);
}

void StoredBlock(TBitWriter& w, const TBytes& data, bool last) {
  w.Bits(last ? 1 : 0, 1);
  w.Bits(0, 2);
  w.Align();
  w.Bits(static_cast<uint32_t>(data.size()), 16);
  w.Bits(static_cast<uint32_t>(~data.size()) & 0xFFFF, 16);
  w.bytes.insert(w.bytes.end(), data.begin(), data.end());
}

// Random literals and matches (distances anywhere in the 32 KB window), in
// fixed blocks alternating with stored blocks, checked against a plain model.
TEST(InflateTest, RandomMatchesAcrossTheWholeWindow) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    TBitWriter w;
    TBytes expect;
    for (int block = 0; block < 12; ++block) {
      const bool last = block == 11;
      if (block % 3 == 1) {
        TBytes raw = RandomData(rng() % 40000 + 1, rng());
        raw.resize(std::min<size_t>(raw.size(), 65535));
        StoredBlock(w, raw, last);
        expect.insert(expect.end(), raw.begin(), raw.end());
        continue;
      }
      w.Bits(last ? 1 : 0, 1);
      w.Bits(1, 2);
      for (int op = 0; op < 3000; ++op) {
        if (expect.empty() || rng() % 3 == 0) {
          const uint8_t c = static_cast<uint8_t>(rng());
          FixedLitLen(w, c);
          expect.push_back(c);
          continue;
        }
        const unsigned maxDist = static_cast<unsigned>(std::min<size_t>(expect.size(), 32768));
        unsigned dist;
        switch (rng() % 4) {
          case 0: dist = 1 + rng() % std::min(maxDist, 8u); break;     // overlapping
          case 1: dist = maxDist - rng() % std::min(maxDist, 300u); break;  // far back
          default: dist = 1 + rng() % maxDist; break;
        }
        const unsigned len = rng() % 2 ? 258 : 3 + rng() % 256;
        FixedMatch(w, len, dist);
        for (unsigned k = 0; k < len; ++k) expect.push_back(expect[expect.size() - dist]);
      }
      FixedLitLen(w, 256);
    }
    for (size_t block : {size_t{5}, size_t{32768}}) {
      TBytes out;
      ASSERT_EQ(RunInflate(w.bytes, &out, block), TDecodeResult::Ok) << "seed " << seed;
      ASSERT_EQ(out.size(), expect.size());
      ASSERT_TRUE(out == expect) << "seed " << seed << " block " << block;
    }
  }
}

// Deflate64 against a plain model: 80 KB of stored history, then matches up
// to 65536 back and up to 65538 long (longer than the decoder's output room),
// some written with the 16-bit length code. Deflate must refuse the stream;
// every truncation is a DataError with a prefix of the output.
TEST(InflateTest, Deflate64FarDistancesAndLongLengths) {
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    std::mt19937 rng(seed);
    TBitWriter w;
    TBytes expect = RandomData(40000, seed);
    StoredBlock(w, expect, false);
    const TBytes more = RandomData(40000, seed + 10);
    StoredBlock(w, more, false);
    expect.insert(expect.end(), more.begin(), more.end());
    w.Bits(1, 1);
    w.Bits(1, 2);
    // First a match 65536 back (distance code 31), which deflate refuses.
    FixedMatch64(w, 10, 65536, false);
    for (unsigned k = 0; k < 10; ++k) expect.push_back(expect[expect.size() - 65536]);
    for (int op = 0; op < 1500; ++op) {
      if (rng() % 3 == 0) {
        const uint8_t c = static_cast<uint8_t>(rng());
        FixedLitLen(w, c);
        expect.push_back(c);
        continue;
      }
      const unsigned maxDist = static_cast<unsigned>(std::min<size_t>(expect.size(), 65536));
      unsigned dist;
      switch (rng() % 4) {
        case 0: dist = maxDist - rng() % 300; break;           // codes 30 and 31
        case 1: dist = 1 + rng() % 6; break;                   // overlapping
        default: dist = 1 + rng() % maxDist; break;
      }
      const bool longCode = rng() % 2;
      unsigned len = 3 + rng() % 256;
      if (longCode && op % 50 == 0) len = op % 100 == 0 ? 65538 : 3 + rng() % 65536;
      FixedMatch64(w, len, dist, longCode);
      for (unsigned k = 0; k < len; ++k) expect.push_back(expect[expect.size() - dist]);
    }
    FixedLitLen(w, 256);
    for (size_t block : {size_t{7}, size_t{32768}}) {
      TBytes out;
      ASSERT_EQ(RunInflate(w.bytes, &out, block, nullptr, TFlavour::Deflate64), TDecodeResult::Ok) << seed;
      ASSERT_EQ(out.size(), expect.size());
      ASSERT_TRUE(out == expect) << "seed " << seed << " block " << block;
    }
    EXPECT_EQ(RunInflate(w.bytes, nullptr), TDecodeResult::DataError) << "plain deflate, seed " << seed;
    for (size_t cut = 0; cut < w.bytes.size(); cut += 997) {
      const TBytes part(w.bytes.begin(), w.bytes.begin() + static_cast<long>(cut));
      TBytes out;
      ASSERT_EQ(RunInflate(part, &out, 4096, nullptr, TFlavour::Deflate64), TDecodeResult::DataError) << cut;
      ASSERT_LE(out.size(), expect.size());
      ASSERT_TRUE(std::equal(out.begin(), out.end(), expect.begin())) << "cut " << cut;
    }
  }
}

TEST(InflateTest, DistanceOf32768Exactly) {
  TBitWriter w;
  const TBytes raw = RandomData(32768, 9);
  StoredBlock(w, raw, false);
  w.Bits(1, 1);
  w.Bits(1, 2);
  FixedMatch(w, 258, 32768);
  FixedLitLen(w, 256);
  TBytes out;
  ASSERT_EQ(RunInflate(w.bytes, &out), TDecodeResult::Ok);
  ASSERT_EQ(out.size(), 32768u + 258u);
  EXPECT_TRUE(std::equal(out.begin() + 32768, out.end(), raw.begin()));
}

TEST(InflateTest, DistanceTooFarBackIsRejected) {
  for (TFlavour flavour : {TFlavour::Deflate, TFlavour::Deflate64}) {
    for (unsigned have : {0u, 1u, 100u, 32767u, 40000u, 65535u}) {
      if (flavour == TFlavour::Deflate && have >= 32768) continue;
      TBitWriter w;
      w.Bits(1, 1);
      w.Bits(1, 2);
      for (unsigned i = 0; i < have; ++i) FixedLitLen(w, 'x');
      if (flavour == TFlavour::Deflate) {
        FixedMatch(w, 3, have + 1);
      } else {
        FixedMatch64(w, 3, have + 1, false);
      }
      FixedLitLen(w, 256);
      TBytes out;
      EXPECT_EQ(RunInflate(w.bytes, &out, kBlockSize, nullptr, flavour), TDecodeResult::DataError) << have;
      // Nothing but the literals, and never stale buffer contents.
      EXPECT_EQ(out.size(), have);
      EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 'x'; }));
    }
  }
}

TEST(InflateTest, DistanceCodes30And31AndLengthCodes286And287AreInvalid) {
  for (int which = 0; which < 4; ++which) {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(1, 2);
    FixedLitLen(w, 'a');
    if (which < 2) {
      FixedLitLen(w, 286 + which);
      w.Code(0, 5);
    } else {
      FixedLitLen(w, 257);
      w.Code(28 + which, 5);  // 30, 31
    }
    FixedLitLen(w, 256);
    EXPECT_EQ(RunInflate(w.bytes, nullptr), TDecodeResult::DataError) << which;
  }
}

TEST(InflateTest, BadBlockTypeAndBadStoredLength) {
  TBitWriter w;
  w.Bits(1, 1);
  w.Bits(3, 2);
  w.Bits(0, 16);
  EXPECT_EQ(RunInflate(w.bytes, nullptr), TDecodeResult::DataError);

  TBitWriter s;
  s.Bits(1, 1);
  s.Bits(0, 2);
  s.Align();
  s.Bits(5, 16);
  s.Bits(0xFFFF, 16);  // should be ~5
  s.bytes.insert(s.bytes.end(), 5, 'q');
  EXPECT_EQ(RunInflate(s.bytes, nullptr), TDecodeResult::DataError);

  // A stored block promising more than there is.
  TBitWriter t;
  StoredBlock(t, TBytes(100, 'z'), true);
  t.bytes.resize(t.bytes.size() - 1);
  TBytes out;
  EXPECT_EQ(RunInflate(t.bytes, &out), TDecodeResult::DataError);
  EXPECT_EQ(out.size(), 99u);
}

// Dynamic block header from explicit code lengths; the code length code
// gives every length 0-15 four bits, so symbol v is written as the code v.
void DynamicHeader(TBitWriter& w, const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist,
                   bool last = true) {
  w.Bits(last ? 1 : 0, 1);
  w.Bits(2, 2);
  w.Bits(static_cast<uint32_t>(lit.size() - 257), 5);
  w.Bits(static_cast<uint32_t>(dist.size() - 1), 5);
  w.Bits(15, 4);  // 19 code length code lengths
  static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (uint8_t sym : order) w.Bits(sym >= 16 ? 0 : 4, 3);
  for (uint8_t l : lit) w.Code(l, 4);
  for (uint8_t l : dist) w.Code(l, 4);
}

// Canonical codes for a set of lengths.
std::vector<uint32_t> Canonical(const std::vector<uint8_t>& lens) {
  std::vector<uint32_t> codes(lens.size());
  uint32_t code = 0;
  for (int len = 1; len <= 15; ++len) {
    for (size_t s = 0; s < lens.size(); ++s)
      if (lens[s] == len) codes[s] = code++;
    code <<= 1;
  }
  return codes;
}

TEST(InflateTest, DynamicBlockWithASingleOneBitDistanceCode) {
  std::vector<uint8_t> lit(258, 8);
  lit[255] = 0;
  lit[256] = 9;
  lit[257] = 9;
  std::vector<uint8_t> dist = {1};
  const auto lc = Canonical(lit);
  TBitWriter w;
  DynamicHeader(w, lit, dist);
  w.Code(lc['a'], 8);
  w.Code(lc[257], 9);  // length 3
  w.Code(0, 1);        // distance 1
  w.Code(lc[256], 9);
  TBytes out;
  ASSERT_EQ(RunInflate(w.bytes, &out), TDecodeResult::Ok);
  EXPECT_EQ(std::string(out.begin(), out.end()), "aaaa");

  // The unused half of that distance code is an error.
  TBitWriter bad;
  DynamicHeader(bad, lit, dist);
  bad.Code(lc['a'], 8);
  bad.Code(lc[257], 9);
  bad.Code(1, 1);
  bad.Code(lc[256], 9);
  EXPECT_EQ(RunInflate(bad.bytes, nullptr), TDecodeResult::DataError);
}

TEST(InflateTest, DynamicBlockWithoutDistanceCodesDecodesLiterals) {
  std::vector<uint8_t> lit(257, 0);
  lit['h'] = 2;
  lit['i'] = 2;
  lit['!'] = 2;
  lit[256] = 2;
  std::vector<uint8_t> dist = {0};
  const auto lc = Canonical(lit);
  TBitWriter w;
  DynamicHeader(w, lit, dist);
  for (char c : std::string("hi!hi")) w.Code(lc[static_cast<uint8_t>(c)], 2);
  w.Code(lc[256], 2);
  TBytes out;
  ASSERT_EQ(RunInflate(w.bytes, &out), TDecodeResult::Ok);
  EXPECT_EQ(std::string(out.begin(), out.end()), "hi!hi");
}

TEST(InflateTest, BadCodeSetsAreRejected) {
  std::vector<uint8_t> lit(258, 8), noEnd(257, 0);
  lit[255] = 0;
  lit[256] = lit[257] = 9;
  noEnd['a'] = noEnd['b'] = 1;
  const std::pair<std::vector<uint8_t>, std::vector<uint8_t>> sets[] = {
      {std::vector<uint8_t>(257, 1), {1}},  // over-subscribed literal/length code
      {std::vector<uint8_t>(257, 9), {1}},  // incomplete literal/length code
      {lit, {1, 1, 1}},                     // over-subscribed distance code
      {lit, {2, 2, 2}},                     // incomplete distance code with more than one code
      {noEnd, {0}},                         // no end-of-block code
  };
  for (const auto& [l, d] : sets) {
    TBitWriter w;
    DynamicHeader(w, l, d);
    w.Bits(0, 32);
    EXPECT_EQ(RunInflate(w.bytes, nullptr), TDecodeResult::DataError) << l.size() << "/" << d.size();
  }
  // Incomplete code length code; repeat of a previous length with none before;
  // repeats running past the declared count; too many length codes (HLIT 30).
  {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(0, 4);
    w.Bits(1, 3);  // only symbol 16 has a code: incomplete
    w.Bits(0, 9);
    w.Bits(0, 32);
    EXPECT_EQ(RunInflate(w.bytes, nullptr), TDecodeResult::DataError);
  }
  {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(0, 4);  // 4 lengths: 16, 17, 18, 0
    w.Bits(1, 3);  // 16: "0"
    w.Bits(0, 3);
    w.Bits(2, 3);  // 18: "10"
    w.Bits(2, 3);  // 0: "11"
    w.Code(0, 1);  // repeat previous with nothing before
    w.Bits(0, 2);
    w.Bits(0, 32);
    EXPECT_EQ(RunInflate(w.bytes, nullptr), TDecodeResult::DataError);
  }
  {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);  // 257 + 1 lengths in all
    w.Bits(0, 5);
    w.Bits(0, 4);
    w.Bits(1, 3);
    w.Bits(0, 3);
    w.Bits(2, 3);
    w.Bits(2, 3);
    w.Code(2, 2);    // 18: zeros
    w.Bits(127, 7);  // 138
    w.Code(2, 2);
    w.Bits(127, 7);  // 276 > 258
    w.Bits(0, 32);
    EXPECT_EQ(RunInflate(w.bytes, nullptr), TDecodeResult::DataError);
  }
  {
    TBitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(30, 5);  // 287 literal/length codes
    w.Bits(0, 5);
    w.Bits(0, 4);
    w.Bits(0, 32);
    EXPECT_EQ(RunInflate(w.bytes, nullptr), TDecodeResult::DataError);
  }
}

// zlib's raw inflate as the oracle: 1 for a complete stream, 0 for corrupt
// or truncated data; the output so far in *out.
int ZlibInflate(const TBytes& z, TBytes* out) {
  z_stream s{};
  inflateInit2(&s, -15);
  out->clear();
  uint8_t buf[16384];
  s.next_in = const_cast<Bytef*>(z.data());
  s.avail_in = static_cast<uInt>(z.size());
  int r;
  do {
    s.next_out = buf;
    s.avail_out = sizeof buf;
    r = inflate(&s, Z_NO_FLUSH);
    out->insert(out->end(), buf, buf + (sizeof buf - s.avail_out));
  } while (r == Z_OK);
  inflateEnd(&s);
  return r == Z_STREAM_END ? 1 : 0;
}

// Damaged streams of every block type: wherever zlib finds a complete stream
// we must produce the same bytes, and wherever zlib finds corrupt or
// truncated data we must report DataError.
TEST(InflateTest, AgreesWithZlibOnDamagedStreams) {
  std::vector<TBytes> streams;
  const TBytes text = MixedData(20000, 11);
  streams.push_back(testing::ZlibDeflate(text, 6));
  streams.push_back(testing::ZlibDeflate(text, 1, Z_FIXED));
  streams.push_back(testing::ZlibDeflate(text, 0));
  streams.push_back(testing::ZlibDeflate(text, 9, Z_HUFFMAN_ONLY));
  streams.push_back(testing::ZlibDeflate(TextData(3000, 12), 9, Z_DEFAULT_STRATEGY, 1));
  std::mt19937 rng(2024);
  int agreedComplete = 0, agreedCorrupt = 0;
  for (int round = 0; round < 4000; ++round) {
    TBytes bad = streams[round % streams.size()];
    switch (rng() % 3) {
      case 0:  // flip bits
        for (int f = 0; f < 1 + static_cast<int>(rng() % 3); ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:  // overwrite a byte
        bad[rng() % std::min<size_t>(bad.size(), 64)] = static_cast<uint8_t>(rng());
        break;
      default:  // cut
        bad.resize(rng() % bad.size());
        break;
    }
    TBytes expect, out;
    const int zr = ZlibInflate(bad, &expect);
    const TDecodeResult r = RunInflate(bad, &out, 1 + rng() % 9000);
    if (zr == 1) {
      ASSERT_EQ(r, TDecodeResult::Ok) << "round " << round;
      ASSERT_TRUE(out == expect) << "round " << round;
      ++agreedComplete;
    } else {
      ASSERT_EQ(r, TDecodeResult::DataError) << "round " << round;
      // What both decoded before the damage agrees.
      const size_t common = std::min(out.size(), expect.size());
      ASSERT_TRUE(std::equal(out.begin(), out.begin() + static_cast<long>(common), expect.begin())) << round;
      ++agreedCorrupt;
    }
  }
  EXPECT_GT(agreedComplete, 50);
  EXPECT_GT(agreedCorrupt, 1000);
}

}  // namespace
}  // namespace vantrel::zip
