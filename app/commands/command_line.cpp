// command_line.cpp - cd, captured shell commands and the command history.
#include "app/commands/command_line.h"

#include "app/commands/archive_entries.h"

#include <cstdlib>

#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

using panels::TFMPanel;

namespace {

// What is shown of a command's output: its last part.
constexpr qint64 kOutputLimit = 256 * 1024;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != '\0' ? home : "/";
}

}  // namespace

std::string ShellWord(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                          "_@%+=:,./-") == std::string::npos;
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TCommandLine::TCommandLine(TMainForm& form) : QObject(&form), form_(form) {
  setObjectName(QStringLiteral("CommandLine"));
  outputPath_ = scratch_.filePath(QStringLiteral("output")).toStdString();
  statusPath_ = scratch_.filePath(QStringLiteral("status")).toStdString();

  // The output area sits above the command row, hidden until there is output.
  output_ = new QPlainTextEdit(form.centralWidget());
  output_->setObjectName(QStringLiteral("CommandOutput"));
  output_->setReadOnly(true);
  output_->setFocusPolicy(Qt::ClickFocus);
  output_->setMaximumBlockCount(5000);
  output_->setFixedHeight(120);
  output_->hide();
  if (auto* layout = qobject_cast<QVBoxLayout*>(form.centralWidget()->layout()))
    layout->insertWidget(layout->count() - 1, output_);

  poll_ = new QTimer(this);
  poll_->setInterval(100);
  connect(poll_, &QTimer::timeout, this, &TCommandLine::Poll);

  auto* toggle = new QAction(QStringLiteral("Command output"), &form);
  toggle->setObjectName(QStringLiteral("actCommandOutput"));
  toggle->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
  toggle->setShortcutContext(Qt::WindowShortcut);
  form.addAction(toggle);
  connect(toggle, &QAction::triggered, this, &TCommandLine::ToggleOutput);

  form.CommandEdit()->installEventFilter(this);
}

TFMPanel* TCommandLine::Panel() const {
  if (TFMPanel* active = form_.ActivePanel()) return active;
  return form_.LastActivePanel();
}

void TCommandLine::Run() {
  const std::string text = Trimmed(form_.CommandEdit()->text().toStdString());
  recall_ = -1;
  if (text.empty()) return;
  TFMPanel* panel = Panel();
  form_.CommandEdit()->clear();  // the next command starts afresh; the history keeps this one
  RememberFirst(form_.Lists().Commands, text, TUserLists::kCommandLimit);
  if (panel != nullptr && (text == "cd" || text.rfind("cd ", 0) == 0 || text.rfind("cd\t", 0) == 0)) {
    if (ChangeDirectory(*panel, Trimmed(text.substr(2)))) form_.ShowCommandPrompt(*panel);
    return;
  }
  const std::string dir = panel != nullptr ? DiskDirectoryOf(*panel) : platform::GetCurrentDir();
  QFile::remove(QString::fromStdString(statusPath_));
  std::string error;
  if (!platform::StartShellCommandCaptured(text, dir, outputPath_, statusPath_, &error)) {
    form_.statusBar()->showMessage(platform::ToDisplay(error));
    return;
  }
  running_ = true;
  form_.statusBar()->showMessage(platform::Worded("Running: %1").arg(platform::ToDisplay(text)));
  poll_->start();
}

bool TCommandLine::ChangeDirectory(TFMPanel& panel, const std::string& argument) {
  std::string target = argument;
  if (target.size() >= 2 && (target.front() == '"' || target.front() == '\'') &&
      target.back() == target.front())
    target = target.substr(1, target.size() - 2);
  if (target.empty() || target == "~") {
    target = HomeDirectory();
  } else if (target.rfind("~/", 0) == 0) {
    target = platform::JoinPath(HomeDirectory(), target.substr(2));
  } else if (target == "-") {
    target = form_.HistoryOf(&panel).Previous();
    if (target.empty()) return false;
  } else if (target.front() != '/') {
    target = platform::JoinPath(panel.Directory(), target);
  }
  std::string error;
  if (!panel.ReadDirectory(target, &error)) {
    ShowMessage(&form_, MessageKind::Warning, QString::fromLatin1(kMainCaption),
                platform::Worded("Cannot change to %1: %2")
                    .arg(platform::ToDisplay(argument), platform::ToDisplay(error)));
    return false;
  }
  platform::SetCurrentDir(panel.Directory());
  return true;
}

