// findfileform.cpp - the Find file window.
#include "app/dialogs/findfileform.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QEventLoop>
#include <QGroupBox>
#include <QTimer>
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
#include "platform/text.h"
#include "tools/archive_search.h"
#include "tools/content_match.h"
#include "tools/search_run.h"
#include "panels/dirmodel.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

constexpr int kHelpContext = 502;
// How often the rows found so far are shown while a search runs.
constexpr int kTakeIntervalMs = 50;
// The single-byte pages offered, in the order of platform::CodePage.
constexpr const char* kPages[] = {"Latin-1 (ISO 8859-1)", "Windows-1251 (Cyrillic)", "DOS 866 (Cyrillic)",
                                  "DOS 437 (US)"};

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
    for (tools::TFoundFile& f : pending_) rows_.push_back(std::move(f));
    pending_.clear();
  }
  endInsertRows();
}

int TFoundFilesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TFoundFilesModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 4;
}

void TFoundFilesModel::SetShowLines(bool show) {
  if (show == showLines_) return;
  showLines_ = show;
  emit headerDataChanged(Qt::Horizontal, 3, 3);
}

QString TFoundFilesModel::DateText(platform::FileTime time) const {
  const platform::LocalTime t = platform::ToLocalTime(time);
  const QLocale locale;
  return locale.toString(QDate(t.year, t.month, t.day), dateFormat_) + QLatin1Char(' ') +
         locale.toString(QTime(t.hour, t.minute, t.second), timeFormat_);
}

