// bench-links: vantrel_app
// Searches a generated tree of N files (default 200,000) for a mask and
// compares with `find DIR -name MASK` of the same tree in the same run.
//
//   bench_find_files [N] [DIR]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/file_search.h"

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 200000;
  const std::string root = argc > 2 ? argv[2] : "/tmp/vantrel-bench-find";
  // 200 directories in two levels, files spread over them.
  mkdir(root.c_str(), 0755);
  struct stat st;
  const std::string marker = root + "/.complete-" + std::to_string(n);
  if (stat(marker.c_str(), &st) != 0) {
    for (int i = 0; i < n; ++i) {
      const int d1 = i % 20, d2 = (i / 20) % 10;
      char dir[512], file[600];
      std::snprintf(dir, sizeof dir, "%s/dir%02d", root.c_str(), d1);
      mkdir(dir, 0755);
      std::snprintf(dir, sizeof dir, "%s/dir%02d/sub%d", root.c_str(), d1, d2);
      mkdir(dir, 0755);
      std::snprintf(file, sizeof file, "%s/file%06d.%s", dir, i, i % 10 == 0 ? "txt" : "dat");
      int fd = open(file, O_CREAT | O_WRONLY, 0644);
      if (fd >= 0) close(fd);
    }
    int fd = open(marker.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0) close(fd);
  }
  std::printf("tree %s: %d files\n", root.c_str(), n);

  for (const char* mask : {"*.txt", "file00001?.dat"}) {
    double findBest = 1e9, oursBest = 1e9;
    size_t ours = 0;
    for (int rep = 0; rep < 3; ++rep) {
      auto t0 = Clock::now();
      const std::string cmd = "find '" + root + "' -name '" + mask + "' > /dev/null";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "find failed\n");
      findBest = std::min(findBest, Seconds(t0, Clock::now()));

      vantrel::app::TFileSearch search;
      ours = 0;
      search.OnFound = [&](vantrel::app::TFoundFile&&) { ++ours; };
      t0 = Clock::now();
      search.Search(mask, root);
      oursBest = std::min(oursBest, Seconds(t0, Clock::now()));
    }
    std::printf("mask %-16s find %7.1f ms   vantrel %7.1f ms (%zu matches)   ratio %.2f\n", mask,
                findBest * 1000, oursBest * 1000, ours, oursBest / findBest);
  }
  return 0;
}
