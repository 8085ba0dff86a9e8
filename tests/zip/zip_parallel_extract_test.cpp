// Extracting on several threads: the files, their dates, the reports and
// the guards are those of a single thread at every thread count.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>

#include "tests/support/test_support.h"
#include "tests/zip/zip_test_util.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using namespace vantrel::test;

// Under ThreadSanitizer everything runs several times slower.
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 20;
#else
constexpr int kSlowdown = 1;
#endif

std::string Text(size_t n, uint32_t seed) {
  const char* words[] = {"entry ", "decode ", "worker ", "inflate ", "\n"};
  std::mt19937 gen(seed);
  std::string s;
  while (s.size() < n) s += words[gen() % 5];
  s.resize(n);
  return s;
}

TEntrySpec Deflated(const std::string& name, const std::string& data) {
  TEntrySpec e(name, data);
  e.method = 8;
  return e;
}

TEntrySpec UnixEntry(TEntrySpec e, uint32_t mode) {
  e.versionMadeBy = (3 << 8) | 20;
  e.external = mode << 16;
  return e;
}

// Everything under dir: kind, contents (or link target), date and mode.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    // Lexically: fs::relative would follow a link and name it after its target.
    const std::string rel = e.path().lexically_relative(dir).string();
    struct stat st;
    ::lstat(e.path().c_str(), &st);
    std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtime) + " ";
    if (S_ISLNK(st.st_mode))
      what += "-> " + fs::read_symlink(e.path()).string();
    else if (S_ISREG(st.st_mode))
      what += ReadFile(e.path());
    out[rel] = what;
  }
  return out;
}

// Entry by entry, so that a difference in a large file prints one line.
void ExpectSameTree(const std::map<std::string, std::string>& got,
                    const std::map<std::string, std::string>& want) {
  for (const auto& [name, what] : want) {
    const auto it = got.find(name);
    if (it == got.end())
      ADD_FAILURE() << name << " is missing";
    else if (it->second != what)
      ADD_FAILURE() << name << " differs: " << it->second.substr(0, 60) << " against "
                    << what.substr(0, 60);
  }
  for (const auto& [name, what] : got)
    if (!want.count(name)) ADD_FAILURE() << name << " is extra";
}

// The modification time in a snapshot's value ("mode mtime ...").
std::string TimeOf(const std::string& what) {
  const size_t from = what.find(' ') + 1;
  return what.substr(from, what.find(' ', from) - from);
}

size_t ThreadsOfThisProcess() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

struct TExtractLog {
  std::vector<std::string> starts;   // OnStartUnZip, in order
  std::vector<std::string> reports;  // everything else, in order
  int count = -1;
  size_t mostThreads = 0;
};

TExtractLog Extract(const std::string& zip, const std::string& dest, int threads,
                    TUZOverwriteMode mode = TUZOverwriteMode::Always) {
  TExtractLog log;
  // Names as they are below the destination, which differs between runs.
  auto below = [&](const std::string& name) {
    return name.rfind(dest, 0) == 0 ? name.substr(dest.size()) : name;
  };
  TZipReader r;
  r.SetZipName(zip);
  r.SetDestDir(dest);
  r.DoAll = true;
  r.RecreateDirs = true;
  r.OverwriteMode = mode;
  r.Threads = threads;
  r.OnStartUnZip = [&](TZipReader*, int i, std::string&, bool&) { log.starts.push_back(std::to_string(i)); };
  r.OnEndUnZip = [&](TZipReader*, int i, const std::string& name) {
    log.reports.push_back("end " + std::to_string(i) + " " + below(name));
    log.mostThreads = std::max(log.mostThreads, ThreadsOfThisProcess());
  };
  r.OnBadCRC = [&](TZipReader*, int32_t calc, int32_t stored, int i) {
    log.reports.push_back("crc " + std::to_string(i) + " " + std::to_string(calc) + " " + std::to_string(stored));
  };
  r.OnEntryError = [&](TZipReader*, int i, const std::string& m) {
    log.reports.push_back("error " + std::to_string(i) + " " + m);
  };
  r.OnSkippingFile = [&](TZipReader*, TSkipReason why, const std::string& name, int i, bool&) {
    log.reports.push_back("skip " + std::to_string(why) + " " + std::to_string(i) + " " + below(name));
  };
  log.count = r.UnZip();
  return log;
}

