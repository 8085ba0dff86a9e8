// file_commands.cpp - copy, move, delete, view, edit, directory size, the
// command line and help, as the main window's commands.
#include "app/commands/file_commands.h"

#include <cmath>
#include <string_view>
#include <unordered_map>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "app/commands/command_line.h"
#include "app/commands/options_commands.h"
#include "app/commands/archive_entries.h"
#include "app/commands/trash_commands.h"
#include "app/window/features.h"
#include "app/window/mainform.h"
#include "app/settings/message_table.h"
#include "app/dialogs/messages.h"
#include "app/dialogs/overwrite_question.h"
#include "app/settings/settings.h"
#include "app/dialogs/operationsform.h"
#include "app/dialogs/conflict_list.h"
#include "fileops/deferred.h"
#include "fileops/copy_target.h"
#include "fileops/job.h"
#include "fileops/qt/job_center.h"
#include "fileops/qt/operationform.h"
#include "fileops/trash_operation.h"
#include "panels/dirmodel.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/qt/help.h"
#include "platform/qt/notification.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"
#include "platform/rename.h"
#include "platform/text.h"

namespace vantrel::app {

namespace {

using fileops::TFMMessage;
using fileops::TFMPrompt;
using fileops::TJob;
using fileops::TJobCenter;
using fileops::TOperationForm;
using fileops::TOverwriteAnswer;
using panels::TFMPanel;

constexpr const char* kConfirmCaption = "Confirm";

QString MainCaption() { return QString::fromLatin1(kMainCaption); }

void Warn(TMainForm& form, TMsg id) {
  ShowMessage(&form, MessageKind::Warning, MainCaption(), Msg(id));
}

// The engine's questions and reports as message boxes in front of the
// operation window.
class TQtPrompt final : public TFMPrompt {
 public:
  explicit TQtPrompt(QWidget* owner) : owner_(owner) {}

  TOverwriteAnswer AskOverwrite(const std::string&, const std::string& text) override {
    switch (app::ShowMessage(Parent(), MessageKind::QuestionAll, platform::Worded(kConfirmCaption),
                             platform::ToDisplay(text))) {
      case MessageAnswer::Yes: return TOverwriteAnswer::Yes;
      case MessageAnswer::All: return TOverwriteAnswer::All;
      case MessageAnswer::None: return TOverwriteAnswer::None;
      case MessageAnswer::Cancel: return TOverwriteAnswer::Cancel;
      default: return TOverwriteAnswer::No;  // or a box that knew no better: never overwrite unasked
    }
  }

  bool AskAbort(const std::string& text) override {
    return app::ShowMessage(Parent(), MessageKind::Question, platform::Worded(kConfirmCaption),
                       platform::ToDisplay(text)) == MessageAnswer::Yes;
  }

  // Under the question, what the user weighs: size and time of both files.
  TOverwriteAnswer AskOverwriteFacts(const std::string&, const std::string& text,
                                     const fileops::TFileFacts& source,
                                     const fileops::TFileFacts& dest) override {
    switch (AskOverwriteQuestion(Parent(), kConfirmCaption, text, {source.size, source.writeTime},
                                 {dest.size, dest.writeTime})) {
      case TOverwriteChoice::Yes: return TOverwriteAnswer::Yes;
      case TOverwriteChoice::All: return TOverwriteAnswer::All;
      case TOverwriteChoice::None: return TOverwriteAnswer::None;
      case TOverwriteChoice::Cancel: return TOverwriteAnswer::Cancel;
      case TOverwriteChoice::No: break;
    }
    return TOverwriteAnswer::No;
  }

  // The fixed text first, the system's reason under it.
  fileops::TMessageAnswer ShowMessage(const TFMMessage& message) override {
    const std::string text = message.reason.empty() ? message.text : message.text + "\n" + message.reason;
    switch (app::ShowMessage(Parent(), MessageKind::Failure, QString::fromLatin1(kDialogCaption),
                             platform::ToDisplay(text))) {
      case MessageAnswer::SkipAll:
        return fileops::TMessageAnswer::SkipAll;
      case MessageAnswer::Abort:
        return fileops::TMessageAnswer::Abort;
      case MessageAnswer::Retry:
        return fileops::TMessageAnswer::Retry;
      default:
        return fileops::TMessageAnswer::Ok;
    }
  }

