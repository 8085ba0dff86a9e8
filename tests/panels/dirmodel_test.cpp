// The listing behind a panel: sort rules, the lines it reports, marks and the
// cursor, and reading real directories (root, "..", odd names, failures).
#include "panels/dirmodel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "tests/support/test_support.h"

namespace vantrel::panels {
namespace {

using test::TempDir;

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

std::vector<std::string> Names(const TPanelModel& m) {
  std::vector<std::string> out;
  for (const auto& e : m.GetEntries()) out.push_back(e->FileName);
  return out;
}

std::vector<std::string> SortedNames(uint8_t order, std::vector<std::unique_ptr<TFileEntry>> in) {
  TPanelModel m;
  m.SortEntries(order);  // nothing listed yet: only checks it copes
  TPanelModel::Entries entries;
  for (auto& e : in) entries.push_back(std::move(e));
  m.SetEntries(std::move(entries));
  m.SortEntries(order);
  return Names(m);
}

TEST(SortOrder, DotDotFirstAndDirectoriesBeforeFilesInEveryOrder) {
  for (uint8_t order : {0, 1, 2, 3, 4, 9}) {
    std::vector<std::unique_ptr<TFileEntry>> in;
    in.push_back(Entry("zeta.txt", false, 1, 50));
    in.push_back(Entry("Alpha", true, 10, 1));
    in.push_back(Entry("..", true));
    in.push_back(Entry("big.bin", false, 900, 99));
    in.push_back(Entry("beta.dir", true, 0, 200));
    auto names = SortedNames(order, std::move(in));
    ASSERT_EQ(names.size(), 5u) << int(order);
    EXPECT_EQ(names[0], "..") << int(order);
    EXPECT_TRUE((names[1] == "Alpha" || names[1] == "beta.dir") &&
                (names[2] == "Alpha" || names[2] == "beta.dir"))
        << "directories must precede files in order " << int(order);
  }
}

TEST(SortOrder, NameIsCaseInsensitive) {
  std::vector<std::unique_ptr<TFileEntry>> in;
  in.push_back(Entry("b.txt"));
  in.push_back(Entry("A.txt"));
  in.push_back(Entry("c.txt"));
  EXPECT_EQ(SortedNames(kSortByName, std::move(in)),
            (std::vector<std::string>{"A.txt", "b.txt", "c.txt"}));
}

TEST(SortOrder, SizeLargerFirstWith64BitSizesAndNamesBreakingTies) {
  std::vector<std::unique_ptr<TFileEntry>> in;
  in.push_back(Entry("four", false, 4000000000ULL));
  in.push_back(Entry("five", false, 5000000000ULL));
  in.push_back(Entry("b-small", false, 5));
  in.push_back(Entry("a-small", false, 5));
  in.push_back(Entry("dir", true, 10));
  EXPECT_EQ(SortedNames(kSortBySize, std::move(in)),
            (std::vector<std::string>{"dir", "five", "four", "a-small", "b-small"}));
}

TEST(SortOrder, ExtensionWithoutExtensionFirstAndCaseFoldedTiesByName) {
  std::vector<std::unique_ptr<TFileEntry>> in;
  in.push_back(Entry("a.bat"));
  in.push_back(Entry("readme"));
  in.push_back(Entry("z.TXT"));
  in.push_back(Entry("b.txt"));
  EXPECT_EQ(SortedNames(kSortByExt, std::move(in)),
            (std::vector<std::string>{"readme", "a.bat", "b.txt", "z.TXT"}));
}

TEST(SortOrder, DateAndTimeSortByCreationNewestFirst) {
  auto make = [] {
    std::vector<std::unique_ptr<TFileEntry>> in;
    // Created later but written earlier: comes first in date order.
    in.push_back(Entry("old-created", false, 0, 100, 900));
    in.push_back(Entry("new-created", false, 0, 500, 200));
    in.push_back(Entry("same-b", false, 0, 300));
    in.push_back(Entry("same-a", false, 0, 300));
    return in;
  };
  const auto date = SortedNames(kSortByDate, make());
  EXPECT_EQ(date, (std::vector<std::string>{"new-created", "same-a", "same-b", "old-created"}));
  EXPECT_EQ(SortedNames(kSortByTime, make()), date);
}

TEST(EntryTexts, NamesExtensionsAndSizes) {
  auto tgz = Entry("archive.tar.gz", false, 1234567);
  EXPECT_EQ(NameText(*tgz), "archive.tar");
  EXPECT_EQ(ExtText(*tgz), ".gz");
  EXPECT_EQ(SizeText(*tgz), "1,234,567");
  auto profile = Entry(".profile");
  EXPECT_EQ(NameText(*profile), "");
  EXPECT_EQ(ExtText(*profile), ".profile");
  auto dir = Entry("my.dir", true);
  EXPECT_EQ(NameText(*dir), "my.dir");
  EXPECT_EQ(ExtText(*dir), "");
  EXPECT_EQ(SizeText(*dir), "DIR");
}

TEST(EntryTexts, InformationLine) {
  EXPECT_EQ(InfoLine(*Entry("WINDOWS", true)), "[WINDOWS]:  DIRECTORY");
  EXPECT_EQ(InfoLine(*Entry("readme.txt", false, 1234)), "readme.txt- size:1,234 bytes.");
  EXPECT_EQ(InfoLine(*Entry("empty", false, 0)), "empty- size:0 bytes.");
}

TEST(EntryTexts, DateAndTimeInLocalTime) {
  // 2026-02-03 09:05 in Europe/Berlin (the tests' time zone) is 08:05 UTC.
  const int64_t unix = 1770105900;  // 2026-02-03T08:05:00Z
  const auto t = platform::FileTimeFromUnix(unix, 0);
  EXPECT_EQ(DateText(t), "03.02.2026");
  EXPECT_EQ(TimeText(t), "09:05");
}

TEST(DiskLine, MegabyteBoundary) {
  EXPECT_EQ(DiskSpaceLine(1048576, 1509949440), "1,048,576.00 bytes of 1,440.00 Mb free");
  EXPECT_EQ(DiskSpaceLine(1048577, 8389656166ULL), "1.00 Mb of 8,001.00 Mb free");
  EXPECT_EQ(DiskSpaceLine(524288, 1509949440), "524,288.00 bytes of 1,440.00 Mb free");
  EXPECT_EQ(DiskSpaceLine(0, 0), "0.00 bytes of 0.00 bytes free");
}

class MarkedEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    TPanelModel::Entries e;
    e.push_back(Entry("..", true));
    e.push_back(Entry("a.txt"));
    e.push_back(Entry("b.txt"));
    m.SetEntries(std::move(e));
  }
  TPanelModel m;
};

