// File times, volumes, names and number texts.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

TEST(FileTimes, UnixEpochRoundTripAndLocalTime) {
  EXPECT_EQ(FileTimeFromUnix(0, 0), kUnixEpochAsFileTime);
  EXPECT_EQ(FileTimeFromUnix(1, 500), kUnixEpochAsFileTime + 10000005);
  EXPECT_EQ(UnixSecondsFromFileTime(FileTimeFromUnix(1770105900, 0)), 1770105900);
  EXPECT_EQ(FileTimeFromUnix(-20000000000LL, 0), 0u);  // before 1601 clamps
  // Summer time in Europe/Berlin (the tests' zone): 2026-07-01T10:00:00Z is 12:00 local.
  const LocalTime lt = ToLocalTime(FileTimeFromUnix(1782900000, 0));
  EXPECT_EQ(std::vector<int>({lt.year, lt.month, lt.day, lt.hour}), std::vector<int>({2026, 7, 1, 12}));
}

// Times, size and attributes of a file; a dot name is no hidden file here.
TEST(StatEntry, TimesSizeAndAttributes) {
  test::TempDir tmp;
  test::WriteFile(tmp / ".f", "abc");
  test::SetMTime(tmp / ".f", 1000000000);
  FindData fd;
  ASSERT_TRUE(StatEntry(AT_FDCWD, (tmp / ".f").c_str(), fd));
  EXPECT_EQ(fd.size, 3u);
  EXPECT_EQ(fd.lastWriteTime, FileTimeFromUnix(1000000000, 0));
  EXPECT_NE(fd.attributes & kAttrArchive, 0u);
  EXPECT_EQ(fd.attributes & (kAttrHidden | kAttrSystem | kAttrDirectory), 0u);
}

TEST(Volumes, RootIsListedAndHoldsEveryPath) {
  const auto vols = ListVolumes();
  bool hasRoot = false;
  for (const auto& v : vols) hasRoot = hasRoot || v.mountPoint == "/";
  EXPECT_TRUE(hasRoot);
  std::vector<Volume> fake = {{"/", "", "", ""}, {"/media/usb", "", "", ""}, {"/media/usb2", "", "", ""}};
  EXPECT_EQ(MountPointOf("/media/usb/docs", fake), "/media/usb");
  EXPECT_EQ(MountPointOf("/media/usb2", fake), "/media/usb2");
  EXPECT_EQ(MountPointOf("/media/usb22/x", fake), "/");
  EXPECT_EQ(MountPointOf("/home", fake), "/");
  VolumeSpace space;
  ASSERT_TRUE(GetVolumeSpace("/", space));
  EXPECT_GE(space.total, space.free);
}

TEST(Paths, JoinAndCurrentDirectory) {
  EXPECT_EQ(JoinPath("/", "a"), "/a");
  EXPECT_EQ(JoinPath("/x/", "a"), "/x/a");
  EXPECT_EQ(JoinPath("/x", "a"), "/x/a");
  test::TempDir tmp;
  test::CurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDir(tmp.path()));
  EXPECT_EQ(GetCurrentDir(), tmp.path());
  EXPECT_FALSE(SetCurrentDir(tmp / "missing"));
  EXPECT_FALSE(SetCurrentDir(""));
}

TEST(NumberText, ThousandsAndFixedDecimals) {
  const std::pair<uint64_t, const char*> thousands[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"},
      {18446744073709551615ULL, "18,446,744,073,709,551,615"}};
  for (const auto& [value, text] : thousands) EXPECT_EQ(FormatThousands(value), text);
  EXPECT_EQ(FormatFixed(1234.564, 2), "1,234.56");
  EXPECT_EQ(FormatFixed(0.0, 2), "0.00");
  EXPECT_EQ(FormatFixed(1048576.0, 2), "1,048,576.00");
}

// Collation ignores case and its keys order as the comparison does; display
// names replace invalid bytes only (an overlong "/" among them).
TEST(Names, CollationAndDisplay) {
  EXPECT_EQ(CompareNames("README", "readme"), 0);
  EXPECT_LT(CompareNames("apple", "Banana"), 0);
  EXPECT_GT(CompareNames("b", "A"), 0);
  EXPECT_LT(CollationKey("alpha"), CollationKey("BETA"));
  EXPECT_EQ(CompareNoCaseAscii(".TXT", ".txt"), 0);
  EXPECT_LT(CompareNoCaseAscii("", ".bat"), 0);
  EXPECT_EQ(DisplayName("gr\xC3\xBC\xC3\x9F"), "gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(DisplayName("caf\xE9"), "caf\xEF\xBF\xBD");
  EXPECT_EQ(DisplayName("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

// Names for a terminal get escapes, names for a window visible symbols; text
// without control characters passes unchanged.
TEST(Text, ControlCharactersInNamesAreMadeHarmless) {
  struct Case {
    std::string name, terminal, visible;
  } cases[] = {
      {"gr\xC3\xBC\xC3\x9F.txt", "gr\xC3\xBC\xC3\x9F.txt", "gr\xC3\xBC\xC3\x9F.txt"},
      {"a\x1B[2Jb", "a\\033[2Jb", "a\xE2\x90\x9B[2Jb"},
      {std::string("x\0\n\r\t\a", 6), "x\\x00\\n\\r\\t\\a",
       "x\xE2\x90\x80\xE2\x90\x8A\xE2\x90\x8D\xE2\x90\x89\xE2\x90\x87"},
      {"del\x7F csi\xC2\x9B", "del\\x7f csi\\u009b", "del\xE2\x90\xA1 csi\xEF\xBF\xBD"},
      {"caf\xE9", "caf\\xe9", "caf\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TerminalName(c.name), c.terminal);
    EXPECT_EQ(VisibleName(c.name), c.visible);
  }
}

}  // namespace
}  // namespace vantrel::platform