 private:
  QWidget* Parent() const {
    return owner_->isVisible() ? owner_ : owner_->parentWidget();
  }
  QWidget* owner_;
};

// The operation window, its prompt and the jobs, owned by the main window.
class TOperationHost final : public QObject {
 public:
  explicit TOperationHost(TMainForm& form)
      : QObject(&form), window(new TOperationForm(&form, MainCaption())), prompt(window),
        center(new TJobCenter(this)) {
    setObjectName(QStringLiteral("FileCommandsHost"));
    window->FMOperation.SetPrompt(&prompt);
    window->ConfirmAbort = [this] { return prompt.AskAbort(fileops::kAbortQuestion); };
  }
  ~TOperationHost() override {
    // The jobs end (cancelled) before the prompt they may be asking through goes.
    delete center;
  }
  TOperationForm* window;
  TQtPrompt prompt;
  TJobCenter* center;
  app::TOperationsForm* operations = nullptr;  // made when first shown
  bool closeWhenIdle = false;  // "Wait" when closing: the window closes once the jobs ended
};

TOperationHost& Host(TMainForm& form) {
  if (auto* host = form.findChild<TOperationHost*>(QStringLiteral("FileCommandsHost"),
                                                   Qt::FindDirectChildrenOnly))
    return *host;
  return *new TOperationHost(form);
}

// Common start of the commands on entries: the focused panel, whose directory
// becomes the process's current directory. Null after the warning when
// neither panel has the focus.
TFMPanel* SourcePanel(TMainForm& form) {
  TFMPanel* panel = form.ActivePanel();
  if (panel == nullptr) {
    Warn(form, TMsg::NoSelectedFiles);
    return nullptr;
  }
  if (!panel->Directory().empty()) platform::SetCurrentDir(panel->Directory());
  return panel;
}

std::vector<std::string> MarkedNames(const TFMPanel& panel) {
  std::vector<std::string> names;
  for (const panels::TFileEntry* entry : panel.GetMarkedEntries())
    if (entry != nullptr && !entry->IsDotDot()) names.push_back(entry->FileName);
  return names;
}

void UnmarkNames(TFMPanel& panel, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const int index = panel.IndexOfName(name);
    if (index < panel.Count() && panel.Entries()[static_cast<size_t>(index)]->FileName == name)
      panel.SetMarked(index, false);
  }
}

// The engine works on names of one directory: absolute paths grouped by
// their directories, in the order in which the directories first appear.
using TGroups = std::vector<std::pair<std::string, std::vector<std::string>>>;
TGroups GroupByDirectory(const std::vector<std::string>& paths) {
  TGroups groups;
  std::unordered_map<std::string, size_t> groupOf;
  for (std::string path : paths) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos || slash + 1 == path.size()) continue;
    std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    auto [it, added] = groupOf.emplace(dir, groups.size());
    if (added) groups.push_back({dir, {}});
    groups[it->second].second.push_back(path.substr(slash + 1));
  }
  return groups;
}

// The marked entries of a panel by directory: one group for a directory's
// own listing, one per directory for a listing of search results, whose
// names are paths below the panel's directory.
TGroups MarkedGroups(const TFMPanel& panel, const std::vector<std::string>& names) {
  if (!panel.Model().IsListing()) return {{panel.Directory(), names}};
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back(platform::JoinPath(panel.Directory(), name));
  return GroupByDirectory(paths);
}

// Where a command's source panel stood, as a job on another thread needs it.
struct TPanelPlace {
  std::string root;      // the panel's directory
  bool listing = false;  // a listing of search results: its names are paths below root
};

TPanelPlace PlaceOf(const TFMPanel& panel) { return {panel.Directory(), panel.Model().IsListing()}; }

// What the engine handled whole in directory `dir` of one group, as the
// panel names it: bare names in a directory, paths in a listing.
void AddHandled(const TPanelPlace& panel, const std::string& dir, const std::vector<std::string>& completed,
                std::vector<std::string>& handled) {
  const std::string& root = panel.root;
  const std::string prefix = root == "/" ? root : root + "/";
  for (const std::string& name : completed) {
    const std::string path = platform::JoinPath(dir, name);
    handled.push_back(panel.listing && path.compare(0, prefix.size(), prefix) == 0
                          ? path.substr(prefix.size())
                          : name);
  }
}

// The Delete question names what goes: the one item, or how many and
// their size with everything below them.
QString DeleteQuestion(TMainForm& form, const TFMPanel& source, const std::vector<std::string>& names) {
  QString text = Msg(TMsg::DeleteQuestion) + QStringLiteral("\n\n");
  if (names.size() == 1) return text + platform::ToDisplay(names.front());
  double size = 0;
  for (const auto& [dir, group] : MarkedGroups(source, names))
    size += std::max(0.0, Host(form).window->FMOperation.GetTotalSize(group, dir));
  return text + DeleteNoteText(names.size(), static_cast<uint64_t>(std::llround(std::max(0.0, size))));
}

// A refused destination is said before anything happens; a new directory
// typed with a trailing "/" is made, with the levels above it. False when
// the operation must not run.
bool PrepareTarget(TMainForm& form, const fileops::TCopyTarget& target) {
  if (target.kind == fileops::TCopyTarget::TKind::Refused) {
    ShowMessage(&form, MessageKind::Warning, MainCaption(), platform::ToDisplay(target.message));
    return false;
  }
  if (!target.createDir) return true;
  const int error = platform::MakeDirectoryPath(target.dir);
  if (error == 0) return true;
  ShowMessage(&form, MessageKind::Warning, MainCaption(),
              platform::ToDisplay("Could not create directory " + target.dir + "\n" +
                                  platform::ErrorText(error)));
  return false;
}

