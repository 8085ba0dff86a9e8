// bench-links: vantrel_fileops
// job_queue.cpp - two copies to one disk: queued (the queue's rule, one
// after the other) against both at once, in the same run on the same trees.
//
// Two source trees of --mb MiB each (default 2048; files of 64 MiB and a
// hundred small ones) are made under --dir (default /var/tmp). Each round
// copies both trees as two jobs, once queued and once at once (which goes
// first alternates), and times until both jobs ended and until the data is
// on the disk (sync); the copies are removed after each timing.
//
// Every round times both ways twice: warm, with the sources read into the
// page cache beforehand (the two jobs then compete for the processor and the
// disk's writing), and cold, with the page cache dropped before the timing
// (the jobs also compete for the disk's reading, which is where two copies to
// one spinning disk thrash). Dropping the whole cache needs root; otherwise
// each source file's cached pages are dropped (POSIX_FADV_DONTNEED), which
// leaves the directories cached, and the output says so. The device's
// rotational flag is printed with the figures.
//
// All timings go through one queue, as the file manager's do in a session.
// Queued, the second job starts beside the first when its sources are in
// memory (the queue samples them); each round says how many of its two jobs
// did ("from memory"), how many started beside the other because that one
// kept its processor busy ("beside busy"), and when the later job began its
// work ("second began": at once both begin together; queued by the rule
// alone the second begins when the first ended). --plain-queue switches the
// sampling and the measure off, so that queued means the device rule alone.
//
// --rest S sleeps S seconds before each timing, after the cache is dropped.
// A virtual disk whose host evens out its guests' use serves a burst after a
// pause faster than one right after another burst; without a rest, whichever
// way came second in a round paid for the first one's reading.
//
// The summary gives the best and the median of the rounds. Each round also
// says how long the jobs' threads ran and how long they were ready to run but
// waited for a processor: on a busy machine two jobs at once get two threads'
// share of the processors where one queued job gets one.
//
//   bench_job_queue [--mb N] [--rounds N] [--dir PATH] [--only warm|cold] [--rest S] [--plain-queue]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fileops/fmoperation.h"
#include "fileops/job.h"
#include "platform/residency.h"

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
    std::ofstream out(root / (std::string("big").append(std::to_string(i))), std::ios::binary);
    for (int m = 0; m < 64; ++m) {
      block[static_cast<size_t>(m)] = static_cast<char>(i);  // no two blocks alike
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  for (int i = 0; i < 100; ++i)
    std::ofstream(root / "small" / (std::string("f").append(std::to_string(i))), std::ios::binary).write(block.data(), 8192);
}

struct Timing {
  double ended = 0;  // both jobs ended
  double synced = 0;  // and the data written back
  double cpu = 0;     // processor time of the copying (user + system)
  int fromMemory = 0;  // jobs that started beside the other one from memory
  int besideBusy = 0;  // or because it kept its processor busy
  double secondBegan = 0;  // when the later of the two jobs began its work
  double firstRan = 0, secondRan = 0;  // how long the earlier and the later job ran
  // The jobs' own threads (the large files' copies): time on a processor and
  // time runnable but waiting for one (other programs on a busy machine).
  double ran = 0, waited = 0;
};

// This thread's time on a processor and waiting in the run queue, in
// seconds (Linux schedstat; zeros where the kernel keeps none).
std::pair<double, double> ThreadSchedule() {
  std::ifstream in("/proc/thread-self/schedstat");
  double ran = 0, waited = 0;
  in >> ran >> waited;
  return {ran / 1e9, waited / 1e9};
}

