// help.cpp - the help file is handed to the desktop's viewer for its type.
#include "platform/qt/help.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace vantrel::platform {

namespace {
QString& HelpFileName() {
  static QString name;
  return name;
}
}  // namespace

void SetHelpFile(const QString& path) { HelpFileName() = path; }
const QString& HelpFile() { return HelpFileName(); }

bool ShowHelp(int /*context*/) {
  // The viewer of another desktop has no notion of our context numbers; it
  // opens the file at its start.
  const QString& file = HelpFileName();
  if (file.isEmpty() || !QFileInfo::exists(file)) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

}  // namespace vantrel::platform