QVariant TFoundFilesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const tools::TFoundFile& f = Row(index.row());
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case 0: return platform::ToDisplay(f.Path());
      // The full 64-bit size: files over 2 GiB are common.
      case 1: return QString::number(f.Size);
      case 2: return DateText(f.LastWriteTime);
      case 3: return QString::fromUtf8(f.Line.data(), static_cast<qsizetype>(f.Line.size()));
      default: return {};
    }
  }
  if (role == Qt::ToolTipRole && index.column() == 3 && !f.Line.empty())
    return QString::fromUtf8(f.Line.data(), static_cast<qsizetype>(f.Line.size()));
  if (role == Qt::TextAlignmentRole && index.column() == 1)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant TFoundFilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0: return platform::Worded("Path");
    case 1: return platform::Worded("Size");
    case 2: return platform::Worded("Date");
    case 3: return showLines_ ? platform::Worded("Line") : QString();
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

  // What the files must hold.
  contentEdit_ = new QLineEdit(this);
  contentEdit_->setObjectName(QStringLiteral("ContentEdit"));
  contentEdit_->setPlaceholderText(QStringLiteral("any content"));
  auto* contentLabel = new QLabel(QStringLiteral("Containing &text:"), this);
  contentLabel->setObjectName(QStringLiteral("ContentLabel"));
  contentLabel->setBuddy(contentEdit_);
  auto check = [this](const char* name, const char* text, bool on = false) {
    auto* box = new QCheckBox(QLatin1String(text), this);
    box->setObjectName(QLatin1String(name));
    box->setChecked(on);
    return box;
  };
  caseCheck_ = check("CaseCheck", "&Case sensitive");
  wordsCheck_ = check("WordsCheck", "&Whole words");
  regexCheck_ = check("RegexCheck", "Regular e&xpression");
  hexCheck_ = check("HexCheck", "He&x bytes");
  utf8Check_ = check("Utf8Check", "UTF-8", true);
  utf16LECheck_ = check("Utf16LECheck", "UTF-16 LE");
  utf16BECheck_ = check("Utf16BECheck", "UTF-16 BE");
  pageCheck_ = check("PageCheck", "");
  pageCheck_->setToolTip(QStringLiteral("A single-byte code page"));
  pageCombo_ = new QComboBox(this);
  pageCombo_->setObjectName(QStringLiteral("PageCombo"));
  for (const char* page : kPages) pageCombo_->addItem(QLatin1String(page));
  connect(pageCombo_, &QComboBox::activated, pageCheck_, [this] { pageCheck_->setChecked(true); });

  // Limits.
  minSizeEdit_ = new QLineEdit(this);
  minSizeEdit_->setObjectName(QStringLiteral("MinSizeEdit"));
  maxSizeEdit_ = new QLineEdit(this);
  maxSizeEdit_->setObjectName(QStringLiteral("MaxSizeEdit"));
  for (QLineEdit* edit : {minSizeEdit_, maxSizeEdit_}) {
    edit->setPlaceholderText(QStringLiteral("e.g. 10K, 2M"));
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")) + 16);
  }
  fromCheck_ = check("FromCheck", "Modified &from:");
  toCheck_ = check("ToCheck", "t&o:");
  fromDate_ = new QDateEdit(QDate::currentDate().addMonths(-1), this);
  fromDate_->setObjectName(QStringLiteral("FromDate"));
  toDate_ = new QDateEdit(QDate::currentDate(), this);
  toDate_->setObjectName(QStringLiteral("ToDate"));
  for (QDateEdit* date : {fromDate_, toDate_}) date->setCalendarPopup(true);
  connect(fromDate_, &QDateEdit::dateChanged, fromCheck_, [this] { fromCheck_->setChecked(true); });
  connect(toDate_, &QDateEdit::dateChanged, toCheck_, [this] { toCheck_->setChecked(true); });
  archivesCheck_ = check("ArchivesCheck", "Search in &archives");
  archiveFormats_ = {&tools::ZipArchiveFormat(), &tools::OtherArchiveFormat()};
  archivesCheck_->setToolTip(
      QStringLiteral("Look into archives (ZIP, tar, compressed tar, 7z, RAR, ISO, cpio, packages) as into folders"));

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
  feedButton_ = new QPushButton(QStringLiteral("Feed to &panel"), this);
  feedButton_->setObjectName(QStringLiteral("FeedButton"));
  feedButton_->setAutoDefault(false);
  feedButton_->setToolTip(QStringLiteral("Show the files found in the panel, where F3, F4, F5, F6 and F8 work on them"));
  unreadableButton_ = new QPushButton(QStringLiteral("&Unreadable..."), this);
  unreadableButton_->setObjectName(QStringLiteral("UnreadableButton"));
  unreadableButton_->setAutoDefault(false);
  unreadableButton_->setEnabled(false);
  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName(QStringLiteral("StatusLabel"));
  statusLabel_->setTextFormat(Qt::PlainText);

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
  columns->setStretchLastSection(true);
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
  resultsView_->setMinimumSize(std::max(600, columns->sectionSize(0) + columns->sectionSize(1) +
                                                 columns->sectionSize(2) + 200),
                               240);
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
  connect(feedButton_, &QPushButton::clicked, this, &TFindFileForm::FeedButtonClick);
  connect(unreadableButton_, &QPushButton::clicked, this, &TFindFileForm::UnreadableButtonClick);
  connect(resultsView_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) GoToButtonClick();
  });
  connect(hexCheck_, &QCheckBox::toggled, this, &TFindFileForm::UpdateContentOptions);
  connect(regexCheck_, &QCheckBox::toggled, this, &TFindFileForm::UpdateContentOptions);
  resultsView_->installEventFilter(this);

  auto* edits = new QGridLayout;
  edits->addWidget(maskLabel, 0, 0);
  edits->addWidget(maskEdit_, 0, 1);
  edits->addWidget(pathLabel, 1, 0);
  edits->addWidget(pathEdit_, 1, 1);
  edits->addWidget(contentLabel, 2, 0);
  edits->addWidget(contentEdit_, 2, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(startButton_);
  buttons->addWidget(closeButton_);
  buttons->addWidget(helpButton_);
  buttons->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addLayout(edits, 1);
  top->addLayout(buttons);

  auto* textOptions = new QHBoxLayout;
  for (QCheckBox* box : {caseCheck_, wordsCheck_, regexCheck_, hexCheck_}) textOptions->addWidget(box);
  textOptions->addStretch(1);
  auto* encodings = new QHBoxLayout;
  auto* encodingLabel = new QLabel(QStringLiteral("Encodings:"), this);
  encodingLabel->setObjectName(QStringLiteral("EncodingLabel"));
  encodings->addWidget(encodingLabel);
  for (QCheckBox* box : {utf8Check_, utf16LECheck_, utf16BECheck_, pageCheck_}) encodings->addWidget(box);
  encodings->addWidget(pageCombo_);
  encodings->addStretch(1);
  auto* limits = new QHBoxLayout;
  auto* sizeLabel = new QLabel(QStringLiteral("Size at &least:"), this);
  sizeLabel->setObjectName(QStringLiteral("MinSizeLabel"));
  sizeLabel->setBuddy(minSizeEdit_);
  auto* maxLabel = new QLabel(QStringLiteral("at &most:"), this);
  maxLabel->setObjectName(QStringLiteral("MaxSizeLabel"));
  maxLabel->setBuddy(maxSizeEdit_);
  for (QWidget* w : std::initializer_list<QWidget*>{sizeLabel, minSizeEdit_, maxLabel, maxSizeEdit_, fromCheck_,
                                                    fromDate_, toCheck_, toDate_})
    limits->addWidget(w);
  limits->addStretch(1);
  auto* options = new QVBoxLayout;
  options->addLayout(textOptions);
  options->addLayout(encodings);
  options->addLayout(limits);
  options->addWidget(archivesCheck_);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(animate_);
  bottom->addWidget(statusLabel_, 1);
  bottom->addWidget(unreadableButton_);
  bottom->addWidget(feedButton_);
  bottom->addWidget(goToButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(options);
  layout->addWidget(resultsLabel);
  layout->addWidget(resultsView_, 1);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  // Shift+Tab from the results reaches "Go to file" first, as before the
  // buttons beside it came.
  setTabOrder(unreadableButton_, feedButton_);
  setTabOrder(feedButton_, goToButton_);
  setTabOrder(goToButton_, resultsView_);
  UpdateContentOptions();
}

TFindFileForm::~TFindFileForm() = default;

void TFindFileForm::UpdateContentOptions() {
  // Hex bytes are bytes: no case, words or encodings; an expression keeps
  // its own idea of words but may still ask for them.
  const bool text = !hexCheck_->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{caseCheck_, wordsCheck_, regexCheck_, utf8Check_,
                                                    utf16LECheck_, utf16BECheck_, pageCheck_, pageCombo_})
    w->setEnabled(text);
  if (regexCheck_->isChecked() && hexCheck_->isChecked()) regexCheck_->setChecked(false);
}