struct TArchiveCase {
  const char* name;
  std::vector<TEntrySpec> entries;
  TUZOverwriteMode mode = TUZOverwriteMode::Always;
};

std::vector<TArchiveCase> ArchiveCases() {
  std::vector<TArchiveCase> cases;
  {
    TArchiveCase c{"files, directories, a link and empty files", {}};
    c.entries.push_back(TEntrySpec("top/"));
    for (int i = 0; i < 30; ++i)
      c.entries.push_back(UnixEntry(Deflated("top/f" + std::to_string(i) + ".txt", Text(500 + i * 3000, i)), 0100640));
    c.entries.push_back(TEntrySpec("top/empty.dat", ""));
    c.entries.push_back(Deflated("top/sub/large.txt", Text(3 << 20, 99)));
    c.entries.push_back(UnixEntry(TEntrySpec("top/sub/link", "../f1.txt"), 0120777));
    c.entries.push_back(TEntrySpec("top/stored.bin", RandomBytes(70000, 5)));
    c.entries.push_back(TEntrySpec("top/sub/"));
    cases.push_back(c);
  }
  {
    TArchiveCase c{"damaged entries between good ones", {}};
    for (int i = 0; i < 8; ++i) {
      TEntrySpec e = Deflated("d" + std::to_string(i) + ".txt", Text(40000 + i, 10 + i));
      if (i == 2) e.crc = 0x12345678;           // bad CRC
      if (i == 5) e.usize = 1000;               // more data than declared
      if (i == 6) e.method = 77, e.rawBody = true;  // unknown method
      c.entries.push_back(e);
    }
    TEntrySpec secret("secret.txt", "locked");
    secret.password = "pw";  // no password given: reported at its place
    c.entries.insert(c.entries.begin() + 4, secret);
    cases.push_back(c);
  }
  {
    TArchiveCase c{"one name twice, the later one wins", {}};
    c.entries = {Deflated("same.txt", Text(90000, 1)), Deflated("other.txt", Text(5000, 2)),
                 Deflated("same.txt", Text(80000, 3))};
    cases.push_back(c);
    c.name = "one name twice, the first one stays";
    c.mode = TUZOverwriteMode::Never;
    cases.push_back(c);
  }
  {
    // More entries than any thread count here lets the workers run ahead of
    // the reports (32 at 2 threads, 128 at 8), so that the reports are waited
    // for in batches; damaged and repeated entries fall inside and across
    // those batches.
    TArchiveCase c{"more entries than the workers run ahead, in several directories", {}};
    for (int i = 0; i < 300; ++i) {
      TEntrySpec e = Deflated("dir" + std::to_string(i % 7) + "/e" + std::to_string(i) + ".txt",
                              Text(200 + (i * 37) % 3000, static_cast<uint32_t>(1000 + i)));
      if (i % 41 == 17) e.crc = 0x12345678;  // bad CRC
      if (i == 150 || i == 290) e = Deflated("dir0/again.txt", Text(100 + i, static_cast<uint32_t>(i)));
      c.entries.push_back(e);
    }
    for (int d = 0; d < 7; ++d) c.entries.push_back(TEntrySpec("dir" + std::to_string(d) + "/"));
    cases.push_back(c);
  }
  return cases;
}

TEST(ParallelExtract, SameFilesAndReportsAtEveryThreadCount) {
  for (const TArchiveCase& c : ArchiveCases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string zip = dir / "a.zip";
    WriteFile(zip, BuildZip(c.entries));
    const TExtractLog one = Extract(zip, dir / "one", 1, c.mode);
    const auto expected = Snapshot(dir / "one");
    ASSERT_GT(one.count, 0);
    ASSERT_FALSE(expected.empty());
    if (expected.count("top/sub/link")) {  // a link carries its entry's time, as the files do
      EXPECT_EQ(TimeOf(expected.at("top/sub/link")), TimeOf(expected.at("top/f0.txt")));
    }
    for (int threads : {2, 3, 8}) {
      SCOPED_TRACE(threads);
      const std::string dest = dir / test::Numbered("n", threads);
      const TExtractLog log = Extract(zip, dest, threads, c.mode);
      EXPECT_EQ(log.count, one.count);
      EXPECT_EQ(log.starts, one.starts);
      EXPECT_EQ(log.reports, one.reports);
      ExpectSameTree(Snapshot(dest), expected);
      EXPECT_GT(log.mostThreads, one.mostThreads) << "the workers ran";
    }
  }
}

