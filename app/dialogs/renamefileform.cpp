// renamefileform.cpp - rename or move one entry without replacing anything.
#include "app/dialogs/renamefileform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "platform/fs.h"
#include "platform/qt/volumes.h"
#include "platform/rename.h"

namespace vantrel::app {

TRenameFileForm::TRenameFileForm(TMainForm& form)
    : TNameDialog(form, QStringLiteral("RenameFileForm"), QStringLiteral("Rename file"), 407) {
  auto* row = new QHBoxLayout;
  auto* renameLabel = new QLabel(QStringLiteral("Rename file: "), this);
  renameLabel->setObjectName(QStringLiteral("Label1"));
  row->addWidget(renameLabel);
  fileNameLabel_ = new QLabel(this);
  fileNameLabel_->setObjectName(QStringLiteral("FileNameLabel"));
  fileNameLabel_->setTextFormat(Qt::PlainText);
  row->addWidget(fileNameLabel_, 1);
  auto* to = new QLabel(QStringLiteral("To file:"), this);
  to->setObjectName(QStringLiteral("Label2"));
  fileNameEdit_ = new QLineEdit(this);
  fileNameEdit_->setObjectName(QStringLiteral("FileNameEdit"));
  fileNameEdit_->setMinimumWidth(260);
  to->setBuddy(fileNameEdit_);
  Body()->addLayout(row);
  Body()->addWidget(to);
  Body()->addWidget(fileNameEdit_);
  FinishLayout(fileNameEdit_);
}

void TRenameFileForm::showEvent(QShowEvent* event) {
  const QString shown = platform::ToDisplay(entryName_);
  fileNameLabel_->setText(shown);
  fileNameEdit_->setText(shown);
  TNameDialog::showEvent(event);
}

void TRenameFileForm::OkButtonClick() {
  // An untouched edit means the entry's own bytes, even when its name is not
  // valid UTF-8 and shows with replacement characters.
  const QString typed = fileNameEdit_->text();
  const std::string newName =
      typed == platform::ToDisplay(entryName_) ? entryName_ : TypedName(typed);
  // The entry's own name (however spelled): there is nothing to do.
  if (platform::SameEntryName(entryName_, newName)) {
    accept();
    return;
  }
  const int error = platform::RenameNoReplace(entryName_, newName);
  if (error != 0) {
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kDialogCaption),
                QStringLiteral("Sorry! Can not rename!\n") +
                    QString::fromStdString(platform::ErrorText(error)));
  }
  form_.RefreshBothPanels(newName.find('/') == std::string::npos ? newName : std::string());
  accept();
}

}  // namespace vantrel::app