void TFindFileForm::showEvent(QShowEvent* event) {
  // Each opening starts from "*.*" in the current directory, which is the
  // directory of the panel that last had the focus; the rows and the other
  // choices stay.
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
    run_->Stop();
    closeRequested_ = true;
    return;
  }
  QDialog::reject();
}

bool TFindFileForm::ParseSize(const QString& text, uint64_t& bytes) {
  QString t = text.trimmed().toUpper();
  if (t.endsWith(QLatin1Char('B'))) t.chop(1);
  t = t.trimmed();
  double factor = 1;
  if (t.endsWith(QLatin1Char('K'))) factor = 1024.0;
  else if (t.endsWith(QLatin1Char('M'))) factor = 1024.0 * 1024;
  else if (t.endsWith(QLatin1Char('G'))) factor = 1024.0 * 1024 * 1024;
  else if (t.endsWith(QLatin1Char('T'))) factor = 1024.0 * 1024 * 1024 * 1024;
  if (factor != 1) t.chop(1);
  t = t.trimmed();
  t.replace(QLatin1Char(','), QLatin1Char('.'));
  bool ok = false;
  const double value = t.toDouble(&ok);
  if (!ok || value < 0 || !std::isfinite(value) || value * factor > 1.8e19) return false;
  bytes = static_cast<uint64_t>(std::llround(value * factor));
  return true;
}