void TCommandLine::Poll() {
  QFile status(QString::fromStdString(statusPath_));
  if (!status.open(QIODevice::ReadOnly)) return;  // still running
  bool ok = false;
  const int code = QString::fromLatin1(status.readAll()).trimmed().toInt(&ok);
  poll_->stop();
  running_ = false;
  QFile out(QString::fromStdString(outputPath_));
  QByteArray printed;
  if (out.open(QIODevice::ReadOnly)) {
    if (out.size() > kOutputLimit) out.seek(out.size() - kOutputLimit);
    printed = out.readAll();
  }
  const QString exitLine = platform::Worded("Exit status %1").arg(ok ? code : -1);
  output_->setPlainText(QString::fromUtf8(printed) + (printed.isEmpty() || printed.endsWith('\n') ? "" : "\n") +
                        QStringLiteral("[") + exitLine + QStringLiteral("]"));
  output_->moveCursor(QTextCursor::End);
  form_.statusBar()->showMessage(exitLine);
  if (!printed.isEmpty() || code != 0) output_->show();
  emit finished(ok ? code : -1);
}

void TCommandLine::ToggleOutput() { output_->setVisible(!output_->isVisible()); }

void TCommandLine::Recall(int step) {
  const TStringList& history = form_.Lists().Commands;
  if (history.empty()) return;
  const int next = recall_ + step;  // Up goes to older commands
  if (next < 0) {
    recall_ = -1;
    form_.CommandEdit()->clear();
    return;
  }
  if (next >= static_cast<int>(history.size())) return;
  recall_ = next;
  form_.CommandEdit()->setText(platform::ToDisplay(history[static_cast<size_t>(recall_)]));
}

void TCommandLine::Insert(const QString& text) {
  QLineEdit* edit = form_.CommandEdit();
  edit->insert(text);
  edit->update();
}

bool TCommandLine::PanelKey(TFMPanel& panel, const QKeyEvent& key) {
  QLineEdit* edit = form_.CommandEdit();
  const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
  const bool keypad = (key.modifiers() & Qt::KeypadModifier) != 0;
  const bool typed = !edit->text().isEmpty();
  const int k = key.key();
  const bool enter = k == Qt::Key_Return || k == Qt::Key_Enter;
  if (enter && (mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier))) {
    const panels::TFileEntry* entry = panel.CurrentEntry();
    if (entry == nullptr) return true;
    const std::string word = mods == Qt::ControlModifier
                                 ? (entry->IsDotDot() ? std::string("..") : entry->FileName)
                                 : platform::JoinPath(panel.Directory(), entry->FileName);
    Insert(platform::ToDisplay(ShellWord(word)) + QLatin1Char(' '));
    return true;
  }
  if (mods == Qt::ControlModifier && (k == Qt::Key_E || k == Qt::Key_X)) {
    Recall(k == Qt::Key_E ? 1 : -1);
    return true;
  }
  if (typed && mods == Qt::NoModifier) {
    if (enter) {
      Run();
      return true;
    }
    if (k == Qt::Key_Escape) {
      edit->clear();
      recall_ = -1;
      return true;
    }
    if (k == Qt::Key_Backspace) {
      edit->backspace();
      return true;
    }
  }
  // Printable text: letters, digits, signs, a blank once there is text. The
  // gray keys keep their panel meaning until something was typed.
  const QString text = key.text();
  if (text.isEmpty() || !text.at(0).isPrint() || (mods & ~Qt::ShiftModifier) != 0) return false;
  if (!typed && (k == Qt::Key_Space || keypad)) return false;
  Insert(text);
  return true;
}

bool TCommandLine::eventFilter(QObject* watched, QEvent* event) {
  if (watched == form_.CommandEdit() && event->type() == QEvent::KeyPress) {
    const auto* press = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = press->modifiers() & ~Qt::KeypadModifier;
    const int key = press->key();
    const bool walk = mods == Qt::NoModifier || mods == Qt::AltModifier;
    if (walk && (key == Qt::Key_Up || key == Qt::Key_Down)) {
      Recall(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return false;
}

}  // namespace vantrel::app
