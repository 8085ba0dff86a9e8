// aboutform.h - TAboutForm, the About window.
#pragma once

#include <QDialog>

namespace vantrel::app {

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutForm(QWidget* parent = nullptr);

  // The help context of this window.
  static constexpr int kHelpContext = 803;
};

}  // namespace vantrel::app
