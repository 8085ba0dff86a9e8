// operationform.h - TOperationForm, the small window in front of the main
// window while a copy, move or delete runs: the command's message, the item
// being handled, the bytes done of the total with the speed and the time
// left, a gauge and a Cancel button (Escape too). It owns the engine and serves the window system's
// pending events from the engine's progress event, so the program stays
// responsive without a second thread.
#pragma once

#include <chrono>
#include <memory>

#include <QDialog>
#include <QString>

#include "fileops/fmoperation.h"
#include "platform/qt/inputblock.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vantrel::fileops {

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

  // Pending events are served from the progress event once this time has
  // passed since they were last served; inside a large file the engine
  // raises the event every 100 ms.
  std::chrono::milliseconds EventInterval{40};

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void CancelButtonClick();

  QString mainCaption_;
  QLabel* panel_ = nullptr;
  QLabel* item_ = nullptr;
  QLabel* bytes_ = nullptr;
  std::chrono::steady_clock::time_point passStart_{};
  double lastDone_ = 0;
  QProgressBar* gauge_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  bool running_ = false;
  int lastPercent_ = -1;
  std::chrono::steady_clock::time_point lastEvents_{};
  std::unique_ptr<platform::TInputBlock> inputBlock_;
};

}  // namespace vantrel::fileops
