// trash_commands.h - Delete through the desktop Trash: F8 and Del move the
// marked entries to the Trash after "Move N items to the Trash?", Shift+F8
// and Shift+Del delete them permanently after the delete question. A setting
// (GENERAL, DeleteToTrash=0) keeps the permanent delete for F8 and Del.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vantrel::panels {
class TFMPanel;
}

namespace vantrel::app {

class TMainForm;

// Whether F8 and Del move to the Trash (the default) or delete permanently.
bool DeleteMovesToTrash(const TMainForm& form);
void SetDeleteMovesToTrash(TMainForm& form, bool toTrash);

enum class TTrashOutcome {
  Done,       // moved (what could not be was reported), panels refreshed
  Cancelled,  // the question was answered No
  NoTrash,    // no trash can take them: the caller deletes permanently, saying so
};

// Names of one directory: a panel's own, or one of those below a listing
// of search results.
using TNameGroups = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Asks "Move N items to the Trash?" (Enter answers Yes) and moves `names`
// (the panel's, as `groups` of names by directory) to the Trash.
TTrashOutcome MoveToTrashAsked(TMainForm& form, panels::TFMPanel& source,
                               const std::vector<std::string>& names, const TNameGroups& groups);

enum class TArchiveCommand;

// The file commands where a panel concerned shows the Trash: F5 and F6 from
// it put the marked items back where they came from (RestoreFromTrashPanel),
// F8 and Shift+F8 delete them for good after the question, F3 views a
// trashed file; copying into the Trash, editing, renaming and new
// directories there say they are not available (F8 moves items in). False
// when no panel concerned shows the Trash.
bool RunInTrash(TMainForm& form, TArchiveCommand command);

// Restore: the marked items of the Trash `panel` shows (the entry at the
// cursor when none is marked) go back to their original places; where a
// name is taken the user is asked for another one ("<path> exists already.
// Restore it as:", a free name offered; Cancel leaves that item in the
// Trash). Inside a trashed directory it says that only whole items go back.
void RestoreFromTrashPanel(TMainForm& form, panels::TFMPanel& panel);
// The marked items of the Trash deleted for good, after "Delete N items
// permanently? They cannot be restored.".
void EraseFromTrashPanel(TMainForm& form, panels::TFMPanel& panel);
// Every item of every trash deleted for good, after "Empty the Trash? N
// items will be deleted permanently.".
void EmptyTrashAsked(TMainForm& form, panels::TFMPanel& panel);

}  // namespace vantrel::app
