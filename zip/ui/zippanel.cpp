// zippanel.cpp - the ZIP window and its rows.
#include "zip/ui/zippanel.h"

#include <algorithm>
#include <exception>

#include <QAction>
#include <QActionGroup>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/codepages.h"
#include "platform/fs.h"
#include "platform/qt/help.h"
#include "platform/qt/icons.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "zip/zip_reader.h"
#include "platform/qt/wording.h"

namespace vantrel::zipui {

namespace {

constexpr int kHelpContext = 409;

unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// <0, 0, >0 like strcmp, ASCII letters folded.
int CompareFolded(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Fold(static_cast<unsigned char>(a[i]));
    const unsigned char y = Fold(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

QString Visible(std::string_view bytes) {
  const std::string shown = platform::VisibleName(bytes);
  return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

QString LocalTimeText(int64_t unixSeconds) {
  const platform::LocalTime t = platform::ToLocalTime(platform::FileTimeFromUnix(unixSeconds, 0));
  return QStringLiteral("%1.%2.%3 %4:%5:%6")
      .arg(t.day, 2, 10, QLatin1Char('0'))
      .arg(t.month, 2, 10, QLatin1Char('0'))
      .arg(t.year)
      .arg(t.hour, 2, 10, QLatin1Char('0'))
      .arg(t.minute, 2, 10, QLatin1Char('0'))
      .arg(t.second, 2, 10, QLatin1Char('0'));
}

// ---------------------------------------------------------------------------
// Rows

void TZipEntryModel::Reset(const zip::TZipReader* reader, std::vector<uint32_t> entries) {
  beginResetModel();
  reader_ = reader;
  rows_ = std::move(entries);
  if (reader_ == nullptr) rows_.clear();
  rows_.shrink_to_fit();
  checked_.assign(rows_.size(), false);
  std::stable_sort(rows_.begin(), rows_.end(), [this](uint32_t x, uint32_t y) {
    const zip::TZipHeaderInfo& a = reader_->Entry(static_cast<int>(x));
    const zip::TZipHeaderInfo& b = reader_->Entry(static_cast<int>(y));
    if (int c = CompareFolded(a.Filename(), b.Filename())) return c < 0;
    if (a.Filename() != b.Filename()) return a.Filename() < b.Filename();
    if (int c = CompareFolded(a.Directory(), b.Directory())) return c < 0;
    return a.Directory() < b.Directory();
  });
  endResetModel();
}

const zip::TZipHeaderInfo* TZipEntryModel::EntryAt(int row) const {
  if (reader_ == nullptr || row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  const uint32_t entry = rows_[static_cast<size_t>(row)];
  return entry < static_cast<uint32_t>(reader_->Count()) ? &reader_->Entry(static_cast<int>(entry)) : nullptr;
}

std::string_view TZipEntryModel::Name(int row) const {
  const zip::TZipHeaderInfo* e = EntryAt(row);
  return e ? e->Filename() : std::string_view();
}

std::string_view TZipEntryModel::Path(int row) const {
  const zip::TZipHeaderInfo* e = EntryAt(row);
  return e ? e->Directory() : std::string_view();
}

uint64_t TZipEntryModel::Size(int row) const {
  return EntryAt(row) ? reader_->UncompressedSize(static_cast<int>(rows_[static_cast<size_t>(row)])) : 0;
}

int64_t TZipEntryModel::Modified(int row) const {
  return EntryAt(row) ? static_cast<int64_t>(reader_->DateTime(EntryIndex(row))) : 0;
}

int TZipEntryModel::EntryIndex(int row) const {
  return EntryAt(row) ? static_cast<int>(rows_[static_cast<size_t>(row)]) : -1;
}

bool TZipEntryModel::Checked(int row) const {
  return row >= 0 && row < static_cast<int>(checked_.size()) && checked_[static_cast<size_t>(row)];
}

void TZipEntryModel::SetChecked(int row, bool checked) {
  if (row < 0 || row >= static_cast<int>(checked_.size())) return;
  checked_[static_cast<size_t>(row)] = checked;
  const QModelIndex cell = index(row, 0);
  emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

std::vector<std::string> TZipEntryModel::TickedNames() const {
  std::vector<std::string> names;
  for (int row = 0; row < static_cast<int>(rows_.size()); ++row)
    if (Checked(row) && EntryAt(row)) names.push_back(EntryAt(row)->Path());
  return names;
}

int TZipEntryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TZipEntryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant TZipEntryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || EntryAt(index.row()) == nullptr) return {};
  const int row = index.row();
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case 0: return Visible(Name(row));
        case 1: return QString::number(static_cast<qulonglong>(Size(row)));
        case 2: return Visible(Path(row));
        case 3: return LocalTimeText(Modified(row));
      }
      break;
    case Qt::CheckStateRole:
      if (index.column() == 0) return Checked(row) ? Qt::Checked : Qt::Unchecked;
      break;
    case Qt::TextAlignmentRole:
      if (index.column() == 1) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      break;
  }
  return {};
}

bool TZipEntryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
  SetChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TZipEntryModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant TZipEntryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    if (section >= 0 && section < titles_.size()) return titles_[section];
  } else if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue((section == 1 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  return {};
}

bool TZipEntryModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                   int role) {
  if (orientation != Qt::Horizontal || section < 0 || section >= titles_.size() ||
      (role != Qt::EditRole && role != Qt::DisplayRole))
    return false;
  titles_[section] = value.toString();
  emit headerDataChanged(orientation, section, section);
  return true;
}

// ---------------------------------------------------------------------------
// The window

TZIPpanel::TZIPpanel(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ZIPpanel"));
  setWindowTitle(QStringLiteral("ZIP"));
  resize(414, 240);

  auto* menuBar = new QMenuBar(this);
  menuBar->setObjectName(QStringLiteral("MainMenu"));
  QMenu* fileMenu = menuBar->addMenu(QStringLiteral("File"));
  fileMenu->setObjectName(QStringLiteral("FileMenu"));

  extractSelected_ = new QAction(QStringLiteral("Extract selected files"), this);
  extractSelected_->setObjectName(QStringLiteral("ExtractSelectedFiles"));
  extractSelected_->setShortcut(QKeySequence(QStringLiteral("Alt+F9")));
  extractSelected_->setToolTip(QStringLiteral("Extract selected files (Alt+F9)"));
  extractSelected_->setIcon(platform::ThemeIcon(QStringLiteral("checkbox-checked"),
                                                style()->standardIcon(QStyle::SP_DialogApplyButton)));
  extractAll_ = new QAction(QStringLiteral("Extract all files"), this);
  extractAll_->setObjectName(QStringLiteral("ExtractFiles"));
  extractAll_->setToolTip(QStringLiteral("Extract all files"));
  extractAll_->setIcon(platform::ThemeIcon(QStringLiteral("folder-download"),
                                           style()->standardIcon(QStyle::SP_DialogSaveButton)));
  withoutPaths_ = new QAction(QStringLiteral("Extract without stored paths"), this);
  withoutPaths_->setObjectName(QStringLiteral("WithoutPaths"));
  withoutPaths_->setCheckable(true);
  viewFile_ = new QAction(QStringLiteral("View"), this);
  viewFile_->setObjectName(QStringLiteral("ViewFile"));
  viewFile_->setShortcut(QKeySequence(Qt::Key_F3));
  repairAction_ = new QAction(QStringLiteral("Repair archive..."), this);
  repairAction_->setObjectName(QStringLiteral("RepairArchive"));
  repairAction_->setToolTip(QStringLiteral("Write a new archive from the entries that can be read"));
  repairAction_->setVisible(false);
  close_ = new QAction(QStringLiteral("Close"), this);
  close_->setObjectName(QStringLiteral("CloseZIP"));
  close_->setShortcut(QKeySequence(Qt::Key_Escape));
  for (QAction* a : {extractSelected_, extractAll_, viewFile_, repairAction_, close_}) addAction(a);
  fileMenu->addAction(extractSelected_);
  fileMenu->addAction(extractAll_);
  fileMenu->addAction(withoutPaths_);
  fileMenu->addAction(viewFile_);
  fileMenu->addAction(repairAction_);
  fileMenu->addSeparator()->setObjectName(QStringLiteral("N1"));
  fileMenu->addAction(close_);
  connect(extractSelected_, &QAction::triggered, this, &TZIPpanel::ExtractSelectedFilesClick);
  connect(extractAll_, &QAction::triggered, this, &TZIPpanel::ExtractFilesClick);
  connect(viewFile_, &QAction::triggered, this, &TZIPpanel::ViewFileClick);
  connect(close_, &QAction::triggered, this, &TZIPpanel::CloseZIPClick);
  connect(repairAction_, &QAction::triggered, this, [this] {
    if (repair_) repair_();
  });

  // Automatic, then UTF-8 and the pages names are found in, as offered.
  codePageMenu_ = menuBar->addMenu(QStringLiteral("Code page"));
  codePageMenu_->setObjectName(QStringLiteral("CodePageMenu"));
  codePages_ = new QActionGroup(this);
  codePages_->setExclusive(true);
  std::vector<std::string> pages{std::string(zip::kCodePageAuto), std::string(zip::kCodePageUtf8)};
  for (const std::string& page : platform::NameCodePages()) pages.push_back(page);
  for (const std::string& page : pages) {
    QAction* a = codePageMenu_->addAction(page.empty() ? platform::Worded("Automatic") : QString::fromStdString(page));
    a->setObjectName(QStringLiteral("CodePage") + (page.empty() ? QStringLiteral("Auto") : QString::fromStdString(page)));
    a->setData(QString::fromStdString(page));
    a->setCheckable(true);
    a->setChecked(page.empty());
    codePages_->addAction(a);
    if (page.empty()) codePageMenu_->addSeparator();
  }
  connect(codePages_, &QActionGroup::triggered, this, [this](QAction* a) {
    const std::string page = a->data().toString().toStdString();
    SetCodePage(page);
    if (codePageChanged_) codePageChanged_(page);
  });
  // F9 and F10 open the menu on its first item, as in the main window.
  auto* menuKey = new QAction(QStringLiteral("Menu"), this);
  menuKey->setObjectName(QStringLiteral("actMenuBar"));
  menuKey->setShortcuts({QKeySequence(Qt::Key_F9), QKeySequence(Qt::Key_F10)});
  addAction(menuKey);
  connect(menuKey, &QAction::triggered, this, [menuBar, fileMenu] {
    menuBar->setActiveAction(fileMenu->menuAction());
    for (QAction* item : fileMenu->actions()) {
      if (!item->isSeparator() && item->isEnabled() && item->isVisible()) {
        fileMenu->setActiveAction(item);
        break;
      }
    }
  });

  toolBar_ = new QToolBar(this);
  toolBar_->setObjectName(QStringLiteral("ToolBar"));
  toolBar_->setFixedHeight(39);
  toolBar_->setIconSize(QSize(32, 32));
  toolBar_->addAction(extractSelected_);
  toolBar_->addAction(extractAll_);
  if (QWidget* b = toolBar_->widgetForAction(extractSelected_))
    b->setObjectName(QStringLiteral("ExtrSelButton"));
  if (QWidget* b = toolBar_->widgetForAction(extractAll_))
    b->setObjectName(QStringLiteral("ExtrAllButton"));

  model_ = new TZipEntryModel(this);
  listView_ = new QTableView(this);
  listView_->setObjectName(QStringLiteral("ListView"));
  listView_->setModel(model_);
  listView_->setShowGrid(true);
  listView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  listView_->setSelectionMode(QAbstractItemView::SingleSelection);
  listView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  listView_->setWordWrap(false);
  listView_->setSortingEnabled(false);
  QHeaderView* rowsHeader = listView_->verticalHeader();
  rowsHeader->hide();
  rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
  rowsHeader->setDefaultSectionSize(listView_->fontMetrics().height() + 4);
  QHeaderView* header = listView_->horizontalHeader();
  header->setSectionsClickable(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);
  header->resizeSection(0, 150);
  header->resizeSection(1, 100);
  header->resizeSection(2, 150);
  // The time in full, whatever the font.
  header->resizeSection(3, listView_->fontMetrics().horizontalAdvance(LocalTimeText(0)) + 16);
  // Wide enough for every column, the Modified column included.
  resize(std::max(414, 150 + 100 + 150 + header->sectionSize(3) + 24), 240);
  listView_->installEventFilter(this);

  statusBar_ = new QStatusBar(this);
  statusBar_->setObjectName(QStringLiteral("StatusBar"));
  statusBar_->setFixedHeight(20);
  statusBar_->setSizeGripEnabled(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setMenuBar(menuBar);
  layout->addWidget(toolBar_);
  layout->addWidget(listView_, 1);
  layout->addWidget(statusBar_);

  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, [] { platform::ShowHelp(kHelpContext); });
}

void TZIPpanel::Load(zip::TZipReader& reader, const std::string& archivePath,
                     const QString& shownName) {
  setWindowTitle(QStringLiteral("ZIP - ") + shownName);
  model_->Reset(nullptr, {});
  statusBar_->clearMessage();
  damage_.clear();
  stub_.clear();
  reader_ = &reader;
  reader.SetZipName(archivePath);
  ReadEntries();
  // A damaged archive is never updated; what it holds can be written anew.
  repairAction_->setVisible(!damage_.isEmpty());
  repairAction_->setEnabled(!damage_.isEmpty());
  if (!damage_.isEmpty()) setWindowTitle(QStringLiteral("ZIP - ") + platform::Worded("%1 [damaged]").arg(shownName));
  if (model_->rowCount() > 0) listView_->setCurrentIndex(model_->index(0, 0));
}

void TZIPpanel::ReadEntries() {
  model_->Reset(nullptr, {});
  reader_->ReadZip();
  // A damaged directory is said before any entry is shown: the list may be
  // incomplete. A stub before the archive is no damage, only worth knowing.
  damage_ = QString::fromStdString(reader_->DirectoryReport().Damage());
  stub_ = QString::fromStdString(reader_->StubNote());
  statusBar_->showMessage(StatusText());
  std::vector<uint32_t> rows;
  const int count = reader_->Count();
  rows.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    // Directory entries have no row: the directory bit, or no name after the
    // last "/" (an entry such as "docs/" written without the bit).
    if ((reader_->ExternalFileAttributes(i) & 0x10) != 0 || reader_->Entry(i).Filename().empty()) continue;
    rows.push_back(static_cast<uint32_t>(i));
  }
  model_->Reset(reader_, std::move(rows));
  ShowCodePage();
}

QString TZIPpanel::StatusText() const {
  if (damage_.isEmpty()) return stub_;
  return stub_.isEmpty() ? damage_ : damage_ + QStringLiteral("; ") + stub_;
}

QAction* TZIPpanel::CodePageAction(const std::string& page) const {
  for (QAction* a : codePages_->actions())
    if (a->data().toString() == QString::fromStdString(page)) return a;
  return nullptr;
}

void TZIPpanel::ShowCodePage() {
  if (reader_ == nullptr) return;
  if (QAction* chosen = CodePageAction(reader_->CodePage())) chosen->setChecked(true);
  WordAutomaticCodePage();
}

void TZIPpanel::WordAutomaticCodePage() {
  QAction* automatic = CodePageAction(std::string(zip::kCodePageAuto));
  const std::string used = reader_ != nullptr ? reader_->CodePageUsed() : std::string();
  automatic->setText(reader_ != nullptr && reader_->CodePage().empty() && !used.empty()
                         ? platform::Worded("Automatic (%1)").arg(QString::fromStdString(used))
                         : platform::Worded("Automatic"));
}

void TZIPpanel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) WordAutomaticCodePage();
  QDialog::changeEvent(event);
}

