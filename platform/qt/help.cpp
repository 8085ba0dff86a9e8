// help.cpp - the program's own help: HTML topics compiled into the program,
// shown in one help window, one topic per context number.
#include "platform/qt/help.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

namespace vantrel::platform {

namespace {

QString& HelpFileName() {
  static QString name;
  return name;
}

QPointer<QTextBrowser>& Window() {
  static QPointer<QTextBrowser> window;
  return window;
}

struct TTopic {
  int context;
  const char* page;
};

// The dialogs' context numbers and their topics.
constexpr TTopic kTopics[] = {
    {0, "contents"},   {401, "newfile"},   {407, "rename"},    {408, "pack"},
    {409, "zipwindow"}, {501, "newdir"},   {502, "findfile"},  {803, "about"},
    {302, "panelsettings"}, {702, "panelsettings"}, {601, "generalsettings"}, {602, "font"},
    {604, "language"},  {6031, "colors"},  {6032, "colorscheme"}, {6033, "colorscheme"},
};

}  // namespace

void SetHelpFile(const QString& path) { HelpFileName() = path; }
const QString& HelpFile() { return HelpFileName(); }

QString HelpPage(int context) {
  const char* page = "contents";
  for (const TTopic& topic : kTopics)
    if (topic.context == context) page = topic.page;
  return QStringLiteral("qrc:/help/") + QLatin1String(page) + QStringLiteral(".html");
}

QTextBrowser* HelpWindow() { return Window().data(); }

bool ShowHelp(int context) {
  const QUrl url(HelpPage(context));
  if (!QFile::exists(QLatin1Char(':') + url.path())) return false;
  QPointer<QTextBrowser>& window = Window();
  if (window.isNull()) {
    // A top-level window of its own, so it stays open beside a modal dialog's
    // owner and is not closed with the dialog.
    window = new QTextBrowser;
    window->setObjectName(QStringLiteral("HelpWindow"));
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setOpenExternalLinks(true);
    window->resize(560, 480);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, &QObject::deleteLater);
    QObject::connect(window, &QTextBrowser::sourceChanged, window, [w = window.data()] {
      w->setWindowTitle(QStringLiteral("Vantrel help - ") + w->documentTitle());
    });
  }
  window->setSource(url);
  window->show();
  window->raise();
  window->activateWindow();
  return true;
}

}  // namespace vantrel::platform