double ProcessorSeconds() {
  rusage use{};
  ::getrusage(RUSAGE_SELF, &use);
  return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
         static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

enum class Cache { Warm, Cold };

// Reads every source file, so that a warm timing finds them all cached.
void ReadAll(const fs::path& base) {
  std::vector<char> buffer(1 << 20);
  for (const auto& e : fs::recursive_directory_iterator(base)) {
    if (!e.is_regular_file()) continue;
    const int fd = ::open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
  }
}

// Empties the page cache: the whole of it when permitted, otherwise the
// pages of each file under `base`. Says which, once.
void DropCache(const fs::path& base) {
  static int whole = -1;
  ::sync();
  if (whole != 0) {
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    whole = fd >= 0 && ::write(fd, "3", 1) == 1;
    if (fd >= 0) ::close(fd);
    if (whole) return;
    std::printf("note: /proc/sys/vm/drop_caches is not writable (needs root); cold rounds drop the "
                "source files' pages only (posix_fadvise), directories stay cached\n");
  }
  for (const auto& e : fs::recursive_directory_iterator(base)) {
    if (!e.is_regular_file()) continue;
    const int fd = ::open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

// The block device under `dir` and what the queue's rule learns of it.
std::string DeviceOf(const fs::path& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return "?";
  const std::string sys =
      "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  std::error_code ec;
  std::string shown = fs::canonical(sys, ec).filename().native();
  if (shown.empty()) shown = sys;
  switch (vantrel::platform::SeekCostOf(dir.native())) {
    case vantrel::platform::SeekCost::None: return shown + ", rotational=0";
    case vantrel::platform::SeekCost::Seeks: return shown + ", rotational=1";
    case vantrel::platform::SeekCost::Unknown: break;
  }
  return shown + ", rotational=?";
}

Timing CopyBoth(TJobQueue& queue, const fs::path& base, bool queued, Cache cache, int rest) {
  queue.SetSameDeviceWaits(queued);
  if (cache == Cache::Warm) {
    ReadAll(base / "src-a");
    ReadAll(base / "src-b");
    ::sync();
  } else {
    DropCache(base);
  }
  if (rest > 0) std::this_thread::sleep_for(std::chrono::seconds(rest));
  const auto start = Clock::now();
  const double cpuStart = ProcessorSeconds();
  std::vector<std::shared_ptr<TJob>> jobs;
  double began[2] = {0, 0};  // each written by its job, read once both ended
  std::pair<double, double> schedule[2] = {};
  for (const char* name : {"a", "b"}) {
    const std::string src = (base / (std::string("src-") + name)).native();
    const std::string dst = (base / (std::string("dst-") + name)).native();
    fs::create_directories(dst);
    double* mine = &began[jobs.size()];
    std::pair<double, double>* used = &schedule[jobs.size()];
    jobs.push_back(queue.Add(name, TJobPlaces{DevicesOf({src, dst}), {src}}, [src, dst, start, mine, used](TJob& job) {
      *mine = std::chrono::duration<double>(Clock::now() - start).count();
      const auto before = ThreadSchedule();
      TFMOperation engine;
      job.Attach(engine);
      std::vector<std::string> names;
      for (const auto& e : fs::directory_iterator(src)) names.push_back(e.path().filename().native());
      engine.CopyFiles(names, src, dst);
      const auto after = ThreadSchedule();
      *used = {after.first - before.first, after.second - before.second};
    }));
  }
  queue.WaitIdle(std::chrono::hours(1));
  Timing t;
  for (const auto& job : jobs) {
    t.fromMemory += job->StartedFromMemory() ? 1 : 0;
    t.besideBusy += job->StartedBesideBusyJobs() ? 1 : 0;
  }
  t.secondBegan = std::max(began[0], began[1]);
  const bool aFirst = began[0] <= began[1];
  const auto ran = [](const std::shared_ptr<TJob>& job) {
    return std::chrono::duration<double>(job->RunTime()).count();
  };
  t.firstRan = ran(jobs[aFirst ? 0 : 1]);
  t.secondRan = ran(jobs[aFirst ? 1 : 0]);
  t.ran = schedule[0].first + schedule[1].first;
  t.waited = schedule[0].second + schedule[1].second;
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
  int mb = 2048, rounds = 2, rest = 0;
  std::string dir = "/var/tmp", only;
  bool plainQueue = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--plain-queue")) {
      plainQueue = true;
      continue;
    }
    if (i + 1 >= argc) break;
    if (!std::strcmp(argv[i], "--mb")) mb = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
    else if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
    else if (!std::strcmp(argv[i], "--rest")) rest = std::atoi(argv[i + 1]);
    ++i;
  }
  const fs::path base = fs::path(dir) / ("vantrel-bench-queue-" + std::to_string(::getpid()));
  MakeTree(base / "src-a", mb, 1);
  MakeTree(base / "src-b", mb, 2);
  std::printf("two copies of %d MiB each to one disk (%s: %s), %d rounds%s, rest %d s before each timing\n", mb,
              dir.c_str(), DeviceOf(dir).c_str(), rounds, plainQueue ? ", queued by the device rule alone" : "", rest);
  struct Runs {
    const char* name;
    Cache cache;
    std::vector<Timing> queued, once;
  };
  std::vector<Runs> kinds;
  if (only != "cold") kinds.push_back({"warm", Cache::Warm, {}, {}});
  if (only != "warm") kinds.push_back({"cold", Cache::Cold, {}, {}});
  // One queue for the whole run, as the file manager has one for its
  // session: what it learnt of the disk in one timing holds in the next.
  TJobQueue queue;
  if (plainQueue) queue.SetFacts(nullptr);
  for (int r = 0; r < rounds; ++r) {
    const bool queuedFirst = r % 2 == 0;
    for (Runs& kind : kinds) {
      for (int k = 0; k < 2; ++k) {
        const bool queued = (k == 0) == queuedFirst;
        const Timing t = CopyBoth(queue, base, queued, kind.cache, rest);
        (queued ? kind.queued : kind.once).push_back(t);
        std::printf("round %d %s %-8s ended %7.2f s  on disk %7.2f s  processor %6.2f s  load %.1f  from memory %d  beside busy %d"
                    "  second began %.3f s  each ran %.2f s and %.2f s  jobs' threads ran %.2f s, waited for a processor %.2f s\n",
                    r + 1, kind.name, queued ? "queued" : "at once", t.ended, t.synced, t.cpu, Load(), t.fromMemory, t.besideBusy,
                    t.secondBegan, t.firstRan, t.secondRan, t.ran, t.waited);

        std::fflush(stdout);
      }
    }
  }
  const auto best = [](const std::vector<Timing>& v, double Timing::*field) {
    double b = 1e300;
    for (const Timing& t : v) b = std::min(b, t.*field);
    return b;
  };
  // The middle of the timings (of the two middle ones when even): on a
  // shared machine single rounds swing too far for the best alone.
  const auto median = [](const std::vector<Timing>& v, double Timing::*field) {
    std::vector<double> values;
    for (const Timing& t : v) values.push_back(t.*field);
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  };
  for (const Runs& kind : kinds) {
    const double q = best(kind.queued, &Timing::synced), o = best(kind.once, &Timing::synced);
    std::printf("%s best on disk: queued %.2f s, at once %.2f s, queued/at once %.2f\n", kind.name, q, o, q / o);
    const double mq = median(kind.queued, &Timing::synced), mo = median(kind.once, &Timing::synced);
    std::printf("%s median on disk: queued %.2f s, at once %.2f s, queued/at once %.2f\n", kind.name, mq, mo,
                mq / mo);
    const double eq = median(kind.queued, &Timing::ended), eo = median(kind.once, &Timing::ended);
    std::printf("%s median ended:   queued %.2f s, at once %.2f s, queued/at once %.2f\n", kind.name, eq, eo, eq / eo);
    std::printf("%s median of the jobs' threads: queued ran %.2f s and waited for a processor %.2f s, at once ran "
                "%.2f s and waited %.2f s\n",
                kind.name, median(kind.queued, &Timing::ran), median(kind.queued, &Timing::waited),
                median(kind.once, &Timing::ran), median(kind.once, &Timing::waited));
    std::printf("%s best ended:   queued %.2f s, at once %.2f s\n", kind.name, best(kind.queued, &Timing::ended),
                best(kind.once, &Timing::ended));
    int fromMemory = 0, besideBusy = 0;
    for (const Timing& t : kind.queued) {
      fromMemory += t.fromMemory;
      besideBusy += t.besideBusy;
    }
    std::printf("%s queued jobs started beside the other: from memory %d, beside a busy one %d, of %zu\n",
                kind.name, fromMemory, besideBusy, 2 * kind.queued.size());
  }
  fs::remove_all(base);
  return 0;
}
