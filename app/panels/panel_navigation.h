// panel_navigation.h - TNavigation: how the main window moves its two panels
// through the file system and reacts to keys and the mouse around them.
//
// It looks at every key a panel receives before the panel does (typed text
// goes to the command line, Enter opens the entry under the cursor, Insert
// marks and moves down, F8 deletes, Backspace and Ctrl+PgUp go to the
// parent, Ctrl+PgDn enters, Ctrl+U swaps the panels, and every key shows the
// panel's directory in the command line's prompt), opens entries
// on a double-click, sorts on a header click and takes a header drag as the
// new column width, lets a directory line click activate its panel, and runs
// drag and drop between the panels and with other applications.
#pragma once

#include <string>
#include <vector>

#include <QObject>
#include <QPoint>

class QKeyEvent;
class QMimeData;

namespace vantrel::panels {
class TFMPanel;
struct TFileEntry;
}

namespace vantrel::app {

class TMainForm;
struct TPanelSide;

class TNavigation : public QObject {
  Q_OBJECT

 public:
  explicit TNavigation(TMainForm& form);

  // Opens the entry under the cursor of `panel`: a directory is entered (".."
  // goes up with the cursor on the directory just left), an archive is shown
  // as a folder (a ".zip" file in the ZIP window when the settings say so),
  // any other file goes to the desktop's default application. Then the
  // command line shows the panel's directory.
  void OpenCurrentEntry(panels::TFMPanel& panel);
  // Shows the archive at `path` as a folder in `panel`; false when it is none
  // (or cannot be read: then a message tells why unless `quiet`).
  // `recognised` tells whether it is an archive at all (readable or not).
  bool EnterArchive(panels::TFMPanel& panel, const std::string& path, bool quiet, bool* recognised = nullptr);
  // Insert: toggles the mark at the cursor and moves one entry down.
  void MarkAndMoveDown(panels::TFMPanel& panel);

  // --- Drag and drop between the panels ---
  // A drag began in `source`.
  void DragStart(panels::TFMPanel& source);
  // The drag passes over `panel` (the source included): it becomes the
  // active panel, and when it is the other panel, the drag has crossed it.
  void DragOver(panels::TFMPanel& panel);
  // The drag started in `source` ended (dropped or cancelled). Unless another
  // application took the drop, a drag that passed over the other panel runs
  // the Copy command on the source panel; one that stayed inside does nothing.
  void DragEnd(panels::TFMPanel& source, bool takenElsewhere);
  bool Dragging() const { return dragSource_ != nullptr; }

  // The marked entries of `panel` (or the entry under the cursor) as the
  // text/uri-list other applications take.
  QMimeData* MimeDataFor(const panels::TFMPanel& panel) const;
  // The local file paths, as bytes, of a text/uri-list.
  static std::vector<std::string> LocalPathsOf(const QMimeData& data);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const TPanelSide* SideOf(const QObject* object) const;
  bool PanelKey(panels::TFMPanel& panel, QKeyEvent& key);
  bool ViewportEvent(const TPanelSide& side, QEvent* event);
  void EnterDirectory(panels::TFMPanel& panel, const std::string& name);
  void OpenFile(panels::TFMPanel& panel, const panels::TFileEntry& entry);
  void GoUp(panels::TFMPanel& panel);
  void GoUpInSource(panels::TFMPanel& panel);
  void EnterCurrent(panels::TFMPanel& panel);
  void SwapPanels();
  void SetCommandLine(const panels::TFMPanel& panel);
  void HeaderResized(const TPanelSide& side, int section, int width);
  void StartDrag(panels::TFMPanel& panel);

  TMainForm& form_;
  panels::TFMPanel* dragSource_ = nullptr;
  panels::TFMPanel* dragOver_ = nullptr;
  bool droppedHere_ = false;  // the drag was dropped on one of the panels
  // A left press on an entry that may become a drag.
  panels::TFMPanel* pressPanel_ = nullptr;
  QPoint pressPos_;
};

}  // namespace vantrel::app
