// focus_keeper.cpp - the main window and the active panel take the keyboard
// back when the windows in front of them close.
#include "app/window/focus_keeper.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace vantrel::app {

namespace {

// Menus, tooltips and the lists of combo boxes hand the focus back by
// themselves; only real windows are watched.
bool IsWatchedWindow(const QWidget& widget) {
  if (!widget.isWindow()) return false;
  switch (widget.windowType()) {
    case Qt::Popup:
    case Qt::ToolTip:
    case Qt::SplashScreen:
    case Qt::Desktop:
      return false;
    default:
      return true;
  }
}

}  // namespace

TFocusKeeper::TFocusKeeper(QWidget& mainWindow) : QObject(&mainWindow), main_(mainWindow) {
  setObjectName(QStringLiteral("FocusKeeper"));
  qApp->installEventFilter(this);
}

TFocusKeeper::~TFocusKeeper() { qApp->removeEventFilter(this); }

// A dialog at least as wide as its title needs: the window manager cuts a
// title that does not fit, and a cut title hides what the dialog is about.
// The title bar's font is the window manager's; the bold application font
// and room for its buttons come close.
void FitToTitle(QWidget& window) {
  if (qobject_cast<QDialog*>(&window) == nullptr || qobject_cast<QMessageBox*>(&window) != nullptr) return;
  QFont font = window.font();
  font.setBold(true);
  const int needed = QFontMetrics(font).horizontalAdvance(window.windowTitle()) + 120;
  if (window.minimumWidth() < needed && window.maximumWidth() >= needed) window.setMinimumWidth(needed);
}

bool TFocusKeeper::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
    FitToTitle(*static_cast<QWidget*>(watched));
  if (event->type() == QEvent::Hide && watched != &main_ && watched->isWidgetType() &&
      IsWatchedWindow(*static_cast<QWidget*>(watched)) && !pending_) {
    // Once the event that closed the window is done: a command may show its
    // next window (a message, the operation window) in the same handler.
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
      pending_ = false;
      Restore();
    });
  }
  return false;
}

void TFocusKeeper::Restore() {
  if (!main_.isVisible() || QCoreApplication::closingDown()) return;
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (modal->isVisible() && !modal->isActiveWindow()) {
      modal->raise();
      modal->activateWindow();
    }
    return;
  }
  if (main_.isMinimized()) return;
  main_.activateWindow();
  if (panel_ != nullptr && panel_->isVisible() && panel_->window() == &main_)
    panel_->setFocus(Qt::ActiveWindowFocusReason);
}

}  // namespace vantrel::app
