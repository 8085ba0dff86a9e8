// zip_fixtures_test.cpp - the shared fixtures: every legacy entry extracts to
// its recorded size and CRC-32 (encrypted ones with their password, and wrong
// passwords are rejected); every malformed archive gives a clean result.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tests/support/test_support.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {
namespace {

struct ManifestRow {
  std::string path, password, entry, method;
  uint64_t size;
  uint32_t crc;
};

std::vector<ManifestRow> ReadManifest(const std::string& file) {
  std::vector<ManifestRow> rows;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) f.push_back(cell);
    if (f.size() < 7) continue;
    rows.push_back({f[0], f[1], f[2], f[3], std::stoull(f[4]),
                    static_cast<uint32_t>(std::stoul(f[6], nullptr, 16))});
  }
  return rows;
}

uint32_t FileCrc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Fixtures() {
  std::string dir = test::FixturesDir();
  return dir;
}

TEST(LegacyArchives, EveryEntryExtractsToItsRecordedSizeAndCrc) {
  std::string legacy = Fixtures() + "/legacy";
  std::vector<ManifestRow> rows = ReadManifest(legacy + "/MANIFEST.tsv");
  ASSERT_GT(rows.size(), 400u);
  std::map<std::string, std::vector<ManifestRow>> byArchive;
  for (const ManifestRow& row : rows) byArchive[row.path].push_back(row);

  size_t checked = 0;
  for (const auto& [archive, entries] : byArchive) {
    SCOPED_TRACE(archive);
    test::TempDir out;
    TZipReader r;
    r.SetZipName(legacy + "/" + archive);
    r.SetDestDir(out.path());
    r.DoAll = true;
    r.RecreateDirs = true;
    r.OverwriteMode = TUZOverwriteMode::Always;
    r.Password = entries.front().password;
    int failures = 0;
    r.OnBadCRC = [&](TZipReader*, int32_t, int32_t, int) { ++failures; };
    r.OnSkippingFile = [&](TZipReader*, TSkipReason, const std::string&, int, bool&) { ++failures; };
    // An archive may hold one name twice (the manifest lists both): extract
    // each entry on its own and check it right away.
    std::map<std::string, std::vector<std::pair<uint64_t, uint32_t>>> seen;
    r.OnEndUnZip = [&](TZipReader*, int, const std::string& name) {
      std::string data = test::ReadFile(name);
      std::string rel = name.substr(out.path().size() + 1);
      seen[rel].push_back({data.size(), FileCrc(data)});
    };
    ASSERT_NO_THROW(r.UnZip());
    EXPECT_EQ(failures, 0);
    for (const ManifestRow& row : entries) {
      SCOPED_TRACE(row.entry);
      auto& got = seen[row.entry];
      auto it = std::find(got.begin(), got.end(), std::make_pair(row.size, row.crc));
      ASSERT_NE(it, got.end()) << "no output with size " << row.size << " and CRC " << std::hex
                               << row.crc;
      got.erase(it);
      ++checked;
    }
  }
  EXPECT_EQ(checked, rows.size());
}

TEST(LegacyArchives, WrongPasswordsAreRejected) {
  std::string legacy = Fixtures() + "/legacy";
  std::map<std::string, size_t> encrypted;
  for (const ManifestRow& row : ReadManifest(legacy + "/MANIFEST.tsv"))
    if (!row.password.empty()) ++encrypted[row.path];
  ASSERT_GT(encrypted.size(), 10u);
  for (const auto& [archive, rows] : encrypted) {
    SCOPED_TRACE(archive);
    test::TempDir out;
    TZipReader r;
    r.SetZipName(legacy + "/" + archive);
    r.SetDestDir(out.path());
    r.DoAll = true;
    r.RecreateDirs = true;
    r.Password = "not the password";
    size_t skipped = 0;
    r.OnSkippingFile = [&](TZipReader*, TSkipReason why, const std::string&, int, bool&) {
      EXPECT_EQ(why, skipBadPassword);
      ++skipped;
    };
    int count = r.UnZip();
    int encryptedEntries = 0;
    for (int i = 0; i < r.Count(); ++i) {
      const TZipHeaderInfo& e = r.Entry(i);
      encryptedEntries += e.IsEncrypted();
      // No output file is left for an encrypted entry.
      struct stat st;
      if (e.IsEncrypted()) {
        EXPECT_NE(::stat((out.path() + "/" + e.Path()).c_str(), &st), 0) << e.Path();
      }
    }
    EXPECT_GT(encryptedEntries, 0);
    EXPECT_EQ(skipped, static_cast<size_t>(encryptedEntries));
    EXPECT_EQ(count, r.Count() - encryptedEntries);
  }
}