TEST(ParallelExtract, DamagedEntriesAreReportedAndLeaveNoFile) {
  const auto cases = ArchiveCases();
  TempDir dir;
  const std::string zip = dir / "a.zip";
  WriteFile(zip, BuildZip(cases[1].entries));
  const TExtractLog log = Extract(zip, dir / "out", 3);
  const std::vector<std::string> names = [&] {
    std::vector<std::string> v;
    for (const auto& [name, what] : Snapshot(dir / "out")) v.push_back(name);
    return v;
  }();
  EXPECT_EQ(names, (std::vector<std::string>{"d0.txt", "d1.txt", "d3.txt", "d4.txt", "d7.txt"}));
  EXPECT_EQ(log.count, 5);
  ASSERT_EQ(log.reports.size(), 9u);
  EXPECT_EQ(log.reports[2].rfind("crc 2 ", 0), 0u) << log.reports[2];
  EXPECT_EQ(log.reports[4].rfind("skip 0 4 ", 0), 0u) << log.reports[4];
  EXPECT_EQ(log.reports[6].rfind("error 6 size mismatch", 0), 0u) << log.reports[6];
  EXPECT_EQ(log.reports[7].rfind("error 7 ", 0), 0u) << log.reports[7];
}

// A destination whose directory or file is a link to elsewhere: nothing is
// written through it, at any thread count.
TEST(ParallelExtract, LinksInTheDestinationAreNotFollowed) {
  std::vector<TEntrySpec> entries;
  for (int i = 0; i < 6; ++i) entries.push_back(Deflated("a" + std::to_string(i) + ".txt", Text(60000, i)));
  entries.push_back(Deflated("sub/inside.txt", Text(20000, 40)));
  entries.push_back(Deflated("victim.txt", "from the archive"));
  for (int threads : {1, 2, 8}) {
    SCOPED_TRACE(threads);
    TempDir dir;
    const std::string zip = dir / "a.zip";
    WriteFile(zip, BuildZip(entries));
    const std::string dest = dir / "dest", outside = dir / "outside";
    fs::create_directories(dest);
    fs::create_directories(outside);
    WriteFile(outside + "/victim.txt", "untouched");
    fs::create_directory_symlink(outside, dest + "/sub");
    fs::create_symlink(outside + "/victim.txt", dest + "/victim.txt");
    const TExtractLog log = Extract(zip, dest, threads);
    EXPECT_EQ(ReadFile(outside + "/victim.txt"), "untouched");
    EXPECT_FALSE(fs::exists(outside + "/inside.txt"));
    EXPECT_TRUE(fs::is_symlink(dest + "/sub"));
    // The link at the file's own name is replaced by the file, not written through.
    EXPECT_FALSE(fs::is_symlink(dest + "/victim.txt"));
    EXPECT_EQ(ReadFile(dest + "/victim.txt"), "from the archive");
    EXPECT_EQ(ReadFile(dest + "/a5.txt"), Text(60000, 5));
    EXPECT_EQ(std::count_if(log.reports.begin(), log.reports.end(),
                            [](const std::string& r) { return r.rfind("skip 3 6 ", 0) == 0; }),
              1)
        << "the entry under the linked directory is refused";
  }
}

