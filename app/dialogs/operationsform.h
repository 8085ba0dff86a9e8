// operationsform.h - the Operations window: every job that has not ended,
// with what it does, its state, its progress by bytes and items, speed and
// time left, and Pause/Resume, Cancel, Move up and Move down for the
// selected one. Not modal: the panels stay usable beside it.
#pragma once

#include <QDialog>

class QPushButton;
class QTimer;
class QTreeWidget;

namespace vantrel::fileops {
class TJobCenter;
struct TJobProgress;
enum class TJobState;
}  // namespace vantrel::fileops

namespace vantrel::app {

class TOperationsForm final : public QDialog {
  Q_OBJECT

 public:
  TOperationsForm(fileops::TJobCenter& center, QWidget* parent);

  QTreeWidget* List() const { return list_; }
  QPushButton* PauseButton() const { return pause_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* UpButton() const { return up_; }
  QPushButton* DownButton() const { return down_; }

  // Re-reads the jobs; the selection stays on its job.
  void Refresh();

  // The texts of a job's row.
  static QString StateText(fileops::TJobState state, bool asking);
  static QString ProgressText(const fileops::TJobProgress& progress);
  static QString SpeedText(double bytesPerSecond);
  static QString TimeLeftText(double seconds);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  // A change of language rewords the rows and Pause/Resume at once.
  void changeEvent(QEvent* event) override;

 private:
  int SelectedId() const;
  void UpdateButtons();
  void PauseOrResume();

  fileops::TJobCenter& center_;
  QTreeWidget* list_;
  QPushButton* pause_;
  QPushButton* cancel_;
  QPushButton* up_;
  QPushButton* down_;
  QTimer* timer_;
};

}  // namespace vantrel::app
