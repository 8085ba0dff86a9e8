// findfileform.cpp - the Find file window.
#include "app/dialogs/findfileform.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTime>
#include <QTableView>
#include <QVBoxLayout>

#include "app/panels/drivecombo.h"
#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "app/dialogs/name_dialog.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/qt/help.h"
#include "platform/qt/volumes.h"

namespace vantrel::app {

namespace {

constexpr int kHelpContext = 502;
// The longest the window goes without serving its events during a search.
constexpr qint64 kEventIntervalMs = 50;

}  // namespace

// ---------------------------------------------------------------------------
// Result rows

TFoundFilesModel::TFoundFilesModel(QObject* parent) : QAbstractTableModel(parent) {
  const QLocale locale;
  dateFormat_ = locale.dateFormat(QLocale::ShortFormat);
  // The long time format without the time zone's name.
  timeFormat_ = locale.timeFormat(QLocale::LongFormat);
  timeFormat_.remove(QRegularExpression(QStringLiteral("\\s*t+")));
  timeFormat_ = timeFormat_.trimmed();
}

void TFoundFilesModel::Clear() {
  beginResetModel();
  rows_.clear();
  pending_.clear();
  endResetModel();
}

void TFoundFilesModel::Flush() {
  if (pending_.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(pending_.size()) - 1);
  // Geometric growth: an exact reserve per batch would move every row again
  // at each batch.
  if (rows_.empty()) {
    rows_.swap(pending_);
  } else {
    for (TFoundFile& f : pending_) rows_.push_back(std::move(f));
    pending_.clear();
  }
  endInsertRows();
}

int TFoundFilesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TFoundFilesModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 3;
}

QString TFoundFilesModel::DateText(platform::FileTime time) const {
  const platform::LocalTime t = platform::ToLocalTime(time);
  const QLocale locale;
  return locale.toString(QDate(t.year, t.month, t.day), dateFormat_) + QLatin1Char(' ') +
         locale.toString(QTime(t.hour, t.minute, t.second), timeFormat_);
}

QVariant TFoundFilesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TFoundFile& f = Row(index.row());
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case 0: return platform::ToDisplay(f.Path());
      // The full 64-bit size: files over 2 GiB are common.
      case 1: return QString::number(f.Size);
      case 2: return DateText(f.LastWriteTime);
      default: return {};
    }
  }
  if (role == Qt::TextAlignmentRole && index.column() == 1)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant TFoundFilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0: return QStringLiteral("Path");
    case 1: return QStringLiteral("Size");
    case 2: return QStringLiteral("Date");
    default: return {};
  }
}

// ---------------------------------------------------------------------------
// The window

