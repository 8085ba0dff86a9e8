// The user's places: XDG user directories and GTK bookmarks read from their
// files as desktops write them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/places.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using Paths = std::vector<std::string>;

Paths PathsOf(const std::vector<Place>& places) {
  Paths paths;
  for (const Place& place : places) paths.push_back(place.path + "=" + place.label);
  return paths;
}

TEST(Places, UserDirectoriesFromTheirFile) {
  test::TempDir root;
  const std::string home = root / "home", config = root / "config";
  for (const char* dir : {"home", "home/Desktop", "home/Dokumente", "home/My \"Music\"", "config", "elsewhere"})
    test::MakeDir(root / dir);
  test::WriteFile(config + "/user-dirs.dirs",
                  "# written by xdg-user-dirs-update\n"
                  "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                  "XDG_DOWNLOAD_DIR=\"$HOME/\"\n"              // the home folder: switched off
                  "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente/\"\n"
                  "XDG_MUSIC_DIR=\"$HOME/My \\\"Music\\\"\"\n"  // escaped quotes
                  "XDG_VIDEOS_DIR=\"$HOME/Videos\"\n"          // does not exist
                  "XDG_PUBLICSHARE_DIR=\"" + root / "elsewhere" + "\"\n"
                  "XDG_TEMPLATES_DIR=\"relative/path\"\n"
                  "garbage line\n");
  EXPECT_EQ(PathsOf(UserDirectories(home, config)),
            (Paths{home + "/Desktop=Desktop", home + "/Dokumente=Dokumente", home + "/My \"Music\"=My \"Music\"",
                   root / "elsewhere=elsewhere"}));
  EXPECT_TRUE(UserDirectories(home, root / "nothing").empty());
}

TEST(Places, GtkBookmarksLocalAndExisting) {
  test::TempDir root;
  const std::string config = root / "config";
  test::MakeDir(config);
  test::MakeDir(config + "/gtk-3.0");
  for (const char* dir : {"a b", "plain", "bad\xff"}) test::MakeDir(root / dir);
  test::WriteFile(config + "/gtk-3.0/bookmarks",
                  "file://" + root.path() + "/a%20b Work things\r\n"
                  "file://" + root.path() + "/plain\n"
                  "file://" + root.path() + "/bad%FF\n"
                  "sftp://server/home/u Server\n"
                  "file://" + root.path() + "/gone Gone\n"
                  "\n");
  EXPECT_EQ(PathsOf(GtkBookmarks(config)),
            (Paths{root / "a b=Work things", root / "plain=plain", root / "bad\xff=bad\xff"}));
}

TEST(Places, HomeFirstEachPathOnce) {
  test::TempDir root;
  test::MakeDir(root / "Desktop");
  test::MakeDir(root / ".config");
  test::MakeDir(root / ".config/gtk-3.0");
  test::WriteFile(root / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
  test::WriteFile(root / ".config/gtk-3.0/bookmarks", "file://" + root.path() + "/Desktop Mine\n");
  const char* oldHome = getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  const char* oldConfig = getenv("XDG_CONFIG_HOME");
  const std::string savedConfig = oldConfig ? oldConfig : "";
  setenv("HOME", root.path().c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  const std::vector<Place> places = UserPlaces();
  setenv("HOME", savedHome.c_str(), 1);
  if (oldConfig) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
  const std::string name = root.path().substr(root.path().rfind('/') + 1);
  EXPECT_EQ(PathsOf(places), (Paths{root.path() + "=" + name, root / "Desktop=Desktop"}));
}

}  // namespace
}  // namespace vantrel::platform
