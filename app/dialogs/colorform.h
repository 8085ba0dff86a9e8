// colorform.h - TColorForm, "Select Color": the six panel colours, each with
// a swatch and a "change" button that opens the colour picker.
#pragma once

#include <array>

#include "app/dialogs/name_dialog.h"
#include "platform/qt/colors.h"

class QFrame;
class QPushButton;

namespace vantrel::app {

class TColorForm : public TNameDialog {
  Q_OBJECT

 public:
  // The roles in their fixed order: Back, Cursor, File, Selected, Current, CurSel.
  static constexpr int kRoles = 6;

  explicit TColorForm(TMainForm& form);

  platform::TColor Swatch(int role) const { return colors_[static_cast<size_t>(role)]; }
  QFrame* SwatchPanel(int role) const { return swatches_[static_cast<size_t>(role)]; }

 protected:
  void showEvent(QShowEvent* event) override;
  void OkButtonClick() override;

 private:
  void SetSwatch(int role, platform::TColor color);
  // "change": the picker starts from the left panel's colour of the role.
  void Change(int role);

  std::array<platform::TColor, kRoles> colors_{};
  std::array<QFrame*, kRoles> swatches_{};
  std::array<QPushButton*, kRoles> changeButtons_{};
};

}  // namespace vantrel::app
