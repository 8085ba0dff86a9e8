// bench-links: vantrel_app
// Searches a generated tree of N files (default 200,000) for a mask and
// compares with `find DIR -name MASK` of the same tree in the same run. Then,
// in the Find file window (offscreen unless a display is chosen), fills the
// result list with 100,000 rows the way a search does (batches shown between
// event processing) against one repaint per row, and runs a whole search
// through the window with every file matching.
//
//   bench_find_files [N] [DIR]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTableView>

#include "tools/file_search.h"
#include "app/dialogs/findfileform.h"

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 200000;
  const std::string root = argc > 2 ? argv[2] : "/tmp/vantrel-bench-find";
  // 200 directories in two levels, files spread over them.
  mkdir(root.c_str(), 0755);
  struct stat st;
  const std::string marker = root + "/.complete-" + std::to_string(n);
  if (stat(marker.c_str(), &st) != 0) {
    for (int i = 0; i < n; ++i) {
      const int d1 = i % 20, d2 = (i / 20) % 10;
      char dir[512], file[600];
      std::snprintf(dir, sizeof dir, "%s/dir%02d", root.c_str(), d1);
      mkdir(dir, 0755);
      std::snprintf(dir, sizeof dir, "%s/dir%02d/sub%d", root.c_str(), d1, d2);
      mkdir(dir, 0755);
      std::snprintf(file, sizeof file, "%s/file%06d.%s", dir, i, i % 10 == 0 ? "txt" : "dat");
      int fd = open(file, O_CREAT | O_WRONLY, 0644);
      if (fd >= 0) close(fd);
    }
    int fd = open(marker.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0) close(fd);
  }
  std::printf("tree %s: %d files\n", root.c_str(), n);

  for (const char* mask : {"*.txt", "file00001?.dat"}) {
    double findBest = 1e9, oursBest = 1e9;
    size_t ours = 0;
    for (int rep = 0; rep < 3; ++rep) {
      auto t0 = Clock::now();
      const std::string cmd = "find '" + root + "' -name '" + mask + "' > /dev/null";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "find failed\n");
      findBest = std::min(findBest, Seconds(t0, Clock::now()));

      vantrel::tools::TFileSearch search;
      ours = 0;
      search.OnFound = [&](vantrel::tools::TFoundFile&&) { ++ours; };
      t0 = Clock::now();
      search.Search(mask, root);
      oursBest = std::min(oursBest, Seconds(t0, Clock::now()));
    }
    std::printf("mask %-16s find %7.1f ms   vantrel %7.1f ms (%zu matches)   ratio %.2f\n", mask,
                findBest * 1000, oursBest * 1000, ours, oursBest / findBest);
  }
  // --- The result list of the Find file window ---
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  int qargc = 1;
  QApplication app(qargc, argv);
  vantrel::app::TFindFileForm form;
  form.show();
  QApplication::processEvents();
  vantrel::app::TFoundFilesModel* model = form.Model();
  auto row = [](int i) {
    vantrel::tools::TFoundFile f;
    f.Directory = "/tmp/vantrel-bench-find/dir07/sub3/";
    f.Name = "file" + std::to_string(i) + ".txt";
    f.Size = static_cast<uint64_t>(i) * 4099;
    f.LastWriteTime = vantrel::platform::FileTimeFromUnix(1700000000 + i, 0);
    return f;
  };
  constexpr int kRows = 100000;
  // As a search fills it: rows wait, and each event-processing point shows
  // the rows found since the last one (a batch per 4096 entries at most).
  model->Clear();
  auto t0 = Clock::now();
  for (int i = 0; i < kRows; ++i) {
    model->Add(row(i));
    if (i % 4096 == 4095) {
      model->Flush();
      QApplication::processEvents();
    }
  }
  model->Flush();
  form.ResultsView()->repaint();
  const double batched = Seconds(t0, Clock::now());
  // One insertion and one repaint per row, measured on fewer rows.
  constexpr int kPerRow = 3000;
  model->Clear();
  t0 = Clock::now();
  for (int i = 0; i < kPerRow; ++i) {
    model->Add(row(i));
    model->Flush();
    form.ResultsView()->scrollToBottom();
    form.ResultsView()->repaint();
  }
  const double perRow = Seconds(t0, Clock::now()) / kPerRow;
  std::printf("result list, %d rows: batched %7.1f ms   one repaint per row %7.1f ms "
              "(%.3f ms/row x %d)   ratio %.3f\n",
              kRows, batched * 1000, perRow * kRows * 1000, perRow * 1000, kRows,
              batched / (perRow * kRows));

  // A whole search through the window, every file a row. Each row needs the
  // file's size and date, so the peer prints them too (which makes find stat
  // every file as the search does).
  double findAll = 1e9, windowAll = 1e9;
  int rows = 0;
  for (int rep = 0; rep < 3; ++rep) {
    auto a = Clock::now();
    const std::string cmd =
        "find '" + root + "' -name '*' -printf '%p %s %T@\\n' > /dev/null";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "find failed\n");
    findAll = std::min(findAll, Seconds(a, Clock::now()));
    form.MaskEdit()->setText(QStringLiteral("*"));
    form.PathEdit()->setText(QString::fromStdString(root));
    a = Clock::now();
    form.StartButtonClick();
    QApplication::processEvents();
    windowAll = std::min(windowAll, Seconds(a, Clock::now()));
    rows = model->rowCount();
  }
  std::printf("Find file window, mask *: find -printf %%s %%T@ %7.1f ms   window %7.1f ms "
              "(%d rows)   ratio %.2f\n",
              findAll * 1000, windowAll * 1000, rows, windowAll / findAll);
  return 0;
}