// What one malformed archive gives: the exception text, the extracted
// files and the entries reported bad. Every run must end (ctest's timeout
// catches a hang) without writing outside the destination.
struct Outcome {
  std::string error;
  int count = 0;
  std::vector<int> badCrc, skipped;
};

Outcome Extract(const std::string& archive, const std::string& dest, TIncompleteZipMode mode,
                bool testOnly) {
  Outcome o;
  TZipReader r;
  r.IncompleteZipMode = mode;
  r.DoAll = true;
  r.RecreateDirs = true;
  r.TestOnly = testOnly;
  r.OverwriteMode = TUZOverwriteMode::Always;
  r.OnBadCRC = [&](TZipReader*, int32_t, int32_t, int i) { o.badCrc.push_back(i); };
  r.OnSkippingFile = [&](TZipReader*, TSkipReason, const std::string&, int i, bool&) {
    o.skipped.push_back(i);
  };
  try {
    r.SetZipName(archive);
    r.SetDestDir(dest);
    o.count = r.UnZip();
  } catch (const EZipError& e) {
    o.error = e.what();
  }
  return o;
}

TEST(MalformedArchives, EveryFileGivesACleanResult) {
  std::string dir = Fixtures() + "/malformed";
  std::string list;
  ASSERT_EQ(test::RunCommand("ls '" + dir + "'", &list), 0);
  std::stringstream names(list);
  std::string name;
  int files = 0;
  while (std::getline(names, name)) {
    if (name == "README.md") continue;
    SCOPED_TRACE(name);
    ++files;
    for (auto mode : {TIncompleteZipMode::izAssumeMulti, TIncompleteZipMode::izAssumeBad}) {
      test::TempDir box;
      std::string dest = box / "dest";
      Extract(dir + "/" + name, dest, mode, true);
      Outcome o = Extract(dir + "/" + name, dest, mode, false);
      std::string outside;
      test::RunCommand("cd '" + box.path() + "' && find . -mindepth 1 -not -path './dest*'",
                       &outside);
      EXPECT_EQ(outside, "");
      if (!o.error.empty()) {
        EXPECT_TRUE(o.error == "Incomplete Zip File" || o.error == "Not a valid zip file!" ||
                    o.error == "Premature end of file reached" ||
                    o.error == "File is larger than uncompressed size!")
            << o.error;
      }
    }
  }
  EXPECT_EQ(files, 30);
}

class MalformedArchive : public ::testing::Test {
 protected:
  Outcome Run(const std::string& name,
              TIncompleteZipMode mode = TIncompleteZipMode::izAssumeMulti) {
    return Extract(test::FixturesDir() + "/malformed/" + name, dest_, mode, false);
  }
  std::string Out(const std::string& rel) { return test::ReadFile(dest_ + "/" + rel); }
  bool Exists(const std::string& rel) {
    struct stat st;
    return ::lstat((dest_ + "/" + rel).c_str(), &st) == 0;
  }
  test::TempDir box_;
  std::string dest_ = box_ / "dest";
};

TEST_F(MalformedArchive, ZipSlipNamesStayInside) {
  Outcome o = Run("zipslip.zip");
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.count, 6);
  EXPECT_EQ(Out("good.txt"), "good\n");
  EXPECT_TRUE(Exists("evil.txt"));
  EXPECT_TRUE(Exists("sub/evil2.txt"));
  EXPECT_TRUE(Exists("tmp/evil3.txt"));
  EXPECT_TRUE(Exists("evil4.txt"));
  EXPECT_TRUE(Exists("evil5.txt"));
}

TEST_F(MalformedArchive, BadCrcEntriesAreReportedAndRemoved) {
  Outcome o = Run("bad_crc_shrink.zip");
  EXPECT_EQ(o.badCrc.size(), 1u);
  EXPECT_FALSE(Exists("fields.c"));
  EXPECT_TRUE(Exists("grammar.lsp"));
  Outcome go = Run("bad_crc_go.zip");
  EXPECT_EQ(go.badCrc.size(), 1u);
  EXPECT_FALSE(Exists("foo.txt"));
  EXPECT_TRUE(Exists("bar.txt"));
}

