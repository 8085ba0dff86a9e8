// Packing on several threads: the archive and the events are those of a
// single thread at every thread count; cancellation and failures while the
// workers run leave the old archive as it was and nothing behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "tests/support/test_support.h"
#include "tests/zip/zip_writer_support.h"
#include "zip/codec/deflate_compress.h"
#include "zip/zip_pack_pool.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using namespace vantrel::test;

// Under ThreadSanitizer everything runs several times slower: the time
// limits grow and the largest file shrinks. The tests that only need the
// workers busy while something happens to them take smaller files there
// (level 9 on eight threads of two cores took minutes).
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 20;
constexpr size_t kBusyShrink = 4;
#else
constexpr int kSlowdown = 1;
constexpr size_t kBusyShrink = 1;
#endif

std::string Words(size_t n, uint32_t seed) {
  const char* words[] = {"archive ", "entry ", "deflate ", "window ", "header ", "\n", "pool "};
  std::mt19937 gen(seed);
  std::string text;
  while (text.size() < n) text += words[gen() % 7];
  text.resize(n);
  return text;
}

// What a run did, as its events tell it, in their order.
struct TRunLog {
  std::vector<std::string> events;
  int lastPercent = -1;
  bool percentsInRange = true;
  size_t mostThreads = 0;  // threads of the process seen at the end of an entry
};

size_t ThreadsOfThisProcess() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

void Record(TZipWriter& w, TRunLog& log) {
  w.OnStartZip = [&](TZipWriter*, const std::string& f, TZipHeaderInfo&, bool&) {
    log.events.push_back("start " + f);
  };
  w.OnEndZip = [&](TZipWriter*, const std::string& f, int64_t u, int64_t c, int64_t pos) {
    log.events.push_back("end " + f + " " + std::to_string(u) + " " + std::to_string(c) + " " +
                         std::to_string(pos));
    log.mostThreads = std::max(log.mostThreads, ThreadsOfThisProcess());
  };
  w.OnFileChanged = [&](TZipWriter*, const std::string& f, const std::string& what) {
    log.events.push_back("changed " + f + ": " + what);
  };
  w.OnSkippingFile = [&](TZipReader*, TSkipReason r, const std::string& f, int, bool&) {
    log.events.push_back("skip " + std::to_string(r) + " " + f);
  };
  w.OnTotalPercentDone = [&](TZipReader*, int p) {
    if (p < 0 || p > 100) log.percentsInRange = false;
    log.lastPercent = p;
  };
}

// A tree to pack and what to do to it once the list is made.
struct TTreeCase {
  const char* name;
  std::function<void(const std::string& src)> make;
  std::function<void(const std::string& src)> afterListing;  // may be empty
  int level = 6;
  size_t entries;  // entries the archive must hold
};

