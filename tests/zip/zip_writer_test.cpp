// Archive creation and update: the archives the writer makes are checked by
// three independent tools and by a parser that does not share the engine's
// reader; update rules, events and every fault leave the old archive intact.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <random>

#include "tests/support/test_support.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/codec/crc32.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using testing::ParseArchive;
using testing::RandomBytes;
using testing::TRawArchive;
using vantrel::test::ReadFile;
using vantrel::test::RunCommand;
using vantrel::test::SetMTime;
using vantrel::test::TempDir;
using vantrel::test::WriteFile;

std::string TextBytes(size_t n) {
  std::string s;
  const char* words[] = {"archive ", "entry ", "deflate ", "window ", "header ", "\n"};
  std::mt19937 gen(7);
  while (s.size() < n) s += words[gen() % 6];
  s.resize(n);
  return s;
}

// A small tree: text, random, empty, zeros and a file in a subdirectory.
struct Tree {
  TempDir dir;
  std::string src = dir / "src";
  Tree() {
    fs::create_directories(src + "/sub");
    WriteFile(src + "/text.txt", TextBytes(70000));
    WriteFile(src + "/random.bin", RandomBytes(100, 1));
    WriteFile(src + "/big-random.bin", RandomBytes(200000, 2));
    WriteFile(src + "/empty.dat", "");
    WriteFile(src + "/zeros.dat", std::string(100000, '\0'));
    WriteFile(src + "/sub/one.txt", "x");
    for (const char* f : {"text.txt", "random.bin", "big-random.bin", "empty.dat", "zeros.dat",
                          "sub/one.txt"})
      SetMTime(src + "/" + f, 1700000000);  // 2023-11-14 23:13:20 in Berlin
  }
  std::string archive(const std::string& name = "out.zip") const { return dir / name; }
};

// A writer with the tool's settings (relative paths under `root`) and `files` listed.
void Configure(TZipWriter& w, const std::string& zip, const std::string& root,
               std::initializer_list<std::string> files = {}) {
  w.SetZipName(zip);
  w.SetRootDir(root);
  w.SetRelativePaths(true);
  w.Recurse = true;
  for (const std::string& f : files) w.AddFile(f);
}

std::vector<std::string> NamesOf(const TRawArchive& a) {
  std::vector<std::string> names;
  for (const auto& e : a.entries) names.push_back(e.name);
  return names;
}

std::vector<std::string> TempFilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

// ------------------------------------------------------------ format and oracles

TEST(ZipWriterFormat, EveryLevelPassesUnzipSevenZipPythonAndOurReader) {
  Tree t;
  ASSERT_FALSE(testing::SevenZip().empty()) << "7-Zip is needed as an oracle";
  for (int level = 0; level <= 9; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    std::string zip = t.archive("level" + std::to_string(level) + ".zip");
    TZipWriter w;
    Configure(w, zip, t.src, {t.src + "/*.*"});
    w.PackLevel = level;
    EXPECT_EQ(w.Zip(), 6);
    std::string out;
    EXPECT_EQ(RunCommand("unzip -tqq " + testing::Quote(zip) + " 2>&1", &out), 0) << out;
    EXPECT_EQ(RunCommand(testing::SevenZip() + " t " + testing::Quote(zip) + " >/dev/null 2>&1"), 0);
    const std::string py = testing::PythonListing(zip);
    EXPECT_NE(py.find("sub/one.txt|1|8cdc1683|2023-11-14 23:13:20"), std::string::npos) << py;
    EXPECT_NE(py.find("zeros.dat|100000|"), std::string::npos);
    // Our own reader extracts every file as it was.
    TempDir x;
    TZipReader r;
    r.SetZipName(zip);
    r.SetDestDir(x.path());
    r.DoAll = r.RecreateDirs = true;
    EXPECT_EQ(r.UnZip(), 6);
    for (int i = 0; i < r.Count(); ++i) {
      const TZipHeaderInfo& e = r.Entry(i);
      EXPECT_EQ(ReadFile(x / e.Path()), ReadFile(t.src + "/" + e.Path())) << e.Path();
      EXPECT_EQ(e.CompressionMethod == 0, level == 0 || e.CompressedSize == e.UncompressedSize);
    }
  }
}

