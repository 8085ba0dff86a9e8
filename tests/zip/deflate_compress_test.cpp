// The deflate compressor: every level's output decodes (by zlib and by the
// engine's own inflater) to the input; the bytes of every level on fixed
// inputs are pinned, so that speed work cannot change one; the entry fields
// (method, text/binary, level flag bits) and the whole-file stored fallback;
// reads, writes and errors at the source.
#include <gtest/gtest.h>

#include <climits>
#include <numeric>
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

struct TCompressed {
  TDeflateResult result;
  TBytes bytes;
};

TCompressed Compress(TDeflateCompressor& c, int level, const TBytes& data) {
  TMemoryDeflateSource src(data.data(), data.size());
  TVecSink sink;
  const TDeflateResult r = c.Deflate(level, src, sink);
  EXPECT_FALSE(sink.badWrite);
  return {r, std::move(sink.bytes)};
}

// Checks one compression result against its input in every way that does not
// depend on the level's choices: a stored file is its bytes, a deflated one
// decodes by zlib (with nothing after its end) and by the engine.
void CheckDecodes(const TBytes& data, const TCompressed& c, const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(c.result.CompressedSize, c.bytes.size());
  if (c.result.CompressionMethod == 0) {
    EXPECT_EQ(c.bytes, data) << "a stored file is its bytes unchanged";
    return;
  }
  ASSERT_EQ(c.result.CompressionMethod, 8);
  TBytes out;
  EXPECT_EQ(ZlibInflate(c.bytes, &out), 0) << "zlib: incomplete, or bytes after the end of the stream";
  EXPECT_TRUE(out == data) << "zlib";
  TMemInput input(c.bytes);
  TMemOutput output;
  EXPECT_EQ(Inflate(input, output, *NewBuffers()), TDecodeResult::Ok);
  EXPECT_TRUE(output.data() == data) << "engine";
}

uint64_t Fnv1a(const TBytes& b) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t x : b) h = (h ^ x) * 0x100000001b3ull;
  return h;
}

// C-like lines (identifiers, numbers, repeated keywords) alternating with
// tables of little-endian numbers that change slowly: headers and binaries.
TBytes HeadersAndTables(size_t n, unsigned seed) {
  static const char* words[] = {"static ", "const ", "uint32_t ", "return ", "struct ", "void ", "if (", ") {\n",
                                "}\n", "#define ", "size_t ", "  ", "->", "nullptr", " = ", ";\n"};
  std::mt19937 rng(seed);
  TBytes b;
  uint32_t value = 1000;
  while (b.size() < n) {
    if (rng() % 8 != 0) {
      for (int w = 0; w < 12; ++w) {
        const char* s = words[rng() % 16];
        b.insert(b.end(), s, s + std::strlen(s));
        if (rng() % 3 == 0) {
          const std::string id = "name" + std::to_string(rng() % 500);
          b.insert(b.end(), id.begin(), id.end());
        }
      }
    } else {
      for (int i = 0; i < 200; ++i) {
        value += rng() % 64;
        for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(value >> (8 * k)));
      }
    }
  }
  b.resize(n);
  return b;
}

// Runs of one byte and short random stretches: long matches at distance 1
// and at the run lengths.
TBytes RunsAndNoise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  TBytes b;
  while (b.size() < n) {
    b.insert(b.end(), 1 + rng() % 700, static_cast<uint8_t>(rng() % 4));
    for (unsigned i = rng() % 40; i > 0; --i) b.push_back(static_cast<uint8_t>(rng()));
  }
  b.resize(n);
  return b;
}

// Every level of every input decodes (one compressor for all, as in an archive
// run). For the last four inputs, the output's size at every level and an
// FNV-1a hash of the nine outputs one after another were recorded before the
// matcher and the bit writer were tuned for speed: any change that alters one
// byte of any level fails.
TEST(DeflateCompress, EveryLevelDecodesAndKeepsItsBytes) {
  const struct {
    const char* name;
    TBytes data;
    uint64_t sizes[9];  // levels 1-9; none: not pinned
    uint64_t hash;      // of the outputs of levels 1-9, concatenated
  } inputs[] = {
      {"empty", {}, {}, 0},
      {"one byte", {'x'}, {}, 0},
      {"100 random", RandomBytes(100, 1), {}, 0},
      {"100000 zeros", TBytes(100000, 0), {}, 0},
      {"65400 text", WordText(65400, 4), {}, 0},  // ends between the slide point and the window end
      {"mixed", MixedData(1000000, 3), {}, 0},
      {"words", WordText(400000, 11), {89800, 84380, 74309, 73447, 68297, 63587, 60865, 58535, 58535},
       0xcde1c5d5a75983ceull},
      {"random", RandomBytes(100000, 12), {100020, 100020, 100020, 100020, 100020, 100020, 100020, 100020, 100020},
       0xc800d01a882fff61ull},
      {"headers", HeadersAndTables(600000, 13), {239697, 234396, 228619, 228270, 222973, 218464, 217741, 217098, 217098},
       0xc5cb053587bbae75ull},
      {"runs", RunsAndNoise(300000, 14), {20963, 20907, 21004, 19872, 19939, 19877, 19837, 19239, 19231},
       0x2365f6c078f5ddcbull},
  };
  TDeflateCompressor c;
  for (const auto& in : inputs) {
    TBytes all;
    std::vector<uint64_t> sizes;
    for (int level = 1; level <= 9; ++level) {
      const TCompressed out = Compress(c, level, in.data);
      CheckDecodes(in.data, out, std::string(in.name) + " level " + std::to_string(level));
      sizes.push_back(out.bytes.size());
      all.insert(all.end(), out.bytes.begin(), out.bytes.end());
    }
    if (in.hash == 0) continue;
    EXPECT_EQ(sizes, std::vector<uint64_t>(in.sizes, in.sizes + 9)) << in.name;
    EXPECT_EQ(Fnv1a(all), in.hash) << in.name << ": some level's bytes changed";
  }
}

