// drivecombo.cpp - volumes in a combo box.
#include "app/panels/drivecombo.h"

#include "platform/qt/volumes.h"

namespace vantrel::app {

TDriveCombo::TDriveCombo(QWidget* parent) : QComboBox(parent) {
  // Reached by a click or its menu shortcut, never by Tab.
  setFocusPolicy(Qt::ClickFocus);
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

void TDriveCombo::Reload(const std::string& directory) {
  volumes_ = platform::ListVolumes();
  loaded_ = true;
  {
    const QSignalBlocker quiet(this);
    clear();
    for (const platform::Volume& volume : volumes_) addItem(platform::VolumeDisplayText(volume));
  }
  ShowVolumeOf(directory);
}

void TDriveCombo::ShowVolumeOf(const std::string& directory) {
  directory_ = directory;
  if (!loaded_) {
    Reload(directory);  // comes back here with the list filled
    return;
  }
  const std::string mount = platform::MountPointOf(directory, volumes_);
  int found = -1;
  for (size_t i = 0; i < volumes_.size(); ++i)
    if (volumes_[i].mountPoint == mount) found = static_cast<int>(i);
  const QSignalBlocker quiet(this);
  setCurrentIndex(found);
}

std::string TDriveCombo::MountPointAt(int index) const {
  if (index < 0 || index >= static_cast<int>(volumes_.size())) return {};
  return volumes_[static_cast<size_t>(index)].mountPoint;
}

void TDriveCombo::showPopup() {
  Reload(directory_);
  QComboBox::showPopup();
}

void TDriveCombo::hidePopup() {
  QComboBox::hidePopup();
  emit popupHidden();
}

}  // namespace vantrel::app
