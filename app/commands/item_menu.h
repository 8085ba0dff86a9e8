// item_menu.h - the context menu of a panel entry.
//
// A right click on an entry (the cursor moves there, the marks stay), the
// Menu key or Shift+F10 (at the cursor row) opens the entry's commands: Open,
// Open with (the desktop's applications for the entry's type, the default
// first), View, Edit, Copy, Move, Rename, Delete, Pack to .ZIP, Unpack from
// .ZIP (on .zip files), Calculate size (directories), Copy path and
// Properties. With marked entries, the commands that work on marked entries
// say how many and work on them, as the main commands do. On ".." the menu
// holds only Properties of the panel's directory. Inside a ZIP archive, every
// entry's menu (".." too) has "Code page", the page the archive's names are
// read in.
#pragma once

#include <memory>
#include <string>

#include <QPoint>

class QMenu;

namespace vantrel::panels {
class TFMPanel;
}

namespace vantrel::app {

class TMainForm;

// The menu for the cursor entry of `panel`, or null when the panel is empty.
std::unique_ptr<QMenu> BuildItemMenu(TMainForm& form, panels::TFMPanel& panel);

// Builds the menu and runs it at `globalPos`.
void ShowItemMenu(TMainForm& form, panels::TFMPanel& panel, const QPoint& globalPos);

// Puts the full path of the marked entries (or the cursor entry) on the
// clipboard: as text, and as a file:// list that keeps the bytes of a name
// that is not UTF-8.
void CopyPathsToClipboard(const panels::TFMPanel& panel);

// Connects both panels' right clicks and menu keys to the menu.
void InstallItemMenu(TMainForm& form);

}  // namespace vantrel::app
