// command_line.h - the command line below the panels: a prompt with the
// active panel's directory and a field for the command.
//
// Letters typed while a panel has the keyboard go into the field (the panel
// keeps the keyboard and its cursor keys); Enter then runs the command,
// Escape clears it, Backspace takes its last character back, and Space types
// a blank once there is text (before that it marks). Ctrl+Enter puts the
// cursor entry's name into the field, Ctrl+Shift+Enter its full path, quoted
// where a shell needs it. Ctrl+E and Ctrl+X in a panel (Up and Down, or
// Alt+Up and Alt+Down, in the field) walk the earlier commands. "cd PATH" moves the
// active panel; any other text runs through the shell in the panel's
// directory with its output and exit status kept for the output area (Ctrl+O).
#pragma once

#include <string>

#include <QObject>
#include <QTemporaryDir>

class QKeyEvent;
class QPlainTextEdit;
class QTimer;

namespace vantrel::panels {
class TFMPanel;
}

namespace vantrel::app {

class TMainForm;

// `text` as one word of a shell command line: as it is when it holds only
// characters no shell treats specially, else in single quotes.
std::string ShellWord(const std::string& text);

class TCommandLine final : public QObject {
  Q_OBJECT

 public:
  explicit TCommandLine(TMainForm& form);

  // Enter: runs the command line's text and empties the field.
  void Run();
  // A key pressed in `panel` that belongs to the command line (see above).
  // False leaves it to the panel.
  bool PanelKey(panels::TFMPanel& panel, const QKeyEvent& key);
  // `text` typed into the field where its cursor stands.
  void Insert(const QString& text);
  // "cd" with its argument (the text after "cd "): `~` is the home
  // directory, "-" the panel's previous directory, a relative path is taken
  // from the panel's directory. False after a message when it cannot be
  // entered.
  bool ChangeDirectory(panels::TFMPanel& panel, const std::string& argument);
  // The output area: shown, hidden (Ctrl+O).
  void ToggleOutput();
  QPlainTextEdit* Output() const { return output_; }
  // A command is still running.
  bool Running() const { return running_; }
  // The panel commands act on: the focused one, else the one last focused.
  panels::TFMPanel* Panel() const;

 signals:
  // The last command ended; `status` is its exit status.
  void finished(int status);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Poll();
  void Recall(int step);

  TMainForm& form_;
  QPlainTextEdit* output_ = nullptr;
  QTimer* poll_ = nullptr;
  QTemporaryDir scratch_;
  std::string outputPath_, statusPath_;
  bool running_ = false;
  int recall_ = -1;  // index into the history while Up and Down browse it
};

}  // namespace vantrel::app
