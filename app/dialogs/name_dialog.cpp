// name_dialog.cpp - the shared frame of the name dialogs.
#include "app/dialogs/name_dialog.h"

#include <string>

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/window/mainform.h"
#include "platform/qt/help.h"

namespace vantrel::app {

TNameDialog::TNameDialog(TMainForm& form, const QString& objectName, const QString& caption,
                         int helpContext)
    : QDialog(&form, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      form_(form),
      helpContext_(helpContext) {
  setObjectName(objectName);
  setWindowTitle(caption);
  setModal(true);
  body_ = new QVBoxLayout;
  okButton_ = new QPushButton(QStringLiteral("Ok"), this);
  okButton_->setObjectName(QStringLiteral("OkButton"));
  okButton_->setDefault(true);
  okButton_->setAutoDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("CancelButton"));
  cancelButton_->setAutoDefault(false);
  helpButton_ = new QPushButton(QStringLiteral("Help"), this);
  helpButton_->setObjectName(QStringLiteral("HelpButton"));
  helpButton_->setAutoDefault(false);
  connect(okButton_, &QPushButton::clicked, this, [this] { OkButtonClick(); });
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
  connect(helpButton_, &QPushButton::clicked, this,
          [this] { platform::ShowHelp(helpContext_); });
}

void TNameDialog::FinishLayout(QLineEdit* nameEdit) {
  nameEdit_ = nameEdit;
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);
  buttons->addWidget(helpButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void SetTabChain(std::initializer_list<QWidget*> widgets) {
  QWidget* previous = nullptr;
  for (QWidget* widget : widgets) {
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

void TNameDialog::showEvent(QShowEvent* event) {
  // Set before the dialog picks its own focus (which would be "Ok", the
  // first control made), so that a typed name goes into the field.
  if (nameEdit_ != nullptr) {
    nameEdit_->setFocus(Qt::OtherFocusReason);
    nameEdit_->selectAll();
  }
  QDialog::showEvent(event);
}

std::string TypedName(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace vantrel::app