// The directory the workers write in is removed (or replaced by a link to
// elsewhere) while the run goes on: the later files of that directory are
// made in a new one, never through the link, at every thread count.
TEST(ParallelExtract, ADirectoryRemovedDuringTheRunIsWalkedAgain) {
  const std::vector<TEntrySpec> entries = {Deflated("d/s/a", Text(30000, 1)),
                                           Deflated("d/s/b", Text(20000, 2)),
                                           Deflated("d/c", Text(10000, 3))};
  for (int threads : {1, 2, 8}) {
    for (bool link : {false, true}) {
      SCOPED_TRACE(std::to_string(threads) + (link ? " threads, a link in its place" : " threads"));
      TempDir dir;
      const std::string zip = dir / "a.zip";
      WriteFile(zip, BuildZip(entries));
      const std::string dest = dir / "dest", outside = dir / "outside";
      fs::create_directories(outside);
      TZipReader r;
      r.SetZipName(zip);
      r.SetDestDir(dest);
      r.DoAll = true;
      r.RecreateDirs = true;
      r.Threads = threads;
      // Before the second entry is prepared, so that its directory, still
      // open since the first, is the removed one.
      r.OnStartUnZip = [&](TZipReader*, int index, std::string&, bool&) {
        if (index != 1) return;
        fs::remove_all(dest + "/d");
        if (link) fs::create_directory_symlink(outside, dest + "/d");
      };
      std::vector<std::string> skipped;
      r.OnSkippingFile = [&](TZipReader*, TSkipReason why, const std::string& name, int, bool&) {
        if (why == skipCannotCreate) skipped.push_back(name.substr(dest.size()));
      };
      r.UnZip();
      // The first entry may still have been on a worker when its directory
      // went: whether it was placed depends on the timing.
      std::erase(skipped, "/d/s/a");
      EXPECT_TRUE(fs::is_empty(outside));
      if (link) {
        EXPECT_EQ(skipped, (std::vector<std::string>{"/d/s/b", "/d/c"}));
      } else {
        EXPECT_TRUE(skipped.empty());
        EXPECT_EQ(ReadFile(dest + "/d/s/b"), Text(20000, 2));
        EXPECT_EQ(ReadFile(dest + "/d/c"), Text(10000, 3));
      }
    }
  }
}

// Extracts `zip` into `dest` with `threads`, cancelling once 30 % is
// reported; the run must end cancelled. Returns the milliseconds from the
// cancel to the end (a large number when the cancel never came).
long CancelledAtThirtyPercent(const std::string& zip, const std::string& dest, int threads) {
  TZipReader r;
  r.SetZipName(zip);
  r.SetDestDir(dest);
  r.DoAll = true;
  r.Threads = threads;
  std::chrono::steady_clock::time_point asked{};
  r.OnTotalPercentDone = [&](TZipReader*, int p) {
    if (p >= 30 && asked == std::chrono::steady_clock::time_point{}) {
      asked = std::chrono::steady_clock::now();
      r.CancelOperation = true;
    }
  };
  EXPECT_THROW(r.UnZip(), EUserCanceled);
  EXPECT_NE(asked, std::chrono::steady_clock::time_point{}) << "30 % was never reported";
  if (asked == std::chrono::steady_clock::time_point{}) return 1L << 30;
  const auto took = std::chrono::steady_clock::now() - asked;
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
}

TEST(ParallelExtract, CancelStopsTheWorkersAndLeavesOnlyCompleteFiles) {
  // More entries than the workers may run ahead of the reports (16 entries
  // a thread, 128 at 8 threads) past the 30 % where the cancel comes, so
  // that some are always left out, however the threads are scheduled.
  constexpr int kEntries = 200;
  constexpr size_t kSize = 64 << 10;
  std::vector<TEntrySpec> entries;
  for (int i = 0; i < kEntries; ++i)
    entries.push_back(Deflated("big" + std::to_string(i) + ".txt", Text(kSize, static_cast<uint32_t>(i))));
  TempDir dir;
  const std::string zip = dir / "a.zip";
  WriteFile(zip, BuildZip(entries));
  for (int threads : {2, 8}) {
    SCOPED_TRACE(threads);
    const std::string dest = dir / ("out" + std::to_string(threads));
    EXPECT_LT(CancelledAtThirtyPercent(zip, dest, threads), 1000 * kSlowdown);
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(dest)) {
      const std::string name = e.path().filename().string();
      ASSERT_EQ(name.rfind("big", 0), 0u) << "no temporary file is left: " << name;
      const int i = std::stoi(name.substr(3));
      EXPECT_TRUE(ReadFile(e.path()) == Text(kSize, static_cast<uint32_t>(i))) << name;
      ++files;
    }
    EXPECT_LT(files, entries.size());
  }
}

// One large entry: with more than one thread its CRC and its writing run on
// a thread beside the decoder; the files and the reports are those of one
// thread, around the size that turns it on and around the writer's slots.
constexpr size_t kMiB = size_t{1} << 20;

