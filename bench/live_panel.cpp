// bench-links: vantrel_panels Qt6::Widgets
// live_panel.cpp - key latency of a file panel showing a directory of 100,000
// entries while another thread writes 1,000 new files a second into it.
//
// A key thread posts a cursor key to the panel every 10 ms and stamps it; the
// panel's event filter takes the stamp when the key arrives, so the latency
// is the time the window's thread kept the key waiting. Two runs:
//   live    - the panel's own watch: re-reads listed on a worker thread;
//   inline  - the peer: the same 200 ms cadence, each re-read done on the
//             window's thread (TFMPanel::Reread), as a plain timer would.
// Usage: bench_live_panel [entries=100000] [seconds=5]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QInputDevice>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>

#include "panels/qt/fmpanel.h"
#include "panels/qt/livelisting.h"

using Clock = std::chrono::steady_clock;
using vantrel::panels::TFMPanel;

namespace {

struct Stamps : QObject {
  std::mutex mutex;
  std::deque<Clock::time_point> pending;
  std::vector<double> latenciesMs;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      std::lock_guard<std::mutex> lock(mutex);
      if (!pending.empty()) {
        latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - pending.front()).count());
        pending.pop_front();
      }
    }
    return false;
  }
};

void MakeFiles(const std::string& dir, const char* prefix, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string path = dir + "/" + prefix + std::to_string(i) + ".dat";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) ::close(fd);
  }
}

struct Result {
  double median = 0, p99 = 0, max = 0;
  int keys = 0, refreshes = 0;
  double workMax = 0;  // the longest single piece of re-read work on the window's thread, ms
};

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Times, in the window thread's own CPU time, each event delivered to the
// objects it watches: the listing's hand-over and the panel's repaints.
struct WorkTimer : QObject {
  double started = 0;
  double* max;
  explicit WorkTimer(double* m) : max(m) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MetaCall || event->type() == QEvent::Paint) started = ThreadCpuMs();
    return false;
  }
  void Done() {
    if (started > 0) *max = std::max(*max, ThreadCpuMs() - started);
    started = 0;
  }
};

Result Run(const std::string& dir, int seconds, bool live, int round) {
  TFMPanel panel;
  panel.resize(500, 700);
  panel.show();
  panel.SetLive(live);
  panel.ReadDirectory(dir);
  Result result;
  WorkTimer work(&result.workMax);
  // The hand-over ends with listingRefreshed; the repaint it causes follows.
  QObject::connect(&panel, &TFMPanel::listingRefreshed, [&] {
    ++result.refreshes;
    work.Done();
  });
  if (live) panel.LiveListing()->installEventFilter(&work);
  QTimer inlineTimer;
  if (!live) {
    inlineTimer.setInterval(200);
    QObject::connect(&inlineTimer, &QTimer::timeout, [&] {
      const double start = ThreadCpuMs();
      panel.Reread();
      result.workMax = std::max(result.workMax, ThreadCpuMs() - start);
    });
    inlineTimer.start();
  }
  Stamps stamps;
  panel.installEventFilter(&stamps);
  std::atomic<bool> stop{false};
  // The writer: 1,000 new files a second, in steps of 10 every 10 ms.
  std::thread writer([&] {
    const std::string prefix = "new" + std::to_string(round) + "-";
    int n = 0;
    auto next = Clock::now();
    while (!stop) {
      for (int k = 0; k < 10; ++k) {
        const std::string path = dir + "/" + prefix + std::to_string(n++);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
          (void)!::write(fd, "data", 4);
          ::close(fd);
        }
      }
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
    }
  });
  std::thread keys([&] {
    auto next = Clock::now();
    int k = 0;
    while (!stop) {
      {
        std::lock_guard<std::mutex> lock(stamps.mutex);
        stamps.pending.push_back(Clock::now());
      }
      QCoreApplication::postEvent(
          &panel, new QKeyEvent(QEvent::KeyPress, (k++ % 2) ? Qt::Key_Up : Qt::Key_Down, Qt::NoModifier));
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
    }
  });
  // The window's thread waits for events as a running program does.
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  stop = true;
  writer.join();
  keys.join();
  QCoreApplication::processEvents();
  std::vector<double> l = stamps.latenciesMs;
  std::sort(l.begin(), l.end());
  result.keys = static_cast<int>(l.size());
  if (!l.empty()) {
    result.median = l[l.size() / 2];
    result.p99 = l[std::min(l.size() - 1, l.size() * 99 / 100)];
    result.max = l.back();
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Key events name their device: make it here, not first on the key thread.
  QInputDevice::primaryKeyboard();
  const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;
  QTemporaryDir tmp;
  const std::string dir = tmp.path().toStdString();
  MakeFiles(dir, "file", entries);
  std::printf("directory of %d entries, 1,000 new files a second, a key every 10 ms, %d s each\n",
              entries, seconds);
  const Result live = Run(dir, seconds, true, 1);
  const Result peer = Run(dir, seconds, false, 2);
  for (const auto& [name, r] : {std::pair{"live (worker thread)", live}, std::pair{"inline re-read", peer}})
    std::printf("%-22s keys %5d  re-reads %3d  latency ms: median %6.2f  p99 %7.2f  max %7.2f"
                "  window-thread CPU per re-read max %7.2f ms\n",
                name, r.keys, r.refreshes, r.median, r.p99, r.max, r.workMax);
  std::printf("max latency ratio inline/live: %.1f\n", live.max > 0 ? peer.max / live.max : 0.0);
  return live.max < 50.0 ? 0 : 1;
}
