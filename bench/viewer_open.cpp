// bench-links: vantrel_viewer Qt6::Widgets
//
// viewer_open - how long the viewer takes to show the first screen and the
// end of a large log file, against less reaching the end of the same file.
//
// For log files of 10 MB, 100 MB and 1 GB (made once in the work folder),
// each program is started as a fresh process, best of three; each figure is
// the process's CPU time (user + system, from exec on), which a busy shared
// machine does not inflate, with the wall time beside it:
//   vnview first   process start to the first screen painted (offscreen);
//   vnview end     ... and then End pressed and the last line painted;
//   less +G        less in an 80x24 pseudo-terminal, started at the end,
//                  until the last line is on its screen;
//   head -c 64K    the floor of any process that reads the first 64 KiB;
//   Qt window      the floor of any Qt program: an empty window's first
//                  paint (offscreen), so "vnview first" less this is what
//                  the viewer itself costs.
// Then the search for the last line's words from the top, case-insensitive:
//   vnview find    TViewDocument::Find in this process, thread CPU time;
//   grep -ci       grep counting the same words, process CPU time.
// The viewer's process is this program started again with --child, which
// builds the same window vnview builds. The ratio is vnview end / less +G,
// in CPU and (in brackets) wall time.
// Exit status 1 when the first screen of any file takes 0.3 s of CPU or more.
//
// Usage: bench_viewer_open [WORKDIR] (default: $TMPDIR or /tmp)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include "viewer/document.h"
#include "viewer/text_view.h"
#include "viewer/viewer_window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kLastLine = "END-OF-LOG the last line of the benchmark file";

double Now() {
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double Seconds(const struct timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// CPU time of this process so far.
double CpuNow() {
  struct rusage r;
  getrusage(RUSAGE_SELF, &r);
  return Seconds(r.ru_utime) + Seconds(r.ru_stime);
}

// Wall and CPU seconds of one measurement.
struct TTime {
  double wall = 1e9, cpu = 1e9;
  void Keep(const TTime& t) {
    wall = std::min(wall, t.wall);
    cpu = std::min(cpu, t.cpu);
  }
};

std::string MakeLog(const std::string& dir, uint64_t bytes) {
  const std::string path = dir + "/vantrel-bench-" + std::to_string(bytes >> 20) + "mb.log";
  if (FILE* existing = std::fopen(path.c_str(), "rb")) {
    std::fseek(existing, 0, SEEK_END);
    const long size = std::ftell(existing);
    std::fclose(existing);
    if (size > 0 && static_cast<uint64_t>(size) >= bytes) return path;
  }
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return {};
  std::string block;
  for (int i = 0; block.size() < (1u << 20); ++i)
    block += "2026-01-01 12:00:" + std::to_string(10 + i % 50) + " INFO worker " + std::to_string(i % 97) +
             " served /api/items/" + std::to_string(i) + " in " + std::to_string(i % 300) + " ms\n";
  for (uint64_t written = 0; written + block.size() < bytes; written += block.size())
    std::fwrite(block.data(), 1, block.size(), out);
  std::fprintf(out, "%s\n", kLastLine);
  std::fclose(out);
  return path;
}

// --child FILE START: the viewer window, timed from START (steady clock).
int Child(int argc, char** argv, const std::string& file, double start) {
  QApplication app(argc, argv);
  vantrel::viewer::TViewerWindow window(file);
  window.resize(1000, 700);
  double first = 0, end = 0, cpuFirst = 0, cpuEnd = 0;
  auto* view = window.TextView();
  struct TPaintWatch : QObject {
    std::function<void()> painted;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) QTimer::singleShot(0, [this] { painted(); });
      return false;
    }
  } watch;
  int stage = 0;
  watch.painted = [&] {
    if (stage == 0) {
      first = Now() - start;
      cpuFirst = CpuNow();
      stage = 1;
      QKeyEvent key(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
      QApplication::sendEvent(view, &key);
      view->viewport()->repaint();
    } else if (stage == 1) {
      end = Now() - start;
      cpuEnd = CpuNow();
      stage = 2;
      app.quit();
    }
  };
  view->viewport()->installEventFilter(&watch);
  window.show();
  app.exec();
  const QStringList rows = view->VisibleRows();
  const bool atEnd = !rows.isEmpty() && rows.last() == QLatin1String(kLastLine);
  std::printf("%.6f %.6f %d %.6f %.6f\n", first, end, atEnd ? 1 : 0, cpuFirst, cpuEnd);
  return atEnd ? 0 : 1;
}

// --empty START: an empty window's first paint, timed from START.
int EmptyChild(int argc, char** argv, double start) {
  QApplication app(argc, argv);
  QWidget window;
  window.resize(1000, 700);
  struct TPaintWatch : QObject {
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) QTimer::singleShot(0, qApp, &QApplication::quit);
      return false;
    }
  } watch;
  window.installEventFilter(&watch);
  window.show();
  app.exec();
  const double cpu = CpuNow();
  std::printf("%.6f 0 1 %.6f 0\n", Now() - start, cpu);
  return 0;
}

