// Profile files: the reading rules users of INI files rely on, and writes
// that never leave a broken file behind.
#include "platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Sections and keys ignore case, values their surrounding blanks; the first
// of duplicate sections and keys wins; values keep 2047 characters; a
// missing key, section or file, an empty or binary file and a bad number give
// the default.
TEST(IniRead, ValuesAndDefaults) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "[General]\nEDITOR = vi \nk=first\nk=second\nHeight=tall\nWidth=0x258\n"
                           "[left panel]\nnamewidth=140\nlong=" + std::string(5000, 'x') +
                           "\n[general]\nk=third\nonly=later\n");
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  WriteFile(tmp / "bin.ini", garbage);
  WriteFile(tmp / "empty.ini", "");
  IniFile ini(tmp / "a.ini");
  EXPECT_EQ(ini.ReadString("GENERAL", "Editor", "x"), "vi");
  EXPECT_EQ(ini.ReadString("general", "K", ""), "first");
  EXPECT_EQ(ini.ReadInteger("LEFT PANEL", "NameWidth", 120), 140);
  EXPECT_EQ(ini.ReadInteger("General", "Width", 1), 600);
  EXPECT_EQ(ini.ReadString("left panel", "long", "").size(), 2047u);
  for (const char* key : {"Height", "only", "Viewer"}) EXPECT_EQ(ini.ReadInteger("General", key, 7), 7) << key;
  EXPECT_EQ(ini.ReadString("NOPE", "Editor", "dflt"), "dflt");
  for (const char* file : {"missing.ini", "empty.ini", "bin.ini"})
    EXPECT_EQ(IniFile(tmp / file).ReadInteger("General", "Height", 400), 400) << file;
}

TEST(IniRead, IntegersDecimalHexDollarAndGarbage) {
  // A system colour written in hexadecimal reads as the signed value it is saved as.
  const std::pair<const char*, int64_t> good[] = {
      {"-2147483643", -2147483643}, {"0x00FF00", 65280}, {"0X1f", 31}, {"$FF", 255}, {"0x80000005", -2147483643}};
  int64_t v = 0;
  for (const auto& [text, value] : good) EXPECT_TRUE(IniFile::ParseInteger(text, v) && v == value) << text;
  for (const char* bad : {"", "12a", "0x", "$", "ten", "0xFFFFFFFFF", "99999999999999999999999"})
    EXPECT_FALSE(IniFile::ParseInteger(bad, v)) << bad;
}

