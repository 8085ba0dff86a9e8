// The legacy decoders (unshrink, unreduce, explode) on streams made by the
// test encoders for every method and variant: decoded in whole and in tiny
// input blocks, damaged, and packed into archives (plain and encrypted) that
// the reader extracts and other unzip programs accept. Hand-built streams
// pin the corner cases the encoders never produce.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/support/test_support.h"
#include "tests/zip/decoders_support.h"
#include "tests/zip/legacy_encoders.h"
#include "tests/zip/zip_test_util.h"
#include "zip/codec/crc32.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {
namespace {

using namespace testing;

std::pair<TDecodeResult, TBytes> Decode(const TLegacyVariant& v, const TBytes& data, uint64_t size,
                                        size_t block = kBlockSize) {
  auto buf = NewBuffers();
  TMemInput in(data, block);
  TMemOutput sink;
  TDecodeResult r = TDecodeResult::DataError;
  if (v.method == 1) r = Unshrink(in, sink, *buf, size);
  else if (v.method <= 5) r = Unreduce(in, sink, *buf, v.method - 1, size);
  else r = Explode(in, sink, *buf, (v.flags & 2) != 0, (v.flags & 4) != 0, data.size(), size);
  EXPECT_FALSE(sink.badBlock);
  return {r, sink.data()};
}

// Inputs that reach every code: short and empty entries, text (matches of all
// lengths), incompressible data, long runs (maximum lengths, the extra length
// byte, DLE bytes), repeats from just under 4 KB and 8 KB back, and one input
// large enough to fill the shrink table and to select the wider distance table.
struct TInput {
  const char* name;
  TBytes data;
  bool compressible;
};
const std::vector<TInput>& Inputs() {
  static const std::vector<TInput> inputs = [] {
    TBytes every(256);
    for (int i = 0; i < 256; ++i) every[i] = static_cast<uint8_t>(i);
    const TBytes block = RandomBytes(900, 7);
    return std::vector<TInput>{
        {"empty", {}, false},
        {"one byte", {'x'}, false},
        {"text", WordText(30000, 1), true},
        {"random", RandomBytes(5000, 2), false},
        {"runs", Concat({TBytes(5000, 0), TBytes(700, 144), every, every, TBytes(3000, 'a'), every}), true},
        {"far repeats", Concat({block, RandomBytes(3100, 3), block, RandomBytes(7100, 4), block, block}), false},
        {"large", Concat({WordText(60000, 5), RandomBytes(230000, 6), WordText(20000, 8)}), false},
    };
  }();
  return inputs;
}

class LegacyRoundTrip : public ::testing::TestWithParam<TLegacyVariant> {};

// Whole and in tiny input blocks, then truncated and randomly damaged: each
// decoder stops with Ok or DataError, writes at most the declared size, and a
// cut stream never passes as whole.
TEST_P(LegacyRoundTrip, DecodesWhatTheEncoderMadeAndSurvivesDamage) {
  const TLegacyVariant& v = GetParam();
  std::mt19937 rng(123);
  for (const TInput& input : Inputs()) {
    SCOPED_TRACE(input.name);
    const TBytes packed = Encode(v, input.data);
    EXPECT_TRUE(!input.compressible || packed.size() < input.data.size() / 2) << packed.size();
    for (size_t block : {kBlockSize, size_t{1}, size_t{3}, size_t{1000}}) {
      if (block != kBlockSize && input.data.size() > 40000) continue;
      EXPECT_TRUE(Decode(v, packed, input.data.size(), block) == std::make_pair(TDecodeResult::Ok, input.data))
          << "input blocks of " << block;
    }
    for (int round = 0; round < 20 && input.data.size() >= 100 && input.data.size() <= 40000; ++round) {
      TBytes bad = packed;
      if (round % 2 == 0) bad.resize(rng() % (bad.size() - 2));
      else for (int f = 0; f < 3; ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      const auto [r, out] = Decode(v, bad, input.data.size(), 1 + rng() % 3000);
      EXPECT_TRUE(r == TDecodeResult::Ok || r == TDecodeResult::DataError);
      EXPECT_LE(out.size(), input.data.size());
      EXPECT_FALSE(round % 2 == 0 && r == TDecodeResult::Ok && out == input.data) << bad.size();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, LegacyRoundTrip, ::testing::ValuesIn(kLegacyVariants),
                         [](const auto& info) { return std::string(info.param.name); });

// One archive with every legacy method, plain and with traditional
// encryption (some entries with a data descriptor, whose password check uses
// the time). The reader extracts it with the password and skips every
// encrypted entry without it; unzip and 7-Zip accept everything but reduce,
// which neither decodes (7-Zip refuses imploded entries with a data
// descriptor).
class LegacyArchive : public ::testing::Test {
 protected:
  static constexpr const char* kPassword = "s3cret";
  std::string Write(bool withReduce) {
    std::vector<TEntrySpec> entries;
    int n = 0;
    for (const std::string prefix : {"", "enc_"}) {
      for (const TLegacyVariant& v : kLegacyVariants) {
        const bool odd = ++n % 2, encrypt = !prefix.empty();
        const TBytes& plain = Inputs()[odd ? 2 : 4].data;
        const TBytes packed = Encode(v, plain);
        plain_[prefix + v.name] = plain;
        if (!withReduce && v.method >= 2 && v.method <= 5) continue;
        TEntrySpec e(prefix + v.name, std::string(packed.begin(), packed.end()));
        e.method = v.method;
        e.flags = v.flags;
        e.crc = ZCrc(std::string(plain.begin(), plain.end()));
        e.usize = static_cast<uint32_t>(plain.size());
        e.password = encrypt ? kPassword : "";
        e.writeDescriptor = encrypt && v.method != 6 && !odd;
        entries.push_back(e);
      }
    }
    const std::string path = dir_ / (withReduce ? "all.zip" : "no_reduce.zip");
    test::WriteFile(path, BuildZip(entries));
    return path;
  }
  std::map<std::string, TBytes> plain_;
  test::TempDir dir_;
};

TEST_F(LegacyArchive, ReaderExtractsEveryEntryWithThePassword) {
  const std::string zip = Write(true);
  for (const std::string password : {kPassword, "wrong"}) {
    SCOPED_TRACE(password);
    test::TempDir out;
    TZipReader r;
    r.SetZipName(zip);
    r.SetDestDir(out.path());
    r.DoAll = true;
    r.Password = password;
    int badCrc = 0, badPassword = 0;
    r.OnBadCRC = [&](TZipReader*, int32_t, int32_t, int) { ++badCrc; };
    r.OnSkippingFile = [&](TZipReader*, TSkipReason why, const std::string&, int, bool&) {
      badPassword += why == skipBadPassword;
    };
    const bool right = password == kPassword;
    EXPECT_EQ(r.UnZip(), right ? 18 : 9);
    EXPECT_EQ(std::make_pair(badCrc, badPassword), std::make_pair(0, right ? 0 : 9));
    for (const auto& [name, plain] : plain_) {
      const bool expected = right || name.rfind("enc_", 0) != 0;
      ASSERT_EQ(std::filesystem::exists(out / name), expected) << name;
      if (expected) {
        EXPECT_TRUE(test::ReadFile(out / name) == std::string(plain.begin(), plain.end())) << name;
      }
    }
  }
}

TEST_F(LegacyArchive, UnzipAndSevenZipAgree) {
  const std::string zip = Write(false), password = kPassword;
  std::string log;
  EXPECT_EQ(test::RunCommand("unzip -t -P " + password + " " + zip + " 2>&1", &log), 0) << log;
  EXPECT_NE(log.find("No errors detected in compressed data of " + zip), std::string::npos) << log;
  log.clear();
  EXPECT_EQ(test::RunCommand("7zz t -p" + password + " " + zip + " 2>&1", &log), 0) << log;
  EXPECT_NE(log.find("Files: 10"), std::string::npos) << log;
  EXPECT_NE(log.find("Everything is Ok"), std::string::npos) << log;
}

// ---- Hand-built streams for the corner cases the encoders never make.

// Shrink codes packed 9 bits wide, least significant bit first.
TBytes Codes9(const std::vector<unsigned>& codes) {
  TBitWriter w;
  for (unsigned c : codes) w.Bits(c, 9);
  return w.bytes;
}

// Reduce streams with empty follower sets (256 six-bit zero counts), then
// every byte as 8 plain bits.
TBytes ReducePlain(std::initializer_list<uint8_t> bytes) {
  TBytes b(bytes);
  b.insert(b.begin(), 192, 0);
  return b;
}

TEST(LegacyDecoders, CornerCases) {
  auto s = [](const char* text) { return TBytes(text, text + std::strlen(text)); };
  constexpr auto kOk = TDecodeResult::Ok, kBad = TDecodeResult::DataError;
  // A million partial clears, each after one new code: a clear that scanned
  // the whole code table would take minutes.
  constexpr int kClears = 1000000;
  std::vector<unsigned> clears = {'a', 'b'};
  for (int i = 0; i < kClears; ++i) clears.insert(clears.end(), {256, 2, 'c'});
  const struct {
    int method;
    TBytes data;
    uint64_t size;
    TDecodeResult result;
    TBytes out;
  } cases[] = {
      // No input is Ok only for an empty entry.
      {1, {}, 0, kOk, {}}, {2, {}, 0, kOk, {}}, {5, {}, 0, kOk, {}}, {6, {}, 0, kOk, {}},
      {1, {}, 10, kBad, {}}, {2, {}, 10, kBad, {}}, {5, {}, 10, kBad, {}}, {6, {}, 10, kBad, {}},
      // Shrink: a b 257(=ab) 259 (=ab+a, used as it is defined: the KwKwK case).
      {1, Codes9({'a', 'b', 257, 259}), 7, kOk, s("abababa")},
      // A code that is neither defined nor the next one.
      {1, Codes9({'a', 'b', 300}), 10, kBad, s("ab")},
      // The first code must be a byte; unknown escapes are corrupt.
      {1, Codes9({257}), 3, kBad, {}},
      {1, Codes9({'a', 256, 7, 'b'}), 2, kBad, s("a")},
      // 257=ab, 258=bc, 259=ca are all leaves: the clear frees them, and 257
      // then chains through itself.
      {1, Codes9({'a', 'b', 'c', 257, 256, 2, 'x', 257}), 10, kBad, s("abcabx")},
      // 257=ab, 258=ba, 259=abc: 257 is a prefix and survives the clear.
      {1, Codes9({'a', 'b', 257, 'c', 256, 2, 'd', 257}), 8, kOk, s("ababcdab")},
      {1, Codes9(clears), 2 + kClears, kOk, Concat({s("ab"), TBytes(kClears, 'c')})},
      // Reduce: 'a', DLE 0 (a literal 144), 'b', a match of 1 + 3 from distance 1.
      {2, ReducePlain({'a', 144, 0, 'b', 144, 0x01, 0}), 7, kOk, {'a', 144, 'b', 'b', 'b', 'b', 'b'}},
      // Declared one byte longer than the data give: the input runs out.
      {2, ReducePlain({'a', 144, 0, 'b', 144, 0x01, 0}), 8, kBad, {'a', 144, 'b', 'b', 'b', 'b', 'b'}},
      // A match reaching before the start copies zeros, never stale bytes.
      {2, ReducePlain({'x', 144, 0x02, 9}), 6, kOk, {'x', 0, 0, 0, 0, 0}},
      // Factor 4: low bits all ones take a length byte; the high 4 bits are
      // the distance's upper byte (257 back: zeros).
      {5, ReducePlain({'q', 144, 0x1F, 10, 0x00}), 29, kOk, Concat({{'q'}, TBytes(28, 0)})},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(Decode({"", static_cast<uint16_t>(c.method), 0}, c.data, c.size) == std::make_pair(c.result, c.out))
        << c.method << " " << c.size;
}

}  // namespace
}  // namespace vantrel::zip
