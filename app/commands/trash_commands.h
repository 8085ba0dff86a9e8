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

class TTrashForm;

// The Trash window over the home trash and those of the mounted volumes,
// shown and activated; the panels are read again when items come back.
TTrashForm* ShowTrashWindow(TMainForm& form);

}  // namespace vantrel::app
