// The deflate compressor: every level's output decodes (by zlib and by the
// engine's own inflater) to the input; the bytes of every level on fixed
// inputs and on the corpus are pinned, so that speed work cannot change one;
// the entry fields (method, text/binary, level flag bits) and the whole-file
// stored fallback; reads, writes and errors at the source.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/zip/decoders_support.h"
#include "tests/zip/deflate_test_support.h"
#include "zip/codec/crc32.h"
#include "zip/codec/decode_io.h"
#include "zip/codec/deflate_compress.h"

namespace vantrel::zip::testing {
namespace {

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
  TBytes out(data.size() + 1);
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = const_cast<Bytef*>(c.bytes.data());
  z.avail_in = static_cast<uInt>(c.bytes.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the deflate stream";
  out.resize(z.total_out);
  inflateEnd(&z);
  EXPECT_TRUE(out == data) << "zlib";
  TMemInput input(c.bytes);
  TMemOutput output;
  auto buffers = NewBuffers();
  EXPECT_EQ(Inflate(input, output, *buffers), TDecodeResult::Ok);
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

// The output's size at every level and an FNV-1a hash of the nine outputs one
// after another, recorded before the matcher and the bit writer were tuned for
// speed. Any change that alters one byte of any level fails.
struct TGolden {
  const char* input;
  uint64_t sizes[9];  // levels 1-9
  uint64_t hash;      // of the outputs of levels 1-9, concatenated
};
constexpr TGolden kGolden[] = {
    {"words", {89800, 84380, 74309, 73447, 68297, 63587, 60865, 58535, 58535}, 0xcde1c5d5a75983ceull},
    {"random", {100020, 100020, 100020, 100020, 100020, 100020, 100020, 100020, 100020}, 0xc800d01a882fff61ull},
    {"headers", {239697, 234396, 228619, 228270, 222973, 218464, 217741, 217098, 217098}, 0xc5cb053587bbae75ull},
    {"runs", {20963, 20907, 21004, 19872, 19939, 19877, 19837, 19239, 19231}, 0x2365f6c078f5ddcbull},
    {"alice29.txt", {65114, 62249, 59461, 57681, 55586, 54405, 54248, 54161, 54161}, 0x8a62e65b1e323b37ull},
    {"asyoulik.txt", {56782, 54634, 52681, 51242, 49604, 48920, 48832, 48798, 48798}, 0x0fa5b8eb589c4bcaull},
    {"cp.html", {9028, 8811, 8599, 8238, 8021, 7973, 7954, 7955, 7955}, 0x1875e46d159dd05eull},
    {"fields.c", {3647, 3501, 3393, 3215, 3140, 3116, 3112, 3109, 3109}, 0xe0a7964f1c53c472ull},
    {"grammar.lsp", {1326, 1306, 1301, 1228, 1216, 1216, 1216, 1216, 1216}, 0x1226d269386c2807ull},
    {"kennedy.xls", {245007, 241534, 236635, 232044, 208935, 206749, 210775, 209460, 209703}, 0x6a3e559b2e3ebe9cull},
    {"lcet10.txt", {174103, 166095, 158739, 152710, 147136, 144856, 144556, 144402, 144400}, 0xe59137fbc3ab888eull},
    {"plrabn12.txt", {228747, 218953, 209317, 205829, 199065, 195177, 194579, 194246, 194246}, 0xf8cb2025e80e7074ull},
    {"ptt5", {65518, 63868, 62335, 58617, 57605, 56420, 55462, 53126, 52359}, 0x73edbbd10130c1cbull},
    {"sum", {14112, 13815, 13720, 13258, 12970, 12902, 12868, 12809, 12750}, 0x4a5e7fb91bb2c19aull},
    {"xargs.1", {1846, 1820, 1808, 1749, 1730, 1730, 1730, 1730, 1730}, 0x93c272ad06cb1a56ull},
};

// Every level of every input decodes; inputs with a recorded row give exactly
// the recorded bytes. One compressor for all, as in an archive run. Returns
// how many recorded rows were met.
int CheckLevels(const std::vector<std::pair<std::string, TBytes>>& inputs) {
  TDeflateCompressor c;
  int pinned = 0;
  for (const auto& [name, data] : inputs) {
    const TGolden* row = std::find_if(std::begin(kGolden), std::end(kGolden), [&](const TGolden& g) { return name == g.input; });
    TBytes all;
    for (int level = 1; level <= 9; ++level) {
      const TCompressed out = Compress(c, level, data);
      CheckDecodes(data, out, name + " level " + std::to_string(level));
      if (row == std::end(kGolden)) continue;
      EXPECT_EQ(out.bytes.size(), row->sizes[level - 1]) << name << " level " << level;
      all.insert(all.end(), out.bytes.begin(), out.bytes.end());
    }
    if (row == std::end(kGolden)) continue;
    EXPECT_EQ(Fnv1a(all), row->hash) << name << ": some level's bytes changed";
    ++pinned;
  }
  return pinned;
}

TEST(DeflateCompress, EveryLevelDecodesAndKeepsItsBytes) {
  EXPECT_EQ(CheckLevels({{"empty", {}},
               {"one byte", {'x'}},
               {"100 random", RandomBytes(100, 1)},
               {"100000 zeros", TBytes(100000, 0)},
               {"65400 text", WordText(65400, 4)},  // ends between the slide point and the window end
               {"mixed", MixedData()},
               {"words", WordText(400000, 11)},
               {"random", RandomBytes(100000, 12)},
               {"headers", HeadersAndTables(600000, 13)},
               {"runs", RunsAndNoise(300000, 14)}}),
            4);
}

TEST(DeflateCompress, CorpusDecodesAndKeepsItsBytes) {
  VANTREL_NEED_FIXTURES("corpus/canterbury");
  std::vector<std::pair<std::string, TBytes>> inputs;
  for (const auto& f : CorpusFiles()) inputs.push_back({std::filesystem::path(f).filename().string(), ReadBytes(f)});
  EXPECT_EQ(CheckLevels(inputs), 11);
}

TEST(DeflateCompress, EntryFieldsAndTheStoredFallback) {
  const uint16_t flags[10] = {0, 4, 4, 0, 0, 0, 0, 0, 2, 2};
  for (int level = 1; level <= 9; level++) {
    SCOPED_TRACE(level);
    EXPECT_EQ(DeflateLevelFlags(level), flags[level]);
    // Empty: stored, text, with the level's flags.
    TCompressed out = Compress(level, {});
    EXPECT_EQ(out.result.CompressionMethod, 0);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_EQ(out.result.InternalAttributes, 1);
    EXPECT_EQ(out.result.FlagBits, flags[level]);
    EXPECT_EQ(Compress(level, WordText(5000, 9)).result.FlagBits, flags[level]);
    // A short incompressible file is stored unchanged, flags and all.
    for (size_t n : {size_t{1}, size_t{100}, size_t{30000}}) {
      const TBytes data = RandomBytes(n, static_cast<unsigned>(n));
      out = Compress(level, data);
      EXPECT_EQ(out.result.CompressionMethod, 0) << n;
      EXPECT_EQ(out.bytes, data);
      EXPECT_EQ(out.result.FlagBits, flags[level]);
    }
    // A long one: its first block is sent before the end is known, so it
    // stays deflated in stored blocks of 5 bytes of framing each.
    const TBytes data = RandomBytes(70000, 7);
    out = Compress(level, data);
    EXPECT_EQ(out.result.CompressionMethod, 8);
    EXPECT_GT(out.bytes.size(), data.size() + 5);
    EXPECT_EQ((out.bytes.size() - data.size()) % 5, 0u);
  }
  TCompressed zeros = Compress(9, TBytes(100000, 0));
  EXPECT_EQ(zeros.result.CompressionMethod, 8);
  EXPECT_LT(zeros.bytes.size(), 1000u);
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
  } cases[] = {{text, 6, 1},
               {atLimit, 6, 1},
               {overLimit, 6, 0},
               {WordText(200000, 1), 6, 1},
               {RandomBytes(200000, 1), 6, 0},
               {CorpusOrStandIn("alice29.txt"), 6, 1},
               {CorpusOrStandIn("kennedy.xls"), 6, 0},
               {binThenText, 1, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(Compress(c.level, c.data).result.InternalAttributes, c.text) << c.data.size();
}

// The output depends neither on earlier files nor on how the source's reads
// are cut, and every input byte is read once, in order (the writer's read
// step runs the CRC and the progress over what it hands out).
TEST(DeflateCompress, OutputDoesNotDependOnReadSizesOrEarlierFiles) {
  TBytes a = MixedData();
  a.resize(600000);
  struct TCrcSource : TChunkedSource {
    using TChunkedSource::TChunkedSource;
    size_t Read(uint8_t* buf, size_t n) override {
      const size_t got = TChunkedSource::Read(buf, n);
      crc = Crc32Update(crc, buf, got);
      total += got;
      return got;
    }
    uint64_t total = 0;
    uint32_t crc = 0xFFFFFFFF;
  };
  for (int level : {1, 3, 5, 9}) {
    TDeflateCompressor fresh, reused;
    const TCompressed reference = Compress(fresh, level, a);
    Compress(reused, 9, RandomBytes(90000, 4));
    Compress(reused, 1, WordText(70000, 5));
    EXPECT_EQ(Compress(reused, level, a).bytes, reference.bytes) << "level " << level;
    TCrcSource chunked(a, 77);
    TVecSink sink;
    const TDeflateResult r = reused.Deflate(level, chunked, sink);
    EXPECT_EQ(sink.bytes, reference.bytes) << "level " << level;
    EXPECT_EQ(r.CompressedSize, reference.result.CompressedSize);
    EXPECT_EQ(chunked.total, a.size());
    EXPECT_EQ(~chunked.crc, Crc32(a.data(), a.size()));
    EXPECT_FALSE(chunked.badRequest);
    EXPECT_EQ(chunked.rewinds, 0);
    EXPECT_FALSE(sink.badWrite);
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
  TBytes data = WordText(100000, 2);
  TCompressed out = Compress(c, 6, data);
  CheckDecodes(data, out, "after a failed file");
  EXPECT_EQ(out.bytes, Compress(6, data).bytes);
}

}  // namespace
}  // namespace vantrel::zip::testing
