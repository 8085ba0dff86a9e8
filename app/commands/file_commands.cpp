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

#include "app/commands/command_line.h"
#include "app/commands/archive_entries.h"
#include "app/commands/trash_commands.h"
#include "app/window/features.h"
#include "app/window/mainform.h"
#include "app/settings/message_table.h"
#include "app/dialogs/messages.h"
#include "app/dialogs/overwrite_question.h"
#include "app/settings/settings.h"
#include "fileops/copy_target.h"
#include "fileops/qt/operationform.h"
#include "fileops/trash_operation.h"
#include "panels/dirmodel.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/qt/help.h"
#include "platform/qt/volumes.h"
#include "platform/rename.h"
#include "platform/text.h"

namespace vantrel::app {

namespace {

using fileops::TFMMessage;
using fileops::TFMPrompt;
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
    switch (app::ShowMessage(Parent(), MessageKind::QuestionAll, QString::fromLatin1(kConfirmCaption),
                             platform::ToDisplay(text))) {
      case MessageAnswer::Yes: return TOverwriteAnswer::Yes;
      case MessageAnswer::All: return TOverwriteAnswer::All;
      case MessageAnswer::None: return TOverwriteAnswer::None;
      case MessageAnswer::Cancel: return TOverwriteAnswer::Cancel;
      default: return TOverwriteAnswer::No;  // or a box that knew no better: never overwrite unasked
    }
  }