TEST(ZipWriterFormat, HeadersAgreeAndLocalHeaderIsRewrittenInPlace) {
  Tree t;
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/*.*"});
  w.PackLevel = 9;
  ASSERT_EQ(w.Zip(), 6);
  TRawArchive a = ParseArchive(t.archive());
  ASSERT_EQ(a.entries.size(), 6u);
  size_t expectedOffset = 0;
  for (const auto& e : a.entries) {
    SCOPED_TRACE(e.name);
    // Entries follow each other: every local header is exactly where the
    // previous entry's data ends, so the rewrite kept its length.
    EXPECT_EQ(e.offset, expectedOffset);
    expectedOffset = e.dataOffset + e.csize;
    EXPECT_EQ(e.localName, e.name);
    EXPECT_EQ(e.localCrc, e.crc);
    EXPECT_EQ(e.localCsize, e.csize);
    EXPECT_EQ(e.localUsize, e.usize);
    EXPECT_EQ(e.localFlags, e.flags);
    EXPECT_EQ(e.flags & 0x0008, 0) << "no data descriptor is written";
    EXPECT_EQ(e.madeBy >> 8, 3) << "Unix host";
    EXPECT_EQ(e.needed, 20);
  }
  EXPECT_EQ(expectedOffset, a.cdOffset);
}

TEST(ZipWriterFormat, IncompressibleFileIsStoredWithTheLevelFlagsAndTextIsMarked) {
  Tree t;
  for (int level : {1, 6, 9}) {
    TZipWriter w;
    std::string zip = t.archive("l" + std::to_string(level) + ".zip");
    Configure(w, zip, t.src, {t.src + "/random.bin", t.src + "/text.txt"});
    w.PackLevel = level;
    ASSERT_EQ(w.Zip(), 2);
    TRawArchive a = ParseArchive(zip);
    const auto& rnd = a.entries[0];
    EXPECT_EQ(rnd.name, "random.bin");
    EXPECT_EQ(rnd.method, 0);
    EXPECT_EQ(rnd.csize, 100u);
    EXPECT_EQ(rnd.csize, rnd.usize);
    EXPECT_EQ(rnd.flags & 6, level <= 2 ? 4 : level >= 8 ? 2 : 0);
    EXPECT_EQ(rnd.internal, 0);
    const auto& txt = a.entries[1];
    EXPECT_EQ(txt.method, 8);
    EXPECT_EQ(txt.internal, 1) << "text";
    EXPECT_LT(txt.csize, txt.usize / 2);
  }
}

TEST(ZipWriterFormat, StoredLevelAndNoCompressListStoreTheBytes) {
  Tree t;
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/text.txt", t.src + "/zeros.dat"});
  w.PackLevel = 6;
  w.NoCompressList = {"*.TXT"};
  ASSERT_EQ(w.Zip(), 2);
  TRawArchive a = ParseArchive(t.archive());
  EXPECT_EQ(a.entries[0].method, 0);
  EXPECT_EQ(a.bytes.substr(a.entries[0].dataOffset, 70000), ReadFile(t.src + "/text.txt"));
  EXPECT_EQ(a.entries[1].method, 8);
}

TEST(ZipWriterFormat, AttributesCarryTheUnixModeAndUnzipRestoresIt) {
  Tree t;
  ::chmod((t.src + "/text.txt").c_str(), 0751);
  ::chmod((t.src + "/random.bin").c_str(), 0444);
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/text.txt", t.src + "/random.bin", t.src + "/sub/"});
  ASSERT_EQ(w.Zip(), 3);
  TRawArchive a = ParseArchive(t.archive());
  EXPECT_EQ(a.entries[0].external, (static_cast<uint32_t>(S_IFREG | 0751) << 16) | 0x20);
  EXPECT_EQ(a.entries[1].external, (static_cast<uint32_t>(S_IFREG | 0444) << 16) | 0x21);
  EXPECT_EQ(a.entries[2].name, "sub/");
  EXPECT_EQ(a.entries[2].external & 0xFF, 0x10u);
  EXPECT_TRUE(S_ISDIR(a.entries[2].external >> 16));
  EXPECT_EQ(a.entries[2].method, 0);
  EXPECT_EQ(a.entries[2].crc, 0u);

  TempDir out;
  ASSERT_EQ(RunCommand("cd " + testing::Quote(out.path()) + " && unzip -qq " +
                       testing::Quote(t.archive())),
            0);
  struct stat st;
  ASSERT_EQ(::stat((out / "text.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
}

TEST(ZipWriterNames, NonAsciiNamesAreUtf8WithFlagAndForeignBytesStayBytes) {
  TempDir d;
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93.txt";  // "Grüße ✓.txt"
  const std::string latin1 = "caf\xE9.txt";                           // not UTF-8
  WriteFile(d / utf8, "u");
  WriteFile(d / latin1, "l");
  WriteFile(d / "plain.txt", "p");
  TZipWriter w;
  Configure(w, d / "n.zip", d.path(), {d / "plain.txt", d / utf8, d / latin1});
  ASSERT_EQ(w.Zip(), 3);
  TRawArchive a = ParseArchive(d / "n.zip");
  EXPECT_EQ(a.entries[0].name, "plain.txt");
  EXPECT_EQ(a.entries[0].flags & 0x800, 0);
  EXPECT_EQ(a.entries[1].name, utf8);
  EXPECT_EQ(a.entries[1].flags & 0x800, 0x800);
  EXPECT_EQ(a.entries[2].name, latin1) << "the name's own bytes";
  EXPECT_EQ(a.entries[2].flags & 0x800, 0);

  // Python sees the UTF-8 name; unzip restores the foreign bytes exactly.
  std::string py = testing::PythonListing(d / "n.zip");
  EXPECT_NE(py.find("Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93.txt|1|"), std::string::npos) << py;
  TempDir out;
  ASSERT_EQ(RunCommand("cd " + testing::Quote(out.path()) + " && unzip -qq " +
                       testing::Quote(d / "n.zip")),
            0);
  EXPECT_EQ(ReadFile(out / latin1), "l");
  EXPECT_EQ(ReadFile(out / utf8), "u");

  // An update finds both entries again: equal dates keep them.
  TZipWriter u;
  Configure(u, d / "n.zip", d.path(), {d / utf8, d / latin1});
  int kept = 0;
  u.OnUpdate = [&](TZipWriter*, TUpdateAction a, int) { kept += a == uaKeeping; };
  EXPECT_EQ(u.Zip(), 0);
  EXPECT_EQ(kept, 2);
  EXPECT_EQ(ParseArchive(d / "n.zip").entries.size(), 3u);
}

// ------------------------------------------------------------ update rules

struct Updated {
  Tree t;
  std::string zip = t.archive();
  Updated() {
    WriteFile(t.src + "/a.txt", "alpha");
    WriteFile(t.src + "/b.txt", "bravo");
    WriteFile(t.src + "/c.txt", "charlie");
    for (const char* f : {"a.txt", "b.txt", "c.txt"}) SetMTime(t.src + "/" + f, 1600000000);
    TZipWriter w;
    Configure(w, zip, t.src);
    for (const char* f : {"a.txt", "b.txt", "c.txt"}) w.AddFile(t.src + "/" + f);
    if (w.Zip() != 3) throw std::runtime_error("setup");
  }
};

TEST(ZipWriterUpdate, EqualDateKeepsTheEntryAtItsPlace) {
  Updated u;
  std::string before = ReadFile(u.zip);
  TZipWriter w;
  Configure(w, u.zip, u.t.src, {u.t.src + "/b.txt"});
  std::vector<std::pair<TUpdateAction, int>> events;
  w.OnUpdate = [&](TZipWriter*, TUpdateAction a, int i) { events.push_back({a, i}); };
  bool infoRaised = false;
  w.OnStartZipInfo = [&](TZipWriter*, int, int64_t, TEndCentral&, bool&) { infoRaised = true; };
  EXPECT_EQ(w.Zip(), 0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, uaKeeping);
  EXPECT_EQ(events[0].second, 1);
  EXPECT_FALSE(infoRaised) << "nothing was left to add";
  EXPECT_EQ(ReadFile(u.zip), before) << "copying every entry reproduces the archive";
  EXPECT_TRUE(w.FilesList().empty());
}

TEST(ZipWriterUpdate, NewerFileReplacesItsEntryInPlaceAndNewFilesGoLast) {
  Updated u;
  WriteFile(u.t.src + "/b.txt", "bravo, changed");
  SetMTime(u.t.src + "/b.txt", 1600000100);
  WriteFile(u.t.src + "/d.txt", "delta");
  TZipWriter w;
  Configure(w, u.zip, u.t.src, {u.t.src + "/d.txt", u.t.src + "/b.txt"});
  std::vector<TUpdateAction> events;
  w.OnUpdate = [&](TZipWriter*, TUpdateAction a, int) { events.push_back(a); };
  EXPECT_EQ(w.Zip(), 2);
  EXPECT_EQ(events, std::vector<TUpdateAction>{uaReplacing});
  TRawArchive a = ParseArchive(u.zip);
  EXPECT_EQ(NamesOf(a), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));
  EXPECT_EQ(a.entries[1].usize, 14u);
  // The component's directory is the new archive's, in physical order.
  ASSERT_EQ(w.Count(), 4);
  EXPECT_EQ(w.Entry(1).UncompressedSize, 14u);
  EXPECT_EQ(w.Entry(3).Filename(), "d.txt");
  EXPECT_EQ(testing::PythonListing(u.zip).empty(), false);
}

TEST(ZipWriterUpdate, OneComponentRunsAgainOnItsOwnDirectory) {
  Updated u;
  TZipWriter w;
  Configure(w, u.zip, u.t.src, {u.t.src + "/0.txt"});
  w.SortMode = TZipSortMode::ByName;
  WriteFile(u.t.src + "/0.txt", "zero");
  EXPECT_EQ(w.Zip(), 1);
  EXPECT_EQ(w.Filename(0), "0.txt") << "the view is sorted by name again";
  EXPECT_EQ(w.Entry(0).LocalHeaderOffset, ParseArchive(u.zip).entries[3].offset);
  w.SetFileComment(0, "zero's comment");
  WriteFile(u.t.src + "/e.txt", "echo");
  w.AddFile(u.t.src + "/e.txt");
  EXPECT_EQ(w.Zip(), 1);
  TZipReader r;
  r.SetZipName(u.zip);
  r.SortMode = TZipSortMode::ByName;
  r.ReadZip();
  ASSERT_EQ(r.Count(), 5);
  EXPECT_EQ(r.FileComment(0), "zero's comment");
  EXPECT_EQ(r.Filename(4), "e.txt");
  std::string out;
  EXPECT_EQ(RunCommand("unzip -tqq " + testing::Quote(u.zip) + " 2>&1", &out), 0) << out;
}

// The devices of the unnamed files this process has open.
std::vector<dev_t> UnnamedFileDevices() {
  std::vector<dev_t> devices;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    struct stat st;
    if (::stat(e.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0)
      devices.push_back(st.st_dev);
  }
  return devices;
}

TEST(ZipWriterUpdate, TemporaryDirectoryOnAnotherVolumeIsNotUsed) {
  // The new archive is made beside the old one (unnamed, or under a hidden
  // name) and renamed over it; a cancelled run leaves nothing there either.
  Updated u;
  struct stat shm, here;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(u.t.dir.path().c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev)
    GTEST_SKIP() << "needs /dev/shm on another volume";
  ::chmod(u.zip.c_str(), 0640);
  const std::string before = ReadFile(u.zip);
  const std::vector<std::string> shmBefore = TempFilesIn("/dev/shm");
  WriteFile(u.t.src + "/e.txt", "echo");
  for (bool cancel : {true, false}) {
    SCOPED_TRACE(cancel);
    TZipWriter w;
    Configure(w, u.zip, u.t.src, {u.t.src + "/e.txt"});
    w.TempPath = "/dev/shm";
    w.FlushFilesOnClose = true;
    std::vector<dev_t> during;
    std::vector<std::string> besideDuring;
    w.OnStartZipInfo = [&](TZipWriter*, int, int64_t, TEndCentral&, bool& stop) {
      during = UnnamedFileDevices();
      besideDuring = TempFilesIn(u.t.dir.path());
      stop = cancel;
    };
    if (cancel) {
      EXPECT_THROW(w.Zip(), EUserCanceled);
      EXPECT_EQ(ReadFile(u.zip), before);
    } else {
      EXPECT_EQ(w.Zip(), 1);
      EXPECT_EQ(NamesOf(ParseArchive(u.zip)),
                (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "e.txt"}));
    }
    const bool hiddenBeside = std::any_of(besideDuring.begin(), besideDuring.end(),
                                          [](const std::string& n) { return n.rfind(".RQX", 0) == 0; });
    EXPECT_TRUE(hiddenBeside || std::count(during.begin(), during.end(), here.st_dev) == 1);
    EXPECT_EQ(std::count(during.begin(), during.end(), shm.st_dev), 0);
    EXPECT_EQ(TempFilesIn("/dev/shm"), shmBefore);
    EXPECT_EQ(TempFilesIn(u.t.dir.path()).size(), 2u);
  }
  struct stat st;
  ::stat(u.zip.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the archive keeps its permissions";
}

TEST(ZipWriterUpdate, AReplacementThatFailsKeepsTheOldEntry) {
  Updated u;
  std::string before = ReadFile(u.zip);
  WriteFile(u.t.src + "/b.txt", "newer b");
  SetMTime(u.t.src + "/b.txt", 1600000100);
  TZipWriter w;
  Configure(w, u.zip, u.t.src, {u.t.src + "/b.txt"});
  w.ZipAction = zaReplace;
  w.OnStartZip = [](TZipWriter*, const std::string&, TZipHeaderInfo&, bool& skip) { skip = true; };
  EXPECT_EQ(w.Zip(), 0);
  EXPECT_EQ(ReadFile(u.zip), before) << "b.txt was not re-added, so its entry stays";
}

TEST(ZipWriterUpdate, ReplaceReaddsAnOlderFile) {
  Updated u;
  WriteFile(u.t.src + "/a.txt", "older but wanted");
  SetMTime(u.t.src + "/a.txt", 1500000000);
  TZipWriter w;
  Configure(w, u.zip, u.t.src, {u.t.src + "/a.txt"});
  w.ZipAction = zaReplace;
  EXPECT_EQ(w.Zip(), 1);
  TRawArchive a = ParseArchive(u.zip);
  EXPECT_EQ(NamesOf(a), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_EQ(a.entries[0].usize, 16u);
}

TEST(ZipWriterUpdate, FreshenNeverAddsAFileWithoutEntry) {
  Updated u;
  WriteFile(u.t.src + "/c.txt", "charlie 2");
  SetMTime(u.t.src + "/c.txt", 1600000100);
  WriteFile(u.t.src + "/new.txt", "new");
  TZipWriter w;
  Configure(w, u.zip, u.t.src, {u.t.src + "/*.txt"});
  w.ZipAction = zaFreshen;
  EXPECT_EQ(w.Zip(), 1);
  TRawArchive a = ParseArchive(u.zip);
  EXPECT_EQ(NamesOf(a), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_EQ(a.entries[2].usize, 9u);
}

TEST(ZipWriterUpdate, EmptyListRewritesAnExistingArchiveAndCreatesAnEmptyOne) {
  Updated u;
  std::string before = ReadFile(u.zip);
  TZipWriter w;
  w.SetZipName(u.zip);
  int completed = -1;
  w.OnZipComplete = [&](TZipWriter*, int n) { completed = n; };
  EXPECT_EQ(w.Zip(), 0);
  EXPECT_EQ(completed, 0);
  EXPECT_EQ(ReadFile(u.zip), before);

  std::string fresh = u.t.archive("empty.zip");
  TZipWriter e;
  e.SetZipName(fresh);
  EXPECT_EQ(e.Zip(), 0);
  std::string bytes = ReadFile(fresh);
  EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_NE(testing::PythonListing(fresh), "") ;

  TZipWriter blank;
  blank.SetZipName("   ");
  blank.AddFile(u.t.src + "/a.txt");
  EXPECT_EQ(blank.Zip(), 0);
  EXPECT_TRUE(blank.FilesList().empty());
}

TEST(ZipWriterUpdate, CommentsAndOldEntriesAreCarriedOver) {
  Updated u;
  TZipWriter w;
  w.SetZipName(u.zip);
  w.ReadZip();
  w.SetFileComment(0, "first entry");
  w.SetZipComment("archive comment");
  // A new name writes the changed comments into the current archive first.
  w.SetZipName(u.t.archive("other.zip"));
  TZipReader r;
  r.SetZipName(u.zip);
  r.ReadZip();
  EXPECT_EQ(r.ZipComment(), "archive comment");
  EXPECT_EQ(r.FileComment(0), "first entry");
  EXPECT_EQ(r.Count(), 3);
  std::string out;
  EXPECT_EQ(RunCommand("unzip -tqq " + testing::Quote(u.zip) + " 2>&1", &out), 0) << out;
}

// ------------------------------------------------------------ events

TEST(ZipWriterEvents, SameFileListedTwiceIsAddedOnce) {
  Tree t;
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/text.txt", t.src + "/text.txt"});
  std::vector<std::tuple<TSkipReason, std::string, int>> skips;
  w.OnSkippingFile = [&](TZipReader*, TSkipReason r, const std::string& f, int i, bool&) {
    skips.emplace_back(r, f, i);
  };
  EXPECT_EQ(w.Zip(), 1);
  ASSERT_EQ(skips.size(), 1u);
  EXPECT_EQ(std::get<0>(skips[0]), skipNoOverwrite);
  EXPECT_EQ(std::get<1>(skips[0]), t.src + "/text.txt");
  EXPECT_EQ(std::get<2>(skips[0]), -1);
  EXPECT_EQ(ParseArchive(t.archive()).entries.size(), 1u);
}

TEST(ZipWriterEvents, NamesThatDifferOnlyInCaseAreTwoEntries) {
  TempDir d;
  WriteFile(d / "README", "upper");
  WriteFile(d / "readme", "lower");
  SetMTime(d / "README", 1600000000);
  SetMTime(d / "readme", 1600000000);
  TZipWriter w;
  Configure(w, d / "c.zip", d.path(), {d / "README", d / "readme"});
  EXPECT_EQ(w.Zip(), 2);
  // An update of one of them meets its own entry only.
  WriteFile(d / "readme", "lower, changed");
  SetMTime(d / "readme", 1600000100);
  TZipWriter u;
  Configure(u, d / "c.zip", d.path(), {d / "readme"});
  std::vector<std::pair<TUpdateAction, int>> events;
  u.OnUpdate = [&](TZipWriter*, TUpdateAction a, int i) { events.push_back({a, i}); };
  EXPECT_EQ(u.Zip(), 1);
  EXPECT_EQ(events, (std::vector<std::pair<TUpdateAction, int>>{{uaReplacing, 1}}));
  TRawArchive a = ParseArchive(d / "c.zip");
  EXPECT_EQ(NamesOf(a), (std::vector<std::string>{"README", "readme"}));
  EXPECT_EQ(a.entries[0].usize, 5u);
  EXPECT_EQ(a.entries[1].usize, 14u);
}

TEST(ZipWriterEvents, WithoutPathsTwoFilesOfOneNameCollide) {
  Tree t;
  WriteFile(t.src + "/one.txt", "top");
  TZipWriter w;
  w.SetZipName(t.archive());
  w.SetRootDir(t.src);
  int skipped = 0;
  w.OnSkippingFile = [&](TZipReader*, TSkipReason r, const std::string&, int, bool&) {
    skipped += r == skipNoOverwrite;
  };
  w.AddFile(t.src + "/one.txt");
  w.AddFile(t.src + "/sub/one.txt");
  EXPECT_EQ(w.Zip(), 1);
  EXPECT_EQ(skipped, 1);
  EXPECT_EQ(NamesOf(ParseArchive(t.archive())), std::vector<std::string>{"one.txt"});
}

TEST(ZipWriterEvents, StartZipInfoStopLeavesTheOldArchiveAndNoTemporaryFile) {
  Updated u;
  TempDir tmp;
  std::string before = ReadFile(u.zip);
  WriteFile(u.t.src + "/e.txt", "echo");
  TZipWriter w;
  Configure(w, u.zip, u.t.src, {u.t.src + "/e.txt"});
  w.TempPath = tmp.path();
  int numFiles = 0;
  w.OnStartZipInfo = [&](TZipWriter*, int n, int64_t, TEndCentral&, bool& stop) {
    numFiles = n;
    stop = true;
  };
  try {
    w.Zip();
    FAIL() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Zip operation");
  }
  EXPECT_EQ(numFiles, 1);
  EXPECT_EQ(ReadFile(u.zip), before);
  EXPECT_TRUE(TempFilesIn(tmp.path()).empty());
  EXPECT_EQ(TempFilesIn(u.t.dir.path()).size(), 2u) << "src and the archive only";
  EXPECT_TRUE(w.FilesList().empty());
}

TEST(ZipWriterEvents, StartZipCanSkipAndRenameAndEndZipReportsSizes) {
  Tree t;
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/random.bin", t.src + "/zeros.dat"});
  w.OnStartZip = [&](TZipWriter*, const std::string& f, TZipHeaderInfo& h, bool& skip) {
    if (f.find("random") != std::string::npos) skip = true;
    if (f.find("zeros") != std::string::npos) h.SetFilename("renamed.dat");
  };
  std::vector<std::tuple<std::string, int64_t, int64_t, int64_t>> ends;
  w.OnEndZip = [&](TZipWriter*, const std::string& f, int64_t u, int64_t c, int64_t z) {
    ends.emplace_back(f, u, c, z);
  };
  EXPECT_EQ(w.Zip(), 1);
  TRawArchive a = ParseArchive(t.archive());
  EXPECT_EQ(NamesOf(a), std::vector<std::string>{"renamed.dat"});
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(std::get<1>(ends[0]), 100000);
  EXPECT_EQ(std::get<2>(ends[0]), a.entries[0].csize);
  EXPECT_EQ(std::get<3>(ends[0]), static_cast<int64_t>(a.entries[0].dataOffset + a.entries[0].csize));
}

TEST(ZipWriterEvents, ProgressReachesOneHundred) {
  Tree t;
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/sub/one.txt", t.src + "/big-random.bin"});
  std::vector<int> total, file;
  w.OnTotalPercentDone = [&](TZipReader*, int p) { total.push_back(p); };
  w.OnFilePercentDone = [&](TZipReader*, int p) { file.push_back(p); };
  ASSERT_EQ(w.Zip(), 2);
  ASSERT_FALSE(total.empty());
  EXPECT_EQ(file.front(), 100) << "a file shorter than one read is done after it";
  EXPECT_EQ(total.back(), 100);
  EXPECT_TRUE(std::is_sorted(total.begin(), total.end()));
  EXPECT_EQ(w.TotalBytes(), 200001);
}

TEST(ZipWriterEvents, DisposeDeletesTheAddedFilesUnlessSkipped) {
  Tree t;
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/random.bin", t.src + "/text.txt"});
  w.Dispose = true;
  w.OnDisposeFile = [&](TZipWriter*, const std::string& f, bool& skip) {
    skip = f.find("random") != std::string::npos;
  };
  EXPECT_EQ(w.Zip(), 2);
  EXPECT_TRUE(fs::exists(t.src + "/random.bin"));
  EXPECT_FALSE(fs::exists(t.src + "/text.txt"));
}

// ------------------------------------------------------------ faults

TEST(ZipWriterFaults, UnopenableSourceRaisesSkippingFileReasonTwo) {
  Tree t;
  std::string fifo = t.src + "/pipe.dat";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  fs::create_directories(t.src + "/adir");
  TZipWriter w;
  Configure(w, t.archive(), t.src, {fifo, t.src + "/text.txt"});
  std::vector<std::string> skipped;
  int retries = 0;
  w.OnSkippingFile = [&](TZipReader*, TSkipReason r, const std::string& f, int i, bool& retry) {
    EXPECT_EQ(r, skipCannotOpen);
    EXPECT_EQ(i, -1);
    skipped.push_back(f);
    // Ask once to try the pipe again: it is refused again, without blocking.
    if (f == fifo && retries++ == 0) retry = true;
  };
  w.AddFile(t.src + "/adir");  // a directory where a file is expected
  EXPECT_EQ(w.Zip(), 1);
  EXPECT_EQ(skipped, (std::vector<std::string>{fifo, fifo, t.src + "/adir"}));
  EXPECT_EQ(NamesOf(ParseArchive(t.archive())), std::vector<std::string>{"text.txt"});
}

TEST(ZipWriterFaults, SourceVanishingAfterExpansionIsLeftOutSilently) {
  Tree t;
  TZipWriter w;
  Configure(w, t.archive(), t.src, {t.src + "/random.bin", t.src + "/zeros.dat"});
  int skips = 0;
  w.OnSkippingFile = [&](TZipReader*, TSkipReason, const std::string&, int, bool&) { ++skips; };
  w.OnStartZipInfo = [&](TZipWriter*, int n, int64_t, TEndCentral&, bool&) {
    EXPECT_EQ(n, 2);
    fs::remove(t.src + "/random.bin");
  };
  std::vector<int> total;
  w.OnTotalPercentDone = [&](TZipReader*, int p) { total.push_back(p); };
  EXPECT_EQ(w.Zip(), 1);
  EXPECT_EQ(skips, 0);
  EXPECT_EQ(total.back(), 100) << "the vanished file's size left the total";
  EXPECT_EQ(NamesOf(ParseArchive(t.archive())), std::vector<std::string>{"zeros.dat"});
}

TEST(ZipWriterFaults, ArchiveNeverTakesItselfInUnderAnotherSpelling) {
  Tree t;
  std::string zip = t.src + "/self.zip";
  TZipWriter first;
  Configure(first, zip, t.src, {t.src + "/text.txt"});
  ASSERT_EQ(first.Zip(), 1);
  ::symlink(t.src.c_str(), (t.dir / "alias").c_str());

  TZipWriter w;
  Configure(w, t.dir / "alias/sub/../self.zip", t.src, {t.src + "/*.*", t.src + "/self.zip", t.dir / "alias/self.zip"});
  w.Zip();
  for (const auto& n : NamesOf(ParseArchive(zip))) EXPECT_EQ(n.find("self.zip"), std::string::npos);
  EXPECT_EQ(ParseArchive(zip).entries.size(), 6u);
}

// Runs `body` in a child process whose files may not grow beyond `limit`
// bytes; returns the child's exit status (0 ok, 1 ENotEnoughRoom, 2 other).
int RunWithFileSizeLimit(rlim_t limit, const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl {limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    try {
      body();
    } catch (const ENotEnoughRoom&) {
      ::_exit(1);
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(ZipWriterFaults, FullDiskWhileCreatingLeavesNoArchiveAndNoTemporaryFile) {
  Tree t;
  std::string zip = t.archive();
  int status = RunWithFileSizeLimit(50000, [&]() {
    TZipWriter w;
    Configure(w, zip, t.src, {t.src + "/*.*"});
    w.Zip();
  });
  EXPECT_EQ(status, 1) << "ENotEnoughRoom";
  EXPECT_FALSE(fs::exists(zip));
  EXPECT_EQ(TempFilesIn(t.dir.path()), std::vector<std::string>{"src"});
}

TEST(ZipWriterFaults, FullDiskWhileUpdatingLeavesTheOldArchiveByteForByte) {
  Updated u;
  TempDir tmp;
  std::string before = ReadFile(u.zip);
  for (bool sameVolumeTemp : {true, false}) {
    int status = RunWithFileSizeLimit(50000, [&]() {
      TZipWriter w;
      Configure(w, u.zip, u.t.src, {u.t.src + "/big-random.bin"});
      w.TempPath = sameVolumeTemp ? tmp.path() : std::string("/dev/shm");
      w.Zip();
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ReadFile(u.zip), before);
    EXPECT_TRUE(TempFilesIn(tmp.path()).empty());
  }
}

TEST(ZipWriterFaults, KilledRunLeavesTheOldArchiveAndNothingElse) {
  Updated u;
  TempDir tmp;
  std::string before = ReadFile(u.zip);
  WriteFile(u.t.src + "/large.bin", RandomBytes(4 << 20, 9));
  pid_t pid = ::fork();
  if (pid == 0) {
    TZipWriter w;
    Configure(w, u.zip, u.t.src, {u.t.src + "/large.bin"});
    w.TempPath = tmp.path();
    w.PackLevel = 9;
    w.OnTotalPercentDone = [&](TZipReader*, int p) {
      if (p >= 50) ::kill(::getpid(), SIGKILL);
    };
    w.Zip();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadFile(u.zip), before);
  EXPECT_TRUE(TempFilesIn(tmp.path()).empty());
  for (const auto& n : TempFilesIn(u.t.dir.path())) EXPECT_EQ(n.rfind("RQX", 0), std::string::npos);
}

TEST(ZipWriterFaults, ADamagedOldArchiveFailsAndStaysAsItWas) {
  TempDir d;
  WriteFile(d / "bad.zip", "this is not an archive at all, just some text bytes");
  WriteFile(d / "a.txt", "a");
  TZipWriter w;
  Configure(w, d / "bad.zip", d.path(), {d / "a.txt"});
  EXPECT_THROW(w.Zip(), EZipError);
  EXPECT_EQ(ReadFile(d / "bad.zip"), "this is not an archive at all, just some text bytes");
}

}  // namespace
}  // namespace vantrel::zip