const TTreeCase kTrees[] = {
    {"mixed files and directories",
     [](const std::string& s) {
       Put(s + "/text.txt", Words(300000, 1));
       Put(s + "/random.bin", RandomBytes(150000, 2));  // stored: does not shrink
       Put(s + "/zeros.dat", std::string(200000, '\0'));
       Put(s + "/empty.dat", "");
       for (int i = 0; i < 40; ++i)
         Put(s + "/many/f" + std::to_string(i) + ".txt", Words(static_cast<size_t>(i) * 97, 10 + i));
       fs::create_directories(s + "/emptydir");
     },
     nullptr, 6, 4 + 40 + 2},
    {"empty files only",
     [](const std::string& s) {
       for (int i = 0; i < 12; ++i) Put(s + "/e" + std::to_string(i), "");
     },
     nullptr, 6, 12},
    {"a file vanishes after the list is made",
     [](const std::string& s) {
       for (int i = 0; i < 6; ++i) Put(s + "/v" + std::to_string(i) + ".txt", Words(50000, 20 + i));
     },
     [](const std::string& s) { fs::remove(s + "/v2.txt"); }, 6, 5},
    {"a file larger than a job's memory, between small ones",
     [](const std::string& s) {
       Put(s + "/a.txt", Words(1000, 3));
       Put(s + "/b-large.txt", Words(9 << 20, 4));
       Put(s + "/c-random.bin", RandomBytes(5 << 20, 5));  // read twice: stored after all
       Put(s + "/d.txt", Words(1000, 6));
     },
     nullptr, 1, 4},
    {"stored, level 0",
     [](const std::string& s) {
       Put(s + "/a.txt", Words(100000, 7));
       Put(s + "/b.bin", RandomBytes(70000, 8));
       Put(s + "/c.dat", "");
     },
     nullptr, 0, 3},
    {"level 9",
     [](const std::string& s) {
       Put(s + "/a.txt", Words(400000, 9));
       Put(s + "/b.txt", Words(3000, 11));
     },
     nullptr, 9, 2},
    {"a large sparse file",
     [](const std::string& s) {
       const std::string f = s + "/sparse.img";
       Put(f, "");
       fs::resize_file(f, (96ull << 20) / kSlowdown);
       std::FILE* out = std::fopen(f.c_str(), "r+b");
       for (long at : {0L, (40L << 20) / kSlowdown, (96L << 20) / kSlowdown - 10}) {
         std::fseek(out, at, SEEK_SET);
         std::fputs("data in a hole", out);
       }
       std::fclose(out);
       SetMTime(f, 1700000000);
       Put(s + "/small.txt", Words(5000, 12));
     },
     nullptr, 1, 2},
};

// Everything under src, sorted (directories end in "/"), so that the list
// does not depend on the order the directory gives.
std::vector<std::string> SortedTree(const std::string& src) {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(src))
    files.push_back(e.path().string() + (e.is_directory() && !e.is_symlink() ? "/" : ""));
  std::sort(files.begin(), files.end());
  return files;
}

// Packs src into zip with `threads`; returns the archive's bytes.
std::string Pack(const std::string& zip, const std::string& src, int threads, const TTreeCase& c,
                 TRunLog& log) {
  fs::remove(zip);
  TZipWriter w;
  w.SetZipName(zip);
  w.SetRootDir(src);
  w.SetRelativePaths(true);
  w.PackLevel = c.level;
  w.Threads = threads;
  for (const std::string& f : SortedTree(src)) w.AddFile(f);
  Record(w, log);
  if (c.afterListing)
    w.OnStartZipInfo = [&](TZipWriter*, int, int64_t, TEndCentral&, bool&) { c.afterListing(src); };
  w.Zip();
  return ReadFile(zip);
}

TEST(ParallelPack, SameBytesAndEventsAtEveryThreadCount) {
  for (const TTreeCase& c : kTrees) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string src = dir / "src";
    fs::create_directories(src);
    c.make(src);
    // A tree the run changes is made again for every run.
    TRunLog one;
    const std::string single = Pack(dir / "1.zip", src, 1, c, one);
    ASSERT_EQ(ParseArchive(dir / "1.zip").entries.size(), c.entries);
    // Files of no bytes report no progress.
    uintmax_t bytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(src))
      if (e.is_regular_file()) bytes += e.file_size();
    EXPECT_EQ(one.lastPercent, bytes ? 100 : -1);
    for (int threads : {2, 3, 8}) {
      SCOPED_TRACE(threads);
      if (c.afterListing) c.make(src);
      TRunLog log;
      const std::string bytes = Pack(dir / "n.zip", src, threads, c, log);
      EXPECT_TRUE(bytes == single) << "archives differ: " << bytes.size() << " vs " << single.size();
      EXPECT_EQ(log.events, one.events);
      EXPECT_GT(log.mostThreads, one.mostThreads) << "the workers ran";
      EXPECT_EQ(log.lastPercent, one.lastPercent);
      EXPECT_TRUE(log.percentsInRange);
    }
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"1.zip", "n.zip", "src"}))
        << "no scratch or temporary file is left";
  }
}

