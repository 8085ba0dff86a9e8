// The deflate compressor: every level's output decodes (by zlib and by the
// engine's own inflater) to the input; the bytes of every level on fixed
// inputs are pinned, so that speed work cannot change one; the entry fields
// (method, text/binary, level flag bits) and the whole-file stored fallback;
// reads, writes and errors at the source.
#include <gtest/gtest.h>

#include <string>

#include "tests/zip/decoders_support.h"
#include "zip/codec/crc32.h"
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

TCompressed Compress(int level, const TBytes& data) {
  TDeflateCompressor c;
  return Compress(c, level, data);
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

TEST(DeflateCompress, EntryFieldsAndTheStoredFallback) {
  const uint16_t flags[10] = {0, 4, 4, 0, 0, 0, 0, 0, 2, 2};
  auto fields = [](const TCompressed& c) {
    return std::vector<int>{c.result.CompressionMethod, c.result.FlagBits};
  };
  for (int level = 1; level <= 9; level++) {
    SCOPED_TRACE(level);
    const int f = flags[level];
    EXPECT_EQ(DeflateLevelFlags(level), f);
    // Empty: stored, text, with the level's flags.
    EXPECT_EQ(fields(Compress(level, {})), std::vector<int>({0, f}));
    EXPECT_EQ(Compress(level, {}).result.InternalAttributes, 1);
    EXPECT_EQ(fields(Compress(level, WordText(5000, 9))), std::vector<int>({8, f}));
    // A short incompressible file is stored unchanged, flags and all.
    for (size_t n : {size_t{1}, size_t{100}, size_t{30000}}) {
      const TBytes data = RandomBytes(n, static_cast<unsigned>(n));
      const TCompressed out = Compress(level, data);
      EXPECT_EQ(fields(out), std::vector<int>({0, f})) << n;
      EXPECT_EQ(out.bytes, data);
    }
    // A long one: its first block is sent before the end is known, so it
    // stays deflated in stored blocks of 5 bytes of framing each.
    const TBytes data = RandomBytes(70000, 7);
    const TCompressed out = Compress(level, data);
    EXPECT_EQ(out.result.CompressionMethod, 8);
    EXPECT_GT(out.bytes.size(), data.size() + 5);
    EXPECT_EQ((out.bytes.size() - data.size()) % 5, 0u);
  }
  EXPECT_LT(Compress(9, TBytes(100000, 0)).bytes.size(), 1000u);
  // Levels outside 1-9 are refused before anything is written.
  TDeflateCompressor c;
  const TBytes abc = {'a', 'b', 'c'};
  TMemoryDeflateSource src(abc.data(), abc.size());
  TVecSink sink;
  EXPECT_THROW(c.Deflate(0, src, sink), std::invalid_argument);
  EXPECT_THROW(c.Deflate(10, src, sink), std::invalid_argument);
  EXPECT_TRUE(sink.bytes.empty());
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
  // Only the first block counts: text after a binary first block changes nothing.
  TBytes binThenText = RandomBytes(40000, 3), more = WordText(200000, 3);
  binThenText.insert(binThenText.end(), more.begin(), more.end());
  const struct {
    TBytes data;
    int level, text;
  } cases[] = {{text, 6, 1}, {atLimit, 6, 1}, {overLimit, 6, 0}, {WordText(200000, 1), 6, 1},
               {RandomBytes(200000, 1), 6, 0}, {binThenText, 1, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(Compress(c.level, c.data).result.InternalAttributes, c.text) << c.data.size();
}

// The output depends neither on earlier files nor on how the source's reads
// are cut, and every input byte is read once, in order, never rewound (the
// writer's read step runs the CRC and the progress over what it hands out).
TEST(DeflateCompress, OutputDoesNotDependOnReadSizesOrEarlierFiles) {
  const TBytes a = MixedData(600000, 5);
  struct TChunkedSource : TDeflateSource {
    explicit TChunkedSource(const TBytes& d) : data(d) {}
    size_t Read(uint8_t* buf, size_t n) override {
      if (n == 0 || n > 65534) badRequest = true;
      size_t take = std::min<size_t>(n, data.size() - pos);
      if (take > 1) take = 1 + rng() % take;
      std::copy_n(data.begin() + static_cast<long>(pos), take, buf);
      crc = Crc32Update(crc, buf, take);
      pos += take;
      return take;
    }
    bool Rewind() override {
      rewound = true;
      return false;
    }
    const TBytes& data;
    size_t pos = 0;
    std::mt19937 rng{77};
    uint32_t crc = 0xFFFFFFFF;
    bool badRequest = false, rewound = false;
  };
  for (int level : {1, 3, 5, 9}) {
    TDeflateCompressor fresh, reused;
    const TCompressed reference = Compress(fresh, level, a);
    Compress(reused, 9, RandomBytes(90000, 4));
    Compress(reused, 1, WordText(70000, 5));
    EXPECT_EQ(Compress(reused, level, a).bytes, reference.bytes) << "level " << level;
    TChunkedSource chunked(a);
    TVecSink sink;
    const TDeflateResult r = reused.Deflate(level, chunked, sink);
    EXPECT_EQ(sink.bytes, reference.bytes) << "level " << level;
    EXPECT_EQ(r.CompressedSize, reference.result.CompressedSize);
    EXPECT_EQ(chunked.pos, a.size());
    EXPECT_EQ(~chunked.crc, Crc32(a.data(), a.size()));
    EXPECT_FALSE(chunked.badRequest || chunked.rewound || sink.badWrite);
  }
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
  const TBytes data = WordText(100000, 2);
  const TCompressed out = Compress(c, 6, data);
  CheckDecodes(data, out, "after a failed file");
  EXPECT_EQ(out.bytes, Compress(6, data).bytes);
}

}  // namespace
}  // namespace vantrel::zip::testing