TEST_F(MarkedEntries, OnlyDotDotMarkedWithCursorOnDotDotGathersNothing) {
  m.SetMarked(0, true);
  m.SetCursor(0);
  EXPECT_TRUE(m.GetMarkedEntries().empty());
}

TEST_F(MarkedEntries, OnlyDotDotMarkedFallsBackToCursorFile) {
  m.SetMarked(0, true);
  m.SetCursor(2);
  auto got = m.GetMarkedEntries();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->FileName, "b.txt");
}

TEST_F(MarkedEntries, DotDotAndAFileMarkedGathersOnlyTheFile) {
  m.SetMarked(0, true);
  m.SetMarked(1, true);
  m.SetCursor(2);
  auto got = m.GetMarkedEntries();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->FileName, "a.txt");
  EXPECT_EQ(m.MarkedCount(), 2);
}

TEST_F(MarkedEntries, IndexOfNameIsCaseSensitiveAndZeroWhenMissing) {
  EXPECT_EQ(m.IndexOfName("b.txt"), 2);
  EXPECT_EQ(m.IndexOfName("B.TXT"), 0);
  EXPECT_EQ(m.IndexOfName("nothing"), 0);
}

TEST(EmptyPanel, HasNoCursorEntryAndGathersNothing) {
  TPanelModel m;
  EXPECT_EQ(m.CurrentEntry(), nullptr);
  EXPECT_TRUE(m.GetMarkedEntries().empty());
  m.SetCursor(5);
  EXPECT_EQ(m.Cursor(), 0);
}

