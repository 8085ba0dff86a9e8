// child_run.h - what the benchmarks that time whole runs share: one run in a
// child process of its own, so that its processor time and peak memory are
// its alone, and the best of several runs.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

namespace vantrel::bench {

struct TChildRun {
  double wall = 1e9, cpu = 1e9;  // seconds
  long rssKb = 0;                // peak resident memory
  long value = -1;               // what the work returned (a count)
};

// Runs `work` in a child process: its value comes back through a pipe, its
// wall time, processor time and peak memory from the system.
inline TChildRun RunInChild(const std::function<long()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const long value = work();
    (void)!write(fds[1], &value, sizeof value);
    _exit(0);
  }
  close(fds[1]);
  long value = -1;
  (void)!read(fds[0], &value, sizeof value);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  TChildRun run;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  run.rssKb = usage.ru_maxrss;
  run.value = value;
  return run;
}

// The best times and the highest peak of the runs so far; the value of the last.
inline void KeepBest(TChildRun& best, const TChildRun& run) {
  if (run.wall < best.wall) best.wall = run.wall;
  if (run.cpu < best.cpu) best.cpu = run.cpu;
  if (run.rssKb > best.rssKb) best.rssKb = run.rssKb;
  best.value = run.value;
}

}  // namespace vantrel::bench
