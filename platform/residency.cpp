// residency.cpp - pages in memory (mincore on read-only mappings) and the
// seek cost of a device (statfs and sysfs).
#include "platform/residency.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace vantrel::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Pages are looked at through mappings of at most this much at a time, so
// that the answer vector stays small for a file of any size.
constexpr uint64_t kWindow = uint64_t{256} << 20;

int OpenForLooking(const char* path, int flags) {
  // O_NOATIME is only granted on the caller's own files.
  const int fd = ::open(path, flags | O_NOATIME);
  if (fd >= 0 || errno != EPERM) return fd;
  return ::open(path, flags);
}

// The bytes of `size` bytes of the open file `fd` that the page cache holds;
// nothing when the file cannot be mapped.
uint64_t ResidentBytes(int fd, uint64_t size, std::vector<unsigned char>& pages) {
  const auto pageSize = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  uint64_t resident = 0;
  for (uint64_t offset = 0; offset < size; offset += kWindow) {
    const uint64_t length = std::min(kWindow, size - offset);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (map == MAP_FAILED) return resident;
    const uint64_t count = (length + pageSize - 1) / pageSize;
    pages.resize(count);
    if (::mincore(map, length, pages.data()) == 0) {
      for (uint64_t i = 0; i < count; ++i) {
        if ((pages[i] & 1) == 0) continue;
        // The last page counts only the file's bytes on it.
        resident += i + 1 == count ? length - i * pageSize : pageSize;
      }
    }
    ::munmap(map, length);
  }
  return resident;
}

// One sample under way: its budget, its counts, and the page answers'
// buffer reused from file to file.
struct SampleState {
  explicit SampleState(const ResidencyBudget& b) : budget(b), end(Clock::now() + b.time) {}
  const ResidencyBudget budget;
  const Clock::time_point end;
  size_t entries = 0;
  std::vector<unsigned char> pages;
  Residency out;
};

// Counts one entry against the budget; false once it is spent.
bool Spend(SampleState& s) {
  if (++s.entries > s.budget.entries || Clock::now() > s.end) s.out.complete = false;
  return s.out.complete;
}

void SampleFile(SampleState& s, const std::string& path, uint64_t examinedSize) {
  ++s.out.files;
  const int fd = OpenForLooking(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    s.out.bytes += examinedSize;
    if (fd >= 0) ::close(fd);
    return;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  s.out.bytes += size;
  s.out.resident += ResidentBytes(fd, size, s.pages);
  ::close(fd);
}

// One entry: a regular file is looked at, a directory kept for later.
void SampleEntry(SampleState& s, const std::string& path, std::vector<std::string>& dirs) {
  if (!Spend(s)) return;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode))
    dirs.push_back(path);
  else if (S_ISREG(st.st_mode))
    SampleFile(s, path, static_cast<uint64_t>(st.st_size));
}

void SampleDirectory(SampleState& s, const std::string& dir, std::vector<std::string>& dirs) {
  const int fd = OpenForLooking(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* stream = ::fdopendir(fd);
  if (stream == nullptr) {
    ::close(fd);
    return;
  }
  const std::string prefix = dir.back() == '/' ? dir : dir + '/';
  while (const dirent* e = ::readdir(stream)) {
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    SampleEntry(s, prefix + name, dirs);
    if (!s.out.complete) break;
  }
  ::closedir(stream);
}

// A path and, below it, every directory without following links.
void SamplePath(SampleState& s, const std::string& path) {
  std::vector<std::string> dirs;
  SampleEntry(s, path, dirs);
  while (!dirs.empty() && s.out.complete) {
    const std::string dir = std::move(dirs.back());
    dirs.pop_back();
    SampleDirectory(s, dir, dirs);
  }
}

// The first word of a small kernel file, "" when it cannot be read.
std::string FirstWord(const std::string& path) {
  std::ifstream in(path);
  std::string word;
  in >> word;
  return word;
}

}  // namespace

Residency SampleResidency(const std::vector<std::string>& paths, const ResidencyBudget& budget) {
  SampleState state(budget);
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    SamplePath(state, path);
    if (!state.out.complete) break;
  }
  return state.out;
}

SeekCost SeekCostOfDevice(uint64_t device, const std::string& root) {
  const auto dev = static_cast<dev_t>(device);
  // Major 0: an unnamed device (tmpfs, NFS, FUSE, btrfs, overlay), no queue.
  if (major(dev) == 0) return SeekCost::Unknown;
  const std::string node =
      root + "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  // A partition keeps its disk's queue one level up.
  for (const char* queue : {"/queue/rotational", "/../queue/rotational"}) {
    const std::string flag = FirstWord(node + queue);
    if (flag == "0") return SeekCost::None;
    if (flag == "1") return SeekCost::Seeks;
  }
  return SeekCost::Unknown;
}

SeekCost SeekCostOf(const std::string& path, const std::string& root) {
  struct statfs fs {};
  if (::statfs(path.c_str(), &fs) == 0) {
    constexpr long kTmpfs = 0x01021994, kRamfs = 0x858458f6;
    if (fs.f_type == kTmpfs || fs.f_type == kRamfs) return SeekCost::None;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return SeekCost::Unknown;
  return SeekCostOfDevice(static_cast<uint64_t>(st.st_dev), root);
}

}  // namespace vantrel::platform
