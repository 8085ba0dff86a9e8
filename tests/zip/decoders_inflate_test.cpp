// Inflate and Deflate64: zlib's streams at every level and strategy, hand-built
// streams that reach the window limits against a plain model, corner cases and
// corrupt headers, and damaged streams on which the decoder agrees with zlib.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/zip/decoders_support.h"
#include "tests/zip/deflate_bits.h"
#include "tests/zip/legacy_encoders.h"
#include "zip/codec/crc32.h"

namespace vantrel::zip {
namespace {

using namespace testing;

struct TRun {
  TDecodeResult result;
  std::string out;
  int writes;
};

TRun RunInflate(const TBytes& stream, size_t block = kBlockSize, bool deflate64 = false) {
  auto buf = NewBuffers();
  TMemInput in(stream, block);
  TMemOutput sink;
  const TDecodeResult r = deflate64 ? Inflate64(in, sink) : Inflate(in, sink, *buf);
  EXPECT_FALSE(sink.badBlock) << "a block was empty or longer than 32768 bytes";
  return {r, std::string(sink.data().begin(), sink.data().end()), sink.writes};
}

// Every level and strategy of zlib, in input blocks of any size; the output
// comes in full blocks except the last. Blocks of 16 and 17 bytes hold just
// the input the fast loop needs to start: its reads end right at the block's
// end (the blocks are copies of their own, so a read beyond is caught by the
// sanitizers).
TEST(InflateTest, DecodesZlibOutputAtEveryLevelAndStrategyInAnyInputBlocks) {
  const TBytes data = MixedData(300000, 1);
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
    for (int level = 0; level <= 9; ++level) {
      const TBytes z = ZlibDeflate(data, level, strategy);
      for (size_t block : {size_t{1}, size_t{7}, size_t{16}, size_t{17}, size_t{4093}, kBlockSize}) {
        if (block < 4093 && (strategy != Z_DEFAULT_STRATEGY || level % 3 != 0)) continue;
        const TRun r = RunInflate(z, block);
        ASSERT_TRUE(r.result == TDecodeResult::Ok && r.out == Str(data)) << strategy << "/" << level << "/" << block;
        EXPECT_EQ(r.writes, static_cast<int>((data.size() + kBlockSize - 1) / kBlockSize));
      }
    }
  }
}

// ---- Hand-built streams (the writers are in deflate_bits.h).

// Stored blocks alternating with fixed blocks of random literals and matches,
// with the expected output from a plain model. The first match reaches exactly
// the window's far end (32768, or 65536 for Deflate64); later ones go anywhere
// in it, overlapping or far back; Deflate64 also uses the 16-bit length code,
// up to 65538 long (longer than the decoder's output room).
std::pair<TBytes, TBytes> ModelStream(uint32_t seed, bool deflate64) {
  std::mt19937 rng(seed);
  TBitWriter w;
  TBytes expect;
  const unsigned window = deflate64 ? 65536 : 32768;
  auto match = [&](unsigned len, unsigned dist, bool longCode) {
    FixedMatch(w, len, dist, deflate64, longCode);
    for (unsigned k = 0; k < len; ++k) expect.push_back(expect[expect.size() - dist]);
  };
  for (int block = 0; block < 7; ++block) {
    const bool last = block == 6;
    if (block < 2 || block % 2 == 1) {
      const TBytes raw = RandomBytes(block < 2 ? 40000 : 1 + rng() % 30000, rng());
      StoredBlock(w, raw, last);
      expect.insert(expect.end(), raw.begin(), raw.end());
      continue;
    }
    w.Bits(last | 1 << 1, 3);  // type 1: fixed codes
    if (block == 2) match(258, window, false);
    for (int op = 0; op < 600; ++op) {
      if (rng() % 3 == 0) {
        const uint8_t c = static_cast<uint8_t>(rng());
        FixedLitLen(w, c);
        expect.push_back(c);
        continue;
      }
      const unsigned kind = rng() % 4;
      const unsigned dist = kind == 0 ? 1 + rng() % 8 : kind == 1 ? window - rng() % 300 : 1 + rng() % window;
      const bool longCode = deflate64 && rng() % 2;
      unsigned len = !deflate64 && rng() % 2 ? 258 : 3 + rng() % 256;
      if (longCode && op % 50 == 0) len = op % 100 == 0 ? 65538 : 3 + rng() % 65536;
      match(len, dist, longCode);
    }
    FixedLitLen(w, 256);
  }
  return {w.bytes, expect};
}

// The model streams decode in any input blocks; every truncation is a
// DataError with a true beginning of the output; plain inflate refuses the
// Deflate64 streams (their first distance is beyond its window).
TEST(InflateTest, ModelStreamsReachTheWholeWindow) {
  for (bool deflate64 : {false, true}) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE(std::to_string(deflate64) + " seed " + std::to_string(seed));
      const auto [stream, expect] = ModelStream(seed, deflate64);
      for (size_t block : {size_t{7}, size_t{16}, size_t{24}, kBlockSize}) {
        const TRun r = RunInflate(stream, block, deflate64);
        ASSERT_EQ(r.result, TDecodeResult::Ok) << block;
        ASSERT_TRUE(r.out == Str(expect)) << block;
      }
      if (deflate64) {
        EXPECT_EQ(RunInflate(stream).result, TDecodeResult::DataError);
      }
      for (size_t cut = 0; cut < stream.size(); cut += 997) {
        const TRun r = RunInflate(TBytes(stream.begin(), stream.begin() + static_cast<long>(cut)), 4096, deflate64);
        ASSERT_EQ(r.result, TDecodeResult::DataError) << cut;
        ASSERT_EQ(r.out, Str(expect).substr(0, r.out.size())) << cut;
      }
    }
  }
}