TEST(ReadDirectory, ListsSubdirectoryWithDotDotFirstAndRestoresCurrentDir) {
  TempDir tmp;
  test::MakeDir(tmp / "sub");
  test::WriteFile(tmp / "file.txt", "hello");
  test::CurrentDirGuard guard;
  ASSERT_TRUE(platform::SetCurrentDir("/"));

  TPanelModel m;
  std::string dirLine, infoLine;
  m.OnDirectoryLine = [&](const std::string& s) { dirLine = s; };
  m.OnInfoLine = [&](const std::string& s) { infoLine = s; };
  ASSERT_TRUE(m.ReadDirectory(tmp.path()));
  EXPECT_EQ(Names(m), (std::vector<std::string>{"..", "sub", "file.txt"}));
  EXPECT_EQ(m.Directory(), tmp.path());
  EXPECT_EQ(dirLine, tmp.path());
  EXPECT_NE(infoLine.find(" free"), std::string::npos);
  EXPECT_EQ(platform::GetCurrentDir(), "/");
  EXPECT_EQ(m.GetEntries()[2]->FileSize, 5u);
  EXPECT_EQ(SizeText(*m.GetEntries()[1]), "DIR");
}

TEST(ReadDirectory, RootHasNoDotDot) {
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory("/"));
  EXPECT_EQ(m.Directory(), "/");
  for (const auto& e : m.GetEntries()) EXPECT_NE(e->FileName, "..");
}

TEST(ReadDirectory, DirectoryIsNormalisedWithoutTrailingSlash) {
  TempDir tmp;
  test::MakeDir(tmp / "a/b");
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp.path() + "/a/b/../b/"));
  EXPECT_EQ(m.Directory(), tmp.path() + "/a/b");
}

TEST(ReadDirectory, MissingDirectoryChangesNothing) {
  TempDir tmp;
  test::WriteFile(tmp / "x", "");
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp.path()));
  m.SetCursor(1);
  std::string error;
  EXPECT_FALSE(m.ReadDirectory(tmp / "gone", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(m.Directory(), tmp.path());
  EXPECT_EQ(m.Count(), 2);
  EXPECT_EQ(m.Cursor(), 1);
}

TEST(ReadDirectory, NamesThatAreNotUtf8KeepTheirBytes) {
  TempDir tmp;
  const std::string odd = "caf\xE9-\xFF.txt";  // Latin-1 bytes, invalid as UTF-8
  test::WriteFile(tmp / odd, "x");
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp.path()));
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.GetEntries()[1]->FileName, odd);
  EXPECT_EQ(test::ReadFile(platform::JoinPath(m.Directory(), m.GetEntries()[1]->FileName)), "x");
}

TEST(ReadDirectory, SymbolicLinksCarryTheLinkBitAndTheTargetsDirectoryBit) {
  TempDir tmp;
  test::MakeDir(tmp / "real");
  ASSERT_EQ(symlink("real", (tmp / "link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tmp / "dangling").c_str()), 0);
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp.path()));
  const auto& entries = m.GetEntries();
  const TFileEntry* link = entries[m.IndexOfName("link")].get();
  const TFileEntry* dangling = entries[m.IndexOfName("dangling")].get();
  EXPECT_EQ(link->FileAttributes & (platform::kAttrDirectory | platform::kAttrReparsePoint),
            platform::kAttrDirectory | platform::kAttrReparsePoint);
  EXPECT_EQ(dangling->FileAttributes & platform::kAttrDirectory, 0u);
  EXPECT_NE(dangling->FileAttributes & platform::kAttrReparsePoint, 0u);
}

TEST(ReadDirectory, ReadClearsMarksAndPutsCursorFirst) {
  TempDir tmp;
  test::WriteFile(tmp / "a", "");
  test::WriteFile(tmp / "b", "");
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp.path()));
  m.SetMarked(1, true);
  m.SetCursor(2);
  ASSERT_TRUE(m.ReadDirectory(m.Directory()));
  EXPECT_EQ(m.MarkedCount(), 0);
  EXPECT_FALSE(m.IsMarked(1));
  EXPECT_EQ(m.Cursor(), 0);
}

TEST(ReadDirectory, UnlistableDirectoryEmptiesThePanel) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  TempDir tmp;
  test::MakeDir(tmp / "locked");
  ASSERT_EQ(chmod((tmp / "locked").c_str(), 0100), 0);  // enterable, not readable
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp / "locked"));
  EXPECT_EQ(m.Count(), 0);
  EXPECT_EQ(m.Directory(), tmp / "locked");
}

TEST(SetSortType, RereadsInTheNewOrder) {
  TempDir tmp;
  test::WriteFile(tmp / "a.txt", "1");
  test::WriteFile(tmp / "b.txt", "12345");
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp.path()));
  EXPECT_EQ(Names(m), (std::vector<std::string>{"..", "a.txt", "b.txt"}));
  m.SetSortType(kSortBySize);
  EXPECT_EQ(m.SortType(), kSortBySize);
  EXPECT_EQ(Names(m), (std::vector<std::string>{"..", "b.txt", "a.txt"}));
}

}  // namespace
}  // namespace vantrel::panels

