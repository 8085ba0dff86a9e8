// thread_use.cpp - processor count from the affinity mask, thread time from
// the thread's own CPU clock, storage reads from the kernel's I/O accounting.
#include "platform/thread_use.h"

#include <fcntl.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

namespace vantrel::platform {

unsigned ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const unsigned known = std::thread::hardware_concurrency();
  return known > 0 ? known : 1;
}

std::chrono::nanoseconds ThreadProcessorTime() {
  timespec ts{};
  if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return {};
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

std::optional<uint64_t> ThreadStorageReads() {
  const int fd = ::open("/proc/thread-self/io", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char text[512];
  const ssize_t got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (got <= 0) return std::nullopt;
  text[got] = '\0';
  // "read_bytes: N" on a line of its own (not "rchar", which counts what
  // the page cache served too).
  static constexpr char kKey[] = "\nread_bytes: ";
  const char* at = std::strstr(text, kKey);
  if (at == nullptr) return std::nullopt;
  char* end = nullptr;
  const unsigned long long bytes = std::strtoull(at + sizeof kKey - 1, &end, 10);
  if (end == at + sizeof kKey - 1) return std::nullopt;
  return bytes;
}

}  // namespace vantrel::platform
