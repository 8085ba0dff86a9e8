// propertiesform.h - TPropertiesForm, the Properties dialog of one entry:
// name, full path, type, size (a directory's is counted in the background,
// with a running count and a Stop button), dates, owner and group, the nine
// permission bits with their octal value (changeable by the owner), and a
// link's target.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <thread>

#include <QDialog>

#include "platform/file_details.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vantrel::app {

class TPropertiesForm : public QDialog {
  Q_OBJECT

 public:
  // `path` is the entry's full path (bytes).
  explicit TPropertiesForm(const std::string& path, QWidget* parent = nullptr);
  ~TPropertiesForm() override;

  const std::string& Path() const { return path_; }
  // The text of a field by its object name ("PropType", "PropSize", ...).
  QString Field(const QString& name) const;
  // Permission box `i`: 0 to 8 are owner, group, others, each read, write, execute.
  QCheckBox* PermissionBox(int i) const { return boxes_[static_cast<size_t>(i)]; }
  QLineEdit* OctalEdit() const { return octal_; }
  // The permission bits the dialog shows now.
  uint32_t ShownMode() const { return mode_; }
  bool Measuring() const { return measuring_; }
  void StopMeasuring();

  // Applies a changed mode (OK does this, then closes). False after showing why.
  bool Apply();

 private:
  QLabel* AddRow(const QString& caption, const QString& name, const QString& text);
  void ShowMode(uint32_t mode);
  void StartMeasuring();
  void ShowTotals(const platform::TreeTotals& totals, bool done);

  std::string path_;
  platform::FileDetails details_;
  bool editable_ = false;
  uint32_t mode_ = 0;
  std::array<QCheckBox*, 9> boxes_{};
  QLineEdit* octal_ = nullptr;
  QLabel* sizeLabel_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  std::thread measurer_;
  std::atomic<bool> stop_{false};
  bool measuring_ = false;
};

// "in 3 files, 2 directories" after a directory's size: each count with the
// form it takes in the language chosen.
QString FilesAndDirectoriesText(uint64_t files, uint64_t directories);

}  // namespace vantrel::app
