// PPMd (method 98). The oracle is 7-Zip: entries it writes at test time with
// model orders 2 to 16, memory sizes from 1 MB and both restoration methods
// (restart below level 7, cut-off from 7 up) decode byte for byte, with the
// data several times larger than the model's memory so that the model runs
// out of memory again and again. Headers the decoder does not handle are
// refused by name, damaged and cut streams fail without crashing, and an
// entry extracts through the reader and the command-line tool like any other.
// (Every order against every memory size up to 256 MB on large inputs is
// bench/zip_ppmd_sweep.sh: too slow for the suite.)
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/support/test_support.h"
#include "tests/zip/decoders_support.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {
namespace {

using namespace testing;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

uint32_t Le32At(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b.at(at + i));
  return v;
}
uint16_t Le16At(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8);
}

// The stored data of an archive's first entry, found through its central record.
TBytes FirstEntryData(const std::string& archive) {
  const std::string b = test::ReadFile(archive);
  const size_t end = b.rfind(std::string("PK\x05\x06", 4));
  const size_t central = Le32At(b, end + 16), local = Le32At(b, central + 42);
  const size_t data = local + 30 + Le16At(b, local + 26) + Le16At(b, local + 28);
  return TBytes(b.begin() + static_cast<long>(data),
                b.begin() + static_cast<long>(data + Le32At(b, central + 20)));
}

struct TParams {
  unsigned order, megabytes, restore;
};
TParams HeaderOf(const TBytes& stream) {
  const unsigned w = stream.at(0) | stream.at(1) << 8;
  return {(w & 15) + 1, ((w >> 4) & 0xFF) + 1, w >> 12};
}

struct TDecoded {
  TDecodeResult result;
  TBytes out;
  std::string problem;
};

TDecoded Decode(const TBytes& stream, uint64_t size, size_t block = kBlockSize, size_t limit = SIZE_MAX) {
  auto buf = NewBuffers();
  TMemInput in(stream, block);
  TMemOutput sink(limit);
  TDecoded d;
  d.result = UnPpmd(in, sink, *buf, size, d.problem);
  EXPECT_FALSE(sink.badBlock) << "a block was empty or longer than 32768 bytes";
  d.out = sink.data();
  return d;
}

// Text with long repeats (deep contexts), then mixed text, noise and runs.
TBytes TestData(size_t n) {
  const TBytes words = WordText(n / 2, 31), mixed = MixedData(n - n / 2, 32);
  return Concat({words, mixed});
}

class PpmdTest : public ::testing::Test {
 protected:
  // 7-Zip's archive of `data` as file "data" (made once per distinct call).
  std::string SevenZip(const TBytes& data, unsigned order, unsigned megabytes, int level,
                       const std::string& extra = "") {
    const std::string key = std::to_string(data.size()) + "-" + std::to_string(order) + "-" +
                            std::to_string(megabytes) + "-" + std::to_string(level) + extra;
    const std::string dir = tmp_ / key, archive = tmp_ / (key + ".zip");
    test::MakeDir(dir);
    test::WriteFile(dir + "/data", Str(data));
    EXPECT_EQ(test::RunCommand("cd " + Quote(dir) + " && 7zz a -tzip -mm=PPMd -mo=" + std::to_string(order) +
                               " -mmem=" + std::to_string(megabytes) + "m -mx=" + std::to_string(level) + extra +
                               " " + Quote(archive) + " data >/dev/null"),
              0);
    return archive;
  }
  test::TempDir tmp_;
};

