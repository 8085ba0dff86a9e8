// packform.cpp - layout and behaviour of the pack dialog.
#include "zip/ui/packform.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/qt/help.h"
#include "zip/ui/zip_dialogs.h"

namespace vantrel::zipui {

namespace {
constexpr int kHelpContext = 408;
}

const char* const TPackForm::kFormats[] = {"ZIP", "tar.gz", "tar.xz", "tar.zst", "7z"};

TPackForm::TPackForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("PackForm"));
  setWindowTitle(QStringLiteral("Pack files to ZIP"));
  setFixedSize(411, 205);

  auto* label1 = new QLabel(QStringLiteral("Add selected files to archive:"), this);
  label1->setObjectName(QStringLiteral("Label1"));
  pathEdit_ = new QLineEdit(this);
  pathEdit_->setObjectName(QStringLiteral("PathEdit"));

  auto* formatLabel = new QLabel(QStringLiteral("Format:"), this);
  formatLabel->setObjectName(QStringLiteral("FormatLabel"));
  formatCombo_ = new QComboBox(this);
  formatCombo_->setObjectName(QStringLiteral("FormatCombo"));
  for (const char* format : kFormats) formatCombo_->addItem(QString::fromLatin1(format));
  formatLabel->setBuddy(formatCombo_);

  auto* options = new QGroupBox(QStringLiteral("Options"), this);
  optionsGroup_ = options;
  options->setObjectName(QStringLiteral("OptionsGroup"));
  overwriteAll_ = new QRadioButton(QStringLiteral("Overwrite all existing files"), options);
  overwriteAll_->setObjectName(QStringLiteral("OptionsGroupItem0"));
  overwriteOlder_ = new QRadioButton(QStringLiteral("Overwrite only older files"), options);
  overwriteOlder_->setObjectName(QStringLiteral("OptionsGroupItem1"));
  overwriteOlder_->setChecked(true);
  auto* optionsLayout = new QVBoxLayout(options);
  optionsLayout->setContentsMargins(6, 2, 6, 2);
  optionsLayout->setSpacing(0);
  optionsLayout->addWidget(overwriteAll_);
  optionsLayout->addWidget(overwriteOlder_);

  auto* label2 = new QLabel(QStringLiteral("Pack level (1-fastest ...9-best) "), this);
  label2->setObjectName(QStringLiteral("Label2"));
  levelSpin_ = new QSpinBox(this);
  levelSpin_->setObjectName(QStringLiteral("LevelSpin"));
  levelSpin_->setRange(1, 9);
  levelSpin_->setValue(9);
  // A typed value outside 1-9 is brought back when the box is left or read.
  levelSpin_->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);

  // Encryption: the password field is used only while the box is ticked.
  encryptCheck_ = new QCheckBox(QStringLiteral("Encrypt (AES-256)"), this);
  encryptCheck_->setObjectName(QStringLiteral("EncryptCheck"));
  auto* label3 = new QLabel(QStringLiteral("Password:"), this);
  label3->setObjectName(QStringLiteral("Label3"));
  passwordEdit_ = new QLineEdit(this);
  passwordEdit_->setObjectName(QStringLiteral("PasswordEdit"));
  passwordEdit_->setEchoMode(QLineEdit::Password);
  passwordEdit_->setEnabled(false);
  label3->setBuddy(passwordEdit_);
  connect(encryptCheck_, &QCheckBox::toggled, this, [this](bool on) {
    passwordEdit_->setEnabled(on);
    if (on) passwordEdit_->setFocus();
  });

  exactTimesCheck_ = new QCheckBox(QStringLiteral("Store exact times"), this);
  exactTimesCheck_->setObjectName(QStringLiteral("ExactTimesCheck"));
  exactTimesCheck_->setToolTip(
      QStringLiteral("Each new entry also carries its modification time in UTC, to the second"));
  exactTimesCheck_->setChecked(true);

  packButton_ = new QPushButton(QStringLiteral("Pack"), this);
  packButton_->setObjectName(QStringLiteral("PackButton"));
  packButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("CancelButton"));
  helpButton_ = new QPushButton(QStringLiteral("Help"), this);
  helpButton_->setObjectName(QStringLiteral("HelpButton"));
  helpButton_->setAutoDefault(false);
  cancelButton_->setAutoDefault(false);

  auto* levelRow = new QHBoxLayout;
  levelRow->addWidget(label2);
  levelRow->addWidget(levelSpin_);
  levelRow->addStretch(1);
  levelRow->addWidget(formatLabel);
  levelRow->addWidget(formatCombo_);
  auto* passwordRow = new QHBoxLayout;
  passwordRow->addWidget(label3);
  passwordRow->addWidget(passwordEdit_, 1);
  auto* left = new QVBoxLayout;
  left->addWidget(options);
  left->addLayout(levelRow);
  left->addWidget(exactTimesCheck_);
  left->addWidget(encryptCheck_);
  left->addLayout(passwordRow);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(packButton_);
  buttons->addWidget(cancelButton_);
  buttons->addWidget(helpButton_);
  buttons->addStretch(1);
  auto* lower = new QHBoxLayout;
  lower->addLayout(left, 1);
  lower->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 6);
  layout->setSpacing(4);
  layout->addWidget(label1);
  layout->addWidget(pathEdit_);
  layout->addLayout(lower, 1);

  connect(formatCombo_, &QComboBox::currentIndexChanged, this, &TPackForm::FormatChanged);
  connect(packButton_, &QPushButton::clicked, this, &TPackForm::PackButtonClick);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
  connect(helpButton_, &QPushButton::clicked, this, [] { platform::ShowHelp(kHelpContext); });
}

