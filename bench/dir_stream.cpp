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
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
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

static double ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// User and system time of this process (who == RUSAGE_SELF, every thread)
// or of its children that ended.
static double ProcessorTime(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct TTimes {
  double wall = 1e9;  // best of the runs
  double cpu = 1e9;
};

static TTimes TimeCommand(const std::string& cmd, int runs) {
  TTimes best;
  for (int i = 0; i < runs; ++i) {
    const double c0 = ProcessorTime(RUSAGE_CHILDREN);
    auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "command failed: %s\n", cmd.c_str());
    best.wall = std::min(best.wall, Seconds(t0, Clock::now()));
    best.cpu = std::min(best.cpu, ProcessorTime(RUSAGE_CHILDREN) - c0);
  }
  return best;
}

static void MakeFiles(const std::string& dir, int n) {
  // A directory made whole before says so in a file beside it.
  const std::string marker = dir + ".made";
  if (FILE* f = std::fopen(marker.c_str(), "r")) {
    int count = 0;
    const bool known = std::fscanf(f, "%d", &count) == 1 && count == n;
    std::fclose(f);
    if (known) {
      std::printf("directory %s: %d files (made before)\n", dir.c_str(), n);
      return;
    }
  }
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
  if (FILE* f = std::fopen((dir + ".made").c_str(), "w")) {
    std::fprintf(f, "%d\n", n);
    std::fclose(f);
  }
}

struct TRun {
  double firstRows = 0;  // seconds until rows were shown
  double whole = 0;      // until the last slice was in
  double worstSlice = 0;  // the longest one slice took on this thread
  double worstSliceCpu = 0;  // the same in this thread's processor time (no waiting for a core)
  double cpu = 0;  // the process's processor time when the last slice was in
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
      const double c0 = ThreadCpu();
      if (s.opened) {
        model.BeginReading(s.directory);
        continue;
      }
      model.AddRows(std::move(s.added), s.positions);
      if (s.done) model.EndReading(s.diskLine);
      const Clock::time_point t1 = Clock::now();
      ++run.slices;
      run.worstSlice = std::max(run.worstSlice, Seconds(t0, t1));
      run.worstSliceCpu = std::max(run.worstSliceCpu, ThreadCpu() - c0);
      if (run.firstRows == 0 && model.Count() > 1) run.firstRows = Seconds(start, t1);
      if (s.done) {
        run.whole = Seconds(start, t1);
        run.cpu = ProcessorTime(RUSAGE_SELF);
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
  const TTimes ls = TimeCommand("ls -f '" + dir + "' | wc -l > /dev/null", runs);
  if (std::system(("ls -f '" + dir + "' > '" + names + "'").c_str()) != 0) return 1;
  const TTimes sort = TimeCommand("sort '" + names + "' > /dev/null", runs);
  std::remove(names.c_str());
  const double peer = ls.wall + sort.wall;
  const double peerCpu = ls.cpu + sort.cpu;
  std::printf("%-34s %8.1f ms (processor %.1f ms)\n", "ls -f | wc -l", ls.wall * 1000, ls.cpu * 1000);
  std::printf("%-34s %8.1f ms (processor %.1f ms)\n", "sort (the same names)", sort.wall * 1000, sort.cpu * 1000);

  TRun best;
  best.whole = 1e9;
  double firstBest = 1e9, worst = 0, worstCpu = 0, cpu = 1e9;
  for (int i = 0; i < runs; ++i) {
    const double c0 = ProcessorTime(RUSAGE_SELF);
    const TRun r = ReadOnce(dir);
    cpu = std::min(cpu, r.cpu - c0);
    if (r.count < n) std::fprintf(stderr, "listed only %d entries\n", r.count);
    if (r.whole < best.whole) best = r;
    firstBest = std::min(firstBest, r.firstRows);
    worst = std::max(worst, r.worstSlice);
    worstCpu = std::max(worstCpu, r.worstSliceCpu);
  }
  std::printf("%-34s %8.1f ms (target 300 ms)\n", "first rows shown", firstBest * 1000);
  std::printf("%-34s %8.1f ms in %d slices; ratio to ls+sort: %.2f (target 1.5)\n", "whole sorted list",
              best.whole * 1000, best.slices, best.whole / peer);
  std::printf("%-34s %8.1f ms, ls+sort %.1f ms: ratio %.2f\n", "processor time of the reading", cpu * 1000,
              peerCpu * 1000, cpu / peerCpu);
  std::printf("%-34s %8.1f ms (target 50 ms); %.1f ms of processor time\n", "longest slice on the window thread",
              worst * 1000, worstCpu * 1000);
  return 0;
}
