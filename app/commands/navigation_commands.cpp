// navigation_commands.cpp - the navigation group of the main window's commands:
// opening entries and the keys around the panels (TNavigation), the drive
// boxes' "Change drive", New file, New directory, Rename and Find file.
#include <QAction>
#include <QLabel>
#include <QLineEdit>

#include "app/panels/drivecombo.h"
#include "app/commands/archive_entries.h"
#include "app/window/features.h"
#include "app/dialogs/findfileform.h"
#include "app/window/mainform.h"
#include "app/settings/message_table.h"
#include "app/dialogs/messages.h"
#include "app/panels/panel_navigation.h"
#include "app/panels/panel_tabs.h"
#include "app/panels/path_line.h"
#include "app/dialogs/newdirectoryform.h"
#include "app/dialogs/newfileform.h"
#include "app/dialogs/renamefileform.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/ini.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

void NoSelectedFiles(TMainForm& form) {
  ShowMessage(&form, MessageKind::Warning, QString::fromLatin1(kMainCaption),
              Msg(TMsg::NoSelectedFiles));
}

// Rename (Shift+F6): the entry under the cursor of the active panel.
void mnuFileRenameClick(TMainForm& form, TRenameFileForm& dialog) {
  if (RunInArchive(form, TArchiveCommand::Rename)) return;
  panels::TFMPanel* panel = form.ActivePanel();
  if (panel == nullptr) {
    NoSelectedFiles(form);
    return;
  }
  platform::SetCurrentDir(panel->Directory());
  const panels::TFileEntry* entry = panel->CurrentEntry();
  if (entry == nullptr || entry->IsDotDot()) {
    NoSelectedFiles(form);
    return;
  }
  dialog.SetCurrentEntry(entry->FileName);
  dialog.exec();
}

// Find file (Alt+F7, the toolbar, a directory line's menu): the left panel is
// the target when it has the focus, else the right one.
void mnuCmndFindFileClick(TMainForm& form, TFindFileForm& dialog) {
  const TPanelSide& target = form.LeftFMPanel()->hasFocus() ? form.Left() : form.Right();
  if (RefusedInArchive(form, target.FMPanel, platform::Worded("Find file"))) return;
  dialog.SetTarget(&target);
  dialog.exec();
}

// Change drive (Alt+F1, Alt+F2): the drive box opens its list with the focus.
void ChangeDrive(const TPanelSide& side) {
  side.DriveCombo->setFocus(Qt::ShortcutFocusReason);
  side.DriveCombo->showPopup();
}

}  // namespace

void InstallNavigation(TMainForm& form) {
  new TNavigation(form);
  new TPathLine(form);
  const platform::IniFile& ini = form.Settings();
  (new TPanelTabs(form, form.Left(), "LEFT TABS"))->Load(ini);
  (new TPanelTabs(form, form.Right(), "RIGHT TABS"))->Load(ini);

  auto* newFile = new TNewFileForm(form);
  auto* newDirectory = new TNewDirectoryForm(form);
  auto* renameFile = new TRenameFileForm(form);
  auto* findFile = new TFindFileForm(&form);

  auto wire = [&form](const char* name, auto handler) {
    QAction* action = form.Action(QLatin1String(name));
    action->setEnabled(true);
    QObject::connect(action, &QAction::triggered, &form, handler);
  };
  wire("mnuLftChDrive", [&form] { ChangeDrive(form.Left()); });
  wire("mnuRghtChDrive", [&form] { ChangeDrive(form.Right()); });
  wire("mnuFileNew", [&form, newFile] {
    if (!RefusedInArchive(form, form.LastActivePanel(), platform::Worded("New file"),
                          platform::Worded("F4 edits an entry; F5 copies a file in.")))
      newFile->exec();
  });
  wire("mnuCmndMkDir", [&form, newDirectory] {
    if (!RunInArchive(form, TArchiveCommand::MakeDir)) newDirectory->exec();
  });
  wire("mnuFileRename", [&form, renameFile] { mnuFileRenameClick(form, *renameFile); });
  wire("mnuCmndFindFile", [&form, findFile] { mnuCmndFindFileClick(form, *findFile); });

  // The directory lines' menu item "Find files".
  for (const TPanelSide* side : {&form.Left(), &form.Right()}) {
    if (auto* menuFind = side->DirectoryPanel->findChild<QAction*>(QStringLiteral("MenuFind"))) {
      menuFind->setEnabled(true);
      QObject::connect(menuFind, &QAction::triggered, &form,
                       [&form, findFile] { mnuCmndFindFileClick(form, *findFile); });
    }
  }
}

}  // namespace vantrel::app
