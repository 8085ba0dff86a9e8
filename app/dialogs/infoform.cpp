// infoform.cpp - layout of the Info window.
#include "app/dialogs/infoform.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

#include "app/dialogs/messages.h"

namespace vantrel::app {

namespace {
QProgressBar* MakeGauge(QWidget* parent, const char* name) {
  auto* gauge = new QProgressBar(parent);
  gauge->setObjectName(QLatin1String(name));
  gauge->setRange(0, 100);
  gauge->setValue(0);
  gauge->setTextVisible(true);
  gauge->setAlignment(Qt::AlignCenter);
  QPalette pal = gauge->palette();
  pal.setColor(QPalette::Highlight, QColor(0, 0, 128));  // navy fill
  gauge->setPalette(pal);
  return gauge;
}
}  // namespace

TInfoForm::TInfoForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("InfoForm"));
  setWindowTitle(QString::fromLatin1(kDialogCaption));
  setFixedSize(386, 108);

  infoLabel_ = new QLabel(this);
  infoLabel_->setObjectName(QStringLiteral("InfoLabel"));
  infoLabel_->setAlignment(Qt::AlignCenter);
  infoLabel_->setWordWrap(true);
  gaugeLocal_ = MakeGauge(this, "GaugeLocal");
  gaugeTotal_ = MakeGauge(this, "GaugeTotal");

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 8);
  layout->addWidget(infoLabel_, 1);
  layout->addWidget(gaugeLocal_);
  layout->addWidget(gaugeTotal_);
}

void TInfoForm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // Each activation starts both gauges from zero.
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    gaugeLocal_->setValue(0);
    gaugeTotal_->setValue(0);
  }
}

void TInfoForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

}  // namespace vantrel::app
