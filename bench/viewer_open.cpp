// bench-links: vantrel_viewer Qt6::Widgets
//
// viewer_open - how long the viewer takes to show the first screen and the
// end of a large log file, against less reaching the end of the same file.
//
// For log files of 10 MB, 100 MB and 1 GB (made once in the work folder),
// each program is started as a fresh process, best of three, wall time:
//   vnview first   process start to the first screen painted (offscreen);
//   vnview end     ... and then End pressed and the last line painted;
//   less +G        less in an 80x24 pseudo-terminal, started at the end,
//                  until the last line is on its screen;
//   head -c 64K    the floor: a process that reads the first 64 KiB.
// The viewer's process is this program started again with --child, which
// builds the same window vnview builds. The ratio is vnview end / less +G.
// Exit status 1 when the first screen of any file takes 0.3 s or more.
//
// Usage: bench_viewer_open [WORKDIR] (default: $TMPDIR or /tmp)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
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

#include "viewer/text_view.h"
#include "viewer/viewer_window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kLastLine = "END-OF-LOG the last line of the benchmark file";

double Now() {
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

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
  double first = 0, end = 0;
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
      stage = 1;
      QKeyEvent key(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
      QApplication::sendEvent(view, &key);
      view->viewport()->repaint();
    } else if (stage == 1) {
      end = Now() - start;
      stage = 2;
      app.quit();
    }
  };
  view->viewport()->installEventFilter(&watch);
  window.show();
  app.exec();
  const QStringList rows = view->VisibleRows();
  const bool atEnd = !rows.isEmpty() && rows.last() == QLatin1String(kLastLine);
  std::printf("%.6f %.6f %d\n", first, end, atEnd ? 1 : 0);
  return atEnd ? 0 : 1;
}

// Runs this program as the viewer's child; returns {first, end} seconds.
bool TimeViewer(const char* self, const std::string& file, double& first, double& end) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const double start = Now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string when = std::to_string(start);
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
  return n > 0 && std::sscanf(buffer, "%lf %lf %d", &first, &end, &ok) == 3 && ok == 1;
}

// less +G FILE in a pseudo-terminal until the last line shows; seconds.
double TimeLess(const std::string& file) {
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
  if (pid < 0) return -1;
  std::string screen;
  double took = -1;
  const double deadline = start + 120;
  while (Now() < deadline) {
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    screen.append(buffer, static_cast<size_t>(n));
    if (screen.find(kLastLine) != std::string::npos) {
      took = Now() - start;
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

double TimeHead(const std::string& file) {
  const std::string command = "head -c 65536 '" + file + "' > /dev/null";
  const double start = Now();
  if (std::system(command.c_str()) != 0) return -1;
  return Now() - start;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return Child(argc, argv, argv[2], std::atof(argv[3]));
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = argc > 1 ? argv[1] : (tmp ? tmp : "/tmp");
  std::printf("%-8s %14s %14s %14s %14s %10s\n", "file", "vnview first", "vnview end", "less +G",
              "head -c 64K", "end/less");
  bool fast = true;
  for (uint64_t mb : {10ull, 100ull, 1024ull}) {
    const std::string file = MakeLog(dir, mb << 20);
    if (file.empty()) {
      std::fprintf(stderr, "cannot write in %s\n", dir.c_str());
      return 2;
    }
    double bestFirst = 1e9, bestEnd = 1e9, bestLess = 1e9, bestHead = 1e9;
    for (int run = 0; run < 3; ++run) {
      double first = 0, end = 0;
      if (!TimeViewer(argv[0], file, first, end)) {
        std::fprintf(stderr, "the viewer did not show the end of %s\n", file.c_str());
        return 2;
      }
      bestFirst = std::min(bestFirst, first);
      bestEnd = std::min(bestEnd, end);
      const double less = TimeLess(file);
      if (less > 0) bestLess = std::min(bestLess, less);
      const double head = TimeHead(file);
      if (head > 0) bestHead = std::min(bestHead, head);
    }
    std::printf("%-8s %12.1fms %12.1fms %12.1fms %12.1fms %10.2f\n",
                (std::to_string(mb) + "MB").c_str(), bestFirst * 1e3, bestEnd * 1e3, bestLess * 1e3,
                bestHead * 1e3, bestEnd / bestLess);
    if (bestFirst >= 0.3) fast = false;
  }
  return fast ? 0 : 1;
}
