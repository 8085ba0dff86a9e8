// main.cpp - starts the file manager: the application object, the main
// window (which reads the settings), and the message loop.
#include <QApplication>

#include "app/window/mainform.h"
#include "platform/qt/icons.h"
#include "platform/text.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantrel"));
  vantrel::platform::InitLocale();
  vantrel::platform::EnsureIconTheme();

  vantrel::app::TMainForm mainForm;
  mainForm.show();
  mainForm.activateWindow();  // a bare X server has no window manager to do it
  return QApplication::exec();
}
