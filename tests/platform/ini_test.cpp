// Profile files: the reading rules users of INI files rely on, and writes
// that never leave a broken file behind.
#include "platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(IniRead, SectionsAndKeysIgnoreCase) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "[General]\nEDITOR = vi \n[left panel]\nnamewidth=140\n");
  IniFile ini(tmp / "a.ini");
  EXPECT_EQ(ini.ReadString("GENERAL", "Editor", "x"), "vi");
  EXPECT_EQ(ini.ReadInteger("LEFT PANEL", "NameWidth", 120), 140);
  EXPECT_EQ(ini.ReadString("GENERAL", "Viewer", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("NOPE", "Editor", "dflt"), "dflt");
}

TEST(IniRead, IntegersDecimalHexDollarAndGarbage) {
  int64_t v = 0;
  EXPECT_TRUE(IniFile::ParseInteger("-2147483643", v));
  EXPECT_EQ(v, -2147483643);
  EXPECT_TRUE(IniFile::ParseInteger("0x00FF00", v));
  EXPECT_EQ(v, 65280);
  EXPECT_TRUE(IniFile::ParseInteger("0X1f", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(IniFile::ParseInteger("$FF", v));
  EXPECT_EQ(v, 255);
  // A system colour written in hexadecimal reads as the same signed value it is saved as.
  EXPECT_TRUE(IniFile::ParseInteger("0x80000005", v));
  EXPECT_EQ(v, -2147483643);
  for (const char* bad : {"", "12a", "0x", "$", "ten", "0xFFFFFFFFF", "99999999999999999999999"})
    EXPECT_FALSE(IniFile::ParseInteger(bad, v)) << bad;
}

TEST(IniRead, BadIntegerGivesTheDefault) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "[G]\nHeight=tall\nWidth=0x258\n");
  IniFile ini(tmp / "a.ini");
  EXPECT_EQ(ini.ReadInteger("G", "Height", 400), 400);
  EXPECT_EQ(ini.ReadInteger("G", "Width", 1), 600);
}

TEST(IniRead, FirstOfDuplicateSectionsAndKeysWins) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "[S]\nk=first\nk=second\n[T]\nk=t\n[s]\nk=third\nonly=later\n");
  IniFile ini(tmp / "a.ini");
  EXPECT_EQ(ini.ReadString("S", "k", ""), "first");
  EXPECT_EQ(ini.ReadString("S", "only", "none"), "none");
}

TEST(IniRead, MissingEmptyAndBinaryFilesGiveDefaults) {
  TempDir tmp;
  EXPECT_EQ(IniFile(tmp / "missing.ini").ReadInteger("S", "k", 7), 7);
  WriteFile(tmp / "empty.ini", "");
  EXPECT_EQ(IniFile(tmp / "empty.ini").ReadString("S", "k", "d"), "d");
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  WriteFile(tmp / "bin.ini", garbage);
  EXPECT_EQ(IniFile(tmp / "bin.ini").ReadInteger("GENERAL", "Height", 400), 400);
}

TEST(IniRead, ValuesKeepAt2047Characters) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "[S]\nlong=" + std::string(5000, 'x') + "\n");
  EXPECT_EQ(IniFile(tmp / "a.ini").ReadString("S", "long", "").size(), 2047u);
}

TEST(IniWrite, CreatesFileAndSectionThenReplacesInPlace) {
  TempDir tmp;
  IniFile ini(tmp / "new.ini");
  ASSERT_TRUE(ini.WriteString("GENERAL", "Editor", "vi"));
  ASSERT_TRUE(ini.WriteInteger("GENERAL", "Height", 0));
  ASSERT_TRUE(ini.WriteInteger("COLOR", "Back", -2147483643));
  ASSERT_TRUE(ini.WriteString("general", "EDITOR", "emacs"));
  EXPECT_EQ(ReadFile(tmp / "new.ini"),
            "[GENERAL]\nEDITOR=emacs\nHeight=0\n\n[COLOR]\nBack=-2147483643\n");
  EXPECT_EQ(ini.ReadInteger("COLOR", "Back", 0), -2147483643);
}

TEST(IniWrite, KeepsUnrelatedLinesAndComments) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "; mine\n[A]\nx=1\n\n[B]\ny=2\n");
  IniFile ini(tmp / "a.ini");
  ASSERT_TRUE(ini.WriteString("A", "z", "3"));
  EXPECT_EQ(ReadFile(tmp / "a.ini"), "; mine\n[A]\nx=1\nz=3\n\n[B]\ny=2\n");
}

TEST(IniWrite, LineBreaksInValuesCannotAddKeys) {
  TempDir tmp;
  IniFile ini(tmp / "a.ini");
  ASSERT_TRUE(ini.WriteString("S", "path", "a\n[EVIL]\nx=1"));
  EXPECT_EQ(ini.ReadString("EVIL", "x", "none"), "none");
}

