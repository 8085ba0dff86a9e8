// newdirectoryform.cpp - create a directory with every missing level above it.
#include "app/dialogs/newdirectoryform.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "platform/fs.h"
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
  const std::string name = TypedName(typed);
  const int error = platform::MakeDirectoryPath(name);
  // Refreshed either way: levels above the name may have been made. The
  // cursor goes on the new directory (the first level of a nested name).
  form_.RefreshBothPanels(error == 0 ? name.substr(0, name.find('/')) : std::string());
  if (error != 0) {
    // The reason as the system gives it; the dialog stays open with the name,
    // so that it can be corrected.
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kDialogCaption),
                QStringLiteral("Can not create directory ") + typed + QStringLiteral("!\n") +
                    QString::fromStdString(platform::ErrorText(error)));
    directoryNameEdit_->setFocus(Qt::OtherFocusReason);
    return;
  }
  accept();
}

}  // namespace vantrel::app
