// features.h - the groups of commands that plug into the main window.
//
// Each group enables and connects its own menu items, toolbar buttons and
// keys when the main window is created, and keeps its state in objects owned
// by the main window. Groups live in their own files so that the window's
// layout code does not grow with every command.
#pragma once

namespace vantrel::app {

class TMainForm;

// Copy, move, delete, view, edit, directory size, the command line, help and
// the messages table (app/commands/file_commands.cpp).
void InstallFileCommands(TMainForm& form);

// Opening entries, "..", Insert, drive boxes, root buttons, header clicks and
// drags, drag and drop, new file, new directory, rename, find file
// (app/commands/navigation_commands.cpp).
void InstallNavigation(TMainForm& form);

// The ZIP window, pack and unpack (app/commands/zip_commands.cpp).
void InstallZipCommands(TMainForm& form);

// The entry menu: right click, Menu key, Shift+F10 (app/commands/item_menu.cpp).
void InstallItemMenu(TMainForm& form);

// The settings dialogs, font, colour schemes and the interface language
// (app/commands/options_commands.cpp).
void InstallOptionsCommands(TMainForm& form);

// Compare and synchronise directories, multi-rename, quick view and the
// terminal (app/commands/tool_commands.cpp).
void InstallToolCommands(TMainForm& form);

}  // namespace vantrel::app
