// main.cpp - vnview FILE: the viewer the file manager starts for F3.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include <QApplication>

#include "viewer/viewer_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vnview"));
  std::string path = argc >= 2 ? argv[1] : "";
  // A command line split at the blanks of a name ("my notes.txt") comes back
  // together when that names a file.
  if (argc > 2) {
    std::string joined = argv[1];
    for (int i = 2; i < argc; ++i) joined += std::string(" ") + argv[i];
    struct stat st;
    if (stat(joined.c_str(), &st) == 0) path = joined;
  }
  struct stat st;
  const bool exists = !path.empty() && lstat(path.c_str(), &st) == 0;
  if (path.empty() || (!exists && (path == "--help" || path == "-h"))) {
    std::fputs(vantrel::viewer::KeysHelpText().toLocal8Bit().constData(), path.empty() ? stderr : stdout);
    return path.empty() ? 2 : 0;
  }
  auto* window = new vantrel::viewer::TViewerWindow(path);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  return app.exec();
}
