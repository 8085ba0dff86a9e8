// The vantrel-zip tool as a user runs it: list, test, extract and add, with
// their options and exit statuses.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "tests/zip/zip_writer_support.h"

namespace vantrel::zip {
namespace {

using namespace testing;

// The archive a command line names (its word ending in ".zip").
std::string ZipIn(const std::string& args) {
  const size_t end = args.find(".zip") + 4;
  const size_t start = args.rfind(' ', end - 1) + 1;
  return args.substr(start, end - start);
}

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
  test::WriteFile(tmp_ / "empty.zip", "");
  std::string err;
  for (const auto& [args, says] : {std::pair{"list not.zip", "not.zip: Incomplete Zip File"},
                                   {"list empty.zip", "empty.zip: an empty file, no ZIP archive in it"},
                                   {"test empty.zip", "empty.zip: an empty file, no ZIP archive in it"},
                                   {"extract -d e empty.zip", "empty.zip: an empty file, no ZIP archive in it"},
                                   {"list missing.zip", "missing.zip: Cannot open"},
                                   {"frobnicate x", "unknown command"}, {"extract -q x.zip", "option '-q'"}}) {
    EXPECT_EQ(Run(args, nullptr, &err), 2) << args;
    EXPECT_NE(err.find(says), std::string::npos) << err;
  }
}

// The total line of list counts every entry that is not a directory, also
// one without a name, and sums the sizes of the same entries.
TEST_F(CliTest, ListCountsEveryFile) {
  const struct {
    const char* what;
    std::vector<TEntrySpec> entries;
    const char* total;
  } rows[] = {
      {"files and a directory", {{"a.txt", "aaaa"}, {"d/", ""}, {"d/b.txt", "bb"}}, "         6          6  2 files\n"},
      {"a nameless entry", {{"", "nameless"}, {"a.txt", "aaaa"}}, "        12         12  2 files\n"},
      {"nothing but a directory", {{"d/", ""}}, "         0          0  0 files\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::string out;
    EXPECT_EQ(Run("list " + Archive(row.entries), &out), 0);
    ASSERT_GE(out.size(), std::string(row.total).size()) << out;
    EXPECT_EQ(out.substr(out.size() - std::string(row.total).size()), row.total) << out;
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
  EXPECT_EQ(Names("out.zip"),
            (std::vector<std::string>{"docs/README", "docs/a.txt", "docs/b.bak", "docs/sub/", "docs/sub/c.txt"}));
  // Without -r the pattern stays in its directory; a directory argument
  // stands for the files in it.
  EXPECT_EQ(Run("add flat.zip 'docs/*.txt'"), 0);
  EXPECT_EQ(Names("flat.zip"), std::vector<std::string>{"docs/a.txt"});
  EXPECT_EQ(Run("add -r ../dir.zip sub", nullptr, nullptr, tmp_ / "docs"), 0);
  EXPECT_EQ(Names("dir.zip"), (std::vector<std::string>{"sub/", "sub/c.txt"}));
}

TEST_F(CliTest, AddLevelsExclusionAndNoCompression) {
  EXPECT_EQ(Run("add -r -D -9 -x '*.bak' -n '*/sub/*' out.zip docs"), 0);
  EXPECT_EQ(Run("add -0 stored.zip docs/a.txt"), 0);
  // name, method, level flags; b.bak excluded, a -n pattern with / matches the path.
  std::vector<std::tuple<std::string, int, int>> got;
  for (const char* zip : {"out.zip", "stored.zip"})
    for (const auto& e : testing::ParseArchive(tmp_ / zip).entries) got.emplace_back(e.name, e.method, e.flags & 6);
  std::sort(got.begin(), got.end() - 1);
  EXPECT_EQ(got, (std::vector<std::tuple<std::string, int, int>>{
                     {"docs/README", 0, 2}, {"docs/a.txt", 8, 2}, {"docs/sub/c.txt", 0, 0}, {"docs/a.txt", 0, 0}}));
}

TEST_F(CliTest, AddThreadsWritesTheSameArchiveAndRefusesBadCounts) {
  for (int i = 0; i < 20; ++i)
    test::WriteFile(tmp_ / ("docs/sub/n" + std::to_string(i) + ".txt"), std::string(3000 + i * 500, 'a' + i % 26));
  ASSERT_EQ(Run("add -r -D one.zip docs"), 0);
  const std::string one = test::ReadFile(tmp_ / "one.zip");
  ASSERT_EQ(testing::ParseArchive(tmp_ / "one.zip").entries.size(), 24u);
  for (const char* n : {"1", "2", "3", "8", "0"}) {
    SCOPED_TRACE(n);
    std::filesystem::remove(tmp_ / "n.zip");
    EXPECT_EQ(Run(std::string("add -r -D --threads ") + n + " n.zip docs"), 0);
    EXPECT_TRUE(test::ReadFile(tmp_ / "n.zip") == one);
  }
  for (const char* bad : {"-1", "x", "1025", "", "2k"}) {
    SCOPED_TRACE(bad);
    std::string err;
    EXPECT_EQ(Run(std::string("add --threads '") + bad + "' bad.zip docs", nullptr, &err), 2);
    EXPECT_NE(err.find("bad thread count"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(tmp_ / "bad.zip"));
  }
}

TEST_F(CliTest, ExtractThreadsGivesTheSameTreeAndRefusesBadCounts) {
  for (int i = 0; i < 20; ++i)
    test::WriteFile(tmp_ / ("docs/sub/n" + std::to_string(i) + ".txt"), std::string(3000 + i * 500, 'a' + i % 26));
  ASSERT_EQ(Run("add -r t.zip docs"), 0);
  for (const char* n : {"1", "2", "8", "0"}) {
    SCOPED_TRACE(n);
    const std::string dest = std::string("x") + n;
    EXPECT_EQ(Run("extract --threads " + std::string(n) + " -d " + dest + " t.zip"), 0);
    for (const char* f : {"docs/a.txt", "docs/README", "docs/sub/c.txt", "docs/sub/n19.txt"})
      EXPECT_EQ(test::ReadFile(tmp_ / (dest + "/" + f)), test::ReadFile(tmp_ / f)) << f;
  }
  std::string err;
  EXPECT_EQ(Run("extract --threads many -d bad t.zip", nullptr, &err), 2);
  EXPECT_NE(err.find("bad thread count"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "bad"));
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

// Directories both ways: add -r stores every directory it meets as an entry
// (so that an empty one comes back), -D leaves them out; an archive of
// directory entries alone extracts them, with their stored dates and
// permissions (Info-ZIP's archive as the oracle).
TEST_F(CliTest, DirectoryEntriesAreStoredAndRestored) {
  std::filesystem::create_directories(tmp_ / "tree/empty/deeper");
  std::filesystem::create_directories(tmp_ / "tree/full");
  test::WriteFile(tmp_ / "tree/full/f.txt", "f");
  ASSERT_EQ(::chmod((tmp_ / "tree/empty").c_str(), 0750), 0);
  test::SetMTime(tmp_ / "tree/empty/deeper", 1000000000);  // 2001-09-09
  test::SetMTime(tmp_ / "tree/empty", 1100000000);         // 2004-11-09
  const struct {
    const char* args;
    std::vector<std::string> names;
  } rows[] = {
      {"add -r ours.zip tree", {"tree/", "tree/empty/", "tree/empty/deeper/", "tree/full/", "tree/full/f.txt"}},
      {"add -r -D nodirs.zip tree", {"tree/full/f.txt"}},
      {"add -r top.zip 'tree/*.*'", {"tree/empty/", "tree/empty/deeper/", "tree/full/", "tree/full/f.txt"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    std::string out;
    ASSERT_EQ(Run(row.args, &out), 0) << out;
    EXPECT_EQ(Names(ZipIn(row.args)), row.names);
  }
  ASSERT_EQ(test::RunCommand("cd " + Quote(tmp_.path()) + " && zip -qr iz.zip tree/empty"), 0);
  for (const char* zip : {"ours.zip", "iz.zip"}) {
    SCOPED_TRACE(zip);
    const std::string dest = tmp_ / (std::string(zip) + ".out");
    std::string out;
    EXPECT_EQ(Run(std::string("extract -d ") + Quote(dest) + " " + zip, &out), 0) << out;
    struct stat st;
    ASSERT_EQ(::stat((dest + "/tree/empty/deeper").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mtime, 1000000000);
    ASSERT_EQ(::stat((dest + "/tree/empty").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1100000000);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
  }
  // Nothing but directory entries: they come out, and test has nothing to fail.
  ASSERT_EQ(test::RunCommand("cd " + Quote(tmp_.path()) + " && zip -q dirs.zip tree/empty tree/empty/deeper"), 0);
  std::string out;
  EXPECT_EQ(Run("extract -d only dirs.zip", &out), 0) << out;
  EXPECT_TRUE(std::filesystem::is_directory(tmp_ / "only/tree/empty/deeper"));
  EXPECT_EQ(Run("test dirs.zip", &out), 0) << out;
}

// What add leaves out is named with its reason and makes the exit status 1;
// an add that would write an archive without entries writes nothing, says
// "nothing to add" and exits with 2.
TEST_F(CliTest, AddNamesEverythingItLeavesOut) {
  std::filesystem::create_directories(tmp_ / "links/inner");
  test::WriteFile(tmp_ / "links/kept.txt", "kept");
  std::filesystem::create_symlink("gone.txt", tmp_ / "links/dangling.txt");
  std::filesystem::create_symlink("loop2", tmp_ / "links/loop1");
  std::filesystem::create_symlink("loop1", tmp_ / "links/loop2");
  std::filesystem::create_symlink("..", tmp_ / "links/inner/up");
  std::filesystem::create_directories(tmp_ / "nofiles/sub");
  std::filesystem::create_directories(tmp_ / "empty");
  const struct {
    const char* args;
    int status;
    std::vector<std::string> says;  // on stdout or stderr
    bool written;
    const char* never = "no file matches";  // said of nothing here
  } rows[] = {
      {"add -r l.zip links", 1,
       {"links/dangling.txt: left out, symbolic link to a file or directory that does not exist",
        "links/loop1: left out, symbolic link loop", "links/loop2: left out, symbolic link loop",
        "links/inner/up/: left out, symbolic link to a directory it is in (a loop)", "3 entries added"},
       true},
      {"add d.zip links/dangling.txt links/kept.txt", 1,
       {"links/dangling.txt: left out, symbolic link to a file or directory that does not exist"}, true},
      {"add m.zip links/kept.txt missing.txt", 1, {"missing.txt: no such file", "1 entry added"}, true},
      {"add n.zip missing.txt", 2, {"missing.txt: no such file", "n.zip: nothing to add"}, false},
      {"add e.zip nofiles", 2, {"e.zip: nothing to add"}, false},
      {"add o.zip links/dangling.txt", 2, {"o.zip: nothing to add"}, false},
      {"add p.zip 'nomatch*.txt' links/kept.txt", 1, {"nomatch*.txt: no file matches", "1 entry added"}, true,
       "left out"},
      {"add q.zip 'nomatch*.txt'", 2, {"nomatch*.txt: no file matches", "q.zip: nothing to add"}, false,
       "left out"},
      {"add r.zip 'nowhere/*.txt' links/kept.txt", 1, {"nowhere/*.txt: no file matches"}, true, "left out"},
      // Matches the exclusion list takes are no missing matches.
      {"add -x kept.txt s.zip 'links/k*.txt' links/loop1", 2, {"s.zip: nothing to add"}, false},
      {"add t.zip nofiles links/kept.txt", 1, {"nofiles: 1 subdirectory left out (add -r adds them)"}, true},
      {"add u.zip empty links/kept.txt", 1, {"empty: left out, an empty directory (add -r stores it)"}, true},
      {"add -r v.zip nofiles empty", 0, {"3 entries added"}, true, "left out"},
      {"add w.zip links", 1, {"links: 1 subdirectory left out", "1 entry added"}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    std::string out, err;
    EXPECT_EQ(Run(row.args, &out, &err), row.status) << out << err;
    for (const std::string& text : row.says) EXPECT_NE((out + err).find(text), std::string::npos) << out << err;
    EXPECT_EQ((out + err).find(row.never), std::string::npos) << out << err;
    const std::string name = ZipIn(row.args);
    EXPECT_EQ(Exists(tmp_ / name), row.written) << name;
    if (row.written) {
      EXPECT_EQ(test::RunCommand("unzip -tqq " + Quote(tmp_ / name)), 0);
    }
  }
}

// Messages: a damaged entry whose password passed its check is a damaged
// entry, not a wrong password; volumes are counted in 64 bits; an entry on a
// volume the set does not have is one failed entry; a decoder that cannot get
// its memory is named; option texts reach the terminal escaped.
TEST_F(CliTest, MessagesNameWhatReallyHappened) {
  TEntrySpec tampered{"t.txt", std::string(3000, 't')};
  tampered.password = "right";
  std::string zip = BuildZip({tampered});
  zip[30 + 5 + 12 + 100] ^= 0x55;  // a byte of the data, after the encryption header
  test::WriteFile(tmp_ / "tampered.zip", zip);
  std::string out, err;
  EXPECT_EQ(Run("test -P right tampered.zip", &out, &err), 1);
  EXPECT_EQ(err.find("wrong password"), std::string::npos) << err;
  EXPECT_NE(err.find("t.txt"), std::string::npos) << err;

  // The end record of the last volume of a set of 2^31 (2^32) volumes, its
  // one entry on volume 1; and of ten volumes with an entry on volume 78.
  for (const auto& [thisDisk, says] : {std::pair<uint32_t, const char*>{0x7FFFFFFF, "of 2147483648"},
                                       {0xFFFFFFFF, "of 4294967296"}}) {
    std::string body = BuildZip({{"v.txt", "on volume one"}});
    const size_t end = body.rfind("PK\x05\x06");
    const uint32_t cdOffset = static_cast<uint32_t>(body.find("PK\x01\x02"));
    const uint32_t cdSize = static_cast<uint32_t>(end - cdOffset);
    body.resize(end);
    std::string z64;
    PutLe(z64, {{0x06064B50, 4}, {44, 4}, {0, 4}, {45, 2}, {45, 2}, {thisDisk, 4}, {thisDisk, 4}, {1, 4}, {0, 4},
                {1, 4}, {0, 4}, {cdSize, 4}, {0, 4}, {cdOffset, 4}, {0, 4}});
    const uint32_t z64At = static_cast<uint32_t>(body.size());
    PutLe(z64, {{0x07064B50, 4}, {thisDisk, 4}, {z64At, 4}, {0, 4}, {thisDisk + 1u, 4}});
    PutLe(z64, {{0x06054B50, 4}, {0xFFFF, 2}, {0xFFFF, 2}, {1, 2}, {1, 2}, {cdSize, 4}, {cdOffset, 4}, {0, 2}});
    test::WriteFile(tmp_ / "far.zip", body + z64);
    EXPECT_EQ(Run("test far.zip", &out, &err), 2) << out << err;
    EXPECT_NE(err.find(std::string("needs volume 1 ") + says), std::string::npos) << err;
    EXPECT_NE(out.find("0 entries OK, 1 failed"), std::string::npos) << out;
  }
  {
    std::string set = BuildZip({{"here.txt", "here"}, {"there.txt", "there"}});
    const size_t end = set.rfind("PK\x05\x06");
    set[end + 4] = set[end + 6] = 9;  // this disk and the directory's: the tenth
    const size_t second = set.find("PK\x01\x02", set.find("PK\x01\x02") + 4);
    set[set.find("PK\x01\x02") + 34] = 9;
    set[second + 34] = 77;
    test::WriteFile(tmp_ / "ten.zip", set);
    EXPECT_EQ(Run("extract -d ten ten.zip", &out, &err), 1) << out << err;
    EXPECT_NE(err.find("there.txt: its local header is on volume 78, but the set has 10 volumes"),
              std::string::npos) << err;
    EXPECT_NE(out.find("1 entries extracted, 1 failed"), std::string::npos) << out;
    EXPECT_EQ(test::ReadFile(tmp_ / "ten/here.txt"), "here");
  }
  // An LZMA entry whose dictionary does not fit the memory the process may use.
  TEntrySpec lzma{"big.bin", std::string("\x09\x14\x05\x00\x5d\x00\x00\x00\x60", 9) + std::string(64, '\0')};
  lzma.method = 14;
  lzma.usize = 0xF0000000;
  test::WriteFile(tmp_ / "lzma.zip", BuildZip({lzma}));
  EXPECT_EQ(test::RunCommand("cd " + Quote(tmp_.path()) + " && ulimit -v 400000 && " + Quote(tool_) +
                             " test lzma.zip >out.txt 2>&1"),
            1);
  const std::string said = test::ReadFile(tmp_ / "out.txt");
  EXPECT_NE(said.find("*** LZMA out of memory ***"), std::string::npos) << said;
  EXPECT_EQ(said.find("inflate"), std::string::npos) << said;
  // Option texts are escaped.
  EXPECT_EQ(Run("list " + Quote("-\x1b[2J") + " x.zip", &out, &err), 2);
  EXPECT_NE(err.find("'-\\033[2J'"), std::string::npos) << err;
  EXPECT_EQ(err.find('\x1b'), std::string::npos);
}

TEST_F(CliTest, CodePagesCommentsAndSelfExtractingStubs) {
  // "Привет.txt" in CP866, read as found, as asked and as a wrong page.
  std::vector<TEntrySpec> entries = {{"\x8F\xE0\xA8\xA2\xA5\xE2.txt", "ru"}, {"b.txt", "b"}};
  entries[1].comment = "second entry";
  Archive(entries, "ru.zip");
  const std::string hello = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt";
  const struct {
    const char* args;
    int status;
    std::string says;  // on stdout, or stderr for a failure
  } cases[] = {
      {"list ru.zip", 0, hello},
      {"list -O CP866 ru.zip", 0, hello},
      {"list -O auto ru.zip", 0, hello},
      {"list -O CP1251 ru.zip", 0, "\xD0\x8F\xD0\xB0\xD0\x81"},  // Џа...: what the user asked
      {"list -O NOPE ru.zip", 2, "unknown code page 'NOPE'"},
      {"list -v ru.zip", 0, "    Comment: second entry\n"},
      {"test -O CP866 ru.zip", 0, "2 entries OK, 0 failed"},
  };
  for (const auto& c : cases) {
    std::string out, err;
    EXPECT_EQ(Run(c.args, &out, &err), c.status) << c.args;
    EXPECT_NE((c.status ? err : out).find(c.says), std::string::npos) << c.args << "\n" << out << err;
  }
  std::string out, err;
  ASSERT_EQ(Run("extract -d out ru.zip", &out, &err), 0) << err;
  EXPECT_EQ(test::ReadFile(tmp_ / ("out/" + hello)), "ru");

  // A stub in front: said on stderr, never called damage.
  test::WriteFile(tmp_ / "sfx.zip", std::string(777, 'S') + BuildZip({{"x.txt", "x"}}));
  for (const char* command : {"list sfx.zip", "test sfx.zip"}) {
    EXPECT_EQ(Run(command, &out, &err), 0) << command;
    EXPECT_NE(err.find("777 bytes before the archive (self-extracting stub)"), std::string::npos) << err;
    EXPECT_EQ(err.find("damaged"), std::string::npos) << err;
  }
  test::WriteFile(tmp_ / "y.txt", "y");
  EXPECT_EQ(Run("add sfx.zip y.txt", &out, &err), 2);
  EXPECT_NE(err.find("self-extracting"), std::string::npos) << err;
}

TEST_F(CliTest, AddWritesUtcTimesUnlessToldNotTo) {
  test::SetMTime(tmp_ / "docs/README", 1614834367);
  const struct {
    const char* args;
    bool field;
  } cases[] = {{"add t.zip docs/README", true}, {"add -X x.zip docs/README", false}};
  for (const auto& c : cases) {
    ASSERT_EQ(Run(c.args), 0) << c.args;
    const std::string zip = tmp_ / (c.field ? "t.zip" : "x.zip");
    std::string info;
    test::RunCommand("zipinfo -v " + Quote(zip), &info);
    EXPECT_EQ(info.find("UT extra field") != std::string::npos, c.field) << c.args;
    // Listed in local time (the tests run in Berlin): 06:06:07 in March.
    std::string out;
    ASSERT_EQ(Run(std::string("list ") + (c.field ? "t.zip" : "x.zip"), &out), 0);
    EXPECT_NE(out.find("2021-03-04 06:06:0"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace vantrel::zip
