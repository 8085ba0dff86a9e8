// The desktop's applications for a type: desktop files, mimeapps.list and
// Exec lines, read from a test XDG tree.
#include "platform/desktop_apps.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using Words = std::vector<std::string>;

std::string Desktop(const std::string& name, const std::string& mime, const std::string& extra = "") {
  return "# comment\n[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name +
         " %F\nIcon=" + name + "-icon\nMimeType=" + mime + "\n" + extra;
}

TEST(DesktopApps, ParseKeepsTheFirstOfDuplicateKeysAndLocalisedNames) {
  DesktopApp app;
  ASSERT_TRUE(ParseDesktopApp("[Desktop Entry]\nType=Application\nName=Editor\nName[de]=Bearbeiter\n"
                              "Name[de_AT]=Editierer\nName=Other\nExec=ed\\s%f\nTerminal=true\n"
                              "MimeType=text/plain;text/x-c;\n[Desktop Action new]\nExec=x\n",
                              "ed.desktop", app, "de_DE.UTF-8"));
  EXPECT_EQ(std::make_tuple(app.name, app.exec, app.terminal, app.mimeTypes),
            std::make_tuple("Bearbeiter", "ed %f", true, Words{"text/plain", "text/x-c"}));
  ASSERT_TRUE(ParseDesktopApp("[Desktop Entry]\nType=Application\nName=Editor\nName[de_AT]=Editierer\nExec=ed\n",
                              "ed.desktop", app, "de_AT"));
  EXPECT_EQ(app.name, "Editierer");
}

TEST(DesktopApps, EntriesThatCannotStartAreLeftOut) {
  const std::string entry = "[Desktop Entry]\nType=Application\nName=A\n";
  const std::pair<std::string, bool> cases[] = {
      {entry + "Exec=a\n", true},          {"[Desktop Entry]\nType=Link\nName=A\nURL=x\n", false},
      {entry + "Exec=a\nHidden=true\n", false}, {entry, false},
      {entry + "Exec=a\nTryExec=no-such-program-vantrel\n", false}, {entry + "Exec=a\nTryExec=sh\n", true},
      {"[Other]\nType=Application\nExec=a\n", false}};
  for (const auto& [text, usable] : cases) {
    DesktopApp app;
    EXPECT_EQ(ParseDesktopApp(text, "a.desktop", app), usable) << text;
  }
}

TEST(DesktopApps, ExecLinesBecomeArguments) {
  const std::string path = "/tmp/my file $(x).txt";
  const struct {
    const char* exec;
    Words args;
  } cases[] = {
      {"editor %f", {"editor", path}},
      {"editor %U --new", {"editor", path, "--new"}},
      {"editor", {"editor", path}},  // no file code: the file goes last
      {"\"/opt/My Editor/ed\" --file=%f", {"/opt/My Editor/ed", "--file=" + path}},
      {"sh -c \"echo \\\"\\$1\\\" \\\\\" %f", {"sh", "-c", "echo \"$1\" \\", path}},
      {"viewer %i %c %k %d 100%% %f", {"viewer", "--icon", "view-icon", "Viewer", "/apps/v.desktop", "100%", path}},
  };
  for (const auto& c : cases) {
    DesktopApp app;
    app.exec = c.exec;
    app.icon = "view-icon";
    app.name = "Viewer";
    app.file = "/apps/v.desktop";
    EXPECT_EQ(ExecArguments(app, path), c.args) << c.exec;
  }
}

// A test XDG tree: applications in two data folders, associations in the
// configuration and data folders.
class DesktopAppsTree : public ::testing::Test {
 protected:
  test::TempDir tmp;
  XdgDirs dirs;
  void SetUp() override {
    for (const char* d : {"home/applications/sub", "sys/applications", "config", "sysconfig"})
      test::MakeDir(tmp / d);
    dirs.dataHome = tmp / "home";
    dirs.dataDirs = {tmp / "sys"};
    dirs.configHome = tmp / "config";
    dirs.configDirs = {tmp / "sysconfig"};
    dirs.desktops = {"testdesk"};
    // The user's own copy of beta hides the system one; sub/delta has ID sub-delta.desktop.
    for (const auto& [file, name, types] : std::initializer_list<std::tuple<const char*, const char*, const char*>>{
             {"sys/applications/alpha", "alpha", "text/plain;"},
             {"sys/applications/beta", "beta", "text/plain;image/png;"},
             {"sys/applications/gamma", "gamma", "image/png;"}, {"sys/applications/removed", "removed", "text/plain;"},
             {"sys/applications/generic", "generic", "application/octet-stream;"},
             {"home/applications/beta", "mybeta", "text/plain;"},
             {"home/applications/sub/delta", "delta", "text/x-csrc;"}})
      test::WriteFile(tmp / file + ".desktop", Desktop(name, types));
    test::WriteFile(tmp / "sys/applications/hidden.desktop", Desktop("hidden", "text/plain;", "Hidden=true\n"));
  }
  Words Names(const std::vector<std::string>& types) {
    Words names;
    for (const DesktopApp& app : ApplicationsFor(types, dirs)) names.push_back(app.name);
    return names;
  }
};

// No default: the user's applications, then the system's, each folder by
// name; the first installed default counts even when associations remove
// it, a desktop-specific list chooses it before the general one; removals
// only hide later additions; parent types add their applications.
TEST_F(DesktopAppsTree, DefaultFirstThenAssociationsThenParentTypes) {
  EXPECT_EQ(Names({"text/plain"}), (Words{"mybeta", "alpha", "removed"}));
  EXPECT_EQ(Names({"text/x-csrc", "text/plain", "application/octet-stream"}),
            (Words{"delta", "mybeta", "alpha", "removed", "generic"}));
  EXPECT_EQ(ApplicationsFor({"text/x-csrc"}, dirs).front().id, "sub-delta.desktop");
  EXPECT_TRUE(Names({"video/none"}).empty());
  test::WriteFile(tmp / "config/mimeapps.list",
                  "[Default Applications]\ntext/plain=missing.desktop;removed.desktop;\n"
                  "[Removed Associations]\ntext/plain=removed.desktop;\n"
                  "[Added Associations]\ntext/plain=gamma.desktop;\nimage/png=alpha.desktop;\n");
  test::WriteFile(tmp / "sysconfig/mimeapps.list",
                  "[Removed Associations]\nimage/png=alpha.desktop;gamma.desktop;\n");
  EXPECT_EQ(Names({"text/plain"}), (Words{"removed", "gamma", "mybeta", "alpha"}));
  EXPECT_EQ(Names({"image/png"}), (Words{"alpha"}));  // beta is the user's copy, which has no image/png
  test::WriteFile(tmp / "config/testdesk-mimeapps.list", "[Default Applications]\ntext/plain=alpha.desktop\n");
  EXPECT_EQ(Names({"text/plain"}).front(), "alpha");
}

}  // namespace
}  // namespace vantrel::platform