// One message at the end of an operation, if any: the list of every failing
// item with the system's reason after "Skip all" hid some, and "Operation
// aborted" when the operation was cancelled without the user having chosen
// to abort (whoever chose it, in a question or with Cancel, needs no word
// about it).
void ShowEndMessage(TMainForm& form, const TJobOutcome& outcome, bool cancelled) {
  const bool aborted = outcome.aborted && !outcome.abortChosen && !cancelled;
  if (outcome.skipped > 0) {
    std::string text = std::to_string(outcome.failures.size()) + " items were skipped:";
    for (const TFMMessage& m : outcome.failures)
      text += "\n" + m.text + (m.reason.empty() ? std::string() : ": " + m.reason);
    QString shown = platform::ToDisplay(text);
    if (aborted) shown += QStringLiteral("\n\n") + Msg(TMsg::OperationAborted);
    ShowMessage(&form, MessageKind::Summary, QString::fromLatin1(kDialogCaption), shown);
  } else if (aborted) {
    ShowMessage(&form, MessageKind::Information, MainCaption(), Msg(TMsg::OperationAborted));
  }
}

// One command's job as the window follows it.
struct TJobRun {
  QPointer<TMainForm> form;
  QPointer<TFMPanel> source;
  QString title;
  std::function<void()> afterEnd;
  std::function<int(bool cancelled)> finish;
  bool background = false;
  bool ended = false;
  bool cancelled = false;
};

// The end of a job: the cursor back in the source panel (when the job ran in
// front), both panels re-read, then the command's own end (its message, the
// marks of what it handled). A notification says so when the window is not
// the active one.
void FinishJob(const TJobRun& run) {
  if (run.afterEnd) run.afterEnd();
  TMainForm* form = run.form;
  if (form == nullptr) return;
  const bool elsewhere = !form->isActiveWindow();  // before anything here activates it
  if (!run.background && run.source != nullptr) {
    form->activateWindow();
    run.source->setFocus();
  }
  form->RefreshBothPanels();
  const int failed = run.finish ? run.finish(run.cancelled) : 0;
  if (elsewhere) platform::SendDesktopNotification(run.title, JobEndText(run.cancelled, failed));
}

// Starts `work` (with the copy engine's end: one message for what failed,
// the handled names unmarked) as a job; see StartCommandJob.
void StartWork(TMainForm& form, TFMPanel* source, const QString& text, bool deleting, const std::string& title,
               const std::vector<std::string>& places, TJobWorkFn work, bool queued,
               std::function<void()> afterEnd) {
  TOperationHost& host = Host(form);
  auto outcome = std::make_shared<TJobOutcome>();
  TCommandJob job;
  job.title = title;
  job.text = text;
  job.places = places;
  job.mainCaption = deleting;
  job.queued = queued;
  job.afterEnd = std::move(afterEnd);
  job.work = [work = std::move(work), outcome, poster = host.center->Poster(), prompt = &host.prompt](TJob& self) {
    fileops::TJobPrompt bridge(self, *prompt, poster);
    work(self, bridge, *outcome);
  };
  job.finish = [form = QPointer<TMainForm>(&form), source = QPointer<TFMPanel>(source),
                sourceDir = source != nullptr ? source->Directory() : std::string(), outcome](bool cancelled) {
    if (form != nullptr) ShowEndMessage(*form, *outcome, cancelled);
    if (source != nullptr && source->Directory() == sourceDir) UnmarkNames(*source, outcome->handled);
    return static_cast<int>(outcome->failures.size());
  };
  StartCommandJob(form, source, std::move(job));
}

// The engine's part of a command, run on the job's thread. `kept` is the
// engine's prompt: a copy or move tells it where each run copies, so that a
// conflict kept for the end knows its place.
using TEngineWork =
    std::function<void(fileops::TFMOperation& op, fileops::TDeferringPrompt& kept, TJobOutcome& outcome)>;
// Runs a command again on the items that failed in `outcome`.
using TRetry = std::function<void(const TJobOutcome& outcome)>;

// The conflicts a background job kept: one list on the window's thread, and
// the answer applied to all of them (each asked, for "Decide each").
void SettleKeptConflicts(TJob& job, fileops::TFMOperation& engine, fileops::TDeferringPrompt& kept,
                         const fileops::TJobPrompt::TPost& post, const std::string& title, bool move) {
  const std::vector<fileops::TDeferredConflict> conflicts = kept.TakeConflicts();
  if (conflicts.empty() || job.CancelRequested() || engine.OperationAborted) return;
  QStringList items;
  for (const auto& c : conflicts) items << platform::ToDisplay(c.item);
  const QString shown = platform::ToDisplay(title);
  const std::optional<int> choice = fileops::AskThrough(job, post, [shown, items] {
    return static_cast<int>(AskConflictList(QApplication::activeWindow(), shown, items));
  });
  if (!choice) return;
  // What is asked from here on is asked at once: the job waits for it anyway.
  kept.SetDeferring(false);
  fileops::SettleConflicts(engine, conflicts, static_cast<fileops::TConflictChoice>(*choice), move);
}

