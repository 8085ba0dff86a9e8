// bench-links: vantrel_platform
// copy_large.cpp - one large file copied by the engine's file copy against
// `cp --reflink=never` and `cp --reflink=auto` in the same run, on the file
// system of --dir; says whether each copy shares its data with the source
// (a reflink: `filefrag -v` marks such extents "shared"), as btrfs and XFS
// do for the in-kernel copy, and how much of the source each read from the
// disk. Every round starts with the source out of the page cache.
// bench/copy_reflink.sh runs it on btrfs and XFS loop images.
//
//   bench_copy_large [--dir PATH] [--size-mb N] [--rounds N]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/copyfile.h"

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

static void Run(const std::string& cmd) {
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "command failed: %s\n", cmd.c_str());
}

// Extents of `path` that `filefrag -v` reports, and how many are shared.
static std::pair<int, int> Extents(const std::string& path) {
  const std::string cmd = "filefrag -v '" + path + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return {0, 0};
  int extents = 0, shared = 0;
  char line[512];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    // Extent lines start with an index and a colon: "   0:        0..   255: ..."
    int index = 0;
    if (std::sscanf(line, " %d:", &index) != 1) continue;
    ++extents;
    if (std::strstr(line, "shared") != nullptr) ++shared;
  }
  pclose(p);
  return {extents, shared};
}

// Bytes this process and its waited-for children read from the disk so far.
static double DiskReadMb() {
  struct rusage self {}, children {};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  return static_cast<double>(self.ru_inblock + children.ru_inblock) * 512 / (1 << 20);
}

// Puts the file out of the page cache (its own pages only, nothing else's).
static void Evict(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  fdatasync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
}

// Writes `mb` megabytes that do not compress (the file system must store them).
static void MakeFile(const std::string& path, int mb) {
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  std::vector<uint64_t> block(1 << 17);  // 1 MiB
  uint64_t x = 88172645463325252ULL;
  for (int i = 0; i < mb; ++i) {
    for (uint64_t& v : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      v = x;
    }
    if (write(fd, block.data(), block.size() * 8) != static_cast<ssize_t>(block.size() * 8)) std::perror("write");
  }
  fsync(fd);
  close(fd);
}

int main(int argc, char** argv) {
  std::string dir = "/tmp";
  int mb = 1024;
  int rounds = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--dir") dir = argv[i + 1];
    else if (a == "--size-mb") mb = std::atoi(argv[i + 1]);
    else if (a == "--rounds") rounds = std::atoi(argv[i + 1]);
  }
  const std::string source = dir + "/copy_large.source";
  MakeFile(source, mb);
  std::printf("%d MiB file in %s\n", mb, dir.c_str());

  struct TContender {
    const char* name;
    std::string dest;
    double best = 1e9;
    double readMb = 0;  // of the last round
  };
  std::vector<TContender> contenders = {{"engine (CopyOpenFile)", dir + "/copy_large.engine"},
                                        {"cp --reflink=never", dir + "/copy_large.never"},
                                        {"cp --reflink=auto", dir + "/copy_large.auto"}};
  for (int r = 0; r < rounds; ++r) {
    for (TContender& c : contenders) {
      std::remove(c.dest.c_str());
      Run("sync");
      Evict(source);
      const double read0 = DiskReadMb();
      const Clock::time_point t0 = Clock::now();
      if (c.name[0] == 'e') {
        vantrel::platform::SourceFile in;
        if (in.Open(source) != 0) return 1;
        const vantrel::platform::CopyResult result = vantrel::platform::CopyOpenFile(in, c.dest, false, {});
        if (result.status != vantrel::platform::CopyStatus::Done) {
          std::fprintf(stderr, "the engine's copy failed: %s\n", std::strerror(result.error));
          return 1;
        }
      } else {
        Run(std::string(c.name) + " '" + source + "' '" + c.dest + "'");
      }
      Run("sync");
      c.best = std::min(c.best, Seconds(t0, Clock::now()));
      c.readMb = DiskReadMb() - read0;
    }
  }
  const std::pair<int, int> src = Extents(source);
  std::printf("source: %d extents, %d shared\n", src.first, src.second);
  for (const TContender& c : contenders) {
    const std::pair<int, int> e = Extents(c.dest);
    std::printf("%-24s %8.3f s (with sync)  %7.1f MiB read  %d extents, %d shared: %s\n", c.name, c.best,
                c.readMb, e.first, e.second,
                e.second > 0 && e.second == e.first ? "reflink" : e.second > 0 ? "partly shared" : "own data");
  }
  for (const TContender& c : contenders) std::remove(c.dest.c_str());
  std::remove(source.c_str());
  return 0;
}
