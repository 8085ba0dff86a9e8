// tool_commands.cpp - the file tools as commands of the main window.
#include "app/commands/tool_commands.h"

#include "app/commands/archive_entries.h"

#include <QAction>
#include <QApplication>
#include <QPointer>

#include "app/dialogs/comparedirsform.h"
#include "app/dialogs/messages.h"
#include "app/dialogs/multirenameform.h"
#include "app/dialogs/syncdirsform.h"
#include "app/panels/archive_places.h"
#include "app/commands/file_commands.h"
#include "app/panels/quick_view.h"
#include "app/settings/message_table.h"
#include "app/window/features.h"
#include "app/window/mainform.h"
#include "fileops/job.h"
#include "fileops/qt/job_center.h"
#include "fileops/qt/operationform.h"
#include "fileops/source_copy.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/terminal.h"
#include "tools/dir_compare.h"
#include "tools/dir_sync.h"
#include "vfs/source.h"

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

namespace {

// A side of Synchronize directories: a local directory, or the place inside
// an archive one of the panels shows (the panel's own reader of it).
bool ResolveSyncPlace(TMainForm& form, const std::string& path, tools::TSyncPlace& place, std::string* error) {
  place = tools::TSyncPlace{path, nullptr, {}};
  for (TFMPanel* panel : {form.LeftFMPanel(), form.RightFMPanel()}) {
    if (panel == nullptr || panel->Directory() != path) continue;
    if (std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(*panel)) {
      place.source = std::move(source);
      place.inner = panel->Model().Place();
      return true;
    }
  }
  if (platform::IsDirectory(path)) return true;
  *error = "\"" + path + "\" is not a directory. A place inside an archive is a side when a panel shows it.";
  return false;
}

// What a synchronisation job leaves for the window: written on the job's
// thread, read on the window's once the job ended.
struct TSyncJobEnd {
  std::vector<fileops::TFMMessage> failures;
  int skipped = 0;
};

// A plan of two directories runs as a job: followed in the operation window
// (where Background, F2, sends it behind) or at once in the background. At
// its end the panels are read again and what "Skip all" hid is listed. True
// when it ended in front.
bool RunSyncJob(TMainForm& form, const tools::TSyncPlan& plan, bool background) {
  fileops::TJobCenter* center = JobCenter(form);
  fileops::TOperationForm* window = OperationForm(form);
  fileops::TFMPrompt* answerer = window->FMOperation.Prompt();
  if (center == nullptr || answerer == nullptr || window->Running()) return true;
  auto end = std::make_shared<TSyncJobEnd>();
  QPointer<TMainForm> owner(&form);
  const std::string title = "Synchronize " + plan.left + " and " + plan.right;
  auto job = center->Add(
      title, fileops::DevicesOf({plan.left, plan.right}),
      [plan, end, answerer, poster = center->Poster()](fileops::TJob& self) {
        fileops::TFMOperation engine;
        self.Attach(engine);
        fileops::TJobPrompt bridge(self, *answerer, poster);
        engine.SetPrompt(&bridge);
        tools::RunSync(plan, engine);
        end->failures = engine.Failures();
        end->skipped = engine.SkippedCount();
      },
      fileops::TJobStart::Queued,
      [owner, end, title](fileops::TJob&) {
        if (owner == nullptr) return;
        owner->RefreshBothPanels();
        if (end->skipped == 0) return;
        std::string text = std::to_string(end->failures.size()) + " items were skipped:";
        for (const fileops::TFMMessage& m : end->failures)
          text += "\n" + m.text + (m.reason.empty() ? std::string() : ": " + m.reason);
        ShowMessage(owner, MessageKind::Summary, QStringLiteral("Synchronize directories"), platform::ToDisplay(text));
      });
  if (background) return false;
  return window->Follow(*center, job, QStringLiteral("Synchronize directories...Wait"));
}

// A plan with an archive side runs on the window's thread, where the panels
// use the same archive: in the operation window, with its questions and
// Cancel; what failed unseen ("Skip all", deletions) is listed at the end.
void RunSyncThroughSources(TMainForm& form, const tools::TSyncPlan& plan) {
  tools::TSyncOutcome outcome;
  RunEngineWork(form, QStringLiteral("Synchronize directories...Wait"), [&](fileops::TFMOperation& op) {
    fileops::TSourceCopy copy;
    copy.SetPrompt(op.Prompt());
    fileops::TOperationForm* window = OperationForm(form);
    outcome = tools::RunSync(plan, copy, [window](double done, double total, const std::string&) {
      window->GlobalDone(total > 0 ? static_cast<int>(done * 100 / total) : 100);
      if (!window->FMOperation.OperationAborted) return true;
      window->FMOperation.OperationAborted = false;  // the copy asks "Abort operation?" itself
      return false;
    });
  });
  bool unseen = outcome.skipped > 0 || !outcome.changed.empty();
  for (const fileops::TFMMessage& m : outcome.failures) unseen = unseen || m.kind != fileops::TFMMessageKind::CouldNotCopy;
  if (!unseen) return;
  std::string text;
  for (const fileops::TFMMessage& m : outcome.failures)
    text += m.text + (m.reason.empty() ? std::string() : ": " + m.reason) + "\n";
  for (const std::string& path : outcome.changed) text += path + ": changed since the comparison, left alone\n";
  ShowMessage(&form, MessageKind::Summary, QStringLiteral("Synchronize directories"), platform::ToDisplay(text));
}

}  // namespace

void RunSyncCommand(TMainForm& form) {
  TFMPanel* left = form.LeftFMPanel();
  TFMPanel* right = form.RightFMPanel();
  if (left == nullptr || right == nullptr) return;
  static tools::TSyncOptions options;  // the choices stay for the next opening
  const auto run = [&form](const tools::TSyncPlan& plan, bool background) {
    if (!plan.leftPlace.Local() || !plan.rightPlace.Local()) {
      RunSyncThroughSources(form, plan);
      return true;
    }
    return RunSyncJob(form, plan, background);
  };
  const auto resolve = [&form](const std::string& path, tools::TSyncPlace& place, std::string* error) {
    return ResolveSyncPlace(form, path, place, error);
  };
  TSyncDirsForm dialog(&form, left->Directory(), right->Directory(), options, run, resolve);
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
