// bench-links: vantrel_fileops
// copytree.cpp - copying and deleting a tree with the engine, against cp -r
// and rm -r on the same tree in the same run.
//
// The tree (under --dir, default /tmp) holds --small small files (default
// 10,000, 1 to 16 KiB each, in directories of 100) and four large files that
// bring it to --size-mb megabytes (default 1024). Each round copies it with
// `cp -r` and with CopyFiles, then deletes both copies with `rm -r` and with
// DeleteFiles; the order of the two contenders alternates between rounds and
// the page cache is written back (sync) before each timing. The best time of
// --rounds rounds (default 3) counts, and the median of the per-round ratios
// is printed too. Everything is removed at the end.
//
//   bench_copytree [--size-mb N] [--small N] [--rounds N] [--dir PATH]
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using vantrel::fileops::TFMMessage;
using vantrel::fileops::TFMOperation;
using vantrel::fileops::TFMPrompt;
using vantrel::fileops::TOverwriteAnswer;

// Counts what the engine reports; a clean run reports nothing.
class CountingPrompt final : public TFMPrompt {
 public:
  int reports = 0;
  TOverwriteAnswer AskOverwrite(const std::string&, const std::string&) override {
    ++reports;
    return TOverwriteAnswer::Cancel;
  }
  bool AskAbort(const std::string&) override { return true; }
  vantrel::fileops::TMessageAnswer ShowMessage(const TFMMessage& m) override {
    if (reports++ < 5) std::fprintf(stderr, "engine: %s\n", m.text.c_str());
    return vantrel::fileops::TMessageAnswer::Ok;
  }
};

void WriteBytes(const std::string& path, size_t size, uint32_t seed) {
  static std::vector<char> block;
  if (block.empty()) {
    block.resize(1 << 20);
    uint32_t x = 2463534242u;
    for (auto& c : block) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x);
    }
  }
  std::ofstream out(path, std::ios::binary);
  // Each file starts at its own offset in the block, so no two files are alike.
  size_t offset = (seed * 7919u) % (block.size() / 2);
  while (size > 0) {
    const size_t n = std::min(size, block.size() - offset);
    out.write(block.data() + offset, static_cast<std::streamsize>(n));
    size -= n;
    offset = 0;
  }
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

uint64_t MakeTree(const std::string& root, int smallFiles, uint64_t totalBytes) {
  std::filesystem::create_directories(root);
  uint64_t written = 0;
  for (int i = 0; i < smallFiles; ++i) {
    const std::string dir = root + "/d" + std::to_string(i / 100);
    if (i % 100 == 0) std::filesystem::create_directory(dir);
    const size_t size = 1024 + (static_cast<size_t>(i) * 2654435761u) % (15 * 1024);
    WriteBytes(dir + "/f" + std::to_string(i), size, static_cast<uint32_t>(i));
    written += size;
  }
  const uint64_t rest = totalBytes > written ? totalBytes - written : 0;
  std::filesystem::create_directory(root + "/large");
  for (int i = 0; i < 4; ++i) {
    WriteBytes(root + "/large/big" + std::to_string(i), rest / 4, 100000u + i);
    written += rest / 4;
  }
  return written;
}

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

