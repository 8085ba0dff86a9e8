// gui_support.h - shared by the widget tests: scratch files with chosen sizes
// and times, settings-file sections, every message and input box recorded and
// answered from a script, and a main window over two scratch directories.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "platform/fs.h"

namespace vantrel::testing {

inline std::string Std(const QString& s) { return s.toStdString(); }
inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;  // bytes, not text: names need not be UTF-8
}
inline bool MakeDir(const std::string& path) { return QDir().mkpath(Q(path)); }

// Creates `path` holding `size` bytes with the given local modification time
// (year, month, day, hour, minute), when `year` is not 0.
inline bool MakeFile(const std::string& path, size_t size, int year = 0, int month = 1, int day = 1,
                     int hour = 0, int minute = 0) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const std::string data(size, 'x');
  const bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  ::close(fd);
  if (!ok || year == 0) return ok;
  std::tm tm{};
  tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_mday = day, tm.tm_hour = hour, tm.tm_min = minute;
  tm.tm_isdst = -1;
  const timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

inline void WriteText(const std::string& path, const std::string& text) {
  if (QFile file(Q(path)); file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text.data(), text.size());
}

inline QString ReadText(const std::string& path) {
  QFile file(Q(path));
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The "Key=Value" lines of `section`, in file order.
inline QStringList SectionLines(const QString& text, const QString& section) {
  QStringList lines;
  bool inside = false;
  for (const QString& raw : text.split(QLatin1Char('\n'))) {
    const QString line = raw.trimmed();
    if (line.startsWith(QLatin1Char('[')))
      inside = line.compare(QLatin1Char('[') + section + QLatin1Char(']'), Qt::CaseInsensitive) == 0;
    else if (inside && !line.isEmpty())
      lines << line;
  }
  return lines;
}

inline QStringList KeysOf(const QStringList& lines) {
  QStringList keys;
  for (const QString& line : lines) keys << line.section(QLatin1Char('='), 0, 0);
  return keys;
}

// A message box that was "shown".
struct TShownMessage {
  app::MessageKind kind;
  QString caption;
  QString text;
};

// Every message and input box goes here instead of to the screen.
struct TScript {
  std::vector<TShownMessage> shown;
  std::deque<app::MessageAnswer> answers;  // to questions, in order; none left: No
  std::deque<QString> inputs;  // texts confirmed in input boxes; empty: Cancel
  std::vector<QString> captions, prompts, prefilled;
  std::function<void(const TShownMessage&)> onShown;  // runs as each message is "shown"

  static TScript& Get() {
    static TScript script;
    return script;
  }
  // The first lines of the shown messages, in order.
  QStringList Texts() const {
    QStringList texts;
    for (const TShownMessage& m : shown) texts << m.text.section(QLatin1Char('\n'), 0, 0);
    return texts;
  }
};
inline TScript& Script() { return TScript::Get(); }
inline std::vector<TShownMessage>& ShownMessages() { return Script().shown; }

inline app::MessageAnswer ScriptedMessage(QWidget*, app::MessageKind kind, const QString& caption,
                                          const QString& text) {
  TScript& s = Script();
  s.shown.push_back({kind, caption, text});
  if (s.onShown) s.onShown(s.shown.back());
  if (kind != app::MessageKind::Question && kind != app::MessageKind::QuestionAll &&
      kind != app::MessageKind::JobsRunning)
    return app::MessageAnswer::Ok;
  if (s.answers.empty()) return app::MessageAnswer::No;
  const app::MessageAnswer answer = s.answers.front();
  s.answers.pop_front();
  return answer;
}

inline bool ScriptedInput(QWidget*, const QString& caption, const QString& prompt, QString& text) {
  TScript& s = Script();
  s.captions.push_back(caption), s.prompts.push_back(prompt), s.prefilled.push_back(text);
  if (s.inputs.empty()) return false;
  text = s.inputs.front();
  s.inputs.pop_front();
  return true;
}

inline void InstallScript() {
  Script() = TScript();
  app::SetMessageHandler(&ScriptedMessage);
  app::SetInputHandler(&ScriptedInput);
}

// Runs `act` on the modal window of type T as soon as it shows (or fails
// the test when none does), while `trigger` opens it.
template <class T>
inline bool WithModal(const std::function<void()>& trigger, const std::function<void(T&)>& act) {
  bool seen = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
    if (window == nullptr || seen) return;
    seen = true;
    act(*window);
    if (window->isVisible()) window->reject();
  });
  poll.start();
  trigger();
  return seen;
}

inline const QString kMainCaption = QStringLiteral("Vantrel v. 1.6 (beta)");