// A file that says it is empty but reads as bytes (as a file that grows
// while it is read does): the entry holds what was read, the change is
// reported at its place, at every thread count.
TEST(ParallelPack, FileGrowingWhileReadIsStoredAsReadAtItsPlace) {
  const char* grows = "/proc/sys/kernel/ostype";
  struct stat st;
  if (::stat(grows, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0)
    GTEST_SKIP() << grows << " is not an empty-looking file here";
  TempDir dir;
  const std::string src = dir / "src";
  Put(src + "/a.txt", Words(80000, 1));
  ASSERT_EQ(::symlink(grows, (src + "/b-grows").c_str()), 0);
  Put(src + "/c.txt", Words(80000, 2));
  const TTreeCase c{"grows", nullptr, nullptr, 6, 3};
  TRunLog one;
  const std::string single = Pack(dir / "1.zip", src, 1, c, one);
  const auto entries = ParseArchive(dir / "1.zip").entries;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].name, "b-grows");
  EXPECT_GT(entries[1].usize, 0u);
  ASSERT_EQ(std::count_if(one.events.begin(), one.events.end(),
                          [](const std::string& e) { return e.rfind("changed ", 0) == 0; }),
            1);
  for (int threads : {2, 3, 8}) {
    SCOPED_TRACE(threads);
    TRunLog log;
    EXPECT_TRUE(Pack(dir / "n.zip", src, threads, c, log) == single);
    EXPECT_EQ(log.events, one.events);
  }
}

// Large files that keep the workers busy.
struct TBusyTree {
  TempDir dir;
  std::string src = dir / "src";
  std::string zip = dir / "out.zip";
  std::string temp = dir / "temp";
  std::string before;
  explicit TBusyTree(size_t fileBytes = 3 << 20) {
    fs::create_directories(temp);
    Put(src + "/old.txt", "the old archive");
    TZipWriter w;
    w.SetZipName(zip);
    w.SetRootDir(src);
    w.SetRelativePaths(true);
    w.AddFile(src + "/old.txt");
    w.Zip();
    before = ReadFile(zip);
    for (int i = 0; i < 6; ++i) {
      files.push_back(src + "/big" + std::to_string(i) + ".txt");
      Put(files.back(), Words(fileBytes, 30 + i));
    }
  }
  std::vector<std::string> files;  // in the order they are listed
  void Configure(TZipWriter& w, int threads) {
    w.SetZipName(zip);
    w.SetRootDir(src);
    w.SetRelativePaths(true);
    w.PackLevel = 9;
    w.Threads = threads;
    w.TempPath = temp;
    for (const std::string& f : files) w.AddFile(f);
  }
};

TEST(ParallelPack, CancelWhileWorkersRunStopsPromptlyAndKeepsTheOldArchive) {
  for (int threads : {2, 3, 8}) {
    SCOPED_TRACE(threads);
    TBusyTree t((3 << 20) / kBusyShrink);
    TZipWriter w;
    t.Configure(w, threads);
    std::chrono::steady_clock::time_point asked;
    w.OnTotalPercentDone = [&](TZipReader*, int p) {
      if (p >= 5 && !w.CancelOperation && asked == std::chrono::steady_clock::time_point{}) {
        asked = std::chrono::steady_clock::now();
        w.CancelOperation = true;
      }
    };
    EXPECT_THROW(w.Zip(), EUserCanceled);
    const auto took = std::chrono::steady_clock::now() - asked;
    ASSERT_NE(asked, std::chrono::steady_clock::time_point{});
    // 100 ms on an idle machine; the margin is for a loaded one.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000 * kSlowdown);
    EXPECT_EQ(ReadFile(t.zip), t.before);
    EXPECT_TRUE(FilesIn(t.temp).empty());
    EXPECT_EQ(FilesIn(t.dir.path()), (std::vector<std::string>{"out.zip", "src", "temp"}));
  }
}

