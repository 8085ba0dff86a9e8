// newdirectoryform.h - TNewDirectoryForm, "New directory": creates one
// directory in the current directory.
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
