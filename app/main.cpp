// main.cpp - starts the file manager: the command line, the desktop session
// (a later start hands its paths to the window that runs), the main window
// (which reads the settings), and the message loop.
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>

#include "app/window/desktop_requests.h"
#include "app/window/mainform.h"
#include "app/window/program_args.h"
#include "platform/install_paths.h"
#include "platform/qt/colors.h"
#include "platform/qt/desktop_session.h"
#include "platform/qt/icons.h"
#include "platform/text.h"

int main(int argc, char* argv[]) {
  using namespace vantrel;
  // --help, --version and a mistyped option are answered before the toolkit
  // looks for a display.
  if (int status = 0;
      app::AnswerOnTerminal(app::ParseProgramArgs({argv + 1, argv + argc}, true), &status))
    return status;
  // The toolkit takes the desktop's startup id out of the environment.
  const char* startupId = std::getenv("DESKTOP_STARTUP_ID");
  const std::string startup = startupId != nullptr ? startupId : "";
  QApplication application(argc, argv);
  // The toolkit has taken its own options out of argv.
  const app::TProgramArgs args = app::ParseProgramArgs({argv + 1, argv + argc}, false);
  if (int status = 0; app::AnswerOnTerminal(args, &status)) return status;
  QApplication::setApplicationName(QStringLiteral("Vantrel"));
  QApplication::setApplicationVersion(QString::fromLatin1(platform::ProgramVersion()));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrel.Vantrel"));

  const std::vector<std::string> paths = app::StartPaths(args.Paths);
  platform::TDesktopSession session;
  if (session.Claim(!args.NewWindow, paths, startup) == platform::TDesktopSession::TClaim::HandedOff) return 0;

  platform::InitLocale();
  platform::EnsureIconTheme();
  QApplication::setWindowIcon(platform::ProgramIcon());
  platform::ApplyDesktopColorScheme();

  app::TMainForm mainForm;
  QObject::connect(&session, &platform::TDesktopSession::requested, &mainForm,
                   [&mainForm](const platform::TDesktopRequest& request) {
                     app::HandleDesktopRequest(mainForm, request);
                   });
  app::OpenStartPaths(mainForm, paths);
  mainForm.show();
  mainForm.activateWindow();  // a bare X server has no window manager to do it
  return QApplication::exec();
}
