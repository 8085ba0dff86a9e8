// main.cpp - vnview FILE: the viewer the file manager starts for F3.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <QApplication>

#include "platform/install_paths.h"
#include "platform/qt/icons.h"
#include "platform/qt/language_words.h"
#include "viewer/viewer_window.h"

namespace {

bool Exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

// --help and --version are answered on the terminal before the toolkit looks
// for a display. A file of that name in the current folder is shown instead.
constexpr const char* kUsage = "Usage: vnview FILE\nTry 'vnview --help' for more information.\n";

bool AnswerOnTerminal(int argc, char** argv, int* status) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    *status = 2;
    return true;
  }
  if (argc != 2 || Exists(argv[1])) return false;
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(vantrel::viewer::KeysHelpText().toLocal8Bit().constData(), stdout);
  } else if (!std::strcmp(argv[1], "--version")) {
    std::printf("vnview %s\n", vantrel::platform::ProgramVersion());
  } else {
    return false;
  }
  *status = 0;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string language = vantrel::viewer::TakeLanguageOption(argc, argv);
  if (int status = 0; AnswerOnTerminal(argc, argv, &status)) return status;
  QApplication app(argc, argv);
  vantrel::platform::InstallLanguageWords(language);
  QApplication::setApplicationName(QStringLiteral("vnview"));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrel.Vantrel.Viewer"));
  QApplication::setWindowIcon(vantrel::platform::ProgramIcon());
  if (argc < 2) {  // only toolkit options were given
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string path = argv[1];
  // A command line split at the blanks of a name ("my notes.txt") comes back
  // together when that names a file.
  if (argc > 2) {
    std::string joined = argv[1];
    for (int i = 2; i < argc; ++i) joined += std::string(" ") + argv[i];
    if (Exists(joined.c_str())) path = joined;
  }
  auto* window = new vantrel::viewer::TViewerWindow(path);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  return app.exec();
}
