// The desktop Trash: the layout of files/, info/ and directorysizes, the
// choice of trash per volume, name collisions, listing, restoring and
// erasing, checked against gio and trash-cli where they are installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>

#include "platform/trash.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// A private home trash: everything counts as being on its volume.
TrashEnv HomeEnv(const test::TempDir& root) {
  TrashEnv env;
  env.homeTrash = root / "data/Trash";
  env.uid = getuid();
  env.onHomeVolume = [](const std::string&) { return true; };
  return env;
}

// `vol` stands for the top directory of another volume.
TrashEnv VolumeEnv(const test::TempDir& root) {
  TrashEnv env = HomeEnv(root);
  env.onHomeVolume = [](const std::string&) { return false; };
  const std::string vol = root / "vol";
  env.topdirOf = [vol](const std::string&) { return vol; };
  return env;
}

std::string Info(const std::string& trash, const std::string& name) {
  return test::ReadFile(trash + "/info/" + name + ".trashinfo");
}

TEST(TrashText, PathsArePercentEncodedByteForByte) {
  const struct {
    std::string path, encoded;
  } rows[] = {
      {"/home/u/plain-name_1.txt", "/home/u/plain-name_1.txt"},
      {"/a b/100%.txt", "/a%20b/100%25.txt"},
      {"/x/Grüße", "/x/Gr%C3%BC%C3%9Fe"},
      {std::string("/x/bad\xff\xfe"), "/x/bad%FF%FE"},        // not UTF-8: kept as bytes
      {"/x/#?&=+;,:@$", "/x/%23%3F%26%3D%2B%3B%2C%3A%40%24"},  // reserved characters
      {"/x/line\nbreak", "/x/line%0Abreak"},
      {"rel/(it)!~*'", "rel/(it)!~*'"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(TrashEncodePath(row.path), row.encoded) << row.path;
    EXPECT_EQ(TrashDecodePath(row.encoded), row.path) << row.encoded;
  }
  // Lower-case hex and broken escapes as other programs may write them.
  EXPECT_EQ(TrashDecodePath("/a%c3%bc"), "/a\xc3\xbc");
  EXPECT_EQ(TrashDecodePath("/50%/x%zz%4"), "/50%/x%zz%4");
}

TEST(TrashText, DatesAndInfoFilesRoundTrip) {
  const time_t t = TrashParseDate("2004-08-31T22:32:08");
  ASSERT_GT(t, 0);
  EXPECT_EQ(TrashFormatDate(t), "2004-08-31T22:32:08");
  for (const char* bad : {"", "2004-13-01T00:00:00", "yesterday", "2004-08-31 22:32"})
    EXPECT_EQ(TrashParseDate(bad), -1) << bad;

  const struct {
    std::string text;
    bool valid;
    std::string path;
    time_t date;
  } rows[] = {
      {TrashInfoText("/a b/c", t), true, "/a b/c", t},
      {"[Trash Info]\r\nPath=rel/x%20y\r\nDeletionDate=2004-08-31T22:32:08\r\n", true, "rel/x y", t},
      {"[Other]\nPath=/wrong\n[Trash Info]\nPath=/right\n", true, "/right", 0},
      {"[Trash Info]\nDeletionDate=2004-08-31T22:32:08\n", false, "", 0},
      {"Path=/no/group\n", false, "", 0},
      {"[Trash Info]\nPath=/x\nDeletionDate=garbage\n", true, "/x", 0},
  };
  for (const auto& row : rows) {
    std::string path;
    time_t date = -5;
    ASSERT_EQ(ParseTrashInfo(row.text, path, date), row.valid) << row.text;
    if (!row.valid) continue;
    EXPECT_EQ(path, row.path) << row.text;
    EXPECT_EQ(date, row.date) << row.text;
  }
}

TEST(Trash, HomeTrashLayout) {
  test::TempDir root;
  const std::string src = root / "src";
  test::MakeDir(src);
  test::MakeDir(src + "/dir");
  test::WriteFile(src + "/dir/inner", std::string(10000, 'x'));
  const std::vector<std::string> names = {"plain.txt", "a b%c", std::string("bad\xff"), "dir", "link"};
  test::WriteFile(src + "/plain.txt", "1");
  test::WriteFile(src + "/a b%c", "22");
  test::WriteFile(src + "/" + names[2], "333");
  ASSERT_EQ(symlink("/nowhere", (src + "/link").c_str()), 0);

  const TrashEnv env = HomeEnv(root);
  const time_t before = time(nullptr);
  {
    TrashSession session(env);
    for (const std::string& name : names) {
      TrashedItem item;
      ASSERT_EQ(session.Trash(src + "/" + name, &item), 0) << name;
      EXPECT_EQ(item.name, name);
      EXPECT_EQ(item.trash.path, env.homeTrash);
    }
  }
  const std::string trash = env.homeTrash;
  struct stat st {};
  ASSERT_EQ(stat(trash.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const std::regex infoForm("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d)\n");
  for (const std::string& name : names) {
    EXPECT_FALSE(Exists(src + "/" + name)) << name;
    EXPECT_TRUE(Exists(trash + "/files/" + name)) << name;
    std::smatch m;
    const std::string info = Info(trash, name);
    ASSERT_TRUE(std::regex_match(info, m, infoForm)) << info;
    EXPECT_EQ(m[1].str(), TrashEncodePath(src + "/" + name));
    const time_t date = TrashParseDate(m[2].str());
    EXPECT_GE(date, before);
    EXPECT_LE(date, time(nullptr));
  }
  char target[64] = {};
  EXPECT_EQ(readlink((trash + "/files/link").c_str(), target, sizeof target - 1), 8);
  EXPECT_STREQ(target, "/nowhere");
  EXPECT_EQ(test::ReadFile(trash + "/files/dir/inner").size(), 10000u);
  // The directory's disk usage, keyed to its info file's modification time.
  ASSERT_EQ(stat((trash + "/info/dir.trashinfo").c_str(), &st), 0);
  EXPECT_EQ(test::ReadFile(trash + "/directorysizes"),
            std::to_string(DiskUsage(trash + "/files/dir")) + " " + std::to_string(st.st_mtime) + " dir\n");
  EXPECT_GE(DiskUsage(trash + "/files/dir"), 10000u);
}

TEST(Trash, NameCollisionsKeepEveryItem) {
  test::TempDir root;
  const TrashEnv env = HomeEnv(root);
  const std::string trash = env.homeTrash;
  test::MakeDir(root / "one");
  test::MakeDir(root / "two");
  test::MakeDir(root / "three");
  for (const char* dir : {"one", "two", "three"}) {
    test::WriteFile(root / dir + "/report.pdf", dir);
    test::WriteFile(root / dir + "/orphan", dir);
  }
  // An item left without its info file (a crash of another program) holds a name.
  test::MakeDir(trash);
  test::MakeDir(trash + "/files");
  test::MakeDir(trash + "/info");
  test::WriteFile(trash + "/files/orphan", "old");
  // A 250-byte name of two-byte characters: cut at a character boundary.
  std::string longName;
  while (longName.size() < 250) longName += "\xc3\xa4";
  test::WriteFile(root / "one/" + longName, "long");

  TrashSession session(env);
  for (const char* dir : {"one", "two", "three"}) {
    ASSERT_EQ(session.Trash(root / dir + "/report.pdf"), 0);
    ASSERT_EQ(session.Trash(root / dir + "/orphan"), 0);
  }
  TrashedItem longItem;
  ASSERT_EQ(session.Trash(root / "one/" + longName, &longItem), 0);
  EXPECT_LE(longItem.name.size() + 10, 255u);
  EXPECT_EQ(longItem.name.size() % 2, 0u);
  EXPECT_EQ(longItem.originalPath, root / "one/" + longName);

  const struct {
    std::string name, contents, from;
  } rows[] = {
      {"report.pdf", "one", "one"}, {"report.2.pdf", "two", "two"}, {"report.3.pdf", "three", "three"},
      {"orphan.2", "one", "one"},   {"orphan.3", "two", "two"},     {"orphan.4", "three", "three"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(test::ReadFile(trash + "/files/" + row.name), row.contents) << row.name;
    EXPECT_NE(Info(trash, row.name).find("Path=" + TrashEncodePath(root / row.from)), std::string::npos);
  }
  EXPECT_EQ(test::ReadFile(trash + "/files/orphan"), "old");
  EXPECT_FALSE(Exists(trash + "/info/orphan.trashinfo"));
}

// The trash of another volume, by the state of its top directory.
TEST(Trash, VolumeTrashRules) {
  const std::string uid = std::to_string(getuid());
  enum Setup { Nothing, SharedSticky, SharedNotSticky, SharedLink, OwnIsFile, OwnIsLink, OwnForeign };
  const struct {
    Setup setup;
    std::string trash;  // relative to the volume; empty: no trash
  } rows[] = {
      {Nothing, ".Trash-" + uid},      {SharedSticky, ".Trash/" + uid}, {SharedNotSticky, ".Trash-" + uid},
      {SharedLink, ".Trash-" + uid},   {OwnIsFile, ""},                 {OwnIsLink, ""},
      {OwnForeign, ""},
  };
  for (const auto& row : rows) {
    test::TempDir root;
    const std::string vol = root / "vol";
    test::MakeDir(vol);
    test::MakeDir(vol + "/sub");
    test::MakeDir(root / "elsewhere");
    test::WriteFile(vol + "/sub/x y", "data");
    switch (row.setup) {
      case Nothing: break;
      case SharedSticky:
      case SharedNotSticky:
        test::MakeDir(vol + "/.Trash");
        chmod((vol + "/.Trash").c_str(), row.setup == SharedSticky ? 01777 : 0777);
        break;
      case SharedLink:
        chmod((root / "elsewhere").c_str(), 01777);
        ASSERT_EQ(symlink((root / "elsewhere").c_str(), (vol + "/.Trash").c_str()), 0);
        break;
      case OwnIsFile: test::WriteFile(vol + "/.Trash-" + uid, ""); break;
      case OwnIsLink: ASSERT_EQ(symlink((root / "elsewhere").c_str(), (vol + "/.Trash-" + uid).c_str()), 0); break;
      case OwnForeign:
        if (getuid() != 0) continue;  // only root can give a directory away
        test::MakeDir(vol + "/.Trash-" + uid);
        ASSERT_EQ(chown((vol + "/.Trash-" + uid).c_str(), 12345, 12345), 0);
        break;
    }
    TrashSession session(VolumeEnv(root));
    const std::string item = vol + "/sub/x y";
    EXPECT_EQ(session.CanTrash({item}), !row.trash.empty()) << row.setup;
    TrashedItem trashed;
    const int rc = session.Trash(item, &trashed);
    if (row.trash.empty()) {
      EXPECT_EQ(rc, ENOTSUP) << row.setup;
      EXPECT_TRUE(Exists(item)) << row.setup;
      continue;
    }
    ASSERT_EQ(rc, 0) << row.setup;
    const std::string trash = vol + "/" + row.trash;
    EXPECT_EQ(trashed.trash.path, trash);
    EXPECT_EQ(test::ReadFile(trash + "/files/x y"), "data") << row.setup;
    EXPECT_NE(Info(trash, "x y").find("\nPath=sub/x%20y\n"), std::string::npos) << Info(trash, "x y");
    struct stat st {};
    ASSERT_EQ(lstat(trash.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << row.setup;
    EXPECT_FALSE(Exists(root / "elsewhere/" + uid)) << "a link was followed";
    EXPECT_FALSE(Exists(root / "data/Trash")) << "nothing goes to the home trash";

    // Listed with its absolute original path, and restored there.
    const auto dirs = ExistingTrashDirs(VolumeEnv(root), {vol});
    ASSERT_EQ(dirs.size(), 1u);
    const auto items = ListTrash(dirs[0]);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].originalPath, item);
    EXPECT_EQ(RestoreFromTrash(items[0]), 0);
    EXPECT_EQ(test::ReadFile(item), "data");
  }
}

// A home trash that is blocked by a file (the trash itself or one of its
// parts) is no trash: known before anything is asked, and nothing moves.
TEST(Trash, BlockedHomeTrashIsNoTrash) {
  for (const char* blocker : {"", "/files", "/info"}) {
    test::TempDir root;
    const TrashEnv env = HomeEnv(root);
    test::MakeDir(root / "data");
    if (*blocker != '\0') test::MakeDir(env.homeTrash);
    test::WriteFile(env.homeTrash + blocker, "in the way");
    test::WriteFile(root / "item", "data");
    TrashSession session(env);
    EXPECT_FALSE(session.CanTrash({root / "item"})) << blocker;
    EXPECT_EQ(session.Trash(root / "item"), ENOTSUP) << blocker;
    EXPECT_EQ(test::ReadFile(root / "item"), "data") << blocker;
  }
}

TEST(Trash, ItemsInsideATrashAreNotTrashedAgain) {
  test::TempDir root;
  const TrashEnv env = HomeEnv(root);
  test::WriteFile(root / "f", "x");
  TrashSession session(env);
  ASSERT_EQ(session.Trash(root / "f"), 0);
  EXPECT_EQ(session.Trash(env.homeTrash + "/files/f"), EXDEV);
  EXPECT_FALSE(session.CanTrash({env.homeTrash + "/files/f"}));
  EXPECT_EQ(session.Trash(root / "missing"), ENOENT);
}

TEST(Trash, ListRestoreAndErase) {
  test::TempDir root;
  const TrashEnv env = HomeEnv(root);
  test::MakeDir(root / "docs");
  test::MakeDir(root / "docs/tree");
  test::MakeDir(root / "docs/tree/deeper");
  chmod((root / "docs/tree/deeper").c_str(), 0500);  // read-only inside: erasing still works
  test::WriteFile(root / "docs/note.txt", "12345");
  test::WriteFile(root / "docs/taken.txt", "old");
  {
    TrashSession session(env);
    for (const char* name : {"docs/note.txt", "docs/tree", "docs/taken.txt"}) ASSERT_EQ(session.Trash(root / name), 0);
  }
  const auto dirs = ExistingTrashDirs(env, {});
  ASSERT_EQ(dirs.size(), 1u);
  auto items = ListTrash(dirs[0]);
  std::sort(items.begin(), items.end(), [](auto& a, auto& b) { return a.name < b.name; });
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].originalPath, root / "docs/note.txt");
  EXPECT_EQ(items[0].size, 5u);
  EXPECT_FALSE(items[0].directory);
  EXPECT_EQ(items[2].originalPath, root / "docs/tree");
  EXPECT_TRUE(items[2].directory);
  EXPECT_EQ(items[2].size, DiskUsage(env.homeTrash + "/files/tree"));
  EXPECT_LE(std::abs(time(nullptr) - items[1].deletionDate), 5);

  // The directory it came from is gone: it is made again.
  RemoveTree(root / "docs");
  EXPECT_EQ(RestoreFromTrash(items[0]), 0);
  EXPECT_EQ(test::ReadFile(root / "docs/note.txt"), "12345");
  EXPECT_FALSE(Exists(env.homeTrash + "/info/note.txt.trashinfo"));
  // A taken name is never replaced; the item stays, or goes under a new name.
  test::WriteFile(root / "docs/taken.txt", "new");
  EXPECT_EQ(RestoreFromTrash(items[1]), EEXIST);
  EXPECT_EQ(test::ReadFile(root / "docs/taken.txt"), "new");
  EXPECT_EQ(RestoreFromTrash(items[1], root / "docs/taken (restored).txt"), 0);
  EXPECT_EQ(test::ReadFile(root / "docs/taken (restored).txt"), "old");

  EXPECT_NE(test::ReadFile(env.homeTrash + "/directorysizes").find(" tree\n"), std::string::npos);
  EXPECT_EQ(EraseFromTrash(items[2]), 0);
  EXPECT_FALSE(Exists(env.homeTrash + "/files/tree"));
  EXPECT_FALSE(Exists(env.homeTrash + "/info/tree.trashinfo"));
  EXPECT_EQ(test::ReadFile(env.homeTrash + "/directorysizes"), "");
  EXPECT_TRUE(ListTrash(dirs[0]).empty());
}

TEST(Trash, StaleDirectorySizesAreNotBelieved) {
  test::TempDir root;
  const TrashEnv env = HomeEnv(root);
  test::MakeDir(root / "d");
  test::WriteFile(root / "d/f", std::string(5000, 'a'));
  TrashSession session(env);
  ASSERT_EQ(session.Trash(root / "d"), 0);
  session.Flush();
  const TrashDir trash{env.homeTrash, {}};
  EXPECT_EQ(ReadDirectorySizes(trash).count("d"), 1u);
  // Another program replaced the item: its info file is newer than the entry.
  test::SetMTime(env.homeTrash + "/info/d.trashinfo", 1000000000);
  EXPECT_EQ(ReadDirectorySizes(trash).count("d"), 0u);
  test::WriteFile(env.homeTrash + "/directorysizes", "garbage\n12 x y\n");
  EXPECT_TRUE(ReadDirectorySizes(trash).empty());
}

// A real second volume and a read-only one: a private mount namespace with
// tmpfs volumes, in a child process.
TEST(Trash, RealVolumesInAPrivateMountNamespace) {
  test::TempDir root;
  const std::string vol = root / "vol";
  test::MakeDir(vol);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", vol.c_str(), "tmpfs", 0, "size=4m") != 0)
      _exit(77);
    TrashEnv env = TrashEnv::FromProcess();
    env.homeTrash = root / "data/Trash";
    mkdir((vol + "/sub").c_str(), 0755);
    test::WriteFile(vol + "/sub/f", "v");
    TrashSession session(env);
    TrashedItem item;
    if (session.Trash(vol + "/sub/f", &item) != 0) _exit(1);
    const std::string own = vol + "/.Trash-" + std::to_string(getuid());
    if (item.trash.path != own || item.trash.topdir != vol) _exit(2);
    if (Info(own, "f").find("\nPath=sub/f\n") == std::string::npos) _exit(3);
    test::WriteFile(vol + "/sub/g", "w");
    if (mount(nullptr, vol.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) _exit(77);
    TrashSession readOnly(env);
    if (readOnly.CanTrash({vol + "/sub/g"})) _exit(4);
    if (readOnly.Trash(vol + "/sub/g") != EROFS) _exit(5);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failed step " << WEXITSTATUS(status);
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

// Peers read what we write and we read what they write.
TEST(Trash, PeersAgreeOnTheLayout) {
  const bool haveGio = test::RunCommand("command -v gio >/dev/null && command -v dbus-run-session >/dev/null") == 0;
  const bool haveTrashCli = test::RunCommand("command -v trash-list >/dev/null") == 0;
  if (!haveGio && !haveTrashCli) GTEST_SKIP() << "neither gio nor trash-cli installed";
  test::TempDir root;
  TrashEnv env = HomeEnv(root);
  env.homeTrash = root / "data/Trash";
  const std::string envs = "LC_ALL=C.UTF-8 XDG_DATA_HOME='" + root / "data" + "' ";
  test::MakeDir(root / "src");
  test::MakeDir(root / "src/d ir");
  test::WriteFile(root / "src/d ir/in", "x");
  test::WriteFile(root / "src/50% off.txt", "y");
  test::WriteFile(root / "src/Grüße", "z");
  {
    TrashSession session(env);
    for (const char* name : {"d ir", "50% off.txt", "Grüße"}) ASSERT_EQ(session.Trash(root / "src/" + name), 0);
  }
  const std::vector<std::string> ours = {root / "src/50% off.txt", root / "src/Grüße", root / "src/d ir"};
  if (haveTrashCli) {
    std::string out;
    ASSERT_EQ(test::RunCommand(envs + "trash-list 2>/dev/null | cut -d' ' -f3- | sort", &out), 0);
    EXPECT_EQ(out, ours[0] + "\n" + ours[1] + "\n" + ours[2] + "\n");
  }
  if (haveGio) {
    std::string out;
    ASSERT_EQ(test::RunCommand(envs + "dbus-run-session -- gio list -a trash::orig-path trash:// 2>/dev/null"
                                      " | sed 's/.*trash::orig-path=//' | sort",
                               &out),
              0);
    EXPECT_EQ(Unescape(out), ours[0] + "\n" + ours[1] + "\n" + ours[2] + "\n");

    // What gio trashes, we list and restore.
    test::WriteFile(root / "src/from gio", "g");
    ASSERT_EQ(test::RunCommand(envs + "gio trash '" + root / "src/from gio" + "'"), 0);
    bool found = false;
    for (const TrashedItem& item : ListTrash(TrashDir{env.homeTrash, {}})) {
      if (item.originalPath != root / "src/from gio") continue;
      found = true;
      EXPECT_LE(std::abs(time(nullptr) - item.deletionDate), 5);
      EXPECT_EQ(RestoreFromTrash(item), 0);
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(test::ReadFile(root / "src/from gio"), "g");
  }
}

}  // namespace
}  // namespace vantrel::platform
