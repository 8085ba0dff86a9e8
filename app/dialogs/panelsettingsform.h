// panelsettingsform.h - TPanelSettingsForm, "Panel Settings": the column
// widths and the sort order of one panel, the target panel.
#pragma once

#include <array>

#include "app/dialogs/name_dialog.h"

class QGroupBox;
class QRadioButton;
class QSpinBox;

namespace vantrel::panels {
class TFMPanel;
}

namespace vantrel::app {

class TPanelSettingsForm : public TNameDialog {
  Q_OBJECT

 public:
  explicit TPanelSettingsForm(TMainForm& form);

  // The panel the next activation shows and "Ok" changes.
  void SetTargetPanel(panels::TFMPanel* panel) { target_ = panel; }
  panels::TFMPanel* TargetPanel() const { return target_; }

  // NameSpin, ExtSpin, SizeSpin, DateSpin, TimeSpin.
  QSpinBox* WidthSpin(int column) const { return spins_[static_cast<size_t>(column)]; }
  // "By name" ... "By time", in sort order.
  QRadioButton* SortButton(int order) const { return sortButtons_[static_cast<size_t>(order)]; }

 protected:
  void showEvent(QShowEvent* event) override;
  void OkButtonClick() override;

 private:
  panels::TFMPanel* target_ = nullptr;
  std::array<QSpinBox*, 5> spins_{};
  std::array<QRadioButton*, 5> sortButtons_{};
};

}  // namespace vantrel::app