// Starts a copy-engine command as a job; at its end the one message of the
// end, and the source panel's marks gone from the names handled whole (when
// it still shows the same directory); what failed or was skipped stays marked.
// In the background the job keeps its questions for its end (the conflicts
// as one list, the failing items in the report, with Retry when `retry`).
void StartJob(TMainForm& form, TFMPanel* source, TMsg text, bool deleting, const std::string& title,
              const std::vector<std::string>& places, TEngineWork work, bool queued = false, bool move = false,
              TRetry retry = {}, std::vector<std::string> sources = {}) {
  TOperationHost& host = Host(form);
  auto outcome = std::make_shared<TJobOutcome>();
  TCommandJob job;
  job.title = title;
  job.text = Msg(text);
  job.places = places;
  job.sources = std::move(sources);
  job.mainCaption = deleting;
  job.queued = queued;
  job.work = [work = std::move(work), outcome, poster = host.center->Poster(), prompt = &host.prompt,
              background = job.background, title, move](TJob& self) {
    fileops::TFMOperation engine;
    self.Attach(engine);
    fileops::TJobPrompt bridge(self, *prompt, poster);
    fileops::TDeferringPrompt kept(bridge, background);
    kept.OnKept = [&self](size_t conflicts, size_t failures) { self.SetDeferred(conflicts + failures); };
    engine.SetPrompt(&kept);
    work(engine, kept, *outcome);
    SettleKeptConflicts(self, engine, kept, poster, title, move);
    // Failing items nobody was shown: the end's report lists them.
    outcome->skipped += static_cast<int>(kept.TakeFailures().size());
  };
  job.finish = [form = QPointer<TMainForm>(&form), source = QPointer<TFMPanel>(source),
                sourceDir = source != nullptr ? source->Directory() : std::string(), outcome,
                background = job.background, retry](bool cancelled) {
    if (form != nullptr) ShowEndMessage(*form, *outcome, cancelled);
    if (source != nullptr && source->Directory() == sourceDir) UnmarkNames(*source, outcome->handled);
    if (form != nullptr && retry && *background && !cancelled && !outcome->failures.empty() &&
        ShowMessage(form, MessageKind::Question, MainCaption(),
                    QStringLiteral("Retry the %1 failed items?").arg(outcome->failures.size())) == MessageAnswer::Yes)
      retry(*outcome);
    return static_cast<int>(outcome->failures.size());
  };
  StartCommandJob(form, source, std::move(job));
}

// A failed item of a job: the run's directory, the item's directory below
// it ("" for the run's own) and its bare name.
struct TFailedItem {
  std::string root, rel, name;
};
std::vector<TFailedItem> FailedItems(const TJobOutcome& outcome) {
  std::vector<TFailedItem> items;
  for (size_t i = 0; i < outcome.failures.size(); ++i) {
    const std::string& item = outcome.failures[i].item;
    const std::string& root = i < outcome.failedDirs.size() ? outcome.failedDirs[i] : std::string();
    if (item.empty() || root.empty()) continue;
    const size_t slash = item.rfind('/');
    if (slash == std::string::npos)
      items.push_back({root, {}, item});
    else
      items.push_back({root, item.substr(0, slash), item.substr(slash + 1)});
  }
  return items;
}

std::string Under(const std::string& dir, const std::string& rel) {
  return rel.empty() ? dir : platform::JoinPath(dir, rel);
}

// The paths a copy or move of these groups reads.
std::vector<std::string> SourcePaths(const TGroups& groups) {
  std::vector<std::string> paths;
  for (const auto& [dir, names] : groups)
    for (const std::string& name : names) paths.push_back(platform::JoinPath(dir, name));
  return paths;
}

}  // namespace

QString DeleteNoteText(uint64_t items, uint64_t bytes) {
  const QString size = platform::WordedCount("%1 byte", "%1 bytes", static_cast<long long>(bytes),
                                             QString::fromStdString(platform::FormatThousands(bytes)));
  return platform::WordedForm("%1 item, %2", "%1 items, %2", static_cast<long long>(items))
      .arg(QString::number(items), size);
}

QString JobsIndicatorText(int running, int queued, int percent) {
  QString text = platform::WordedCount("%1 job", "%1 jobs", running);
  if (queued > 0) text += QLatin1Char(' ') + platform::Worded("(+%1 queued)").arg(queued);
  if (percent >= 0) text += QStringLiteral(", %1%").arg(percent);
  return text;
}