template <typename F>
double Seconds(F&& f) {
  sync();
  const auto start = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  uint64_t sizeMb = 1024;
  int smallFiles = 10000;
  int rounds = 3;
  std::string base = "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--size-mb") sizeMb = std::strtoull(argv[i + 1], nullptr, 10);
    else if (key == "--small") smallFiles = std::atoi(argv[i + 1]);
    else if (key == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    else if (key == "--dir") base = argv[i + 1];
    else {
      std::fprintf(stderr, "usage: %s [--size-mb N] [--small N] [--rounds N] [--dir PATH]\n", argv[0]);
      return 2;
    }
  }

  std::string work = base + "/vantrel-bench-XXXXXX";
  if (mkdtemp(work.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string src = work + "/src";
  const std::string cpOut = work + "/cp";
  const std::string ourOut = work + "/ours";
  std::filesystem::create_directories(cpOut);
  std::filesystem::create_directories(ourOut);

  std::printf("generating %d small files and 4 large ones, %llu MB in all, in %s\n", smallFiles,
              static_cast<unsigned long long>(sizeMb), work.c_str());
  const uint64_t bytes = MakeTree(src + "/tree", smallFiles, sizeMb * 1024 * 1024);
  const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);

  CountingPrompt prompt;
  TFMOperation op;
  op.SetPrompt(&prompt);
  op.OnGlobalDone = [](TFMOperation&, int) {};

  double bestCp = 1e30, bestOurs = 1e30, bestRm = 1e30, bestDel = 1e30;
  // Other work on the machine drifts between rounds; the ratio within one
  // round, where both contenders ran back to back, drifts less.
  std::vector<double> copyRatios, deleteRatios;
  bool ok = true;
  for (int r = 0; r < rounds && ok; ++r) {
    double tCp = 0, tOurs = 0, tRm = 0, tDel = 0;
    const auto copyCp = [&] { tCp = Seconds([&] { ok &= Run({"cp", "-r", src + "/tree", cpOut + "/"}) == 0; }); };
    const auto copyOurs = [&] { tOurs = Seconds([&] { op.CopyFiles({"tree"}, src, ourOut); }); };
    const auto delRm = [&] { tRm = Seconds([&] { ok &= Run({"rm", "-r", cpOut + "/tree"}) == 0; }); };
    const auto delOurs = [&] { tDel = Seconds([&] { op.DeleteFiles({"tree"}, ourOut); }); };
    if (r % 2 == 0) {
      copyCp(), copyOurs();
    } else {
      copyOurs(), copyCp();
    }
    const double copied = op.GetTotalSize({"tree"}, ourOut);
    if (copied != static_cast<double>(bytes) || prompt.reports != 0) {
      std::fprintf(stderr, "our copy is incomplete: %.0f of %llu bytes, %d reports\n", copied,
                   static_cast<unsigned long long>(bytes), prompt.reports);
      ok = false;
    }
    if (r % 2 == 0) {
      delRm(), delOurs();
    } else {
      delOurs(), delRm();
    }
    if (std::filesystem::exists(ourOut + "/tree") || prompt.reports != 0) {
      std::fprintf(stderr, "our delete left something behind\n");
      ok = false;
    }
    std::printf("round %d: copy cp -r %.3f s, ours %.3f s; delete rm -r %.3f s, ours %.3f s\n", r + 1, tCp,
                tOurs, tRm, tDel);
    copyRatios.push_back(tCp / tOurs);
    deleteRatios.push_back(tRm / tDel);
    bestCp = std::min(bestCp, tCp);
    bestOurs = std::min(bestOurs, tOurs);
    bestRm = std::min(bestRm, tRm);
    bestDel = std::min(bestDel, tDel);
  }

  std::error_code ec;
  std::filesystem::remove_all(work, ec);
  if (!ok) return 1;

  std::printf("tree: %d small files + 4 large, %.1f MB\n", smallFiles, mb);
  std::printf("copy:   cp -r %.3f s (%.1f MB/s)   CopyFiles %.3f s (%.1f MB/s)   ratio %.2fx\n", bestCp,
              mb / bestCp, bestOurs, mb / bestOurs, bestCp / bestOurs);
  std::printf("delete: rm -r %.3f s   DeleteFiles %.3f s   ratio %.2fx\n", bestRm, bestDel, bestRm / bestDel);
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  };
  std::printf("median of the per-round ratios: copy %.2fx, delete %.2fx\n", median(copyRatios),
              median(deleteRatios));
  std::printf("goal: ratios >= 0.90x (throughput relative to the peer)\n");
  return 0;
}
