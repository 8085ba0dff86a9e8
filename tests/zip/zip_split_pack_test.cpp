// Packing with split deflate: one large file compressed as pieces on every
// thread. The archive is the same at every thread count, each large entry's
// data is exactly the pieces' stream, smaller files are as without the
// option, and readers inflate it; a cancel or a full disk while pieces are
// in flight leaves the old archive as it was and nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>

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

// Under ThreadSanitizer everything runs some twenty times slower: fewer
// levels and thread counts there, and the fastest level for the cancel.
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 20;
constexpr int kLevels[] = {1};
constexpr int kThreadCounts[] = {3};
constexpr int kCancelLevel = 1;
constexpr int kCancelThreads[] = {2};
#else
constexpr int kSlowdown = 1;
constexpr int kLevels[] = {1, 6};
constexpr int kThreadCounts[] = {2, 3, 8};
constexpr int kCancelLevel = 9;
constexpr int kCancelThreads[] = {2, 8};
#endif

std::string Words(size_t n, uint32_t seed) {
  const char* words[] = {"piece ", "entry ", "deflate ", "window ", "split ", "\n", "pool ", "dictionary "};
  std::mt19937 gen(seed);
  std::string text;
  while (text.size() < n) text += words[gen() % 8];
  text.resize(n);
  return text;
}

// Text, noise and runs in turns of 300 KB, so that pieces differ.
std::string Mixed(size_t n, uint32_t seed) {
  std::string data;
  for (uint32_t part = 0; data.size() < n; ++part) {
    switch (part % 3) {
      case 0: data += Words(300000, seed + part); break;
      case 1: data += RandomBytes(300000, seed + part); break;
      default: data += std::string(300000, static_cast<char>('a' + part % 26)); break;
    }
  }
  data.resize(n);
  return data;
}

class TStringSink final : public TDeflateSink {
 public:
  void Write(const uint8_t* data, size_t n) override { bytes.append(reinterpret_cast<const char*>(data), n); }
  std::string bytes;
};

// The compressed data an entry must hold: the pieces' stream for a file to
// split, the plain stream otherwise (a file that does not shrink is then
// stored, method 0).
std::string Expected(const std::string& data, int level, bool split, uint16_t& method) {
  TDeflateCompressor compressor;
  TMemoryDeflateSource source(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  TStringSink sink;
  const TDeflateResult r = split ? DeflateSplit(compressor, level, source, sink)
                                 : compressor.Deflate(level, source, sink);
  method = r.CompressionMethod;
  return sink.bytes;
}

struct TPacked {
  std::string bytes;
  std::vector<std::string> ended;  // "name size compressed" per entry, in order
};

TPacked Pack(const std::string& zip, const std::string& src, const std::vector<std::string>& names, int threads,
             int level, const std::function<void()>& afterListing = {}) {
  fs::remove(zip);
  TZipWriter w;
  w.SetZipName(zip);
  w.SetRootDir(src);
  w.SetRelativePaths(true);
  w.PackLevel = level;
  w.Threads = threads;
  w.SplitDeflate = true;
  for (const std::string& n : names) w.AddFile(src + "/" + n);
  TPacked packed;
  w.OnEndZip = [&](TZipWriter*, const std::string& f, int64_t u, int64_t c, int64_t) {
    packed.ended.push_back(fs::path(f).filename().string() + " " + std::to_string(u) + " " + std::to_string(c));
  };
  if (afterListing) w.OnStartZipInfo = [&](TZipWriter*, int, int64_t, TEndCentral&, bool&) { afterListing(); };
  w.Zip();
  packed.bytes = ReadFile(zip);
  return packed;
}

// Files on both sides of the size from which files are split, one that
// does not compress (split, it stays deflate; whole, it would be stored),
// empty and small ones between, and one that vanishes after the list is
// made: at 1, 2, 3 and 8 threads the same archive and events, every entry's
// data the expected stream, and Python's zipfile and unzip agree.
TEST(SplitPack, SameBytesAtEveryThreadCountAndEveryEntryAsExpected) {
  const size_t least = kSplitFileLeast;
  const struct {
    const char* name;
    std::string data;
  } files[] = {
      {"a-empty", ""},
      {"b-below", Words(least - 1, 1)},
      {"c-small", Words(5000, 2)},
      {"d-exactly", Mixed(least, 3)},
      {"e-noise", RandomBytes(least + 100000, 4)},
      {"f-mixed", Mixed(3 * least + 12345, 5)},
      {"g-vanishes", Words(least + 10, 6)},
      {"h-last", Words(70000, 7)},
  };
  TempDir dir;
  const std::string src = dir / "src";
  std::vector<std::string> names;
  for (const auto& f : files) {
    Put(src + "/" + f.name, f.data);
    names.push_back(f.name);
  }
  for (int level : kLevels) {
    SCOPED_TRACE("level " + std::to_string(level));
    auto vanish = [&] { fs::remove(src + "/g-vanishes"); };
    const TPacked one = Pack(dir / "1.zip", src, names, 1, level, vanish);
    const TRawArchive archive = ParseArchive(dir / "1.zip");
    ASSERT_EQ(archive.entries.size(), std::size(files) - 1);
    size_t e = 0;
    for (const auto& f : files) {
      if (std::string(f.name) == "g-vanishes") continue;
      SCOPED_TRACE(f.name);
      const TRawEntry& entry = archive.entries[e++];
      ASSERT_EQ(entry.name, f.name);
      if (f.data.empty()) continue;
      uint16_t method = 0;
      const std::string expected = Expected(f.data, level, f.data.size() >= least, method);
      EXPECT_EQ(entry.method, method);
      EXPECT_EQ(entry.csize, expected.size());
      EXPECT_TRUE(archive.bytes.compare(entry.dataOffset, entry.csize, expected) == 0) << "data differ";
    }
    EXPECT_FALSE(PythonListing(dir / "1.zip").empty()) << "Python's zipfile";
    std::string log;
    EXPECT_EQ(RunCommand("unzip -tq " + Quote(dir / "1.zip") + " 2>&1", &log), 0) << log;

    for (int threads : kThreadCounts) {
      SCOPED_TRACE(threads);
      Put(src + "/g-vanishes", files[6].data);
      const TPacked n = Pack(dir / "n.zip", src, names, threads, level, vanish);
      EXPECT_TRUE(n.bytes == one.bytes) << "archives differ: " << n.bytes.size() << " vs " << one.bytes.size();
      EXPECT_EQ(n.ended, one.ended);
    }
    Put(src + "/g-vanishes", files[6].data);
  }
  EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"1.zip", "n.zip", "src"}))
      << "no scratch or temporary file is left";
}