// Matches that cross the point where the output room is full and the history
// moves to the front of the area, and the same point one room later: stored
// data up to a little before or after it, then matches reaching the window's
// far end, short overlapping ones and literals.
TEST(InflateTest, MatchesAcrossTheFlushPoints) {
  constexpr size_t kHistory = 32768;
  constexpr size_t kFlushAt = kHistory + kInflateRoom;
  for (size_t lead : {kFlushAt - 259, kFlushAt - 258, kFlushAt - 3, kFlushAt - 1, kFlushAt, kFlushAt + 1,
                      kFlushAt + kInflateRoom - 300, kFlushAt + kInflateRoom - 1}) {
    SCOPED_TRACE(lead);
    TBytes expect = RandomBytes(lead, static_cast<unsigned>(lead));
    TBitWriter w;
    for (size_t p = 0; p < lead; p += 65535)
      StoredBlock(w, TBytes(expect.begin() + static_cast<long>(p), expect.begin() + static_cast<long>(std::min(lead, p + 65535))),
                  false);
    w.Bits(1 | 1 << 1, 3);  // the last block, fixed codes
    auto match = [&](unsigned len, unsigned dist) {
      FixedMatch(w, len, dist);
      for (unsigned k = 0; k < len; ++k) expect.push_back(expect[expect.size() - dist]);
    };
    for (unsigned k = 0; k < 400; ++k) {
      match(258, kHistory);
      match(3 + k % 64, 1 + k % 40);
      FixedLitLen(w, k & 0xFF);
      expect.push_back(static_cast<uint8_t>(k));
    }
    FixedLitLen(w, 256);
    for (size_t block : {size_t{5}, kBlockSize}) {
      const TRun r = RunInflate(w.bytes, block);
      ASSERT_EQ(r.result, TDecodeResult::Ok) << block;
      ASSERT_TRUE(r.out == Str(expect)) << block;
      EXPECT_EQ(r.writes, static_cast<int>((expect.size() + kBlockSize - 1) / kBlockSize));
    }
  }
}

