// zip_reader_test.cpp - opening archives: end record, directory, rebuild,
// comments, re-reading and multi-disk sets.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/codepages.h"
#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/zip_names.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

using testing::BuildZip;
using testing::TEntrySpec;

class ZipReaderTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = tmp_ / name;
    test::WriteFile(path, bytes);
    return path;
  }
  std::vector<std::string> Names(TZipReader& r) {
    std::vector<std::string> out;
    for (int i = 0; i < r.Count(); ++i) out.push_back(r.Entry(i).Path());
    return out;
  }
  test::TempDir tmp_;
};

// The text of what ReadZip throws, or "" when it opens.
template <class E>
std::string Thrown(TZipReader& r) {
  try {
    r.ReadZip();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

TEST_F(ZipReaderTest, EmptyMissingAndForeignFiles) {
  TZipReader empty, missing;
  empty.SetZipName(Write("empty.zip", ""));
  empty.ReadZip();
  EXPECT_EQ(empty.Count(), 0);
  missing.SetZipName(tmp_ / "nothing.zip");
  EXPECT_THROW(missing.ReadZip(), EFOpenError);
  // No end record: the incomplete-archive mode decides, and a handler may change it.
  TZipReader r;
  r.SetZipName(Write("short.zip", "not a zip"));
  EXPECT_EQ(Thrown<EIncompleteZip>(r), "Incomplete Zip File");
  EXPECT_EQ(r.Count(), 0);
  r.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  EXPECT_EQ(Thrown<ENotAZipFile>(r), "Not a valid zip file!");
  // The handler gets the property itself: its change persists.
  int calls = 0;
  r.OnInCompleteZip = [&](TZipReader*, TIncompleteZipMode& mode) {
    ++calls;
    mode = TIncompleteZipMode::izAssumeBad;
  };
  EXPECT_EQ(Thrown<EBadZipFile>(r), "Not a valid zip file!");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(r.IncompleteZipMode, TIncompleteZipMode::izAssumeBad);
  EXPECT_EQ(r.ZipName(), "");  // cleared after EBadZipFile
}

// Directories rebuilt from the local headers: an archive cut short (up to
// its first damaged header) and a self-extractor whose directory is lost
// (from offset 14000: a local header inside the stub is not found).
TEST_F(ZipReaderTest, LostDirectoriesAreRebuiltFromTheLocalHeaders) {
  const std::string three = BuildZip({{"one.txt", "first"}, {"two.txt", "second"}, {"three.txt", "third"}});
  std::string stub = BuildZip({{"stub.txt", "in the stub"}}), body = BuildZip({{"real.txt", "real data"}});
  stub.resize(stub.find("PK\x01\x02"));
  stub += std::string(15000 - stub.size(), 'x');
  body.resize(body.find("PK\x01\x02"));
  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::string> names;
    uint64_t firstOffset;
  } cases[] = {
      {"cut.zip", three.substr(0, three.rfind("PK\x03\x04") + 20), {"one.txt", "two.txt"}, 0},
      {"setup.ExE", stub + body, {"real.txt"}, 15000},
  };
  for (const auto& c : cases) {
    TZipReader r;
    r.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
    r.SetZipName(Write(c.name, c.bytes));
    r.ReadZip();
    EXPECT_TRUE(r.Rebuilt()) << c.name;
    EXPECT_EQ(Names(r), c.names);
    EXPECT_EQ(r.Entry(0).LocalHeaderOffset, c.firstOffset) << c.name;
  }
}

TEST_F(ZipReaderTest, ManyEntriesKeepNamesDataAndCommentsThroughSortUpdateAndExtract) {
  // Names of every length class of the name records (under 128 bytes, two
  // length bytes, a record bigger than an arena block), not valid UTF-8, and
  // directories without a file name; read from the directory and, shifted,
  // rebuilt from the local headers (whose store grows block by block).
  std::vector<TEntrySpec> entries;
  std::vector<std::string> expected;
  for (int i = 0; i < 1500; ++i) {
    const std::string n = std::to_string(i);
    const std::string names[] = {std::string("d").append(1, char('0' + i % 7)) + "/f" + n,
                                 "long/" + std::string(100 + i % 150, 'x') + "/" + std::string(i % 250, 'y') + n,
                                 "bad\xFF\x80/" + n + "\xE9", "only/" + n + "/"};
    entries.push_back({i == 1 ? "huge/" + std::string(40000, 'h') : names[i % 4], i % 4 == 3 ? "" : "data " + n});
    expected.push_back(entries.back().name);
  }
  // The names that are not UTF-8 are read in the page chosen for all of them.
  std::vector<std::string> foreign;
  for (const std::string& n : expected)
    if (!IsValidUtf8(n)) foreign.push_back(n);
  const std::string page = DetectCodePage(foreign, platform::LocaleNameCodePage());
  for (std::string& n : expected) n = NameFromPage(n, page);
  entries[5].comment = "fifth";
  std::vector<std::string> sorted = expected;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const std::string& a, const std::string& b) { return CompareTextAscii(a, b) < 0; });
  for (const std::string prefix : {"", "shifted!"}) {
    SCOPED_TRACE(prefix);
    // Shifted, with a directory size that no longer says where the records
    // start, the central records name other offsets and add nothing: the
    // directory is rebuilt.
    std::string bytes = prefix + BuildZip(entries);
    if (!prefix.empty()) bytes[bytes.size() - 22 + 12] ^= 1;
    const std::string path = Write("many.zip", bytes);
    const std::string comment = prefix.empty() ? "fifth" : "";
    std::optional<TZipHeaderInfo> copy;
    {
      TZipReader r;
      r.SetZipName(path);
      r.ReadZip();
      EXPECT_EQ(r.Rebuilt(), !prefix.empty());
      EXPECT_EQ(r.CodePageUsed(), page);
      EXPECT_EQ(Names(r), expected);
      EXPECT_EQ(r.FileComment(5), comment);
      copy = r.Entry(5);
      r.SortMode = TZipSortMode::ByName;
      r.ClearZip();
      r.SetZipName(path);
      r.ReadZip();
      EXPECT_EQ(Names(r), sorted);
    }
    // The copy owns its name and comment; a new reading starts without them.
    EXPECT_EQ(copy->Path(), expected[5]);
    EXPECT_EQ(copy->FileComment().value_or(""), comment);
    if (!prefix.empty()) continue;  // a rebuilt directory is not updated
    test::WriteFile(tmp_ / "added.txt", "added");
    TZipWriter w;
    w.SetZipName(path);
    w.SetRootDir(tmp_ / "");
    w.SetRelativePaths(true);
    w.AddFile(tmp_ / "added.txt");
    ASSERT_EQ(w.Zip(), 1);
    EXPECT_EQ(Names(w), [&] { auto v = expected; v.push_back("added.txt"); return v; }());
    TZipReader r;
    r.SetZipName(path);
    r.SetDestDir(tmp_ / "out");
    r.DoAll = r.RecreateDirs = true;
    r.ReadZip();
    EXPECT_FALSE(r.Entry(5).FileComment().has_value());
    // All but the entry whose 40,000-byte name no file system takes.
    ASSERT_EQ(r.UnZip(), static_cast<int>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i)
      EXPECT_EQ(entries[i].data.empty() || i == 1 ? entries[i].data : test::ReadFile(tmp_ / ("out/" + expected[i])),
                entries[i].data);
  }
}