TEST(IniWrite, UnwritableFileStaysWholeAndWriteFails) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "[S]\nk=old\n");
  // A path through a regular file can never be written; a file without write
  // permission bits is not written either, not even by root.
  EXPECT_FALSE(IniFile(tmp / "a.ini/inner.ini").WriteString("S", "k", "new"));
  ASSERT_EQ(chmod((tmp / "a.ini").c_str(), 0444), 0);
  IniFile ini(tmp / "a.ini");
  EXPECT_FALSE(ini.WriteString("S", "k", "new"));
  ini.BeginUpdate();
  ini.WriteString("S", "k", "new");
  EXPECT_FALSE(ini.EndUpdate());
  EXPECT_EQ(ReadFile(tmp / "a.ini"), "[S]\nk=old\n");
}

TEST(IniWrite, UnreadableFileIsNotReplacedByItsNewKeysAlone) {
  TempDir tmp;
  // A directory in the file's place stands for a file that cannot be read.
  std::filesystem::create_directory(tmp / "a.ini");
  IniFile ini(tmp / "a.ini");
  EXPECT_FALSE(ini.WriteString("S", "k", "v"));
  ini.BeginUpdate();
  EXPECT_FALSE(ini.WriteString("S", "k", "v"));
  EXPECT_FALSE(ini.EndUpdate());
  EXPECT_TRUE(std::filesystem::is_directory(tmp / "a.ini"));
}

TEST(IniWrite, NoTemporaryFilesAreLeftBehind) {
  TempDir tmp;
  IniFile ini(tmp / "a.ini");
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(ini.WriteInteger("S", "k", i));
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST(IniWrite, UpdateWritesOnceAndReadsSeePendingValues) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "[S]\nk=1\n");
  IniFile ini(tmp / "a.ini");
  ini.BeginUpdate();
  ASSERT_TRUE(ini.WriteInteger("S", "k", 2));
  ASSERT_TRUE(ini.WriteInteger("S", "m", 3));
  EXPECT_EQ(ini.ReadInteger("S", "k", 0), 2);
  EXPECT_EQ(ReadFile(tmp / "a.ini"), "[S]\nk=1\n");  // nothing on disk yet
  ASSERT_TRUE(ini.EndUpdate());
  EXPECT_EQ(ReadFile(tmp / "a.ini"), "[S]\nk=2\nm=3\n");
}

// ReadIniKeys: one pass over files the user chose, whatever they hold.
TEST(IniKeys, ReadsTheWantedKeysOfTheFirstSection) {
  TempDir tmp;
  using namespace std::string_literals;
  WriteFile(tmp / "a.lng", "\xEF\xBB\xBF[Other]\nA=other\n[messages]\n a = first \nA=second\n"
                           "b=x\0hidden\r\nc="s + std::string(5000, 'c') + "\n[Messages]\nd=late\n"
                           "[Messages2]\nd=no");
  const auto values = ReadIniKeys(tmp / "a.lng", "MESSAGES", {"A", "b", "c", "d", "a"});
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0], "first");
  EXPECT_EQ(values[1], std::string("x"));
  EXPECT_EQ(values[2]->size(), kIniValueLimit);
  EXPECT_FALSE(values[3]);  // only the first section of a name counts
  EXPECT_EQ(values[4], "first");
  EXPECT_FALSE(ReadIniKeys(tmp / "missing", "Messages", {"a"})[0]);
}

TEST(IniKeys, OverlongLinesAndBinaryDataAreSkipped) {
  TempDir tmp;
  std::string text = "[S]\nx=" + std::string(3 * kIniLineLimit, 'y') + "k=hidden\n";
  for (int i = 0; i < 200000; ++i) text += static_cast<char>((i * 7919) & 0xFF);
  text += "\n[S]\nk=second section\n";
  WriteFile(tmp / "b.lng", text);
  EXPECT_FALSE(ReadIniKeys(tmp / "b.lng", "S", {"k"})[0]);
  WriteFile(tmp / "c.lng", text + "\n[T]\nk=found");  // no line break at the end
  EXPECT_EQ(ReadIniKeys(tmp / "c.lng", "T", {"k"})[0], "found");
}

TEST(ProfilePath, FollowsXdgConfigHomeElseHomeConfig) {
  const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = savedXdg ? savedXdg : "";
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(ProfilePath("vantrel.ini"), "/cfg/vantrel.ini");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(ProfilePath("vantrel.ini"), "/home/u/.config/vantrel.ini");
  EXPECT_EQ(ProfilePath("/abs/x.ini"), "/abs/x.ini");
  if (savedXdg) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

}  // namespace
}  // namespace vantrel::platform
