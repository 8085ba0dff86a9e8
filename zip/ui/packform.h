// packform.h - TPackForm, the dialog that asks where and how to pack the
// chosen entries: the archive's path, whether to overwrite all entries or
// only older ones, the compression level (1 fastest to 9 best), and whether
// to encrypt the new entries with AES-256 under a password, and whether new
// entries carry their exact modification time (in UTC, beside the DOS time
// every entry has) so that another time zone restores the same instant. The
// format is ZIP (the program's own engine) or one of the others written whole:
// tar.gz, tar.xz, tar.zst and 7z; for those the overwrite options, encryption
// and exact times do not apply and are disabled.
//
// The dialog keeps its choices between uses; only the path is proposed anew
// each time it is shown, and the password is forgotten after every pack. Pack hands over to the program's pack handler, which
// closes the dialog when it has packed (or leaves it open when there was
// nothing to pack).
#pragma once

#include <functional>
#include <string>

#include <QDialog>

class QCheckBox;
class QComboBox;
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

  // The formats of the Format box, ZIP first (the default).
  static const char* const kFormats[];
  static constexpr int kFormatCount = 5;
  // The index in kFormats of the format chosen; changing it changes the
  // path's ending to the format's.
  int FormatIndex() const;
  void SetFormatIndex(int index);
  // `dir`'s proposed archive for the chosen format ("archive.zip",
  // "archive.tar.gz" ...).
  std::string ProposedPath(const std::string& dir) const;
  // `path` ending as the format `index` wants: a known ending replaced,
  // anything else left alone.
  static std::string WithFormatEnding(const std::string& path, int index);

  // 0 "Overwrite all existing files", 1 "Overwrite only older files".
  int OptionIndex() const;
  void SetOptionIndex(int index);
  // The level box's value, brought into 1 to 9.
  int Level() const;
  // "Encrypt (AES-256)" ticked (off by default); the password as UTF-8.
  bool Encrypt() const;
  std::string Password() const;
  // Empties the password field.
  void ForgetPassword();
  // "Store exact times" (on by default; kept in the settings file).
  bool ExactTimes() const;
  void SetExactTimes(bool on);

  void SetPackHandler(std::function<void()> handler) { pack_ = std::move(handler); }

  QLineEdit* PathEdit() const { return pathEdit_; }
  QComboBox* FormatCombo() const { return formatCombo_; }
  QSpinBox* LevelSpin() const { return levelSpin_; }
  QCheckBox* EncryptCheck() const { return encryptCheck_; }
  QCheckBox* ExactTimesCheck() const { return exactTimesCheck_; }
  QLineEdit* PasswordEdit() const { return passwordEdit_; }
  QRadioButton* OptionButton(int index) const { return index == 0 ? overwriteAll_ : overwriteOlder_; }
  QPushButton* PackButton() const { return packButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  QPushButton* HelpButton() const { return helpButton_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void PackButtonClick();
  void FormatChanged(int index);

  QLineEdit* pathEdit_;
  QComboBox* formatCombo_;
  QWidget* optionsGroup_;
  QRadioButton* overwriteAll_;
  QRadioButton* overwriteOlder_;
  QSpinBox* levelSpin_;
  QCheckBox* encryptCheck_;
  QCheckBox* exactTimesCheck_;
  QLineEdit* passwordEdit_;
  QPushButton* packButton_;
  QPushButton* cancelButton_;
  QPushButton* helpButton_;
  std::string shownPath_;
  std::function<void()> pack_;
};

}  // namespace vantrel::zipui
