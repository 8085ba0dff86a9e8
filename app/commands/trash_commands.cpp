// trash_commands.cpp - Delete through the desktop Trash.
#include "app/commands/trash_commands.h"

#include <QApplication>
#include <QCursor>

#include "app/dialogs/messages.h"
#include "app/dialogs/trashform.h"
#include "app/settings/message_table.h"
#include "app/window/mainform.h"
#include "fileops/trash_operation.h"
#include "panels/qt/fmpanel.h"
#include "platform/ini.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "platform/trash.h"

namespace vantrel::app {

namespace {

constexpr const char* kGeneral = "GENERAL";
constexpr const char* kDeleteToTrash = "DeleteToTrash";

QString MainCaption() { return QString::fromLatin1(kMainCaption); }

// What could not go, with the system's reason, in one list.
void ReportFailures(TMainForm& form, const fileops::TTrashResult& result) {
  if (result.failures.empty()) return;
  std::string text;
  for (const fileops::TTrashFailure& failure : result.failures)
    text += (text.empty() ? "" : "\n") + fileops::TrashFailureText(failure);
  ShowMessage(&form, MessageKind::Summary, QString::fromLatin1(kDialogCaption), platform::ToDisplay(text));
}

}  // namespace

bool DeleteMovesToTrash(const TMainForm& form) {
  return platform::IniFile(form.SettingsPath()).ReadInteger(kGeneral, kDeleteToTrash, 1) != 0;
}

void SetDeleteMovesToTrash(TMainForm& form, bool toTrash) {
  platform::IniFile ini(form.SettingsPath());
  ini.WriteInteger(kGeneral, kDeleteToTrash, toTrash ? 1 : 0);
}

TTrashOutcome MoveToTrashAsked(TMainForm& form, panels::TFMPanel& source,
                               const std::vector<std::string>& names, const TNameGroups& groups) {
  platform::TrashSession session;
  for (const auto& [dir, group] : groups)
    if (!fileops::CanTrashNames(session, group, dir)) return TTrashOutcome::NoTrash;
  QString question = platform::ToDisplay(fileops::TrashQuestion(names.size()));
  if (names.size() == 1) question += QStringLiteral("\n\n") + platform::ToDisplay(names.front());
  if (ShowMessage(&form, MessageKind::Question, MainCaption(), question) != MessageAnswer::Yes)
    return TTrashOutcome::Cancelled;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  fileops::TTrashResult result;
  for (const auto& [dir, group] : groups) {
    fileops::TTrashResult part = fileops::TrashNames(session, group, dir);
    for (std::string& name : part.trashed) result.trashed.push_back(std::move(name));
    for (fileops::TTrashFailure& failure : part.failures) result.failures.push_back(std::move(failure));
  }
  QApplication::restoreOverrideCursor();
  form.activateWindow();
  source.setFocus();
  ReportFailures(form, result);
  form.RefreshBothPanels();
  return TTrashOutcome::Done;
}

TTrashForm* ShowTrashWindow(TMainForm& form) {
  auto* window = form.findChild<TTrashForm*>(QStringLiteral("TrashForm"), Qt::FindDirectChildrenOnly);
  if (window == nullptr) {
    std::vector<std::string> topdirs;
    for (const platform::Volume& volume : platform::ListVolumes()) topdirs.push_back(volume.mountPoint);
    window = new TTrashForm(platform::TrashEnv::FromProcess(), topdirs, &form);
    window->setWindowFlag(Qt::Window);
    TMainForm* f = &form;
    QObject::connect(window, &TTrashForm::restored, f, [f] { f->RefreshBothPanels(); });
  } else {
    window->Reload();
  }
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace vantrel::app
