// drivecombo.cpp - volumes and places in a combo box.
#include "app/panels/drivecombo.h"

#include <QEvent>
#include <QIcon>

#include "platform/places.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

TDriveCombo::TDriveCombo(QWidget* parent) : QComboBox(parent) {
  // Reached by a click or its menu shortcut, never by Tab.
  setFocusPolicy(Qt::ClickFocus);
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

void TDriveCombo::Reload(const std::string& directory) {
  volumes_ = platform::ListVolumes();
  loaded_ = true;
  paths_.clear();
  {
    const QSignalBlocker quiet(this);
    clear();
    // The volumes come first, so a volume's item has its index in volumes_.
    for (const platform::Volume& volume : volumes_) {
      const bool removable = platform::IsRemovableMedia(volume.mountPoint);
      QString text = platform::VolumeDisplayText(volume);
      if (removable) text += QStringLiteral(" \u23CF");  // the eject sign
      addItem(QIcon::fromTheme(removable ? QStringLiteral("drive-removable-media") : QStringLiteral("drive-harddisk")),
              text);
      setItemData(count() - 1, removable, kRemovableRole);
      paths_.push_back(volume.mountPoint);
    }
    const std::vector<platform::Place> places = platform::UserPlaces();
    if (!places.empty()) {
      insertSeparator(count());
      paths_.emplace_back();
    }
    for (const platform::Place& place : places) {
      const bool home = &place == &places.front();
      addItem(QIcon::fromTheme(home ? QStringLiteral("user-home") : QStringLiteral("folder")),
              platform::ToDisplay(place.label));
      setItemData(count() - 1, platform::ToDisplay(place.path), Qt::ToolTipRole);
      paths_.push_back(place.path);
    }
    addItem(QIcon::fromTheme(QStringLiteral("user-trash")), platform::Worded("Trash"));
    paths_.emplace_back(kTrashPlace);
  }
  ShowVolumeOf(directory);
}

void TDriveCombo::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange && !paths_.empty() && paths_.back() == kTrashPlace)
    setItemText(count() - 1, platform::Worded("Trash"));
  QComboBox::changeEvent(event);
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
  if (directory.rfind(kTrashPlace, 0) == 0) found = count() - 1;  // the Trash, the last item
  const QSignalBlocker quiet(this);
  setCurrentIndex(found);
}

std::string TDriveCombo::MountPointAt(int index) const {
  if (index < 0 || index >= static_cast<int>(paths_.size())) return {};
  return paths_[static_cast<size_t>(index)];
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
