// focus_keeper.h - gives the keyboard back to the active panel whenever a
// window of the program that stood in front of the main window goes away.
//
// Dialogs, message boxes, input boxes, the operation and Info windows, the ZIP
// window and the help window all end the same way: once the last of them has
// closed, the main window is activated again and the panel that was active
// last has the keyboard focus. While another modal window is still up (the
// question over a dialog, the operation window behind its overwrite question),
// that one is activated instead. Window managers do not reliably hand the
// activation back to the main window when a transient window closes, and a
// window whose focus is nowhere takes no keys, so this is never left to them.
//
// It also widens a dialog that is narrower than its title when it is shown.
//
// The keeper watches the whole application, so every window, also those added
// later, gets the same behaviour without code of its own.
#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace vantrel::app {

class TFocusKeeper : public QObject {
  Q_OBJECT

 public:
  // Watches every window of the application on behalf of `mainWindow`.
  explicit TFocusKeeper(QWidget& mainWindow);
  ~TFocusKeeper() override;

  // The panel that gets the keyboard back: the one that had it last.
  void SetActivePanel(QWidget* panel) { panel_ = panel; }
  QWidget* ActivePanel() const { return panel_.data(); }

  // Activates the modal window still in front, or else the main window with
  // the keyboard focus in the active panel.
  void Restore();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& main_;
  QPointer<QWidget> panel_;
  bool pending_ = false;
};

}  // namespace vantrel::app