bool TFindFileForm::ReadCriteria(tools::TSearchCriteria& criteria, std::unique_ptr<tools::TContentMatcher>& matcher) {
  auto refuse = [this](const QString& text, QWidget* field) {
    ShowMessage(this, MessageKind::Warning, QString::fromLatin1(kDialogCaption), text);
    field->setFocus();
    return false;
  };
  criteria.mask = TypedName(maskEdit_->text());
  if (criteria.mask.empty()) criteria.mask.push_back('*');  // not = "*": GCC 12 misreads it as an overlapping copy
  const QString minText = minSizeEdit_->text().trimmed(), maxText = maxSizeEdit_->text().trimmed();
  if (!minText.isEmpty() && !ParseSize(minText, criteria.minSize))
    return refuse(platform::Worded("Not a size: %1").arg(minText), minSizeEdit_);
  if (!maxText.isEmpty() && !ParseSize(maxText, criteria.maxSize))
    return refuse(platform::Worded("Not a size: %1").arg(maxText), maxSizeEdit_);
  // A day given is a whole local day: from its start, up to the end of the "to" day.
  auto localStart = [](const QDate& day) {
    return platform::FileTimeFromUnix(QDateTime(day, QTime(0, 0)).toSecsSinceEpoch(), 0);
  };
  if (fromCheck_->isChecked()) criteria.modifiedFrom = localStart(fromDate_->date());
  if (toCheck_->isChecked()) criteria.modifiedTo = localStart(toDate_->date().addDays(1));
  criteria.inArchives = archivesCheck_->isChecked();
  matcher.reset();
  const QString text = contentEdit_->text();
  if (text.isEmpty()) return true;
  tools::TContentQuery query;
  query.text = TypedName(text);
  query.hex = hexCheck_->isChecked();
  query.regex = regexCheck_->isChecked() && !query.hex;
  query.caseSensitive = caseCheck_->isChecked();
  query.wholeWords = wordsCheck_->isChecked();
  query.encodings = 0;
  if (utf8Check_->isChecked()) query.encodings |= tools::kEncUtf8;
  if (utf16LECheck_->isChecked()) query.encodings |= tools::kEncUtf16LE;
  if (utf16BECheck_->isChecked()) query.encodings |= tools::kEncUtf16BE;
  if (pageCheck_->isChecked()) query.encodings |= tools::kEncCodePage;
  if (query.encodings == 0 && !query.hex)
    return refuse(platform::Worded("Choose at least one encoding to search the text in."), utf8Check_);
  query.codePage = static_cast<platform::CodePage>(pageCombo_->currentIndex());
  std::string error;
  matcher = tools::TContentMatcher::Compile(query, &error);
  if (matcher == nullptr) return refuse(platform::ToDisplay(error), contentEdit_);
  return true;
}

void TFindFileForm::TakeResults() {
  std::vector<tools::TFoundFile> found;
  const size_t before = unreadable_.size();
  run_->Take(found, unreadable_);
  for (tools::TFoundFile& f : found) model_->Add(std::move(f));
  model_->Flush();
  if (unreadable_.size() != before) unreadableButton_->setEnabled(true);
}

void TFindFileForm::UpdateStatus(bool finished) {
  const tools::TSearchCounts counts = run_->Counts();
  const QString found = QString::fromStdString(platform::FormatThousands(static_cast<uint64_t>(model_->rowCount())));
  const QString files = QString::fromStdString(platform::FormatThousands(counts.files));
  // The words follow the count of files (%2).
  const auto filesCount = static_cast<long long>(counts.files);
  QString text = finished ? platform::WordedForm("%1 found in %2 file", "%1 found in %2 files", filesCount)
                          : platform::WordedForm("%1 found, %2 file looked at...", "%1 found, %2 files looked at...",
                                                 filesCount);
  text = text.arg(found, files);
  if (!unreadable_.empty())
    text += QStringLiteral("; ") + platform::Worded("%1 could not be read")
                .arg(QString::fromStdString(platform::FormatThousands(unreadable_.size())));
  if (finished && run_->Stopped()) text += QStringLiteral(" (") + platform::Worded("stopped") + QLatin1Char(')');
  statusLabel_->setText(text);
}

