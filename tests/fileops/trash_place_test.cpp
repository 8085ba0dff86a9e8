// The Trash as a panel place: what its root lists from trashes laid out by
// hand as other programs lay them out (info/ and files/, percent-encoded
// and relative paths, directorysizes, broken pairs, one name in two
// trashes), entering a trashed directory, and putting items back or
// erasing them; checked against gio's listing where gio is installed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "fileops/trash_operation.h"
#include "platform/fs.h"
#include "platform/trash.h"
#include "tests/support/test_support.h"
#include "vfs/trash_source.h"

namespace vantrel::fileops {
namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// A private home trash under `root`/data and the volume `root`/vol, whose
// trash is .Trash-$uid.
struct TTrashes {
  test::TempDir root;
  platform::TrashEnv env;
  std::string home, volume;

  TTrashes() {
    env.homeTrash = home = root / "data/Trash";
    env.uid = getuid();
    env.onHomeVolume = [vol = root / "vol"](const std::string& path) { return path.rfind(vol + "/", 0) != 0; };
    env.topdirOf = [vol = root / "vol"](const std::string&) { return vol; };
    volume = root / "vol/.Trash-" + std::to_string(getuid());
    for (const std::string& trash : {home, volume}) {
      test::MakeDir(trash + "/files");
      test::MakeDir(trash + "/info");
    }
    test::MakeDir(root / "src");
  }
  vfs::TTrashSource Source() const { return vfs::TTrashSource(env, {root / "vol"}); }
};

void Info(const std::string& trash, const std::string& name, const std::string& text) {
  test::WriteFile(trash + "/info/" + name + ".trashinfo", text);
}
std::string InfoText(const std::string& encodedPath, const std::string& date = "2024-05-06T07:08:09") {
  return "[Trash Info]\nPath=" + encodedPath + "\nDeletionDate=" + date + "\n";
}

std::map<std::string, vfs::TEntry> ByName(const std::vector<vfs::TEntry>& entries) {
  std::map<std::string, vfs::TEntry> out;
  for (const vfs::TEntry& e : entries) EXPECT_TRUE(out.emplace(e.name, e).second) << "listed twice: " << e.name;
  return out;
}

TEST(TrashPlace, RootListsEveryTrashAsOtherProgramsLayItOut) {
  TTrashes t;
  const std::string src = t.root / "src";
  // Home trash: absolute, percent-encoded paths.
  test::WriteFile(t.home + "/files/a b.txt", "hello");
  Info(t.home, "a b.txt", InfoText(platform::TrashEncodePath(src + "/a b.txt")));
  test::WriteFile(t.home + "/files/report.pdf", "1");
  Info(t.home, "report.pdf", InfoText(platform::TrashEncodePath(src + "/report.pdf"), "2024-01-01T00:00:00"));
  test::WriteFile(t.home + "/files/report.2.pdf", "22");
  Info(t.home, "report.2.pdf", InfoText(platform::TrashEncodePath(src + "/report.pdf"), "2024-02-01T00:00:00"));
  // A directory the directorysizes cache knows (its info file's time
  // matches), and one it does not.
  test::MakeDir(t.home + "/files/photos");
  test::WriteFile(t.home + "/files/photos/in.txt", "inside");
  test::MakeDir(t.home + "/files/photos/sub");
  Info(t.home, "photos", InfoText(platform::TrashEncodePath(src + "/photos")));
  struct stat info {};
  ASSERT_EQ(stat((t.home + "/info/photos.trashinfo").c_str(), &info), 0);
  test::WriteFile(t.home + "/directorysizes", "123456 " + std::to_string(info.st_mtime) + " photos\n");
  test::MakeDir(t.home + "/files/old");
  test::WriteFile(t.home + "/files/old/f", std::string(10000, 'x'));
  Info(t.home, "old", InfoText(platform::TrashEncodePath(src + "/old")));
  // Broken pairs and a file that is no info file: none listed.
  Info(t.home, "ghost", InfoText(platform::TrashEncodePath(src + "/ghost")));
  test::WriteFile(t.home + "/files/orphan", "o");
  test::WriteFile(t.home + "/files/broken", "b");
  Info(t.home, "broken", "Path=/nowhere\n");
  // A link is listed as a link, never followed.
  ASSERT_EQ(symlink("/nonexistent/target", (t.home + "/files/link").c_str()), 0);
  Info(t.home, "link", InfoText(platform::TrashEncodePath(src + "/link")));
  // Volume trash: paths relative to its top directory; one name the home
  // trash has too; names that are not ASCII or not UTF-8.
  test::WriteFile(t.volume + "/files/report.pdf", "333");
  Info(t.volume, "report.pdf", InfoText("docs/report.pdf", "2024-03-01T00:00:00"));
  test::WriteFile(t.volume + "/files/Grüße", "g");
  Info(t.volume, "Grüße", InfoText("docs/Gr%C3%BC%C3%9Fe"));
  const std::string bad = "bad\xff";
  test::WriteFile(t.volume + "/files/" + bad, "b");
  Info(t.volume, bad, InfoText("docs/bad%FF"));

  vfs::TTrashSource trash = t.Source();
  std::vector<vfs::TEntry> listed;
  vfs::TError err;
  ASSERT_TRUE(trash.List("", listed, &err)) << err.text;
  const std::map<std::string, vfs::TEntry> byName = ByName(listed);

  const struct {
    std::string name;
    std::string original;
    vfs::TEntryKind kind;
    uint64_t size;  // 0: not checked
    std::string date;
  } rows[] = {
      {"a b.txt", src + "/a b.txt", vfs::TEntryKind::File, 5, "2024-05-06T07:08:09"},
      {"report.pdf", src + "/report.pdf", vfs::TEntryKind::File, 1, "2024-01-01T00:00:00"},
      {"report.2.pdf", src + "/report.pdf", vfs::TEntryKind::File, 2, "2024-02-01T00:00:00"},
      {"photos", src + "/photos", vfs::TEntryKind::Directory, 123456, "2024-05-06T07:08:09"},
      {"old", src + "/old", vfs::TEntryKind::Directory, 0, "2024-05-06T07:08:09"},
      {"link", src + "/link", vfs::TEntryKind::Link, 0, "2024-05-06T07:08:09"},
      // The volume's report.pdf: report.2.pdf is the home trash's, so the next number.
      {"report.3.pdf", t.root / "vol/docs/report.pdf", vfs::TEntryKind::File, 3, "2024-03-01T00:00:00"},
      {"Grüße", t.root / "vol/docs/Grüße", vfs::TEntryKind::File, 1, "2024-05-06T07:08:09"},
      {bad, t.root / "vol/docs/" + bad, vfs::TEntryKind::File, 1, "2024-05-06T07:08:09"},
  };
  EXPECT_EQ(listed.size(), std::size(rows));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto it = byName.find(row.name);
    ASSERT_NE(it, byName.end());
    EXPECT_EQ(it->second.kind, row.kind);
    if (row.size != 0) { EXPECT_EQ(it->second.size, row.size); }
    EXPECT_EQ(it->second.mtime, platform::TrashParseDate(row.date));
    const vfs::TTrashRow* found = trash.Row(row.name);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->item.originalPath, row.original);
  }
  // A directory the cache does not know is measured: at least its file's bytes.
  EXPECT_GE(byName.at("old").size, 10000u);
  for (const char* absent : {"ghost", "orphan", "broken"}) EXPECT_EQ(byName.count(absent), 0u) << absent;
}

