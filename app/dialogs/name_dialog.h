// name_dialog.h - the frame the small name dialogs share: a fixed window
// centred on its parent with "Ok" (default, Enter), "Cancel" (Escape) and
// "Help" (the help at the window's context number).
#pragma once

#include <initializer_list>
#include <string>

#include <QDialog>

class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace vantrel::app {

class TMainForm;

class TNameDialog : public QDialog {
  Q_OBJECT

 public:
  TNameDialog(TMainForm& form, const QString& objectName, const QString& caption,
              int helpContext);

  QPushButton* OkButton() const { return okButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  QPushButton* HelpButton() const { return helpButton_; }
  int HelpContext() const { return helpContext_; }
  void SetHelpContext(int context) { helpContext_ = context; }

 protected:
  // The controls above the buttons go here.
  QVBoxLayout* Body() const { return body_; }
  // Builds the button row once the body is complete. `nameEdit`, when given,
  // is the field that has the keyboard focus, its text selected, whenever the
  // dialog opens.
  void FinishLayout(QLineEdit* nameEdit = nullptr);
  void showEvent(QShowEvent* event) override;
  // What "Ok" does; the dialog closes itself.
  virtual void OkButtonClick() = 0;

  TMainForm& form_;

 private:
  QVBoxLayout* body_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  QPushButton* helpButton_;
  QLineEdit* nameEdit_ = nullptr;
  int helpContext_;
};

// The bytes of a name typed into an edit.
std::string TypedName(const QString& text);

// Tab moves through `widgets` in this order; the first of them is also the
// one a window without a focused control gives the focus to.
void SetTabChain(std::initializer_list<QWidget*> widgets);

}  // namespace vantrel::app
