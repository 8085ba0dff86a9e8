// A panel listing places of a source instead of a directory: paths that
// continue the file's own, no second read while moving inside, "..", sort
// orders and marks, failures that change nothing, nested sources and the
// lines shown.
#include "panels/panel_source.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "platform/fs.h"
#include "tests/support/scripted_source.h"
#include "tests/support/test_support.h"

namespace vantrel::panels {
namespace {

using Names = std::vector<std::string>;
using test::TScriptedSource;

Names NamesOf(const TPanelModel& m) {
  Names out;
  for (const auto& e : m.GetEntries()) out.push_back(e->FileName);
  return out;
}

// Installs an opener for the test's duration that knows one archive path and
// counts its calls.
struct TOpenerGuard {
  explicit TOpenerGuard(std::shared_ptr<TPanelSource> source, std::string failing = {}) {
    SetSourceOpener([this, source, failing](const std::string& path, std::string& place, std::string* error) {
      ++opens;
      if (!failing.empty() && path.rfind(failing, 0) == 0) {
        if (error) *error = "damaged archive";
        return std::shared_ptr<TPanelSource>();
      }
      return PlaceBelow(source->Root(), path, place) ? source : nullptr;
    });
  }
  ~TOpenerGuard() { SetSourceOpener(nullptr); }
  int opens = 0;
};

TEST(PlacePaths, BelowAndJoined) {
  struct Case {
    std::string root, path;
    bool below;
    std::string place;
  } cases[] = {
      {"/a/x.zip", "/a/x.zip", true, ""},
      {"/a/x.zip", "/a/x.zip/b/c", true, "b/c"},
      {"/a/x.zip", "/a/x.zip/b/", true, "b"},
      {"/a/x.zip", "/a/x.zip//b", true, "b"},
      {"/a/x.zip", "/a/x.zip2", false, ""},
      {"/a/x.zip", "/a/x.zi", false, ""},
      {"/a/x.zip", "/a", false, ""},
      {"", "/a", false, ""},
      // A root that ends in "/" (a place of no file) needs no second one.
      {"trash:///", "trash:///", true, ""},
      {"trash:///", "trash:///b/c", true, "b/c"},
      {"trash:///", "trash://", false, ""},
      {"trash:///", "trash:///b/", true, "b"},
  };
  for (const Case& c : cases) {
    std::string place = "unchanged";
    EXPECT_EQ(PlaceBelow(c.root, c.path, place), c.below) << c.path;
    if (c.below) {
      EXPECT_EQ(place, c.place) << c.path;
    }
  }
  EXPECT_EQ(PlacePath("/a/x.zip", ""), "/a/x.zip");
  EXPECT_EQ(PlacePath("/a/x.zip", "2024/summer"), "/a/x.zip/2024/summer");
  EXPECT_EQ(PlacePath("trash:///", "photos/2024"), "trash:///photos/2024");
}

// A place of no file goes to the opener as it is: never joined to the
// current directory, and never a directory that happens to carry its name.
TEST(PlacePaths, SchemePathsGoToTheOpenerAsTheyAre) {
  const struct {
    std::string path;
    bool scheme;
  } rows[] = {
      {"trash:///", true}, {"trash:///a/b", true}, {"sftp2://host", true}, {"trash:", false},
      {"/trash:///", false}, {"Trash:///", false}, {"://x", false}, {"a/b://c", false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsSchemePath(row.path), row.scheme) << row.path;

  test::TempDir dir;
  test::MakeDir(dir / "trash:");  // "trash:///" read relative to `dir` would be this
  const std::string cwd = platform::GetCurrentDir();
  ASSERT_TRUE(platform::SetCurrentDir(dir.path()));
  std::vector<std::string> asked;
  SetSourceOpener([&asked](const std::string& path, std::string& place, std::string* error) {
    asked.push_back(path);
    place.clear();
    if (error) *error = "no such place";
    return std::shared_ptr<TPanelSource>();
  });
  TPanelModel model;
  std::string error;
  EXPECT_FALSE(model.ReadDirectory("trash:///", &error));
  EXPECT_EQ(error, "no such place");
  EXPECT_EQ(asked, std::vector<std::string>{"trash:///"});
  SetSourceOpener(nullptr);
  platform::SetCurrentDir(cwd);
}

TEST(SourcePlaces, EnteredOnceWalkedWithoutRereadingAndLeft) {
  test::TempDir tmp;
  test::MakeDir(tmp / "home");
  test::WriteFile(tmp / "home/photos.zip", "not read by the panel itself");
  const std::string root = tmp / "home/photos.zip";
  auto source = std::make_shared<TScriptedSource>(
      root, std::map<std::string, Names>{{"", {"2024/", "b.jpg", "a.jpg"}},
                                         {"2024", {"summer/", "x.png"}},
                                         {"2024/summer", {}}});
  TOpenerGuard opener(source);
  TPanelModel m;
  std::string dirLine, infoLine;
  m.OnDirectoryLine = [&](const std::string& s) { dirLine = s; };
  m.OnInfoLine = [&](const std::string& s) { infoLine = s; };

  ASSERT_TRUE(m.ReadDirectory(root));
  EXPECT_EQ(NamesOf(m), (Names{"..", "2024", "a.jpg", "b.jpg"}));
  EXPECT_EQ(std::make_tuple(m.Directory(), dirLine, infoLine, m.Place()),
            std::make_tuple(root, root, "summary of " + root, std::string()));
  EXPECT_TRUE(m.InSource());

  // Walking down and up again: the opener is not asked, the source lists.
  ASSERT_TRUE(m.ReadDirectory(root + "/2024/summer"));
  EXPECT_EQ(NamesOf(m), (Names{".."}));
  EXPECT_EQ(m.Directory(), root + "/2024/summer");
  ASSERT_TRUE(m.ReadDirectory(platform::JoinPath(root, "2024")));
  EXPECT_EQ(NamesOf(m), (Names{"..", "summer", "x.png"}));
  EXPECT_EQ(opener.opens, 1);
  EXPECT_EQ(source->lists, 3);

  // A place the source lacks changes nothing.
  m.SetCursor(2);
  std::string error;
  EXPECT_FALSE(m.ReadDirectory(root + "/nowhere", &error));
  EXPECT_EQ(error, "no such place: nowhere");
  EXPECT_EQ(std::make_tuple(m.Directory(), m.Count(), m.Cursor()), std::make_tuple(root + "/2024", 3, 2));

  // Out to the directory the archive is in: a local listing again.
  ASSERT_TRUE(m.ReadDirectory(tmp / "home"));
  EXPECT_FALSE(m.InSource());
  EXPECT_EQ(NamesOf(m), (Names{"..", "photos.zip"}));
  EXPECT_NE(infoLine.find(" free"), std::string::npos);
}

// Whoever adds the marks to the disk-space line is told it after the marks
// of the listing left are gone, for every way a listing is replaced: a line
// told earlier would keep the old marks until the next mark changed.
TEST(SourcePlaces, TheInfoLineIsToldOnceTheOldMarksAreGone) {
  test::TempDir tmp;
  test::MakeDir(tmp / "home/sub");
  test::WriteFile(tmp / "home/a.txt", "aaaa");
  test::WriteFile(tmp / "home/photos.zip", "not read by the panel itself");
  const std::string root = tmp / "home/photos.zip";
  auto source = std::make_shared<TScriptedSource>(
      root, std::map<std::string, Names>{{"", {"2024/", "b.jpg"}}, {"2024", {"x.png"}}});
  TOpenerGuard opener(source);
  TPanelModel m;
  std::vector<std::pair<std::string, int>> told;  // the line and the marks when told
  m.OnInfoLine = [&](const std::string& s) { told.emplace_back(s, m.MarkedCount()); };
  const auto toSource = [&] { return m.ReadDirectory(root); };
  const auto toPlace = [&] { return m.ReadDirectory(root + "/2024"); };
  const auto toHome = [&] { return m.ReadDirectory(tmp / "home"); };
  const auto toSub = [&] { return m.ReadDirectory(tmp / "home/sub"); };
  const auto toListing = [&] {
    TPanelModel::Entries found;
    found.push_back(std::make_unique<TFileEntry>());
    found.back()->FileName = "sub/found.txt";
    m.ShowListing(tmp / "home", "found", std::move(found));
    return true;
  };
  const struct {
    const char* what;
    std::function<bool()> from, to;
    std::string line;  // what the line is told ("" for a disk-space line)
  } cases[] = {
      {"into the archive", toHome, toSource, "summary of " + root},
      {"a place inside", toSource, toPlace, "summary of " + root},
      {"out of the archive", toSource, toHome, ""},
      {"a directory", toHome, toSub, ""},
      {"a search's listing", toHome, toListing, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.from());
    for (int i = 1; i < m.Count(); ++i) m.SetMarked(i, true);  // all but ".."
    ASSERT_GT(m.MarkedCount(), 0);
    told.clear();
    ASSERT_TRUE(c.to());
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back().second, 0);
    if (!c.line.empty()) {
      EXPECT_EQ(told.back().first, c.line);
    } else {
      EXPECT_NE(told.back().first.find(" free"), std::string::npos) << told.back().first;
    }
    EXPECT_EQ(m.MarkedCount(), 0);
  }
}

TEST(SourcePlaces, SortOrdersMarksAndRefreshKeepNames) {
  auto source = std::make_shared<TScriptedSource>(
      "/v/a.zip", std::map<std::string, Names>{{"", {"dir/", "ccc", "a", "bb"}}});
  TPanelModel m;
  ASSERT_TRUE(m.ReadPlace(source, ""));
  EXPECT_EQ(NamesOf(m), (Names{"..", "dir", "a", "bb", "ccc"}));
  m.SetMarked(m.IndexOfName("bb"), true);
  m.SetCursor(m.IndexOfName("a"));
  m.SetSortOrder(kSortBySize, false);
  EXPECT_EQ(NamesOf(m), (Names{"..", "dir", "ccc", "bb", "a"}));
  EXPECT_EQ(m.CurrentEntry()->FileName, "a");
  EXPECT_EQ(std::make_tuple(m.MarkedCount(), m.MarkedBytes(), m.IsMarked(m.IndexOfName("bb"))),
            std::make_tuple(1, uint64_t{2}, true));
  m.SetSortDescending(true);
  EXPECT_EQ(NamesOf(m), (Names{"..", "dir", "a", "bb", "ccc"}));

  TPanelModel::Entries again;
  std::string line;
  ASSERT_TRUE(m.ListAgain(again, line));
  EXPECT_EQ(line, "summary of /v/a.zip");
  ASSERT_EQ(again.size(), 5u);
  EXPECT_EQ(again[0]->FileName, "..");
  EXPECT_EQ(again[2]->FileName, "a");
  ASSERT_TRUE(m.Refresh(m.Directory(), std::move(again), line));
  EXPECT_EQ(m.CurrentEntry()->FileName, "a");
  EXPECT_TRUE(m.IsMarked(m.IndexOfName("bb")));
}

TEST(SourcePlaces, OpenerFailuresChangeNothing) {
  test::TempDir tmp;
  test::WriteFile(tmp / "bad.zip", "x");
  test::WriteFile(tmp / "plain.txt", "x");
  auto source = std::make_shared<TScriptedSource>(tmp / "good.zip", std::map<std::string, Names>{{"", {}}});
  TOpenerGuard opener(source, tmp / "bad.zip");
  TPanelModel m;
  ASSERT_TRUE(m.ReadDirectory(tmp.path()));
  const int count = m.Count();
  struct Case {
    std::string path, error;
  } cases[] = {
      {tmp / "bad.zip", "damaged archive"},       // the opener's own reason
      {tmp / "bad.zip/inside", "damaged archive"},
      {tmp / "plain.txt", platform::ErrorText(ENOTDIR)},  // no source: the system's
      {tmp / "missing", platform::ErrorText(ENOENT)},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(m.ReadDirectory(c.path, &error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
    EXPECT_EQ(std::make_tuple(m.Directory(), m.Count(), m.InSource()),
              std::make_tuple(tmp.path(), count, false));
  }
}

TEST(SourcePlaces, NestedSourceLeavesThroughItsOuterOne) {
  auto outer = std::make_shared<TScriptedSource>(
      "/v/a.zip", std::map<std::string, Names>{{"", {"in/"}}, {"in", {"b.zip"}}});
  auto inner = std::make_shared<TScriptedSource>("/v/a.zip/in/b.zip",
                                                 std::map<std::string, Names>{{"", {"deep.txt"}}}, outer);
  TOpenerGuard opener(outer);
  TPanelModel m;
  ASSERT_TRUE(m.ReadPlace(inner, ""));
  EXPECT_EQ(NamesOf(m), (Names{"..", "deep.txt"}));
  ASSERT_TRUE(m.ReadDirectory("/v/a.zip/in"));
  EXPECT_EQ(m.Source(), outer);
  EXPECT_EQ(NamesOf(m), (Names{"..", "b.zip"}));
  EXPECT_EQ(opener.opens, 0);
}

TEST(SourcePlaces, EntryLinesShowPackedSizes) {
  TFileEntry packed;
  packed.FileName = "photo.jpg";
  packed.FileSize = 1234567;
  packed.HasPackedSize = true;
  packed.PackedSize = 1000;
  EXPECT_EQ(InfoLine(packed), "photo.jpg- size:1,234,567 bytes, packed:1,000 bytes.");
  packed.HasPackedSize = false;
  EXPECT_EQ(InfoLine(packed), "photo.jpg- size:1,234,567 bytes.");
  // A time nobody knows (".." of a place, a directory only implied by paths)
  // shows no date rather than one in 1601.
  EXPECT_EQ(DateText(0) + TimeText(0), "");
  EXPECT_EQ(DateText(platform::FileTimeFromUnix(0, 0)).size(), 10u);
}

}  // namespace
}  // namespace vantrel::panels
