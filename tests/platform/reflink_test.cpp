// Copies on a file system that shares blocks between files (btrfs, XFS): a
// large file's copy shares every extent with its source and reads none of
// its data; a clone stopped part of the way leaves nothing under the name.
// These tests run in the directory VANTREL_REFLINK_DIR names (bench/
// copy_reflink.sh makes such a file system on a loop device and sets it), or
// else in the temporary directory, and skip where blocks cannot be shared.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/copyfile.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::TempDir;

// A directory made for one test under `base`, removed with its files.
class WorkDir {
 public:
  explicit WorkDir(const std::string& base) : path_(base + "/reflink-test-XXXXXX") {
    if (::mkdtemp(path_.data()) == nullptr) path_.clear();
  }
  ~WorkDir() {
    if (!path_.empty()) test::RunCommand("rm -rf '" + path_ + "'");
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReflinkBase(const TempDir& fallback) {
  const char* dir = std::getenv("VANTREL_REFLINK_DIR");
  return dir != nullptr && *dir != '\0' ? dir : fallback.path();
}

// Whether the file system of `dir` shares blocks, asked of the kernel with a
// clone of a small file.
bool SharesBlocks(const std::string& dir) {
  const std::string a = dir + "/probe-a", b = dir + "/probe-b";
  test::WriteFile(a, std::string(64 * 1024, 'p'));
  const int in = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(b.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool shares = in >= 0 && out >= 0 && ::ioctl(out, FICLONE, in) == 0;
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  ::unlink(a.c_str());
  ::unlink(b.c_str());
  return shares;
}

#define NEED_SHARED_BLOCKS(dir)                                                        \
  if (!SharesBlocks(dir))                                                              \
  GTEST_SKIP() << "no shared blocks on the file system of " << (dir)                   \
               << " (VANTREL_REFLINK_DIR may name a btrfs or XFS directory)"

// The extents of a file as the kernel maps them (FIEMAP, what filefrag shows),
// and how many of them are shared with another file.
struct Extents {
  int count = 0;
  int shared = 0;
};
Extents ExtentsOf(const std::string& path) {
  Extents result;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return result;
  constexpr unsigned kBatch = 128;
  std::unique_ptr<char[]> buffer(new char[sizeof(fiemap) + kBatch * sizeof(fiemap_extent)]());
  auto* map = reinterpret_cast<fiemap*>(buffer.get());
  uint64_t start = 0;
  for (bool last = false; !last;) {
    std::memset(buffer.get(), 0, sizeof(fiemap) + kBatch * sizeof(fiemap_extent));
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kBatch;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) break;
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
      const fiemap_extent& e = map->fm_extents[i];
      ++result.count;
      if (e.fe_flags & FIEMAP_EXTENT_SHARED) ++result.shared;
      last = (e.fe_flags & FIEMAP_EXTENT_LAST) != 0;
      start = e.fe_logical + e.fe_length;
    }
  }
  ::close(fd);
  return result;
}

// Pages of the file at `path` in the page cache.
size_t CachedPages(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size == 0) {
    if (fd >= 0) ::close(fd);
    return 0;
  }
  void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) return 0;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((static_cast<size_t>(st.st_size) + page - 1) / page);
  size_t cached = 0;
  if (::mincore(map, static_cast<size_t>(st.st_size), resident.data()) == 0)
    for (unsigned char r : resident) cached += r & 1;
  ::munmap(map, static_cast<size_t>(st.st_size));
  return cached;
}

// Puts the file out of the page cache; false when the file system keeps it.
bool Evict(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::fdatasync(fd);  // only clean pages can be dropped
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
  return CachedPages(path) == 0;
}

// Bytes that do not repeat, so that a block out of place shows.
std::string Pattern(size_t size, uint64_t seed) {
  std::string data(size, '\0');
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    data[i] = static_cast<char>(x);
  }
  return data;
}

// A file of `size` bytes: holes with `regions` (offset, bytes) of data.
struct Region {
  uint64_t offset;
  std::string bytes;
};
void MakeFile(const std::string& path, uint64_t size, const std::vector<Region>& regions) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  ASSERT_GE(fd, 0) << path;
  for (const Region& r : regions)
    ASSERT_EQ(::pwrite(fd, r.bytes.data(), r.bytes.size(), static_cast<off_t>(r.offset)),
              static_cast<ssize_t>(r.bytes.size()));
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  ::close(fd);
}

