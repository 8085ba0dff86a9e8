// path_line.h - going to a typed path, the directory history and the hotlist.
//
// A click on the active side's directory line (or Ctrl+L) turns it into a field holding the
// panel's path: Enter goes there (a file's path goes to its directory with
// the cursor on the file), Escape leaves it. Alt+Down lists the panel's
// visited directories, Alt+Left and Alt+Right go back and forward, Ctrl+D
// opens the hotlist (jump, add the current directory, remove it).
#pragma once

#include <string>

#include <QObject>

class QLabel;
class QLineEdit;
class QMenu;

namespace vantrel::panels {
class TFMPanel;
}

namespace vantrel::app {

class TMainForm;
struct TPanelSide;

// `typed` as an absolute path: "~" is the home directory, a relative path is
// taken from `base`; quotes around the whole text are dropped.
std::string ResolveTypedPath(const std::string& base, const std::string& typed);

class TPathLine final : public QObject {
  Q_OBJECT

 public:
  explicit TPathLine(TMainForm& form);

  // Opens the field over the directory line of `panel`'s side.
  void Edit(panels::TFMPanel& panel);
  QLineEdit* Field(const panels::TFMPanel& panel) const;
  // Goes to `typed` (see ResolveTypedPath). False after a message when there
  // is no such directory or file.
  bool GoTo(panels::TFMPanel& panel, const std::string& typed);
  // Alt+Left (-1) and Alt+Right (+1).
  void Step(panels::TFMPanel& panel, int direction);
  // The menus of Alt+Down and Ctrl+D, built for `panel` (not shown).
  QMenu* HistoryMenu(panels::TFMPanel& panel);
  QMenu* HotlistMenu(panels::TFMPanel& panel);
  // Shows a menu below the panel's directory line.
  void Popup(panels::TFMPanel& panel, QMenu* menu);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const TPanelSide& SideOf(const panels::TFMPanel& panel) const;
  void Finish(panels::TFMPanel& panel, bool go);

  TMainForm& form_;
  QMenu* menu_ = nullptr;
  // Per side (left, right): the field, the directory line, the panel.
  QLineEdit* fields_[2] = {};
  QLabel* lines_[2] = {};
  panels::TFMPanel* panels_[2] = {};
  bool editOnRelease_ = false;
};

}  // namespace vantrel::app
