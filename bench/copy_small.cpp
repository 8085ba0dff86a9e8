// bench-links: vantrel_fileops
// copy_small.cpp - many small files: 50,000 files of 4 KB (in directories of
// 500) copied by the engine with 1 thread and with its pool, against `cp -r`
// and `rsync -a` on the same tree in the same run. Each round runs every
// contender once, in a rotating order, each after a sync and into a fresh
// destination; the best wall time of the rounds counts. Beside it, the
// processor time (user and system, all threads) of the same round: the work
// done, which the wall time divides among the cores.
//
// The copies stay until the end of the run: on an ext4 file system without
// a journal, the inodes of files deleted in the last minute are passed over
// one by one when a new inode is looked for (they may still be on their way
// to the disk), so a copy made just after another copy was deleted spends
// most of its time there, whoever makes it. --delete-between brings that
// back, to measure it.
//
//   bench_copy_small [--dir PATH] [--files N] [--rounds N] [--threads N,N,...]
//                    [--delete-between]
//
// --threads lists the engine's thread counts (CopyThreads); by default 1, 2
// and the number of processors.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fileops/fmoperation.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using vantrel::fileops::TFMOperation;

int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MakeTree(const std::string& root, int files) {
  std::filesystem::create_directories(root);
  std::string data(4096, '\0');
  for (int i = 0; i < files; ++i) {
    const std::string dir = root + "/d" + std::to_string(i / 500);
    if (i % 500 == 0) std::filesystem::create_directory(dir);
    for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<char>((i * 131 + k * 7) & 0xff);
    std::ofstream(dir + "/f" + std::to_string(i) + ".dat", std::ios::binary).write(data.data(), 4096);
  }
}

// User and system time of this process's threads and of its children waited for.
double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    struct rusage u {};
    getrusage(who, &u);
    total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

uint64_t CountFiles(const std::string& root) {
  uint64_t n = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) n += e.is_regular_file();
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  std::string base = "/tmp";
  int files = 50000, rounds = 3;
  bool deleteBetween = false;
  std::vector<unsigned> threads = {1, 2, std::max(1u, std::thread::hardware_concurrency())};
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (!std::strcmp(argv[i], "--delete-between")) deleteBetween = true;
    else if (value && !std::strcmp(argv[i], "--dir")) base = argv[++i];
    else if (value && !std::strcmp(argv[i], "--files")) files = std::atoi(argv[++i]);
    else if (value && !std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[++i]);
    else if (value && !std::strcmp(argv[i], "--threads")) {
      threads.clear();
      for (const char* p = argv[++i]; *p != '\0';) {
        char* end = nullptr;
        threads.push_back(static_cast<unsigned>(std::max(1L, std::strtol(p, &end, 10))));
        p = *end == ',' ? end + 1 : end;
        if (end == p && *p != '\0') break;
      }
    }
  }
  std::sort(threads.begin(), threads.end());
  threads.erase(std::unique(threads.begin(), threads.end()), threads.end());
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the figures show before the slow cleanup
  const std::string work = base + "/vantrel-copy-small";
  std::filesystem::remove_all(work);
  const std::string src = work + "/src";
  MakeTree(src, files);
  const bool haveRsync = std::system("rsync --version > /dev/null 2>&1") == 0;
  std::printf("%d files of 4 KB in %s, %d rounds%s\n", files, work.c_str(), rounds,
              deleteBetween ? ", each copy deleted before the next" : "");

  struct Contender {
    std::string name;
    std::function<bool(const std::string& dest)> copy;
    double best = 1e9;
    double cpu = 0;  // of the best round
  };
  const auto engine = [&](unsigned n) {
    return [&src, n](const std::string& dest) {
      std::filesystem::create_directory(dest);
      TFMOperation op;
      op.CopyThreads = n;
      op.CopyFiles({"src"}, std::filesystem::path(src).parent_path().string(), dest);
      return op.Failures().empty();
    };
  };
  std::vector<Contender> all;
  all.push_back({"cp -r", [&](const std::string& dest) { return Run({"cp", "-r", src, dest}) == 0; }});
  if (haveRsync)
    all.push_back({"rsync -a", [&](const std::string& dest) { return Run({"rsync", "-a", src, dest}) == 0; }});
  for (unsigned n : threads)
    all.push_back({"engine, " + std::to_string(n) + (n == 1 ? " thread" : " threads"), engine(n)});

  for (int r = 0; r < rounds; ++r) {
    for (size_t k = 0; k < all.size(); ++k) {
      Contender& c = all[(k + static_cast<size_t>(r)) % all.size()];
      std::string dest = work + "/dest";
      if (!deleteBetween) dest.append("-").append(std::to_string(r)).append("-").append(std::to_string(k));
      std::filesystem::remove_all(dest);
      if (c.name.rfind("engine", 0) != 0) std::filesystem::create_directory(dest);
      sync();
      const double cpu0 = CpuSeconds();
      const auto t0 = Clock::now();
      const bool ok = c.copy(dest);
      const double t = std::chrono::duration<double>(Clock::now() - t0).count();
      const double cpu = CpuSeconds() - cpu0;
      const uint64_t copied = CountFiles(dest);
      if (!ok || copied != static_cast<uint64_t>(files))
        std::fprintf(stderr, "%s: copy incomplete (%llu files)\n", c.name.c_str(),
                     static_cast<unsigned long long>(copied));
      if (t < c.best) c.best = t, c.cpu = cpu;
    }
  }
  const double cp = all[0].best;
  for (const Contender& c : all)
    std::printf("%-24s %7.3f s   cp -r / this: %.2fx   cpu %.3f s\n", c.name.c_str(), c.best, cp / c.best,
                c.cpu);
  std::printf("goal: the engine with 2 threads at least 1.20x cp -r\n");
  std::filesystem::remove_all(work);
  return 0;
}