TEST(ParallelPack, FailuresWhileWorkersRunLeaveTheOldArchiveByteForByte) {
  struct TFailure {
    const char* name;
    std::function<void(TBusyTree&)> prepare;
    std::function<void(TBusyTree&, int threads)> run;  // must throw, or fail in a child
  };
  const TFailure failures[] = {
      {"a file that cannot be read, among large ones",
       [](TBusyTree& t) {
         // Reading /proc/self/mem at offset 0 fails with an I/O error.
         ASSERT_EQ(::symlink("/proc/self/mem", (t.src + "/big2b-unreadable").c_str()), 0);
         t.files.insert(t.files.begin() + 3, t.src + "/big2b-unreadable");
       },
       [](TBusyTree& t, int threads) {
         TZipWriter w;
         t.Configure(w, threads);
         w.PackLevel = 1;
         std::vector<std::string> ended;
         w.OnEndZip = [&](TZipWriter*, const std::string& f, int64_t, int64_t, int64_t) {
           ended.push_back(fs::path(f).filename().string());
         };
         try {
           w.Zip();
           ADD_FAILURE() << "no error";
         } catch (const EZipError& e) {
           EXPECT_NE(std::string(e.what()).find("Cannot read \"" + t.src + "/big2b-unreadable\""),
                     std::string::npos)
               << e.what();
         }
         // The error comes at the file's place: the files before it were written.
         EXPECT_EQ(ended, (std::vector<std::string>{"big0.txt", "big1.txt", "big2.txt"}));
       }},
      {"the disk fills up",
       [](TBusyTree&) {},
       [](TBusyTree& t, int threads) {
         const int status = RunWithFileSizeLimit(1 << 20, [&] {
           TZipWriter w;
           t.Configure(w, threads);
           w.PackLevel = 1;
           w.Zip();
         });
         EXPECT_EQ(status, 1) << "ENotEnoughRoom";
       }},
  };
  for (const TFailure& f : failures) {
    SCOPED_TRACE(f.name);
    for (int threads : {1, 2, 8}) {
      SCOPED_TRACE(threads);
      TBusyTree t;
      f.prepare(t);
      f.run(t, threads);
      EXPECT_EQ(ReadFile(t.zip), t.before);
      EXPECT_TRUE(FilesIn(t.temp).empty());
      EXPECT_EQ(FilesIn(t.dir.path()), (std::vector<std::string>{"out.zip", "src", "temp"}));
    }
  }
}

// ------------------------------------------------------------ the pool itself

// A memory sink for the reference compressor.
class TStringSink final : public TDeflateSink {
 public:
  void Write(const uint8_t* data, size_t n) override { out.append(reinterpret_cast<const char*>(data), n); }
  std::string out;
};

