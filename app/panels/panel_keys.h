// panel_keys.h - the keys a panel offers beyond opening, marking with Insert
// and deleting: re-reading (Ctrl+R), marking and unmarking by mask (gray +
// and gray -), and the keys of the path line, the directory history, the
// hotlist and the tabs.
#pragma once

class QKeyEvent;

namespace vantrel::panels {
class TFMPanel;
}

namespace vantrel::app {

class TMainForm;

// Handles `key` pressed in `panel` when it is one of these keys; false
// leaves it to the panel.
bool PanelExtraKey(TMainForm& form, panels::TFMPanel& panel, QKeyEvent& key);

// The mask dialog of gray + and gray -: offers the last masks, marks (or
// unmarks) the files matching the chosen one and remembers it first in the
// list. False when the user cancelled.
bool MarkByMaskDialog(TMainForm& form, panels::TFMPanel& panel, bool mark);

}  // namespace vantrel::app
