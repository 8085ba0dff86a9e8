// operationform.cpp - the operation window.
#include "fileops/qt/operationform.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "fileops/qt/job_center.h"

#include "platform/qt/wording.h"
#include "platform/text.h"

namespace vantrel::fileops {

TOperationForm::TOperationForm(QWidget* parent, const QString& mainCaption)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint),
      mainCaption_(mainCaption) {
  setObjectName(QStringLiteral("OperationForm"));
  setWindowTitle(QStringLiteral("Vantrel"));
  setFixedSize(398, 168);
  // Not modal: the operation blocks the input itself (Begin).
  setModal(false);

  panel_ = new QLabel(this);
  panel_->setObjectName(QStringLiteral("Panel"));
  panel_->setGeometry(8, 8, 385, 25);
  panel_->setAlignment(Qt::AlignCenter);
  panel_->setTextFormat(Qt::PlainText);

  // Under the message: the item being handled, then the bytes.
  item_ = new QLabel(this);
  item_->setObjectName(QStringLiteral("ItemLabel"));
  item_->setGeometry(8, 36, 385, 20);
  item_->setTextFormat(Qt::PlainText);
  bytes_ = new QLabel(this);
  bytes_->setObjectName(QStringLiteral("BytesLabel"));
  bytes_->setGeometry(8, 58, 385, 20);
  bytes_->setTextFormat(Qt::PlainText);

  gauge_ = new QProgressBar(this);
  gauge_->setObjectName(QStringLiteral("Gauge"));
  gauge_->setGeometry(8, 96, 385, 25);
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
  // Its own text colours too: a dark desktop's light text would vanish on
  // the white bar.
  gaugePalette.setColor(QPalette::Text, Qt::black);
  gaugePalette.setColor(QPalette::WindowText, Qt::black);
  gaugePalette.setColor(QPalette::HighlightedText, Qt::white);
  gauge_->setPalette(gaugePalette);
  QFont gaugeFont = gauge_->font();
  gaugeFont.setBold(true);
  gauge_->setFont(gaugeFont);

  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("CancelButton"));
  cancelButton_->setGeometry(160, 136, 75, 25);
  cancelButton_->setAutoDefault(false);
  connect(cancelButton_, &QPushButton::clicked, this, &TOperationForm::CancelButtonClick);
  // A job's window also sends it to the background.
  backgroundButton_ = new QPushButton(QStringLiteral("Background"), this);
  backgroundButton_->setObjectName(QStringLiteral("BackgroundButton"));
  backgroundButton_->setGeometry(115, 136, 80, 25);
  backgroundButton_->setAutoDefault(false);
  backgroundButton_->setToolTip(QStringLiteral("Background (F2)"));
  backgroundButton_->hide();
  connect(backgroundButton_, &QPushButton::clicked, this, &TOperationForm::BackgroundButtonClick);

  FMOperation.ConfirmOverwrite = true;
  FMOperation.OnGlobalDone = [this](TFMOperation&, int percent) { GlobalDone(percent); };
}

TOperationForm::~TOperationForm() = default;

