// Names as their archive's maker meant them: the Unicode Path and Comment
// fields, the code page of names without the UTF-8 flag (found by looking at
// the whole directory, or set by hand), and archives made by Info-ZIP zip,
// 7-Zip and Python at test time.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/codepages.h"
#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_names.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

using testing::BuildZip;
using testing::TEntrySpec;

std::vector<std::string> Names(TZipReader& r) {
  std::vector<std::string> out;
  for (int i = 0; i < r.Count(); ++i) out.push_back(r.Entry(i).Path());
  return out;
}

// "Привет мир.txt" and "Документы/отчёт.doc" in the three Cyrillic pages,
// "Müller Größe.txt" and "café.txt" in two Western ones, and Japanese,
// Simplified and Traditional Chinese names in theirs.
const std::string kRuHello = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80.txt";
const std::string kRuReport =
    "\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B/"
    "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.doc";
const std::string kDeMueller = "M\xC3\xBCller Gr\xC3\xB6\xC3\x9F" "e.txt";
const std::string kFrCafe = "caf\xC3\xA9.txt";
const std::string kJaTest = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.txt";  // テスト.txt
const std::string kJaFile =
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB.txt";
const std::string kZhRooms = "\xE4\xB8\x83\xE4\xB8\xAA\xE6\x88\xBF\xE9\x97\xB4.txt";  // 七个房间.txt
const std::string kZhHello = "\xE4\xBD\xA0\xE5\xA5\xBD.txt";                          // 你好.txt
const std::string kTwText = "\xE7\xB9\x81\xE9\xAB\x94\xE4\xB8\xAD\xE6\x96\x87.txt";    // 繁體中文.txt

struct TPageCase {
  const char* page;
  std::vector<std::string> raw;    // the stored bytes
  std::vector<std::string> names;  // what they stand for
};

const std::vector<TPageCase>& PageCases() {
  static const std::vector<TPageCase> cases = {
      {"CP866",
       {"\x8F\xE0\xA8\xA2\xA5\xE2 \xAC\xA8\xE0.txt", "\x84\xAE\xAA\xE3\xAC\xA5\xAD\xE2\xEB/\xAE\xE2\xE7\xF1\xE2.doc"},
       {kRuHello, kRuReport}},
      {"KOI8-R",
       {"\xF0\xD2\xC9\xD7\xC5\xD4 \xCD\xC9\xD2.txt", "\xE4\xCF\xCB\xD5\xCD\xC5\xCE\xD4\xD9/\xCF\xD4\xDE\xA3\xD4.doc"},
       {kRuHello, kRuReport}},
      {"CP1251",
       {"\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0.txt", "\xC4\xEE\xEA\xF3\xEC\xE5\xED\xF2\xFB/\xEE\xF2\xF7\xB8\xF2.doc"},
       {kRuHello, kRuReport}},
      // CP437 has the same letters where these names have theirs: both
      // pages read them alike, and the first in the list is taken.
      {"CP437", {"M\x81ller Gr\x94\xE1" "e.txt", "caf\x82.txt"}, {kDeMueller, kFrCafe}},
      {"CP850", {"S\xC6o Paulo.txt", "Jo\xC6o.txt"}, {"S\xC3\xA3o Paulo.txt", "Jo\xC3\xA3o.txt"}},
      {"CP1252", {"M\xFCller Gr\xF6\xDF" "e.txt", "caf\xE9.txt"}, {kDeMueller, kFrCafe}},
      {"CP932",
       {"\x83\x65\x83\x58\x83\x67.txt", "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B.txt"},
       {kJaTest, kJaFile}},
      {"CP936", {"\xC6\xDF\xB8\xF6\xB7\xBF\xBC\xE4.txt", "\xC4\xE3\xBA\xC3.txt"}, {kZhRooms, kZhHello}},
      {"CP950", {"\xC1\x63\xC5\xE9\xA4\xA4\xA4\xE5.txt"}, {kTwText}},
  };
  return cases;
}

TEST(CodePages, EachPageConvertsItsNamesAndIsTheOneDetected) {
  for (const TPageCase& c : PageCases()) {
    SCOPED_TRACE(c.page);
    for (size_t i = 0; i < c.raw.size(); ++i)
      EXPECT_EQ(NameFromPage(c.raw[i], c.page), c.names[i]);
    // No locale to lean on: the text alone decides.
    EXPECT_EQ(DetectCodePage(c.raw, ""), c.page);
  }
}

