// bench-links: vantrel_fileops
// job_queue.cpp - two copies to one disk: queued (the queue's rule, one
// after the other) against both at once, in the same run on the same trees.
//
// Two source trees of --mb MiB each (default 2048; files of 64 MiB and a
// hundred small ones) are made under --dir (default /var/tmp). Each round
// copies both trees as two jobs, once queued and once at once (which goes
// first alternates), and times until both jobs ended and until the data is
// on the disk (sync); the copies are removed after each timing. The sources
// stay in the page cache, so the disk's writing is what the two compete for.
//
//   bench_job_queue [--mb N] [--rounds N] [--dir PATH]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fileops/fmoperation.h"
#include "fileops/job.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace vantrel::fileops;

void MakeTree(const fs::path& root, int mb, unsigned seed) {
  fs::create_directories(root / "small");
  std::string block(1 << 20, '\0');
  for (char& c : block) seed = seed * 1103515245u + 12345u, c = static_cast<char>(seed >> 16);
  const int big = mb / 64;
  for (int i = 0; i < big; ++i) {
    std::ofstream out(root / ("big" + std::to_string(i)), std::ios::binary);
    for (int m = 0; m < 64; ++m) {
      block[static_cast<size_t>(m)] = static_cast<char>(i);  // no two blocks alike
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  for (int i = 0; i < 100; ++i)
    std::ofstream(root / "small" / ("f" + std::to_string(i)), std::ios::binary).write(block.data(), 8192);
}

struct Timing {
  double ended = 0;  // both jobs ended
  double synced = 0;  // and the data written back
  double cpu = 0;     // processor time of the copying (user + system)
};

double ProcessorSeconds() {
  rusage use{};
  ::getrusage(RUSAGE_SELF, &use);
  return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
         static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

Timing CopyBoth(const fs::path& base, bool queued) {
  TJobQueue queue;
  queue.SetSameDeviceWaits(queued);
  ::sync();
  const auto start = Clock::now();
  const double cpuStart = ProcessorSeconds();
  for (const char* name : {"a", "b"}) {
    const std::string src = (base / (std::string("src-") + name)).native();
    const std::string dst = (base / (std::string("dst-") + name)).native();
    fs::create_directories(dst);
    queue.Add(name, DevicesOf({src, dst}), [src, dst](TJob& job) {
      TFMOperation engine;
      job.Attach(engine);
      std::vector<std::string> names;
      for (const auto& e : fs::directory_iterator(src)) names.push_back(e.path().filename().native());
      engine.CopyFiles(names, src, dst);
    });
  }
  queue.WaitIdle(std::chrono::hours(1));
  Timing t;
  t.ended = std::chrono::duration<double>(Clock::now() - start).count();
  t.cpu = ProcessorSeconds() - cpuStart;
  ::sync();
  t.synced = std::chrono::duration<double>(Clock::now() - start).count();
  for (const char* name : {"a", "b"}) fs::remove_all(base / (std::string("dst-") + name));
  ::sync();
  return t;
}

double Load() {
  double avg[1] = {0};
  return ::getloadavg(avg, 1) == 1 ? avg[0] : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int mb = 2048, rounds = 2;
  std::string dir = "/var/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--mb")) mb = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
  }
  const fs::path base = fs::path(dir) / ("vantrel-bench-queue-" + std::to_string(::getpid()));
  MakeTree(base / "src-a", mb, 1);
  MakeTree(base / "src-b", mb, 2);
  std::printf("two copies of %d MiB each to one disk (%s), %d rounds\n", mb, dir.c_str(), rounds);
  std::vector<Timing> queuedRuns, onceRuns;
  for (int r = 0; r < rounds; ++r) {
    const bool queuedFirst = r % 2 == 0;
    for (int k = 0; k < 2; ++k) {
      const bool queued = (k == 0) == queuedFirst;
      const Timing t = CopyBoth(base, queued);
      (queued ? queuedRuns : onceRuns).push_back(t);
      std::printf("round %d %-8s ended %7.2f s  on disk %7.2f s  processor %6.2f s  load %.1f\n", r + 1,
                  queued ? "queued" : "at once", t.ended, t.synced, t.cpu, Load());
      std::fflush(stdout);
    }
  }
  const auto best = [](const std::vector<Timing>& v, double Timing::*field) {
    double b = 1e300;
    for (const Timing& t : v) b = std::min(b, t.*field);
    return b;
  };
  const double q = best(queuedRuns, &Timing::synced), o = best(onceRuns, &Timing::synced);
  std::printf("best on disk: queued %.2f s, at once %.2f s, queued/at once %.2f\n", q, o, q / o);
  std::printf("best ended:   queued %.2f s, at once %.2f s\n", best(queuedRuns, &Timing::ended),
              best(onceRuns, &Timing::ended));
  fs::remove_all(base);
  return 0;
}