QString JobsNotEndedText(size_t jobs) {
  // Worded here, as its first line holds the count.
  return platform::WordedCount("%1 job has not ended yet.", "%1 jobs have not ended yet.",
                               static_cast<long long>(jobs)) +
         QStringLiteral("\n\n") +
         platform::Worded("Continue working, cancel the jobs and close, or close when they have ended?");
}

QString JobEndText(bool cancelled, int failed) {
  if (cancelled) return platform::Worded("Cancelled");
  if (failed == 0) return platform::Worded("Done");
  return platform::WordedCount("Done, %1 item failed", "Done, %1 items failed", failed);
}

void TJobOutcome::Take(const fileops::TFMOperation& op, const std::string& dir) {
  failures.insert(failures.end(), op.Failures().begin(), op.Failures().end());
  failedDirs.resize(failures.size(), dir);
  skipped += op.SkippedCount();
  aborted = aborted || op.OperationAborted;
  abortChosen = abortChosen || op.AbortChosen();
}

// "Copy a.txt to /home/user" or "Move 3 items to /tmp": a job's line in the
// Operations window and its notification.
std::string JobTitle(TJobVerb verb, const std::vector<std::string>& names, const std::string& dest) {
  const bool one = names.size() == 1;
  const auto n = static_cast<long long>(names.size());
  QString text;
  switch (verb) {
    case TJobVerb::Copy:
      text = one ? platform::Worded("Copy %1 to %2")
                 : platform::WordedForm("Copy %1 item to %2", "Copy %1 items to %2", n);
      break;
    case TJobVerb::Move:
      text = one ? platform::Worded("Move %1 to %2")
                 : platform::WordedForm("Move %1 item to %2", "Move %1 items to %2", n);
      break;
    case TJobVerb::Delete:
      text = one ? platform::Worded("Delete %1") : platform::WordedForm("Delete %1 item", "Delete %1 items", n);
      break;
  }
  // The names go in as bytes: a name that is not UTF-8 stays whole.
  return panels::FillIn(text.toStdString(), one ? names.front() : std::to_string(names.size()), dest);
}

void StartEngineJob(TMainForm& form, TFMPanel* source, const QString& waitText, const std::string& title,
                    const std::vector<std::string>& places, TJobWorkFn work, bool queued,
                    std::function<void()> afterEnd) {
  StartWork(form, source, waitText, false, title, places, std::move(work), queued, std::move(afterEnd));
}

namespace {

// A second command while an operation runs in front (from an event served
// by the operation window) would disturb the running one: it does nothing.
bool Busy(TMainForm& form) { return Host(form).window->Running(); }

}  // namespace

TOperationForm* OperationForm(TMainForm& form) { return Host(form).window; }

bool RunEngineWork(TMainForm& form, const QString& text, const std::function<void(fileops::TFMOperation&)>& work) {
  if (Busy(form)) return false;
  TOperationForm& window = *Host(form).window;
  window.Begin(text);
  work(window.FMOperation);
  window.End();
  TJobOutcome outcome;
  outcome.Take(window.FMOperation);
  ShowEndMessage(form, outcome, false);
  form.RefreshBothPanels();
  return true;
}

fileops::TJobCenter* JobCenter(TMainForm& form) { return Host(form).center; }

void StartCommandJob(TMainForm& form, TFMPanel* source, TCommandJob request) {
  TOperationHost& host = Host(form);
  auto run = std::make_shared<TJobRun>();
  run->form = &form;
  run->source = source;
  run->title = platform::ToDisplay(request.title);
  run->afterEnd = std::move(request.afterEnd);
  run->finish = std::move(request.finish);
  auto job = host.center->Add(request.title, {fileops::DevicesOf(request.places), std::move(request.sources)},
                              std::move(request.work),
                              fileops::TJobStart::Queued, [run](TJob& ended) {
                                run->ended = true;
                                run->cancelled = ended.State() == fileops::TJobState::Cancelled;
                                if (run->background) FinishJob(*run);
                              });
  if (request.queued) {
    run->background = true;
    *request.background = true;
    return;
  }
  TOperationForm& window = *host.window;
  if (request.mainCaption) window.setWindowTitle(MainCaption());
  window.Follow(*host.center, job, request.text);
  if (run->ended) {
    FinishJob(*run);
  } else {
    run->background = true;
    *request.background = true;
  }
}


TOperationsForm* ShowOperations(TMainForm& form) {
  TOperationHost& host = Host(form);
  if (host.operations == nullptr) host.operations = new TOperationsForm(*host.center, &form);
  host.operations->show();
  host.operations->raise();
  host.operations->activateWindow();
  return host.operations;
}

