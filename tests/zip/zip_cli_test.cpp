// zip_cli_test.cpp - the vantrel-zip tool: list, test and extract with their
// options and exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"

namespace vantrel::zip {
namespace {

using testing::BuildZip;
using testing::TEntrySpec;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("VANTREL_BINARY_DIR");
    if (!dir) GTEST_SKIP() << "VANTREL_BINARY_DIR is not set";
    tool_ = std::string(dir) + "/vantrel-zip";
    struct stat st;
    if (::stat(tool_.c_str(), &st) != 0) GTEST_SKIP() << tool_ << " is not built";
  }
  // Runs the tool with stdin from /dev/null; returns the exit status and
  // collects stdout and (separately) stderr.
  int Run(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
    std::string errFile = tmp_ / "stderr.txt";
    std::string output;
    int status = test::RunCommand("'" + tool_ + "' " + args + " </dev/null 2>'" + errFile + "'", &output);
    if (out) *out = output;
    if (err) *err = test::ReadFile(errFile);
    return status;
  }
  std::string Archive(const std::vector<TEntrySpec>& entries, const std::string& name = "a.zip") {
    std::string path = tmp_ / name;
    test::WriteFile(path, BuildZip(entries));
    return path;
  }
  bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }

  std::string tool_;
  test::TempDir tmp_;
};

TEST_F(CliTest, ListShowsEveryEntryAndATotal) {
  TEntrySpec deflated{"dir/text.txt", std::string(1000, 'x')};
  deflated.method = 8;
  deflated.dosDateTime = (40u << 25) | (7u << 21) | (1u << 16) | (12u << 11) | (30u << 5) | 5;
  std::string zip = Archive({{"one.txt", "1"}, deflated});
  std::string out;
  ASSERT_EQ(Run("list '" + zip + "'", &out), 0);
  EXPECT_NE(out.find("         1          1  Stored   1993-07-15 12:00:00  83dcefb7  one.txt\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("      1000"), std::string::npos);
  EXPECT_NE(out.find("Deflate  2020-07-01 12:30:10"), std::string::npos);
  EXPECT_NE(out.find("dir/text.txt"), std::string::npos);
  EXPECT_NE(out.find("      1001 "), std::string::npos);  // the total
  EXPECT_NE(out.find("2 files"), std::string::npos);
}

TEST_F(CliTest, ErrorsGiveTheEngineMessageAndAStatus) {
  std::string notZip = tmp_ / "not.zip";
  test::WriteFile(notZip, "just some text, no archive here");
  std::string err;
  EXPECT_NE(Run("list '" + notZip + "'", nullptr, &err), 0);
  EXPECT_NE(err.find("Incomplete Zip File"), std::string::npos) << err;
  EXPECT_NE(Run("list '" + tmp_.path() + "/missing.zip'", nullptr, &err), 0);
  EXPECT_NE(err.find("missing.zip"), std::string::npos);
  EXPECT_NE(Run("frobnicate x", nullptr, &err), 0);
  EXPECT_NE(Run("extract -q x.zip", nullptr, &err), 0);
}

TEST_F(CliTest, TestReportsBadEntries) {
  TEntrySpec bad{"bad.txt", "contents"};
  bad.crc = 1;
  std::string good = Archive({{"a", "1"}, {"b", "2"}}, "good.zip");
  std::string broken = Archive({{"a", "1"}, bad}, "bad.zip");
  std::string out, err;
  EXPECT_EQ(Run("test '" + good + "'", &out), 0);
  EXPECT_EQ(Run("test '" + broken + "'", &out, &err), 1);
  EXPECT_NE(err.find("bad.txt"), std::string::npos) << err;
  EXPECT_EQ(err.find(" a\n"), std::string::npos);
  EXPECT_FALSE(Exists(tmp_ / "a"));  // test writes nothing
}

TEST_F(CliTest, ExtractWithDirectoryMasksAndPaths) {
  std::string zip = Archive({{"top.txt", "top"}, {"d/sub.txt", "sub"}, {"d/skip.c", "c"}});
  std::string dest = tmp_ / "x";
  ASSERT_EQ(Run("extract -d '" + dest + "' '" + zip + "' '*.txt'"), 0);
  EXPECT_EQ(test::ReadFile(dest + "/top.txt"), "top");
  EXPECT_EQ(test::ReadFile(dest + "/d/sub.txt"), "sub");
  EXPECT_FALSE(Exists(dest + "/d/skip.c"));

  std::string flat = tmp_ / "flat";
  ASSERT_EQ(Run("extract -j -d '" + flat + "' '" + zip + "'"), 0);
  EXPECT_EQ(test::ReadFile(flat + "/sub.txt"), "sub");
  EXPECT_FALSE(Exists(flat + "/d"));
}

TEST_F(CliTest, OverwriteOptions) {
  std::string zip = Archive({{"f.txt", "new"}});
  std::string dest = tmp_ / "o";
  test::MakeDir(dest);
  test::WriteFile(dest + "/f.txt", "old");
  std::string err;
  // Neither -o nor -n, standard input not a terminal: the file is kept.
  EXPECT_EQ(Run("extract -d '" + dest + "' '" + zip + "'", nullptr, &err), 0);
  EXPECT_EQ(test::ReadFile(dest + "/f.txt"), "old");
  EXPECT_EQ(Run("extract -n -d '" + dest + "' '" + zip + "'"), 0);
  EXPECT_EQ(test::ReadFile(dest + "/f.txt"), "old");
  EXPECT_EQ(Run("extract -o -d '" + dest + "' '" + zip + "'"), 0);
  EXPECT_EQ(test::ReadFile(dest + "/f.txt"), "new");
}

TEST_F(CliTest, Passwords) {
  TEntrySpec secret{"s.txt", "secret data"};
  secret.password = "letmein";
  std::string zip = Archive({secret});
  std::string dest = tmp_ / "p";
  std::string err;
  EXPECT_EQ(Run("extract -d '" + dest + "' -P wrong '" + zip + "'", nullptr, &err), 1);
  EXPECT_NE(err.find("wrong password"), std::string::npos) << err;
  EXPECT_FALSE(Exists(dest + "/s.txt"));
  EXPECT_EQ(Run("extract -d '" + dest + "' -P letmein '" + zip + "'"), 0);
  EXPECT_EQ(test::ReadFile(dest + "/s.txt"), "secret data");
  EXPECT_EQ(Run("test -P letmein '" + zip + "'"), 0);
}

}  // namespace
}  // namespace vantrel::zip
