// filecmds_support.h - scripted answers for the file commands' tests: every
// message box and input box is recorded and answered from a script, so no
// test ever waits for a person.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include "app/mainform.h"
#include "app/messages.h"
#include "gui_test_support.h"
#include "platform/fs.h"

namespace vantrel::testing {

struct TScript {
  std::vector<TShownMessage> shown;
  // Answers to questions (Yes/No and Yes/No/Cancel/All), in order; an empty
  // script answers No.
  std::deque<app::MessageAnswer> answers;
  // Texts confirmed in input boxes; an empty script cancels.
  std::deque<QString> inputs;
  std::vector<QString> prompts;
  std::vector<QString> prefilled;

  static TScript& Get() {
    static TScript script;
    return script;
  }
  void Reset() { *this = TScript(); }

  // The first lines of the shown messages (the fixed texts), in order.
  QStringList Texts() const {
    QStringList texts;
    for (const TShownMessage& m : shown) texts << m.text.section(QLatin1Char('\n'), 0, 0);
    return texts;
  }
};

inline app::MessageAnswer ScriptedMessage(QWidget*, app::MessageKind kind, const QString& caption,
                                          const QString& text) {
  TScript& s = TScript::Get();
  s.shown.push_back({kind, caption, text});
  if (kind == app::MessageKind::Failure && !s.answers.empty() &&
      (s.answers.front() == app::MessageAnswer::SkipAll || s.answers.front() == app::MessageAnswer::Abort)) {
    const app::MessageAnswer answer = s.answers.front();
    s.answers.pop_front();
    return answer;
  }
  if (kind != app::MessageKind::Question && kind != app::MessageKind::QuestionAll)
    return app::MessageAnswer::Ok;
  if (s.answers.empty()) return app::MessageAnswer::No;
  const app::MessageAnswer answer = s.answers.front();
  s.answers.pop_front();
  return answer;
}

inline bool ScriptedInput(QWidget*, const QString&, const QString& prompt, QString& text) {
  TScript& s = TScript::Get();
  s.prompts.push_back(prompt);
  s.prefilled.push_back(text);
  if (s.inputs.empty()) return false;
  text = s.inputs.front();
  s.inputs.pop_front();
  return true;
}

inline void InstallScript() {
  TScript::Get().Reset();
  app::SetMessageHandler(&ScriptedMessage);
  app::SetInputHandler(&ScriptedInput);
}

inline bool Exists(const std::string& path) { return QFileInfo::exists(QString::fromStdString(path)); }

// A main window over two scratch directories "left" and "right", active and
// with the focus in the left panel.
class TFormFixture {
 public:
  QTemporaryDir tmp;
  std::string left, right;
  std::string startDir = platform::GetCurrentDir();
  std::unique_ptr<app::TMainForm> form;

  bool Open() {
    if (!tmp.isValid()) return false;
    left = Std(tmp.filePath(QStringLiteral("left")));
    right = Std(tmp.filePath(QStringLiteral("right")));
    QDir().mkpath(QString::fromStdString(left));
    QDir().mkpath(QString::fromStdString(right));
    return true;
  }
  bool Show() {
    const std::string ini = Std(tmp.filePath(QStringLiteral("vantrel.ini")));
    WriteText(ini, "[GENERAL]\nLeftPath=" + left + "\nRightPath=" + right + "\n");
    form = std::make_unique<app::TMainForm>(ini);
    form->show();
    if (!QTest::qWaitForWindowActive(form.get())) return false;
    form->LeftFMPanel()->setFocus();
    return QTest::qWaitFor([&] { return form->LeftFMPanel()->hasFocus(); });
  }
  ~TFormFixture() {
    form.reset();
    platform::SetCurrentDir(startDir);
  }
  panels::TFMPanel* L() const { return form->LeftFMPanel(); }
  panels::TFMPanel* R() const { return form->RightFMPanel(); }
  // Marks an entry that must be listed.
  static bool Mark(panels::TFMPanel* panel, const char* name) {
    if (!Listed(panel, name)) return false;
    panel->SetMarked(panel->IndexOfName(name), true);
    return true;
  }
  static bool Listed(const panels::TFMPanel* panel, const std::string& name) {
    for (const auto& entry : panel->Entries())
      if (entry->FileName == name) return true;
    return false;
  }
  // A key in a panel once the window gave it the focus back (activation
  // comes back asynchronously after the operation window hides).
  static bool Press(panels::TFMPanel* panel, Qt::Key key) {
    if (!QTest::qWaitFor([&] { return panel->hasFocus(); })) return false;
    QTest::keyClick(panel, key);
    return true;
  }
};

}  // namespace vantrel::testing
