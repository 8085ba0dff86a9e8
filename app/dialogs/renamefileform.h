// renamefileform.h - TRenameFileForm, "Rename file": moves the entry the
// Rename command chose to a new name, never replacing an existing one.
#pragma once

#include <string>

#include "app/dialogs/name_dialog.h"

class QLabel;
class QLineEdit;

namespace vantrel::app {

class TRenameFileForm : public TNameDialog {
  Q_OBJECT

 public:
  explicit TRenameFileForm(TMainForm& form);

  // The entry to rename (its name in the current directory, as bytes).
  void SetCurrentEntry(const std::string& name) { entryName_ = name; }
  const std::string& CurrentEntryName() const { return entryName_; }

  QLabel* FileNameLabel() const { return fileNameLabel_; }
  QLineEdit* FileNameEdit() const { return fileNameEdit_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void OkButtonClick() override;

 private:
  std::string entryName_;
  QLabel* fileNameLabel_;
  QLineEdit* fileNameEdit_;
};

}  // namespace vantrel::app