TFindFileForm::TFindFileForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("FindFileForm"));
  setWindowTitle(QStringLiteral("Find file:"));
  setModal(true);

  maskEdit_ = new QLineEdit(this);
  maskEdit_->setObjectName(QStringLiteral("MaskEdit"));
  pathEdit_ = new QLineEdit(this);
  pathEdit_->setObjectName(QStringLiteral("PathEdit"));
  auto* maskLabel = new QLabel(QStringLiteral("Search for:"), this);
  maskLabel->setObjectName(QStringLiteral("Label1"));
  maskLabel->setBuddy(maskEdit_);
  auto* pathLabel = new QLabel(QStringLiteral("Search in:"), this);
  pathLabel->setObjectName(QStringLiteral("Label2"));
  pathLabel->setBuddy(pathEdit_);

  startButton_ = new QPushButton(QStringLiteral("Start!"), this);
  startButton_->setObjectName(QStringLiteral("StartButton"));
  startButton_->setDefault(true);
  closeButton_ = new QPushButton(QStringLiteral("Close"), this);
  closeButton_->setObjectName(QStringLiteral("CloseButton"));
  closeButton_->setAutoDefault(false);
  helpButton_ = new QPushButton(QStringLiteral("Help"), this);
  helpButton_->setObjectName(QStringLiteral("HelpButton"));
  helpButton_->setAutoDefault(false);
  goToButton_ = new QPushButton(QStringLiteral("Go to file"), this);
  goToButton_->setObjectName(QStringLiteral("GoToButton"));
  goToButton_->setAutoDefault(false);

  model_ = new TFoundFilesModel(this);
  // A table keeps no per-row layout: rows are a count times a fixed height,
  // so inserting 100,000 of them costs no more than a few hundred.
  resultsView_ = new QTableView(this);
  resultsView_->setObjectName(QStringLiteral("ResultsView"));
  resultsView_->setModel(model_);
  resultsView_->setShowGrid(false);
  resultsView_->setWordWrap(false);
  resultsView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  resultsView_->setSelectionMode(QAbstractItemView::SingleSelection);
  resultsView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  resultsView_->setTabKeyNavigation(false);
  QHeaderView* rowsHeader = resultsView_->verticalHeader();
  rowsHeader->hide();
  rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
  rowsHeader->setDefaultSectionSize(resultsView_->fontMetrics().height() + 4);
  QHeaderView* columns = resultsView_->horizontalHeader();
  columns->setSectionsClickable(false);
  columns->setHighlightSections(false);
  columns->setStretchLastSection(false);
  columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // 220, 70 and 120 pixels, or wider where this font needs it for a 10 GB
  // size and a whole date; long paths lose their middle, not the file name.
  const QFontMetrics metrics = resultsView_->fontMetrics();
  columns->resizeSection(0, 220);
  columns->resizeSection(1, std::max(70, metrics.horizontalAdvance(QStringLiteral("99999999999")) + 12));
  columns->resizeSection(
      2, std::max(120, metrics.horizontalAdvance(model_->DateText(platform::FileTimeFromUnix(
                           1767225599, 0))) + 12));
  resultsView_->setTextElideMode(Qt::ElideMiddle);
  resultsView_->setMinimumSize(std::max(430, columns->length() + 24), 200);
  auto* resultsLabel = new QLabel(QStringLiteral("Search results:"), this);
  resultsLabel->setObjectName(QStringLiteral("Label3"));
  resultsLabel->setBuddy(resultsView_);

  animate_ = new QProgressBar(this);
  animate_->setObjectName(QStringLiteral("Animate"));
  animate_->setRange(0, 0);  // a running search: the bar moves without an end
  animate_->setTextVisible(false);
  animate_->setFixedSize(100, 12);
  QSizePolicy keepPlace = animate_->sizePolicy();
  keepPlace.setRetainSizeWhenHidden(true);  // the window does not jump when it shows
  animate_->setSizePolicy(keepPlace);
  animate_->hide();

  connect(startButton_, &QPushButton::clicked, this, &TFindFileForm::StartButtonClick);
  connect(closeButton_, &QPushButton::clicked, this, &TFindFileForm::reject);
  connect(helpButton_, &QPushButton::clicked, this, [] { platform::ShowHelp(kHelpContext); });
  connect(goToButton_, &QPushButton::clicked, this, &TFindFileForm::GoToButtonClick);
  connect(resultsView_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) GoToButtonClick();
  });
  resultsView_->installEventFilter(this);

  auto* edits = new QGridLayout;
  edits->addWidget(maskLabel, 0, 0);
  edits->addWidget(maskEdit_, 0, 1);
  edits->addWidget(pathLabel, 1, 0);
  edits->addWidget(pathEdit_, 1, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(startButton_);
  buttons->addWidget(closeButton_);
  buttons->addWidget(helpButton_);
  auto* top = new QHBoxLayout;
  top->addLayout(edits, 1);
  top->addLayout(buttons);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(animate_);
  bottom->addStretch(1);
  bottom->addWidget(goToButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(resultsLabel);
  layout->addWidget(resultsView_, 1);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TFindFileForm::showEvent(QShowEvent* event) {
  // Each opening starts from "*.*" in the current directory, which is the
  // directory of the panel that last had the focus; the rows stay.
  maskEdit_->setText(QStringLiteral("*.*"));
  pathEdit_->setText(platform::ToDisplay(platform::GetCurrentDir()));
  maskEdit_->setFocus();
  maskEdit_->selectAll();
  QDialog::showEvent(event);
}

bool TFindFileForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == resultsView_ && event->type() == QEvent::KeyPress && !searching_) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && resultsView_->currentIndex().isValid()) {
      GoToButtonClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFindFileForm::reject() {
  if (searching_) {
    stopRequested_ = true;
    closeRequested_ = true;
    return;
  }
  QDialog::reject();
}

void TFindFileForm::StartButtonClick() {
  if (searching_) return;
  searching_ = true;
  stopRequested_ = false;
  closeRequested_ = false;
  model_->Clear();
  animate_->show();
  // The caption comes back afterwards as it was, translated or not.
  const QString startCaption = startButton_->text();
  startButton_->setText(QStringLiteral("Searching..."));
  startButton_->setEnabled(false);
  goToButton_->setEnabled(false);

  TFileSearch search;
  search.OnFound = [this](TFoundFile&& found) { model_->Add(std::move(found)); };
  QElapsedTimer sinceEvents;
  sinceEvents.start();
  search.ShouldStop = [&] {
    if (sinceEvents.elapsed() >= kEventIntervalMs) {
      // The rows found so far appear in one insertion; then the window
      // repaints and Close or Escape can arrive.
      model_->Flush();
      QCoreApplication::processEvents();
      sinceEvents.restart();
    }
    return stopRequested_;
  };
  search.Search(TypedName(maskEdit_->text()), TypedName(pathEdit_->text()));
  model_->Flush();

  searching_ = false;
  animate_->hide();
  startButton_->setText(startCaption);
  startButton_->setEnabled(true);
  goToButton_->setEnabled(true);
  // The first match is chosen, so that Enter or "Go to file" can follow at once.
  if (model_->rowCount() > 0 && !resultsView_->currentIndex().isValid())
    resultsView_->selectRow(0);
  resultsView_->setFocus();
  if (closeRequested_) QDialog::reject();
}

void TFindFileForm::GoToButtonClick() {
  const QModelIndexList selected = resultsView_->selectionModel()->selectedRows();
  if (selected.isEmpty()) {
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kDialogCaption),
                QStringLiteral("There are no selected files!"));
    return;
  }
  int row = selected.front().row();
  for (const QModelIndex& index : selected) row = std::min(row, index.row());
  const TFoundFile found = model_->Row(row);
  if (target_ == nullptr) {
    accept();
    return;
  }
  std::string dir = found.Directory;
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  panels::TFMPanel* panel = target_->FMPanel;
  std::string error;
  if (!panel->ReadDirectory(dir, &error)) {
    // The directory went away since the search: say so, stay open.
    ShowGeneralError(platform::ToDisplay(error));
    return;
  }
  target_->DriveCombo->ShowVolumeOf(panel->Directory());
  accept();
  panel->SetCursor(panel->IndexOfName(found.Name));
}

}  // namespace vantrel::app
