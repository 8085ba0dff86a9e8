// Tests of the deflate compressor: every level's output decodes (by zlib and by
// the engine's own inflater) to the input on the corpus and on edge-case files;
// the entry changes (method, text/binary, level flag bits); the whole-file
// stored fallback; the 32506-byte distance limit; and the match and block
// rules on inputs where the expected items can be worked out by hand.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/zip/decoders_support.h"
#include "tests/zip/deflate_test_support.h"
#include "zip/codec/crc32.h"
#include "zip/codec/decode_io.h"
#include "zip/codec/deflate_compress.h"

namespace vantrel::zip::testing {
namespace {

TBytes Bytes(const std::string& s) { return TBytes(s.begin(), s.end()); }

// Raw inflate by zlib; fails the test on any error.
TBytes ZlibInflateRaw(const TBytes& in, size_t expected) {
  TBytes out(expected + 1);
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  EXPECT_EQ(rc, Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the deflate stream";
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// The engine's own inflater.
TBytes EngineInflate(const TBytes& in) {
  TMemInput input(in);
  TMemOutput output;
  auto buffers = NewBuffers();
  EXPECT_EQ(Inflate(input, output, *buffers), TDecodeResult::Ok);
  return output.data();
}

// Checks one compression result against its input in every way that does not
// depend on the level's choices.
void CheckDecodes(const TBytes& data, const TCompressed& c, const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(c.result.CompressedSize, c.bytes.size());
  if (c.result.CompressionMethod == 0) {
    EXPECT_EQ(c.bytes, data) << "a stored file is its bytes unchanged";
    return;
  }
  ASSERT_EQ(c.result.CompressionMethod, 8);
  EXPECT_EQ(ZlibInflateRaw(c.bytes, data.size()), data);
  EXPECT_EQ(EngineInflate(c.bytes), data);
  TParsedStream s = ParseDeflate(c.bytes);
  EXPECT_EQ(s.usedBytes, c.bytes.size());
  unsigned maxDist = 0;
  for (const auto& b : s.blocks)
    for (const auto& it : b.items) maxDist = std::max<unsigned>(maxDist, it.dist);
  EXPECT_LE(maxDist, 32506u);
}

TEST(DeflateCompress, CorpusDecodesAtEveryLevel) {
  VANTREL_NEED_FIXTURES("corpus/canterbury");
  auto files = CorpusFiles();
  ASSERT_EQ(files.size(), 11u) << "Canterbury corpus missing under " << CorpusDir();
  TDeflateCompressor c;  // one object for every file, as in an archive run
  for (const auto& f : files) {
    TBytes data = ReadBytes(f);
    for (int level = 1; level <= 9; level++) {
      TCompressed out = Compress(c, level, data);
      CheckDecodes(data, out, f + " level " + std::to_string(level));
      EXPECT_EQ(out.result.CompressionMethod, 8) << f;
      EXPECT_LT(out.bytes.size(), data.size() * 3 / 4) << f << " level " << level;
    }
  }
}

TEST(DeflateCompress, EdgeCaseFilesDecodeAtEveryLevel) {
  const std::vector<std::pair<std::string, TBytes>> inputs = {
      {"empty", {}},
      {"one byte", {'x'}},
      {"100 random", RandomBytes(100, 1)},
      {"100000 zeros", TBytes(100000, 0)},
      {"70000 random", RandomBytes(70000, 2)},
      {"70000 text", WordText(70000, 3)},
      {"65400 text", WordText(65400, 4)},  // ends between the slide point and the window end
      {"mixed", MixedData()},
  };
  TDeflateCompressor c;
  for (const auto& [name, data] : inputs) {
    for (int level = 1; level <= 9; level++) {
      CheckDecodes(data, Compress(c, level, data), name + " level " + std::to_string(level));
    }
  }
}

TEST(DeflateCompress, EmptyFileIsStoredAsText) {
  for (int level = 1; level <= 9; level++) {
    TCompressed out = Compress(level, {});
    EXPECT_EQ(out.result.CompressionMethod, 0);
    EXPECT_EQ(out.result.CompressedSize, 0u);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_EQ(out.result.InternalAttributes, 1);
    EXPECT_EQ(out.result.FlagBits, DeflateLevelFlags(level));
  }
}

TEST(DeflateCompress, LevelFlagBits) {
  const uint16_t expected[10] = {0, 4, 4, 0, 0, 0, 0, 0, 2, 2};
  TBytes text = WordText(5000, 9);
  for (int level = 1; level <= 9; level++) {
    EXPECT_EQ(DeflateLevelFlags(level), expected[level]);
    EXPECT_EQ(Compress(level, text).result.FlagBits, expected[level]) << level;
    // Also when the file ends up stored.
    EXPECT_EQ(Compress(level, RandomBytes(100, 5)).result.FlagBits, expected[level]) << level;
  }
}

TEST(DeflateCompress, InvalidLevelIsRejected) {
  TDeflateCompressor c;
  TBytes data = Bytes("abc");
  TMemoryDeflateSource src(data.data(), data.size());
  TVecSink sink;
  EXPECT_THROW(c.Deflate(0, src, sink), std::invalid_argument);
  EXPECT_THROW(c.Deflate(10, src, sink), std::invalid_argument);
  EXPECT_TRUE(sink.bytes.empty());
}

TEST(DeflateCompress, ShortIncompressibleFileIsStoredUnchanged) {
  for (size_t n : {size_t{1}, size_t{3}, size_t{100}, size_t{30000}}) {
    TBytes data = RandomBytes(n, static_cast<unsigned>(n));
    for (int level : {1, 3, 6, 9}) {
      TCompressed out = Compress(level, data);
      EXPECT_EQ(out.result.CompressionMethod, 0) << n << " bytes, level " << level;
      EXPECT_EQ(out.result.CompressedSize, n);
      EXPECT_EQ(out.bytes, data);
    }
  }
}

TEST(DeflateCompress, LongIncompressibleFileUsesStoredBlocks) {
  // Several blocks: the first is sent before the end is known, so the file
  // stays deflated, and every block is a stored block (5 bytes of framing).
  TBytes data = RandomBytes(70000, 7);
  for (int level : {1, 6, 9}) {
    TCompressed out = Compress(level, data);
    ASSERT_EQ(out.result.CompressionMethod, 8);
    TParsedStream s = ParseDeflate(out.bytes);
    ASSERT_GE(s.blocks.size(), 2u);
    for (const auto& b : s.blocks) EXPECT_EQ(b.type, 0) << "level " << level;
    EXPECT_EQ(out.bytes.size(), data.size() + 5 * s.blocks.size());
    EXPECT_EQ(s.data, data);
  }
}

TEST(DeflateCompress, ZerosCompressWellAtLevel9) {
  TCompressed out = Compress(9, TBytes(100000, 0));
  EXPECT_EQ(out.result.CompressionMethod, 8);
  EXPECT_EQ(out.result.FlagBits, 2);
  EXPECT_LT(out.bytes.size(), 1000u);
  EXPECT_EQ(ZlibInflateRaw(out.bytes, 100000), TBytes(100000, 0));
}

TEST(DeflateCompress, TextAndBinaryClassification) {
  // Literal counts decide: bytes 7-127 are text, 0-6 and 128-255 binary; the
  // file is text while binary <= text / 4. All bytes distinct, so every byte
  // is a literal.
  TBytes text;
  for (int i = 0; i < 40; i++) text.push_back(static_cast<uint8_t>('A' + i));
  TBytes atLimit = text;
  for (int i = 0; i < 10; i++) atLimit.push_back(static_cast<uint8_t>(0x80 + i));
  TBytes overLimit = atLimit;
  overLimit.push_back(0x05);
  EXPECT_EQ(Compress(6, text).result.InternalAttributes, 1);
  EXPECT_EQ(Compress(6, atLimit).result.InternalAttributes, 1);
  EXPECT_EQ(Compress(6, overLimit).result.InternalAttributes, 0);

  EXPECT_EQ(Compress(6, WordText(200000, 1)).result.InternalAttributes, 1);
  EXPECT_EQ(Compress(6, RandomBytes(200000, 1)).result.InternalAttributes, 0);
  EXPECT_EQ(Compress(6, CorpusOrStandIn("alice29.txt")).result.InternalAttributes, 1);
  EXPECT_EQ(Compress(6, CorpusOrStandIn("kennedy.xls")).result.InternalAttributes, 0);

  // Only the first block counts: text after a binary first block changes nothing.
  TBytes binThenText = RandomBytes(40000, 3);
  TBytes more = WordText(200000, 3);
  binThenText.insert(binThenText.end(), more.begin(), more.end());
  EXPECT_EQ(Compress(1, binThenText).result.InternalAttributes, 0);
}

// Random letters from a 64-letter alphabet (compressible, so blocks carry
// items, but with few long chance matches) with a copy of 20 bytes placed
// `dist` bytes after its source.
TBytes WithCopyAt(size_t dist, size_t at) {
  TBytes data = RandomBytes(at + 1000, 11);
  for (auto& b : data) b = static_cast<uint8_t>('0' + (b & 63));
  for (size_t i = 0; i < 20; i++) data[at + i] = data[at - dist + i];
  return data;
}

// The items of a parsed stream, in order, with their input positions.
std::vector<std::pair<size_t, TItem>> ItemsAt(const TParsedStream& s) {
  std::vector<std::pair<size_t, TItem>> items;
  size_t pos = 0;
  for (const auto& b : s.blocks) {
    if (b.type == 0) {
      pos += b.length;
      continue;
    }
    for (const auto& it : b.items) {
      items.push_back({pos, it});
      pos += it.dist ? it.length : 1;
    }
  }
  return items;
}

TEST(DeflateCompress, MatchesReachExactly32506BytesBack) {
  const size_t at = 50000;  // past the first window fill, before the slide
  for (int level : {1, 3, 6, 9}) {
    SCOPED_TRACE(level);
    // A copy 32506 back is found: one match covers the copied bytes.
    TCompressed near = Compress(level, WithCopyAt(32506, at));
    bool found = false;
    for (const auto& [pos, it] : ItemsAt(ParseDeflate(near.bytes)))
      if (pos <= at + 1 && pos + it.length >= at + 20 && it.dist == 32506) found = true;
    EXPECT_TRUE(found);
    // One byte further is out of reach: nothing long covers the copy.
    TBytes farData = WithCopyAt(32507, at);
    TCompressed far = Compress(level, farData);
    for (const auto& [pos, it] : ItemsAt(ParseDeflate(far.bytes))) {
      EXPECT_LE(it.dist, 32506u);
      if (it.dist != 0 && pos <= at + 10 && pos + it.length > at + 10) {
        EXPECT_LT(it.length, 8);
      }
    }
    CheckDecodes(farData, far, "far copy");
  }
}

TEST(DeflateCompress, MatchesAcrossTheWindowSlideStayInReach) {
  // A long repetitive file slides the window many times; the same copy
  // pattern sits across several slide points.
  TBytes data = RandomBytes(400000, 21);
  for (size_t at = 40000; at + 300 < data.size(); at += 9973)
    for (size_t i = 0; i < 300; i++) data[at + i] = data[at - 32506 + i];
  for (int level = 1; level <= 9; level++) {
    TCompressed out = Compress(level, data);
    CheckDecodes(data, out, "level " + std::to_string(level));
    size_t farMatches = 0;
    for (const auto& [pos, it] : ItemsAt(ParseDeflate(out.bytes))) farMatches += it.dist == 32506;
    EXPECT_GT(farMatches, 30u) << "level " << level;
  }
}

std::vector<TItem> Literals(const std::string& s) {
  std::vector<TItem> items;
  for (unsigned char ch : s) items.push_back({ch, 0});
  return items;
}

std::vector<TItem> ParsedItems(const TBytes& stream) {
  std::vector<TItem> items;
  for (const auto& [pos, it] : ItemsAt(ParseDeflate(stream))) items.push_back(it);
  return items;
}

TEST(DeflateCompress, TenEqualBytesGiveTwoLiteralsAndOneMatch) {
  // Position 0 is never a match candidate, so the second byte is a literal
  // too; from position 2 the rest is one match at distance 1. Greedy and lazy
  // agree. One static block: 3 + 8 + 8 + 7 + 5 + 7 bits, 5 bytes.
  for (int level : {1, 4, 9}) {
    TCompressed out = Compress(level, Bytes("aaaaaaaaaa"));
    ASSERT_EQ(out.result.CompressionMethod, 8);
    TParsedStream s = ParseDeflate(out.bytes);
    ASSERT_EQ(s.blocks.size(), 1u);
    EXPECT_EQ(s.blocks[0].type, 1);
    EXPECT_TRUE(s.blocks[0].last);
    EXPECT_EQ(out.bytes.size(), 5u);
    std::vector<TItem> expected = Literals("aa");
    expected.push_back({8, 1});
    EXPECT_EQ(s.blocks[0].items, expected) << "level " << level;
  }
}

TEST(DeflateCompress, LazySelectionDefersToALongerMatch) {
  // At "abcde" the nearest string "abc" gives 3 bytes; one position later
  // "bcde" gives 4. Greedy takes the 3, lazy emits 'a' and takes the 4.
  // A zero run after it makes the file compressible (else it is stored).
  TBytes data = Bytes("#abcx#bcdey#abcde!");
  data.insert(data.end(), 300, 0);
  std::vector<TItem> greedy = Literals("#abcx#bcdey#");
  greedy.push_back({3, 11});
  for (const auto& it : Literals("de!")) greedy.push_back(it);
  std::vector<TItem> lazy = Literals("#abcx#bcdey#a");
  lazy.push_back({4, 7});
  lazy.push_back({'!', 0});

  for (int level = 1; level <= 9; level++) {
    TCompressed out = Compress(level, data);
    ASSERT_EQ(out.result.CompressionMethod, 8) << level;
    const auto& expected = level <= 3 ? greedy : lazy;
    auto items = ParsedItems(out.bytes);
    ASSERT_GT(items.size(), expected.size());
    items.resize(expected.size());
    EXPECT_EQ(items, expected) << "level " << level;
  }
}

TEST(DeflateCompress, LazySelectionDropsFarThreeByteMatches) {
  // "xyz" repeated about 5000 bytes later: greedy takes the 3-byte match,
  // lazy drops it as more than 4096 back.
  TBytes data = Bytes("#xyzQ");
  TBytes filler = WordText(5000, 8);
  data.insert(data.end(), filler.begin(), filler.end());
  const size_t at = data.size();
  for (char ch : std::string("xyz!")) data.push_back(static_cast<uint8_t>(ch));
  for (int level : {1, 2, 3, 4, 6, 9}) {
    auto items = ItemsAt(ParseDeflate(Compress(level, data).bytes));
    ASSERT_GE(items.size(), 2u);
    auto [pos, it] = items[items.size() - (level <= 3 ? 2 : 4)];
    EXPECT_EQ(pos, at) << "level " << level;
    if (level <= 3) {
      EXPECT_EQ(it, (TItem{3, static_cast<uint16_t>(at - 1)})) << "level " << level;
    } else {
      EXPECT_EQ(it, (TItem{'x', 0})) << "level " << level;
    }
  }
}

TEST(DeflateCompress, GreedySkipsHashingInsideLongMatches) {
  // "#" + 300 bytes of "abab...". From position 3 a 258-byte match at
  // distance 2. Greedy levels enter no inner position of a match longer than
  // their lazy limit into the chains, so the remaining 40 bytes match the
  // last hashed "aba" at position 3, 258 back; lazy levels hash every
  // position and find distance 2 again.
  TBytes data = Bytes("#");
  for (int i = 0; i < 300; i++) data.push_back(static_cast<uint8_t>("ab"[i % 2]));
  for (int level : {1, 2, 3, 4, 9}) {
    auto items = ParsedItems(Compress(level, data).bytes);
    ASSERT_EQ(items.size(), 5u) << "level " << level;
    EXPECT_EQ(items[0], (TItem{'#', 0}));
    EXPECT_EQ(items[1], (TItem{'a', 0}));
    EXPECT_EQ(items[2], (TItem{'b', 0}));
    EXPECT_EQ(items[3], (TItem{258, 2}));
    EXPECT_EQ(items[4], (TItem{40, static_cast<uint16_t>(level <= 3 ? 258 : 2)})) << "level " << level;
  }
}

TEST(DeflateCompress, OutputDoesNotDependOnReadSizesOrEarlierFiles) {
  TBytes a = MixedData();
  a.resize(600000);
  TBytes b = RandomBytes(90000, 4);
  for (int level : {1, 3, 5, 9}) {
    TDeflateCompressor fresh;
    TCompressed reference = Compress(fresh, level, a);

    // The same object after other files, at other levels.
    TDeflateCompressor reused;
    Compress(reused, 9, b);
    Compress(reused, 1, WordText(70000, 5));
    EXPECT_EQ(Compress(reused, level, a).bytes, reference.bytes) << "level " << level;

    // Reads cut short at random lengths.
    TChunkedSource chunked(a, 77);
    TVecSink sink;
    TDeflateResult r = reused.Deflate(level, chunked, sink);
    EXPECT_EQ(sink.bytes, reference.bytes) << "level " << level;
    EXPECT_EQ(r.CompressedSize, reference.result.CompressedSize);
    EXPECT_FALSE(chunked.badRequest);
    EXPECT_LE(chunked.maxRequest, 65534u);
    EXPECT_EQ(chunked.rewinds, 0);
    EXPECT_FALSE(sink.badWrite);
  }
}

TEST(DeflateCompress, EveryInputByteIsReadOnceInOrder) {
  // The writer's read step runs the CRC and the progress over what it hands
  // out, so the compressor must read each byte exactly once, in order.
  struct TCrcSource : TDeflateSource {
    explicit TCrcSource(const TBytes& d) : data(d) {}
    size_t Read(uint8_t* buf, size_t n) override {
      size_t take = std::min(n, data.size() - pos);
      std::memcpy(buf, data.data() + pos, take);
      crc = Crc32Update(crc, buf, take);
      pos += take;
      total += take;
      return take;
    }
    const TBytes& data;
    size_t pos = 0;
    uint64_t total = 0;
    uint32_t crc = 0xFFFFFFFF;
  };
  for (const TBytes& data : {TBytes{}, RandomBytes(100, 3), WordText(70000, 4), MixedData()}) {
    for (int level : {1, 6, 9}) {
      TCrcSource src(data);
      TVecSink sink;
      TDeflateCompressor c;
      c.Deflate(level, src, sink);
      EXPECT_EQ(src.total, data.size());
      EXPECT_EQ(~src.crc, Crc32(data.data(), data.size()));
    }
  }
}

TEST(DeflateCompress, WritesGoOutInPiecesOfAtMost1024BytesBesideStoredData) {
  TBytes data = WordText(300000, 6);
  TDeflateCompressor c;
  TMemoryDeflateSource src(data.data(), data.size());
  struct TCountingSink : TDeflateSink {
    void Write(const uint8_t* d, size_t n) override {
      largest = std::max(largest, n);
      total += n;
      (void)d;
    }
    size_t largest = 0, total = 0;
  } sink;
  TDeflateResult r = c.Deflate(6, src, sink);
  EXPECT_EQ(sink.total, r.CompressedSize);
  EXPECT_LE(sink.largest, 1024u);
}

TEST(DeflateCompress, SourceErrorsPassThrough) {
  struct TFailingSource : TDeflateSource {
    size_t Read(uint8_t* buf, size_t n) override {
      if (++calls > 2) throw std::runtime_error("read error");
      std::memset(buf, 'q', n);
      return n;
    }
    int calls = 0;
  } src;
  TDeflateCompressor c;
  TVecSink sink;
  EXPECT_THROW(c.Deflate(6, src, sink), std::runtime_error);
  // The object stays usable for the next file.
  TBytes data = WordText(100000, 2);
  TCompressed out = Compress(c, 6, data);
  CheckDecodes(data, out, "after a failed file");
  EXPECT_EQ(out.bytes, Compress(6, data).bytes);
}

}  // namespace
}  // namespace vantrel::zip::testing