std::string TPackForm::ProposedArchivePath(const std::string& dir) {
  std::string path = dir;
  if (path.empty() || path.back() != '/') path += '/';
  return path + "archive.zip";
}

int TPackForm::FormatIndex() const { return formatCombo_->currentIndex(); }

void TPackForm::SetFormatIndex(int index) { formatCombo_->setCurrentIndex(index); }

std::string TPackForm::WithFormatEnding(const std::string& path, int index) {
  if (index < 0 || index >= kFormatCount) return path;
  static const char* const endings[] = {".zip", ".tar.gz", ".tar.xz", ".tar.zst", ".7z"};
  // The longest known ending ("x.tar.gz" is not "x.tar" + ".gz").
  size_t cut = path.size();
  for (const char* e : endings) {
    const std::string ending(e);
    if (path.size() > ending.size() && path.compare(path.size() - ending.size(), ending.size(), ending) == 0 &&
        path[path.size() - ending.size() - 1] != '/')
      cut = std::min(cut, path.size() - ending.size());
  }
  if (cut == path.size()) return path;
  return path.substr(0, cut) + endings[index];
}

std::string TPackForm::ProposedPath(const std::string& dir) const {
  return WithFormatEnding(ProposedArchivePath(dir), FormatIndex());
}

void TPackForm::FormatChanged(int index) {
  const bool zip = index == 0;
  optionsGroup_->setEnabled(zip);
  encryptCheck_->setEnabled(zip);
  if (!zip) encryptCheck_->setChecked(false);
  passwordEdit_->setEnabled(zip && encryptCheck_->isChecked());
  exactTimesCheck_->setEnabled(zip);  // the other formats keep their own times
  const std::string path = Path();
  const std::string changed = WithFormatEnding(path, index);
  if (changed != path) SetPath(changed);
}

void TPackForm::SetPath(const std::string& path) {
  shownPath_ = path;
  pathEdit_->setText(PathToText(path));
}

std::string TPackForm::Path() const { return TextToPath(pathEdit_->text(), shownPath_); }

int TPackForm::OptionIndex() const { return overwriteAll_->isChecked() ? 0 : 1; }

void TPackForm::SetOptionIndex(int index) { OptionButton(index == 0 ? 0 : 1)->setChecked(true); }

int TPackForm::Level() const {
  // Text that is not a number counts as the box's minimum.
  bool ok = false;
  const int typed = levelSpin_->cleanText().trimmed().toInt(&ok);
  const int level = ok ? typed : levelSpin_->minimum();
  return std::clamp(level, levelSpin_->minimum(), levelSpin_->maximum());
}

bool TPackForm::Encrypt() const { return encryptCheck_->isChecked(); }

std::string TPackForm::Password() const {
  const QByteArray bytes = passwordEdit_->text().toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void TPackForm::ForgetPassword() { passwordEdit_->clear(); }

bool TPackForm::ExactTimes() const { return exactTimesCheck_->isChecked(); }

void TPackForm::SetExactTimes(bool on) { exactTimesCheck_->setChecked(on); }

void TPackForm::showEvent(QShowEvent* event) {
  // The form's size, or more where the texts need it (a translation's
  // longer labels are never cut).
  setFixedSize(layout()->sizeHint().expandedTo(QSize(411, 205)));
  QDialog::showEvent(event);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  pathEdit_->setFocus();
}

void TPackForm::PackButtonClick() {
  levelSpin_->interpretText();
  if (pack_) pack_();
}

}  // namespace vantrel::zipui
