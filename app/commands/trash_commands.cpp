// trash_commands.cpp - Delete through the desktop Trash.
#include "app/commands/trash_commands.h"

#include <QApplication>
#include <QCursor>

#include "app/commands/archive_entries.h"
#include "app/commands/file_commands.h"
#include "app/dialogs/messages.h"
#include "app/panels/trash_place.h"
#include "app/settings/message_table.h"
#include "app/window/mainform.h"
#include "fileops/trash_operation.h"
#include "panels/qt/fmpanel.h"
#include "platform/ini.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "platform/process.h"
#include "platform/trash.h"
#include "vfs/trash_source.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

constexpr const char* kGeneral = "GENERAL";
constexpr const char* kDeleteToTrash = "DeleteToTrash";

QString MainCaption() { return QString::fromLatin1(kMainCaption); }

// What could not go, with the system's reason, in one list: a line each,
// worded by `text`.
void ReportLines(TMainForm& form, const std::vector<fileops::TTrashFailure>& failures,
                 std::string (*text)(const fileops::TTrashFailure&)) {
  if (failures.empty()) return;
  std::string lines;
  for (const fileops::TTrashFailure& failure : failures) {
    if (!lines.empty()) lines += '\n';
    lines += text(failure);
  }
  ShowMessage(&form, MessageKind::Summary, QString::fromLatin1(kDialogCaption), platform::ToDisplay(lines));
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
  ReportLines(form, result.failures, fileops::TrashFailureText);
  form.RefreshBothPanels();
  return TTrashOutcome::Done;
}

namespace {

// The user's choice where an item's original name is taken.
class TRestoreQuestion final : public fileops::TRestorePrompt {
 public:
  explicit TRestoreQuestion(TMainForm& form) : form_(form) {}
  TAnswer NameTaken(const platform::TrashedItem& item, std::string& newName) override {
    QString text = platform::ToDisplay(newName);
    const QString prompt = platform::Worded("%1 exists already. Restore it as:").arg(platform::ToDisplay(item.originalPath));
    if (!AskText(&form_, QString::fromLatin1(kDialogCaption), prompt, text)) return TAnswer::Skip;
    const QByteArray bytes = text.toUtf8();
    newName.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    return TAnswer::Rename;
  }

 private:
  TMainForm& form_;
};

// The rows marked in the Trash's top (the cursor's when none is); empty
// after a message when there are none or the panel is inside an item.
std::vector<std::string> ChosenRows(TMainForm& form, panels::TFMPanel& panel, const QString& what) {
  std::vector<std::string> names;
  if (!panel.Model().Place().empty()) {
    const std::string top = panel.Model().Place().substr(0, panel.Model().Place().find('/'));
    ShowMessage(&form, MessageKind::Warning, MainCaption(),
                platform::Worded("%1 works on whole items of the Trash: go up to \"%2\".")
                    .arg(what, platform::ToDisplay(top)));
    return names;
  }
  for (const panels::TFileEntry* entry : panel.Model().GetMarkedEntries()) names.push_back(entry->FileName);
  if (names.empty()) ShowMessage(&form, MessageKind::Warning, MainCaption(), platform::Worded("No items chosen."));
  return names;
}

// Erases `names` after `question`; the Trash is listed again.
void EraseAsked(TMainForm& form, panels::TFMPanel& panel, const std::vector<std::string>& names, const std::string& question) {
  const std::shared_ptr<vfs::TTrashSource> trash = TrashSourceOf(panel);
  if (trash == nullptr || names.empty()) return;
  if (ShowMessage(&form, MessageKind::Question, MainCaption(), platform::ToDisplay(question)) != MessageAnswer::Yes)
    return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const fileops::TTrashResult result = fileops::EraseRows(*trash, names);
  QApplication::restoreOverrideCursor();
  ReportLines(form, result.failures, fileops::EraseFailureText);
  form.RefreshBothPanels();
  panel.setFocus();
}

bool ViewTrashedFile(TMainForm& form, panels::TFMPanel& panel) {
  const std::shared_ptr<vfs::TTrashSource> trash = TrashSourceOf(panel);
  const panels::TFileEntry* entry = panel.CurrentEntry();
  std::string path;
  if (entry == nullptr || entry->IsDirectory() ||
      !trash->LocalPath(vfs::JoinInner(panel.Model().Place(), entry->FileName), path)) {
    ShowMessage(&form, MessageKind::Warning, MainCaption(), platform::Worded("No file chosen."));
    return false;
  }
  std::vector<std::string> argv = ViewerOrEditorWords(form, false);
  argv.push_back(path);
  if (argv.size() < 2 || !platform::StartDetached(argv)) {
    ShowMessage(&form, MessageKind::Error, MainCaption(), platform::Worded("The viewer could not be started."));
    return false;
  }
  return true;
}

// `text`: "Edit is not available in the Trash.", worded whole.
void NotInTrash(TMainForm& form, const char* text) {
  ShowMessage(&form, MessageKind::Warning, MainCaption(), platform::Worded(text));
}

}  // namespace

