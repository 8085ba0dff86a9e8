// bench-links: vantrel_app Qt6::Widgets
//
// zip_window_list - how fast the ZIP window lists a large archive.
//
// Builds (once, in /tmp) a tree of 50,000 small files in 500 directories and
// packs it with Info-ZIP zip, then times, in alternating rounds:
//   unzip -l     Info-ZIP's listing of the archive (output to /dev/null);
//   ZIP window   a fresh archive component reads the archive's directory,
//                the ZIP window fills its list from it, is shown offscreen
//                and paints its first screen of rows.
// Each figure is the best wall time of the rounds. The window must take at
// most 1.5 times unzip -l; exit status 1 when it does not.
//
// Usage: bench_zip_window_list [ROUNDS]
//        bench_zip_window_list 1 ARCHIVE   opens ARCHIVE in the window once and
//                                          prints its rows (for bench/zip_memory.sh)
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QTableView>

#include "zip/ui/zippanel.h"
#include "zip/zip_writer.h"

namespace {

constexpr int kDirs = 500;
constexpr int kFilesPerDir = 100;
const char* const kTree = "/tmp/vantrel-bench-ziplist";
const char* const kArchive = "/tmp/vantrel-bench-ziplist.zip";

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool MakeArchive() {
  if (Exists(kArchive)) return true;
  std::printf("building %s (%d entries)...\n", kArchive, kDirs * kFilesPerDir);
  std::string cmd = std::string("rm -rf ") + kTree + " && mkdir -p " + kTree;
  if (std::system(cmd.c_str()) != 0) return false;
  for (int d = 0; d < kDirs; ++d) {
    char dir[256];
    std::snprintf(dir, sizeof dir, "%s/dir%03d", kTree, d);
    ::mkdir(dir, 0755);
    for (int f = 0; f < kFilesPerDir; ++f) {
      char file[320];
      std::snprintf(file, sizeof file, "%s/file_%05d_%s.txt", dir, d * kFilesPerDir + f,
                    f % 2 ? "report" : "data");
      if (FILE* out = std::fopen(file, "w")) {
        std::fprintf(out, "%d\n", f);
        std::fclose(out);
      }
    }
  }
  cmd = std::string("cd ") + kTree + " && zip -q -r " + kArchive + " . && rm -rf " + kTree;
  return std::system(cmd.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  if (argc > 2) {
    vantrel::zip::TZipWriter component;
    vantrel::zipui::TZIPpanel window;
    window.Load(component, argv[2], QStringLiteral("archive"));
    window.show();
    window.ListView()->viewport()->repaint();
    QCoreApplication::processEvents();
    std::printf("%d rows\n", window.Model()->rowCount());
    return 0;
  }
  if (!MakeArchive()) {
    std::fprintf(stderr, "cannot build the archive (is Info-ZIP zip installed?)\n");
    return 2;
  }

  vantrel::zipui::TZIPpanel window;
  const std::string unzipList = std::string("unzip -l ") + kArchive + " > /dev/null";
  double bestUnzip = 1e9, bestWindow = 1e9;
  int rows = 0;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(unzipList.c_str()) != 0) {
      std::fprintf(stderr, "unzip -l failed\n");
      return 2;
    }
    bestUnzip = std::min(bestUnzip, Seconds(std::chrono::steady_clock::now() - t0));

    t0 = std::chrono::steady_clock::now();
    {
      // A fresh component each round: nothing is left from the last read.
      vantrel::zip::TZipWriter component;
      window.Load(component, kArchive, QStringLiteral("vantrel-bench-ziplist.zip"));
      window.show();
      window.ListView()->viewport()->repaint();
      QCoreApplication::processEvents();
      rows = window.Model()->rowCount();
    }
    bestWindow = std::min(bestWindow, Seconds(std::chrono::steady_clock::now() - t0));
    window.hide();
  }

  const double ratio = bestWindow / bestUnzip;
  std::printf("entries listed      %d\n", rows);
  std::printf("unzip -l            %.1f ms\n", bestUnzip * 1e3);
  std::printf("ZIP window          %.1f ms\n", bestWindow * 1e3);
  std::printf("ratio               %.2f (limit 1.50)\n", ratio);
  if (rows != kDirs * kFilesPerDir) {
    std::fprintf(stderr, "expected %d rows\n", kDirs * kFilesPerDir);
    return 1;
  }
  return ratio <= 1.5 ? 0 : 1;
}
