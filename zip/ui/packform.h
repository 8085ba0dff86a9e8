// packform.h - TPackForm, the dialog that asks where and how to pack the
// chosen entries: the archive's path, whether to overwrite all entries or
// only older ones, and the compression level (1 fastest to 9 best).
//
// The dialog keeps its choices between uses; only the path is proposed anew
// each time it is shown. Pack hands over to the program's pack handler, which
// closes the dialog when it has packed (or leaves it open when there was
// nothing to pack).
#pragma once

#include <functional>
#include <string>

#include <QDialog>

class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace vantrel::zipui {

class TPackForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPackForm(QWidget* parent = nullptr);

  // dir followed by "/" unless it already ends with one, then "archive.zip".
  static std::string ProposedArchivePath(const std::string& dir);

  // Shows `path` (bytes) in PathEdit.
  void SetPath(const std::string& path);
  // The archive path as typed; the shown bytes when the text was left alone.
  std::string Path() const;

  // 0 "Overwrite all existing files", 1 "Overwrite only older files".
  int OptionIndex() const;
  void SetOptionIndex(int index);
  // The level box's value, brought into 1 to 9.
  int Level() const;

  void SetPackHandler(std::function<void()> handler) { pack_ = std::move(handler); }

  QLineEdit* PathEdit() const { return pathEdit_; }
  QSpinBox* LevelSpin() const { return levelSpin_; }
  QRadioButton* OptionButton(int index) const { return index == 0 ? overwriteAll_ : overwriteOlder_; }
  QPushButton* PackButton() const { return packButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  QPushButton* HelpButton() const { return helpButton_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void PackButtonClick();

  QLineEdit* pathEdit_;
  QRadioButton* overwriteAll_;
  QRadioButton* overwriteOlder_;
  QSpinBox* levelSpin_;
  QPushButton* packButton_;
  QPushButton* cancelButton_;
  QPushButton* helpButton_;
  std::string shownPath_;
  std::function<void()> pack_;
};

}  // namespace vantrel::zipui
