// bench-links: vantrel_dirmodel
// Reads and sorts a generated directory of N files (default 100,000) in every
// sort order and compares with `ls -l --sort=none` of the same directory in
// the same run. Also reports the heap bytes held per listed entry beyond the
// names themselves.
//
//   bench_dirlist [N] [DIR]
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "panels/dirmodel.h"
#include "platform/text.h"

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

static double TimeCommand(const std::string& cmd) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "command failed: %s\n", cmd.c_str());
    best = std::min(best, Seconds(t0, Clock::now()));
  }
  return best;
}

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::string dir = argc > 2 ? argv[2] : "/tmp/vantrel-bench-dirlist";
  vantrel::platform::InitLocale();

  mkdir(dir.c_str(), 0755);
  struct stat st;
  int existing = 0;
  for (int i = 0; i < n; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%s/File_%06d.%s", dir.c_str(), (i * 7919) % n,
                  (i % 3 == 0) ? "txt" : (i % 3 == 1) ? "Dat" : "c");
    if (stat(name, &st) == 0) {
      ++existing;
      continue;
    }
    int fd = open(name, O_CREAT | O_WRONLY, 0644);
    if (fd >= 0) {
      if (i % 5 == 0) (void)!write(fd, name, static_cast<size_t>(i % 50));
      close(fd);
    }
  }
  std::printf("directory %s: %d files (%d already there)\n", dir.c_str(), n, existing);

  const double ls = TimeCommand("ls -l --sort=none '" + dir + "' > /dev/null");
  std::printf("%-28s %8.1f ms\n", "ls -l --sort=none", ls * 1000);

  static const char* orders[] = {"name", "extension", "size", "date", "time"};
  for (uint8_t order = 0; order < 5; ++order) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
      vantrel::panels::TPanelModel m;
      m.SetSortType(order);
      auto t0 = Clock::now();
      m.ReadDirectory(dir);
      best = std::min(best, Seconds(t0, Clock::now()));
      if (m.Count() < n) std::fprintf(stderr, "listed only %d entries\n", m.Count());
    }
    std::printf("read+sort by %-15s %8.1f ms   ratio to ls: %.2f\n", orders[order], best * 1000,
                best / ls);
  }

  // Memory: heap in use with the listing minus heap without it, minus the
  // bytes of the names that do not fit in a string's own storage.
  malloc_trim(0);
  const size_t before = mallinfo2().uordblks;
  {
    vantrel::panels::TPanelModel m;
    m.ReadDirectory(dir);
    const size_t during = mallinfo2().uordblks;
    size_t nameBytes = 0;
    for (const auto& e : m.GetEntries())
      if (e->FileName.size() > 15) nameBytes += e->FileName.size() + 1;
    std::printf("heap per entry beyond names: %.1f bytes (%d entries)\n",
                static_cast<double>(during - before - nameBytes) / m.Count(), m.Count());
  }
  return 0;
}