void TOperationForm::Begin(const QString& text) {
  panel_->setText(text);
  item_->clear();
  bytes_->clear();
  running_ = true;
  lastPercent_ = -1;
  lastEvents_ = {};
  passStart_ = std::chrono::steady_clock::now();
  lastDone_ = 0;
  if (QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen()
                                                  : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  // Shown without taking the activation (see TInputBlock): the main window
  // keeps the keyboard but takes no input until End.
  // Escape, wherever it is pressed, is Cancel.
  std::function<void()> onF2;
  if (job_) onF2 = [this] { BackgroundButtonClick(); };
  inputBlock_ = std::make_unique<platform::TInputBlock>(this, [this] { CancelButtonClick(); }, onF2);
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

QString TOperationForm::BytesText(double done, double total, double seconds) {
  if (seconds < 0.5 || done <= 0) return RateText(done, total, 0, -1);
  const double speed = done / seconds;
  return RateText(done, total, speed, std::max(0.0, total - done) / speed);
}

QString TOperationForm::SpeedText(double speed) {
  if (speed >= 1024 * 1024) return platform::Worded("%1 MB/s").arg(QString::number(speed / (1024 * 1024), 'f', 1));
  return platform::Worded("%1 KB/s").arg(QString::number(speed / 1024, 'f', 0));
}

QString TOperationForm::RateText(double done, double total, double speed, double secondsLeft) {
  const auto whole = [](double value) { return static_cast<uint64_t>(std::clamp(value, 0.0, 9e18)); };
  const auto number = [](uint64_t value) { return QString::fromStdString(platform::FormatThousands(value)); };
  // The form of the total: "0 of 1 byte".
  const uint64_t all = total < 1 ? 0 : whole(total);
  const QString text = platform::WordedForm("%1 of %2 byte", "%1 of %2 bytes", static_cast<long long>(all))
                           .arg(number(whole(done)), number(all));
  if (speed <= 0 || secondsLeft < 0) return text;
  const auto left = static_cast<qint64>(std::ceil(secondsLeft));
  const QString time = QStringLiteral("%1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
  return platform::Worded("%1, %2, %3 left").arg(text, SpeedText(speed), time);
}

void TOperationForm::GlobalDone(int percent) {
  percent = std::clamp(percent, 0, 100);
  // A move's removal pass starts again from nothing.
  const double done = FMOperation.Done();
  if (done < lastDone_) passStart_ = std::chrono::steady_clock::now();
  lastDone_ = done;
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
  // The texts change as often as the window is served, not per item.
  item_->setText(item_->fontMetrics().elidedText(QString::fromStdString(platform::DisplayName(FMOperation.CurrentItem())),
                                                  Qt::ElideMiddle, item_->width()));
  bytes_->setText(BytesText(done, FMOperation.Total(), std::chrono::duration<double>(now - passStart_).count()));
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  lastEvents_ = std::chrono::steady_clock::now();
}

void TOperationForm::CancelButtonClick() {
  if (job_) {
    // The job stands still while the user answers; clicked again meanwhile
    // (a second click queued behind the first), nothing more is asked.
    if (confirming_ || center_ == nullptr) return;
    confirming_ = true;
    const std::shared_ptr<TJob> job = job_;
    TJobQueue& queue = center_->Queue();
    queue.Pause(job->Id());
    const bool yes = !ConfirmAbort || ConfirmAbort();
    if (yes)
      queue.Cancel(job->Id());
    else
      queue.Resume(job->Id());
    // Clicks that came while the question was up are one request with it.
    QTimer::singleShot(0, this, [this] { confirming_ = false; });
    return;
  }
  // The engine asks "Abort operation?" before its next item, or at once
  // inside a large file.
  FMOperation.OperationAborted = true;
}

void TOperationForm::BackgroundButtonClick() {
  if (!job_ || loop_ == nullptr || confirming_) return;
  backgrounded_ = true;
  loop_->quit();
}

bool TOperationForm::Follow(TJobCenter& center, const std::shared_ptr<TJob>& job, const QString& text) {
  job_ = job;
  center_ = &center;
  backgrounded_ = false;
  bool ended = false;
  QEventLoop loop;
  // Connected before anything is served: the end may be among the first events.
  const auto endConnection = connect(&center, &TJobCenter::jobEnded, &loop, [&](int id) {
    if (id != job->Id()) return;
    ended = true;
    loop.quit();
  });
  cancelButton_->setGeometry(203, 136, 75, 25);
  backgroundButton_->show();
  Begin(text);
  QTimer refresh;
  refresh.setInterval(EventInterval);
  connect(&refresh, &QTimer::timeout, this, [this, &job] { ShowProgress(job->Progress(), job->State()); });
  refresh.start();
  ShowProgress(job->Progress(), job->State());
  loop_ = &loop;
  if (!ended) loop.exec();
  loop_ = nullptr;
  refresh.stop();
  disconnect(endConnection);
  End();
  backgroundButton_->hide();
  cancelButton_->setGeometry(160, 136, 75, 25);
  job_.reset();
  center_ = nullptr;
  return ended;
}

void TOperationForm::ShowProgress(const TJobProgress& p, TJobState state) {
  const double share = p.bytesTotal > 0 ? p.bytesDone * 100.0 / p.bytesTotal : 0;
  const int percent = std::clamp(static_cast<int>(share), 0, 100);
  if (percent != lastPercent_) {
    lastPercent_ = percent;
    gauge_->setValue(percent);
    const QString caption = isMinimized() ? QString::number(percent) + QLatin1Char('%')
                                          : (mainCaption_.isEmpty() ? windowTitle() : mainCaption_);
    if (caption != windowTitle()) setWindowTitle(caption);
  }
  QString item = QString::fromStdString(platform::DisplayName(p.item));
  if (state == TJobState::Waiting || state == TJobState::Held)
    item = platform::Worded("Waiting for the jobs before it on the same disk");
  else if (state == TJobState::Paused)
    item = platform::Worded("Paused");
  item_->setText(item_->fontMetrics().elidedText(item, Qt::ElideMiddle, item_->width()));
  bytes_->setText(RateText(p.bytesDone, p.bytesTotal, p.speed, p.secondsLeft));
  emit progressShown(percent);
}

void TOperationForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F2 && job_) {
    event->accept();
    BackgroundButtonClick();
    return;
  }
  // Escape is Cancel; the window goes away only when the operation ends.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    if (running_) CancelButtonClick();
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
