// operationform.h - TOperationForm, the small window in front of the main
// window while a copy, move or delete runs: the command's message, the item
// being handled, the bytes done of the total with the speed and the time
// left, a gauge and a Cancel button (Escape too). It owns the engine and serves the window system's
// pending events from the engine's progress event, so the program stays
// responsive without a second thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QDialog>
#include <QString>

#include "fileops/fmoperation.h"
#include "fileops/job.h"
#include "platform/qt/inputblock.h"

class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vantrel::fileops {

class TJobCenter;

class TOperationForm : public QDialog {
  Q_OBJECT

 public:
  // `mainCaption` is the caption the window shows while it is not minimised
  // once the first progress event came.
  explicit TOperationForm(QWidget* parent = nullptr, const QString& mainCaption = {});
  ~TOperationForm() override;

  TFMOperation FMOperation;

  QLabel* Panel() const { return panel_; }
  QLabel* ItemLabel() const { return item_; }
  QLabel* BytesLabel() const { return bytes_; }
  QProgressBar* Gauge() const { return gauge_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  QPushButton* BackgroundButton() const { return backgroundButton_; }

  // Shows `text` and the progress of `job` until the job ends (true) or the
  // user sends it to the background with "Background" or F2 (false; the
  // window closes and the job goes on). Cancel and Escape stop the job at
  // its gate and ask ConfirmAbort: Yes cancels it, No lets it go on.
  bool Follow(TJobCenter& center, const std::shared_ptr<TJob>& job, const QString& text);
  // "Abort operation?" for a followed job; none cancels at once.
  std::function<bool()> ConfirmAbort;
  // A job's progress into the window: gauge, item, bytes, speed, time left.
  void ShowProgress(const TJobProgress& progress, TJobState state);

  // Shows `text` and the window, without blocking, in front of its parent.
  // Until End, the program's other windows take no keys or clicks.
  void Begin(const QString& text);
  // Hides the window at the end of an operation.
  void End();
  // True between Begin and End.
  bool Running() const { return running_; }

  // The progress handler: moves the gauge, shows the item and the bytes,
  // sets the caption and serves the pending events. Public so a caller may
  // drive it like the engine does.
  void GlobalDone(int percent);

  // "1,234 of 5,678 bytes", with the speed and the time left once
  // `seconds` (since the pass began) is long enough to tell them.
  static QString BytesText(double done, double total, double seconds);
  // The same with a known speed (bytes per second, 0 unknown) and time left.
  static QString RateText(double done, double total, double speed, double secondsLeft);
  // A speed in bytes per second as shown: "1.5 MB/s", "2 KB/s".
  static QString SpeedText(double speed);

  // Pending events are served from the progress event once this time has
  // passed since they were last served; inside a large file the engine
  // raises the event every 100 ms.
  std::chrono::milliseconds EventInterval{40};

 signals:
  // The gauge shows `percent` of a followed job (each time it is refreshed).
  void progressShown(int percent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void CancelButtonClick();
  void BackgroundButtonClick();

  QString mainCaption_;
  QLabel* panel_ = nullptr;
  QLabel* item_ = nullptr;
  QLabel* bytes_ = nullptr;
  std::chrono::steady_clock::time_point passStart_{};
  double lastDone_ = 0;
  QProgressBar* gauge_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPushButton* backgroundButton_ = nullptr;
  // While a job is followed: the job, its queue and the loop Follow runs.
  std::shared_ptr<TJob> job_;
  TJobCenter* center_ = nullptr;
  QEventLoop* loop_ = nullptr;
  bool backgrounded_ = false;
  bool confirming_ = false;
  bool running_ = false;
  int lastPercent_ = -1;
  std::chrono::steady_clock::time_point lastEvents_{};
  std::unique_ptr<platform::TInputBlock> inputBlock_;
};

}  // namespace vantrel::fileops
