// tool_commands.cpp - the file tools as commands of the main window.
#include "app/commands/tool_commands.h"

#include "app/commands/archive_entries.h"

#include <QAction>
#include <QApplication>

#include "app/dialogs/comparedirsform.h"
#include "app/dialogs/messages.h"
#include "app/dialogs/multirenameform.h"
#include "app/dialogs/syncdirsform.h"
#include "app/commands/file_commands.h"
#include "app/panels/quick_view.h"
#include "app/settings/message_table.h"
#include "app/window/features.h"
#include "app/window/mainform.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/terminal.h"
#include "tools/dir_compare.h"
#include "tools/dir_sync.h"

namespace vantrel::app {

using panels::TFMPanel;

namespace {

void NoSelectedFiles(TMainForm& form) {
  ShowMessage(&form, MessageKind::Warning, QString::fromLatin1(kMainCaption), Msg(TMsg::NoSelectedFiles));
}

// Marks exactly the entries named in `names` (a panel's marks from before go).
void MarkExactly(TFMPanel& panel, const std::set<std::string>& names) {
  for (int i = 0; i < panel.Count(); ++i) {
    const bool wanted = names.count(panel.Entries()[static_cast<size_t>(i)]->FileName) > 0;
    if (panel.IsMarked(i) != wanted) panel.SetMarked(i, wanted);
  }
}

// The choices of Compare directories, kept for the next opening.
tools::TCompareOptions& CompareOptions() {
  static tools::TCompareOptions options;
  return options;
}

}  // namespace

void RunCompareCommand(TMainForm& form) {
  TFMPanel* left = form.LeftFMPanel();
  TFMPanel* right = form.RightFMPanel();
  if (left == nullptr || right == nullptr) return;
  const QString caption = QStringLiteral("Compare directories");
  if (RefusedInArchive(form, left, caption) || RefusedInArchive(form, right, caption)) return;
  if (left->Model().IsListing() || right->Model().IsListing()) {
    ShowMessage(&form, MessageKind::Warning, caption,
                QStringLiteral("A listing of search results cannot be compared: open a directory in both panels."));
    return;
  }
  TCompareDirsForm dialog(&form, CompareOptions());
  if (dialog.exec() != QDialog::Accepted) return;
  CompareOptions() = dialog.Options();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  tools::TDirCompare compare;
  const tools::TCompareResult result = compare.Compare(left->Directory(), right->Directory(), CompareOptions());
  QApplication::restoreOverrideCursor();
  MarkExactly(*left, result.leftMarks);
  MarkExactly(*right, result.rightMarks);
  if (!result.unreadable.empty()) {
    std::string text = std::to_string(result.unreadable.size()) + " items could not be compared:";
    for (const tools::TUnreadable& u : result.unreadable) text += "\n" + u.Path + ": " + u.Reason;
    ShowMessage(&form, MessageKind::Summary, caption, platform::ToDisplay(text));
  } else if (result.items.empty()) {
    ShowMessage(&form, MessageKind::Information, caption, QStringLiteral("The directories are the same."));
  }
  if (TFMPanel* active = form.ActivePanel()) active->setFocus();
}

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
  if (RefusedInArchive(form, panel, QStringLiteral("Multi-rename"), QStringLiteral("Shift+F6 renames one entry.")))
    return;
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

void RunSyncCommand(TMainForm& form) {
  TFMPanel* left = form.LeftFMPanel();
  TFMPanel* right = form.RightFMPanel();
  if (left == nullptr || right == nullptr) return;
  static tools::TSyncOptions options;  // the choices stay for the next opening
  TSyncDirsForm dialog(&form, left->Directory(), right->Directory(), options, [&form](const tools::TSyncPlan& plan) {
    RunEngineWork(form, QStringLiteral("Synchronize directories...Wait"),
                  [&plan](fileops::TFMOperation& op) { tools::RunSync(plan, op); });
  });
  dialog.exec();
  options = dialog.Options();
  form.RefreshBothPanels();
  if (TFMPanel* active = form.LastActivePanel()) active->setFocus();
}

void RunTerminalCommand(TMainForm& form) {
  TFMPanel* panel = form.ActivePanel() != nullptr ? form.ActivePanel() : form.LastActivePanel();
  if (panel == nullptr) return;
  // A listing of search results opens the terminal in the directory searched.
  const std::string directory = DiskDirectoryOf(*panel);  // an archive's: the directory holding it
  const std::string setting = form.Settings().ReadString("GENERAL", "Terminal", "");
  std::string error;
  if (!platform::OpenTerminal(directory, setting, &error))
    ShowMessage(&form, MessageKind::Error, QStringLiteral("Open terminal here"),
                QStringLiteral("The terminal could not be started: %1.").arg(platform::ToDisplay(error)));
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
  wire("mnuCmndCompareDirs", [f] { RunCompareCommand(*f); });
  wire("mnuCmndSyncDirs", [f] { RunSyncCommand(*f); });
  wire("mnuCmndTerminal", [f] { RunTerminalCommand(*f); });
  auto* quickViewer = new TQuickViewer(form);
  wire("mnuCmndQuickView", [quickViewer] { quickViewer->Toggle(); });
}

}  // namespace vantrel::app
