// file_commands.h - the main window's commands on files: copy, move and
// delete behind the operation window, view, edit, directory size, the
// command line and help.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QString>

namespace vantrel::fileops {
class TFMOperation;
class TJobCenter;
class TOperationForm;
}  // namespace vantrel::fileops

namespace vantrel::app {

class TMainForm;
class TOperationsForm;

// Copy (F5) or Move (F6): the active panel's marked entries (or the entry
// under the cursor), to the directory confirmed in the destination prompt,
// which comes prefilled with the other panel's directory.
void RunCopyCommand(TMainForm& form, bool move);

// Copies files and trees named by absolute paths (dropped from another
// program) into `destDir` behind the operation window, with the same
// overwrite question; ends refreshing both panels.
void CopyPathsInto(TMainForm& form, const std::vector<std::string>& sourcePaths,
                   const std::string& destDir);

// Delete (Del, F8): the active panel's marked entries to the Trash after
// "Move N items to the Trash?" (trash_commands.h); `permanent` (Shift+Del,
// Shift+F8), the setting that keeps the permanent delete, or items no trash
// can take: deleted after "Delete selected files?", which then says why.
void RunDeleteCommand(TMainForm& form, bool permanent = false);

// View (F3) or Edit (F4) of the entry under the cursor: the configured
// command with the entry's name as one more argument. False when nothing was
// started (the reason was shown).
bool StartViewerOrEditor(TMainForm& form, bool edit);

// The words of the configured viewer (or editor) command, to which the file
// to show is added as one more word.
std::vector<std::string> ViewerOrEditorWords(const TMainForm& form, bool edit);

// Calculate directory size (Ctrl+G): the size of the entry under the cursor
// into the active panel's file line.
void RunDirSizeCommand(TMainForm& form);

// Enter in the command line: runs its text through the shell in the process's
// current directory, detached.
void RunCommandLine(TMainForm& form);

// The main window's operation window (created by InstallFileCommands).
fileops::TOperationForm* OperationForm(TMainForm& form);

// Runs `work` with the copy engine inside the operation window, which shows
// `text`, the progress and Cancel, and asks the engine's questions (with Skip
// all); then the end message a copy gives, and both panels read again.
// False, doing nothing, while another operation runs.
bool RunEngineWork(TMainForm& form, const QString& text, const std::function<void(fileops::TFMOperation&)>& work);

// The jobs of copy, move and delete: they run on worker threads, in front
// behind the operation window or in the background ("Background", F2 there;
// F2 instead of Enter in the Copy and Move prompts queues a job at once).
fileops::TJobCenter* JobCenter(TMainForm& form);

// The Operations window (Ctrl+J, Commands menu, the status bar's job
// indicator), shown and activated.
TOperationsForm* ShowOperations(TMainForm& form);

}  // namespace vantrel::app
