// tool_commands.h - the file tools as commands of the main window: compare
// and synchronise directories, multi-rename, quick view and a terminal.
#pragma once

#include <string>

namespace vantrel::app {

class TMainForm;

// Multi-rename (Ctrl+M): the active panel's marked entries (or the cursor
// entry) in the Multi-rename window; the panel shows the new names after.
void RunMultiRenameCommand(TMainForm& form);

// Compare directories (Shift+F2): the criteria asked for (Enter takes name,
// date and size), then the entries that differ are marked in both panels,
// and nothing else is.
void RunCompareCommand(TMainForm& form);

// Synchronize directories (Commands menu): the two panels' directories in
// the synchronisation window; both panels are read again when it closes.
void RunSyncCommand(TMainForm& form);

// Open terminal here (Shift+F9): the desktop's terminal (the settings
// file's GENERAL "Terminal" command, $TERMINAL, x-terminal-emulator or a
// known one) in the active panel's directory.
void RunTerminalCommand(TMainForm& form);

// Where the log of the last multi-rename is kept: beside the settings file.
std::string RenameLogPath(const TMainForm& form);

}  // namespace vantrel::app
