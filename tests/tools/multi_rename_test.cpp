// Multi-rename: the mask language, search and replace, case, the plan's
// conflicts, all-or-nothing renaming and undo from the log.
#include "tools/multi_rename.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "platform/fs.h"
#include "platform/rename.h"
#include "tests/support/test_support.h"

namespace vantrel::tools {
namespace {

using test::TempDir;
using test::WriteFile;

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  platform::EnumerateDirectory(dir, [&](platform::FindData&& d) {
    if (d.name != "." && d.name != "..") names.push_back(d.name);
  });
  std::sort(names.begin(), names.end());
  return names;
}

// 2026-03-04 05:06:07 local time, as the tests' time zone reads it.
platform::FileTime SampleTime() {
  std::tm tm{};
  tm.tm_year = 126, tm.tm_mon = 2, tm.tm_mday = 4, tm.tm_hour = 5, tm.tm_min = 6, tm.tm_sec = 7;
  tm.tm_isdst = -1;
  return platform::FileTimeFromUnix(mktime(&tm), 0);
}

std::string Renamed(const TRenameRules& rules, const std::string& name, size_t index = 0,
                    const std::string& parent = "photos") {
  TRenamer renamer;
  std::string error;
  EXPECT_TRUE(renamer.Compile(rules, &error)) << error;
  return renamer.NewName(TRenameSource{name, SampleTime()}, index, parent);
}

TEST(RenameMask, Placeholders) {
  const struct {
    const char *nameMask, *extMask, *old;
    size_t index;
    const char* expected;
  } cases[] = {
      {"[N]", "[E]", "report.txt", 0, "report.txt"},
      {"[N]", "[E]", "archive.tar.gz", 0, "archive.tar.gz"},
      {"[N]_old", "[E]", ".profile", 0, ".profile_old"},      // a leading dot is no extension
      {"[N]", "[E]", "notes.", 0, "notes."},                   // nor is a trailing one
      {"[N]", "bak", "README", 0, "README.bak"},
      {"[N]", "", "report.txt", 0, "report"},                  // an empty extension drops the dot
      {"[N2-4]", "[E]", "abcdef.txt", 0, "bcd.txt"},
      {"[N3]", "[E]", "abcdef.txt", 0, "c.txt"},
      {"[N3-]", "[E]", "abcdef.txt", 0, "cdef.txt"},
      {"[N2,3]", "[E]", "abcdef.txt", 0, "bcd.txt"},
      {"[N-2-]", "[E]", "abcdef.txt", 0, "ef.txt"},
      {"[N1--3]", "[E]", "abcdef.txt", 0, "abcd.txt"},
      {"[N5-9]", "[E]", "abcdef.txt", 0, "ef.txt"},           // ranges past the end are cut
      {"[N2-3]", "[E2]", "äöüß.jpeg", 0, "öü.p"},            // characters, not bytes
      {"img_[C]", "[E]", "x.jpg", 4, "img_5.jpg"},
      {"[C10+5:3]", "[E]", "x.jpg", 2, "020.jpg"},
      {"[C+-1:2]", "[E]", "x.jpg", 3, "-02.jpg"},
      {"[Y]-[M]-[D]_[h][m][s]", "[E]", "x.jpg", 0, "2026-03-04_050607.jpg"},
      {"[P]_[N]", "[E]", "x.jpg", 0, "photos_x.jpg"},
      {"[P1-3][[[N]]", "[E]", "x.jpg", 0, "pho[x].jpg"},
  };
  for (const auto& c : cases) {
    TRenameRules rules;
    rules.nameMask = c.nameMask;
    rules.extMask = c.extMask;
    EXPECT_EQ(Renamed(rules, c.old, c.index), c.expected) << c.nameMask << " " << c.extMask << " " << c.old;
  }
}

TEST(RenameMask, CounterFromTheRulesAndBadMasks) {
  TRenameRules rules;
  rules.nameMask = "[C]-[C:1]";
  rules.counterStart = 7;
  rules.counterStep = 3;
  rules.counterWidth = 4;
  EXPECT_EQ(Renamed(rules, "a.txt", 2), "0013-13.txt");

  for (const char* bad : {"[X]", "[N", "[N0]", "[N2-x]", "[C5+]", "[Yx]", "[]", "[N2,0]"}) {
    TRenamer renamer;
    rules.nameMask = bad;
    std::string error;
    EXPECT_FALSE(renamer.Compile(rules, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(RenameMask, SearchReplaceAndCase) {
  const struct {
    const char *search, *replace;
    bool regex;
    TCaseChange change;
    const char *old, *expected;
  } cases[] = {
      {"a", "o", false, TCaseChange::None, "banana.tar", "bonono.tor"},
      {".", "_", false, TCaseChange::None, "a.b.c", "a_b_c"},          // replace sees the whole name, dots included
      {"(\\d+)-(\\d+)", "\\2-$1", true, TCaseChange::None, "12-34.txt", "34-12.txt"},
      {"^IMG_", "", true, TCaseChange::None, "IMG_0001.JPG", "0001.JPG"},
      {"", "", false, TCaseChange::Lower, "ÄRGER Über.TXT", "ärger über.txt"},
      {"", "", false, TCaseChange::Upper, "straße.txt", "STRASSE.TXT"},
      {"", "", false, TCaseChange::FirstUpper, "éCOLE de paris.txt", "École de paris.txt"},
      {"", "", false, TCaseChange::Title, "the_big o'brien-day.txt", "The_big O'Brien-Day.Txt"},
      {"q", "y", false, TCaseChange::Upper, "\xff" "q.txt", "\xff" "y.txt"},  // not UTF-8: case stays
  };
  for (const auto& c : cases) {
    TRenameRules rules;
    rules.search = c.search;
    rules.replace = c.replace;
    rules.regex = c.regex;
    rules.caseChange = c.change;
    EXPECT_EQ(Renamed(rules, c.old), c.expected) << c.search << " / " << c.old;
  }
  TRenameRules broken;
  broken.regex = true;
  broken.search = "(unclosed";
  TRenamer renamer;
  std::string error;
  EXPECT_FALSE(renamer.Compile(broken, &error));
  EXPECT_NE(error.find("Regular expression"), std::string::npos);
}

TRenamePlan Plan(const std::string& dir, const std::vector<std::string>& names, const std::string& mask,
               const std::string& search = {}, const std::string& replace = {}) {
  TRenameRules rules;
  rules.nameMask = mask;
  rules.search = search;
  rules.replace = replace;
  TRenamer renamer;
  EXPECT_TRUE(renamer.Compile(rules, nullptr));
  std::vector<TRenameSource> sources;
  for (const auto& n : names) sources.push_back({n, 0});
  return PlanRenames(dir, sources, renamer);
}

TEST(RenamePlan, ConflictsInvalidNamesAndExistingEntries) {
  TempDir tmp;
  for (const char* f : {"a.txt", "b.txt", "c.txt", "keep.txt", "1.txt", "2.txt"}) WriteFile(tmp / f, f);
  const struct {
    std::vector<std::string> names;
    const char *mask, *search, *replace;
    std::vector<TRenameState> states;
  } cases[] = {
      // a -> b while b stays b: the two rows collide
      {{"a.txt", "b.txt"}, "[N]", "a", "b", {TRenameState::Collides, TRenameState::Collides}},
      {{"a.txt", "b.txt"}, "[N]", "", "", {TRenameState::Unchanged, TRenameState::Unchanged}},
      // an entry outside the batch is in the way
      {{"c.txt"}, "keep", "", "", {TRenameState::Exists}},
      // a chain: 1 -> 2, 2 -> 3; the batch frees the name it needs
      {{"1.txt", "2.txt"}, "[C2]", "", "", {TRenameState::Ok, TRenameState::Ok}},
      {{"a.txt", "b.txt"}, "[N]2", "", "", {TRenameState::Ok, TRenameState::Ok}},
      {{"a.txt"}, "", ".txt", "", {TRenameState::Invalid}},
      {{"a.txt"}, ".", ".txt", "", {TRenameState::Invalid}},
      {{"a.txt"}, "..", ".txt", "", {TRenameState::Invalid}},
      {{"a.txt"}, "x/y", "", "", {TRenameState::Invalid}},
  };
  for (const auto& c : cases) {
    const TRenamePlan plan = Plan(tmp.path(), c.names, c.mask, c.search, c.replace);
    ASSERT_EQ(plan.rows.size(), c.states.size());
    for (size_t i = 0; i < c.states.size(); ++i)
      EXPECT_EQ(plan.rows[i].state, c.states[i]) << c.mask << " row " << i;
  }
  EXPECT_EQ(Plan(tmp.path(), {"a.txt"}, std::string(300, 'n')).rows[0].state, TRenameState::Invalid);
  const TRenamePlan counted = Plan(tmp.path(), {"a.txt", "b.txt", "c.txt"}, "[N]", "a", "keep");
  EXPECT_EQ(counted.changes, 0);
  EXPECT_EQ(counted.problems, 1);  // a -> keep.txt exists

  // Rows of a search result listing keep their directories; [P] is each
  // entry's own directory.
  test::MakeDir(tmp / "sub");
  WriteFile(tmp / "sub/a.txt", "");
  const TRenamePlan nested = Plan(tmp.path(), {"sub/a.txt", "a.txt"}, "[P]_[N]");
  EXPECT_EQ(nested.rows[0].newName, "sub/sub_a.txt");
  const std::string top = tmp.path().substr(tmp.path().find_last_of('/') + 1);
  EXPECT_EQ(nested.rows[1].newName, top + "_a.txt");
  EXPECT_EQ(nested.problems, 0);
}

// Swaps and chains go through temporary names; a refused batch changes
// nothing; undo puts every name back and the log goes.
TEST(RenameApply, SwapChainRefusalAndUndo) {
  TempDir tmp;
  for (const char* f : {"a", "b", "c", "keep"}) WriteFile(tmp / f, f);
  test::MakeDir(tmp / "dir");
  const std::vector<std::string> before = Names(tmp.path());

  TRenameResult r = ApplyRenames(tmp.path(), {{"a", "b"}, {"b", "a"}, {"c", "d"}, {"dir", "folder"}});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.renamed, 4);
  EXPECT_EQ(test::ReadFile(tmp / "a"), "b");
  EXPECT_EQ(test::ReadFile(tmp / "b"), "a");
  EXPECT_EQ(test::ReadFile(tmp / "d"), "c");
  EXPECT_TRUE(platform::IsDirectory(tmp / "folder"));

  const std::string log = tmp / "rename.log";
  ASSERT_TRUE(WriteRenameLog(log, tmp.path(), {{"a", "b"}, {"b", "a"}, {"c", "d"}, {"dir", "folder"}}, nullptr));
  // Refusals come before the first change: the state stays as it was.
  const std::vector<std::string> middle = Names(tmp.path());
  const struct {
    TRenamePairs pairs;
    const char* error;
  } refused[] = {
      {{{"a", "x"}, {"b", "x"}}, "Two entries would be named \"x\""},
      {{{"a", "x"}, {"d", "keep"}}, "\"keep\" exists already"},
      {{{"a", "x"}, {"gone", "y"}}, "Could not find file \"gone\""},
      {{{"a", "x"}, {"b", "p/q"}}, "Invalid file name \"p/q\""},
  };
  for (const auto& c : refused) {
    const TRenameResult no = ApplyRenames(tmp.path(), c.pairs);
    EXPECT_FALSE(no.ok);
    EXPECT_EQ(no.error, c.error);
    EXPECT_EQ(Names(tmp.path()), middle);
  }
  // A step that fails midway puts back everything done before it.
  int steps = 0;
  const TRenameResult failed = ApplyRenames(tmp.path(), {{"a", "x"}, {"b", "y"}, {"d", "z"}},
                                            [&](const std::string& from, const std::string& to) {
                                              return ++steps == 5 ? EIO : platform::RenameNoReplace(from, to);
                                            });
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.error, "Could not rename \"b\": " + platform::ErrorText(EIO));
  EXPECT_EQ(Names(tmp.path()), middle);
  EXPECT_EQ(test::ReadFile(tmp / "a"), "b");

  const TRenameResult undone = UndoRenames(log);
  ASSERT_TRUE(undone.ok) << undone.error;
  EXPECT_EQ(Names(tmp.path()), before);
  EXPECT_EQ(test::ReadFile(tmp / "a"), "a");
  EXPECT_EQ(test::ReadFile(tmp / "c"), "c");
  EXPECT_NE(access(log.c_str(), F_OK), 0);
  EXPECT_FALSE(UndoRenames(log).ok);
}

// Names of any bytes survive the log; a damaged log is refused.
TEST(RenameLog, AnyBytesRoundTripAndDamageIsRefused) {
  TempDir tmp;
  const TRenamePairs pairs = {{"tab\there", "new%\n\x01"}, {"\xff\xfe", "plain"}};
  const std::string dir = "/some/dir with\nnewline";
  ASSERT_TRUE(WriteRenameLog(tmp / "log", dir, pairs, nullptr));
  std::string readDir;
  TRenamePairs read;
  ASSERT_TRUE(ReadRenameLog(tmp / "log", readDir, read, nullptr));
  EXPECT_EQ(readDir, dir);
  EXPECT_EQ(read, pairs);
  for (const char* damaged : {"vantrel rename log 1\n/d\nno-tab\n", "something else\n/d\na\tb\n",
                              "vantrel rename log 1\n/d\na%G1\tb\n", "vantrel rename log 1\n/d\n"}) {
    WriteFile(tmp / "bad", damaged);
    std::string error;
    EXPECT_FALSE(ReadRenameLog(tmp / "bad", readDir, read, &error)) << damaged;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace vantrel::tools