// What one compressor makes of a file alone.
std::string Reference(const std::string& data, int level, TDeflateResult& r) {
  TDeflateCompressor c;
  TMemoryDeflateSource in(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  TStringSink sink;
  r = c.Deflate(level, in, sink);
  return sink.out;
}

TEST(PackPool, OutputThatSpillsComesBackInOrderAndLeavesNoScratchFile) {
  TempDir dir;
  const std::string scratch = dir / "scratch";
  fs::create_directories(scratch);
  const std::vector<std::string> contents = {Words(700000, 1), RandomBytes(300000, 2), "",
                                             Words(50, 3), std::string(2000000, 'z')};
  std::vector<TPackRequest> requests;
  for (size_t i = 0; i < contents.size(); ++i) {
    const std::string f = dir / ("f" + std::to_string(i));
    WriteFile(f, contents[i]);
    requests.push_back({i * 2, f, i == 3});
  }
  // Memory for one job, and for all together: every file spills, some do,
  // only those past the head do, none does.
  const std::pair<size_t, size_t> limits[] = {
      {1, size_t{1} << 30}, {4096, size_t{1} << 30}, {size_t{1} << 30, 1}, {size_t{1} << 30, size_t{1} << 30}};
  for (const auto& [perJob, total] : limits) {
    SCOPED_TRACE(std::to_string(perJob) + " per job, " + std::to_string(total) + " in all");
    TPackOptions options;
    options.threads = 3;
    options.writerWorks = false;  // the workers' output, through memory and scratch files
    options.level = 6;
    options.window = 4;
    options.memoryPerJob = perJob;
    options.memoryTotal = total;
    options.scratchDirectory = scratch;
    TPackPool pool(requests, options);
    for (size_t i = 0; i < contents.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_TRUE(pool.IsHead(i * 2));
      EXPECT_FALSE(pool.IsHead(i * 2 + 2));
      struct stat st;
      ASSERT_EQ(pool.WaitOpened(st, [] {}), TPackOpen::Opened);
      EXPECT_EQ(st.st_size, static_cast<off_t>(contents[i].size()));
      std::string out;
      int64_t lastProgress = -1;
      const TPackResult r = pool.Drain(
          [&](const uint8_t* d, size_t n) { out.append(reinterpret_cast<const char*>(d), n); },
          [&](int64_t read) { lastProgress = read; }, [] {});
      EXPECT_EQ(r.read, static_cast<int64_t>(contents[i].size()));
      EXPECT_EQ(lastProgress, r.read ? r.read : -1) << "progress only for bytes read";
      if (requests[i].store) {
        EXPECT_EQ(r.deflate.CompressionMethod, 0);
        EXPECT_TRUE(out == contents[i]);
      } else {
        TDeflateResult ref;
        EXPECT_TRUE(out == Reference(contents[i], 6, ref));
        EXPECT_EQ(r.deflate.CompressionMethod, ref.CompressionMethod);
        EXPECT_EQ(r.deflate.CompressedSize, out.size());
      }
      pool.PopHead();
      EXPECT_TRUE(FilesIn(scratch).empty()) << "scratch files are unnamed";
    }
  }
}

// Files waiting behind the head keep at most memoryTotal in memory however
// many the window holds; the rest waits in scratch files. Nothing is drained
// until every job has ended, so what is held then is the most it ever was.
TEST(PackPool, OutputWaitingBehindTheHeadStaysWithinTheMemoryLimit) {
  TempDir dir;
  std::vector<TPackRequest> requests;
  std::vector<std::string> contents;
  for (size_t i = 0; i < 8; ++i) {
    contents.push_back(RandomBytes(200000, static_cast<uint32_t>(i)));  // output as large as input
    WriteFile(dir / ("f" + std::to_string(i)), contents.back());
    requests.push_back({i, dir / ("f" + std::to_string(i)), true});
  }
  std::mutex mutex;
  std::condition_variable ended;
  std::vector<size_t> endedLines;
  TPackOptions options;
  options.threads = 4;
  options.writerWorks = false;  // the writer sleeps below; the workers fill the window
  options.window = 8;
  options.memoryPerJob = 1 << 20;
  options.memoryTotal = 300000;
  options.scratchDirectory = dir.path();
  options.jobEnded = [&](size_t line) {
    std::lock_guard lock(mutex);
    endedLines.push_back(line);
    ended.notify_all();
  };
  TPackPool pool(requests, options);
  {
    std::unique_lock lock(mutex);
    // The time is only a guard against a hang: every job ends without the writer.
    ASSERT_TRUE(ended.wait_for(lock, std::chrono::minutes(2), [&] { return endedLines.size() == 8; }));
    std::sort(endedLines.begin(), endedLines.end());
    EXPECT_EQ(endedLines, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  }
  const size_t held = pool.MemoryHeld();
  // A stored file goes in reads of 32 KB: the jobs behind the head stop
  // short of the limit by less than one read, and only the head's 200,000
  // bytes go past it.
  EXPECT_GT(held, options.memoryTotal - 32768) << "output is held in memory up to the limit";
  EXPECT_LE(held, options.memoryTotal + 200000) << "only the head goes beyond the limit";
  for (size_t i = 0; i < contents.size(); ++i) {
    struct stat st;
    ASSERT_EQ(pool.WaitOpened(st, [] {}), TPackOpen::Opened);
    std::string out;
    pool.Drain([&](const uint8_t* d, size_t n) { out.append(reinterpret_cast<const char*>(d), n); },
               [](int64_t) {}, [] {});
    EXPECT_TRUE(out == contents[i]) << i;
    pool.PopHead();
  }
  EXPECT_EQ(pool.MemoryHeld(), 0u);
}

// A file packed whole while the writer was at the one before comes back
// from its scratch file a megabyte at a time; the writer's events (a cancel)
// run between those pieces, not only once all of it is written.
TEST(PackPool, EventsRunWhileASpilledOutputIsWritten) {
  TempDir dir;
  const size_t size = 16u << 20;
  WriteFile(dir / "f0", "first");
  WriteFile(dir / "f1", RandomBytes(size, 5));
  std::mutex mutex;
  std::condition_variable ended;
  size_t endedJobs = 0;
  TPackOptions options;
  options.threads = 2;
  options.writerWorks = false;
  options.memoryPerJob = 65536;  // the second file's output goes to its scratch file
  options.memoryTotal = 65536;
  options.scratchDirectory = dir.path();
  options.jobEnded = [&](size_t) {
    std::lock_guard lock(mutex);
    ++endedJobs;
    ended.notify_all();
  };
  TPackPool pool({{0, dir / "f0", true}, {1, dir / "f1", true}}, options);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ended.wait_for(lock, std::chrono::minutes(2), [&] { return endedJobs == 2; }));
  }
  struct stat st;
  ASSERT_EQ(pool.WaitOpened(st, [] {}), TPackOpen::Opened);
  pool.Drain([](const uint8_t*, size_t) {}, [](int64_t) {}, [] {});
  pool.PopHead();
  ASSERT_EQ(pool.WaitOpened(st, [] {}), TPackOpen::Opened);
  struct TCancel {};
  size_t written = 0;
  // A slow disk: each piece written takes 10 ms, so the events are due
  // after two or three of the sixteen.
  EXPECT_THROW(pool.Drain(
                   [&](const uint8_t*, size_t n) {
                     written += n;
                     std::this_thread::sleep_for(std::chrono::milliseconds(10));
                   },
                   [](int64_t) {}, [] { throw TCancel{}; }),
               TCancel);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, size / 2);
}