TEST(TrashPlace, TrashedDirectoriesAreEnteredButNeverLeft) {
  TTrashes t;
  test::MakeDir(t.home + "/files/photos");
  test::MakeDir(t.home + "/files/photos/sub");
  test::WriteFile(t.home + "/files/photos/in.txt", "inside");
  test::WriteFile(t.home + "/files/photos/sub/deep", "deeper");
  test::WriteFile(t.home + "/files/secret", "not below photos");
  Info(t.home, "photos", InfoText("/x/photos"));
  vfs::TTrashSource trash = t.Source();

  const struct {
    std::string inner;
    bool ok;
    std::vector<std::string> names;
  } rows[] = {
      {"photos", true, {"in.txt", "sub"}},
      {"photos/sub", true, {"deep"}},
      {"photos/..", false, {}},
      {"photos/../..", false, {}},
      {"secret", false, {}},  // in files/ without an info file: no item
      {"nothing", false, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.inner);
    std::vector<vfs::TEntry> listed;
    vfs::TError err;
    ASSERT_EQ(trash.List(row.inner, listed, &err), row.ok) << err.text;
    std::vector<std::string> names;
    for (const vfs::TEntry& e : listed) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, row.names);
  }
  struct TString final : vfs::TDataSink {
    std::string data;
    bool Write(const void* p, size_t n) override {
      data.append(static_cast<const char*>(p), n);
      return true;
    }
  } sink;
  vfs::TError err;
  ASSERT_TRUE(trash.ReadInto("photos/sub/deep", sink, {}, &err)) << err.text;
  EXPECT_EQ(sink.data, "deeper");
  EXPECT_FALSE(trash.ReadInto("photos/../secret", sink, {}, &err));
  EXPECT_FALSE(trash.Capabilities().writable);
  EXPECT_FALSE(trash.MakeDir("new", &err));
  EXPECT_FALSE(Exists(t.home + "/files/new"));
}

