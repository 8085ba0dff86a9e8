// help.cpp - the program's own help: HTML topics in the data folder's
// "help/", shown in one help window, one topic per context number.
#include "platform/qt/help.h"

#include "platform/install_paths.h"

#include <algorithm>

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
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
  return QUrl::fromLocalFile(QString::fromStdString(HelpDirectory()) + QLatin1String(page) +
                             QStringLiteral(".html"))
      .toString();
}

QTextBrowser* HelpWindow() { return Window().data(); }

namespace {

// The help window belongs to the window that asked for it: the modal dialog
// in front, else the active window. As its child it stays above that window
// and takes input while the dialog is open; it stays open when the dialog
// closes.
void AttachToOwner(QTextBrowser& window) {
  QWidget* owner = QApplication::activeModalWidget();
  if (owner == nullptr) owner = QApplication::activeWindow();
  if (owner == &window) return;
  if (window.parentWidget() != owner) {
    window.setParent(owner, Qt::Window);
    window.setAttribute(Qt::WA_QuitOnClose, false);
  }
  if (window.isVisible()) return;
  // A new window comes up centred on its owner and whole on the owner's screen.
  const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  // Room for the frame the window manager adds around it.
  constexpr int kFrame = 40;
  const QSize size = window.size().boundedTo(area.size() - QSize(kFrame, kFrame));
  window.resize(size);
  QRect frame(QPoint(0, 0), size + QSize(kFrame / 2, kFrame));
  frame.moveCenter(owner != nullptr ? owner->frameGeometry().center() : area.center());
  frame.moveLeft(std::clamp(frame.left(), area.left(), area.right() - frame.width()));
  frame.moveTop(std::clamp(frame.top(), area.top(), area.bottom() - frame.height()));
  window.move(frame.topLeft());
}

}  // namespace

bool ShowHelp(int context) {
  const QUrl url(HelpPage(context));
  if (!QFile::exists(url.toLocalFile())) return false;
  QPointer<QTextBrowser>& window = Window();
  if (window.isNull()) {
    window = new QTextBrowser;
    window->setObjectName(QStringLiteral("HelpWindow"));
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setOpenExternalLinks(true);
    window->resize(560, 480);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, &QObject::deleteLater);
    QObject::connect(window, &QTextBrowser::sourceChanged, window, [w = window.data()] {
      // A page whose title names the help already is not named twice.
      const QString page = w->documentTitle();
      const QString help = QStringLiteral("Vantrel help");
      w->setWindowTitle(page.isEmpty() || page.startsWith(help) ? help : help + QStringLiteral(" - ") + page);
    });
    // Escape closes it, like the dialogs it explains.
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    close->setContext(Qt::WindowShortcut);
    QObject::connect(close, &QShortcut::activated, window, &QWidget::close);
  }
  AttachToOwner(*window);
  window->setSource(url);
  window->show();
  window->raise();
  window->activateWindow();
  return true;
}

}  // namespace vantrel::platform
