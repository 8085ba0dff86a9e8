// drivecombo.h - the drive box of a panel side: the mounted volumes with
// their labels. The list is read again each time it is opened, so media
// mounted meanwhile appear.
#pragma once

#include <string>
#include <vector>

#include <QComboBox>

#include "platform/fs.h"

namespace vantrel::app {

class TDriveCombo : public QComboBox {
  Q_OBJECT

 public:
  explicit TDriveCombo(QWidget* parent = nullptr);

  // Reads the volumes again and fills the list; the shown item stays the
  // volume of `directory`.
  void Reload(const std::string& directory);
  // Shows the volume that holds `directory` (the longest mount-point prefix).
  void ShowVolumeOf(const std::string& directory);
  // The mount point of item `index` (empty when there is none).
  std::string MountPointAt(int index) const;
  const std::vector<platform::Volume>& Volumes() const { return volumes_; }

  void showPopup() override;
  void hidePopup() override;

 signals:
  // The list closed, whether a drive was chosen or not (Escape).
  void popupHidden();

 private:
  std::vector<platform::Volume> volumes_;
  std::string directory_;
  bool loaded_ = false;
};

}  // namespace vantrel::app