// The entry fields at every level: the method (a short file that does not
// shrink is stored as its bytes), the text flag (from the first block's
// literals: bytes 7-127 are text, 0-6 and 128-255 binary, and the file is
// text while binary <= text / 4) and the level's flag bits.
TEST(DeflateCompress, EntryFieldsAndTheStoredFallback) {
  TBytes text(40);  // all bytes distinct: every byte is a literal
  std::iota(text.begin(), text.end(), uint8_t{'A'});
  TBytes atLimit = text;
  for (uint8_t b = 0x80; b < 0x8A; ++b) atLimit.push_back(b);
  TBytes overLimit = atLimit, binThenText = RandomBytes(40000, 3), more = WordText(200000, 3);
  overLimit.push_back(0x05);
  binThenText.insert(binThenText.end(), more.begin(), more.end());
  const int flags[10] = {0, 4, 4, 0, 0, 0, 0, 0, 2, 2};
  const struct {
    const char* what;
    TBytes data;
    int method, text;  // text -1: either
  } cases[] = {
      {"empty", {}, 0, 1},
      {"text", text, 0, 1},
      {"binary at the limit", atLimit, 0, 1},
      {"binary over the limit", overLimit, 0, 0},
      {"words", WordText(200000, 1), 8, 1},
      {"zeros", TBytes(100000, 0), 8, 0},
      {"binary first block, then text", binThenText, 8, 0},
      {"random 1", RandomBytes(1, 1), 0, -1},
      {"random 30000", RandomBytes(30000, 2), 0, 0},
      // Its first block is sent before the end is known: it stays deflated.
      {"random 70000", RandomBytes(70000, 7), 8, 0},
  };
  TDeflateCompressor compressor;
  for (int level = 1; level <= 9; level++) {
    EXPECT_EQ(DeflateLevelFlags(level), flags[level]);
    for (const auto& c : cases) {
      const TCompressed out = Compress(compressor, level, c.data);
      const std::string what = std::string(c.what) + " level " + std::to_string(level);
      CheckDecodes(c.data, out, what);
      EXPECT_EQ(std::vector<int>({out.result.CompressionMethod, out.result.FlagBits}),
                std::vector<int>({c.method, flags[level]}))
          << what;
      EXPECT_TRUE(c.text < 0 || out.result.InternalAttributes == c.text) << what;
    }
  }
  // Random data in stored blocks of 5 bytes of framing each; zeros shrink.
  EXPECT_EQ((Compress(compressor, 6, RandomBytes(70000, 7)).bytes.size() - 70000) % 5, 0u);
  EXPECT_LT(Compress(compressor, 9, TBytes(100000, 0)).bytes.size(), 1000u);
  // Levels outside 1-9 are refused before anything is written.
  const TBytes abc = {'a', 'b', 'c'};
  TMemoryDeflateSource src(abc.data(), abc.size());
  TVecSink sink;
  EXPECT_THROW(compressor.Deflate(0, src, sink), std::invalid_argument);
  EXPECT_THROW(compressor.Deflate(10, src, sink), std::invalid_argument);
  EXPECT_TRUE(sink.bytes.empty());
}

// The output depends neither on earlier files (even a failed one) nor on how
// the source's reads are cut, and every input byte is read once, in order,
// never rewound (the writer's read step runs the CRC and the progress over
// what it hands out). A source's read error passes through.
TEST(DeflateCompress, OutputDoesNotDependOnReadSizesOrEarlierFiles) {
  const TBytes a = MixedData(600000, 5);
  // Reads of random length; records what it handed out; can fail.
  struct TChunkedSource : TDeflateSource {
    TChunkedSource(const TBytes& d, int failAfter = INT_MAX) : data(d), failAfter(failAfter) {}
    size_t Read(uint8_t* buf, size_t n) override {
      if (--failAfter < 0) throw std::runtime_error("read error");
      if (n == 0 || n > 65534) badRequest = true;
      size_t take = std::min<size_t>(n, data.size() - handed.size());
      if (take > 1) take = 1 + rng() % take;
      std::copy_n(data.begin() + static_cast<long>(handed.size()), take, buf);
      handed.insert(handed.end(), buf, buf + take);
      return take;
    }
    bool Rewind() override {
      rewound = true;
      return false;
    }
    const TBytes& data;
    int failAfter;
    TBytes handed;
    std::mt19937 rng{77};
    bool badRequest = false, rewound = false;
  };
  for (int level : {1, 3, 5, 9}) {
    TDeflateCompressor fresh, reused;
    const TCompressed reference = Compress(fresh, level, a);
    CheckDecodes(a, reference, "level " + std::to_string(level));
    Compress(reused, 9, RandomBytes(90000, 4));
    TChunkedSource failing(a, 2);
    TVecSink ignored;
    EXPECT_THROW(reused.Deflate(level, failing, ignored), std::runtime_error);
    Compress(reused, 1, WordText(70000, 5));
    EXPECT_EQ(Compress(reused, level, a).bytes, reference.bytes) << "level " << level;
    TChunkedSource chunked(a);
    TVecSink sink;
    const TDeflateResult r = reused.Deflate(level, chunked, sink);
    EXPECT_EQ(sink.bytes, reference.bytes) << "level " << level;
    EXPECT_EQ(r.CompressedSize, reference.result.CompressedSize);
    EXPECT_TRUE(chunked.handed == a);
    EXPECT_FALSE(chunked.badRequest || chunked.rewound || sink.badWrite);
  }
}

}  // namespace
}  // namespace vantrel::zip::testing