TEST(CodePages, DetectionCornerCases) {
  const struct {
    const char* what;
    std::vector<std::string> raw;
    const char* preferred;
    const char* page;
  } cases[] = {
      {"every name valid UTF-8", {kRuHello, "plain.txt"}, "CP866", "UTF-8"},
      {"nothing to go by", {}, "CP866", "CP437"},
      // Two bytes that read as Hangul in CP949 and as hanzi in CP936 score
      // alike: the locale breaks the tie, the list's order without one.
      {"tie, Korean locale", {"\xBE\xC8\xB3\xE7.txt"}, "CP949", "CP949"},
      {"tie, no locale", {"\xBE\xC8\xB3\xE7.txt"}, "", "CP936"},
      // One name that is no text in a double-byte page rules that page out.
      {"a broken lead byte", {"\x8F\xE0\xA8\xA2\xA5\xE2", "end\x83"}, "CP932", "CP866"},
  };
  for (const auto& c : cases) EXPECT_EQ(DetectCodePage(c.raw, c.preferred), c.page) << c.what;
}

TEST(CodePages, NamesThatAreNoTextInThePageFallBackToCp437AndBackslashesBecomeSlashes) {
  // A lead byte at the end is no CP932 text: the entry keeps a name.
  EXPECT_EQ(NameFromPage("a\x83", "CP932"), "a\xC3\xA2");
  // In CP932 0x5C after a lead byte is part of a character, alone a separator.
  EXPECT_EQ(NameFromPage("\x83\x5C\\x.txt", "CP932"), "\xE3\x82\xBD/x.txt");  // ソ/x.txt
  EXPECT_EQ(platform::NameCodePageOfLocale("ru_RU.UTF-8"), "CP866");
  EXPECT_EQ(platform::NameCodePageOfLocale("zh_TW.UTF-8"), "CP950");
  EXPECT_EQ(platform::NameCodePageOfLocale("C.UTF-8"), "");
  EXPECT_FALSE(platform::IsKnownCodePage("NO-SUCH-PAGE"));
  EXPECT_TRUE(platform::IsKnownCodePage("koi8-r"));
}

// The Unicode Path field of `text` for the stored bytes `stored`, with a CRC
// that may be spoiled and a version that may be another.
std::string UnicodePath(const std::string& text, const std::string& stored, uint32_t crcXor = 0,
                        uint8_t version = 1, uint16_t id = kUnicodePathExtraId) {
  std::string f;
  testing::Put16(f, id);
  testing::Put16(f, static_cast<uint16_t>(5 + text.size()));
  f += static_cast<char>(version);
  testing::Put32(f, testing::ZCrc(stored) ^ crcXor);
  return f + text;
}

TEST(UnicodeFields, UsedOnlyWhenTheyBelongToTheStoredBytes) {
  const std::string stored = "\xC4\xE3\xBA\xC3.txt";  // 你好.txt in CP936
  const struct {
    const char* what;
    std::string extra;
    bool used;
  } cases[] = {
      {"matching CRC", UnicodePath(kZhHello, stored), true},
      {"after another field", std::string("\x55\x54\x05\x00\x01\x00\x00\x00\x00", 9) + UnicodePath(kZhHello, stored), true},
      {"CRC of other bytes", UnicodePath(kZhHello, stored, 1), false},
      {"version 2", UnicodePath(kZhHello, stored, 0, 2), false},
      {"not UTF-8", UnicodePath("\xFF\xFE.txt", stored), false},
      {"cut short", UnicodePath(kZhHello, stored).substr(0, 12), false},
      {"the comment's id", UnicodePath(kZhHello, stored, 0, 1, kUnicodeCommentExtraId), false},
  };
  for (const auto& c : cases) {
    const auto text = UnicodeExtraText(reinterpret_cast<const uint8_t*>(c.extra.data()), c.extra.size(),
                                       kUnicodePathExtraId, stored);
    EXPECT_EQ(text.has_value(), c.used) << c.what;
    if (c.used && text) { EXPECT_EQ(*text, kZhHello) << c.what; }
  }
}

class ZipNamesTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = tmp_ / name;
    test::WriteFile(path, bytes);
    return path;
  }
  test::TempDir tmp_;
};

TEST_F(ZipNamesTest, TheFlagThenTheUnicodePathThenTheArchivesPage) {
  // The UTF-8 flag wins over a field; a field whose CRC fits wins over the
  // page; a stale field leaves the bytes to the page (CP936, detected from
  // the names that need it).
  std::vector<TEntrySpec> entries(4);
  entries[0] = {kJaTest, "a"};
  entries[0].flags = kFlagUtf8;
  entries[0].centralExtra = UnicodePath(kZhHello, kJaTest);
  entries[1] = {"??.txt", "b"};
  entries[1].centralExtra = UnicodePath(kZhRooms, "??.txt");
  entries[2] = {"\xC4\xE3\xBA\xC3.txt", "c"};
  entries[2].centralExtra = UnicodePath(kJaTest, "other bytes");
  entries[3] = {"\xC6\xDF\xB8\xF6\xB7\xBF\xBC\xE4.txt", "d"};
  TZipReader r;
  r.SetZipName(Write("mixed.zip", BuildZip(entries)));
  r.ReadZip();
  EXPECT_EQ(Names(r), (std::vector<std::string>{kJaTest, kZhRooms, kZhHello, kZhRooms}));
  EXPECT_EQ(r.CodePageUsed(), "CP936");
}

TEST_F(ZipNamesTest, APageSetByHandRereadsTheNamesAndExtractsUnderThem) {
  std::vector<TEntrySpec> entries;
  const TPageCase& koi = PageCases()[1];
  for (const std::string& raw : koi.raw) entries.push_back({raw, "data of " + raw});
  const std::string zip = Write("koi.zip", BuildZip(entries));
  TZipReader r;
  r.SetZipName(zip);
  r.ReadZip();
  EXPECT_EQ(Names(r), koi.names);
  EXPECT_EQ(r.CodePageUsed(), "KOI8-R");
  // What a user sees choosing CP1251 for the same archive: the names change
  // at once, and extraction follows them.
  r.SetCodePage("CP1251");
  r.ReadZip();
  EXPECT_EQ(r.CodePageUsed(), "CP1251");
  EXPECT_EQ(Names(r)[0], NameFromPage(koi.raw[0], "CP1251"));
  r.SetCodePage(std::string(kCodePageAuto));
  r.SetDestDir(tmp_ / "out");
  r.DoAll = r.RecreateDirs = true;
  ASSERT_EQ(r.UnZip(), 2);
  for (size_t i = 0; i < koi.names.size(); ++i)
    EXPECT_EQ(test::ReadFile(tmp_ / ("out/" + koi.names[i])), "data of " + koi.raw[i]);
}

