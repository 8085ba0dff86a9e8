// drivecombo.h - the drive box of a panel side: the mounted volumes with
// their labels (removable ones marked), then the user's places: the home
// folder, the XDG user directories and the GTK bookmarks. The list is read
// again each time it is opened, so media mounted and bookmarks made
// meanwhile appear.
#pragma once

#include <string>
#include <vector>

#include <QComboBox>

#include "platform/fs.h"

namespace vantrel::app {

class TDriveCombo : public QComboBox {
  Q_OBJECT

 public:
  // The item data role that holds true on a removable volume's item.
  static constexpr int kRemovableRole = Qt::UserRole + 1;
  // What MountPointAt gives for the "Trash" item, the last of the list.
  static constexpr const char* kTrashPlace = "trash:///";

  explicit TDriveCombo(QWidget* parent = nullptr);

  // Reads the volumes and places again and fills the list; the shown item
  // stays the volume of `directory`.
  void Reload(const std::string& directory);
  // Shows the volume that holds `directory` (the longest mount-point prefix).
  void ShowVolumeOf(const std::string& directory);
  // The folder item `index` enters: a volume's mount point or a place's
  // path (empty for the separator or no item).
  std::string MountPointAt(int index) const;
  const std::vector<platform::Volume>& Volumes() const { return volumes_; }

  void showPopup() override;
  void hidePopup() override;

 protected:
  // The "Trash" item follows the language.
  void changeEvent(QEvent* event) override;

 signals:
  // The list closed, whether a drive was chosen or not (Escape).
  void popupHidden();

 private:
  std::vector<platform::Volume> volumes_;
  std::vector<std::string> paths_;  // per item: the folder it enters
  std::string directory_;
  bool loaded_ = false;
};

}  // namespace vantrel::app
