// command_line.h - what Enter in the command line does beyond starting the
// text: "cd PATH" moves the active panel, any other text runs through the
// shell in the panel's directory with its output and exit status kept for
// the output area (Ctrl+O), and Up and Down recall earlier commands.
#pragma once

#include <string>

#include <QObject>
#include <QTemporaryDir>

class QPlainTextEdit;
class QTimer;

namespace vantrel::panels {
class TFMPanel;
}

namespace vantrel::app {

class TMainForm;

class TCommandLine final : public QObject {
  Q_OBJECT

 public:
  explicit TCommandLine(TMainForm& form);

  // Enter: runs the command line's text.
  void Run();
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