// zlib's dynamic blocks cut anywhere in their first 200 bytes (the header
// with its code lengths, and the first symbols): every cut is a DataError
// whose output is a true beginning of the data, in any input blocks.
TEST(InflateTest, DynamicBlocksCutInTheirHeaderFail) {
  for (unsigned seed : {1u, 2u}) {
    const TBytes data = MixedData(20000, seed);
    const TBytes z = ZlibDeflate(data, 6);
    ASSERT_GT(z.size(), 200u);
    ASSERT_EQ(z[0] & 7, 5) << "one last dynamic block expected";  // BFINAL 1, BTYPE 2
    const TRun whole = RunInflate(z);
    ASSERT_TRUE(whole.result == TDecodeResult::Ok && whole.out == Str(data));
    for (size_t cut = 0; cut < 200; ++cut) {
      for (size_t block : {size_t{1}, kBlockSize}) {
        const TRun r = RunInflate(TBytes(z.begin(), z.begin() + static_cast<long>(cut)), block);
        ASSERT_EQ(r.result, TDecodeResult::DataError) << seed << " cut " << cut << " block " << block;
        ASSERT_TRUE(Str(data).compare(0, r.out.size(), r.out) == 0) << seed << " cut " << cut;
      }
    }
  }
}

TEST(InflateTest, CornerCasesAndCorruptBlocks) {
  constexpr auto kOk = TDecodeResult::Ok, kBad = TDecodeResult::DataError;
  // Literal/length code lengths: every byte but 255 in 8 bits, end and length 3 in 9.
  std::vector<uint8_t> lit(258, 8), few(257, 0), noEnd(257, 0);
  lit[255] = 0;
  lit[256] = lit[257] = 9;
  few['h'] = few['i'] = few['!'] = few[256] = 2;
  noEnd['a'] = noEnd['b'] = 1;
  const auto lc = Canonical(lit), fc = Canonical(few);
  auto fixed = [](std::vector<unsigned> syms, unsigned dist) {
    return Build([&](TBitWriter& w) {
      w.Bits(1 | 1 << 1, 3);
      for (unsigned s : syms) FixedLitLen(w, s);
      w.Code(dist, 5);
      FixedLitLen(w, 256);
    });
  };
  auto aMatch = [&](uint32_t distCode) {  // 'a', then length 3 with a one-bit distance code
    return Build([&](TBitWriter& w) {
      DynamicHeader(w, lit, {1});
      w.Code(lc['a'], 8);
      w.Code(lc[257], 9);
      w.Code(distCode, 1);
      w.Code(lc[256], 9);
    });
  };
  auto badSet = [](std::vector<uint8_t> l, std::vector<uint8_t> d) {
    return Build([&](TBitWriter& w) {
      DynamicHeader(w, l, d);
      w.Bits(0, 32);
    });
  };
  struct TCase {
    std::string what;
    TBytes stream;
    TDecodeResult result;
    std::string out;
    bool deflate64 = false;
  };
  std::vector<TCase> cases = {
      {"empty entry", ZlibDeflate({}, 6), kOk, ""},
      {"no data", {}, kBad, ""},
      {"block type 3", Build([](TBitWriter& w) { w.Bits(1 | 3 << 1, 3), w.Bits(0, 16); }), kBad, ""},
      {"stored length without its complement",
       Build([](TBitWriter& w) { w.Bits(1, 3), w.Align(), w.Bits(5, 16), w.Bits(0xFFFF, 16), w.Bits(0, 40); }),
       kBad, ""},
      {"stored block cut short", Build([](TBitWriter& w) { StoredBlock(w, TBytes(100, 'z'), true), w.bytes.pop_back(); }),
       kBad, std::string(99, 'z')},
      {"length code 286", fixed({'a', 286}, 0), kBad, "a"},
      {"length code 287", fixed({'a', 287}, 0), kBad, "a"},
      {"distance code 30", fixed({'a', 257}, 30), kBad, "a"},
      {"distance code 31", fixed({'a', 257}, 31), kBad, "a"},
      {"a single one-bit distance code", aMatch(0), kOk, "aaaa"},
      {"its unused half", aMatch(1), kBad, "a"},
      {"no distance codes",
       Build([&](TBitWriter& w) {
         DynamicHeader(w, few, {0});
         for (char c : std::string("hi!hi")) w.Code(fc[static_cast<uint8_t>(c)], 2);
         w.Code(fc[256], 2);
       }),
       kOk, "hi!hi"},
      {"over-subscribed literal/length code", badSet(std::vector<uint8_t>(257, 1), {1}), kBad, ""},
      {"incomplete literal/length code", badSet(std::vector<uint8_t>(257, 9), {1}), kBad, ""},
      {"over-subscribed distance code", badSet(lit, {1, 1, 1}), kBad, ""},
      {"incomplete distance code of more than one code", badSet(lit, {2, 2, 2}), kBad, ""},
      {"no end-of-block code", badSet(noEnd, {0}), kBad, ""},
      {"incomplete code length code", CodeLengthHeader(0, {1, 0, 0, 0}, {}), kBad, ""},
      // 16 = "0", 0 = "10", 18 = "11": a repeat with no length before it.
      {"repeat of nothing", CodeLengthHeader(0, {1, 0, 2, 2}, {{0, 1}, {0, 2}}), kBad, ""},
      // Two runs of 138 zeros (18 = "11") for 258 lengths.
      {"repeats past the count", CodeLengthHeader(0, {1, 0, 2, 2}, {{3, 2}, {127, 7}, {3, 2}, {127, 7}}), kBad, ""},
      {"287 literal/length codes", CodeLengthHeader(30, {0, 0, 0, 0}, {}), kBad, ""},
  };
  // A distance one beyond the output so far: the literals and never stale
  // buffer contents.
  for (bool deflate64 : {false, true}) {
    for (unsigned have : {0u, 1u, 100u, 32767u, 40000u, 65535u}) {
      if (deflate64 || have < 32768)
        cases.push_back({"distance beyond " + std::to_string(have), Build([&](TBitWriter& w) {
                           w.Bits(1 | 1 << 1, 3);
                           for (unsigned i = 0; i < have; ++i) FixedLitLen(w, 'x');
                           FixedMatch(w, 3, have + 1, deflate64);
                           FixedLitLen(w, 256);
                         }),
                         kBad, std::string(have, 'x'), deflate64});
    }
  }
  for (const auto& c : cases) {
    const TRun r = RunInflate(c.stream, kBlockSize, c.deflate64);
    EXPECT_EQ(std::make_pair(r.result, r.out), std::make_pair(c.result, c.out)) << c.what;
  }
}