TEST(PackPool, WhatAWorkerCannotOpenIsLeftToTheWriter) {
  TempDir dir;
  WriteFile(dir / "self", "the output");
  WriteFile(dir / "plain", "plain");
  fs::create_directories(dir / "adir");
  ASSERT_EQ(::symlink("plain", (dir / "link").c_str()), 0);
  struct stat self;
  ASSERT_EQ(::stat((dir / "self").c_str(), &self), 0);
  const struct {
    const char* file;
    bool storeLinks;
    TPackOpen expected;
  } cases[] = {
      {"missing", false, TPackOpen::Elsewhere}, {"adir", false, TPackOpen::Elsewhere},
      {"link", true, TPackOpen::Elsewhere},     {"link", false, TPackOpen::Opened},
      {"self", false, TPackOpen::Refused},      {"plain", false, TPackOpen::Opened},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.storeLinks ? " storing links" : ""));
    TPackOptions options;
    options.threads = 2;
    options.writerWorks = false;  // what a worker makes of the file
    options.storeLinks = c.storeLinks;
    options.scratchDirectory = dir.path();
    options.refused.emplace_back(self.st_dev, self.st_ino);
    TPackPool pool({{0, dir / c.file, false}, {1, dir / "plain", false}}, options);
    struct stat st;
    EXPECT_EQ(pool.WaitOpened(st, [] {}), c.expected);
    pool.PopHead();
    ASSERT_TRUE(pool.IsHead(1));
    EXPECT_EQ(pool.WaitOpened(st, [] {}), TPackOpen::Opened);
  }
}

TEST(PackPool, DestroyedWhileWorkersRunStopsThem) {
  TempDir dir;
  std::vector<TPackRequest> requests;
  for (size_t i = 0; i < 4; ++i) {
    WriteFile(dir / ("f" + std::to_string(i)), Words((8 << 20) / kBusyShrink, static_cast<uint32_t>(i)));
    requests.push_back({i, dir / ("f" + std::to_string(i)), false});
  }
  TPackOptions options;
  options.threads = 4;
  options.writerWorks = false;  // the head is a worker's
  options.level = 9;
  options.scratchDirectory = dir.path();
  auto pool = std::make_unique<TPackPool>(requests, options);
  struct stat st;
  ASSERT_EQ(pool->WaitOpened(st, [] {}), TPackOpen::Opened);
  const auto start = std::chrono::steady_clock::now();
  pool.reset();
  const auto took = std::chrono::steady_clock::now() - start;
  // Each worker stops at its next read of at most 64 KB.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000 * kSlowdown);
}