std::string ReadAt(const std::string& path, uint64_t offset, size_t bytes) {
  std::string data(bytes, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd < 0 ? -1 : ::pread(fd, data.data(), bytes, static_cast<off_t>(offset));
  if (fd >= 0) ::close(fd);
  data.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return data;
}

uint64_t SizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Entries of `dir` other than the ones named.
std::vector<std::string> Others(const std::string& dir, const std::vector<std::string>& known) {
  std::vector<std::string> others;
  ListDirectory(dir, [&](const char* name, const EntryInfo&) {
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  });
  return others;
}

constexpr uint64_t kGiB = 1ull << 30;

struct CloneCase {
  const char* name;
  uint64_t size;
  std::vector<Region> regions;
  bool replacing;  // an older file is at the destination
};

// Large files copy whole and share every extent with their source, new or
// replacing, a tail that ends inside a block, and a sparse file longer than
// one clone step with data across the step's boundary and at its end; the
// source's data is not read; the progress climbs to the size.
TEST(Reflink, LargeCopiesShareEveryExtent) {
  TempDir temp;
  const std::string base = ReflinkBase(temp);
  NEED_SHARED_BLOCKS(base);
  const std::vector<CloneCase> cases = {
      {"5 MiB and a tail", (5 << 20) + 1234, {{0, Pattern((5 << 20) + 1234, 1)}}, false},
      {"3 MiB over an older file", 3 << 20, {{0, Pattern(3 << 20, 2)}}, true},
      {"sparse, two clone steps",
       2 * kGiB + 8192,
       {{0, Pattern(1 << 20, 3)}, {kGiB - 4096, Pattern(8192, 4)}, {2 * kGiB + 4096, Pattern(4096, 5)}},
       false},
  };
  for (const CloneCase& c : cases) {
    SCOPED_TRACE(c.name);
    WorkDir dir(base);
    ASSERT_FALSE(dir.path().empty());
    const std::string source = dir.path() + "/source", dest = dir.path() + "/copy";
    MakeFile(source, c.size, c.regions);
    if (c.replacing) test::WriteFile(dest, "older");
    const bool evicted = Evict(source);

    uint64_t last = 0;
    bool climbing = true;
    const CopyResult result = CopyRegularFile(source, dest, c.replacing, [&](uint64_t done) {
      climbing = climbing && done > last;
      last = done;
      return true;
    });
    ASSERT_EQ(result.status, CopyStatus::Done) << std::strerror(result.error);
    EXPECT_TRUE(climbing);
    EXPECT_EQ(last, c.size);
    EXPECT_EQ(SizeOf(dest), c.size);
    for (const Region& r : c.regions)
      EXPECT_TRUE(ReadAt(dest, r.offset, r.bytes.size()) == r.bytes) << "data at " << r.offset;
    const Extents extents = ExtentsOf(dest);
    EXPECT_GT(extents.count, 0);
    EXPECT_EQ(extents.shared, extents.count);
    if (evicted) {
      EXPECT_EQ(CachedPages(source), 0u) << "the copy read the source's data";
    }
    EXPECT_TRUE(Others(dir.path(), {"source", "copy"}).empty());
  }
}

// Stopped after the first clone step, the copy leaves no file under the
// name, no hidden file, and an older destination as it was.
TEST(Reflink, StoppedCloneLeavesNothing) {
  TempDir temp;
  const std::string base = ReflinkBase(temp);
  NEED_SHARED_BLOCKS(base);
  for (const bool replacing : {false, true}) {
    SCOPED_TRACE(replacing ? "replacing" : "new");
    WorkDir dir(base);
    const std::string source = dir.path() + "/source", dest = dir.path() + "/copy";
    MakeFile(source, 3 * kGiB, {{0, Pattern(4096, 6)}, {2 * kGiB, Pattern(4096, 7)}});
    if (replacing) test::WriteFile(dest, "older");
    int calls = 0;
    const CopyResult result = CopyRegularFile(source, dest, replacing, [&](uint64_t) { return ++calls < 2; });
    EXPECT_EQ(result.status, CopyStatus::Stopped);
    EXPECT_EQ(calls, 2);
    if (replacing) {
      EXPECT_EQ(test::ReadFile(dest), "older");
    } else {
      EXPECT_NE(::access(dest.c_str(), F_OK), 0);
    }
    EXPECT_TRUE(Others(dir.path(), {"source", "copy"}).empty());
  }
}

// A source on another file system cannot be shared: the copy falls back to
// copying and is exact.
TEST(Reflink, OtherFileSystemIsCopied) {
  TempDir temp;
  const std::string base = ReflinkBase(temp);
  NEED_SHARED_BLOCKS(base);
  struct stat a, b;
  ASSERT_EQ(::stat(temp.path().c_str(), &a), 0);
  ASSERT_EQ(::stat(base.c_str(), &b), 0);
  if (a.st_dev == b.st_dev) GTEST_SKIP() << "the temporary directory is on the same file system";
  WorkDir dir(base);
  const std::string source = temp.path() + "/source", dest = dir.path() + "/copy";
  const std::string data = Pattern((3 << 20) + 77, 8);
  test::WriteFile(source, data);
  const CopyResult result = CopyRegularFile(source, dest, false, {});
  ASSERT_EQ(result.status, CopyStatus::Done) << std::strerror(result.error);
  EXPECT_TRUE(test::ReadFile(dest) == data);
  EXPECT_EQ(ExtentsOf(dest).shared, 0);
}

}  // namespace
}  // namespace vantrel::platform
