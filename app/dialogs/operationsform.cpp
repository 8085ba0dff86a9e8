// operationsform.cpp - the Operations window.
#include "app/dialogs/operationsform.h"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "fileops/job.h"
#include "fileops/qt/job_center.h"
#include "fileops/qt/operationform.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

using fileops::TJobProgress;
using fileops::TJobState;

namespace {
constexpr int kIdRole = Qt::UserRole;
QString Thousands(double value) {
  return QString::fromStdString(platform::FormatThousands(static_cast<uint64_t>(std::max(0.0, value))));
}
}  // namespace

TOperationsForm::TOperationsForm(fileops::TJobCenter& center, QWidget* parent)
    : QDialog(parent), center_(center) {
  setObjectName(QStringLiteral("OperationsForm"));
  setWindowTitle(QStringLiteral("Operations"));
  setModal(false);
  resize(760, 260);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("JobList"));
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({QStringLiteral("Job"), QStringLiteral("State"), QStringLiteral("Progress"),
                          QStringLiteral("Speed"), QStringLiteral("Time left")});
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setStretchLastSection(false);
  list_->setColumnWidth(1, 90);
  list_->setColumnWidth(2, 260);
  list_->setColumnWidth(3, 80);
  list_->setColumnWidth(4, 70);

  const auto button = [this](const char* name, const QString& text) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
  };
  pause_ = button("PauseButton", platform::Worded("&Pause"));
  cancel_ = button("CancelJobButton", QStringLiteral("&Cancel"));
  up_ = button("MoveUpButton", QStringLiteral("Move &up"));
  down_ = button("MoveDownButton", QStringLiteral("Move &down"));
  QPushButton* close = button("CloseButton", QStringLiteral("Close"));

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {pause_, cancel_, up_, down_}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);

  connect(pause_, &QPushButton::clicked, this, &TOperationsForm::PauseOrResume);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (const int id = SelectedId()) center_.Queue().Cancel(id);
  });
  connect(up_, &QPushButton::clicked, this, [this] {
    if (const int id = SelectedId()) center_.Queue().MoveUp(id);
    Refresh();
  });
  connect(down_, &QPushButton::clicked, this, [this] {
    if (const int id = SelectedId()) center_.Queue().MoveDown(id);
    Refresh();
  });
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  connect(list_, &QTreeWidget::currentItemChanged, this, [this] { UpdateButtons(); });
  connect(&center_, &fileops::TJobCenter::changed, this, [this] {
    if (isVisible()) Refresh();
  });
  // Speed and bytes change without a change of state.
  timer_ = new QTimer(this);
  timer_->setInterval(250);
  connect(timer_, &QTimer::timeout, this, &TOperationsForm::Refresh);
}

QString TOperationsForm::StateText(TJobState state, bool asking) {
  if (asking) return platform::Worded("Asking");
  switch (state) {
    case TJobState::Waiting: return platform::Worded("Queued");
    case TJobState::Held: return platform::Worded("Paused");
    case TJobState::Running: return platform::Worded("Running");
    case TJobState::Paused: return platform::Worded("Paused");
    case TJobState::Finished: return platform::Worded("Done");
    case TJobState::Cancelled: return platform::Worded("Cancelled");
  }
  return {};
}

QString TOperationsForm::ProgressText(const TJobProgress& p) {
  const int percent =
      p.bytesTotal > 0 ? std::clamp(static_cast<int>(p.bytesDone * 100.0 / p.bytesTotal), 0, 100) : 0;
  // The items' part takes the form of their total, the line around it the
  // form of the bytes' total.
  const QString items =
      platform::WordedForm("%1 of %2 item", "%1 of %2 items", static_cast<long long>(p.itemsTotal))
          .arg(Thousands(static_cast<double>(p.itemsDone)), Thousands(static_cast<double>(p.itemsTotal)));
  return platform::WordedForm("%1%, %2 of %3 byte, %4", "%1%, %2 of %3 bytes, %4",
                              static_cast<long long>(std::clamp(p.bytesTotal, 0.0, 9e18)))
      .arg(QString::number(percent), Thousands(p.bytesDone), Thousands(p.bytesTotal), items);
}

