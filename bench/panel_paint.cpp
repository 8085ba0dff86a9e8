// bench-links: vantrel_app Qt6::Widgets
//
// panel_paint - what one key press costs on a panel of 100,000 entries.
//
// Builds a directory of 100,000 files with mixed extensions, lists it in a
// focused TFMPanel (offscreen, a window about fifty rows high) and times:
//   paint      a full repaint of the visible rows;
//   down       Down arrow, including the repaint it causes (most presses
//              scroll the list, which repaints the whole screen);
//   insert     the Insert key's work: toggle the cursor mark, then Down;
//   pagedown   Page Down, including the repaint.
// Each figure is the mean of the thread's CPU time over many presses, which
// must stay under 5 ms; the 99th percentile and the median wall time are
// printed beside it (both suffer from whatever else the machine runs). Exit
// status 1 when a mean does not.
//
// Usage: bench_panel_paint [ENTRIES]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <QWidget>

#include "panels/qt/fmpanel.h"
#include "platform/qt/icons.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

// Wall time varies with whatever else the machine runs; the CPU time of
// this thread is the work a press costs, and the pass criterion.
double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Figure {
  const char* name;
  int runs = 0;
  double cpuMean = 0, cpuP99 = 0, wallMedian = 0;
};

Figure Time(const char* name, int runs, const std::function<void()>& step) {
  std::vector<double> cpu, wall;
  for (int i = 0; i < runs; ++i) {
    const auto w0 = Clock::now();
    const double c0 = ThreadCpuMs();
    step();
    cpu.push_back(ThreadCpuMs() - c0);
    wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - w0).count());
  }
  Figure f{name, runs};
  for (double c : cpu) f.cpuMean += c / runs;
  std::sort(cpu.begin(), cpu.end());
  std::sort(wall.begin(), wall.end());
  f.cpuP99 = cpu[static_cast<size_t>(runs * 99 / 100)];
  f.wallMedian = wall[static_cast<size_t>(runs / 2)];
  return f;
}

void Press(QWidget* target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &release);
  // The repaint the key scheduled happens here, as in the event loop.
  QApplication::processEvents();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  vantrel::platform::InitLocale();
  vantrel::platform::EnsureIconTheme();
  const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;

  char templ[] = "/tmp/vantrel-panel-bench-XXXXXX";
  if (mkdtemp(templ) == nullptr) return 2;
  const std::string dir = templ;
  const char* exts[] = {".txt", ".cpp", ".png", ".zip", ".pdf", "", ".tar.gz", ".html"};
  for (int i = 0; i < entries; ++i) {
    const std::string name = dir + "/file" + std::to_string(1000000 + i) + exts[i % 8];
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) ::close(fd);
  }

  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* panel = new vantrel::panels::TFMPanel(&window);
  layout->addWidget(panel);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(13);
  panel->setFont(font);
  panel->SetNameWidth(180);
  window.resize(520, 880);
  window.show();
  window.activateWindow();
  panel->setFocus();
  for (int i = 0; i < 20 && !panel->hasFocus(); ++i) QApplication::processEvents();

  const auto r0 = Clock::now();
  panel->ReadDirectory(dir);
  QApplication::processEvents();
  const double readMs = std::chrono::duration<double, std::milli>(Clock::now() - r0).count();

  // Warm the icon cache and the glyph caches, as any first screen does.
  panel->viewport()->repaint();

  std::vector<Figure> figures;
  figures.push_back(Time("paint", 200, [&] { panel->viewport()->repaint(); }));
  figures.push_back(Time("down", 2000, [&] { Press(panel, Qt::Key_Down); }));
  figures.push_back(Time("insert", 2000, [&] {
    panel->ToggleMark(panel->Cursor());
    Press(panel, Qt::Key_Down);
  }));
  figures.push_back(Time("pagedown", 1000, [&] { Press(panel, Qt::Key_PageDown); }));

  std::printf("panel of %d entries, %d rows on screen, focused=%s, read+sort %.1f ms\n",
              panel->Count(), panel->PageRows(), panel->hasFocus() ? "yes" : "no", readMs);
  std::printf("%-10s %6s %13s %12s %16s  %s\n", "step", "runs", "cpu mean ms", "cpu p99 ms",
              "wall median ms", "mean under 5 ms");
  bool ok = true;
  for (const Figure& f : figures) {
    const bool under = f.cpuMean < 5.0;
    ok = ok && under;
    std::printf("%-10s %6d %13.3f %12.3f %16.3f  %s\n", f.name, f.runs, f.cpuMean, f.cpuP99,
                f.wallMedian, under ? "yes" : "NO");
  }
  std::printf("cursor ends at %d, %d marked\n", panel->Cursor(), panel->Model().MarkedCount());

  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return ok ? 0 : 1;
}
