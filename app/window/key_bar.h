// key_bar.h - the function-key bar at the bottom of the main window.
//
// One button per function key with what the key does (F1 Help, F3 View, F4
// Edit, F5 Copy, F6 Move, F7 MkDir, F8 Delete, F9 Menu). While Shift, Ctrl
// or Alt is held the buttons show what the key does with it (Shift+F4 New,
// Alt+F5 Pack, ...). While the active panel shows the Trash the keys say
// what they do there (F5 and F6 Put back, F8 Erase). A click runs that command on the active panel, as the
// key would; the buttons never take the keyboard. It can be hidden.
#pragma once

#include <string>
#include <vector>

#include <QWidget>

class QAction;
class QToolButton;

namespace vantrel::app {

class TMainForm;

class TKeyBar final : public QWidget {
  Q_OBJECT

 public:
  explicit TKeyBar(TMainForm& form);

  // The layer shown: Qt::NoModifier, Shift, Control or Alt.
  Qt::KeyboardModifiers Layer() const { return layer_; }
  void ShowLayer(Qt::KeyboardModifiers modifiers);
  // Whether the keys are those of the Trash place.
  bool TrashPlace() const { return trash_; }
  void SetTrashPlace(bool trash);
  // The button of function key `number` (1 to 10).
  QToolButton* Button(int number) const;
  // The command the button of key `number` runs in the current layer, or
  // nullptr when the key does nothing there.
  QAction* Command(int number) const;
  // Every label of every layer, as the program words it in English: the keys
  // of the translation files' "Key bar" section.
  static std::vector<std::string> Words();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TMainForm& form_;
  QToolButton* buttons_[10] = {};
  Qt::KeyboardModifiers layer_ = Qt::NoModifier;
  bool trash_ = false;
};

}  // namespace vantrel::app
