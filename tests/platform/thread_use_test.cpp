// What a thread uses: the processor count follows the affinity the program
// runs with, and a thread's time and storage reads count that thread's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/residency.h"
#include "platform/thread_use.h"
#include "tests/support/test_support.h"

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;

TEST(ThreadUse, CountFollowsTheAffinity) {
  cpu_set_t all;
  CPU_ZERO(&all);
  ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
  EXPECT_EQ(ProcessorCount(), static_cast<unsigned>(CPU_COUNT(&all)));
  int first = 0;
  while (!CPU_ISSET(first, &all)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
  const unsigned narrowed = ProcessorCount();
  ASSERT_EQ(::sched_setaffinity(0, sizeof all, &all), 0);
  EXPECT_EQ(narrowed, 1u);
}

// One thread spins until its clock shows 30 ms while another sleeps: the
// sleeper's clock stays near nothing, so the time is the thread's own and
// not the process's.
TEST(ThreadUse, ThreadTimeCountsTheCallingThreadOnly) {
  std::atomic<bool> spun{false};
  std::chrono::nanoseconds spinner{}, sleeper{};
  std::thread sleeping([&] {
    const auto before = ThreadProcessorTime();
    while (!spun) std::this_thread::sleep_for(5ms);
    sleeper = ThreadProcessorTime() - before;
  });
  std::thread spinning([&] {
    const auto before = ThreadProcessorTime();
    const auto give_up = std::chrono::steady_clock::now() + 20s;
    while (ThreadProcessorTime() - before < 30ms && std::chrono::steady_clock::now() < give_up) {
    }
    spinner = ThreadProcessorTime() - before;
    spun = true;
  });
  spinning.join();
  sleeping.join();
  EXPECT_GE(spinner, 30ms);
  EXPECT_LT(sleeper, 15ms);
}

// A file whose pages were dropped, read on one thread: that thread's count
// grows by at least the file, another thread's not at all.
TEST(ThreadUse, StorageReadsCountTheCallingThreadOnly) {
  if (!ThreadStorageReads()) GTEST_SKIP() << "the kernel keeps no per-thread reads";
  test::TempDir tmp;
  const std::string file = tmp / "data";
  constexpr size_t kSize = 8 << 20;
  test::WriteFile(file, std::string(kSize, 'r'));
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  struct statfs fs {};
  const bool tmpfs = ::fstatfs(fd, &fs) == 0 && fs.f_type == 0x01021994;
  if (tmpfs || SampleResidency({file}).resident > kSize / 8) {
    ::close(fd);
    GTEST_SKIP() << "the file's pages stay in memory here: no read reaches storage";
  }
  std::atomic<bool> read{false};
  uint64_t reader = 0, idle = 0;
  std::thread idling([&] {
    const uint64_t before = ThreadStorageReads().value_or(0);
    while (!read) std::this_thread::sleep_for(5ms);
    idle = ThreadStorageReads().value_or(0) - before;
  });
  std::thread reading([&] {
    const uint64_t before = ThreadStorageReads().value_or(0);
    std::string buffer(1 << 20, '\0');
    size_t total = 0;
    for (ssize_t got; (got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(total))) > 0;)
      total += static_cast<size_t>(got);
    reader = ThreadStorageReads().value_or(0) - before;
    read = true;
  });
  reading.join();
  idling.join();
  ::close(fd);
  EXPECT_GE(reader, kSize);
  EXPECT_EQ(idle, 0u);
}

}  // namespace
}  // namespace vantrel::platform
