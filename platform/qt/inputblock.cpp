// inputblock.cpp - dropping input while an operation runs.
#include "platform/qt/inputblock.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace vantrel::platform {

namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

}  // namespace

TInputBlock::TInputBlock(QWidget* progress, std::function<void()> onEscape,
                         std::function<void()> onF2)
    : progress_(progress),
      modalAtStart_(QApplication::activeModalWidget()),
      onEscape_(std::move(onEscape)),
      onF2_(std::move(onF2)) {
  qApp->installEventFilter(this);
}

TInputBlock::~TInputBlock() { qApp->removeEventFilter(this); }

bool TInputBlock::eventFilter(QObject* watched, QEvent* event) {
  if (!IsUserInput(event->type()) || !watched->isWidgetType()) return false;
  if (QApplication::activeModalWidget() != modalAtStart_) return false;  // a question is up
  if (event->type() == QEvent::KeyPress && onEscape_ &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    onEscape_();
    return true;
  }
  if (event->type() == QEvent::KeyPress && onF2_ && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F2 &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
    // The handler may end the block: nothing of it is used after the call.
    auto handler = onF2_;
    handler();
    return true;
  }
  const QWidget* window = static_cast<QWidget*>(watched)->window();
  if (progress_ != nullptr && window == progress_) return false;
  if (event->type() == QEvent::ShortcutOverride) {
    // Taken here, so that no menu shortcut fires; the key press that follows
    // is dropped below.
    event->accept();
  }
  return true;
}

}  // namespace vantrel::platform
