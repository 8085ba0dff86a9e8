// newdirectoryform.cpp - create one directory; its parent must exist.
#include "app/dialogs/newdirectoryform.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "platform/rename.h"

namespace vantrel::app {

TNewDirectoryForm::TNewDirectoryForm(TMainForm& form)
    : TNameDialog(form, QStringLiteral("NewDirectoryForm"), QStringLiteral("New directory"), 501) {
  auto* label = new QLabel(QStringLiteral("Enter a name of the new directory:"), this);
  label->setObjectName(QStringLiteral("Label1"));
  directoryNameEdit_ = new QLineEdit(this);
  directoryNameEdit_->setObjectName(QStringLiteral("DirectoryNameEdit"));
  directoryNameEdit_->setMinimumWidth(260);
  label->setBuddy(directoryNameEdit_);
  Body()->addWidget(label);
  Body()->addWidget(directoryNameEdit_);
  FinishLayout(directoryNameEdit_);
}

void TNewDirectoryForm::OkButtonClick() {
  const QString typed = directoryNameEdit_->text();
  if (platform::MakeDirectory(TypedName(typed)) != 0) {
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kDialogCaption),
                QStringLiteral("Can not create directory ") + typed +
                    QStringLiteral("!\nProbably, the directory already exists."));
  }
  // Refreshed either way: a part of the name may have been created meanwhile.
  accept();
  form_.RefreshBothPanels();
}

}  // namespace vantrel::app