// Waits (at most a few seconds) until a worker has output for the head.
void WaitForOutput(const TPackPool& pool) {
  for (int i = 0; i < 500 * kSlowdown && pool.MemoryHeld() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Two threads: one worker on a large head; the writer, waiting for its first
// block, packs every small file behind it meanwhile, and their output still
// comes in order once the head is dropped.
TEST(PackPool, TheWriterPacksSmallFilesBehindALargeHead) {
  TempDir dir;
  // The head: a sparse file of zeros, whose first block of output comes only
  // after 256 MB, long after the small files are packed.
  const std::string head = dir / "head";
  WriteFile(head, "");
  fs::resize_file(head, 1ull << 30);
  std::vector<TPackRequest> requests = {{0, head, false, 1ull << 30}};
  std::vector<std::string> contents;
  for (uint32_t i = 0; i < 12; ++i) contents.push_back(Words(3000 + 700 * i, 41 + i));
  contents.push_back(RandomBytes(40000, 60));  // stored after all
  for (size_t i = 0; i < contents.size(); ++i) {
    const std::string f = dir / ("f" + std::to_string(i));
    WriteFile(f, contents[i]);
    requests.push_back({i + 1, f, false, contents[i].size()});
  }
  TPackOptions options;
  options.threads = 2;
  options.level = 6;
  options.scratchDirectory = dir.path();
  TPackPool pool(requests, options);
  WaitForOutput(pool);  // the worker is at the head
  struct stat st;
  ASSERT_EQ(pool.WaitOpened(st, [] {}), TPackOpen::Opened);
  EXPECT_EQ(pool.RunByWriter(), contents.size()) << "the writer packed them all while it waited";
  pool.PopHead();
  for (size_t i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(pool.IsHead(i + 1));
    ASSERT_EQ(pool.WaitOpened(st, [] {}), TPackOpen::Opened);
    std::string out;
    const TPackResult r = pool.Drain(
        [&](const uint8_t* d, size_t n) { out.append(reinterpret_cast<const char*>(d), n); },
        [](int64_t) {}, [] {});
    TDeflateResult ref;
    EXPECT_TRUE(out == Reference(contents[i], 6, ref));
    EXPECT_EQ(r.deflate.CompressionMethod, ref.CompressionMethod);
    EXPECT_EQ(r.read, static_cast<int64_t>(contents[i].size()));
    pool.PopHead();
  }
}

// What the writer's events throw while it packs a file itself (a cancel)
// comes out of the wait within about one poll, not at the end of the file.
TEST(PackPool, ACancelWhileTheWriterPacksAFileStopsIt) {
  TempDir dir;
  // The head: zeros, whose first block of output comes only after 256 MB;
  // then random bytes, slow to pack at level 9.
  const std::string head = dir / "f0", second = dir / "f1";
  WriteFile(head, "");
  fs::resize_file(head, 1ull << 30);
  WriteFile(second, RandomBytes(15 << 20, 71));
  const std::vector<TPackRequest> requests = {{0, head, false, 1ull << 30},
                                              {1, second, false, 15u << 20}};
  TPackOptions options;
  options.threads = 2;
  options.level = 9;
  options.scratchDirectory = dir.path();
  auto pool = std::make_unique<TPackPool>(requests, options);
  WaitForOutput(*pool);  // the worker is at the head
  struct TCancel {};
  int polls = 0;
  const auto start = std::chrono::steady_clock::now();
  // While the head has no block ready the writer packs the second file,
  // until the second call of its events, which cancels.
  struct stat st;
  EXPECT_THROW(pool->WaitOpened(st,
                                [&] {
                                  if (++polls == 2) throw TCancel{};
                                }),
               TCancel);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(pool->RunByWriter(), 1u);
  // Packing the second file at level 9 takes seconds.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 500 * kSlowdown);
  pool.reset();
}

}  // namespace
}  // namespace vantrel::zip
