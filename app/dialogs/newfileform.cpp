// newfileform.cpp - create a file that does not exist yet, then edit it.
#include "app/dialogs/newfileform.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "app/commands/command_hooks.h"
#include "platform/fs.h"
#include "platform/rename.h"

namespace vantrel::app {

TNewFileForm::TNewFileForm(TMainForm& form)
    : TNameDialog(form, QStringLiteral("NewFileForm"), QStringLiteral("New file"), 401) {
  auto* label = new QLabel(QStringLiteral("Enter a name of the new file:"), this);
  label->setObjectName(QStringLiteral("Label1"));
  fileNameEdit_ = new QLineEdit(this);
  fileNameEdit_->setObjectName(QStringLiteral("FileNameEdit"));
  fileNameEdit_->setMinimumWidth(260);
  label->setBuddy(fileNameEdit_);
  Body()->addWidget(label);
  Body()->addWidget(fileNameEdit_);
  FinishLayout(fileNameEdit_);
}

void TNewFileForm::OkButtonClick() {
  // The name as typed, relative to the current directory; the edit keeps it
  // for the next time.
  const QString typed = fileNameEdit_->text();
  const std::string name = TypedName(typed);
  if (platform::CreateNewFile(name) != 0) {
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kDialogCaption),
                QStringLiteral("Can not create file ") + typed +
                    QStringLiteral("!\nProbably, the file already exists."));
    reject();
    return;
  }
  accept();
  // The editor gets the full path: a name beginning with "-" is no option.
  const std::string path =
      name[0] == '/' ? name : platform::JoinPath(platform::GetCurrentDir(), name);
  NavHooks().StartEditor(path);
  form_.RefreshBothPanels(name.find('/') == std::string::npos ? name : std::string());
}

}  // namespace vantrel::app