TEST(TrashPlace, TrashPathsAreRecognised) {
  const struct {
    std::string path;
    bool trash;
    std::string inner;
  } rows[] = {
      {"trash:///", true, ""},        {"trash://", true, ""},
      {"trash:", true, ""},           {"trash:///photos/2024", true, "photos/2024"},
      {"trash:///photos/", true, "photos"}, {"/home/trash:", false, ""},
      {"trashcan:///", false, ""},    {"/trash:///", false, ""},
  };
  for (const auto& row : rows) {
    std::string inner = "unchanged";
    EXPECT_EQ(vfs::TTrashSource::IsTrashPath(row.path, &inner), row.trash) << row.path;
    if (row.trash) { EXPECT_EQ(inner, row.inner) << row.path; }
  }
}

// Answers name questions from a script and records the names it was offered.
class TScriptedRestore final : public TRestorePrompt {
 public:
  std::deque<std::pair<TAnswer, std::string>> answers;  // the name "" keeps the offered one
  std::vector<std::string> offered;
  TAnswer NameTaken(const platform::TrashedItem&, std::string& newName) override {
    offered.push_back(newName);
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question for " << newName;
      return TAnswer::Cancel;
    }
    auto [answer, name] = answers.front();
    answers.pop_front();
    if (!name.empty()) newName = name;
    return answer;
  }
};

// Trashes `names` (files holding their own name) from `dir` with our session.
void TrashFiles(const TTrashes& t, const std::string& dir, const std::vector<std::string>& names) {
  platform::TrashSession session(t.env);
  for (const std::string& name : names) {
    test::WriteFile(dir + "/" + name, name);
    ASSERT_EQ(session.Trash(dir + "/" + name), 0) << name;
  }
}

