// main.cpp - starts the file manager: the command line, the application
// object, the main window (which reads the settings), and the message loop.
#include <string>
#include <vector>

#include <QApplication>

#include "app/window/mainform.h"
#include "app/window/program_args.h"
#include "platform/install_paths.h"
#include "platform/qt/icons.h"
#include "platform/text.h"

int main(int argc, char* argv[]) {
  using namespace vantrel;
  // --help, --version and a mistyped option are answered before the toolkit
  // looks for a display.
  if (int status = 0;
      app::AnswerOnTerminal(app::ParseProgramArgs({argv + 1, argv + argc}, true), &status))
    return status;
  QApplication application(argc, argv);
  // The toolkit has taken its own options out of argv.
  const app::TProgramArgs args = app::ParseProgramArgs({argv + 1, argv + argc}, false);
  if (int status = 0; app::AnswerOnTerminal(args, &status)) return status;
  QApplication::setApplicationName(QStringLiteral("Vantrel"));
  QApplication::setApplicationVersion(QString::fromLatin1(platform::ProgramVersion()));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrel.Vantrel"));
  platform::InitLocale();
  platform::EnsureIconTheme();
  QApplication::setWindowIcon(platform::ProgramIcon());

  app::TMainForm mainForm;
  mainForm.show();
  mainForm.activateWindow();  // a bare X server has no window manager to do it
  return QApplication::exec();
}