// Info-ZIP's split archives (set.z01, set.z02, ..., set.zip) are read as they
// are written and after their volumes were renamed to this engine's numbers
// (set.001, ...); the last volume is the archive itself either way.
TEST_F(ZipReaderTest, SplitArchivesOfInfoZipUnderEitherNaming) {
  const std::string dir = tmp_.path();
  const std::string big = testing::RandomBytes(150000, 1);
  test::WriteFile(dir + "/big.bin", big);
  test::WriteFile(dir + "/text.txt", "text");
  for (const bool renamed : {false, true}) {
    SCOPED_TRACE(renamed ? "renamed .001" : "as written .z01");
    test::RunCommand("cd '" + dir + "' && rm -rf set.* out && mkdir out");
    ASSERT_EQ(test::RunCommand("cd '" + dir + "' && zip -q -s 64k set.zip big.bin text.txt"), 0);
    int volumes = 0;
    for (int n = 1; n < 20; ++n) {
      const std::string from = VolumeName(dir + "/set.zip", n, true);
      struct stat st;
      if (::stat(from.c_str(), &st) != 0) break;
      ASSERT_TRUE(!renamed || ::rename(from.c_str(), VolumeName(dir + "/set.zip", n).c_str()) == 0);
      volumes = n;
    }
    ASSERT_GE(volumes, 2);
    TZipReader r;
    r.SetZipName(dir + "/set.zip");
    r.ReadZip();
    EXPECT_EQ(r.NumberOfDisks(), volumes + 1);
    EXPECT_EQ(r.MultiMode(), TMultiMode::mmBlocks);
    ASSERT_EQ(Names(r), (std::vector<std::string>{"big.bin", "text.txt"}));
    r.SetDestDir(dir + "/out");
    r.DoAll = true;
    EXPECT_EQ(r.UnZip(), 2);
    EXPECT_EQ(test::ReadFile(dir + "/out/big.bin"), big);
    EXPECT_EQ(r.ZipName(), dir + "/set.zip");
  }
}

}  // namespace
}  // namespace vantrel::zip
