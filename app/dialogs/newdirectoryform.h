// newdirectoryform.h - TNewDirectoryForm, "New directory": creates a
// directory in the current directory, with every missing level of a nested
// name ("a/b/c"). A failure shows the system's reason and keeps the dialog
// open with the name.
#pragma once

#include "app/dialogs/name_dialog.h"

class QLineEdit;

namespace vantrel::app {

class TNewDirectoryForm : public TNameDialog {
  Q_OBJECT

 public:
  explicit TNewDirectoryForm(TMainForm& form);

  QLineEdit* DirectoryNameEdit() const { return directoryNameEdit_; }

 protected:
  void OkButtonClick() override;

 private:
  QLineEdit* directoryNameEdit_;
};

}  // namespace vantrel::app
