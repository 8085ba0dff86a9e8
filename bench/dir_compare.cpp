// bench-links: vantrel_tools
// Comparing two trees, in the same run as the peer:
//   1. by content: two trees of FILES files (default 10,000) and MB megabytes
//      each (default 1024), the right a copy of the left with one file in a
//      hundred changed in its last byte, against `diff -rq`; the bytes our
//      comparison read show that each file was read once;
//   2. by date and size: two trees of SMALL files each (default 200,000),
//      with the compare-directories engine and the synchronisation planner
//      (target: under 2 s).
// Every program runs in a child process; the best of RUNS (default 3) is
// shown as wall and CPU time (user + system). The page cache is warmed by a
// first untimed pass of `diff -rq` (trees larger than memory are read from
// the disk by everyone alike).
//
//   bench_dir_compare [MB] [FILES] [SMALL] [RUNS] [DIR]
// (MB or FILES 0 leaves out the comparison by content.)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "bench/child_run.h"
#include "tools/dir_compare.h"
#include "tools/dir_sync.h"

using namespace vantrel;

namespace {

using TRun = bench::TChildRun;

long CountLines(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  long lines = 0;
  for (int c; (c = fgetc(p)) != EOF;) lines += c == '\n';
  pclose(p);
  return lines;
}

void Line(const char* what, const TRun& r, const TRun* ours, const char* unit) {
  std::printf("%-44s wall %7.3f s  cpu %7.3f s  %s %ld", what, r.wall, r.cpu, unit, r.value);
  if (ours != nullptr) std::printf("   ratio wall %.2f cpu %.2f (vantrel/peer)", ours->wall / r.wall, ours->cpu / r.cpu);
  std::printf("\n");
}

bool Marked(const std::string& marker) {
  struct stat st;
  return stat(marker.c_str(), &st) == 0;
}

// Two trees of `files` files holding `megabytes` in all, 100 files a
// directory; the right a copy (times kept) with every hundredth file
// changed in its last byte.
void MakeContentTrees(const std::string& root, uint64_t megabytes, uint64_t files) {
  const std::string marker = root + "/.complete-" + std::to_string(megabytes) + "-" + std::to_string(files);
  if (Marked(marker)) return;
  std::system(("rm -rf '" + root + "' && mkdir -p '" + root + "/left'").c_str());
  const uint64_t size = (megabytes << 20) / files;
  std::mt19937_64 random(7);
  std::string data(size, '\0');
  for (uint64_t i = 0; i < files; ++i) {
    const std::string dir = root + "/left/d" + std::to_string(i / 100);
    if (i % 100 == 0) mkdir(dir.c_str(), 0755);
    for (size_t j = 0; j + 8 <= data.size(); j += 8) {
      const uint64_t v = random();
      std::memcpy(&data[j], &v, 8);
    }
    std::ofstream(dir + "/f" + std::to_string(i), std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));
  }
  std::system(("cp -a '" + root + "/left' '" + root + "/right'").c_str());
  for (uint64_t i = 0; i < files; i += 100) {
    const std::string path = root + "/right/d" + std::to_string(i / 100) + "/f" + std::to_string(i);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(size - 1));
    f.put('\x5a');
  }
  std::ofstream(marker).put('\n');
}

// Two trees of `files` empty files, 1,000 a directory, the same times.
void MakeSmallTrees(const std::string& root, uint64_t files) {
  const std::string marker = root + "/.complete-" + std::to_string(files);
  if (Marked(marker)) return;
  std::system(("rm -rf '" + root + "' && mkdir -p '" + root + "/left'").c_str());
  for (uint64_t i = 0; i < files; ++i) {
    const std::string dir = root + "/left/d" + std::to_string(i / 1000);
    if (i % 1000 == 0) mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/file-" + std::to_string(i) + ".txt").put('x');
  }
  std::system(("cp -a '" + root + "/left' '" + root + "/right'").c_str());
  std::ofstream(marker).put('\n');
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const uint64_t files = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 10000;
  const uint64_t small = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 200000;
  const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
  const std::string base = argc > 5 ? argv[5] : "/tmp/vantrel-bench-compare";

  const std::string content = base + "/content";
  if (megabytes > 0 && files > 0) {
  MakeContentTrees(content, megabytes, files);
  const std::string diff = "LC_ALL=C diff -rq '" + content + "/left' '" + content + "/right'";
  CountLines(diff);  // warms the page cache for everyone
  TRun ours, peer;
  long bytesRead = 0;
  for (int i = 0; i < runs; ++i) {
    bench::KeepBest(ours, bench::RunInChild([&] {
      tools::TCompareOptions options;
      options.byContent = true;
      options.recursive = true;
      tools::TDirCompare compare;
      const tools::TCompareResult result = compare.Compare(content + "/left", content + "/right", options);
      return static_cast<long>(result.items.size());
    }));
    bench::KeepBest(peer, bench::RunInChild([&] { return CountLines(diff); }));
  }
  {
    tools::TCompareOptions options;
    options.byContent = true;
    options.recursive = true;
    tools::TDirCompare compare;
    bytesRead = static_cast<long>(compare.Compare(content + "/left", content + "/right", options).bytesRead);
  }
  std::printf("By content: two trees of %llu files, %llu MB each\n", static_cast<unsigned long long>(files),
              static_cast<unsigned long long>(megabytes));
  Line("vantrel compare by content", ours, nullptr, "differences");
  Line("diff -rq", peer, &ours, "lines");
  std::printf("bytes read by vantrel: %ld = %.3f x both trees\n\n", bytesRead,
              static_cast<double>(bytesRead) / static_cast<double>(2 * ((megabytes << 20) / files) * files));

  }

  const std::string smallRoot = base + "/small";
  MakeSmallTrees(smallRoot, small);
  TRun compareRun, planRun, peerRun;
  const std::string diffSmall = "LC_ALL=C diff -rq '" + smallRoot + "/left' '" + smallRoot + "/right'";
  CountLines(diffSmall);
  for (int i = 0; i < runs; ++i) {
    bench::KeepBest(compareRun, bench::RunInChild([&] {
      tools::TDirCompare compare;
      tools::TCompareOptions options;
      options.recursive = true;
      return static_cast<long>(compare.Compare(smallRoot + "/left", smallRoot + "/right", options).pairs);
    }));
    bench::KeepBest(planRun, bench::RunInChild([&] {
      tools::TDirSync sync;
      return static_cast<long>(sync.Plan(smallRoot + "/left", smallRoot + "/right", tools::TSyncOptions{}).rows.size());
    }));
    bench::KeepBest(peerRun, bench::RunInChild([&] { return CountLines(diffSmall); }));
  }
  std::printf("By date and size: two trees of %llu files each (target: under 2 s)\n", static_cast<unsigned long long>(small));
  Line("vantrel compare by date and size", compareRun, nullptr, "pairs");
  Line("vantrel synchronisation plan", planRun, nullptr, "rows");
  Line("diff -rq (reads every file)", peerRun, &compareRun, "lines");
  return 0;
}
