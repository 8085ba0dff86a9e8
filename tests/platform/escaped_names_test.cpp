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

}  // namespace
}  // namespace vantrel::platform