// A large file at level 9 (1 under the sanitizer) keeps every thread on its pieces when a cancel
// comes, or the disk fills up: the old archive stays byte for byte, nothing
// is left in the temporary directory, and the cancel is prompt.
TEST(SplitPack, CancelOrFullDiskWhilePiecesRunKeepsTheOldArchive) {
  for (int threads : kCancelThreads) {
    SCOPED_TRACE(threads);
    TempDir dir;
    const std::string src = dir / "src", zip = dir / "out.zip", temp = dir / "temp";
    fs::create_directories(temp);
    Put(src + "/old.txt", "the old archive");
    {
      TZipWriter w;
      w.SetZipName(zip);
      w.SetRootDir(src);
      w.SetRelativePaths(true);
      w.AddFile(src + "/old.txt");
      w.Zip();
    }
    const std::string before = ReadFile(zip);
    Put(src + "/large.txt", Mixed(kSplitFileLeast * 6, 9));
    auto configure = [&](TZipWriter& w) {
      w.SetZipName(zip);
      w.SetRootDir(src);
      w.SetRelativePaths(true);
      w.PackLevel = kCancelLevel;
      w.Threads = threads;
      w.SplitDeflate = true;
      w.TempPath = temp;
      w.AddFile(src + "/large.txt");
    };

    TZipWriter w;
    configure(w);
    std::chrono::steady_clock::time_point asked;
    w.OnTotalPercentDone = [&](TZipReader*, int p) {
      if (p >= 20 && asked == std::chrono::steady_clock::time_point{}) {
        asked = std::chrono::steady_clock::now();
        w.CancelOperation = true;
      }
    };
    EXPECT_THROW(w.Zip(), EUserCanceled);
    ASSERT_NE(asked, std::chrono::steady_clock::time_point{});
    const auto took = std::chrono::steady_clock::now() - asked;
    // 100 ms on an idle machine; the margin is for a loaded one.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000 * kSlowdown);
    EXPECT_EQ(ReadFile(zip), before);
    EXPECT_TRUE(FilesIn(temp).empty());

    const int status = RunWithFileSizeLimit(1 << 20, [&] {
      TZipWriter full;
      configure(full);
      full.Zip();
    });
    EXPECT_EQ(status, 1) << "ENotEnoughRoom";
    EXPECT_EQ(ReadFile(zip), before);
    EXPECT_TRUE(FilesIn(temp).empty());
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"out.zip", "src", "temp"}));
  }
}

}  // namespace
}  // namespace vantrel::zip