// $XDG_DATA_HOME pointed at `dir` while the object lives: the home Trash (and
// whatever else is kept under the data home) is a private one, never the
// user's, also when a test binary runs outside ctest.
class TPrivateDataHome {
 public:
  explicit TPrivateDataHome(const std::string& dir)
      : had_(qEnvironmentVariableIsSet("XDG_DATA_HOME")), old_(qgetenv("XDG_DATA_HOME")) {
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir));
  }
  ~TPrivateDataHome() { had_ ? qputenv("XDG_DATA_HOME", old_) : qunsetenv("XDG_DATA_HOME"); }
  TPrivateDataHome(const TPrivateDataHome&) = delete;
  TPrivateDataHome& operator=(const TPrivateDataHome&) = delete;

 private:
  bool had_;
  QByteArray old_;
};

// A main window over two scratch directories "left" and "right", active and
// with the focus in the left panel. The data home is "data" beside them, so
// F8 trashes into "data/Trash" (the same volume as the two directories).
class TFormFixture {
 public:
  QTemporaryDir tmp;
  std::string left = Std(tmp.filePath(QStringLiteral("left")));
  std::string right = Std(tmp.filePath(QStringLiteral("right")));
  std::string ini = Std(tmp.filePath(QStringLiteral("vantrel.ini")));
  std::string trash = Std(tmp.filePath(QStringLiteral("data/Trash")));
  std::string startDir = platform::GetCurrentDir();
  TPrivateDataHome dataHome{Std(tmp.filePath(QStringLiteral("data")))};
  std::unique_ptr<app::TMainForm> form;

  TFormFixture() { InstallScript(), MakeDir(left), MakeDir(right); }
  ~TFormFixture() { form.reset(), platform::SetCurrentDir(startDir); }
  std::string Path(const char* name) const { return Std(tmp.filePath(QLatin1String(name))); }
  // Opens the window on the settings file as it is (`paths`: with the two
  // directories written into it first).
  bool Show(bool paths = true) {
    if (paths) WriteText(ini, "[GENERAL]\nLeftPath=" + left + "\nRightPath=" + right + "\n");
    form = std::make_unique<app::TMainForm>(ini);
    form->show();
    if (!QTest::qWaitForWindowActive(form.get())) return false;
    L()->setFocus();
    return QTest::qWaitFor([&] { return L()->hasFocus(); });
  }
  bool Restart() { return form->close(), Show(false); }
  panels::TFMPanel* L() const { return form->LeftFMPanel(); }
  panels::TFMPanel* R() const { return form->RightFMPanel(); }
  QAction* Action(const char* name) const { return form->Action(QLatin1String(name)); }
  QStringList Section(const char* name) const { return SectionLines(ReadText(ini), QLatin1String(name)); }
  // Cursor onto / mark an entry that must be listed.
  // A name the panel lists (read again in batches after a change it saw, a
  // loaded machine may take a moment to list it whole).
  static bool Put(panels::TFMPanel* panel, const std::string& name) {
    return QTest::qWaitFor([&] { return Listed(panel, name); }) &&
           (panel->SetCursor(panel->IndexOfName(name)), true);
  }
  static bool Mark(panels::TFMPanel* panel, const std::string& name) {
    return QTest::qWaitFor([&] { return Listed(panel, name); }) &&
           (panel->SetMarked(panel->IndexOfName(name), true), true);
  }
  static bool Listed(const panels::TFMPanel* panel, const std::string& name) {
    for (const auto& entry : panel->Entries())
      if (entry->FileName == name) return true;
    return false;
  }
  static std::string AtCursor(const panels::TFMPanel* panel) { return panel->CurrentEntry()->FileName; }
  // A key in a panel once the window gave it the focus back (activation
  // comes back asynchronously after the operation window hides).
  static bool Press(panels::TFMPanel* panel, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    if (!QTest::qWaitFor([&] { return panel->hasFocus(); })) return false;
    QTest::keyClick(panel, key, mods);
    return true;
  }
  // Runs `command`, which opens `dialog` modally, with `script` acting inside
  // it; true when the dialog was shown, is gone afterwards, and the keyboard
  // is back in the main window.
  bool RunModal(const char* command, QWidget* dialog, const std::function<void()>& script) {
    bool shown = false;
    QTimer::singleShot(0, dialog, [&] {
      shown = dialog->isVisible();
      script();
      if (dialog->isVisible()) QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    });
    Action(command)->trigger();
    form->activateWindow();  // the offscreen platform does not reactivate it by itself
    return shown && !dialog->isVisible() &&
           QTest::qWaitFor([&] { return form->ActivePanel() != nullptr || form->CommandEdit()->hasFocus(); });
  }
  template <class T>
  T* Find(const char* name) const { return form->findChild<T*>(QLatin1String(name)); }
};

}  // namespace vantrel::testing
