// zip_fixtures_test.cpp - the shared fixtures, read in place when present:
// every legacy entry extracts to its recorded size and CRC-32 (encrypted ones
// with their password, and wrong passwords are rejected); every malformed
// archive gives a clean result, and particular ones their expected result.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {
namespace {

// A row of the manifest: archive, password, entry, method, size, -, CRC-32.
struct ManifestRow {
  std::string path, password, entry;
  uint64_t size;
  uint32_t crc;
};

// Each archive is extracted with its password: every manifest entry comes
// out with its size and CRC. Encrypted archives are extracted again with a
// wrong password: every encrypted entry is skipped and leaves no file (one
// whose check byte the wrong password passes by chance, one in 256, fails
// as a damaged entry instead).
TEST(LegacyArchives, EveryEntryExtractsWithItsPasswordOnly) {
  VANTREL_NEED_FIXTURES("legacy");
  const std::string legacy = test::FixturesDir() + "/legacy";
  std::ifstream manifest(legacy + "/MANIFEST.tsv");
  std::map<std::string, std::vector<ManifestRow>> byArchive;
  size_t rows = 0;
  std::string line;
  std::getline(manifest, line);  // header
  while (std::getline(manifest, line)) {
    std::vector<std::string> f;
    std::stringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) f.push_back(cell);
    if (f.size() < 7) continue;
    byArchive[f[0]].push_back({f[0], f[1], f[2], std::stoull(f[4]), static_cast<uint32_t>(std::stoul(f[6], nullptr, 16))});
    ++rows;
  }
  ASSERT_GT(rows, 400u);
  size_t checked = 0, wrongPasswordRuns = 0;
  for (const auto& [archive, entries] : byArchive) {
    for (bool right : {true, false}) {
      if (!right && entries.front().password.empty()) continue;
      SCOPED_TRACE(archive + (right ? "" : " (wrong password)"));
      test::TempDir out;
      TZipReader r;
      r.SetZipName(legacy + "/" + archive);
      r.SetDestDir(out.path());
      r.DoAll = r.RecreateDirs = true;
      r.OverwriteMode = TUZOverwriteMode::Always;
      r.Password = right ? entries.front().password : "not the password";
      int failed = 0, skipped = 0;  // a bad CRC or a damaged entry
      r.OnBadCRC = [&](TZipReader*, int32_t, int32_t, int) { ++failed; };
      r.OnEntryError = [&](TZipReader*, int, const std::string&) { ++failed; };
      r.OnSkippingFile = [&](TZipReader*, TSkipReason why, const std::string&, int, bool&) {
        EXPECT_EQ(why, skipBadPassword);
        ++skipped;
      };
      // An archive may hold one name twice (the manifest lists both): check
      // each output as it is written.
      std::map<std::string, std::vector<std::pair<uint64_t, uint32_t>>> seen;
      r.OnEndUnZip = [&](TZipReader*, int, const std::string& name) {
        std::string data = test::ReadFile(name);
        seen[name.substr(out.path().size() + 1)].push_back({data.size(), testing::ZCrc(data)});
      };
      int count = 0;
      ASSERT_NO_THROW(count = r.UnZip());
      if (!right) {
        int encrypted = 0;
        for (int i = 0; i < r.Count(); ++i) {
          encrypted += r.Entry(i).IsEncrypted();
          EXPECT_FALSE(r.Entry(i).IsEncrypted() && std::filesystem::exists(out / r.Entry(i).Path())) << r.Entry(i).Path();
        }
        EXPECT_GT(encrypted, 0);
        EXPECT_EQ(skipped + failed, encrypted);
        EXPECT_EQ(count, r.Count() - encrypted);
        ++wrongPasswordRuns;
        continue;
      }
      EXPECT_EQ(failed, 0);
      EXPECT_EQ(skipped, 0);
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
  }
  EXPECT_EQ(checked, rows);
  EXPECT_GT(wrongPasswordRuns, 10u);
}

// What one malformed archive gives: the exception text, the extracted
// files and the entries reported bad. Every run must end (ctest's timeout
// catches a hang) without writing outside the destination.
struct Outcome {
  std::string error;
  int count = 0;
  std::vector<int> failed, skipped;  // failed: a bad CRC or a damaged entry
  std::vector<std::string> messages;  // what OnEntryError said
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
  r.OnBadCRC = [&](TZipReader*, int32_t, int32_t, int i) { o.failed.push_back(i); };
  r.OnEntryError = [&](TZipReader*, int i, const std::string& m) {
    o.failed.push_back(i);
    o.messages.push_back(m);
  };
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

// Every malformed archive, read as each incomplete-archive mode says, gives a
// clean result and writes nothing outside the destination; particular ones
// give their expected result: the files that come out (with their contents
// or size), the error, the entries that failed.
TEST(MalformedArchives, EveryFileGivesACleanResultAndSomeTheirExpectedOne) {
  VANTREL_NEED_FIXTURES("malformed");
  constexpr auto kMulti = TIncompleteZipMode::izAssumeMulti;
  struct Case {
    const char* name;
    TIncompleteZipMode mode;
    int count;
    const char* error;
    size_t failed;
    std::vector<std::pair<const char*, const char*>> files;  // contents, "size N", "present" or "absent"
    size_t skipped = 0;
    std::vector<std::string> messages = {};  // what the failed entries said, when given
  } cases[] = {
      {"zipslip.zip", kMulti, 6, "", 0,
       {{"good.txt", "good\n"}, {"evil.txt", "present"}, {"sub/evil2.txt", "present"},
        {"tmp/evil3.txt", "present"}, {"evil4.txt", "present"}, {"evil5.txt", "present"}}},
      {"bad_crc_shrink.zip", kMulti, 4, "", 1, {{"fields.c", "absent"}, {"grammar.lsp", "present"}}},
      {"bad_crc_go.zip", kMulti, 1, "", 1, {{"foo.txt", "absent"}, {"bar.txt", "present"}}},
      {"corrupt_data_shrink.zip", kMulti, 4, "", 1, {}},
      {"corrupt_data_reduce2.zip", kMulti, 4, "", 1, {}},
      {"corrupt_data_implode8k3.zip", kMulti, 4, "", 1, {}},
      {"corrupt_data_implode4k2.zip", kMulti, 4, "", 1, {}},
      // An unsupported method is named (below); AES entries without their
      // password are password problems (skipped), never bad CRCs.
      {"cc_moby.zip", kMulti, 0, "", 1, {}, 0, {"unsupported compression method Tokenize (7)"}},
      {"sc_Zip.none.encrypted.zip", kMulti, 0, "", 0, {{"first.txt", "absent"}}, 2},
      {"fake_eocd_in_comment.zip", kMulti, 1, "", 0, {{"hello.txt", "hello\n"}}},
      {"fake_eocd_in_comment_badlen.zip", kMulti, 1, "", 0, {{"hello.txt", "hello\n"}}},
      {"lfh_cd_name_mismatch.zip", kMulti, 1, "", 0, {{"b.txt", "aaa\n"}}},  // the central name
      {"eocd_count_mismatch.zip", kMulti, 2, "", 0, {{"two.txt", "2\n"}}},
      {"dup_names.zip", kMulti, 2, "", 0, {{"same.txt", "second\n"}}},
      {"zero_bytes.zip", kMulti, 0, "", 0, {}},
      {"empty_archive.zip", kMulti, 0, "", 0, {}},
      // Without an end record the local headers are read (whatever the
      // mode but izAssumeNotAZip): the complete entries come out, and one
      // cut short is reported.
      {"truncated_eocd.zip", kMulti, 5, "", 0, {}},
      {"truncated_half.zip", kMulti, 1, "", 1, {{"fields.c", "size 11150"}}},
      {"truncated_half.zip", TIncompleteZipMode::izAssumeBad, 1, "", 1,
       {{"fields.c", "size 11150"}}},
      {"cc_invalid-zip.zip", TIncompleteZipMode::izAssumeNotAZip, 0, "Not a valid zip file!", 0, {}},
      {"cc_archive_with_trailer.zip", kMulti, 2, "", 0, {}},
      {"cc_archive_with_bytes_after_data.zip", kMulti, 2, "", 0, {}},
      {"cc_COMPRESS-208.zip", kMulti, 2, "", 0, {}},
      {"go_test-trailing-junk.zip", kMulti, 2, "", 0, {{"test.txt", "This is a test text file.\n"}}},
      {"go_go-no-datadesc-sig.zip", kMulti, 2, "", 0, {{"foo.txt", "foo\n"}}},
      {"go_readme.zip", kMulti, 1, "", 0, {{"README", "size 1096"}}},
      {"zero_length_entries.zip", kMulti, 4, "", 0, {{"after.txt", "after\n"}, {"empty_deflated.txt", ""}}},
  };
  const std::string dir = test::FixturesDir() + "/malformed";
  int files = 0;
  size_t matched = 0;
  for (const auto& f : std::filesystem::directory_iterator(dir)) {
    const std::string name = f.path().filename().string();
    if (name == "README.md") continue;
    ++files;
    for (auto mode : {kMulti, TIncompleteZipMode::izAssumeBad, TIncompleteZipMode::izAssumeNotAZip}) {
      SCOPED_TRACE(name + " mode " + std::to_string(static_cast<int>(mode)));
      test::TempDir box;
      const std::string dest = box / "dest";
      Extract(dir + "/" + name, dest, mode, true);
      const Outcome o = Extract(dir + "/" + name, dest, mode, false);
      std::string outside;
      test::RunCommand("cd '" + box.path() + "' && find . -mindepth 1 -not -path './dest*'", &outside);
      EXPECT_EQ(outside, "");
      const std::set<std::string> clean = {"", "Incomplete Zip File", "Not a valid zip file!",
                                           "Premature end of file reached", "File is larger than uncompressed size!"};
      EXPECT_TRUE(clean.count(o.error)) << o.error;
      for (const Case& c : cases) {
        if (c.name != name || c.mode != mode) continue;
        ++matched;
        EXPECT_EQ(o.error, c.error);
        if (o.error.empty()) {
          EXPECT_EQ(o.count, c.count);
        }
        EXPECT_EQ(o.failed.size(), c.failed);
        EXPECT_EQ(o.skipped.size(), c.skipped);
        if (!c.messages.empty()) {
          EXPECT_EQ(o.messages, c.messages);
        }
        for (const auto& [file, want] : c.files) {
          const std::string path = dest + "/" + file, w = want;
          struct stat st;
          const bool exists = ::lstat(path.c_str(), &st) == 0;
          const std::string got = !exists ? "absent" : w == "present" ? w
                                  : w.rfind("size ", 0) == 0 ? "size " + std::to_string(st.st_size)
                                                            : test::ReadFile(path);
          EXPECT_EQ(got, w) << file;
        }
      }
    }
  }
  EXPECT_EQ(files, 30);
  EXPECT_EQ(matched, std::size(cases));
}

}  // namespace
}  // namespace vantrel::zip
