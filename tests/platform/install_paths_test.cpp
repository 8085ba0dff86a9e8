// Where the programs find their data: below their prefix when installed,
// beside themselves in the build folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/install_paths.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

TEST(InstallPaths, DataFolderBelowThePrefixElseBesideTheProgram) {
  test::TempDir root;
  test::MakeDir(root / "usr");
  test::MakeDir(root / "usr/bin");
  test::MakeDir(root / "usr/share");
  test::MakeDir(root / "usr/share/vantrel");
  test::MakeDir(root / "build");
  test::WriteFile(root / "build/share", "a file, not the data folder");
  const std::string usr = root / "usr";
  const struct {
    std::string exeDir, relative, expected;
  } cases[] = {
      {usr + "/bin/", "../share/vantrel", usr + "/share/vantrel/"},
      {usr + "/bin", "../share/vantrel/", usr + "/share/vantrel/"},  // slashes either way
      {usr + "/bin/", "./../share/./vantrel", usr + "/share/vantrel/"},
      {usr + "/bin/", usr + "/share/vantrel", usr + "/share/vantrel/"},  // an absolute data folder
      {root / "build", "../share/vantrel", root / "build/"},            // not installed: beside the program
      {root / "build/", "share", root / "build/"},                      // a file is no data folder
      {usr + "/bin/", "", usr + "/bin/"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DataDirectoryFor(c.exeDir, c.relative), c.expected) << c.exeDir << " + " << c.relative;
}

TEST(InstallPaths, TheRunningProgramAndItsFolders) {
  const std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), '/');
  EXPECT_EQ(access(exe.c_str(), X_OK), 0) << exe;
  EXPECT_EQ(ExecutableDirectory(), exe.substr(0, exe.rfind('/') + 1));
  // The test programs are not installed: their data folder is their own folder.
  EXPECT_EQ(DataDirectory(), ExecutableDirectory());
  EXPECT_EQ(LanguageDirectory(), DataDirectory() + "Language/");
  EXPECT_EQ(HelpDirectory(), DataDirectory() + "help/");
  EXPECT_STRNE(ProgramVersion(), "");
}

}  // namespace
}  // namespace vantrel::platform
