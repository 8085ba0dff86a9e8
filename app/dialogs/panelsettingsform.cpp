// panelsettingsform.cpp - five width fields and five sort orders for the
// target panel; nothing is written to the settings file before exit.
#include "app/dialogs/panelsettingsform.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/window/mainform.h"
#include "panels/qt/fmpanel.h"

namespace vantrel::app {

namespace {

using panels::TFMPanel;

constexpr int kMaxWidth = 10000;

// A number field that takes any typed digits and settles when it loses the
// focus (or on Enter): a value outside the range is pulled back into it, and
// text that is no number counts as 0.
class TWidthSpin final : public QSpinBox {
 public:
  explicit TWidthSpin(QWidget* parent) : QSpinBox(parent) {
    setRange(0, kMaxWidth);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  }

 protected:
  QValidator::State validate(QString& input, int&) const override {
    for (const QChar c : input)
      if (!c.isDigit() && c != QLatin1Char('-') && c != QLatin1Char('+') && c != QLatin1Char(' '))
        return QValidator::Invalid;
    return QValidator::Acceptable;
  }
  int valueFromText(const QString& text) const override {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok) return 0;
    return static_cast<int>(std::clamp<qlonglong>(value, 0, kMaxWidth));
  }
};

struct TWidthField {
  const char* spin;
  const char* label;
  int (TFMPanel::*get)() const;
  void (TFMPanel::*set)(int);
};

// In the order the panel takes them.
constexpr TWidthField kWidthFields[] = {
    {"NameSpin", "Name:", &TFMPanel::NameWidth, &TFMPanel::SetNameWidth},
    {"ExtSpin", "Extension:", &TFMPanel::ExtWidth, &TFMPanel::SetExtWidth},
    {"SizeSpin", "Size:", &TFMPanel::SizeWidth, &TFMPanel::SetSizeWidth},
    {"DateSpin", "Date:", &TFMPanel::DateWidth, &TFMPanel::SetDateWidth},
    {"TimeSpin", "Time:", &TFMPanel::TimeWidth, &TFMPanel::SetTimeWidth},
};

constexpr const char* kSortTexts[] = {"By name", "By extension", "By size", "By date", "By time"};

}  // namespace

TPanelSettingsForm::TPanelSettingsForm(TMainForm& form)
    : TNameDialog(form, QStringLiteral("PanelSettingsForm"), QStringLiteral("Panel Settings"), 302) {
  auto* widths = new QGroupBox(QStringLiteral("Columns Width"), this);
  widths->setObjectName(QStringLiteral("WidthGroupBox"));
  auto* grid = new QGridLayout(widths);
  for (int i = 0; i < 5; ++i) {
    auto* label = new QLabel(QLatin1String(kWidthFields[i].label), widths);
    label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    auto* spin = new TWidthSpin(widths);
    spin->setObjectName(QLatin1String(kWidthFields[i].spin));
    label->setBuddy(spin);
    grid->addWidget(label, i, 0);
    grid->addWidget(spin, i, 1);
    spins_[static_cast<size_t>(i)] = spin;
  }

  auto* sort = new QGroupBox(QStringLiteral("Sorting files "), this);
  sort->setObjectName(QStringLiteral("SortGroup"));
  auto* sortLayout = new QVBoxLayout(sort);
  for (int i = 0; i < 5; ++i) {
    auto* button = new QRadioButton(QLatin1String(kSortTexts[i]), sort);
    button->setObjectName(QStringLiteral("SortGroupItem%1").arg(i));
    sortLayout->addWidget(button);
    sortButtons_[static_cast<size_t>(i)] = button;
  }

  auto* row = new QHBoxLayout;
  row->addWidget(widths);
  row->addWidget(sort);
  Body()->addLayout(row);
  FinishLayout();
  SetTabChain({spins_[0], spins_[1], spins_[2], spins_[3], spins_[4], sortButtons_[0], OkButton(),
               CancelButton(), HelpButton()});
}

void TPanelSettingsForm::showEvent(QShowEvent* event) {
  TNameDialog::showEvent(event);
  if (target_ == nullptr) return;
  SetHelpContext(target_ == form_.LeftFMPanel() ? 302 : 702);
  for (size_t i = 0; i < spins_.size(); ++i) spins_[i]->setValue((target_->*kWidthFields[i].get)());
  if (target_->SortType() < sortButtons_.size()) sortButtons_[target_->SortType()]->setChecked(true);
  spins_[0]->setFocus(Qt::OtherFocusReason);
  spins_[0]->selectAll();
}

void TPanelSettingsForm::OkButtonClick() {
  if (target_ == nullptr) return reject();
  for (size_t i = 0; i < spins_.size(); ++i) {
    spins_[i]->interpretText();  // a field still being typed in counts as left
    (target_->*kWidthFields[i].set)(spins_[i]->value());
  }
  // The sort order is set even when unchanged: the panel re-reads its directory.
  for (size_t i = 0; i < sortButtons_.size(); ++i)
    if (sortButtons_[i]->isChecked()) target_->SetSortType(static_cast<uint8_t>(i));
  form_.SyncHeaders();
  accept();
}

}  // namespace vantrel::app