TEST(TrashPlace, RestoreAsksOnlyWhereTheNameIsTaken) {
  using A = TRestorePrompt::TAnswer;
  const struct {
    const char* what;
    bool taken;                                      // a new "a.txt" is where it came from
    std::vector<std::pair<A, std::string>> answers;  // to the name question
    std::string expectFile;                          // where a.txt's data end up ("": still trashed)
    std::vector<std::string> offered;
  } rows[] = {
      {"free name", false, {}, "a.txt", {}},
      {"taken, the offered name", true, {{A::Rename, ""}}, "a (2).txt", {"a (2).txt"}},
      {"taken, a typed name", true, {{A::Rename, "mine.txt"}}, "mine.txt", {"a (2).txt"}},
      {"typed name taken too: asked again", true, {{A::Rename, "b.txt"}, {A::Rename, ""}}, "b (2).txt",
       {"a (2).txt", "b (2).txt"}},
      {"skipped", true, {{A::Skip, ""}}, "", {"a (2).txt"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TTrashes t;
    const std::string src = t.root / "src";
    TrashFiles(t, src, {"a.txt", "b.txt"});
    if (row.taken) test::WriteFile(src + "/a.txt", "new");
    test::WriteFile(src + "/b.txt", "other b");
    vfs::TTrashSource trash = t.Source();
    TScriptedRestore prompt;
    prompt.answers.assign(row.answers.begin(), row.answers.end());
    const TRestoreResult result = RestoreRows(trash, {"a.txt"}, prompt);
    EXPECT_EQ(prompt.offered, row.offered);
    EXPECT_TRUE(prompt.answers.empty());
    EXPECT_TRUE(result.failures.empty());
    if (row.expectFile.empty()) {
      EXPECT_EQ(result.skipped, 1u);
      EXPECT_NE(trash.Row("a.txt"), nullptr);  // still in the Trash
    } else {
      ASSERT_EQ(result.targets, std::vector<std::string>{src + "/" + row.expectFile});
      EXPECT_EQ(test::ReadFile(src + "/" + row.expectFile), "a.txt");
      EXPECT_EQ(trash.Row("a.txt"), nullptr);
      EXPECT_FALSE(Exists(t.home + "/info/a.txt.trashinfo"));
    }
    // Nothing that was there is ever replaced.
    if (row.taken) { EXPECT_EQ(test::ReadFile(src + "/a.txt"), "new"); }
    EXPECT_EQ(test::ReadFile(src + "/b.txt"), "other b");
  }
}

TEST(TrashPlace, RestoreMakesMissingDirectoriesAndStopsOnCancel) {
  using A = TRestorePrompt::TAnswer;
  TTrashes t;
  const std::string deep = t.root / "src/one/two";
  test::MakeDir(t.root / "src/one");
  test::MakeDir(deep);
  TrashFiles(t, deep, {"x", "y", "z"});
  ASSERT_EQ(rmdir(deep.c_str()), 0);
  ASSERT_EQ(rmdir((t.root / "src/one").c_str()), 0);
  vfs::TTrashSource trash = t.Source();
  TScriptedRestore none;
  TRestoreResult result = RestoreRows(trash, {"x", "missing"}, none);
  EXPECT_EQ(result.restored, std::vector<std::string>{"x"});
  EXPECT_EQ(test::ReadFile(deep + "/x"), "x");
  ASSERT_EQ(result.failures.size(), 1u);
  EXPECT_EQ(result.failures[0].name, "missing");
  EXPECT_EQ(RestoreFailureText(result.failures[0]), "Could not restore missing: " + platform::ErrorText(ENOENT));

  // Cancel at the first taken name: the rest stays in the Trash.
  test::WriteFile(deep + "/y", "taken");
  TScriptedRestore cancel;
  cancel.answers = {{A::Cancel, ""}};
  result = RestoreRows(trash, {"y", "z"}, cancel);
  EXPECT_TRUE(result.cancelled);
  EXPECT_TRUE(result.restored.empty());
  EXPECT_NE(trash.Row("y"), nullptr);
  EXPECT_NE(trash.Row("z"), nullptr);
  EXPECT_FALSE(Exists(deep + "/z"));
}

TEST(TrashPlace, RestoredAndErasedDirectoriesLeaveTheSizeCache) {
  TTrashes t;
  const std::string src = t.root / "src";
  for (const char* dir : {"keep", "back", "gone"}) {
    test::MakeDir(src + "/" + dir);
    test::WriteFile(src + "/" + dir + "/f", std::string(5000, 'd'));
  }
  {
    platform::TrashSession session(t.env);
    for (const char* dir : {"keep", "back", "gone"}) ASSERT_EQ(session.Trash(src + "/" + dir), 0);
  }
  auto cached = [&] {
    std::set<std::string> names;
    for (const auto& [name, size] : platform::ReadDirectorySizes(platform::TrashDir{t.home, {}})) names.insert(name);
    return names;
  };
  ASSERT_EQ(cached(), (std::set<std::string>{"back", "gone", "keep"}));
  vfs::TTrashSource trash = t.Source();
  TScriptedRestore none;
  EXPECT_EQ(RestoreRows(trash, {"back"}, none).restored.size(), 1u);
  EXPECT_TRUE(EraseRows(trash, {"gone"}).failures.empty());
  EXPECT_EQ(cached(), std::set<std::string>{"keep"});
  EXPECT_EQ(test::ReadFile(src + "/back/f"), std::string(5000, 'd'));
  EXPECT_FALSE(Exists(t.home + "/files/gone"));
  EXPECT_FALSE(Exists(t.home + "/info/gone.trashinfo"));
}

TEST(TrashPlace, EmptyTrashErasesEveryTrashAndNothingElse) {
  TTrashes t;
  TrashFiles(t, t.root / "src", {"h1", "h2"});
  test::MakeDir(t.root / "vol/docs");
  TrashFiles(t, t.root / "vol/docs", {"v1"});
  ASSERT_TRUE(Exists(t.volume + "/files/v1"));
  test::WriteFile(t.root / "src/stays", "s");
  vfs::TTrashSource trash = t.Source();
  ASSERT_EQ(trash.Rows().size(), 3u);
  EXPECT_EQ(EmptyQuestion(trash.Rows().size()), "Empty the Trash? 3 items will be deleted permanently.");
  EXPECT_EQ(EraseQuestion(1), "Delete 1 item permanently? They cannot be restored.");
  const TTrashResult result = EmptyTrash(trash);
  EXPECT_EQ(result.trashed.size(), 3u);
  EXPECT_TRUE(result.failures.empty());
  EXPECT_TRUE(trash.Rows().empty());
  for (const std::string& trashDir : {t.home, t.volume}) {
    EXPECT_TRUE(std::filesystem::is_empty(trashDir + "/files")) << trashDir;
    EXPECT_TRUE(std::filesystem::is_empty(trashDir + "/info")) << trashDir;
  }
  EXPECT_EQ(test::ReadFile(t.root / "src/stays"), "s");
}

// gio shows bytes outside ASCII as \xNN.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The home trash as gio lists it and as the place lists it: the same names,
// original paths and deletion dates, for items trashed by either program.
TEST(TrashPlace, ListsWhatGioLists) {
  if (test::RunCommand("command -v gio >/dev/null && command -v dbus-run-session >/dev/null") != 0)
    GTEST_SKIP() << "gio not installed";
  TTrashes t;
  const std::string src = t.root / "src";
  const std::string envs = "LC_ALL=C.UTF-8 XDG_DATA_HOME='" + t.root / "data" + "' ";
  TrashFiles(t, src, {"ours.txt", "50% off.txt", "Grüße"});
  test::WriteFile(src + "/ours.txt", "again");
  test::WriteFile(src + "/by gio.txt", "g");
  ASSERT_EQ(test::RunCommand(envs + "dbus-run-session -- gio trash '" + src + "/ours.txt' '" + src +
                             "/by gio.txt' 2>/dev/null"),
            0);
  std::string out;
  ASSERT_EQ(test::RunCommand(envs + "dbus-run-session -- gio list -a trash::orig-path,trash::deletion-date trash:// "
                                    "2>/dev/null",
                             &out),
            0);
  // "NAME\tSIZE\t(TYPE)\ttrash::orig-path=PATH trash::deletion-date=DATE"
  std::set<std::string> gio;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = Unescape(out.substr(start, end - start));
    start = end + 1;
    const size_t path = line.find("trash::orig-path="), date = line.find(" trash::deletion-date=");
    if (path == std::string::npos || date == std::string::npos) continue;
    gio.insert(line.substr(0, line.find('\t')) + " | " + line.substr(path + 17, date - path - 17) + " | " +
               line.substr(date + 22));
  }
  vfs::TTrashSource trash = t.Source();
  std::set<std::string> ours;
  for (const vfs::TTrashRow& row : trash.Rows())
    ours.insert(row.name + " | " + row.item.originalPath + " | " + platform::TrashFormatDate(row.item.deletionDate));
  EXPECT_EQ(ours.size(), 5u);
  EXPECT_EQ(ours, gio);
}

}  // namespace
}  // namespace vantrel::fileops