  bool AskAbort(const std::string& text) override {
    return app::ShowMessage(Parent(), MessageKind::Question, QString::fromLatin1(kConfirmCaption),
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

// The operation window and its prompt, owned by the main window.
class TOperationHost final : public QObject {
 public:
  explicit TOperationHost(TMainForm& form)
      : QObject(&form), window(new TOperationForm(&form, MainCaption())), prompt(window) {
    setObjectName(QStringLiteral("FileCommandsHost"));
    window->FMOperation.SetPrompt(&prompt);
  }
  TOperationForm* window;
  TQtPrompt prompt;
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

// What the engine handled whole in directory `dir` of one group, as the
// panel names it: bare names in a directory, paths in a listing.
void AddHandled(const TFMPanel& panel, const std::string& dir, const std::vector<std::string>& completed,
                std::vector<std::string>& handled) {
  const std::string& root = panel.Directory();
  const std::string prefix = root == "/" ? root : root + "/";
  for (const std::string& name : completed) {
    const std::string path = platform::JoinPath(dir, name);
    handled.push_back(panel.Model().IsListing() && path.compare(0, prefix.size(), prefix) == 0
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
  const auto bytes = static_cast<uint64_t>(std::llround(std::max(0.0, size)));
  return text + QStringLiteral("%1 items, %2 bytes")
                    .arg(names.size())
                    .arg(QString::fromStdString(platform::FormatThousands(bytes)));
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
// to abort in a question (whoever chose it needs no word about it).
void ShowEndMessage(TMainForm& form, const fileops::TFMOperation& engine) {
  const bool aborted = engine.OperationAborted && !engine.AbortChosen();
  if (engine.SkippedCount() > 0) {
    std::string text = std::to_string(engine.Failures().size()) + " items were skipped:";
    for (const TFMMessage& m : engine.Failures())
      text += "\n" + m.text + (m.reason.empty() ? std::string() : ": " + m.reason);
    QString shown = platform::ToDisplay(text);
    if (aborted) shown += QStringLiteral("\n\n") + Msg(TMsg::OperationAborted);
    ShowMessage(&form, MessageKind::Summary, QString::fromLatin1(kDialogCaption), shown);
  } else if (aborted) {
    ShowMessage(&form, MessageKind::Information, MainCaption(), Msg(TMsg::OperationAborted));
  }
}

// Shows the window, runs `work` with the engine, hides the window, gives
// the one message of the end and refreshes both panels: the cursors stay on
// their entries, and the source panel's marks go from the names the
// operation handled whole; what failed or was skipped stays marked.
// `handled`, when given, stands for the engine's Completed() (the names of
// a listing of search results, gathered over several runs of the engine).
template <typename Work>
void RunOperation(TMainForm& form, TFMPanel* source, TMsg text, bool deleting, Work work,
                  const std::vector<std::string>* handled = nullptr) {
  TOperationHost& host = Host(form);
  TOperationForm& window = *host.window;
  if (deleting) window.setWindowTitle(MainCaption());
  window.Begin(Msg(text));
  work(window.FMOperation);
  window.End();
  if (source != nullptr) {
    form.activateWindow();
    source->setFocus();
  }
  ShowEndMessage(form, window.FMOperation);
  form.RefreshBothPanels();
  if (source != nullptr) UnmarkNames(*source, handled != nullptr ? *handled : window.FMOperation.Completed());
}

// A second command while an operation runs (from an event served by the
// operation window) would disturb the running one: it does nothing.
bool Busy(TMainForm& form) { return Host(form).window->Running(); }

}  // namespace

TOperationForm* OperationForm(TMainForm& form) { return Host(form).window; }

bool RunEngineWork(TMainForm& form, const QString& text, const std::function<void(fileops::TFMOperation&)>& work) {
  if (Busy(form)) return false;
  TOperationForm& window = *Host(form).window;
  window.Begin(text);
  work(window.FMOperation);
  window.End();
  ShowEndMessage(form, window.FMOperation);
  form.RefreshBothPanels();
  return true;
}

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
  std::vector<std::string> handled;
  RunOperation(
      form, source, TMsg::DeleteWait, true,
      [&](fileops::TFMOperation& op) {
        for (const auto& [dir, group] : groups) {
          op.DeleteFiles(group, dir);
          AddHandled(*source, dir, op.Completed(), handled);
          if (op.OperationAborted) break;
        }
      },
      &handled);
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
  if (!AskText(&form, MainCaption(), Msg(move ? TMsg::MovePrompt : TMsg::CopyPrompt), answer))
    return;
  // The prefilled text stands for the directory's own bytes, which need not
  // be valid UTF-8; an edited text is taken as typed, relative to the source.
  const std::string typed = answer == prefilled ? otherDir : answer.toStdString();
  if (typed.empty()) return;
  if (answer == prefilled && !platform::IsDirectory(otherDir)) {
    // The other panel's directory went away: that is no new name to copy to.
    ShowMessage(&form, MessageKind::Warning, MainCaption(),
                platform::ToDisplay("The directory \"" + otherDir + "\" does not exist any more."));
    return;
  }
  const std::string dir = source->Directory();
  const fileops::TCopyTarget target = fileops::ResolveCopyTarget(names.size(), typed, dir, move);
  if (!PrepareTarget(form, target)) return;
  const TGroups groups = MarkedGroups(*source, names);
  std::vector<std::string> handled;
  RunOperation(
      form, source, move ? TMsg::MoveWait : TMsg::CopyWait, false,
      [&](fileops::TFMOperation& op) {
        for (const auto& [from, group] : groups) {
          if (move)
            op.MoveFiles(group, from, target.dir, target.name);
          else
            op.CopyFiles(group, from, target.dir, target.name);
          AddHandled(*source, from, op.Completed(), handled);
          if (op.OperationAborted) break;
        }
      },
      &handled);
}

void CopyPathsInto(TMainForm& form, const std::vector<std::string>& sourcePaths,
                   const std::string& destDir) {
  if (Busy(form) || destDir.empty()) return;
  const TGroups groups = GroupByDirectory(sourcePaths);
  if (groups.empty()) return;
  TFMPanel* focused = form.ActivePanel();
  RunOperation(form, focused, TMsg::CopyWait, false, [&](fileops::TFMOperation& op) {
    for (const auto& [dir, names] : groups) {
      op.CopyFiles(names, dir, destDir);
      if (op.OperationAborted) break;
    }
  });
}

std::vector<std::string> ViewerOrEditorWords(const TMainForm& form, bool edit) {
  const std::string command = edit ? EditorProgram(form.EditorCommand)
                                   : ViewerProgram(form.ViewerCommand, form.ProgramDir());
  // A command that is itself the path of a program (the default viewer in a
  // program directory whose name holds blanks) is not split into words.
  if (!command.empty() && command.find('"') == std::string::npos &&
      command.find_first_of(" \t") != std::string::npos && !platform::FindProgram(command).empty())
    return {command};
  return platform::SplitCommandLine(command);
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
  const std::string name = entry->FileName;
  const double size = Host(form).window->FMOperation.GetTotalSize({name}, source->Directory());
  const auto bytes = static_cast<uint64_t>(std::llround(std::max(0.0, size)));
  if (QLabel* line = source->FilePanel())
    line->setText(platform::ToDisplay(
        panels::FillIn(panels::PanelTexts().sizeLine, name, platform::FormatThousands(bytes))));
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
  enable("mnuHlpContents", [] { platform::ShowHelp(0); });
  new TCommandLine(form);
  QObject::connect(form.CommandEdit(), &QLineEdit::returnPressed, &form,
                   [f] { RunCommandLine(*f); });
}

}  // namespace vantrel::app