// A new file and section, then replaced in place; unrelated lines and
// comments stay, and a line break in a value cannot add keys.
TEST(IniWrite, CreatesFileAndSectionThenReplacesInPlace) {
  TempDir tmp;
  IniFile ini(tmp / "new.ini");
  ASSERT_TRUE(ini.WriteString("GENERAL", "Editor", "vi"));
  ASSERT_TRUE(ini.WriteInteger("GENERAL", "Height", 0));
  ASSERT_TRUE(ini.WriteInteger("COLOR", "Back", -2147483643));
  ASSERT_TRUE(ini.WriteString("general", "EDITOR", "emacs"));
  EXPECT_EQ(ReadFile(tmp / "new.ini"), "[GENERAL]\nEDITOR=emacs\nHeight=0\n\n[COLOR]\nBack=-2147483643\n");
  EXPECT_EQ(ini.ReadInteger("COLOR", "Back", 0), -2147483643);

  WriteFile(tmp / "a.ini", "; mine\n[A]\nx=1\n\n[B]\ny=2\n");
  IniFile other(tmp / "a.ini");
  ASSERT_TRUE(other.WriteString("A", "z", "3"));
  ASSERT_TRUE(other.WriteString("B", "path", "a\n[EVIL]\nx=1"));
  EXPECT_EQ(ReadFile(tmp / "a.ini"), "; mine\n[A]\nx=1\nz=3\n\n[B]\ny=2\npath=a [EVIL] x=1\n");
  EXPECT_EQ(other.ReadString("EVIL", "x", "none"), "none");

  // An update writes once at its end, and reads see the pending values; no
  // temporary file is left behind.
  other.BeginUpdate();
  ASSERT_TRUE(other.WriteInteger("A", "x", 2) && other.WriteInteger("A", "m", 3));
  EXPECT_EQ(other.ReadInteger("A", "x", 0), 2);
  EXPECT_EQ(ReadFile(tmp / "a.ini"), "; mine\n[A]\nx=1\nz=3\n\n[B]\ny=2\npath=a [EVIL] x=1\n");
  ASSERT_TRUE(other.EndUpdate());
  EXPECT_EQ(ReadFile(tmp / "a.ini"), "; mine\n[A]\nx=2\nz=3\nm=3\n\n[B]\ny=2\npath=a [EVIL] x=1\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 2);
}

// A path through a regular file can never be written; a file without write
// permission bits is not written either, not even by root; a file that cannot
// be read (a directory in its place) is not replaced by its new keys alone.
// Writes fail, directly or at the end of an update, and the file stays whole.
TEST(IniWrite, UnwritableAndUnreadableFilesStayWhole) {
  TempDir tmp;
  WriteFile(tmp / "a.ini", "[S]\nk=old\n");
  ASSERT_EQ(chmod((tmp / "a.ini").c_str(), 0444), 0);
  std::filesystem::create_directory(tmp / "d.ini");
  for (const char* name : {"a.ini/inner.ini", "a.ini", "d.ini"}) {
    IniFile ini(tmp / name);
    EXPECT_FALSE(ini.WriteString("S", "k", "new")) << name;
    ini.BeginUpdate();
    ini.WriteString("S", "k", "new");
    EXPECT_FALSE(ini.EndUpdate()) << name;
  }
  EXPECT_EQ(ReadFile(tmp / "a.ini"), "[S]\nk=old\n");
  EXPECT_TRUE(std::filesystem::is_directory(tmp / "d.ini"));
}

// The settings file as users leave it. A symbolic link (also one to a file
// that does not exist yet, and a chain of them) is written through: its
// target gets the keys and the link stays a link. A byte order mark is
// skipped, so the first section is read and written as the first section. A
// line no setting can be is skipped and named, the rest read, and it is not
// written back. The file is read once: a change on disk after the first read
// is not seen, and every key of thousands is found.
TEST(IniFile, LinksByteOrderMarksLongLinesAndManyKeys) {
  TempDir tmp;
  namespace fs = std::filesystem;
  fs::create_directories(tmp / "real");
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> links;  // link, target
    std::string target;  // the file written
  } links[] = {
      {"link", {{"a.ini", "real/a.ini"}}, "real/a.ini"},
      {"link to a file not there yet", {{"b.ini", "real/b.ini"}}, "real/b.ini"},
      {"chain of links", {{"c.ini", "c2.ini"}, {"c2.ini", "real/c.ini"}}, "real/c.ini"},
  };
  for (const auto& row : links) {
    SCOPED_TRACE(row.what);
    if (row.target != "real/b.ini") WriteFile(tmp / row.target, "[GENERAL]\nEditor=vi\n");
    for (const auto& [link, target] : row.links) fs::create_symlink(target, tmp / link);
    IniFile ini(tmp / row.links.front().first);
    ASSERT_TRUE(ini.WriteString("GENERAL", "Viewer", "less"));
    for (const auto& [link, target] : row.links) EXPECT_TRUE(fs::is_symlink(tmp / link)) << link;
    EXPECT_EQ(ReadFile(tmp / row.target), row.target == "real/b.ini" ? "[GENERAL]\nViewer=less\n"
                                                                      : "[GENERAL]\nEditor=vi\nViewer=less\n");
  }

  WriteFile(tmp / "bom.ini", "\xEF\xBB\xBF[GENERAL]\nEditor=vi\n[FONT]\nSize=12\n");
  IniFile bom(tmp / "bom.ini");
  EXPECT_EQ(bom.ReadString("GENERAL", "Editor", "notepad.exe"), "vi");
  ASSERT_TRUE(bom.WriteString("GENERAL", "Viewer", "less"));
  EXPECT_EQ(ReadFile(tmp / "bom.ini"), "[GENERAL]\nEditor=vi\nViewer=less\n[FONT]\nSize=12\n");

  const std::string longLine = "Junk=" + std::string(3 * kIniLineLimit, 'j');
  WriteFile(tmp / "long.ini", "[A]\nx=1\n" + longLine + "\ny=2\n[B]\nz=3\n");
  IniFile junk(tmp / "long.ini");
  EXPECT_EQ(junk.Warnings(),
            std::vector<std::string>{"line 3: " + std::to_string(longLine.size()) + " bytes, skipped"});
  EXPECT_EQ(junk.ReadString("A", "Junk", "none") + junk.ReadString("A", "y", "") + junk.ReadString("B", "z", ""),
            "none23");
  ASSERT_TRUE(junk.WriteInteger("B", "z", 4));
  EXPECT_EQ(ReadFile(tmp / "long.ini"), "[A]\nx=1\ny=2\n[B]\nz=4\n");

  std::string many;
  for (const char* section : {"MASK HISTORY", "COMMAND HISTORY", "HOTLIST", "LEFT HISTORY", "RIGHT HISTORY"}) {
    many += std::string("[") + section + "]\nCount=500\n";
    for (int i = 1; i <= 500; ++i) many += "Item" + std::to_string(i) + "=" + section + std::to_string(i) + "\n";
  }
  WriteFile(tmp / "many.ini", many);
  IniFile lists(tmp / "many.ini");
  EXPECT_EQ(lists.ReadString("hotlist", "ITEM250", ""), "HOTLIST250");
  WriteFile(tmp / "many.ini", "[HOTLIST]\nItem250=changed on disk\n");  // read once: not seen
  int found = 0;
  for (const char* section : {"MASK HISTORY", "COMMAND HISTORY", "HOTLIST", "LEFT HISTORY", "RIGHT HISTORY"})
    for (int i = 1; i <= 500; ++i)
      found += lists.ReadString(section, "Item" + std::to_string(i), "") == section + std::to_string(i);
  EXPECT_EQ(found, 2500);
  lists.BeginUpdate();
  for (int i = 1; i <= 500; ++i) lists.WriteString("HOTLIST", "Item" + std::to_string(i), "new" + std::to_string(i));
  ASSERT_TRUE(lists.EndUpdate());
  EXPECT_EQ(IniFile(tmp / "many.ini").ReadString("HOTLIST", "Item500", ""), "new500");
  EXPECT_EQ(IniFile(tmp / "many.ini").ReadString("LEFT HISTORY", "Item7", ""), "LEFT HISTORY7");
}

// ReadIniKeys: one pass over files the user chose, whatever they hold; only
// the first section of a name counts; overlong lines and binary data are
// skipped, and the last line needs no line break.
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
  EXPECT_FALSE(values[3]);
  EXPECT_EQ(values[4], "first");
  EXPECT_FALSE(ReadIniKeys(tmp / "missing", "Messages", {"a"})[0]);

  std::string text = "[S]\nx=" + std::string(3 * kIniLineLimit, 'y') + "k=hidden\n";
  for (int i = 0; i < 200000; ++i) text += static_cast<char>((i * 7919) & 0xFF);
  WriteFile(tmp / "b.lng", text + "\n[S]\nk=second section\n[T]\nk=found");
  EXPECT_FALSE(ReadIniKeys(tmp / "b.lng", "S", {"k"})[0]);
  EXPECT_EQ(ReadIniKeys(tmp / "b.lng", "T", {"k"})[0], "found");
}

}  // namespace
}  // namespace vantrel::platform
