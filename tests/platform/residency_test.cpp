// What reading would cost: pages in memory counted for files and trees
// (links and FIFOs never followed or waited on, the budget respected), and
// the seek cost of a device from a sysfs laid out as the kernel does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <string>

#include "platform/residency.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using test::TempDir;
using test::WriteFile;

// Writes `size` bytes, flushes them to the disk and reads them back, so that
// the page cache holds them clean.
void WriteAndRead(const std::string& path, size_t size) {
  WriteFile(path, std::string(size, 'x'));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ::fsync(fd);
  std::string buffer(1 << 16, '\0');
  while (::read(fd, buffer.data(), buffer.size()) > 0) {
  }
  ::close(fd);
}

// Asks the kernel to drop a file's clean pages; whether it did is the
// caller's to check.
void DropPages(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Where the tests' files live, as a file system type; tmpfs keeps its pages
// however they are advised.
bool OnTmpfs(const std::string& path) {
  struct statfs fs {};
  return ::statfs(path.c_str(), &fs) == 0 && fs.f_type == 0x01021994;
}

TEST(Residency, AFileJustWrittenAndReadIsHeldAndDroppedPagesAreNot) {
  TempDir tmp;
  const std::string file = tmp / "data";
  const size_t size = (4 << 20) + 123;  // the last page half used
  WriteAndRead(file, size);
  Residency r = SampleResidency({file});
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.files, 1u);
  EXPECT_EQ(r.bytes, size);
  EXPECT_EQ(r.resident, size);
  if (OnTmpfs(file)) GTEST_SKIP() << "tmpfs keeps its pages: dropping them cannot be observed";
  DropPages(file);
  r = SampleResidency({file});
  EXPECT_EQ(r.bytes, size);
  EXPECT_LT(r.resident, size / 2);
}

// A tree is walked without following links; FIFOs, empty files and missing
// paths add no bytes and never block.
TEST(Residency, TreesCountTheirRegularFilesOnly) {
  TempDir tmp;
  test::MakeDir(tmp / "tree");
  test::MakeDir(tmp / "tree/sub");
  WriteAndRead(tmp / "tree/a", 10000);
  WriteAndRead(tmp / "tree/sub/b", 5000);
  WriteFile(tmp / "tree/empty", "");
  WriteAndRead(tmp / "outside", 70000);
  ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "tree/link").c_str()), 0);
  ASSERT_EQ(::symlink((tmp / "tree").c_str(), (tmp / "tree/sub/loop").c_str()), 0);
  ASSERT_EQ(::mkfifo((tmp / "tree/fifo").c_str(), 0644), 0);
  struct Case {
    std::vector<std::string> paths;
    uint64_t files, bytes;
  };
  const Case cases[] = {
      {{tmp / "tree"}, 3, 15000},
      {{tmp / "tree/sub", tmp / "tree/a"}, 2, 15000},
      {{tmp / "tree/link"}, 0, 0},  // a link given by name is not followed either
      {{tmp / "missing", tmp / "tree/fifo"}, 0, 0},
      {{}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.paths.empty() ? std::string("none") : c.paths.front());
    const Residency r = SampleResidency(c.paths);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.files, c.files);
    EXPECT_EQ(r.bytes, c.bytes);
    EXPECT_EQ(r.resident, c.bytes);
  }
}

TEST(Residency, ABudgetSpentLeavesTheSampleIncomplete) {
  TempDir tmp;
  test::MakeDir(tmp / "tree");
  for (int i = 0; i < 10; ++i) WriteFile(tmp / test::Numbered("tree/f", i), "abc");
  struct Case {
    size_t entries;
    bool complete;
  };
  // The tree itself is one entry, each file another.
  for (const Case c : {Case{11, true}, Case{10, false}, Case{1, false}}) {
    ResidencyBudget budget;
    budget.entries = c.entries;
    const Residency r = SampleResidency({tmp / "tree"}, budget);
    EXPECT_EQ(r.complete, c.complete) << c.entries;
    EXPECT_LE(r.files, c.entries);
  }
  ResidencyBudget none;
  none.time = std::chrono::milliseconds(-1);
  EXPECT_FALSE(SampleResidency({tmp / "tree"}, none).complete);
}

// A sysfs as the kernel lays it out: whole disks with a queue, partitions
// one level below their disk, devices without a queue.
TEST(SeekCost, TheRotationalFlagOfTheDiskOrItsPartitionsDisk) {
  TempDir root;
  const std::string sys = root / "sys";
  test::MakeDir(sys);
  const auto disk = [&](const std::string& name, const char* rotational) {
    test::MakeDir(sys + "/devices/" + name);
    test::MakeDir(sys + "/devices/" + name + "/queue");
    WriteFile(sys + "/devices/" + name + "/queue/rotational", rotational);
  };
  test::MakeDir(sys + "/dev");
  test::MakeDir(sys + "/dev/block");
  const auto node = [&](const char* number, const std::string& target) {
    ASSERT_EQ(::symlink(("../../devices/" + target).c_str(), (sys + "/dev/block/" + number).c_str()), 0);
  };
  disk("sda", "1\n");
  test::MakeDir(sys + "/devices/sda/sda1");
  node("8:0", "sda");
  node("8:1", "sda/sda1");
  disk("nvme0n1", "0\n");
  test::MakeDir(sys + "/devices/nvme0n1/nvme0n1p2");
  node("259:0", "nvme0n1");
  node("259:2", "nvme0n1/nvme0n1p2");
  test::MakeDir(sys + "/devices/odd");
  node("7:0", "odd");  // no queue at all
  disk("weird", "yes\n");
  node("7:1", "weird");
  struct Case {
    unsigned major, minor;
    SeekCost cost;
  };
  const Case cases[] = {
      {8, 0, SeekCost::Seeks},   {8, 1, SeekCost::Seeks},   {259, 0, SeekCost::None},
      {259, 2, SeekCost::None},  {7, 0, SeekCost::Unknown}, {7, 1, SeekCost::Unknown},
      {0, 45, SeekCost::Unknown},  // unnamed: tmpfs, NFS, btrfs
      {9, 9, SeekCost::Unknown},   // not there
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SeekCostOfDevice(makedev(c.major, c.minor), root.path()), c.cost) << c.major << ":" << c.minor;
  }
}

TEST(SeekCost, MemoryFileSystemsDoNotSeek) {
  if (!OnTmpfs("/dev/shm")) GTEST_SKIP() << "/dev/shm is no tmpfs here";
  TempDir root;  // no sysfs at all: the file system's type alone tells
  EXPECT_EQ(SeekCostOf("/dev/shm", root.path()), SeekCost::None);
}

}  // namespace
}  // namespace vantrel::platform