namespace {

// The status bar's indicator: the running jobs and their total progress, a
// click opens the Operations window. Hidden while no job is left.
void InstallJobIndicator(TMainForm& form) {
  TJobCenter* center = Host(form).center;
  auto* indicator = new QPushButton(form.statusBar());
  indicator->setObjectName(QStringLiteral("JobIndicator"));
  indicator->setFlat(true);
  indicator->setFocusPolicy(Qt::NoFocus);
  indicator->setToolTip(QStringLiteral("Operations (Ctrl+J)"));
  indicator->hide();
  form.statusBar()->addPermanentWidget(indicator);
  TMainForm* f = &form;
  QObject::connect(indicator, &QPushButton::clicked, &form, [f] { ShowOperations(*f); });
  auto* timer = new QTimer(indicator);
  timer->setInterval(500);
  const auto update = [center, indicator, timer] {
    const int jobs = static_cast<int>(center->Queue().Jobs().size());
    if (jobs == 0) {
      indicator->hide();
      timer->stop();
      return;
    }
    const int running = center->RunningCount();
    const int percent = center->TotalPercent();
    indicator->setText(JobsIndicatorText(running, jobs - running, percent));
    indicator->show();
    if (!timer->isActive()) timer->start();
  };
  QObject::connect(center, &TJobCenter::changed, indicator, update);
  QObject::connect(timer, &QTimer::timeout, indicator, update);
}

// Closing the window while jobs run or wait asks first: "Continue" keeps
// the window and the jobs; "Cancel jobs" cancels them (each ends at its gate
// keeping what it finished whole, a move keeping every source it had not
// copied whole) and closes; "Wait" shows the Operations window and closes
// once the last job ended.
void InstallCloseGuard(TMainForm& form) {
  TOperationHost& host = Host(form);
  TMainForm* f = &form;
  form.AddCloseGuard([f, &host] {
    fileops::TJobQueue& queue = host.center->Queue();
    const auto jobs = queue.Jobs();
    if (jobs.empty()) return true;
    const QString text = JobsNotEndedText(jobs.size());
    switch (ShowMessage(f, MessageKind::JobsRunning, MainCaption(), text)) {
      case MessageAnswer::Abort:
        host.closeWhenIdle = false;
        for (const auto& job : queue.Jobs()) queue.Cancel(job->Id());
        return true;
      case MessageAnswer::Yes:
        host.closeWhenIdle = true;
        ShowOperations(*f);
        return false;
      default:
        host.closeWhenIdle = false;
        return false;
    }
  });
  QObject::connect(host.center, &TJobCenter::changed, f, [f, &host] {
    if (!host.closeWhenIdle || !host.center->Queue().Jobs().empty()) return;
    host.closeWhenIdle = false;
    QTimer::singleShot(0, f, [f] { f->close(); });
  });
}

}  // namespace

void RunDeleteCommand(TMainForm& form, bool permanent) {
  if (Busy(form) || RunInArchive(form, TArchiveCommand::Delete)) return;
  TFMPanel* source = SourcePanel(form);
  if (source == nullptr) return;
  const std::vector<std::string> names = MarkedNames(*source);
  if (names.empty()) {
    Warn(form, TMsg::NoSelectedFiles);
    return;
  }
  QString question = DeleteQuestion(form, *source, names);
  const TGroups groups = MarkedGroups(*source, names);
  if (!permanent && DeleteMovesToTrash(form)) {
    if (MoveToTrashAsked(form, *source, names, groups) != TTrashOutcome::NoTrash) return;
    question += QStringLiteral("\n\n") + QString::fromLatin1(fileops::kNoTrashNote);
  }
  if (ShowMessage(&form, MessageKind::Question, MainCaption(), question) != MessageAnswer::Yes)
    return;
  const TPanelPlace place = PlaceOf(*source);
  std::vector<std::string> dirs;
  for (const auto& group : groups) dirs.push_back(group.first);
  TMainForm* f = &form;
  const TRetry retry = [f](const TJobOutcome& failed) {
    const std::vector<TFailedItem> items = FailedItems(failed);
    std::vector<std::string> places, names;
    for (const TFailedItem& i : items) places.push_back(Under(i.root, i.rel)), names.push_back(i.name);
    StartJob(*f, nullptr, TMsg::DeleteWait, true, JobTitle(TJobVerb::Delete, names, {}), places,
             [items](fileops::TFMOperation& op, fileops::TDeferringPrompt&, TJobOutcome& out) {
               for (const TFailedItem& i : items) {
                 op.DeleteFiles({i.name}, Under(i.root, i.rel));
                 out.Take(op, Under(i.root, i.rel));
                 if (op.OperationAborted) break;
               }
             },
             true);
  };
  StartJob(form, source, TMsg::DeleteWait, true, JobTitle(TJobVerb::Delete, names, {}), dirs,
           [groups, place](fileops::TFMOperation& op, fileops::TDeferringPrompt&, TJobOutcome& out) {
             for (const auto& [dir, group] : groups) {
               op.DeleteFiles(group, dir);
               AddHandled(place, dir, op.Completed(), out.handled);
               out.Take(op, dir);
               if (op.OperationAborted) break;
             }
           },
           false, false, retry);
}

