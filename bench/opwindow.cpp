// bench-links: vantrel_fileops_qt
// opwindow.cpp - what the operation window costs a copy of many small files:
// the engine alone against the same engine behind the window (gauge, caption
// and served events after the items), on the same tree in the same run.
//
// The tree (under --dir, default /tmp) holds --small files (default 10,000,
// 1 to 16 KiB each, in directories of 100). Each round copies it once each
// way, alternating which goes first, with the page cache written back (sync)
// before each timing; the copy is removed after each timing. Best times and
// the median per-round ratio are printed. Run with QT_QPA_PLATFORM=offscreen
// where there is no display.
//
//   bench_opwindow [--small N] [--rounds N] [--dir PATH]
#include <time.h>
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

#include <QApplication>

#include "fileops/fmoperation.h"
#include "fileops/qt/operationform.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

void MakeTree(const fs::path& root, int files) {
  std::string data(16384, 'x');
  unsigned seed = 12345;
  for (int i = 0; i < files; ++i) {
    const fs::path dir = root / fs::path("d").concat(std::to_string(i / 100));
    if (i % 100 == 0) fs::create_directories(dir);
    seed = seed * 1103515245u + 12345u;
    const size_t size = 1024 + (seed >> 8) % 15360;
    std::ofstream(dir / fs::path("f").concat(std::to_string(i)), std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(size));
  }
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of this thread, user and system: what the copy and the window
// cost, untouched by other programs competing for the machine.
double ThreadCpu() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  int small = 10000, rounds = 5;
  std::string base = "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--small")) small = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir")) base = argv[i + 1];
  }
  QApplication app(argc, argv);
  const fs::path root = fs::path(base) / ("vantrel-opwindow-" + std::to_string(::getpid()));
  const fs::path src = root / "src";
  const fs::path dst = root / "dst";
  fs::create_directories(src);
  fs::create_directories(dst);
  MakeTree(src, small);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(src)) names.push_back(e.path().filename().string());

  vantrel::fileops::TFMOperation bare;
  vantrel::fileops::TOperationForm window(nullptr, QStringLiteral("Vantrel"));
  // The time spent in the window's progress handler, which is all the window
  // adds to the engine's work: a figure the machine's noise does not blur.
  Clock::duration inHandler{};
  long events = 0;
  const auto handler = window.FMOperation.OnGlobalDone;
  window.FMOperation.OnGlobalDone = [&](vantrel::fileops::TFMOperation& op, int percent) {
    const auto start = Clock::now();
    handler(op, percent);
    inHandler += Clock::now() - start;
    ++events;
  };

  double handlerShare = 0;
  double lastCpu = 0;
  long windowEvents = 0;
  double windowHandlerMs = 0;
  auto timed = [&](bool withWindow) {
    ::sync();
    inHandler = {};
    events = 0;
    const auto start = Clock::now();
    const double cpu0 = ThreadCpu();
    if (withWindow) {
      window.Begin(QStringLiteral("Copy files...Wait"));
      window.FMOperation.CopyFiles(names, src.string(), dst.string());
      window.End();
    } else {
      bare.CopyFiles(names, src.string(), dst.string());
    }
    const double s = Seconds(Clock::now() - start);
    lastCpu = ThreadCpu() - cpu0;
    if (withWindow) {
      handlerShare = std::max(handlerShare, Seconds(inHandler) / s);
      windowEvents = events;
      windowHandlerMs = Seconds(inHandler) * 1000;
    }
    for (const auto& e : fs::directory_iterator(dst)) fs::remove_all(e.path());
    return s;
  };

  double bestBare = 1e9, bestWindow = 1e9;
  std::vector<double> ratios, cpuRatios;
  double bestBareCpu = 1e9, bestWindowCpu = 1e9;
  for (int r = 0; r < rounds; ++r) {
    double b, w, bc, wc;
    if (r % 2 == 0) {
      b = timed(false);
      bc = lastCpu;
      w = timed(true);
      wc = lastCpu;
    } else {
      w = timed(true);
      wc = lastCpu;
      b = timed(false);
      bc = lastCpu;
    }
    bestBareCpu = std::min(bestBareCpu, bc);
    bestWindowCpu = std::min(bestWindowCpu, wc);
    cpuRatios.push_back(wc / bc);
    bestBare = std::min(bestBare, b);
    bestWindow = std::min(bestWindow, w);
    ratios.push_back(w / b);
    std::printf("round %d: wall engine %.3f s, window %.3f s (ratio %.3f); CPU engine %.3f s, "
                "window %.3f s (ratio %.3f); %ld progress events, %.1f ms in the handler\n",
                r + 1, b, w, w / b, bc, wc, wc / bc, windowEvents, windowHandlerMs);
  }
  std::sort(ratios.begin(), ratios.end());
  std::sort(cpuRatios.begin(), cpuRatios.end());
  std::printf("CPU time: best engine %.3f s, best window %.3f s; best ratio %.3f, median ratio %.3f\n",
              bestBareCpu, bestWindowCpu, bestWindowCpu / bestBareCpu,
              cpuRatios[cpuRatios.size() / 2]);
  std::printf("%d small files: best engine %.3f s, best window %.3f s; best-time ratio %.3f, "
              "median ratio %.3f (window time / engine time)\n",
              small, bestBare, bestWindow, bestWindow / bestBare, ratios[ratios.size() / 2]);
  std::printf("largest share of a windowed copy spent in the window's handler: %.2f %%\n",
              handlerShare * 100);
  fs::remove_all(root);
  return 0;
}
