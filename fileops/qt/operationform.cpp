// operationform.cpp - the operation window.
#include "fileops/qt/operationform.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace vantrel::fileops {

TOperationForm::TOperationForm(QWidget* parent, const QString& mainCaption)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint),
      mainCaption_(mainCaption) {
  setObjectName(QStringLiteral("OperationForm"));
  setWindowTitle(QStringLiteral("Vantrel"));
  setFixedSize(398, 128);
  // Not modal: the operation blocks the input itself (Begin).
  setModal(false);

  panel_ = new QLabel(this);
  panel_->setObjectName(QStringLiteral("Panel"));
  panel_->setGeometry(8, 8, 385, 41);
  panel_->setAlignment(Qt::AlignCenter);
  panel_->setTextFormat(Qt::PlainText);

  gauge_ = new QProgressBar(this);
  gauge_->setObjectName(QStringLiteral("Gauge"));
  gauge_->setGeometry(8, 56, 385, 25);
  gauge_->setRange(0, 100);
  gauge_->setValue(0);
  gauge_->setFormat(QStringLiteral("%p%"));
  gauge_->setAlignment(Qt::AlignCenter);
  gauge_->setTextVisible(true);
  // Navy bar on white with a bold percentage. Palette and font, not a style
  // sheet: the gauge repaints up to a hundred times per operation pass.
  QPalette gaugePalette = gauge_->palette();
  gaugePalette.setColor(QPalette::Highlight, QColor(0, 0, 128));
  gaugePalette.setColor(QPalette::Base, Qt::white);
  gaugePalette.setColor(QPalette::Window, Qt::white);
  gauge_->setPalette(gaugePalette);
  QFont gaugeFont = gauge_->font();
  gaugeFont.setBold(true);
  gauge_->setFont(gaugeFont);

  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("CancelButton"));
  cancelButton_->setGeometry(160, 96, 75, 25);
  cancelButton_->setAutoDefault(false);
  connect(cancelButton_, &QPushButton::clicked, this, &TOperationForm::CancelButtonClick);

  FMOperation.ConfirmOverwrite = true;
  FMOperation.OnGlobalDone = [this](TFMOperation&, int percent) { GlobalDone(percent); };
}

TOperationForm::~TOperationForm() = default;

void TOperationForm::Begin(const QString& text) {
  panel_->setText(text);
  running_ = true;
  lastPercent_ = -1;
  lastEvents_ = {};
  if (QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen()
                                                  : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  // Shown without taking the activation (see TInputBlock): the main window
  // keeps the keyboard but takes no input until End.
  inputBlock_ = std::make_unique<platform::TInputBlock>(this);
  setAttribute(Qt::WA_ShowWithoutActivating);
  show();
  raise();
  // Let the window appear before the first item is handled.
  QCoreApplication::processEvents();
}

void TOperationForm::End() {
  running_ = false;
  inputBlock_.reset();
  hide();
}

void TOperationForm::GlobalDone(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent != lastPercent_) {
    lastPercent_ = percent;
    gauge_->setValue(percent);  // repaints only when the shown percentage changes
    const QString caption =
        isMinimized() ? QString::number(percent) + QLatin1Char('%')
                      : (mainCaption_.isEmpty() ? windowTitle() : mainCaption_);
    if (caption != windowTitle()) setWindowTitle(caption);
  }
  // Serving the event queue after every one of ten thousand small files
  // would cost more than copying them: it is served once EventInterval has
  // passed, so a Cancel click waits at most that long.
  const auto now = std::chrono::steady_clock::now();
  if (now - lastEvents_ < EventInterval) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  lastEvents_ = std::chrono::steady_clock::now();
}

void TOperationForm::CancelButtonClick() {
  // The engine asks "Abort operation?" before its next item, or at once
  // inside a large file.
  FMOperation.OperationAborted = true;
}

void TOperationForm::keyPressEvent(QKeyEvent* event) {
  // Escape is not Cancel; the window goes away only when the operation ends.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TOperationForm::reject() {
  if (!running_) QDialog::reject();
}

void TOperationForm::closeEvent(QCloseEvent* event) {
  if (running_)
    event->ignore();
  else
    QDialog::closeEvent(event);
}

}  // namespace vantrel::fileops