void RestoreFromTrashPanel(TMainForm& form, panels::TFMPanel& panel) {
  const std::shared_ptr<vfs::TTrashSource> trash = TrashSourceOf(panel);
  if (trash == nullptr) return;
  const std::vector<std::string> names = ChosenRows(form, panel, platform::Worded("Restore"));
  if (names.empty()) return;
  TRestoreQuestion question(form);
  const fileops::TRestoreResult result = fileops::RestoreRows(*trash, names, question);
  ReportLines(form, result.failures, fileops::RestoreFailureText);
  form.RefreshBothPanels();
  form.activateWindow();
  panel.setFocus();
}

void EraseFromTrashPanel(TMainForm& form, panels::TFMPanel& panel) {
  const std::vector<std::string> names = ChosenRows(form, panel, platform::Worded("Delete"));
  EraseAsked(form, panel, names, fileops::EraseQuestion(names.size()));
}

void EmptyTrashAsked(TMainForm& form, panels::TFMPanel& panel) {
  const std::shared_ptr<vfs::TTrashSource> trash = TrashSourceOf(panel);
  if (trash == nullptr) return;
  trash->Reload();
  std::vector<std::string> names;
  for (const vfs::TTrashRow& row : trash->Rows()) names.push_back(row.name);
  if (names.empty()) {
    ShowMessage(&form, MessageKind::Information, MainCaption(), platform::Worded("The Trash is empty."));
    return;
  }
  EraseAsked(form, panel, names, fileops::EmptyQuestion(names.size()));
}

bool RunInTrash(TMainForm& form, TArchiveCommand command) {
  panels::TFMPanel* active = form.ActivePanel();
  if (active == nullptr) return false;
  panels::TFMPanel* other = active == form.LeftFMPanel() ? form.RightFMPanel() : form.LeftFMPanel();
  const bool here = TrashSourceOf(*active) != nullptr;
  switch (command) {
    case TArchiveCommand::Copy:
    case TArchiveCommand::Move:
      if (here) {
        RestoreFromTrashPanel(form, *active);
        return true;
      }
      if (other == nullptr || TrashSourceOf(*other) == nullptr) return false;
      ShowMessage(&form, MessageKind::Warning, MainCaption(),
                  platform::Worded("Nothing is copied into the Trash: F8 moves items there."));
      return true;
    case TArchiveCommand::Delete:
      if (here) EraseFromTrashPanel(form, *active);
      return here;
    case TArchiveCommand::View:
      return here && (ViewTrashedFile(form, *active), true);
    case TArchiveCommand::Edit:
      return here && (NotInTrash(form, "Edit is not available in the Trash."), true);
    case TArchiveCommand::MakeDir:
      return here && (NotInTrash(form, "Make directory is not available in the Trash."), true);
    case TArchiveCommand::Rename:
      return here && (NotInTrash(form, "Rename is not available in the Trash."), true);
  }
  return false;
}

}  // namespace vantrel::app