QString TOperationsForm::SpeedText(double speed) {
  if (speed <= 0) return {};
  return fileops::TOperationForm::SpeedText(speed);
}

QString TOperationsForm::TimeLeftText(double seconds) {
  if (seconds < 0) return {};
  const auto left = static_cast<qint64>(std::ceil(seconds));
  if (left >= 3600)
    return QStringLiteral("%1:%2:%3")
        .arg(left / 3600)
        .arg(left / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(left % 60, 2, 10, QLatin1Char('0'));
  return QStringLiteral("%1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
}

int TOperationsForm::SelectedId() const {
  const QTreeWidgetItem* item = list_->currentItem();
  return item != nullptr ? item->data(0, kIdRole).toInt() : 0;
}

void TOperationsForm::Refresh() {
  const int selected = SelectedId();
  const auto jobs = center_.Queue().Jobs();
  // Rows are reused in place, so that the list does not flicker.
  while (list_->topLevelItemCount() > static_cast<int>(jobs.size())) delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
  QTreeWidgetItem* current = nullptr;
  for (size_t i = 0; i < jobs.size(); ++i) {
    QTreeWidgetItem* row = list_->topLevelItem(static_cast<int>(i));
    if (row == nullptr) row = new QTreeWidgetItem(list_);
    const auto& job = jobs[i];
    const TJobProgress p = job->Progress();
    const TJobState state = job->State();
    const bool running = state == TJobState::Running;
    row->setData(0, kIdRole, job->Id());
    row->setText(0, platform::ToDisplay(job->Title()));
    // Questions a background job keeps for its end are counted with its state.
    QString stateText = StateText(state, p.asking);
    if (p.deferred > 0) stateText += platform::Worded(", %1 for the end").arg(p.deferred);
    row->setText(1, stateText);
    row->setText(2, ProgressText(p));
    row->setText(3, running ? SpeedText(p.speed) : QString());
    row->setText(4, running ? TimeLeftText(p.secondsLeft) : QString());
    if (job->Id() == selected) current = row;
  }
  if (current == nullptr && list_->topLevelItemCount() > 0) current = list_->topLevelItem(0);
  if (current != nullptr && current != list_->currentItem()) list_->setCurrentItem(current);
  UpdateButtons();
}

void TOperationsForm::UpdateButtons() {
  const int id = SelectedId();
  const auto job = id != 0 ? center_.Queue().Find(id) : nullptr;
  const TJobState state = job ? job->State() : TJobState::Finished;
  const bool paused = state == TJobState::Paused || state == TJobState::Held;
  pause_->setText(paused ? platform::Worded("&Resume") : platform::Worded("&Pause"));
  for (QPushButton* b : {pause_, cancel_}) b->setEnabled(job != nullptr);
  const int row = list_->currentItem() != nullptr ? list_->indexOfTopLevelItem(list_->currentItem()) : -1;
  up_->setEnabled(job != nullptr && row > 0);
  down_->setEnabled(job != nullptr && row >= 0 && row + 1 < list_->topLevelItemCount());
}

void TOperationsForm::PauseOrResume() {
  const int id = SelectedId();
  const auto job = id != 0 ? center_.Queue().Find(id) : nullptr;
  if (!job) return;
  const TJobState state = job->State();
  if (state == TJobState::Paused || state == TJobState::Held)
    center_.Queue().Resume(id);
  else
    center_.Queue().Pause(id);
  Refresh();
}

void TOperationsForm::showEvent(QShowEvent* event) {
  Refresh();
  timer_->start();
  list_->setFocus();
  QDialog::showEvent(event);
}

void TOperationsForm::hideEvent(QHideEvent* event) {
  timer_->stop();
  QDialog::hideEvent(event);
}

void TOperationsForm::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) Refresh();
  QDialog::changeEvent(event);
}

}  // namespace vantrel::app
