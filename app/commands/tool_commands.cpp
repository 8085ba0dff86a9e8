// tool_commands.cpp - the file tools as commands of the main window.
#include "app/commands/tool_commands.h"

#include <atomic>
#include <memory>
#include <optional>

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QStringList>

#include "app/commands/archive_entries.h"
#include "app/dialogs/comparedirsform.h"
#include "app/dialogs/conflict_list.h"
#include "app/dialogs/messages.h"
#include "app/dialogs/multirenameform.h"
#include "app/dialogs/syncdirsform.h"
#include "app/panels/archive_places.h"
#include "app/commands/file_commands.h"
#include "app/panels/quick_view.h"
#include "app/settings/message_table.h"
#include "app/window/features.h"
#include "app/window/mainform.h"
#include "fileops/deferred.h"
#include "fileops/job.h"
#include "fileops/qt/job_center.h"
#include "fileops/qt/operationform.h"
#include "fileops/source_copy.h"
#include "panels/qt/fmpanel.h"
#include "platform/copyfile.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/terminal.h"
#include "tools/dir_compare.h"
#include "tools/dir_sync.h"
#include "vfs/password.h"
#include "vfs/source.h"
#include "panels/dirmodel.h"
#include "platform/qt/wording.h"

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
  const QString caption = platform::Worded("Compare directories");
  if (RefusedInArchive(form, left, caption) || RefusedInArchive(form, right, caption)) return;
  if (left->Model().IsListing() || right->Model().IsListing()) {
    ShowMessage(&form, MessageKind::Warning, caption,
                platform::Worded("A listing of search results cannot be compared: open a directory in both panels."));
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
    ShowMessage(&form, MessageKind::Information, caption, platform::Worded("The directories are the same."));
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
  if (RefusedInArchive(form, panel, platform::Worded("Multi-rename"), platform::Worded("Shift+F6 renames one entry.")))
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

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// How a job reads the archive of `origin` again, with a reader of its own.
tools::TSyncPlace::TReopen ReopenOf(TArchiveOrigin origin) {
  return [origin](vfs::TPasswordProvider* passwords, std::string* error) {
    return OpenArchiveAgain(origin, passwords, error);
  };
}

// A side of Synchronize directories: a local directory, or a place inside an
// archive (the reader of the panel showing it, else the one the panels
// share), typed as the panels show it: "/home/u/a.zip/docs".
bool ResolveSyncPlace(TMainForm& form, const std::string& typed, tools::TSyncPlace& place, std::string* error) {
  const std::string path = WithoutTrailingSlash(typed);
  place = tools::TSyncPlace{path, nullptr, {}, {}};
  for (TFMPanel* panel : {form.LeftFMPanel(), form.RightFMPanel()}) {
    if (panel == nullptr || panel->Directory() != path) continue;
    if (std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(*panel)) {
      vfs::TError err;
      if (source->Stale()) source->Refresh(&err);  // a run of ours (or another program) changed it
      place.source = std::move(source);
      place.inner = panel->Model().Place();
      place.reopen = ReopenOf(ArchiveOriginOf(*panel));
      return true;
    }
  }
  if (platform::IsDirectory(path)) return true;
  TArchivePlace found;
  std::string why;
  if (OpenArchivePlace(path, found, &why)) {
    vfs::TEntry entry;
    vfs::TError err;
    if (!found.inner.empty() &&
        (!found.source->Stat(found.inner, entry, &err) || entry.kind != vfs::TEntryKind::Directory)) {
      // The names go in as bytes.
      *error = panels::FillIn(platform::Worded("\"%1\" does not exist: %2").toStdString(), path,
                              panels::FillIn(platform::Worded("%1 holds no directory \"%2\".").toStdString(),
                                             found.source->Root(), found.inner));
      return false;
    }
    place.source = std::move(found.source);
    place.inner = found.inner;
    place.reopen = ReopenOf(std::move(found.origin));
    return true;
  }
  if (!why.empty()) {
    *error = panels::FillIn(platform::Worded("\"%1\" cannot be read: %2").toStdString(), path, why);
    return false;
  }
  platform::EntryInfo info;
  *error = panels::FillIn(platform::Worded(platform::LStat(path, info) ? "\"%1\" is a file, not a directory or an archive."
                                                                      : "\"%1\" does not exist.")
                              .toStdString(),
                          path);
  return false;
}

// What a synchronisation job leaves for the window: written on the job's
// thread, read on the window's once the job ended.
struct TSyncJobEnd {
  tools::TSyncOutcome outcome;
  size_t unseen = 0;  // failures nobody was shown (kept in the background, "Skip all", deletions)
};

// The conflicts a run in the background kept for its end: one list on the
// window's thread, one answer for all of them. Empty: none, or no answer.
std::optional<fileops::TConflictChoice> AskAboutKept(fileops::TJob& job, const fileops::TJobPrompt::TPost& post,
                                                      const std::string& title,
                                                      const std::vector<fileops::TDeferredConflict>& conflicts) {
  if (conflicts.empty() || job.CancelRequested()) return std::nullopt;
  QStringList items;
  for (const fileops::TDeferredConflict& c : conflicts) items << platform::ToDisplay(platform::JoinPath(c.destDir, c.destName));
  const QString shown = platform::ToDisplay(title);
  const std::optional<int> choice = fileops::AskThrough(job, post, [shown, items] {
    return static_cast<int>(AskConflictList(QApplication::activeWindow(), shown, items));
  });
  if (!choice) return std::nullopt;
  return static_cast<fileops::TConflictChoice>(*choice);
}

// The job's work for a plan of two directories: the copy engine, each copy
// told to the prompt that keeps the questions of a run in the background.
void SyncDirectories(fileops::TJob& job, const tools::TSyncPlan& plan, fileops::TDeferringPrompt& kept,
                     const fileops::TJobPrompt::TPost& post, const std::string& title, TSyncJobEnd& end) {
  fileops::TFMOperation engine;
  job.Attach(engine);
  engine.SetPrompt(&kept);
  end.outcome = tools::RunSync(plan, engine, &kept);
  end.outcome.failures = engine.Failures();
  end.outcome.skipped = engine.SkippedCount();
  const std::vector<fileops::TDeferredConflict> conflicts = kept.TakeConflicts();
  if (end.outcome.aborted) return;
  if (const auto choice = AskAboutKept(job, post, title, conflicts)) {
    kept.SetDeferring(false);  // what is asked from here on is asked at once
    fileops::SettleConflicts(engine, conflicts, *choice, false);
    end.outcome.failures.insert(end.outcome.failures.end(), engine.Failures().begin(), engine.Failures().end());
    end.outcome.skipped += engine.SkippedCount();
  }
}

// The job's work for a plan with an archive side: the sources' copy, with
// readers of the job's own, every side written as one change.
void SyncThroughSources(fileops::TJob& job, const tools::TSyncPlan& plan, fileops::TDeferringPrompt& kept,
                        const fileops::TJobPrompt::TPost& post, const std::string& title, TSyncJobEnd& end) {
  const std::unique_ptr<vfs::TPasswordProvider> passwords = JobPasswords(job, post);
  tools::TSyncPlan own = plan;  // after `passwords`, which its readers ask
  std::string error;
  if (!tools::ReopenSides(own, passwords.get(), &error)) {
    const std::string item = own.left + " / " + own.right;
    end.outcome.failures.push_back({fileops::TFMMessageKind::CouldNotCopy, item,
                                    fileops::MessageText(fileops::TFMMessageKind::CouldNotCopy, item), 0, error});
    ++end.unseen;
    return;
  }
  fileops::TSourceCopy copy;
  copy.SetPrompt(&kept);
  copy.SetGate(&job);
  // The items are those of the pass under way (one a side written), as a move's are.
  end.outcome = tools::RunSync(own, copy, [&job, &copy](double done, double total, const std::string& item) {
    job.SetProgress(done, total, copy.ItemsDone(), copy.ItemCount(), item);
    return true;  // the job's gate stops the copy
  }, &kept);
  // What the run did itself (deletions, reading an archive again) was shown to nobody.
  for (const fileops::TFMMessage& m : end.outcome.failures) end.unseen += m.kind != fileops::TFMMessageKind::CouldNotCopy;
  const std::vector<fileops::TDeferredConflict> conflicts = kept.TakeConflicts();
  if (end.outcome.aborted) return;
  if (const auto choice = AskAboutKept(job, post, title, conflicts)) {
    kept.SetDeferring(false);
    const tools::TSyncOutcome settled = tools::SettleSyncConflicts(own, copy, conflicts, *choice);
    end.outcome.done += settled.done;
    end.outcome.failures.insert(end.outcome.failures.end(), settled.failures.begin(), settled.failures.end());
    end.outcome.skipped += settled.skipped;
  }
}

// The end of a synchronisation: one list of what failed unseen and of what
// was left alone because it changed since the comparison.
int ShowSyncEnd(TMainForm& form, const TSyncJobEnd& end) {
  const tools::TSyncOutcome& outcome = end.outcome;
  if (end.unseen == 0 && outcome.skipped == 0 && outcome.changed.empty()) return static_cast<int>(outcome.failures.size());
  std::string text;
  for (const fileops::TFMMessage& m : outcome.failures)
    text += m.text + (m.reason.empty() ? std::string() : ": " + m.reason) + "\n";
  for (const std::string& path : outcome.changed) text += path + ": changed since the comparison, left alone\n";
  ShowMessage(&form, MessageKind::Summary, platform::Worded("Synchronize directories"), platform::ToDisplay(text));
  return static_cast<int>(outcome.failures.size() + outcome.changed.size());
}

// Runs a plan as a job: followed in the operation window (where Background,
// F2, sends it behind; the Operations window lists it) or at once in the
// background. In the background it never stands still on a question: a
// destination that changed since the comparison is kept for the end (one
// list, one answer), a failing item for the end's report. An archive side
// is read by the job's own reader and written as one change. At its end
// the panels are read again. True when it ended in front.
bool RunSyncJob(TMainForm& form, const tools::TSyncPlan& plan, bool background) {
  fileops::TJobCenter* center = JobCenter(form);
  fileops::TOperationForm* window = OperationForm(form);
  fileops::TFMPrompt* answerer = window->FMOperation.Prompt();
  if (center == nullptr || answerer == nullptr || window->Running()) return true;
  auto end = std::make_shared<TSyncJobEnd>();
  const bool sources = !plan.leftPlace.Local() || !plan.rightPlace.Local();
  TCommandJob job;
  job.title = panels::FillIn(platform::Worded("Synchronize %1 and %2").toStdString(), plan.left, plan.right);
  job.text = platform::Worded("Synchronize directories...Wait");
  job.places = {platform::NearestExistingDirectory(plan.left), platform::NearestExistingDirectory(plan.right)};
  job.queued = background;
  job.work = [plan, end, answerer, sources, title = job.title, post = center->Poster(),
              deferring = job.background](fileops::TJob& self) {
    fileops::TJobPrompt bridge(self, *answerer, post);
    fileops::TDeferringPrompt kept(bridge, deferring);
    kept.OnKept = [&self](size_t conflicts, size_t failures) { self.SetDeferred(conflicts + failures); };
    if (sources)
      SyncThroughSources(self, plan, kept, post, title, *end);
    else
      SyncDirectories(self, plan, kept, post, title, *end);
    end->unseen += kept.TakeFailures().size();
  };
  job.finish = [owner = QPointer<TMainForm>(&form), end](bool) {
    return owner == nullptr ? 0 : ShowSyncEnd(*owner, *end);
  };
  const std::shared_ptr<std::atomic<bool>> behind = job.background;
  StartCommandJob(form, nullptr, std::move(job));
  return !*behind;
}

}  // namespace

void RunSyncCommand(TMainForm& form) {
  TFMPanel* left = form.LeftFMPanel();
  TFMPanel* right = form.RightFMPanel();
  if (left == nullptr || right == nullptr) return;
  static tools::TSyncOptions options;  // the choices stay for the next opening
  const auto run = [&form](const tools::TSyncPlan& plan, bool background) {
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
    ShowMessage(&form, MessageKind::Error, platform::Worded("Open terminal here"),
                platform::Worded("The terminal could not be started: %1.").arg(platform::ToDisplay(error)));
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
