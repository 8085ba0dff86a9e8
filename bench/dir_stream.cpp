// bench-links: vantrel_dirmodel
// A directory of N files (default 1,000,000) read as the panel reads it: on
// the reading thread, in slices that this thread puts into a panel model the
// way the window does. Reports when the first rows are in (the first
// screen), when the whole sorted list is, and the longest time one slice
// kept this thread busy (what a key waits at worst); against `ls -f | wc -l`
// plus `sort` of the same names, in the same run.
//
//   bench_dir_stream [N] [DIR] [RUNS]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

#include "panels/dir_reading.h"
#include "platform/text.h"

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

static double TimeCommand(const std::string& cmd, int runs) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "command failed: %s\n", cmd.c_str());
    best = std::min(best, Seconds(t0, Clock::now()));
  }
  return best;
}

static void MakeFiles(const std::string& dir, int n) {
  mkdir(dir.c_str(), 0755);
  int made = 0;
  for (int i = 0; i < n; ++i) {
    char name[512];
    std::snprintf(name, sizeof name, "%s/File_%07lld.%s", dir.c_str(), (i * 7919LL) % n,
                  (i % 3 == 0) ? "txt" : (i % 3 == 1) ? "Dat" : "c");
    const int fd = open(name, O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd >= 0) {
      ++made;
      close(fd);
    }
  }
  std::printf("directory %s: %d files (%d made now)\n", dir.c_str(), n, made);
}

struct TRun {
  double firstRows = 0;  // seconds until rows were shown
  double whole = 0;      // until the last slice was in
  double worstSlice = 0;  // the longest one slice took on this thread
  int slices = 0;
  int count = 0;
};

static TRun ReadOnce(const std::string& dir) {
  using namespace vantrel::panels;
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<TListingSlice> queue;
  TRun run;
  const Clock::time_point start = Clock::now();
  TDirectoryReading reading(dir, kSortByName, false, [&](TListingSlice&& s) {
    std::lock_guard lock(mutex);
    queue.push_back(std::move(s));
    arrived.notify_one();
  });
  TPanelModel model;
  for (bool done = false; !done;) {
    std::deque<TListingSlice> ready;
    {
      std::unique_lock lock(mutex);
      arrived.wait(lock, [&] { return !queue.empty(); });
      ready.swap(queue);
    }
    for (TListingSlice& s : ready) {
      const Clock::time_point t0 = Clock::now();
      if (s.opened) {
        model.BeginReading(s.directory);
        continue;
      }
      model.AddRows(std::move(s.added), s.order);
      if (s.done) model.EndReading(s.diskLine);
      const Clock::time_point t1 = Clock::now();
      ++run.slices;
      run.worstSlice = std::max(run.worstSlice, Seconds(t0, t1));
      if (run.firstRows == 0 && model.Count() > 1) run.firstRows = Seconds(start, t1);
      if (s.done) {
        run.whole = Seconds(start, t1);
        done = true;
      }
    }
  }
  run.count = model.Count();
  // Freeing a million records is the next directory's business, not this one's.
  return run;
}

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp/vantrel-bench-dir-stream";
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  vantrel::platform::InitLocale();
  MakeFiles(dir, n);

  const std::string names = dir + ".names";
  const double ls = TimeCommand("ls -f '" + dir + "' | wc -l > /dev/null", runs);
  if (std::system(("ls -f '" + dir + "' > '" + names + "'").c_str()) != 0) return 1;
  const double sort = TimeCommand("sort '" + names + "' > /dev/null", runs);
  std::remove(names.c_str());
  const double peer = ls + sort;
  std::printf("%-34s %8.1f ms\n", "ls -f | wc -l", ls * 1000);
  std::printf("%-34s %8.1f ms\n", "sort (the same names)", sort * 1000);

  TRun best;
  best.whole = 1e9;
  double firstBest = 1e9, worst = 0;
  for (int i = 0; i < runs; ++i) {
    const TRun r = ReadOnce(dir);
    if (r.count < n) std::fprintf(stderr, "listed only %d entries\n", r.count);
    if (r.whole < best.whole) best = r;
    firstBest = std::min(firstBest, r.firstRows);
    worst = std::max(worst, r.worstSlice);
  }
  std::printf("%-34s %8.1f ms (target 300 ms)\n", "first rows shown", firstBest * 1000);
  std::printf("%-34s %8.1f ms in %d slices; ratio to ls+sort: %.2f (target 1.5)\n", "whole sorted list",
              best.whole * 1000, best.slices, best.whole / peer);
  std::printf("%-34s %8.1f ms (target 50 ms)\n", "longest slice on the window thread", worst * 1000);
  return 0;
}
