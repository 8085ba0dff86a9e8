// generalsettingsform.h - TGeneralSettingsForm, "General settings": the
// programs View (F3) and Edit (F4) start, whether deleting moves to the Trash,
// and how many threads pack and unpack archives.
#pragma once

#include "app/dialogs/name_dialog.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace vantrel::app {

class TGeneralSettingsForm : public TNameDialog {
  Q_OBJECT

 public:
  // The edits start with the programs the main window's editor and viewer
  // commands start (the default "notepad.exe" shows as the platform's
  // editor); they are not reloaded later, so text left after "Cancel" is
  // shown next time.
  explicit TGeneralSettingsForm(TMainForm& form);

  QLineEdit* EditorPath() const { return editorPath_; }
  QLineEdit* ViewerPath() const { return viewerPath_; }
  // The settings file's "Terminal" for Shift+F9: empty stands for the
  // desktop's terminal ($TERMINAL, else the system's); read at each opening.
  QLineEdit* TerminalCommand() const { return terminal_; }
  // "Del and F8 move to the Trash": read from the settings at each opening.
  QCheckBox* TrashCheck() const { return trashCheck_; }
  // Threads for packing and unpacking, 0 "auto": read from the settings at
  // each opening.
  QSpinBox* ThreadsSpin() const { return threadsSpin_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void OkButtonClick() override;

 private:
  // A program chosen in the file dialog replaces the edit's text.
  void Browse(QLineEdit* edit);

  QLineEdit* editorPath_;
  QLineEdit* viewerPath_;
  QLineEdit* terminal_;
  QCheckBox* trashCheck_;
  QSpinBox* threadsSpin_;
};

}  // namespace vantrel::app