void RunCopyCommand(TMainForm& form, bool move) {
  if (Busy(form) || RunInArchive(form, move ? TArchiveCommand::Move : TArchiveCommand::Copy)) return;
  TFMPanel* source = SourcePanel(form);
  if (source == nullptr) return;
  const std::vector<std::string> names = MarkedNames(*source);
  if (names.empty()) {
    Warn(form, TMsg::NoSelectedFiles);
    return;
  }
  const TFMPanel* other =
      source == form.LeftFMPanel() ? form.RightFMPanel() : form.LeftFMPanel();
  const std::string otherDir = other->Directory();
  const QString prefilled = platform::ToDisplay(otherDir);
  QString answer = prefilled;
  // F2 instead of Enter queues the job without following it.
  bool queued = false;
  if (!AskTextOrQueue(&form, MainCaption(), Msg(move ? TMsg::MovePrompt : TMsg::CopyPrompt), answer, queued))
    return;
  // The prefilled text stands for the directory's own bytes, which need not
  // be valid UTF-8; an edited text is taken as typed, relative to the source.
  const std::string typed = answer == prefilled ? otherDir : answer.toStdString();
  if (typed.empty()) return;
  if (answer == prefilled && !platform::IsDirectory(otherDir)) {
    // The other panel's directory went away: that is no new name to copy to.
    ShowMessage(&form, MessageKind::Warning, MainCaption(),
                platform::Worded("The directory \"%1\" does not exist any more.").arg(platform::ToDisplay(otherDir)));
    return;
  }
  const std::string dir = source->Directory();
  const fileops::TCopyTarget target = fileops::ResolveCopyTarget(names.size(), typed, dir, move);
  if (!PrepareTarget(form, target)) return;
  const TGroups groups = MarkedGroups(*source, names);
  const TPanelPlace place = PlaceOf(*source);
  std::vector<std::string> dirs{target.dir};
  for (const auto& group : groups) dirs.push_back(group.first);
  // Failed items again, each to its place below the destination.
  TMainForm* f = &form;
  const TRetry retry = [f, target, move](const TJobOutcome& failed) {
    const std::vector<TFailedItem> items = FailedItems(failed);
    std::vector<std::string> places{target.dir}, names, sources;
    for (const TFailedItem& i : items) {
      places.push_back(Under(i.root, i.rel));
      names.push_back(i.name);
      sources.push_back(platform::JoinPath(Under(i.root, i.rel), i.name));
    }
    StartJob(*f, nullptr, move ? TMsg::MoveWait : TMsg::CopyWait, false,
             JobTitle(move ? TJobVerb::Move : TJobVerb::Copy, names, target.dir), places,
             [items, target, move](fileops::TFMOperation& op, fileops::TDeferringPrompt& kept, TJobOutcome& out) {
               for (const TFailedItem& i : items) {
                 const std::string from = Under(i.root, i.rel), to = Under(target.dir, i.rel);
                 const std::string name = i.rel.empty() ? target.name : std::string();
                 kept.SetRun(from, to, {i.name}, name);
                 move ? op.MoveFiles({i.name}, from, to, name) : op.CopyFiles({i.name}, from, to, name);
                 out.Take(op, from);
                 if (op.OperationAborted) break;
               }
             },
             true, move, {}, sources);
  };
  StartJob(form, source, move ? TMsg::MoveWait : TMsg::CopyWait, false,
           JobTitle(move ? TJobVerb::Move : TJobVerb::Copy, names, target.dir), dirs,
           [groups, place, target, move](fileops::TFMOperation& op, fileops::TDeferringPrompt& kept,
                                         TJobOutcome& out) {
             for (const auto& [from, group] : groups) {
               kept.SetRun(from, target.dir, group, target.name);
               if (move)
                 op.MoveFiles(group, from, target.dir, target.name);
               else
                 op.CopyFiles(group, from, target.dir, target.name);
               AddHandled(place, from, op.Completed(), out.handled);
               out.Take(op, from);
               if (op.OperationAborted) break;
             }
           },
           queued, move, retry, SourcePaths(groups));
}

void CopyPathsInto(TMainForm& form, const std::vector<std::string>& sourcePaths,
                   const std::string& destDir) {
  if (Busy(form) || destDir.empty()) return;
  for (TFMPanel* panel : {form.LeftFMPanel(), form.RightFMPanel()})
    if (panel->Model().InSource() && panel->Directory() == destDir) return CopyPathsIntoArchive(form, sourcePaths, *panel);
  const TGroups groups = GroupByDirectory(sourcePaths);
  if (groups.empty()) return;
  TFMPanel* focused = form.ActivePanel();
  std::vector<std::string> dirs{destDir}, names;
  for (const auto& [dir, group] : groups) {
    dirs.push_back(dir);
    names.insert(names.end(), group.begin(), group.end());
  }
  StartJob(form, focused, TMsg::CopyWait, false, JobTitle(TJobVerb::Copy, names, destDir), dirs,
           [groups, destDir](fileops::TFMOperation& op, fileops::TDeferringPrompt& kept, TJobOutcome& out) {
             for (const auto& [dir, group] : groups) {
               kept.SetRun(dir, destDir, group);
               op.CopyFiles(group, dir, destDir);
               out.Take(op, dir);
               if (op.OperationAborted) break;
             }
           },
           false, false, {}, SourcePaths(groups));
}