namespace vantrel::panels {
namespace {

TEST(QuickSearch, PrefixWithoutCaseAndWildcards) {
  struct Case {
    const char* name;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"Ünïcode name.txt", "ün", true},     // non-ASCII folded both ways
      {"Ünïcode name.txt", "ÜNÏ", true},
      {"Ünïcode name.txt", "un", false},    // a different letter
      {"Report.doc", "rep", true},
      {"Report.doc", "port", false},        // a prefix, not a substring
      {"Report.doc", "*port", true},
      {"Report.doc", "r?p", true},          // "?" is one character
      {"Über.txt", "?b", true},             // ... also a two-byte one
      {"Report.doc", "*.DOC", true},
      {"a", "ab", false},
      {"anything", "", true},
      {"\xff\xfe", "\xff", true},           // invalid bytes still compare
  };
  for (const Case& c : cases)
    EXPECT_EQ(QuickSearchMatches(c.name, c.pattern), c.match) << c.name << " / " << c.pattern;
}

// A fresh listing keeps the cursor on the entry of the same name, or on the
// same index when it vanished, and the marks by name; the mark sum follows.
TEST(Refresh, KeepsCursorAndMarksByName) {
  auto listing = [](std::vector<std::string> names) {
    TPanelModel::Entries entries;
    for (auto& n : names) entries.push_back(Entry(n, false, n.size()));
    return entries;
  };
  TPanelModel m;
  ASSERT_TRUE(m.Refresh("", listing({"b", "d", "f"}), ""));
  m.SetCursor(1);  // "d"
  m.SetMarked(0, true);  // "b"
  m.SetMarked(2, true);  // "f", which the next listing no longer has
  EXPECT_EQ(m.MarkedBytes(), 2u);
  ASSERT_TRUE(m.Refresh("", listing({"a", "b", "c", "d"}), "line"));
  EXPECT_EQ(m.CurrentEntry()->FileName, "d");
  EXPECT_TRUE(m.IsMarked(1));
  EXPECT_EQ(m.MarkedCount(), 1);
  EXPECT_EQ(m.MarkedBytes(), 1u);
  EXPECT_EQ(m.DiskLine(), "line");
  ASSERT_TRUE(m.Refresh("", listing({"a", "b", "c"}), "line"));
  EXPECT_EQ(m.Cursor(), 2);  // "d" vanished: the last index that is left
  EXPECT_FALSE(m.Refresh("/elsewhere", listing({"x"}), ""));
  EXPECT_EQ(m.Count(), 3);
}

TEST(ListDirectory, SortsWithoutChangingTheCurrentDirectory) {
  test::TempDir dir;
  test::WriteFile(dir.path() + "/b.txt", "12");
  test::WriteFile(dir.path() + "/A.txt", "1");
  const std::string cwd = platform::GetCurrentDir();
  TPanelModel::Entries entries;
  std::string line;
  ASSERT_TRUE(TPanelModel::ListDirectory(dir.path(), kSortBySize, false, entries, line));
  EXPECT_EQ(platform::GetCurrentDir(), cwd);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1]->FileName, "b.txt");
  EXPECT_FALSE(line.empty());
  EXPECT_FALSE(TPanelModel::ListDirectory(dir.path() + "/missing", 0, false, entries, line));
  EXPECT_EQ(platform::NearestExistingDirectory(dir.path() + "/missing/deeper"), dir.path());
}

}  // namespace
}  // namespace vantrel::panels

namespace vantrel::panels {
namespace {

TEST(SortOrder, DescendingReversesWithinEachGroupOnly) {
  TPanelModel m;
  TPanelModel::Entries entries;
  for (const char* n : {"b.txt", "..", "Sub", "a.txt", "Other", "c.txt"})
    entries.push_back(Entry(n, std::string(n) == ".." || n[0] == 'S' || n[0] == 'O'));
  m.SetEntries(std::move(entries));
  m.SetSortDescending(true);  // no directory yet: only the order changes
  m.SortEntries(kSortByName);
  EXPECT_EQ(Names(m), (std::vector<std::string>{"..", "Sub", "Other", "c.txt", "b.txt", "a.txt"}));
}

}  // namespace
}  // namespace vantrel::panels
