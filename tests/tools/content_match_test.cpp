// Content search: encodings, case, whole words, expressions, hex bytes,
// both Unicode spellings, and matches that the block boundaries cut.
#include "tools/content_match.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vantrel::tools {
namespace {

struct TResult {
  bool matched = false;
  uint64_t offset = 0;
  uint8_t encoding = 0;
  std::string line;
};

// Scans `data` handed over in blocks of `block` bytes (the last may be shorter).
TResult Scan(const TContentQuery& query, const std::string& data, size_t block = kScanBlock) {
  std::string error;
  auto matcher = TContentMatcher::Compile(query, &error);
  EXPECT_NE(matcher, nullptr) << error;
  if (matcher == nullptr) return {};
  TContentScanner scanner(*matcher);
  bool matched = false;
  for (size_t at = 0; at < data.size() && !matched; at += block) {
    const size_t n = std::min(block, data.size() - at);
    std::memcpy(scanner.WriteArea(), data.data() + at, n);
    matched = scanner.Commit(n);
  }
  if (!matched) matched = scanner.Finish();
  return {matched, scanner.Hit().offset, scanner.Hit().encoding, scanner.Hit().line};
}

TContentQuery Text(const std::string& text, bool caseSensitive = false, bool words = false,
                   uint8_t encodings = kEncUtf8) {
  TContentQuery q;
  q.text = text;
  q.caseSensitive = caseSensitive;
  q.wholeWords = words;
  q.encodings = encodings;
  return q;
}

TContentQuery Regex(const std::string& text, bool caseSensitive = true, bool words = false,
                    uint8_t encodings = kEncUtf8) {
  TContentQuery q = Text(text, caseSensitive, words, encodings);
  q.regex = true;
  return q;
}

std::string Utf16(const std::u16string& text, bool littleEndian) {
  std::string out;
  for (char16_t u : text) {
    const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
    out += littleEndian ? lo : hi;
    out += littleEndian ? hi : lo;
  }
  return out;
}

TEST(ContentMatch, TextCaseWordsAndSpellings) {
  const struct {
    TContentQuery query;
    std::string data;
    bool matched;
    uint64_t offset;
  } cases[] = {
      {Text("needle", true), "hay needle hay", true, 4},
      {Text("Needle", true), "hay needle hay", false, 0},
      {Text("NEEDLE"), "hay nEEdle hay", true, 4},
      {Text("ärger"), "Viel ÄRGER hier", true, 5},              // case of letters outside ASCII
      {Text("STRASSE"), "die strasse", true, 4},
      {Text("ÄRGER", true), "viel ärger", false, 0},
      {Text("café"), "le cafe\xCC\x81 noir", true, 3},           // composed finds decomposed
      {Text("cafe\xCC\x81"), "le caf\xC3\xA9 noir", true, 3},    // and the other way round
      {Text("word", false, true), "swordfish, words, a word.", true, 20},
      {Text("über", false, true), "überall und über", true, 13},    // "ü" is a letter, not an edge
      {Text("bar", false, true), "foo_bar bar9 bar", true, 13},   // "_" and digits belong to words
      {Text("мир", false, true), "Миров МИР", true, 11},
      {Text("x", false, true), "x", true, 0},                     // at both ends of the data
      {Text("a.b", true), "axb a.b", true, 4},                    // no expression: "." is a dot
      {Text("needle"), std::string("\0\xff\x01nee\0needle\xfe", 14), true, 7},  // binary data around it
      {Regex("colou?r"), "the color red", true, 4},
      {Regex("^start", true), "no start\nstart here", true, 9},    // "^" at a line start only
      {Regex("end$", true), "the end\nmore", true, 4},
      {Regex("\\d{3}-\\d{4}"), "call 555-1234 now", true, 5},
      {Regex("ÄRGER", false), "viel ärger", true, 5},
      {Regex("gr[aä]n", true, true), "grant grän", true, 6},
  };
  for (const auto& c : cases) {
    const TResult r = Scan(c.query, c.data);
    EXPECT_EQ(r.matched, c.matched) << c.query.text << " in " << c.data;
    if (r.matched && c.matched) {
      EXPECT_EQ(r.offset, c.offset) << c.query.text << " in " << c.data;
    }
  }
}

TEST(ContentMatch, EncodingsOneOrSeveral) {
  const std::string le = "xx" + Utf16(u"Grüße, Welt", true);
  const std::string be = "xx" + Utf16(u"Grüße, Welt", false);
  const std::string cp1251 = "text \xEF\xF0\xE8\xE2\xE5\xF2 end";  // "привет" in Windows-1251
  TContentQuery page = Text("ПРИВЕТ", false, false, kEncCodePage);
  page.codePage = platform::CodePage::Cp1251;
  TContentQuery pageExact = Text("привет", true, true, kEncCodePage);
  pageExact.codePage = platform::CodePage::Cp1251;
  const struct {
    TContentQuery query;
    std::string data;
    bool matched;
    uint8_t encoding;
  } cases[] = {
      {Text("grüße", false, false, kEncUtf16LE), le, true, kEncUtf16LE},
      {Text("Grüße", true, false, kEncUtf16BE), be, true, kEncUtf16BE},
      {Text("Grüße", true, false, kEncUtf16BE), le, false, 0},
      {Text("Welt", true, true, kEncUtf16LE), le, true, kEncUtf16LE},
      {Text("Grüße", true, false, kEncUtf8), le, false, 0},
      {Text("welt", false, false, kEncUtf8 | kEncUtf16LE | kEncUtf16BE), be, true, kEncUtf16BE},
      {Regex("W.lt", true, false, kEncUtf16LE), le, true, kEncUtf16LE},
      {page, cp1251, true, kEncCodePage},
      {pageExact, cp1251, true, kEncCodePage},
      {Text("привет", true, false, kEncUtf8), cp1251, false, 0},
      {Text("日本", true, false, kEncCodePage), "anything", false, 0},  // the page lacks them: never a match
  };
  for (const auto& c : cases) {
    const TResult r = Scan(c.query, c.data);
    EXPECT_EQ(r.matched, c.matched) << c.query.text << " enc " << int(c.query.encodings);
    if (r.matched && c.matched) {
      EXPECT_EQ(r.encoding, c.encoding) << c.query.text;
    }
  }
  const TResult line = Scan(Text("welt", false, false, kEncUtf16LE), Utf16(u"Grüße, Welt", true));
  EXPECT_EQ(line.line, "Grüße, Welt");
}

TEST(ContentMatch, HexBytesAndBadQueries) {
  TContentQuery hex;
  hex.hex = true;
  hex.text = "de ad BE:EF";
  EXPECT_TRUE(Scan(hex, std::string("\x00\xde\xad\xbe\xef", 5)).matched);
  EXPECT_EQ(Scan(hex, std::string("\x00\xde\xad\xbe\xef", 5)).offset, 1u);
  EXPECT_FALSE(Scan(hex, "\xde\xad\xbe").matched);
  for (const char* bad : {"abc", "zz", "", "0x"}) {
    TContentQuery q;
    q.hex = true;
    q.text = bad;
    std::string error;
    EXPECT_EQ(TContentMatcher::Compile(q, &error), nullptr) << bad;
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_EQ(TContentMatcher::Compile(Regex("(unclosed"), &error), nullptr);
  EXPECT_NE(error.find("Regular expression"), std::string::npos);
  EXPECT_EQ(TContentMatcher::Compile(Text(""), &error), nullptr);
}

// Every way of cutting a short text into two blocks finds the same match,
// for each kind of finder: bytes, bytes without case, whole words,
// expressions on UTF-8 and on UTF-16 units.
TEST(ContentMatch, EverySplitOfTheDataFindsTheSameMatch) {
  const std::string text = "one two_three four wörd five";
  const std::string le = Utf16(u"one two_three four wörd five", true);
  const struct {
    TContentQuery query;
    const std::string* data;
    uint64_t offset;
  } cases[] = {
      {Text("four", true), &text, 14},
      {Text("FOUR"), &text, 14},
      {Text("three", false, true), &text, 100},  // "_three" is no whole word
      {Text("wörd", false, true), &text, 19},
      {Regex("f[a-z]+r"), &text, 14},
      {Regex("wö?rd", false, true), &text, 19},
      {Text("four", true, true, kEncUtf16LE), &le, 28},
      {Regex("w.rd", true, true, kEncUtf16LE), &le, 38},
      {Text("WÖRD", false, true, kEncUtf16LE), &le, 38},
  };
  for (const auto& c : cases) {
    for (size_t split = 1; split < c.data->size(); ++split) {
      std::string error;
      auto matcher = TContentMatcher::Compile(c.query, &error);
      ASSERT_NE(matcher, nullptr) << error;
      TContentScanner scanner(*matcher);
      bool matched = scanner.Feed(reinterpret_cast<const uint8_t*>(c.data->data()), split);
      if (!matched)
        matched = scanner.Feed(reinterpret_cast<const uint8_t*>(c.data->data()) + split, c.data->size() - split);
      if (!matched) matched = scanner.Finish();
      const bool expected = c.offset != 100;
      EXPECT_EQ(matched, expected) << c.query.text << " split " << split;
      if (matched && expected) {
      EXPECT_EQ(scanner.Hit().offset, c.offset) << c.query.text << " split " << split;
    }
    }
  }
}

// The real read size: a match across the 64 KB boundary, and a word whose
// end falls on it with a letter (no match) or a blank (a match) behind.
TEST(ContentMatch, MatchesAcrossTheReadBoundary) {
  auto around = [](const std::string& before, const std::string& after) {
    std::string data(kScanBlock - before.size(), '.');
    return data + before + after + std::string(1000, '.');
  };
  const struct {
    TContentQuery query;
    std::string data;
    bool matched;
  } cases[] = {
      {Text("needle", true), around("nee", "dle"), true},
      {Text("NEEDLE"), around("neEd", "le"), true},
      {Regex("ne+dle"), around("neeeeeeeeeee", "eeeedle"), true},
      {Regex("nee\\s*dle", true, false, kEncUtf16LE), around(Utf16(u"nee ", true), Utf16(u" dle", true)), true},
      {Text("needle", true, true), around("needle", "s"), false},
      {Text("needle", true, true), around("needle", " "), true},
      {Text("needle", true, true), around("s", "needle "), false},
      {Text("nädel", false, true), around("n\xC3", "\xA4" "del!"), true},  // a character cut in two
      {Text("nädel", false, true), around("nädel\xC3", "\xA4"), false},     // the letter after it is cut
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Scan(c.query, c.data).matched, c.matched) << c.query.text;
    EXPECT_EQ(Scan(c.query, c.data, 4096).matched, c.matched) << c.query.text << " in 4 KB blocks";
  }
  TContentQuery hex;
  hex.hex = true;
  hex.text = "00 ff 00 ff";
  EXPECT_TRUE(Scan(hex, around(std::string("\0\xff\0", 3), std::string("\xff", 1))).matched);
}

// What is kept between blocks is bounded: a match may be long, but one
// longer than the carry limit is given up, and the scan goes on.
TEST(ContentMatch, LongMatchesAndTheCarryLimit) {
  const std::string shortEnough = "a" + std::string(kCarryLimit / 2, 'x') + "b";
  const std::string tooLong = "a" + std::string(kCarryLimit * 2, 'x') + "b";
  EXPECT_TRUE(Scan(Regex("ax*b"), shortEnough).matched);
  EXPECT_FALSE(Scan(Regex("ax*b"), tooLong).matched);
  EXPECT_TRUE(Scan(Regex("ax*b|zz"), tooLong + "zz").matched);
  const TResult late = Scan(Text("late"), std::string(5 * kCarryLimit, 'y') + "late");
  EXPECT_TRUE(late.matched);
  EXPECT_EQ(late.offset, 5 * kCarryLimit);
}

// The first matching line is shown around the match, cut where it is long,
// with control characters made visible.
TEST(ContentMatch, TheLineAroundTheMatch) {
  const struct {
    TContentQuery query;
    std::string data;
    const char* line;
  } cases[] = {
      {Text("two"), "one\ntwo three\nfour", "two three"},
      {Text("two"), "one\r\ntwo\tthree\r\n", "two three"},
      {Text("needle"), std::string(300, 'h') + "needle" + std::string(300, 'h'),
       nullptr},  // cut on both sides
      {Text("bin"), std::string("\x01" "bin\x02", 5), "·bin·"},
  };
  for (const auto& c : cases) {
    const TResult r = Scan(c.query, c.data);
    ASSERT_TRUE(r.matched);
    if (c.line != nullptr) {
      EXPECT_EQ(r.line, c.line);
    } else {
      EXPECT_EQ(r.line.rfind("\xE2\x80\xA6", 0), 0u);
      EXPECT_EQ(r.line.substr(r.line.size() - 3), "\xE2\x80\xA6");
      EXPECT_NE(r.line.find("needle"), std::string::npos);
    }
  }
  std::string error;
  auto matcher = TContentMatcher::Compile(Text("three"), &error);
  TContentScanner scanner(*matcher);
  scanner.Feed(reinterpret_cast<const uint8_t*>("one two three four"), 18);
  scanner.Finish();
  EXPECT_EQ(scanner.Hit().line.substr(scanner.Hit().matchStart, scanner.Hit().matchLength), "three");
}

}  // namespace
}  // namespace vantrel::tools
