// zip_damaged_deflate_test.cpp - deflate streams that give every byte of an
// entry with the right CRC and still are not valid deflate: no final block,
// no end-of-block code, or a broken block behind the data. zlib (linked here)
// calls each of them invalid, and so must test, extract and repair; unzip -t,
// where installed, agrees on the archives.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/zip/decoders_support.h"
#include "tests/zip/deflate_bits.h"
#include "tests/zip/zip_test_util.h"

namespace vantrel::zip {
namespace {

using namespace testing;

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

const std::string kText = "a deflate stream ends with its final block\n";

// The text as literals of one fixed-code block, without its end-of-block code.
void TextBlock(TBitWriter& w, bool last) {
  w.Bits((last ? 1 : 0) | 1 << 1, 3);
  for (char c : kText) FixedLitLen(w, static_cast<uint8_t>(c));
}

// The text in a block that is not the last one, then `tail`.
TBytes TextThen(const std::function<void(TBitWriter&)>& tail) {
  return Build([&](TBitWriter& w) {
    TextBlock(w, false);
    FixedLitLen(w, 256);
    tail(w);
  });
}

struct TStreamCase {
  const char* what;
  TBytes stream;
  bool valid;  // what zlib must say about it (checked, not assumed)
  // unzip -t takes the archive even so: its reader goes on with zero bits
  // after the entry's data, which here complete the end-of-block code.
  bool unzipTakesIt = false;
};

std::vector<TStreamCase> StreamCases() {
  // A literal/length code that is complete: every byte but 255 in 8 bits,
  // end of block and length 3 in 9.
  std::vector<uint8_t> lit(258, 8), noEnd(257, 0);
  lit[255] = 0;
  lit[256] = lit[257] = 9;
  noEnd['a'] = noEnd['b'] = 1;
  auto dynamic = [](std::vector<uint8_t> l, std::vector<uint8_t> d) {
    return [l, d](TBitWriter& w) {
      DynamicHeader(w, l, d);
      w.Bits(0, 32);
    };
  };
  auto fixedSymbols = [](std::vector<unsigned> syms, int distCode) {
    return [syms, distCode](TBitWriter& w) {
      w.Bits(1 | 1 << 1, 3);
      for (unsigned s : syms) FixedLitLen(w, s);
      if (distCode >= 0) w.Code(static_cast<uint32_t>(distCode), 5);
      FixedLitLen(w, 256);
    };
  };
  return {
      {"the whole stream", Build([](TBitWriter& w) { TextBlock(w, true), FixedLitLen(w, 256); }), true},
      {"bytes after the final block",
       Build([](TBitWriter& w) {
         TextBlock(w, true), FixedLitLen(w, 256), w.Align();
         for (char c : std::string("trailing")) w.Bits(static_cast<uint8_t>(c), 8);
       }),
       true},
      {"an empty stored block after the data", TextThen([](TBitWriter& w) { StoredBlock(w, {}, true); }), true},
      {"no final block", TextThen([](TBitWriter&) {}), false},
      // 3 + 8 bits per literal leave 5 zero bits of padding: less than the
      // 7 bits of the end-of-block code.
      {"no end-of-block code", Build([](TBitWriter& w) { TextBlock(w, true); }), false, true},
      {"a block of type 3 after the data", TextThen([](TBitWriter& w) { w.Bits(1 | 3 << 1, 3), w.Bits(0, 16); }),
       false},
      {"a stored block whose length and complement disagree",
       TextThen([](TBitWriter& w) {
         w.Bits(1, 3), w.Align(), w.Bits(4, 16), w.Bits(4, 16);
         for (char c : std::string("abcd")) w.Bits(static_cast<uint8_t>(c), 8);
       }),
       false},
      {"a stored block longer than the data left",
       TextThen([](TBitWriter& w) { StoredBlock(w, {'a', 'b', 'c', 'd'}, true), w.bytes.resize(w.bytes.size() - 4); }),
       false},
      {"an over-subscribed literal/length code", TextThen(dynamic(std::vector<uint8_t>(257, 1), {1})), false},
      {"an incomplete literal/length code", TextThen(dynamic(std::vector<uint8_t>(257, 9), {1})), false},
      {"an over-subscribed distance code", TextThen(dynamic(lit, {1, 1, 1})), false},
      {"an incomplete distance code of more than one code", TextThen(dynamic(lit, {2, 2, 2})), false},
      {"a code without an end-of-block code", TextThen(dynamic(noEnd, {0})), false},
      {"an incomplete code length code",
       TextThen([](TBitWriter& w) { CodeLengthBlock(w, 0, 0, {1, 0, 0, 0}, {}); }), false},
      // 16 = "0", 0 = "10", 18 = "11": a repeat with no length before it.
      {"a repeat of no length",
       TextThen([](TBitWriter& w) { CodeLengthBlock(w, 0, 0, {1, 0, 2, 2}, {{0, 1}, {0, 2}}); }), false},
      {"287 literal/length codes", TextThen([](TBitWriter& w) { CodeLengthBlock(w, 30, 0, {0, 0, 0, 0}, {}); }),
       false},
      {"31 distance codes", TextThen([](TBitWriter& w) { CodeLengthBlock(w, 0, 30, {0, 0, 0, 0}, {}); }), false},
      {"literal/length symbol 286", TextThen(fixedSymbols({286}, -1)), false},
      {"literal/length symbol 287", TextThen(fixedSymbols({287}, -1)), false},
      {"distance code 30", TextThen(fixedSymbols({257}, 30)), false},
      {"distance code 31", TextThen(fixedSymbols({257}, 31)), false},
      {"a distance before the start of the output",
       Build([](TBitWriter& w) {
         TextBlock(w, true);
         FixedMatch(w, 3, static_cast<unsigned>(kText.size()) + 1);
         FixedLitLen(w, 256);
       }),
       false},
  };
}

// Each stream as an entry whose CRC and size are those of the text, beside
// an entry zlib made: test and extract take the entry exactly when zlib
// takes the stream, repair keeps it exactly then (and always the other),
// and what repair writes passes unzip -t.
TEST(DamagedDeflate, StreamsZlibRefusesAreDamagedInTestExtractAndRepair) {
  const char* dir = std::getenv("VANTREL_BINARY_DIR");
  const std::string tool = std::string(dir ? dir : ".") + "/vantrel-zip";
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << "vantrel-zip is not built";
  const bool haveUnzip = vantrel::test::RunCommand("unzip -v >/dev/null 2>&1") == 0;
  vantrel::test::TempDir tmp;
  auto run = [&](const std::string& args, std::string* out) {
    return vantrel::test::RunCommand("cd " + ShellQuote(tmp.path()) + " && " + ShellQuote(tool) + " " + args +
                                         " </dev/null 2>&1",
                                     out);
  };
  for (const TStreamCase& c : StreamCases()) {
    SCOPED_TRACE(c.what);
    // The oracle: zlib's verdict, and the text decoded before any damage.
    TBytes zlibOut;
    const bool zlibTakes = ZlibInflate(c.stream, &zlibOut) >= 0;
    ASSERT_EQ(zlibTakes, c.valid) << "the case does not show what it says";
    ASSERT_EQ(Str(zlibOut).substr(0, kText.size()), kText);

    TEntrySpec crafted("crafted.txt", std::string(c.stream.begin(), c.stream.end()));
    crafted.method = 8;
    crafted.rawBody = true;
    crafted.crc = ZCrc(kText);
    crafted.usize = static_cast<uint32_t>(kText.size());
    TEntrySpec good("good.txt", "made by zlib, " + kText);
    good.method = 8;
    vantrel::test::WriteFile(tmp / "a.zip", BuildZip({good, crafted}));
    if (haveUnzip) {
      EXPECT_EQ(vantrel::test::RunCommand("unzip -tqq " + ShellQuote(tmp / "a.zip") + " >/dev/null 2>&1") == 0,
                c.valid || c.unzipTakesIt);
    }

    std::string out;
    EXPECT_EQ(run("test a.zip", &out), c.valid ? 0 : 1) << out;
    EXPECT_NE(out.find(c.valid ? "2 entries OK, 0 failed" : "1 entries OK, 1 failed"), std::string::npos) << out;
    if (!c.valid) { EXPECT_NE(out.find("crafted.txt: damaged compressed data"), std::string::npos) << out; }

    std::filesystem::remove_all(tmp / "x");
    run("extract -d x a.zip", &out);
    EXPECT_EQ(std::filesystem::exists(tmp / "x/crafted.txt"), c.valid) << out;
    if (c.valid) { EXPECT_EQ(vantrel::test::ReadFile(tmp / "x/crafted.txt"), kText); }
    EXPECT_EQ(vantrel::test::ReadFile(tmp / "x/good.txt"), "made by zlib, " + kText);

    std::filesystem::remove(tmp / "fixed.zip");
    EXPECT_EQ(run("repair a.zip fixed.zip", &out), c.valid ? 0 : 1) << out;
    EXPECT_NE(out.find(c.valid ? "2 of 2 entries written" : "1 of 2 entries written"), std::string::npos) << out;
    if (haveUnzip) {
      EXPECT_EQ(vantrel::test::RunCommand("unzip -tqq " + ShellQuote(tmp / "fixed.zip") + " >/dev/null 2>&1"), 0);
    }
  }
}

}  // namespace
}  // namespace vantrel::zip
