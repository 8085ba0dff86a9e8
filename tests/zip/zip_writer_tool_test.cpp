// vantrel-zip add, driven as a user would run it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"
#include "tests/zip/zip_writer_support.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using testing::ParseArchive;
using testing::Quote;
using vantrel::test::RunCommand;
using vantrel::test::TempDir;
using vantrel::test::WriteFile;

std::string Tool() {
  const char* dir = std::getenv("VANTREL_BINARY_DIR");
  std::string path = std::string(dir ? dir : ".") + "/vantrel-zip";
  return fs::exists(path) ? path : std::string();
}

// Runs the tool in `cwd`; returns its exit status, output and errors together.
int Add(const std::string& cwd, const std::string& args, std::string* out = nullptr) {
  return RunCommand("cd " + Quote(cwd) + " && " + Quote(Tool()) + " add " + args + " 2>&1", out);
}

std::vector<std::string> Names(const std::string& zip) {
  std::vector<std::string> names;
  for (const auto& e : ParseArchive(zip).entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

struct Docs {
  TempDir dir;
  Docs() {
    fs::create_directories(dir / "docs/sub");
    WriteFile(dir / "docs/a.txt", std::string(5000, 'a'));
    WriteFile(dir / "docs/b.bak", "b");
    WriteFile(dir / "docs/README", "r");
    WriteFile(dir / "docs/sub/c.txt", std::string(5000, 'c'));
  }
};

TEST(ZipAddTool, StoresPathsRelativeToTheCurrentDirectory) {
  if (Tool().empty()) GTEST_SKIP() << "vantrel-zip is not built";
  Docs d;
  std::string out;
  EXPECT_EQ(Add(d.dir.path(), "-r out.zip 'docs/*.*'", &out), 0) << out;
  EXPECT_EQ(Names(d.dir / "out.zip"), (std::vector<std::string>{"docs/README", "docs/a.txt",
                                                                  "docs/b.bak", "docs/sub/c.txt"}));
  // Without -r the pattern stays in its directory; a directory argument
  // stands for the files in it.
  EXPECT_EQ(Add(d.dir.path(), "flat.zip 'docs/*.txt'"), 0);
  EXPECT_EQ(Names(d.dir / "flat.zip"), std::vector<std::string>{"docs/a.txt"});
  EXPECT_EQ(Add(d.dir / "docs", "-r ../dir.zip sub"), 0);
  EXPECT_EQ(Names(d.dir / "dir.zip"), std::vector<std::string>{"sub/c.txt"});
}

TEST(ZipAddTool, LevelsExclusionAndNoCompression) {
  if (Tool().empty()) GTEST_SKIP() << "vantrel-zip is not built";
  Docs d;
  EXPECT_EQ(Add(d.dir.path(), "-r -9 -x '*.bak' -n '*/sub/*' out.zip docs"), 0);
  auto a = ParseArchive(d.dir / "out.zip");
  ASSERT_EQ(a.entries.size(), 3u);
  for (const auto& e : a.entries) {
    EXPECT_NE(e.name, "docs/b.bak");
    if (e.name == "docs/a.txt") {
      EXPECT_EQ(e.method, 8);
      EXPECT_EQ(e.flags & 6, 2) << "level 9";
    }
    if (e.name == "docs/sub/c.txt") {
      EXPECT_EQ(e.method, 0) << "a -n pattern with / matches the path";
    }
  }
  EXPECT_EQ(Add(d.dir.path(), "-0 stored.zip docs/a.txt"), 0);
  EXPECT_EQ(ParseArchive(d.dir / "stored.zip").entries[0].method, 0);
}

TEST(ZipAddTool, UpdateFreshenAndReplace) {
  if (Tool().empty()) GTEST_SKIP() << "vantrel-zip is not built";
  Docs d;
  ASSERT_EQ(Add(d.dir.path(), "out.zip docs/a.txt"), 0);
  WriteFile(d.dir / "docs/new.txt", "n");
  EXPECT_EQ(Add(d.dir.path(), "-f out.zip docs/a.txt docs/new.txt"), 0);
  EXPECT_EQ(Names(d.dir / "out.zip"), std::vector<std::string>{"docs/a.txt"});
  std::string out;
  EXPECT_EQ(Add(d.dir.path(), "-R out.zip docs/a.txt", &out), 0);
  EXPECT_NE(out.find("1 entry added"), std::string::npos) << out;
  EXPECT_EQ(Add(d.dir.path(), "-u out.zip docs/a.txt", &out), 0);
  EXPECT_NE(out.find("0 entries added"), std::string::npos) << out;
}

TEST(ZipAddTool, ExitStatusTellsWarningsFromFailures) {
  if (Tool().empty()) GTEST_SKIP() << "vantrel-zip is not built";
  Docs d;
  std::string out;
  EXPECT_EQ(Add(d.dir.path(), "out.zip docs/a.txt docs/missing.txt", &out), 1);
  EXPECT_NE(out.find("docs/missing.txt: no such file"), std::string::npos) << out;
  EXPECT_EQ(Add(d.dir.path(), "-q out.zip docs/a.txt", &out), 2);
  EXPECT_EQ(Add(d.dir.path(), "out.zip", &out), 2);
  WriteFile(d.dir / "bad.zip", "not an archive");
  EXPECT_EQ(Add(d.dir.path(), "bad.zip docs/a.txt", &out), 2);
  EXPECT_EQ(vantrel::test::ReadFile(d.dir / "bad.zip"), "not an archive");
  EXPECT_EQ(Add(d.dir.path(), "no/such/dir/x.zip docs/a.txt", &out), 2);
}

}  // namespace
}  // namespace vantrel::zip