std::vector<std::string> ViewerOrEditorWords(const TMainForm& form, bool edit) {
  const std::string command = edit ? EditorProgram(form.EditorCommand)
                                   : ViewerProgram(form.ViewerCommand, form.ProgramDir());
  // A command that is itself the path of a program (the default viewer in a
  // program directory whose name holds blanks) is not split into words.
  std::vector<std::string> words;
  if (!command.empty() && command.find('"') == std::string::npos &&
      command.find_first_of(" \t") != std::string::npos && !platform::FindProgram(command).empty())
    words = {command};
  else
    words = platform::SplitCommandLine(command);
  // Our own viewer speaks the language chosen here.
  const std::string language = LanguagePath(form.LanguageFile);
  if (!edit && !words.empty() && !language.empty() &&
      std::string_view(words[0]).substr(words[0].rfind('/') + 1) == kDefaultViewerName)
    words.insert(words.begin() + 1, "--language=" + language);
  return words;
}

bool StartViewerOrEditor(TMainForm& form, bool edit) {
  if (RunInArchive(form, edit ? TArchiveCommand::Edit : TArchiveCommand::View)) return true;
  TFMPanel* source = SourcePanel(form);
  if (source == nullptr) return false;
  const panels::TFileEntry* entry = source->CurrentEntry();
  if (entry == nullptr || entry->IsDirectory()) {
    Warn(form, TMsg::NoSelectedFiles);
    return false;
  }
  if (ViewFoundArchiveEntry(form, *source, edit)) return true;
  std::vector<std::string> argv = ViewerOrEditorWords(form, edit);
  argv.push_back(entry->FileName);
  const bool started = argv.size() > 1 && platform::StartDetached(argv, source->Directory());
  if (!started)
    ShowMessage(&form, MessageKind::Error, MainCaption(),
                Msg(edit ? TMsg::EditorNotFound : TMsg::ViewerNotFound));
  return started;
}

void RunDirSizeCommand(TMainForm& form) {
  TFMPanel* source = SourcePanel(form);
  if (source == nullptr) return;
  const panels::TFileEntry* entry = source->CurrentEntry();
  if (entry == nullptr || entry->IsDotDot()) return;
  if (ArchiveEntrySize(*source)) return;
  const panels::TFileEntry measured = *entry;  // the listing may change while it is measured
  const double size = Host(form).window->FMOperation.GetTotalSize({measured.FileName}, source->Directory());
  const auto bytes = static_cast<uint64_t>(std::llround(std::max(0.0, size)));
  source->ShowSizeLine(measured, bytes);
}

void RunCommandLine(TMainForm& form) {
  // "cd" moves the panel; anything else runs through the shell with its
  // output kept for the output area. The text stays in the line.
  if (auto* line = form.findChild<TCommandLine*>(QStringLiteral("CommandLine"))) line->Run();
}

void InstallFileCommands(TMainForm& form) {
  BuildMessagesTable();
  Host(form);
  TMainForm* f = &form;
  auto enable = [&](const char* name, auto handler) {
    QAction* action = form.Action(QLatin1String(name));
    if (action == nullptr) return;
    action->setEnabled(true);
    QObject::connect(action, &QAction::triggered, &form, handler);
  };
  enable("mnuFileDelete", [f] { RunDeleteCommand(*f, false); });
  enable("mnuFileDeletePermanently", [f] { RunDeleteCommand(*f, true); });
  enable("mnuFileView", [f] { StartViewerOrEditor(*f, false); });
  enable("mnuFileEdit", [f] { StartViewerOrEditor(*f, true); });
  enable("mnuFileCopy", [f] { RunCopyCommand(*f, false); });
  enable("mnuFileMove", [f] { RunCopyCommand(*f, true); });
  enable("mnuCmndDirSize", [f] { RunDirSizeCommand(*f); });
  enable("mnuCmndOperations", [f] { ShowOperations(*f); });
  InstallJobIndicator(form);
  InstallCloseGuard(form);
  enable("mnuHlpContents", [] { platform::ShowHelp(0); });
  new TCommandLine(form);
  QObject::connect(form.CommandEdit(), &QLineEdit::returnPressed, &form,
                   [f] { RunCommandLine(*f); });
}

}  // namespace vantrel::app