// Damaged streams of every block type: wherever zlib finds a complete stream
// we must produce the same bytes, and wherever zlib finds corrupt or
// truncated data we must report DataError.
TEST(InflateTest, AgreesWithZlibOnDamagedStreams) {
  const TBytes text = MixedData(20000, 11);
  const TBytes streams[] = {ZlibDeflate(text, 6), ZlibDeflate(text, 1, Z_FIXED), ZlibDeflate(text, 0),
                            ZlibDeflate(text, 9, Z_HUFFMAN_ONLY),
                            ZlibDeflate(WordText(3000, 12), 9, Z_DEFAULT_STRATEGY, 1)};
  std::mt19937 rng(2024);
  int agreedComplete = 0, agreedCorrupt = 0;
  for (int round = 0; round < 4000; ++round) {
    TBytes bad = streams[round % 5], expect;
    switch (rng() % 3) {
      case 0:
        for (int f = 0; f < 1 + static_cast<int>(rng() % 3); ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1: bad[rng() % std::min<size_t>(bad.size(), 64)] = static_cast<uint8_t>(rng()); break;
      default: bad.resize(rng() % bad.size()); break;
    }
    const bool complete = ZlibInflate(bad, &expect) >= 0;
    const TRun r = RunInflate(bad, 1 + rng() % 9000);
    ASSERT_EQ(r.result, complete ? TDecodeResult::Ok : TDecodeResult::DataError) << "round " << round;
    // What both decoded before the damage agrees.
    const std::string want = Str(expect);
    const size_t common = std::min(r.out.size(), want.size());
    ASSERT_TRUE(complete ? r.out == want : r.out.compare(0, common, want, 0, common) == 0) << round;
    ++(complete ? agreedComplete : agreedCorrupt);
  }
  EXPECT_GT(agreedComplete, 50);
  EXPECT_GT(agreedCorrupt, 1000);
}

}  // namespace
}  // namespace vantrel::zip