// Runs this program as the viewer's child (or, without a file, as the empty
// window); returns {first, end} seconds.
bool TimeViewer(const char* self, const std::string& file, TTime& first, TTime& end) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const double start = Now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string when = std::to_string(start);
    if (file.empty())
      execl(self, self, "--empty", when.c_str(), static_cast<char*>(nullptr));
    else
      execl(self, self, "--child", file.c_str(), when.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buffer[256] = {};
  const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  int ok = 0;
  return n > 0 &&
         std::sscanf(buffer, "%lf %lf %d %lf %lf", &first.wall, &end.wall, &ok, &first.cpu, &end.cpu) == 5 &&
         ok == 1;
}

// CPU seconds a running process has used (from /proc, in clock ticks).
double CpuOf(pid_t pid) {
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return -1;
  char buffer[1024] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
  std::fclose(f);
  // Fields after the command name, which ends at the last ')': utime and
  // stime are the 12th and 13th of them.
  const char* p = std::strrchr(buffer, ')');
  if (n == 0 || p == nullptr) return -1;
  unsigned long utime = 0, stime = 0;
  if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return -1;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// less +G FILE in a pseudo-terminal until the last line shows; its CPU time
// is read at that moment.
TTime TimeLess(const std::string& file) {
  struct winsize size = {24, 80, 0, 0};
  int master = -1;
  const double start = Now();
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    setenv("TERM", "xterm", 1);
    unsetenv("LESS");
    unsetenv("LESSOPEN");
    unsetenv("LESSCLOSE");
    execlp("less", "less", "+G", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) return {};
  std::string screen;
  TTime took;
  const double deadline = start + 120;
  while (Now() < deadline) {
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    screen.append(buffer, static_cast<size_t>(n));
    if (screen.find(kLastLine) != std::string::npos) {
      took.wall = Now() - start;
      took.cpu = CpuOf(pid);
      break;
    }
    if (screen.size() > (1u << 20)) screen.erase(0, screen.size() - 4096);
  }
  (void)!write(master, "q", 1);
  usleep(20000);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  close(master);
  return took;
}

// A program run to its end with its output thrown away: wall and CPU time.
TTime TimeProgram(const std::vector<const char*>& argv) {
  const double start = Now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    std::vector<char*> args;
    for (const char* a : argv) args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  struct rusage usage {};
  int status = 0;
  wait4(pid, &status, 0, &usage);
  if (status != 0) return {};
  return {Now() - start, Seconds(usage.ru_utime) + Seconds(usage.ru_stime)};
}

double ThreadCpu() {
  struct timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// The viewer's search for the last line, from the top, not case-sensitive.
TTime TimeFind(const std::string& file) {
  vantrel::viewer::TViewDocument doc;
  if (!doc.Open(file)) return {};
  const double wall = Now(), cpu = ThreadCpu();
  const auto hit = doc.Find({QStringLiteral("end-of-log THE LAST"), false, false, 0});
  if (!hit) return {};
  return {Now() - wall, ThreadCpu() - cpu};
}

std::string Cell(const TTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f (%.0f)", t.cpu * 1e3, t.wall * 1e3);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return Child(argc, argv, argv[2], std::atof(argv[3]));
  if (argc == 3 && std::strcmp(argv[1], "--empty") == 0) return EmptyChild(argc, argv, std::atof(argv[2]));
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = argc > 1 ? argv[1] : (tmp ? tmp : "/tmp");
  std::printf("milliseconds of CPU (wall), best of 3; less's CPU in clock ticks of 10 ms\n");
  std::printf("%-7s %14s %14s %14s %14s %14s %11s %14s %14s\n", "file", "vnview first", "vnview end",
              "less +G", "head -c 64K", "Qt window", "end/less", "vnview find", "grep -ci");
  bool fast = true;
  for (uint64_t mb : {10ull, 100ull, 1024ull}) {
    const std::string file = MakeLog(dir, mb << 20);
    if (file.empty()) {
      std::fprintf(stderr, "cannot write in %s\n", dir.c_str());
      return 2;
    }
    TTime first, end, less, head, qt, find, grep;
    for (int run = 0; run < 3; ++run) {
      TTime f, e, q, unused;
      if (!TimeViewer(argv[0], file, f, e)) {
        std::fprintf(stderr, "the viewer did not show the end of %s\n", file.c_str());
        return 2;
      }
      first.Keep(f);
      end.Keep(e);
      less.Keep(TimeLess(file));
      head.Keep(TimeProgram({"head", "-c", "65536", file.c_str()}));
      if (TimeViewer(argv[0], {}, q, unused)) qt.Keep(q);
      find.Keep(TimeFind(file));
      grep.Keep(TimeProgram({"grep", "-c", "-i", "end-of-log THE LAST", file.c_str()}));
    }
    std::printf("%-7s %14s %14s %14s %14s %14s %5.1f (%4.1f) %14s %14s\n", (std::to_string(mb) + "MB").c_str(),
                Cell(first).c_str(), Cell(end).c_str(), Cell(less).c_str(), Cell(head).c_str(),
                Cell(qt).c_str(), end.cpu / std::max(less.cpu, 0.01), end.wall / less.wall,
                Cell(find).c_str(), Cell(grep).c_str());
    if (first.cpu >= 0.3) fast = false;
  }
  return fast ? 0 : 1;
}
