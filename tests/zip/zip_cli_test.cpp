// The vantrel-zip tool as a user runs it: list, test, extract and add, with
// their options and exit statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "tests/zip/zip_writer_support.h"

namespace vantrel::zip {
namespace {

using namespace testing;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("VANTREL_BINARY_DIR");
    tool_ = std::string(dir ? dir : ".") + "/vantrel-zip";
    if (!std::filesystem::exists(tool_)) GTEST_SKIP() << tool_ << " is not built";
    std::filesystem::create_directories(tmp_ / "docs/sub");
    test::WriteFile(tmp_ / "docs/a.txt", std::string(5000, 'a'));
    test::WriteFile(tmp_ / "docs/b.bak", "b");
    test::WriteFile(tmp_ / "docs/README", "r");
    test::WriteFile(tmp_ / "docs/sub/c.txt", std::string(5000, 'c'));
  }
  // Runs the tool in the temporary directory with stdin from /dev/null;
  // returns the exit status and collects stdout and (separately) stderr.
  int Run(const std::string& args, std::string* out = nullptr, std::string* err = nullptr,
          const std::string& cwd = "") {
    const std::string errFile = tmp_ / "stderr.txt";
    std::string output;
    const int status = test::RunCommand("cd " + Quote(cwd.empty() ? tmp_.path() : cwd) + " && " + Quote(tool_) +
                                            " " + args + " </dev/null 2>" + Quote(errFile),
                                        &output);
    if (out) *out = output;
    if (err) *err = test::ReadFile(errFile);
    return status;
  }
  std::string Archive(const std::vector<TEntrySpec>& entries, const std::string& name = "a.zip") {
    test::WriteFile(tmp_ / name, BuildZip(entries));
    return Quote(tmp_ / name);
  }
  std::vector<std::string> Names(const std::string& zip) {
    std::vector<std::string> names;
    for (const auto& e : testing::ParseArchive(tmp_ / zip).entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
  }
  bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  std::string tool_;
  test::TempDir tmp_;
};

TEST_F(CliTest, ErrorsGiveTheEngineMessageAndAStatus) {
  test::WriteFile(tmp_ / "not.zip", "just some text, no archive here");
  std::string err;
  for (const auto& [args, says] : {std::pair{"list not.zip", "not.zip: Incomplete Zip File"},
                                   {"list missing.zip", "missing.zip: Cannot open"},
                                   {"frobnicate x", "unknown command"}, {"extract -q x.zip", "option '-q'"}}) {
    EXPECT_EQ(Run(args, nullptr, &err), 2) << args;
    EXPECT_NE(err.find(says), std::string::npos) << err;
  }
}

TEST_F(CliTest, TestReportsBadEntriesAndPasswords) {
  TEntrySpec bad{"bad.txt", "contents"}, secret{"s.txt", "secret data"};
  bad.crc = 1;
  secret.password = "letmein";
  std::string err;
  EXPECT_EQ(Run("test " + Archive({{"a", "1"}, {"b", "2"}}, "good.zip")), 0);
  EXPECT_EQ(Run("test " + Archive({{"a", "1"}, bad}, "bad.zip"), nullptr, &err), 1);
  EXPECT_NE(err.find("bad.txt"), std::string::npos) << err;
  EXPECT_EQ(err.find(" a\n"), std::string::npos);
  EXPECT_FALSE(Exists(tmp_ / "a"));  // test writes nothing
  const std::string zip = Archive({secret}, "secret.zip");
  EXPECT_EQ(Run("extract -d p -P wrong " + zip, nullptr, &err), 1);
  EXPECT_NE(err.find("wrong password"), std::string::npos) << err;
  EXPECT_FALSE(Exists(tmp_ / "p/s.txt"));
  EXPECT_EQ(Run("extract -d p -P letmein " + zip), 0);
  EXPECT_EQ(test::ReadFile(tmp_ / "p/s.txt"), "secret data");
  EXPECT_EQ(Run("test -P letmein " + zip), 0);
}

TEST_F(CliTest, ExtractWithMasksPathsAndOverwriteOptions) {
  const std::string zip = Archive({{"top.txt", "top"}, {"d/sub.txt", "sub"}, {"d/skip.c", "c"}});
  ASSERT_EQ(Run("extract -d x " + zip + " '*.txt'"), 0);
  EXPECT_EQ(test::ReadFile(tmp_ / "x/d/sub.txt"), "sub");
  EXPECT_FALSE(Exists(tmp_ / "x/d/skip.c"));
  ASSERT_EQ(Run("extract -j -d flat " + zip), 0);
  EXPECT_EQ(test::ReadFile(tmp_ / "flat/sub.txt"), "sub");
  EXPECT_FALSE(Exists(tmp_ / "flat/d"));
  // Neither -o nor -n with standard input not a terminal keeps the file, as -n does.
  test::WriteFile(tmp_ / "x/top.txt", "old");
  for (const char* option : {"", "-n "}) {
    EXPECT_EQ(Run(std::string("extract ") + option + "-d x " + zip), 0);
    EXPECT_EQ(test::ReadFile(tmp_ / "x/top.txt"), "old");
  }
  EXPECT_EQ(Run("extract -o -d x " + zip), 0);
  EXPECT_EQ(test::ReadFile(tmp_ / "x/top.txt"), "top");
}

TEST_F(CliTest, AddStoresPathsRelativeToTheCurrentDirectory) {
  std::string out;
  EXPECT_EQ(Run("add -r out.zip 'docs/*.*'", &out), 0) << out;
  EXPECT_EQ(Names("out.zip"), (std::vector<std::string>{"docs/README", "docs/a.txt", "docs/b.bak", "docs/sub/c.txt"}));
  // Without -r the pattern stays in its directory; a directory argument
  // stands for the files in it.
  EXPECT_EQ(Run("add flat.zip 'docs/*.txt'"), 0);
  EXPECT_EQ(Names("flat.zip"), std::vector<std::string>{"docs/a.txt"});
  EXPECT_EQ(Run("add -r ../dir.zip sub", nullptr, nullptr, tmp_ / "docs"), 0);
  EXPECT_EQ(Names("dir.zip"), std::vector<std::string>{"sub/c.txt"});
}

TEST_F(CliTest, AddLevelsExclusionAndNoCompression) {
  EXPECT_EQ(Run("add -r -9 -x '*.bak' -n '*/sub/*' out.zip docs"), 0);
  EXPECT_EQ(Run("add -0 stored.zip docs/a.txt"), 0);
  // name, method, level flags; b.bak excluded, a -n pattern with / matches the path.
  std::vector<std::tuple<std::string, int, int>> got;
  for (const char* zip : {"out.zip", "stored.zip"})
    for (const auto& e : testing::ParseArchive(tmp_ / zip).entries) got.emplace_back(e.name, e.method, e.flags & 6);
  std::sort(got.begin(), got.end() - 1);
  EXPECT_EQ(got, (std::vector<std::tuple<std::string, int, int>>{
                     {"docs/README", 0, 2}, {"docs/a.txt", 8, 2}, {"docs/sub/c.txt", 0, 0}, {"docs/a.txt", 0, 0}}));
}

TEST_F(CliTest, AddUpdateFreshenReplaceAndExitStatuses) {
  std::string out;
  ASSERT_EQ(Run("add out.zip docs/a.txt"), 0);
  test::WriteFile(tmp_ / "docs/new.txt", "n");
  EXPECT_EQ(Run("add -f out.zip docs/a.txt docs/new.txt"), 0);
  EXPECT_EQ(Names("out.zip"), std::vector<std::string>{"docs/a.txt"});
  EXPECT_EQ(Run("add -R out.zip docs/a.txt", &out), 0);
  EXPECT_NE(out.find("1 entry added"), std::string::npos) << out;
  EXPECT_EQ(Run("add -u out.zip docs/a.txt", &out), 0);
  EXPECT_NE(out.find("0 entries added"), std::string::npos) << out;
  // A missing file is a warning; a bad option, no files, a damaged archive or
  // an impossible path a failure that leaves the archive as it was.
  std::string err;
  EXPECT_EQ(Run("add out.zip docs/a.txt docs/missing.txt", &out, &err), 1);
  EXPECT_NE((out + err).find("docs/missing.txt: no such file"), std::string::npos) << out << err;
  test::WriteFile(tmp_ / "bad.zip", "not an archive");
  for (const char* args : {"-q out.zip docs/a.txt", "out.zip", "bad.zip docs/a.txt", "no/such/dir/x.zip docs/a.txt"})
    EXPECT_EQ(Run(std::string("add ") + args), 2) << args;
  EXPECT_EQ(test::ReadFile(tmp_ / "bad.zip"), "not an archive");
}

}  // namespace
}  // namespace vantrel::zip