void TFindFileForm::StartButtonClick() {
  if (searching_) return;
  tools::TSearchCriteria criteria;
  std::unique_ptr<tools::TContentMatcher> matcher;
  if (!ReadCriteria(criteria, matcher)) return;
  // The start directory as an absolute path: the search thread never reads
  // the process's current directory, which follows the panels.
  const std::string cwd = platform::GetCurrentDir();
  std::string start = TypedName(pathEdit_->text());
  start = start.empty() ? cwd : start[0] == '/' ? start : platform::JoinPath(cwd, start);
  if (!platform::IsDirectory(start)) start = cwd;
  searchRoot_ = start;

  searching_ = true;
  closeRequested_ = false;
  model_->Clear();
  model_->SetShowLines(matcher != nullptr);
  unreadable_.clear();
  unreadableButton_->setEnabled(false);
  animate_->show();
  // The caption comes back afterwards as it was, translated or not.
  const QString startCaption = startButton_->text();
  startButton_->setText(QStringLiteral("Searching..."));
  startButton_->setEnabled(false);
  goToButton_->setEnabled(false);
  feedButton_->setEnabled(false);

  if (run_ == nullptr) run_ = std::make_unique<tools::TSearchRun>();
  std::vector<const tools::TArchiveFormat*> formats;
  if (criteria.inArchives) formats = archiveFormats_;
  run_->Start(criteria, std::move(matcher), start, formats);
  // The window waits here with its events served: the rows found so far
  // appear in batches, and Close or Escape stop the search.
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(kTakeIntervalMs);
  connect(&poll, &QTimer::timeout, &loop, [&] {
    TakeResults();
    UpdateStatus(false);
    if (run_->Finished()) loop.quit();
  });
  poll.start();
  loop.exec();
  run_->Wait();
  TakeResults();
  UpdateStatus(true);

  searching_ = false;
  animate_->hide();
  startButton_->setText(startCaption);
  startButton_->setEnabled(true);
  goToButton_->setEnabled(true);
  feedButton_->setEnabled(true);
  // The first match is chosen, so that Enter or "Go to file" can follow at once.
  if (model_->rowCount() > 0 && !resultsView_->currentIndex().isValid())
    resultsView_->selectRow(0);
  resultsView_->setFocus();
  if (closeRequested_) QDialog::reject();
}

void TFindFileForm::UnreadableButtonClick() {
  if (unreadable_.empty()) return;
  constexpr size_t kListed = 1000;
  std::string text = std::to_string(unreadable_.size()) + " items could not be read:";
  for (size_t i = 0; i < unreadable_.size() && i < kListed; ++i)
    text += "\n" + unreadable_[i].Path + ": " + unreadable_[i].Reason;
  if (unreadable_.size() > kListed) text += "\n... and " + std::to_string(unreadable_.size() - kListed) + " more";
  ShowMessage(this, MessageKind::Summary, QString::fromLatin1(kDialogCaption), platform::ToDisplay(text));
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
  const tools::TFoundFile found = model_->Row(row);
  if (target_ == nullptr) {
    accept();
    return;
  }
  // An entry of an archive: the place inside the archive that holds it
  // (the panel shows archives as folders), else the archive in its directory.
  std::string dir = found.Directory;
  std::string name = found.Name;
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  panels::TFMPanel* panel = target_->FMPanel;
  std::string error;
  if (!panel->ReadDirectory(dir, &error) && found.InArchive()) {
    dir = found.Archive.substr(0, found.Archive.find_last_of('/') + 1);
    name = found.Archive.substr(dir.size());
    if (dir.size() > 1) dir.pop_back();
    error.clear();
    panel->ReadDirectory(dir, &error);
  }
  if (!error.empty()) {
    // The directory went away since the search: say so, stay open.
    ShowGeneralError(platform::ToDisplay(error));
    return;
  }
  target_->DriveCombo->ShowVolumeOf(panel->Directory());
  accept();
  panel->SetCursor(panel->IndexOfName(name));
}

void TFindFileForm::FeedButtonClick() {
  if (target_ == nullptr || searching_) return;
  // The files found, named by their paths below the search's start; an
  // entry inside an archive by its path through the archive
  // ("box.zip/docs/a.txt"), which Enter opens as the archive's place.
  std::string root = searchRoot_;
  if (root.size() > 1 && root.back() == '/') root.pop_back();
  const std::string prefix = root == "/" ? root : root + "/";
  panels::TPanelModel::Entries entries;
  for (const tools::TFoundFile& f : model_->Rows()) {
    const std::string path = f.Path();
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    auto entry = std::make_unique<panels::TFileEntry>();
    entry->FileName = path.substr(prefix.size());
    entry->FileAttributes = platform::kAttrArchive;
    entry->FileSize = f.Size;
    entry->LastWriteTime = entry->CreationTime = f.LastWriteTime;
    entries.push_back(std::move(entry));
  }
  panels::TFMPanel* panel = target_->FMPanel;
  // The place goes in as bytes.
  const std::string title =
      panels::FillIn(platform::Worded("Search results in %1 (%2)").toStdString(), root, std::to_string(entries.size()));
  panel->ShowListing(root, title, std::move(entries));
  target_->DriveCombo->ShowVolumeOf(root);
  accept();
  panel->setFocus();
}

}  // namespace vantrel::app
