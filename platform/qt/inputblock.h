// inputblock.h - while a long operation runs inside a handler, the program's
// windows take no keys or clicks except the progress window's own.
//
// The progress windows (copy, move and delete; packing and unpacking) serve
// the event queue between items so that they repaint and can be cancelled.
// A key or click meant for the main window would then start a second command
// in the middle of the first. Making the progress window modal would stop
// that too, but a modal window that is shown and hidden within milliseconds
// (the copy of one small file) leaves the toolkit and the window manager
// disagreeing about which window has the keyboard, after which no key reaches
// the program. So the progress window is shown without taking the activation
// and this block drops the input instead.
//
// A dialog that an operation opens (an overwrite question, a password) gets
// its input as usual: while it is up, nothing is dropped.
#pragma once

#include <functional>

#include <QObject>
#include <QPointer>

class QWidget;

namespace vantrel::platform {

class TInputBlock : public QObject {
 public:
  // `progress` keeps its input (its Cancel button); Escape, wherever it is
  // pressed, runs `onEscape` when one is given, and F2 `onF2` (a job's
  // progress window sends the job to the background with it).
  explicit TInputBlock(QWidget* progress, std::function<void()> onEscape = {},
                       std::function<void()> onF2 = {});
  ~TInputBlock() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> progress_;
  // The modal dialog that was up when the operation began (the pack dialog,
  // the ZIP window), or none: a different one is a question of the operation.
  QPointer<QWidget> modalAtStart_;
  std::function<void()> onEscape_;
  std::function<void()> onF2_;
};

}  // namespace vantrel::platform
