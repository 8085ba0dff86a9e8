// comparedirsform.cpp - the criteria of Compare directories.
#include "app/dialogs/comparedirsform.h"
#include "platform/qt/wording.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel::app {

TCompareDirsForm::TCompareDirsForm(QWidget* parent, const tools::TCompareOptions& options) : QDialog(parent) {
  setObjectName(QStringLiteral("CompareDirsForm"));
  setWindowTitle(platform::Worded("Compare directories"));
  auto check = [this](const char* name, const char* text, bool on) {
    auto* box = new QCheckBox(platform::Worded(text), this);
    box->setObjectName(QLatin1String(name));
    box->setChecked(on);
    return box;
  };
  auto* intro = new QLabel(platform::Worded("Mark the entries that are missing on the other side, and those that differ:"), this);
  intro->setWordWrap(true);
  dateCheck_ = check("DateCheck", "By &date (the newer one is marked)", options.byDate);
  sizeCheck_ = check("SizeCheck", "By &size", options.bySize);
  contentCheck_ = check("ContentCheck", "By &content (reads the files)", options.byContent);
  recursiveCheck_ = check("RecursiveCheck", "Compare s&ubdirectories", options.recursive);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  okButton_ = buttons->button(QDialogButtonBox::Ok);
  okButton_->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  for (QWidget* w : {static_cast<QWidget*>(dateCheck_), static_cast<QWidget*>(sizeCheck_),
                     static_cast<QWidget*>(contentCheck_), static_cast<QWidget*>(recursiveCheck_)})
    layout->addWidget(w);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  okButton_->setFocus();
}

tools::TCompareOptions TCompareDirsForm::Options() const {
  tools::TCompareOptions options;
  options.byDate = dateCheck_->isChecked();
  options.bySize = sizeCheck_->isChecked();
  options.byContent = contentCheck_->isChecked();
  options.recursive = recursiveCheck_->isChecked();
  return options;
}

}  // namespace vantrel::app
