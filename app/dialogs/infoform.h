// infoform.h - TInfoForm, the small window that shows the progress of an
// archive operation: a text and two gauges (current file, whole operation).
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace vantrel::app {

class TInfoForm : public QDialog {
  Q_OBJECT

 public:
  explicit TInfoForm(QWidget* parent = nullptr);

  QLabel* InfoLabel() const { return infoLabel_; }
  QProgressBar* GaugeLocal() const { return gaugeLocal_; }
  QProgressBar* GaugeTotal() const { return gaugeTotal_; }

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* infoLabel_;
  QProgressBar* gaugeLocal_;
  QProgressBar* gaugeTotal_;
};

}  // namespace vantrel::app
