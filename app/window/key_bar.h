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

#include <QToolButton>
#include <QWidget>

class QAction;

namespace vantrel::app {

class TMainForm;

// A function key's button: "F3 View". A button too narrow for its text
// shortens the word with "…", or shows the key alone, rather than cut the
// text at its edges; text() stays whole, and the tooltip then tells it.
class TKeyButton final : public QToolButton {
 public:
  using QToolButton::QToolButton;
  // The text and the tooltip for it ("Shift+F4"; empty for none).
  void SetKey(const QString& text, const QString& tip);
  // What is painted at the present width and font.
  QString ShownText() const;
  // The width the text is painted in.
  int TextWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Refit();
  QString tip_;
};

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
  TKeyButton* Button(int number) const;
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
  TKeyButton* buttons_[10] = {};
  Qt::KeyboardModifiers layer_ = Qt::NoModifier;
  bool trash_ = false;
};

}  // namespace vantrel::app