TEST(ParallelExtract, OneLargeEntryGivesTheSameFileAndReportsAtOneAndTwoThreads) {
  struct TCase {
    const char* name;
    size_t size;
    uint16_t method;
    bool badCrc;
  };
  const TCase cases[] = {
      {"just under the threshold", 8 * kMiB - 1, 8, false},
      {"at the threshold", 8 * kMiB, 8, false},
      {"a byte past a slot", 9 * kMiB + 1, 8, false},
      {"a partial last slot", 10 * kMiB + 32768 + 7, 8, false},
      {"stored", 9 * kMiB - 5, 0, false},
      {"a corrupted CRC", 12 * kMiB + 3, 8, true},
      {"a corrupted CRC, stored", 8 * kMiB, 0, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string zip = dir / "a.zip";
    TEntrySpec e("big.txt", Text(c.size, static_cast<uint32_t>(c.size)));
    e.method = c.method;
    if (c.badCrc) e.crc = 0x12345678;
    // A small entry after it: the run goes on past the large one.
    WriteFile(zip, BuildZip({e, Deflated("after.txt", Text(3000, 7))}));
    const TExtractLog one = Extract(zip, dir / "one", 1);
    const TExtractLog two = Extract(zip, dir / "two", 2);
    EXPECT_EQ(two.count, one.count);
    EXPECT_EQ(two.reports, one.reports);
    ExpectSameTree(Snapshot(dir / "two"), Snapshot(dir / "one"));
    EXPECT_EQ(fs::exists(fs::path(dir / "two") / "big.txt"), !c.badCrc);
    EXPECT_EQ(one.count, c.badCrc ? 1 : 2);
    if (c.badCrc) {
      ASSERT_FALSE(two.reports.empty());
      EXPECT_EQ(two.reports[0].rfind("crc 0 ", 0), 0u) << two.reports[0];
    }
  }
}

TEST(ParallelExtract, AWriteFailureInALargeEntryEndsTheRunAndLeavesNoFile) {
  // The file size limit makes every write past 3 MB fail (EFBIG), as a full
  // disk would; a failed write ends the run, at every thread count.
  TempDir dir;
  const std::string zip = dir / "a.zip";
  WriteFile(zip, BuildZip({Deflated("first.txt", Text(2000, 4)), Deflated("big.txt", Text(16 * kMiB, 3))}));
  struct TLimit {
    struct rlimit old {};
    void (*oldHandler)(int) = SIG_DFL;
    TLimit() {
      ::getrlimit(RLIMIT_FSIZE, &old);
      oldHandler = std::signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = old;
      limit.rlim_cur = 3 * kMiB;
      EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~TLimit() {
      ::setrlimit(RLIMIT_FSIZE, &old);
      std::signal(SIGXFSZ, oldHandler);
    }
  };
  std::map<int, std::string> failures;
  std::map<int, std::map<std::string, std::string>> trees;
  for (int threads : {1, 2}) {
    const std::string dest = dir / test::Numbered("out", threads);
    {
      TLimit limit;
      try {
        Extract(zip, dest, threads);
      } catch (const ECantWriteUCF& e) {
        failures[threads] = e.what();
      }
    }
    trees[threads] = Snapshot(dest);
  }
  EXPECT_EQ(failures[1], kTextCantWrite);
  EXPECT_EQ(failures[2], failures[1]);
  ExpectSameTree(trees[2], trees[1]);
  EXPECT_EQ(trees[2].count("big.txt"), 0u) << "no partial file";
  EXPECT_EQ(trees[2].size(), 1u) << "only the entry before it, no temporary file";
}

TEST(ParallelExtract, CancelInsideOneLargeEntryIsPromptAndLeavesNoFile) {
  TempDir dir;
  const std::string zip = dir / "a.zip";
  WriteFile(zip, BuildZip({Deflated("big.txt", Text(48 * kMiB, 5))}));
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    const std::string dest = dir / test::Numbered("out", threads);
    EXPECT_LT(CancelledAtThirtyPercent(zip, dest, threads), 100 * kSlowdown);
    // A worker may finish the entry before the cancel reaches it; what it
    // leaves is then the whole file, never a part or a temporary file.
    for (const auto& e : fs::directory_iterator(dest)) {
      EXPECT_EQ(e.path().filename(), "big.txt");
      EXPECT_EQ(threads, 2) << "one thread checks the cancel as it decodes";
      EXPECT_TRUE(ReadFile(e.path()) == Text(48 * kMiB, 5)) << "a partial file";
    }
  }
}

}  // namespace
}  // namespace vantrel::zip
