// comparedirsform.h - the small window of Compare directories (Shift+F2):
// the criteria, with name, date and size chosen at first, so that Enter
// compares at once. The choices stay for the next opening.
#pragma once

#include <QDialog>

#include "tools/dir_compare.h"

class QCheckBox;
class QPushButton;

namespace vantrel::app {

class TCompareDirsForm : public QDialog {
  Q_OBJECT

 public:
  TCompareDirsForm(QWidget* parent, const tools::TCompareOptions& options);

  tools::TCompareOptions Options() const;

  QCheckBox* DateCheck() const { return dateCheck_; }
  QCheckBox* SizeCheck() const { return sizeCheck_; }
  QCheckBox* ContentCheck() const { return contentCheck_; }
  QCheckBox* RecursiveCheck() const { return recursiveCheck_; }
  QPushButton* OkButton() const { return okButton_; }

 private:
  QCheckBox* dateCheck_;
  QCheckBox* sizeCheck_;
  QCheckBox* contentCheck_;
  QCheckBox* recursiveCheck_;
  QPushButton* okButton_;
};

}  // namespace vantrel::app