void TZIPpanel::SetCodePage(const std::string& page) {
  if (reader_ == nullptr) return;
  // The entries keep their places in the directory: ticks and the cursor
  // follow them, not the rows, whose order the new names change.
  std::vector<int> ticked;
  for (int row = 0; row < model_->rowCount(); ++row)
    if (model_->Checked(row)) ticked.push_back(model_->EntryIndex(row));
  const int current = model_->EntryIndex(listView_->currentIndex().row());
  reader_->SetCodePage(page);
  try {
    ReadEntries();
  } catch (const std::exception& e) {
    model_->Reset(nullptr, {});
    statusBar_->showMessage(platform::ToDisplay(e.what()));
    return;
  }
  for (int row = 0; row < model_->rowCount(); ++row) {
    const int entry = model_->EntryIndex(row);
    if (std::find(ticked.begin(), ticked.end(), entry) != ticked.end()) model_->SetChecked(row, true);
    if (entry == current) listView_->setCurrentIndex(model_->index(row, 0));
  }
}

void TZIPpanel::done(int result) {
  model_->Reset(nullptr, {});
  QDialog::done(result);
}

void TZIPpanel::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  listView_->setFocus();
}

bool TZIPpanel::eventFilter(QObject* watched, QEvent* event) {
  // Space ticks or unticks the row under the cursor, whichever cell is
  // current; Enter views it, as F3 does.
  if (watched == listView_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Space) {
      const QModelIndex current = listView_->currentIndex();
      if (current.isValid()) model_->SetChecked(current.row(), !model_->Checked(current.row()));
      return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      ViewFileClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TZIPpanel::RunExtract(const std::vector<std::string>& names) {
  // The extraction may read the directory again (the archive changed since it
  // was listed): the list is not painted from it meanwhile.
  listView_->setUpdatesEnabled(false);
  if (extract_) extract_(names, !withoutPaths_->isChecked());
  listView_->setUpdatesEnabled(true);
  // The window ends after one extraction, whatever its outcome.
  done(QDialog::Accepted);
}

void TZIPpanel::ExtractSelectedFilesClick() { RunExtract(model_->TickedNames()); }

void TZIPpanel::ExtractFilesClick() { RunExtract({}); }

void TZIPpanel::CloseZIPClick() { reject(); }

void TZIPpanel::ViewFileClick() {
  const QModelIndex current = listView_->currentIndex();
  if (!current.isValid() || !viewHandler_) return;
  const std::string_view name = model_->Name(current.row());
  if (name.empty()) return;
  // As for extracting, the list is not painted from the directory meanwhile.
  const std::string path = std::string(model_->Path(current.row())) + std::string(name);
  listView_->setUpdatesEnabled(false);
  viewHandler_(path);
  listView_->setUpdatesEnabled(true);
}

}  // namespace vantrel::zipui
