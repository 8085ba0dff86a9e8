// file_commands.h - the main window's commands on files: copy, move and
// delete behind the operation window, view, edit, directory size, the
// command line and help.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "fileops/fmoperation.h"

namespace vantrel::fileops {
class TJob;
class TJobCenter;
class TOperationForm;
}  // namespace vantrel::fileops
namespace vantrel::panels {
class TFMPanel;
}

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

// What a job's engine runs leave for the window: written on the job's
// thread, read on the window's once the job ended.
struct TJobOutcome {
  std::vector<std::string> handled;  // the names handled whole, as the panel shows them
  std::vector<fileops::TFMMessage> failures;
  std::vector<std::string> failedDirs;  // the directory each failure's item is relative to
  int skipped = 0;           // failures "Skip all" kept from being shown
  bool aborted = false;      // ended early
  bool abortChosen = false;  // by the user's answer to a question
  // After one engine run in `dir`: its failures and how it ended.
  void Take(const fileops::TFMOperation& op, const std::string& dir = {});
};
// Runs `work` as a job with the operation window (the text `waitText`, Cancel,
// Background and F2) and the end every copy has: one message for what
// failed, both panels read again, the handled names unmarked in `source`.
// `work` gets the job (its gate and progress) and the prompt that carries
// the engine's questions to the window; `queued` starts it in the
// background. `afterEnd` runs on the window's thread when the job ended.
using TJobWorkFn = std::function<void(fileops::TJob& job, fileops::TFMPrompt& prompt, TJobOutcome& outcome)>;
void StartEngineJob(TMainForm& form, panels::TFMPanel* source, const QString& waitText, const std::string& title,
                    const std::vector<std::string>& places, TJobWorkFn work, bool queued,
                    std::function<void()> afterEnd = {});
// "Copy a.txt to /home/user", "Move 3 items to /tmp", "Delete a.txt": a
// job's title in the language chosen (the count's form), names as bytes.
enum class TJobVerb { Copy, Move, Delete };
std::string JobTitle(TJobVerb verb, const std::vector<std::string>& names, const std::string& dest);
// How a job ended, in the language chosen, for its notification: "Cancelled",
// "Done" or "Done, N items failed".
QString JobEndText(bool cancelled, int failed);
// The status area's indicator of jobs: "2 jobs (+1 queued), 40%" (no
// percent when `percent` is negative).
QString JobsIndicatorText(int running, int queued, int percent);
// The question on closing while jobs run or wait: "3 jobs have not ended
// yet." and the choices.
QString JobsNotEndedText(size_t jobs);
// The Delete question's note on several items: "3 items, 12,345 bytes",
// each count with the form it takes in the language chosen.
QString DeleteNoteText(uint64_t items, uint64_t bytes);

// A command's work as a job of its own (packing, unpacking).
struct TCommandJob {
  std::string title;                // its line in the Operations window and its notification
  QString text;                     // the operation window's message while it is followed
  std::vector<std::string> places;  // paths whose devices it touches (the queue's rule)
  // Paths it reads (files or trees): with them in memory it may run beside
  // a job on one of its devices.
  std::vector<std::string> sources;
  // On the job's thread. Questions reach the window's thread through
  // JobCenter(form)->Poster(); pause and cancel through the job's gate.
  std::function<void(fileops::TJob& job)> work;
  // On the window's thread once the job ended (cancelled or not), after both
  // panels were read again: the command's own end (its report, the marks).
  // Returns how many items failed, for the notification.
  std::function<int(bool cancelled)> finish;
  // On the window's thread first thing once the job ended, before the panels
  // are read again.
  std::function<void()> afterEnd;
  bool queued = false;       // started in the background at once
  bool mainCaption = false;  // the operation window shows the main caption
  // Set once the job runs in the background (queued, or sent there with F2).
  std::shared_ptr<std::atomic<bool>> background = std::make_shared<std::atomic<bool>>(false);
};

// Starts `job` and, unless queued, follows it in the operation window until
// it ends or goes to the background (F2); `source` gets the focus back when
// it ended in front.
void StartCommandJob(TMainForm& form, panels::TFMPanel* source, TCommandJob job);

// The Operations window (Ctrl+J, Commands menu, the status bar's job
// indicator), shown and activated.
TOperationsForm* ShowOperations(TMainForm& form);

}  // namespace vantrel::app
