// tool_commands.cpp - the file tools as commands of the main window.
#include "app/commands/tool_commands.h"

#include <QAction>

#include "app/dialogs/messages.h"
#include "app/dialogs/multirenameform.h"
#include "app/settings/message_table.h"
#include "app/window/features.h"
#include "app/window/mainform.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"

namespace vantrel::app {

using panels::TFMPanel;

namespace {

void NoSelectedFiles(TMainForm& form) {
  ShowMessage(&form, MessageKind::Warning, QString::fromLatin1(kMainCaption), Msg(TMsg::NoSelectedFiles));
}

}  // namespace

std::string RenameLogPath(const TMainForm& form) {
  const std::string& settings = form.SettingsPath();
  const size_t slash = settings.find_last_of('/');
  return (slash == std::string::npos ? std::string(".") : settings.substr(0, slash)) + "/vantrel-rename.log";
}

void RunMultiRenameCommand(TMainForm& form) {
  TFMPanel* panel = form.ActivePanel();
  if (panel == nullptr) {
    NoSelectedFiles(form);
    return;
  }
  std::vector<tools::TRenameSource> sources;
  for (const panels::TFileEntry* entry : panel->GetMarkedEntries())
    sources.push_back({entry->FileName, entry->LastWriteTime});
  if (sources.empty()) {
    NoSelectedFiles(form);
    return;
  }
  const std::string cursorName = panel->CurrentEntry() != nullptr ? panel->CurrentEntry()->FileName : std::string();
  TMultiRenameForm dialog(&form, panel->Directory(), std::move(sources), RenameLogPath(form));
  if (dialog.exec() != QDialog::Accepted) return;
  // The cursor stays on its entry under the entry's new name.
  std::string cursorTo = cursorName;
  for (const auto& [from, to] : dialog.Done())
    if (from == cursorName) cursorTo = to;
  panel->Reread();
  panel->SetCursor(panel->IndexOfName(cursorTo));
  panel->setFocus();
}

void InstallToolCommands(TMainForm& form) {
  auto wire = [&form](const char* name, auto handler) {
    QAction* action = form.Action(QLatin1String(name));
    if (action == nullptr) return;
    action->setEnabled(true);
    QObject::connect(action, &QAction::triggered, &form, handler);
  };
  TMainForm* f = &form;
  wire("mnuFileMultiRename", [f] { RunMultiRenameCommand(*f); });
}

}  // namespace vantrel::app
