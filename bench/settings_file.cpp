// bench-links: vantrel_app
// settings_file.cpp - what the settings file costs the main window's start and
// close: an empty file, histories of 500 items in every list (masks,
// commands, hotlist, both directory histories, both tab lists), and the same
// with a line of --long-mb MiB (default 200) in it; against Python's
// configparser reading and writing the same file (the peer), in the same run.
//
// Each case runs in a child process of its own, so that its peak memory is
// its own: the window is made on the file (start) and closed, which writes
// the file (close); both are timed in CPU time of the process, untouched by
// other programs competing for the machine. Best of --rounds (default 5).
// Run with QT_QPA_PLATFORM=offscreen where there is no display (set when
// unset).
//
//   bench_settings_file [--rounds N] [--long-mb N] [--dir PATH]
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>

#include "app/window/mainform.h"

namespace {

namespace fs = std::filesystem;

double ProcessCpu() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A settings file: the usual sections, then `items` items in every list, and
// a line of `longBytes` bytes (none when 0).
void WriteSettings(const fs::path& file, const std::string& dir, int items, size_t longBytes) {
  std::ofstream out(file, std::ios::binary);
  out << "[GENERAL]\nEditor=vi\nLeftPath=" << dir << "\nRightPath=" << dir << "\nHeight=400\n";
  if (longBytes) {
    out << "Junk=";
    const std::string block(1 << 20, 'j');
    for (size_t left = longBytes; left > 0; left -= std::min(left, block.size()))
      out.write(block.data(), static_cast<std::streamsize>(std::min(left, block.size())));
    out << "\n";
  }
  for (const char* section :
       {"MASK HISTORY", "COMMAND HISTORY", "HOTLIST", "LEFT HISTORY", "RIGHT HISTORY"}) {
    out << "[" << section << "]\nCount=" << items << "\n";
    for (int i = 1; i <= items; ++i) out << "Item" << i << "=" << dir << "/some/directory/number/" << i << "\n";
  }
  for (const char* section : {"LEFT TABS", "RIGHT TABS"}) {
    out << "[" << section << "]\nCount=" << std::min(items, 1) << "\n";
    for (int i = 1; i <= items; ++i) out << "Path" << i << "=" << dir << "\nCursor" << i << "=x\n";
  }
}

struct TTimes {
  double start = 1e9, close = 1e9;
  long peakKiB = 0;
};

// One start and close of the window in a child process.
TTimes RunWindow(const fs::path& ini) {
  int fds[2];
  if (::pipe(fds) != 0) std::exit(1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    int argc = 1;
    char name[] = "bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    const double t0 = ProcessCpu();
    auto* form = new vantrel::app::TMainForm(ini.string());
    const double t1 = ProcessCpu();
    form->close();
    const double t2 = ProcessCpu();
    const double times[2] = {t1 - t0, t2 - t1};
    if (::write(fds[1], times, sizeof times) != sizeof times) ::_exit(1);
    ::_exit(0);
  }
  ::close(fds[1]);
  double times[2] = {0, 0};
  const bool got = ::read(fds[0], times, sizeof times) == sizeof times;
  ::close(fds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  if (!got) {
    std::fprintf(stderr, "the window run failed\n");
    std::exit(1);
  }
  return {times[0], times[1], usage.ru_maxrss};
}

// The processor time of a python3 child running `script`.
double PythonCpu(const std::string& script) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp("python3", "python3", "-c", script.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The peer: configparser reads the file and writes it back, in CPU time of
// its own process; the interpreter's start (with the module imported) is
// measured alone, and the best of each is compared, not each round's
// difference (which the start's noise would take to zero for a small file).
double PeerCpu(const fs::path& ini, const fs::path& copy) {
  return PythonCpu(
      "import configparser\n"
      "c = configparser.ConfigParser(strict=False, interpolation=None)\n"
      "c.optionxform = str\n"
      "c.read('" + ini.string() + "', encoding='utf-8-sig')\n"
      "with open('" + copy.string() + "', 'w') as f: c.write(f)\n");
}
double PeerStartCpu() { return PythonCpu("import configparser\n"); }

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  size_t longMiB = 200;
  std::string base = "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--long-mb")) longMiB = static_cast<size_t>(std::atol(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--dir")) base = argv[i + 1];
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const fs::path dir = fs::path(base) / ("bench-settings-" + std::to_string(::getpid()));
  fs::create_directories(dir / "home");
  ::setenv("HOME", (dir / "home").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir / "home").c_str(), 1);

  const struct {
    const char* name;
    int items;
    size_t longBytes;
  } cases[] = {
      {"empty histories", 0, 0},
      {"500 items per list", 500, 0},
      {"500 items and a long line", 500, longMiB << 20},
  };
  std::printf("%-28s %10s %10s %10s %14s %8s\n", "settings file", "size", "start", "close",
              "peak memory", "peer");
  for (const auto& c : cases) {
    const fs::path ini = dir / "vantrel.ini";
    TTimes best;
    double peer = 1e9, peerStart = 1e9;
    uintmax_t size = 0;
    for (int r = 0; r < rounds; ++r) {
      // The window writes the file at its close: each round starts from the
      // same file. Ours and the peer alternate.
      WriteSettings(ini, dir.string(), c.items, c.longBytes);
      size = fs::file_size(ini);
      const TTimes t = RunWindow(ini);
      best.start = std::min(best.start, t.start);
      best.close = std::min(best.close, t.close);
      best.peakKiB = std::max(best.peakKiB, t.peakKiB);
      WriteSettings(ini, dir.string(), c.items, c.longBytes);
      peer = std::min(peer, PeerCpu(ini, dir / "peer.ini"));
      peerStart = std::min(peerStart, PeerStartCpu());
    }
    std::printf("%-28s %8.1f MB %7.1f ms %7.1f ms %11.1f MB %5.1f ms\n", c.name,
                static_cast<double>(size) / (1 << 20), best.start * 1e3, best.close * 1e3,
                static_cast<double>(best.peakKiB) / 1024, std::max(0.0, peer - peerStart) * 1e3);
  }
  fs::remove_all(dir);
  return 0;
}