// Orders 2 to 16 with 1 to 16 MB, restart and cut-off: 400 KB of data fill
// a 1 MB model of order 16 eight times over (and make 18 cut-offs).
TEST_F(PpmdTest, SevenZipStreamsAtOrdersMemorySizesAndBothRestorations) {
  const TBytes data = TestData(400000);
  const struct {
    unsigned order, megabytes;
    int level;
  } cases[] = {{2, 1, 5}, {3, 1, 9},  {4, 2, 5},  {5, 1, 9},  {6, 1, 5},  {7, 3, 9},   {8, 1, 9},
               {9, 1, 5}, {11, 1, 9}, {12, 2, 9}, {16, 1, 5}, {16, 1, 9}, {16, 16, 9}, {10, 16, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE("order " + std::to_string(c.order) + ", " + std::to_string(c.megabytes) + " MB, level " +
                 std::to_string(c.level));
    const TBytes stream = FirstEntryData(SevenZip(data, c.order, c.megabytes, c.level));
    const TParams p = HeaderOf(stream);
    // (7-Zip gives small inputs less memory than asked, never more.)
    EXPECT_EQ(p.order, c.order);
    EXPECT_LE(p.megabytes, c.megabytes);
    EXPECT_EQ(p.restore, c.level >= 7 ? 1u : 0u);
    const TDecoded d = Decode(stream, data.size());
    EXPECT_EQ(d.result, TDecodeResult::Ok);
    EXPECT_TRUE(d.out == data);
  }
}

// Input in blocks of one and of seven bytes decodes the same as in whole
// blocks: the range decoder's reads cross every block boundary.
TEST_F(PpmdTest, TinyInputBlocks) {
  const TBytes data = TestData(120000);
  const TBytes stream = FirstEntryData(SevenZip(data, 6, 1, 9));
  for (size_t block : {size_t{1}, size_t{7}}) {
    const TDecoded d = Decode(stream, data.size(), block);
    EXPECT_EQ(d.result, TDecodeResult::Ok) << block;
    EXPECT_TRUE(d.out == data) << block;
  }
}

// A model that never fills decodes the same with any memory size the header
// may name: the decoder takes what the header asks, up to 256 MB, and pages
// it never touches cost nothing.
TEST_F(PpmdTest, LargerMemoryInTheHeader) {
  const TBytes data = WordText(50000, 41);
  TBytes stream = FirstEntryData(SevenZip(data, 8, 64, 5));
  for (unsigned megabytes : {HeaderOf(stream).megabytes, 100u, 256u}) {
    const unsigned w = stream[0] | stream[1] << 8;
    const unsigned patched = (w & 0xF00F) | (megabytes - 1) << 4;
    stream[0] = static_cast<uint8_t>(patched);
    stream[1] = static_cast<uint8_t>(patched >> 8);
    const TDecoded d = Decode(stream, data.size());
    EXPECT_EQ(d.result, TDecodeResult::Ok) << megabytes;
    EXPECT_TRUE(d.out == data) << megabytes;
  }
}

// Parameters outside variant I revision 1 as written are refused by name,
// before any memory is taken; an empty entry needs no model at all.
TEST_F(PpmdTest, HeadersTheDecoderRefuses) {
  const struct {
    uint8_t lo, hi;
    uint64_t size;
    TDecodeResult result;
    const char* problem;
  } cases[] = {
      {0x00, 0x00, 10, TDecodeResult::Unsupported, "model order 1"},
      {0x05, 0x20, 10, TDecodeResult::Unsupported, "model restoration method 2 (freeze)"},
      {0xF5, 0xFF, 10, TDecodeResult::Unsupported, "model restoration method 15"},
      {0x05, 0x00, 0, TDecodeResult::Ok, ""},
  };
  for (const auto& c : cases) {
    const TDecoded d = Decode({c.lo, c.hi, 0x12, 0x34, 0x56, 0x78, 0x9A}, c.size);
    EXPECT_EQ(d.result, c.result) << c.problem;
    EXPECT_EQ(d.problem, c.problem);
    EXPECT_TRUE(d.out.empty());
  }
  EXPECT_EQ(Decode({}, 0).result, TDecodeResult::Ok);
  EXPECT_EQ(Decode({}, 1).result, TDecodeResult::DataError);
  EXPECT_EQ(Decode({0x05}, 1).result, TDecodeResult::DataError);
  // Four 0xFF bytes cannot start a range coder's stream.
  EXPECT_EQ(Decode({0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, 1).result, TDecodeResult::DataError);
}

// The memory the header names cannot be had: OutOfMemory with a message
// naming the method and the size.
// Run in a child: decodes a header asking for 256 MB with the address space
// limited to what the process has plus 64 MB; exits 0 when refused as it should be.
void DecodeWithLittleAddressSpace() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  statm >> pages;
  const rlim_t limit = pages * 4096 + (64u << 20);
  const rlimit r{limit, limit};
  ::setrlimit(RLIMIT_AS, &r);
  const TDecoded d = Decode({0xF5, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00}, 100);  // order 6, 256 MB
  const bool ok = d.result == TDecodeResult::OutOfMemory && d.problem == "PPMd: not enough memory for the model (256 MB)";
  std::exit(ok ? 0 : 1);
}

TEST_F(PpmdTest, MemoryThatCannotBeHad) {
  EXPECT_EXIT(DecodeWithLittleAddressSpace(), ::testing::ExitedWithCode(0), "");
}

// Cut streams fail (what came out before the cut is the data's beginning, but
// for the few symbols decoded from the zeros that stand in for the missing
// bytes); a cut inside the writer's four flush bytes may lose nothing. Random
// damage never crashes nor gives more than the declared size. A stream that
// ends (end marker) before its declared size fails; one declared shorter
// gives exactly the declared bytes.
TEST_F(PpmdTest, CutDamagedAndMisdeclaredStreams) {
  const TBytes data = TestData(200000);
  const TBytes stream = FirstEntryData(SevenZip(data, 8, 1, 9));
  for (size_t keep : {size_t{3}, size_t{6}, stream.size() / 3, stream.size() / 2, stream.size() - 20}) {
    const TDecoded d = Decode(TBytes(stream.begin(), stream.begin() + static_cast<long>(keep)), data.size());
    EXPECT_EQ(d.result, TDecodeResult::DataError) << "cut to " << keep;
    EXPECT_LT(d.out.size(), data.size()) << keep;
    const size_t good = d.out.size() > 64 ? d.out.size() - 64 : 0;
    EXPECT_TRUE(std::equal(d.out.begin(), d.out.begin() + static_cast<long>(good), data.begin())) << keep;
  }
  for (size_t cut = 1; cut <= 4; ++cut) {
    const TDecoded d = Decode(TBytes(stream.begin(), stream.end() - static_cast<long>(cut)), data.size());
    EXPECT_TRUE(d.result == TDecodeResult::DataError || d.out == data) << cut;
  }
  std::mt19937 rng(5);
  for (int trial = 0; trial < 30; ++trial) {
    TBytes bad = stream;
    bad[2 + rng() % (bad.size() - 2)] ^= static_cast<uint8_t>(1 + rng() % 255);
    const TDecoded d = Decode(bad, data.size(), kBlockSize, data.size());
    EXPECT_LE(d.out.size(), data.size()) << trial;
  }
  const TDecoded longer = Decode(stream, data.size() + 100);
  EXPECT_EQ(longer.result, TDecodeResult::DataError);
  EXPECT_TRUE(longer.out == data);
  const TDecoded shorter = Decode(stream, data.size() - 1000);
  EXPECT_EQ(shorter.result, TDecodeResult::Ok);
  EXPECT_TRUE(shorter.out == TBytes(data.begin(), data.end() - 1000));
}

// Through the reader: PPMd entries, also inside AES, extract byte for byte;
// a damaged one fails by itself without replacing the file it would have
// replaced, and one with an unsupported header says so by method name.
TEST_F(PpmdTest, ArchivesThroughTheReader) {
  const std::string src = tmp_ / "src";
  test::MakeDir(src);
  const TBytes text = TestData(150000), more = WordText(90000, 7);
  test::WriteFile(src + "/a.txt", Str(text));
  test::WriteFile(src + "/b.txt", Str(more));
  auto extract = [&](const std::string& archive, const std::string& dest, const std::string& password) {
    TZipReader r;
    std::map<std::string, std::string> failed;
    r.SetZipName(archive);
    r.SetDestDir(dest);
    r.DoAll = true;
    r.OverwriteMode = TUZOverwriteMode::Always;
    r.Password = password;
    r.OnBadCRC = [&](TZipReader* z, int32_t, int32_t, int i) { failed[z->Entry(i).Path()] = "bad CRC"; };
    r.OnEntryError = [&](TZipReader* z, int i, const std::string& m) { failed[z->Entry(i).Path()] = m; };
    r.UnZip();
    return failed;
  };
  for (const std::string enc : {"", " -mem=AES256 -psecret"}) {
    SCOPED_TRACE(enc);
    const std::string archive = tmp_ / ("r" + std::to_string(enc.size()) + ".zip"), dest = archive + ".out";
    ASSERT_EQ(test::RunCommand("cd " + Quote(src) + " && 7zz a -tzip -mm=PPMd -mo=10 -mx=9" + enc + " " +
                               Quote(archive) + " a.txt b.txt >/dev/null"),
              0);
    test::MakeDir(dest);
    EXPECT_TRUE(extract(archive, dest, enc.empty() ? "" : "secret").empty());
    EXPECT_EQ(test::ReadFile(dest + "/a.txt"), Str(text));
    EXPECT_EQ(test::ReadFile(dest + "/b.txt"), Str(more));
  }

  const std::string plain = tmp_ / "r0.zip";
  std::string bytes = test::ReadFile(plain);
  const size_t local = Le32At(bytes, Le32At(bytes, bytes.rfind(std::string("PK\x05\x06", 4)) + 16) + 42);
  const size_t data = local + 30 + Le16At(bytes, local + 26) + Le16At(bytes, local + 28);
  const std::string dest = tmp_ / "keep";
  test::MakeDir(dest);
  std::string damaged = bytes;
  damaged[data + 5000] ^= 0x5A;
  test::WriteFile(tmp_ / "damaged.zip", damaged);
  test::WriteFile(dest + "/a.txt", "keep me");
  const auto failed = extract(tmp_ / "damaged.zip", dest, "");
  EXPECT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed.count("a.txt"), 1u);
  EXPECT_EQ(test::ReadFile(dest + "/a.txt"), "keep me");
  EXPECT_EQ(test::ReadFile(dest + "/b.txt"), Str(more));

  std::string freeze = bytes;
  freeze[data + 1] = static_cast<char>((static_cast<uint8_t>(freeze[data + 1]) & 0x0F) | 0x20);
  test::WriteFile(tmp_ / "freeze.zip", freeze);
  test::MakeDir(tmp_ / "freeze");
  EXPECT_EQ(extract(tmp_ / "freeze.zip", tmp_ / "freeze", "").at("a.txt"),
            "unsupported compression method PPMd (98): model restoration method 2 (freeze)");
}

// The command-line tool lists the method by name and tests the entry.
TEST_F(PpmdTest, ToolListsAndTests) {
  const char* dir = std::getenv("VANTREL_BINARY_DIR");
  const std::string tool = std::string(dir ? dir : ".") + "/vantrel-zip";
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << tool << " is not built";
  const std::string archive = SevenZip(TestData(30000), 6, 1, 5);
  std::string out;
  EXPECT_EQ(test::RunCommand(Quote(tool) + " list " + Quote(archive), &out), 0);
  EXPECT_NE(out.find("30000    "), std::string::npos) << out;
  EXPECT_NE(out.find("  PPMd  "), std::string::npos) << out;
  EXPECT_EQ(test::RunCommand(Quote(tool) + " test " + Quote(archive), &out), 0);
  EXPECT_NE(out.find("1 entries OK, 0 failed"), std::string::npos) << out;
}

}  // namespace
}  // namespace vantrel::zip
