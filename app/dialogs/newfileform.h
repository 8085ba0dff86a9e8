// newfileform.h - TNewFileForm, "New file": creates an empty file in the
// current directory and opens it in the platform's default editor.
#pragma once

#include "app/dialogs/name_dialog.h"

class QLineEdit;

namespace vantrel::app {

class TNewFileForm : public TNameDialog {
  Q_OBJECT

 public:
  explicit TNewFileForm(TMainForm& form);

  QLineEdit* FileNameEdit() const { return fileNameEdit_; }

 protected:
  void OkButtonClick() override;

 private:
  QLineEdit* fileNameEdit_;
};

}  // namespace vantrel::app