TEST_F(ZipNamesTest, UnicodeCommentFieldAndCommentsInTheArchivesPage) {
  std::vector<TEntrySpec> entries(3);
  entries[0] = {"a.txt", "a"};
  entries[0].comment = "\x8F\xE0\xA8\xA2\xA5\xE2";  // Привет in CP866
  entries[0].centralExtra = UnicodePath("\xE2\x9C\x93 checked", entries[0].comment, 0, 1, kUnicodeCommentExtraId);
  entries[1] = {"\x8F\xE0\xA8\xA2\xA5\xE2.txt", "b"};
  entries[1].comment = "\x8F\xE0\xA8\xA2\xA5\xE2";
  entries[2] = {"c.txt", "c"};
  entries[2].comment = "plain";
  TZipReader r;
  r.SetZipName(Write("comments.zip", BuildZip(entries)));
  r.ReadZip();
  EXPECT_EQ(r.FileCommentText(0), "\xE2\x9C\x93 checked");
  EXPECT_EQ(r.FileCommentText(1), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
  EXPECT_EQ(r.FileCommentText(2), "plain");
  // The stored bytes stay what they were.
  EXPECT_EQ(r.FileComment(1), entries[1].comment);
}

TEST_F(ZipNamesTest, WrittenNamesCarryAUnicodePathFieldOnlyWhenAsked) {
  const std::string dir = tmp_ / "src";
  test::MakeDir(dir);
  test::WriteFile(dir + "/" + kRuHello, "x");
  test::WriteFile(dir + "/plain.txt", "y");
  for (const bool asked : {false, true}) {
    SCOPED_TRACE(asked);
    const std::string zip = tmp_ / (asked ? "with.zip" : "without.zip");
    TZipWriter w;
    w.SetZipName(zip);
    w.SetRootDir(dir);
    w.SetRelativePaths(true);
    w.UnicodePathField = asked;
    w.AddFile(dir + "/" + kRuHello);
    w.AddFile(dir + "/plain.txt");
    ASSERT_EQ(w.Zip(), 2);
    // Python reads the fields the archive has; zipinfo says which.
    std::string out;
    ASSERT_EQ(test::RunCommand("zipinfo -v '" + zip + "'", &out), 0);
    EXPECT_EQ(out.find("0x7075") != std::string::npos, asked);
    TZipReader r;
    r.SetZipName(zip);
    r.ReadZip();
    EXPECT_EQ(Names(r), (std::vector<std::string>{kRuHello, "plain.txt"}));
  }
}

// Archives other programs make, read with the names those programs give.
TEST_F(ZipNamesTest, ArchivesOfInfoZip7ZipAndPython) {
  const std::string src = tmp_ / "src";
  test::MakeDir(src);
  test::WriteFile(src + "/" + kRuHello, "ru");
  // A KOI8-R name on disk, as an old Russian Unix system kept it.
  test::WriteFile(src + "/\xF0\xD2\xC9\xD7\xC5\xD4.koi", "koi");
  const std::string q = "cd '" + src + "' && ";
  const struct {
    const char* what;
    std::string command;  // makes x.zip in src
    std::vector<std::string> names;
  } cases[] = {
      {"zip, UTF-8 locale", q + "LC_ALL=C.UTF-8 zip -q x.zip '" + kRuHello + "'", {kRuHello}},
      {"zip, raw KOI8-R bytes", q + "LC_ALL=C zip -q x.zip *.koi",
       {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.koi"}},
      {"7zz, CP866", q + "7zz a -tzip -mcp=866 x.zip '" + kRuHello + "' >/dev/null", {kRuHello}},
      {"Python, CP932 bytes",
       q + "python3 -c \"import zipfile,sys\n"
           "class I(zipfile.ZipInfo):\n"
           "  def _encodeFilenameFlags(self): return self.filename.encode('cp932'), self.flag_bits\n"
           "z=zipfile.ZipFile('x.zip','w')\n"
           "for n in ['テスト.txt','日本語のファイル.txt']: z.writestr(I(n), b'j')\n"
           "z.close()\"",
       {kJaTest, kJaFile}},
      {"Python, Unicode Path field beside CP936 bytes",
       q + "python3 -c \"import zipfile,struct,zlib\n"
           "class I(zipfile.ZipInfo):\n"
           "  def _encodeFilenameFlags(self): return self.raw, self.flag_bits\n"
           "z=zipfile.ZipFile('x.zip','w')\n"
           "for n in ['七个房间.txt','你好.txt']:\n"
           "  i=I(n); i.raw=n.encode('gbk'); u=n.encode()\n"
           "  i.extra=struct.pack('<HHBI',0x7075,5+len(u),1,zlib.crc32(i.raw))+u\n"
           "  z.writestr(i, b'z')\n"
           "z.close()\"",
       {kZhRooms, kZhHello}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(src + "/x.zip");
    ASSERT_EQ(test::RunCommand(c.command), 0);
    TZipReader r;
    r.SetZipName(src + "/x.zip");
    r.ReadZip();
    EXPECT_EQ(Names(r), c.names);
  }
}

// The files 7-Zip extracts from archives of DOS and Windows archivers, name
// for name. 7zz decodes names through the C library's locale, so each page
// gets a locale of its own, built here (localedef); what 7zz writes in that
// locale is read back in the same page. Ours reads the page on its own.
TEST_F(ZipNamesTest, ExtractedNamesEqualSevenZipsWithItsCodePage) {
  if (test::RunCommand("command -v 7zz >/dev/null && command -v localedef >/dev/null") != 0)
    GTEST_SKIP() << "7zz or localedef not installed";
  const std::string locales = tmp_ / "locales";
  test::MakeDir(locales);
  const struct {
    const char* what;
    const char* python;   // the names' codec; "" for a Unicode Path field beside GBK bytes
    const char* locale;   // localedef -i, -f, the name made (empty: C.UTF-8)
    const char* charmap;
    const char* mcp;      // 7zz -mcp=
    std::vector<std::string> names;
  } cases[] = {
      {"CP866", "cp866", "ru_RU", "IBM866", "866",
       {"Привет.txt", "Документы/Отчёт за год.doc", "Мир.txt", "Ёлка №1.txt"}},
      {"KOI8-R", "koi8-r", "ru_RU", "KOI8-R", "20866", {"Привет.txt", "Документы/Отчёт за год.doc", "Мир.txt"}},
      {"CP932", "cp932", "ja_JP", "SHIFT_JIS", "932", {"テスト.txt", "日本語のファイル.txt", "資料/説明書.pdf"}},
      {"Unicode Path field", "", "", "", "", {"七个房间.txt", "你好.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = tmp_ / c.what;
    test::MakeDir(dir);
    // The archive as such archivers write it: host FAT, no UTF-8 flag.
    std::string names;
    for (const std::string& n : c.names) names += " '" + n + "'";
    ASSERT_EQ(test::RunCommand(
                  "cd '" + dir + "' && python3 -c \"import sys, zipfile, struct, zlib\n"
                  "class I(zipfile.ZipInfo):\n"
                  "  def _encodeFilenameFlags(self): return self.raw, self.flag_bits\n"
                  "codec = sys.argv[1]\n"
                  "with zipfile.ZipFile('x.zip', 'w') as z:\n"
                  "  for n in sys.argv[2:]:\n"
                  "    i = I(n); i.create_system = 0; i.raw = n.encode(codec or 'gbk')\n"
                  "    if not codec:\n"
                  "      u = n.encode(); i.extra = struct.pack('<HHBI', 0x7075, 5 + len(u), 1, zlib.crc32(i.raw)) + u\n"
                  "    z.writestr(i, n.encode())\n\" '" +
                  c.python + "'" + names),
              0);
    std::string env = "LC_ALL=C.UTF-8";
    if (*c.locale) {
      const std::string locale = std::string(c.locale) + "." + c.charmap;
      if (test::RunCommand("localedef -c -i " + std::string(c.locale) + " -f " + c.charmap + " '" + locales + "/" +
                           locale + "' >/dev/null 2>&1; test -d '" + locales + "/" + locale + "'") != 0)
        GTEST_SKIP() << "localedef cannot make " << locale;
      env = "LOCPATH='" + locales + "' LC_ALL=" + locale;
    }
    ASSERT_EQ(test::RunCommand("cd '" + dir + "' && " + env + " 7zz x -y -opeer " +
                               (*c.mcp ? std::string("-mcp=") + c.mcp + " " : std::string()) + "x.zip >/dev/null"),
              0);
    TZipReader r;
    r.SetZipName(dir + "/x.zip");
    r.SetDestDir(dir + "/ours");
    r.DoAll = r.RecreateDirs = true;
    ASSERT_EQ(r.UnZip(), static_cast<int>(c.names.size()));
    // Every file's path, each tree's names read in its own encoding.
    const auto files = [&](const std::string& tree, const char* codec) {
      std::string out;
      EXPECT_EQ(test::RunCommand("cd '" + dir + "' && python3 -c \"import os, sys\n"
                                 "found = []\n"
                                 "for d, _, fs in os.walk(sys.argv[1].encode()):\n"
                                 "  found += [os.path.relpath(os.path.join(d, f), sys.argv[1].encode()).decode(sys.argv[2])"
                                 " for f in fs]\n"
                                 "print('|'.join(sorted(found)))\" " +
                                     tree + " " + codec,
                                 &out),
                0);
      return out;
    };
    const std::string ours = files("ours", "utf-8");
    EXPECT_EQ(files("peer", *c.python ? c.python : "utf-8"), ours);
    // And both are the names meant, not two equal misreadings.
    for (const std::string& n : c.names) EXPECT_NE(ours.find(n), std::string::npos) << n;
  }
}

}  // namespace
}  // namespace vantrel::zip
