#include "platform/escaped_names.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel::platform {
namespace {

struct TCase {
  std::string escaped;
  std::string plain;
};

TEST(EscapedNames, MountPointsDecodeOnlyWholeOctalEscapes) {
  const TCase cases[] = {
      {"/mnt/plain", "/mnt/plain"},
      {"/mnt/with\\040space", "/mnt/with space"},
      {"/mnt/tab\\011and\\134backslash", "/mnt/tab\tand\\backslash"},
      {"/mnt/end\\040", "/mnt/end "},
      {"/mnt/\\303\\251t\\303\\251", "/mnt/\xc3\xa9t\xc3\xa9"},  // bytes, not characters
      {"/mnt/short\\04", "/mnt/short\\04"},
      {"/mnt/not\\08x", "/mnt/not\\08x"},
      {"/mnt/too big\\400", "/mnt/too big\\400"},
      {"\\", "\\"},
  };
  for (const TCase& c : cases) EXPECT_EQ(UnescapeOctal(c.escaped), c.plain) << c.escaped;
}

TEST(EscapedNames, LabelsDecodeOnlyWholeHexEscapes) {
  const TCase cases[] = {
      {"DATA", "DATA"},
      {"My\\x20Disk", "My Disk"},
      {"a\\x2fb", "a/b"},
      {"\\xc3\\xa9t\\xC3\\xA9", "\xc3\xa9t\xc3\xa9"},
      {"bad\\xZZ", "bad\\xZZ"},  // once thrown out of the volume list
      {"half\\x4", "half\\x4"},
      {"\\x", "\\x"},
      {"no\\y41", "no\\y41"},
  };
  for (const TCase& c : cases) EXPECT_EQ(UnescapeHex(c.escaped), c.plain) << c.escaped;
}

TEST(EscapedNames, HexDigitsOfEitherCaseAndNothingElse) {
  const std::string digits = "0123456789abcdef";
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const size_t lower = digits.find(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b));
    const int expected = lower != std::string::npos ? static_cast<int>(lower) : -1;
    EXPECT_EQ(HexDigitValue(c), expected) << "byte " << b;
  }
}

TEST(EscapedNames, PercentDecodesOnlyWholeEscapes) {
  const TCase cases[] = {
      {"/plain/path", "/plain/path"},
      {"/a%20b", "/a b"},
      {"/%c3%bc%C3%BC", "/\xc3\xbc\xc3\xbc"},
      {"%2541", "%41"},  // decoded once, not again
      {"/end%41", "/endA"},
      {"/nul%00byte", std::string("/nul\0byte", 9)},
      {"/50%", "/50%"},
      {"/half%4", "/half%4"},
      {"/bad%zz%4g%g4", "/bad%zz%4g%g4"},
      {"%%41", "%A"},
      {"%", "%"},
  };
  for (const TCase& c : cases) EXPECT_EQ(PercentDecode(c.escaped), c.plain) << c.escaped;
}

TEST(EscapedNames, PercentEncodesWhatIsNotKeptAndComesBackWhole) {
  const auto letters = [](unsigned char c) { return (c >= 'a' && c <= 'z') || c == '/'; };
  const TCase cases[] = {
      {"/abc", "/abc"},
      {"/%41%20b", "/A b"},
      {"%25", "%"},
      {"%C3%BC%FF", "\xc3\xbc\xff"},  // upper-case digits
      {"%00%0A", std::string("\0\n", 2)},
      {"", ""},
  };
  for (const TCase& c : cases) EXPECT_EQ(PercentEncode(c.plain, letters), c.escaped) << c.plain;
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string encoded = PercentEncode(all, letters);
  EXPECT_EQ(encoded.size(), 27 + 229 * 3u);
  EXPECT_EQ(PercentDecode(encoded), all);
}

}  // namespace
}  // namespace vantrel::platform