TEST_F(MalformedArchive, CorruptStreamsFailTheirCrcCheck) {
  for (const char* name : {"corrupt_data_shrink.zip", "corrupt_data_reduce2.zip",
                           "corrupt_data_implode8k3.zip", "corrupt_data_implode4k2.zip"}) {
    SCOPED_TRACE(name);
    Outcome o = Run(name);
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.badCrc.size(), 1u);
    EXPECT_EQ(o.count, 4);
  }
}

TEST_F(MalformedArchive, UnsupportedMethodsAreNotPasswordProblems) {
  Outcome moby = Run("cc_moby.zip");
  EXPECT_EQ(moby.badCrc.size(), 1u);
  EXPECT_EQ(moby.count, 0);
  Outcome aes = Run("sc_Zip.none.encrypted.zip");
  EXPECT_EQ(aes.badCrc.size(), 2u);
  EXPECT_TRUE(aes.skipped.empty());
  EXPECT_FALSE(Exists("first.txt"));
}

TEST_F(MalformedArchive, FakeEndRecordInTheCommentStillListsTheEntry) {
  for (const char* name : {"fake_eocd_in_comment.zip", "fake_eocd_in_comment_badlen.zip"}) {
    Outcome o = Run(name);
    EXPECT_EQ(o.count, 1) << name;
    EXPECT_EQ(Out("hello.txt"), "hello\n");
  }
}

TEST_F(MalformedArchive, DirectoryAndLocalHeaderDisagreements) {
  EXPECT_EQ(Run("lfh_cd_name_mismatch.zip").count, 1);
  EXPECT_EQ(Out("b.txt"), "aaa\n");  // the central name is used
  EXPECT_EQ(Run("eocd_count_mismatch.zip").count, 2);
  EXPECT_EQ(Out("two.txt"), "2\n");
  Outcome dup = Run("dup_names.zip");
  EXPECT_EQ(dup.count, 2);
  EXPECT_EQ(Out("same.txt"), "second\n");
}

TEST_F(MalformedArchive, EmptyAndTruncatedArchives) {
  EXPECT_EQ(Run("zero_bytes.zip").count, 0);
  EXPECT_EQ(Run("empty_archive.zip").count, 0);
  EXPECT_EQ(Run("truncated_eocd.zip").error, "Incomplete Zip File");
  EXPECT_EQ(Run("truncated_half.zip").error, "Incomplete Zip File");
  // Rebuilt from the local headers: the complete first entry comes out, and
  // the second, cut short, ends the run.
  Outcome rebuilt = Run("truncated_half.zip", TIncompleteZipMode::izAssumeBad);
  EXPECT_EQ(rebuilt.error, "Premature end of file reached");
  EXPECT_EQ(Out("fields.c").size(), 11150u);
  EXPECT_EQ(Run("cc_invalid-zip.zip", TIncompleteZipMode::izAssumeNotAZip).error,
            "Not a valid zip file!");
}

TEST_F(MalformedArchive, PeerArchivesWithJunkOrMarkers) {
  EXPECT_EQ(Run("cc_archive_with_trailer.zip").count, 2);
  EXPECT_EQ(Run("cc_archive_with_bytes_after_data.zip").count, 2);
  EXPECT_EQ(Run("cc_COMPRESS-208.zip").count, 2);
  EXPECT_EQ(Run("go_test-trailing-junk.zip").count, 2);
  EXPECT_EQ(Out("test.txt"), "This is a test text file.\n");
  EXPECT_EQ(Run("go_go-no-datadesc-sig.zip").count, 2);
  EXPECT_EQ(Out("foo.txt"), "foo\n");
  EXPECT_EQ(Run("go_readme.zip").count, 1);
  EXPECT_EQ(Out("README").size(), 1096u);
  Outcome zeros = Run("zero_length_entries.zip");
  EXPECT_EQ(zeros.count, 4);
  EXPECT_EQ(Out("after.txt"), "after\n");
  EXPECT_EQ(Out("empty_deflated.txt"), "");
}

}  // namespace
}  // namespace vantrel::zip
