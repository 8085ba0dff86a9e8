// The listing behind a panel: sort rules, the lines it reports, marks and the
// cursor, and reading real directories (root, "..", odd names, failures).
#include "panels/dirmodel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace vantrel::panels {
namespace {

using test::TempDir;
using Names = std::vector<std::string>;

std::unique_ptr<TFileEntry> Entry(std::string name, bool dir = false, uint64_t size = 0,
                                  platform::FileTime created = 0, platform::FileTime written = 0) {
  auto e = std::make_unique<TFileEntry>();
  e->FileName = std::move(name);
  e->FileAttributes = dir ? platform::kAttrDirectory : platform::kAttrArchive;
  e->FileSize = size;
  e->CreationTime = created;
  e->LastWriteTime = written;
  return e;
}

// Files named `names`, each as large as its name is long, and "..".
TPanelModel::Entries Listing(const Names& names) {
  TPanelModel::Entries entries;
  for (const auto& n : names) entries.push_back(Entry(n, n == "..", n == ".." ? 0 : n.size()));
  return entries;
}

Names NamesOf(const TPanelModel& m) {
  Names out;
  for (const auto& e : m.GetEntries()) out.push_back(e->FileName);
  return out;
}

// ".." first and directories before files in every order; names without
// case; sizes (64-bit) and creation times larger first, names breaking ties;
// extensions without one first; descending reverses within each group.
TEST(SortOrder, EveryOrderOnOneListing) {
  const struct {
    uint8_t order;
    bool descending;
    Names names;
  } cases[] = {
      {kSortByName, false, {"..", "Alpha", "beta.dir", "a.bat", "A.txt", "b.txt", "readme", "z.TXT"}},
      {9, false, {"..", "Alpha", "beta.dir", "a.bat", "A.txt", "b.txt", "readme", "z.TXT"}},
      {kSortByName, true, {"..", "beta.dir", "Alpha", "z.TXT", "readme", "b.txt", "A.txt", "a.bat"}},
      {kSortByExt, false, {"..", "Alpha", "beta.dir", "readme", "a.bat", "A.txt", "b.txt", "z.TXT"}},
      {kSortBySize, false, {"..", "Alpha", "beta.dir", "readme", "z.TXT", "A.txt", "b.txt", "a.bat"}},
      {kSortByDate, false, {"..", "beta.dir", "Alpha", "readme", "A.txt", "b.txt", "z.TXT", "a.bat"}},
      {kSortByTime, false, {"..", "beta.dir", "Alpha", "readme", "A.txt", "b.txt", "z.TXT", "a.bat"}},
  };
  for (const auto& c : cases) {
    TPanelModel m;
    m.SortEntries(c.order);  // nothing listed yet: only checks it copes
    TPanelModel::Entries in;
    for (const auto& [name, dir, size, created, written] :  // a.bat: written last, created early
         std::initializer_list<std::tuple<const char*, bool, uint64_t, int, int>>{
             {"b.txt", false, 5, 300, 0}, {"Alpha", true, 0, 1, 0}, {"z.TXT", false, 4000000000ULL, 100, 0},
             {"..", true, 0, 0, 0}, {"a.bat", false, 1, 50, 900}, {"readme", false, 5000000000ULL, 500, 0},
             {"beta.dir", true, 0, 200, 0}, {"A.txt", false, 5, 300, 0}})
      in.push_back(Entry(name, dir, size, created, written));
    m.SetEntries(std::move(in));
    m.SetSortDescending(c.descending);  // no directory: only the order changes
    m.SortEntries(c.order);
    EXPECT_EQ(NamesOf(m), c.names) << int(c.order) << (c.descending ? " descending" : "");
  }
}

// The columns' texts, the info and disk lines; 2026-02-03T08:05:00Z is 09:05
// in Europe/Berlin, the tests' time zone.
TEST(EntryTexts, NamesExtensionsSizesDatesAndLines) {
  const auto tgz = Entry("archive.tar.gz", false, 1234567), profile = Entry(".profile"), dir = Entry("my.dir", true);
  const auto t = platform::FileTimeFromUnix(1770105900, 0);
  EXPECT_EQ(Names({NameText(*tgz), ExtText(*tgz), SizeText(*tgz), NameText(*profile), ExtText(*profile),
                   NameText(*dir), ExtText(*dir), SizeText(*dir), InfoLine(*Entry("WINDOWS", true)),
                   InfoLine(*Entry("readme.txt", false, 1234)), DateText(t), TimeText(t),
                   DiskSpaceLine(1048576, 1509949440), DiskSpaceLine(1048577, 8389656166ULL), DiskSpaceLine(0, 0)}),
            Names({"archive.tar", ".gz", "1,234,567", ".profile", "", "my.dir", "", "DIR", "[WINDOWS]:  DIRECTORY",
                   "readme.txt- size:1,234 bytes.", "03.02.2026", "09:05", "1,048,576.00 bytes of 1,440.00 Mb free",
                   "1.00 Mb of 8,001.00 Mb free", "0.00 bytes of 0.00 bytes free"}));
}

// A translation rewords the lines; what is filled in is never read as a
// placeholder, and the English wording comes back.
TEST(EntryTexts, TranslatedLines) {
  TPanelTexts german;
  german.directoryLine = "[%1]:  VERZEICHNIS";
  german.fileLine = "%1 - Größe: %2 Bytes";
  german.spaceLine = "%1 frei von %2";
  german.megabytes = "%1 MB";
  german.markedLine = "%1 markiert: %2 Bytes";
  SetPanelTexts(german);
  const auto dir = Entry("d%1", true), file = Entry("%2.txt", false, 1234);
  EXPECT_EQ(Names({InfoLine(*dir), InfoLine(*file), DiskSpaceLine(1048577, 20), MarkedLine(3, 4096)}),
            Names({"[d%1]:  VERZEICHNIS", "%2.txt - Größe: 1,234 Bytes", "1.00 MB frei von 20.00 bytes",
                   "3 markiert: 4,096 Bytes"}));
  SetPanelTexts(TPanelTexts());
  EXPECT_EQ(InfoLine(*file), "%2.txt- size:1,234 bytes.");
  EXPECT_EQ(FillIn("%2 before %1, %%1 and %3", "one", "two"), "two before one, %one and %3");
}

// A line with a count of bytes in a language with three plural forms: each
// count takes its form, a text with fewer forms keeps its last, one without
// forms is whole; without a rule the first form is for 1 only.
TEST(EntryTexts, CountedLinesTakeTheFormOfTheirCount) {
  TPanelTexts texts;
  const struct {
    const char* text;
    bool rule;  // the three-form rule below, or none
    uint64_t n;
    const char* form;
  } cases[] = {
      {"one %1|few %1|many %1", true, 1, "one %1"},  {"one %1|few %1|many %1", true, 3, "few %1"},
      {"one %1|few %1|many %1", true, 7, "many %1"}, {"one %1|other %1", true, 7, "other %1"},
      {"%1 bytes", true, 7, "%1 bytes"},             {"%1 bytes", true, 1, "%1 bytes"},
      {"one %1|other %1", false, 1, "one %1"},       {"one %1|other %1", false, 0, "other %1"},
      {"one %1|other %1", false, 21, "other %1"},    {"|other", false, 1, ""},
  };
  for (const auto& c : cases) {
    texts.formOf = nullptr;
    if (c.rule) texts.formOf = [](uint64_t n) -> size_t { return n == 1 ? 0 : n < 5 ? 1 : 2; };
    EXPECT_EQ(CountedForm(texts, c.text, c.n), c.form) << c.text << " " << c.n;
  }

  // The lines as a panel shows them.
  texts.fileLine = "%1: %2 byte|%1: %2 bytes";
  texts.markedLine = "%1 marked, %2 byte|%1 marked, %2 bytes";
  texts.markedCount = "%1 entry|%1 entries";
  texts.packedFileLine = "%1: %2 byte, |%1: %2 bytes, ";
  texts.packedPart = "%1 packed byte|%1 packed bytes";
  texts.formOf = nullptr;
  SetPanelTexts(texts);
  auto packed = Entry("p.bin", false, 1);
  packed->HasPackedSize = true;
  packed->PackedSize = 3;
  EXPECT_EQ(Names({InfoLine(*Entry("a", false, 1)), InfoLine(*Entry("b", false, 1000)), MarkedLine(2, 1),
                   MarkedLine(1, 2), InfoLine(*packed)}),
            Names({"a: 1 byte", "b: 1,000 bytes", "2 entries marked, 1 byte", "1 entry marked, 2 bytes",
                   "p.bin: 1 byte, 3 packed bytes"}));
  SetPanelTexts(TPanelTexts());
}

// The marks' line in pieces around the count, which a narrow panel keeps
// longest: wherever the wording puts the count, with a "%" or a count's own
// "%1" before it, and with no count at all.
TEST(EntryTexts, MarkedLinePiecesSurroundTheCount) {
  const struct {
    const char* line;
    const char* count;
    int marked;
    uint64_t bytes;
    const char* head;
    const char* shown;  // the count as filled in
    const char* tail;
  } cases[] = {
      {"Marked %1: %2 bytes", "%1", 1234567, 736674304, "Marked ", "1,234,567", ": 736,674,304 bytes"},
      {"%2 bytes in %1", "%1 entry|%1 entries", 3, 12, "12 bytes in ", "3 entries", ""},
      {"%1, %2", "[%1]", 1, 1, "", "[1]", ", 1"},
      {"100% of %2 in %1 (%1)", "%1", 2, 5, "100% of 5 in ", "2", " (2)"},
      {"%%1 marked: %2", "%1", 4, 9, "%", "4", " marked: 9"},
      {"%2 bytes marked", "%1", 5, 7, "7 bytes marked", "", ""},
  };
  for (const auto& c : cases) {
    TPanelTexts texts;
    texts.markedLine = c.line;
    texts.markedCount = c.count;
    SetPanelTexts(texts);
    const TLinePieces pieces = MarkedLinePieces(c.marked, c.bytes);
    EXPECT_EQ(Names({pieces.head, pieces.middle, pieces.tail}), Names({c.head, c.shown, c.tail})) << c.line;
    EXPECT_EQ(pieces.Whole(), FillIn(c.line, c.shown, platform::FormatThousands(c.bytes))) << c.line;
  }
  SetPanelTexts(TPanelTexts());
}

// The file line in pieces around the entry's name, which a narrow panel
// shortens: the usual lines, a source's own line built around them, the
// name found after the words that precede it in the usual line (not inside
// them), and a line without the name.
TEST(EntryTexts, EntryLinePiecesSurroundTheName) {
  const auto entry = [](const char* name, bool directory, uint64_t size, uint64_t packed) {
    TFileEntry e;
    e.FileName = name;
    e.FileSize = size;
    e.FileAttributes = directory ? platform::kAttrDirectory : 0;
    e.HasPackedSize = packed > 0;
    e.PackedSize = packed;
    return e;
  };
  const struct {
    TFileEntry entry;
    const char* line;  // what the source says; "" for the usual line
    const char* head;
    const char* tail;
  } cases[] = {
      {entry("report.pdf", false, 1234, 0), "", "", "- size:1,234 bytes."},
      {entry("my.dir", true, 0, 0), "", "[", "]:  DIRECTORY"},
      {entry("[", true, 0, 0), "", "[", "]:  DIRECTORY"},
      {entry("photo.jpg", false, 1234567, 1000), "", "", "- size:1,234,567 bytes, packed:1,000 bytes."},
      {entry("b\xff\xfe.bin", false, 2, 0), "", "", "- size:2 bytes."},
      {entry("p.txt", false, 5, 0), "p.txt- size:5 bytes, from /home/p.txt/x", "", "- size:5 bytes, from /home/p.txt/x"},
      {entry("s", false, 2, 0), "Was: s- size:2 bytes, encrypted.", "Was: ", "- size:2 bytes, encrypted."},
      {entry("gone", false, 2, 0), "nothing about it", "nothing about it", ""},
  };
  for (const auto& c : cases) {
    const TLinePieces pieces = *c.line ? EntryLinePieces(c.entry, c.line) : InfoLinePieces(c.entry);
    const bool named = pieces.head != c.line || !*c.line;
    EXPECT_EQ(Names({pieces.head, pieces.middle, pieces.tail}),
              Names({c.head, named ? c.entry.FileName : "", c.tail}))
        << c.entry.FileName;
    EXPECT_EQ(pieces.Whole(), *c.line ? std::string(c.line) : InfoLine(c.entry)) << c.entry.FileName;
  }
  // With another wording: the name where the wording puts it, in each form.
  TPanelTexts texts;
  texts.fileLine = "%2 bytes (%1)|%2 bytes in %1";
  texts.directoryLine = "Directory %1";
  SetPanelTexts(texts);
  const TLinePieces one = InfoLinePieces(entry("a.b", false, 1, 0));
  const TLinePieces many = InfoLinePieces(entry("a.b", false, 3000, 0));
  const TLinePieces directory = InfoLinePieces(entry("d", true, 0, 0));
  SetPanelTexts(TPanelTexts());
  EXPECT_EQ(Names({one.head, one.middle, one.tail}), Names({"1 bytes (", "a.b", ")"}));
  EXPECT_EQ(Names({many.head, many.middle, many.tail}), Names({"3,000 bytes in ", "a.b", ""}));
  EXPECT_EQ(Names({directory.head, directory.middle, directory.tail}), Names({"Directory ", "d", ""}));
}

// A leading dot makes a hidden name, not an extension: only a dot after
// some other character starts one, and the last such dot wins.
TEST(EntryTexts, LeadingDotsBelongToTheName) {
  const struct {
    const char* name;
    const char* shownName;
    const char* ext;
  } cases[] = {
      {".hiddenfile", ".hiddenfile", ""}, {"..conf", "..conf", ""},   {"...", "...", ""},
      {".bashrc.bak", ".bashrc", ".bak"}, {"a.b", "a", ".b"},          {"a.tar.gz", "a.tar", ".gz"},
      {"trailing.", "trailing", "."},     {"noext", "noext", ""},     {"x.", "x", "."},
  };
  for (const auto& c : cases) {
    const auto e = Entry(c.name);
    EXPECT_EQ(NameText(*e), c.shownName) << c.name;
    EXPECT_EQ(ExtText(*e), c.ext) << c.name;
    EXPECT_EQ(ExtensionOf(c.name), c.ext) << c.name;
  }
  // Sorted by extension, hidden names go with the names that have none.
  TPanelModel m;
  m.SetEntries(Listing({"z.txt", ".hiddenfile", ".x.txt", "m"}));
  m.SortEntries(kSortByExt);
  EXPECT_EQ(NamesOf(m), Names({".hiddenfile", "m", ".x.txt", "z.txt"}));
}

// ".." is never gathered: marked alone it gives way to the entry under the
// cursor, unless that is ".." too. The mark count and bytes follow every
// change. Name lookups are exact and give 0 when nothing matches.
TEST(Marks, GatheredEntriesCountsAndLookups) {
  TPanelModel m;
  EXPECT_EQ(m.CurrentEntry(), nullptr);
  EXPECT_TRUE(m.GetMarkedEntries().empty());
  m.SetCursor(5);
  EXPECT_EQ(m.Cursor(), 0);
  m.SetEntries(Listing({"..", "a.txt", "b.txt"}));
  auto gathered = [&] {
    Names out;
    for (const TFileEntry* entry : m.GetMarkedEntries()) out.push_back(entry->FileName);
    return out;
  };
  m.SetMarked(0, true);
  EXPECT_EQ(gathered(), Names{});
  m.SetCursor(2);
  EXPECT_EQ(gathered(), Names{"b.txt"});
  m.SetMarked(1, true);
  m.SetMarked(2, true);
  m.SetMarked(2, true);
  EXPECT_EQ(gathered(), (Names{"a.txt", "b.txt"}));
  EXPECT_EQ(std::make_pair(m.MarkedCount(), m.MarkedBytes()), std::make_pair(3, uint64_t{10}));
  m.SetMarked(1, false);
  m.SetMarked(1, false);
  EXPECT_EQ(std::make_pair(m.MarkedCount(), m.MarkedBytes()), std::make_pair(2, uint64_t{5}));
  EXPECT_EQ(m.IndexOfName("b.txt"), 2);
  EXPECT_EQ(m.IndexOfName("B.TXT"), 0);
}

// A subdirectory: ".." first, the name normalised, the current directory of
// the process kept; reading again clears the marks and puts the cursor
// first; a new sort order reads again; a missing directory changes nothing.
// Names keep their bytes even when they are not UTF-8; a link carries the
// link bit and its target's directory bit; a directory that can be entered
// but not listed gives an empty panel (root lists every directory).
TEST(ReadDirectory, ListsNormalisesRereadsAndKeepsNames) {
  TempDir tmp;
  const std::string odd = "caf\xE9-\xFF.txt";
  test::MakeDir(tmp / "d/sub/real");
  test::WriteFile(tmp / "d/b.txt", "hello");
  test::WriteFile(tmp / "d/a.txt", "1");
  test::WriteFile(tmp / ("d/sub/" + odd), "x");
  ASSERT_EQ(symlink("real", (tmp / "d/sub/link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tmp / "d/sub/dangling").c_str()), 0);
  test::CurrentDirGuard guard;
  ASSERT_TRUE(platform::SetCurrentDir("/"));
  TPanelModel m;
  std::string dirLine, infoLine;
  m.OnDirectoryLine = [&](const std::string& s) { dirLine = s; };
  m.OnInfoLine = [&](const std::string& s) { infoLine = s; };
  ASSERT_TRUE(m.ReadDirectory(tmp / "d/sub/../"));
  EXPECT_EQ(NamesOf(m), (Names{"..", "sub", "a.txt", "b.txt"}));
  EXPECT_EQ(Names({m.Directory(), dirLine, platform::GetCurrentDir()}), Names({tmp / "d", tmp / "d", "/"}));
  EXPECT_NE(infoLine.find(" free"), std::string::npos);
  EXPECT_EQ(m.GetEntries()[3]->FileSize, 5u);
  m.SetMarked(1, true);
  m.SetCursor(2);
  m.SetSortType(kSortBySize);  // the mark and the cursor stay on their entries
  EXPECT_EQ(NamesOf(m), (Names{"..", "sub", "b.txt", "a.txt"}));
  EXPECT_EQ(std::make_pair(m.MarkedCount(), m.Cursor()), std::make_pair(1, 3));
  EXPECT_TRUE(m.IsMarked(1));
  m.SetCursor(1);
  std::string error;
  EXPECT_FALSE(m.ReadDirectory(tmp / "gone", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(std::make_tuple(m.Directory(), m.Count(), m.Cursor()), std::make_tuple(tmp / "d", 4, 1));
  // A listing without a model sorts and keeps the current directory too.
  TPanelModel::Entries entries;
  std::string line;
  ASSERT_TRUE(TPanelModel::ListDirectory(tmp / "d", kSortBySize, false, entries, line));
  EXPECT_EQ(entries[2]->FileName, "b.txt");
  EXPECT_FALSE(line.empty());
  EXPECT_EQ(platform::GetCurrentDir(), "/");
  EXPECT_FALSE(TPanelModel::ListDirectory(tmp / "missing", 0, false, entries, line));
  EXPECT_EQ(platform::NearestExistingDirectory(tmp / "d/missing/deeper"), tmp / "d");

  ASSERT_TRUE(m.ReadDirectory(tmp / "d/sub"));
  const uint32_t both = platform::kAttrDirectory | platform::kAttrReparsePoint;
  const auto attributes = [&](const std::string& n) { return m.GetEntries()[m.IndexOfName(n)]->FileAttributes & both; };
  EXPECT_EQ(m.GetEntries()[m.IndexOfName(odd)]->FileName, odd);
  EXPECT_EQ(test::ReadFile(platform::JoinPath(m.Directory(), odd)), "x");
  EXPECT_EQ(attributes("link"), both);
  EXPECT_EQ(attributes("dangling"), platform::kAttrReparsePoint);
  ASSERT_TRUE(m.ReadDirectory("/"));
  EXPECT_EQ(m.Directory(), "/");
  for (const auto& e : m.GetEntries()) EXPECT_NE(e->FileName, "..");
  if (geteuid() == 0) return;
  ASSERT_EQ(chmod((tmp / "d/sub/real").c_str(), 0100), 0);
  ASSERT_TRUE(m.ReadDirectory(tmp / "d/sub/real"));
  EXPECT_EQ(std::make_pair(m.Count(), m.Directory()), std::make_pair(0, tmp / "d/sub/real"));
}

// A prefix without case (non-ASCII folded both ways, "un" is a different
// letter), or a mask: "?" is one character, also a two-byte one; invalid
// bytes still compare.
TEST(QuickSearch, PrefixWithoutCaseAndWildcards) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"Ünïcode name.txt", "ün", true}, {"Ünïcode name.txt", "ÜNÏ", true}, {"Ünïcode name.txt", "un", false},
      {"Report.doc", "rep", true},      {"Report.doc", "port", false},   {"Report.doc", "*port", true},
      {"Report.doc", "r?p", true},      {"Über.txt", "?b", true},        {"Report.doc", "*.DOC", true},
      {"a", "ab", false},               {"anything", "", true},          {"\xff\xfe", "\xff", true}};
  for (const auto& [name, pattern, match] : cases)
    EXPECT_EQ(QuickSearchMatches(name, pattern), match) << name << " / " << pattern;
}

// A fresh listing keeps the cursor on the entry of the same name, or on the
// same index when it vanished, and the marks by name; the mark sum follows.
TEST(Refresh, KeepsCursorAndMarksByName) {
  TPanelModel m;
  ASSERT_TRUE(m.Refresh("", Listing({"b", "d", "f"}), ""));
  m.SetCursor(1);        // "d"
  m.SetMarked(0, true);  // "b"
  m.SetMarked(2, true);  // "f", which the next listing no longer has
  ASSERT_TRUE(m.Refresh("", Listing({"a", "b", "c", "d"}), "line"));
  EXPECT_EQ(m.CurrentEntry()->FileName, "d");
  EXPECT_TRUE(m.IsMarked(1));
  EXPECT_EQ(m.MarkedCount(), 1);
  EXPECT_EQ(m.MarkedBytes(), 1u);
  EXPECT_EQ(m.DiskLine(), "line");
  ASSERT_TRUE(m.Refresh("", Listing({"a", "b", "c"}), "line"));
  EXPECT_EQ(m.Cursor(), 2);  // "d" vanished: the last index that is left
  EXPECT_FALSE(m.Refresh("/elsewhere", Listing({"x"}), ""));
  EXPECT_EQ(m.Count(), 3);
}

}  // namespace
}  // namespace vantrel::panels
