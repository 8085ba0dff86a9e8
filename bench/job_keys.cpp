// bench-links: vantrel_fileops_qt vantrel_panels Qt6::Widgets
// job_keys.cpp - key latency in a file panel while a large copy runs: as a
// background job on a worker thread, against the same copy in front on the
// window's thread behind the operation window (which serves the window's
// events from the engine's progress event), in the same run.
//
// A tree of --mb MiB (default 4096: files of 64 MiB and a directory of a
// thousand small ones) is made under --dir (default /var/tmp) and copied
// beside itself, once each way; the copy is removed (and written back) after
// each run. A key thread posts a cursor key to the panel every 10 ms and
// stamps it; an application-wide filter, which runs before anything else
// looks at the key, takes the stamp when the window's thread gets to it.
//
//   bench_job_keys [--mb N] [--dir PATH]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QInputDevice>
#include <QKeyEvent>
#include <QTimer>

#include "fileops/fmoperation.h"
#include "fileops/job.h"
#include "fileops/qt/operationform.h"
#include "panels/qt/fmpanel.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace vantrel;

struct Stamps : QObject {
  QObject* target = nullptr;
  std::mutex mutex;
  std::deque<Clock::time_point> pending;
  std::vector<double> latenciesMs;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == target && event->type() == QEvent::KeyPress) {
      std::lock_guard lock(mutex);
      if (!pending.empty()) {
        latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - pending.front()).count());
        pending.pop_front();
      }
    }
    return false;
  }
};

void MakeTree(const fs::path& root, int mb) {
  fs::create_directories(root / "small");
  std::string block(1 << 20, '\0');
  unsigned seed = 7;
  for (char& c : block) seed = seed * 1103515245u + 12345u, c = static_cast<char>(seed >> 16);
  for (int i = 0; i < mb / 64; ++i) {
    std::ofstream out(root / ("big" + std::to_string(i)), std::ios::binary);
    for (int m = 0; m < 64; ++m) {
      block[static_cast<size_t>(m)] = static_cast<char>(i);
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  for (int i = 0; i < 1000; ++i) {
    std::string name = "f";  // appended: GCC 12 misreads "f" + to_string as an overlapping copy
    name += std::to_string(i);
    std::ofstream(root / "small" / name, std::ios::binary).write(block.data(), 4096);
  }
}

struct Result {
  double median = 0, p99 = 0, max = 0, seconds = 0;
  size_t keys = 0;
};

Result Measure(panels::TFMPanel& panel, const std::function<void(QObject& stamps)>& copy) {
  Stamps stamps;
  stamps.target = &panel;
  qApp->installEventFilter(&stamps);
  std::atomic<bool> stop{false};
  std::thread keys([&] {
    auto next = Clock::now();
    int k = 0;
    while (!stop) {
      {
        std::lock_guard lock(stamps.mutex);
        stamps.pending.push_back(Clock::now());
      }
      QCoreApplication::postEvent(&panel, new QKeyEvent(QEvent::KeyPress, (k++ % 2) ? Qt::Key_Up : Qt::Key_Down,
                                                        Qt::NoModifier));
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
    }
  });
  const auto start = Clock::now();
  copy(stamps);
  Result r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  keys.join();
  QCoreApplication::processEvents();
  qApp->removeEventFilter(&stamps);
  std::vector<double> l = stamps.latenciesMs;
  std::sort(l.begin(), l.end());
  r.keys = l.size();
  if (!l.empty()) {
    r.median = l[l.size() / 2];
    r.p99 = l[std::min(l.size() - 1, l.size() * 99 / 100)];
    r.max = l.back();
  }
  return r;
}

std::vector<std::string> NamesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().native());
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QInputDevice::primaryKeyboard();
  int mb = 4096;
  std::string dir = "/var/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--mb")) mb = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
  }
  const fs::path base = fs::path(dir) / ("vantrel-bench-keys-" + std::to_string(::getpid()));
  const fs::path src = base / "src", dst = base / "dst";
  MakeTree(src, mb);
  ::sync();
  panels::TFMPanel panel;
  panel.resize(500, 700);
  panel.show();
  panel.ReadDirectory((src / "small").native());
  const std::vector<std::string> names = NamesIn(src);
  std::printf("key every 10 ms in a panel of 1,001 entries while %d MiB are copied (%s)\n", mb, dir.c_str());

  const auto background = [&](QObject&) {
    fs::create_directories(dst);
    fileops::TJobQueue queue;
    queue.Add("copy", fileops::DevicesOf({src.native(), dst.native()}), [&](fileops::TJob& job) {
      fileops::TFMOperation engine;
      job.Attach(engine);
      engine.CopyFiles(names, src.native(), dst.native());
    });
    // The window's thread waits for events as the running program does.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (queue.Jobs().empty()) loop.quit();
    });
    poll.start(20);
    loop.exec();
    queue.WaitIdle(std::chrono::hours(1));
  };
  const auto foreground = [&](QObject& stamps) {
    fs::create_directories(dst);
    fileops::TOperationForm window(&panel);
    window.Begin(QStringLiteral("Copying files.... Please wait."));
    // The window blocks the input from here on: the stamps are taken before
    // its filter drops the keys (the filter installed last runs first).
    qApp->removeEventFilter(&stamps);
    qApp->installEventFilter(&stamps);
    window.FMOperation.CopyFiles(names, src.native(), dst.native());
    window.End();
  };
  Result results[2];
  const char* labels[2] = {"background job", "foreground window"};
  for (int k = 0; k < 2; ++k) {
    results[k] = Measure(panel, k == 0 ? std::function<void(QObject&)>(background) : foreground);
    fs::remove_all(dst);
    ::sync();
    std::printf("%-18s copy %6.2f s  keys %5zu  latency ms: median %6.2f  p99 %7.2f  max %7.2f\n", labels[k],
                results[k].seconds, results[k].keys, results[k].median, results[k].p99, results[k].max);
    std::fflush(stdout);
  }
  std::printf("p99 foreground/background %.1f, median foreground/background %.1f\n",
              results[0].p99 > 0 ? results[1].p99 / results[0].p99 : 0.0,
              results[0].median > 0 ? results[1].median / results[0].median : 0.0);
  fs::remove_all(base);
  return results[0].median < 5 && results[0].p99 < 50 ? 0 : 1;
}
