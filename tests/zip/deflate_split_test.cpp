// Split deflate: a file cut into pieces compressed apart, each with the 32 KB
// before it as its dictionary, is still one plain deflate stream that zlib and
// the engine inflate; a piece's bytes do not depend on what its compressor did
// before, so pieces compressed on any threads in any order join into the same
// stream; the dictionary is used across the cut.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/zip/decoders_support.h"
#include "zip/codec/deflate_compress.h"

namespace vantrel::zip::testing {
namespace {

class TVecSink : public TDeflateSink {
 public:
  void Write(const uint8_t* data, size_t n) override {
    if (n == 0 || n > 65535) badWrite = true;
    bytes.insert(bytes.end(), data, data + n);
  }
  TBytes bytes;
  bool badWrite = false;
};

// Hands out the data in reads of random length, as a file may.
class TShortReads : public TDeflateSource {
 public:
  explicit TShortReads(const TBytes& data, unsigned seed) : data_(data), rng_(seed) {}
  size_t Read(uint8_t* buf, size_t n) override {
    size_t take = std::min(n, data_.size() - at_);
    if (take > 1) take = 1 + rng_() % take;
    std::copy_n(data_.begin() + static_cast<long>(at_), take, buf);
    at_ += take;
    return take;
  }

 private:
  const TBytes& data_;
  size_t at_ = 0;
  std::mt19937 rng_;
};

TBytes Split(int level, const TBytes& data, TDeflateResult* result = nullptr) {
  TDeflateCompressor compressor;
  TMemoryDeflateSource source(data.data(), data.size());
  TVecSink sink;
  const TDeflateResult r = DeflateSplit(compressor, level, source, sink);
  EXPECT_FALSE(sink.badWrite);
  EXPECT_EQ(r.CompressedSize, sink.bytes.size());
  if (result != nullptr) *result = r;
  return sink.bytes;
}

TBytes Whole(int level, const TBytes& data) {
  TDeflateCompressor compressor;
  TMemoryDeflateSource source(data.data(), data.size());
  TVecSink sink;
  compressor.Deflate(level, source, sink);
  return sink.bytes;
}

// A random block repeated: every piece after the first matches entirely
// into the bytes before it, but only through its dictionary.
TBytes Repeated(size_t block, size_t n, unsigned seed) {
  const TBytes one = RandomBytes(block, seed);
  TBytes b;
  while (b.size() < n) b.insert(b.end(), one.begin(), one.end());
  b.resize(n);
  return b;
}

// Every cut (none, inside the first piece, on a piece boundary, just past
// one) and every kind of data decodes by zlib and by the engine at every
// level, as deflate (method 8) even where nothing compresses.
TEST(DeflateSplit, EveryCutAndLevelDecodes) {
  constexpr size_t P = kSplitPiece;
  const struct {
    const char* name;
    TBytes data;
  } inputs[] = {
      {"empty", {}},
      {"one byte", {'x'}},
      {"half a piece", WordText(P / 2, 1)},
      {"one piece", MixedData(P, 2)},
      {"two pieces", MixedData(2 * P, 3)},
      {"two pieces and a byte", MixedData(2 * P + 1, 4)},
      {"a piece and 40 KB, noise", RandomBytes(P + 40000, 5)},
      {"three and a half, text", WordText(3 * P + P / 2, 6)},
      {"zeros over a cut", TBytes(P + 300, 0)},
  };
  for (const auto& input : inputs) {
    for (int level : {1, 3, 4, 6, 9}) {
      SCOPED_TRACE(std::string(input.name) + ", level " + std::to_string(level));
      TDeflateResult r;
      const TBytes z = Split(level, input.data, &r);
      EXPECT_EQ(r.CompressionMethod, 8);
      EXPECT_EQ(r.FlagBits, DeflateLevelFlags(level));
      TBytes out;
      EXPECT_EQ(ZlibInflate(z, &out), 0) << "zlib: incomplete, or bytes after the end of the stream";
      EXPECT_TRUE(out == input.data) << "zlib";
      TMemInput in(z);
      TMemOutput output;
      EXPECT_EQ(Inflate(in, output, *NewBuffers()), TDecodeResult::Ok);
      EXPECT_TRUE(output.data() == input.data) << "engine";
    }
  }
}

// Pieces compressed one by one by compressors with different pasts (a fresh
// one, one that just compressed something else at another level), last
// piece first, join into exactly the stream DeflateSplit writes; every piece
// but the last ends with an empty stored block on a byte boundary; reads of
// any length give the same pieces.
TEST(DeflateSplit, PiecesJoinTheSameWhoeverCompressesThem) {
  const TBytes data = MixedData(3 * kSplitPiece + 12345, 7);
  for (int level : {1, 6, 9}) {
    SCOPED_TRACE("level " + std::to_string(level));
    const TBytes reference = Split(level, data);

    TShortReads reads(data, 11);
    TSplitPieces pieces(reads);
    std::vector<std::shared_ptr<TSplitPiece>> all;
    while (auto piece = pieces.Next()) all.push_back(piece);
    ASSERT_EQ(all.size(), 4u);
    for (size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(all[i]->index, i);
      EXPECT_EQ(all[i]->last, i == 3);
      EXPECT_EQ(all[i]->dictionary, i == 0 ? 0 : kSplitDictionary);
    }
    std::vector<TBytes> outputs(all.size());
    TDeflateCompressor busy;
    for (size_t i = all.size(); i-- > 0;) {
      TDeflateCompressor fresh;
      TBytes other = RandomBytes(70000, static_cast<unsigned>(i));
      TMemoryDeflateSource otherSource(other.data(), other.size());
      TVecSink ignored;
      busy.Deflate(level == 9 ? 1 : 9, otherSource, ignored);
      TVecSink sink;
      DeflateSplitPiece(i % 2 ? busy : fresh, level, *all[i], sink);
      outputs[i] = sink.bytes;
    }
    TBytes joined;
    for (size_t i = 0; i < outputs.size(); ++i) {
      const TBytes& o = outputs[i];
      ASSERT_GE(o.size(), 5u);
      const bool syncEnd = o[o.size() - 4] == 0 && o[o.size() - 3] == 0 && o[o.size() - 2] == 0xFF &&
                           o[o.size() - 1] == 0xFF;
      EXPECT_EQ(syncEnd, i + 1 < outputs.size()) << "piece " << i;
      joined.insert(joined.end(), o.begin(), o.end());
    }
    EXPECT_TRUE(joined == reference);
  }
}

// Matches reach back across the cut: a 20 KB block repeated over four
// pieces costs in pieces hardly more than in one stream (without the
// dictionary each piece would start with 20 KB of literals), and text costs
// at most 1 % more.
TEST(DeflateSplit, DictionaryCarriesAcrossTheCut) {
  const struct {
    const char* name;
    TBytes data;
    double most;  // split size / whole size
    size_t slack; // bytes allowed beyond that
  } cases[] = {
      {"repeated block", Repeated(20000, 4 * kSplitPiece, 8), 1.0, 4 * 64},
      {"text", WordText(4 * kSplitPiece, 9), 1.01, 0},
  };
  for (const auto& c : cases) {
    for (int level : {1, 6, 9}) {
      SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level));
      const size_t whole = Whole(level, c.data).size();
      const size_t split = Split(level, c.data).size();
      EXPECT_LE(static_cast<double>(split), static_cast<double>(whole) * c.most + static_cast<double>(c.slack))
          << "whole " << whole << ", split " << split;
    }
  }
}

}  // namespace
}  // namespace vantrel::zip::testing
