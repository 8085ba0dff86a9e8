// zippanel.cpp - the ZIP window and its rows.
#include "zip/ui/zippanel.h"

#include <algorithm>

#include <QAction>
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

#include "platform/qt/help.h"
#include "platform/qt/icons.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "zip/zip_reader.h"

namespace vantrel::zipui {

namespace {

constexpr int kHelpContext = 409;

unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// <0, 0, >0 like strcmp, ASCII letters folded.
int CompareFolded(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Fold(static_cast<unsigned char>(a[i]));
    const unsigned char y = Fold(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool RowBefore(const TZipEntryModel::TRow& a, const TZipEntryModel::TRow& b) {
  if (int c = CompareFolded(a.name, b.name)) return c < 0;
  if (a.name != b.name) return a.name < b.name;
  if (int c = CompareFolded(a.path, b.path)) return c < 0;
  return a.path < b.path;
}

}  // namespace

QString Visible(const std::string& bytes) {
  const std::string shown = platform::VisibleName(bytes);
  return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

// ---------------------------------------------------------------------------
// Rows

void TZipEntryModel::Reset(std::vector<TRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  std::stable_sort(rows_.begin(), rows_.end(), RowBefore);
  endResetModel();
}

void TZipEntryModel::SetChecked(int row, bool checked) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  rows_[static_cast<size_t>(row)].checked = checked;
  const QModelIndex cell = index(row, 0);
  emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

std::vector<std::string> TZipEntryModel::TickedNames() const {
  std::vector<std::string> names;
  for (const TRow& row : rows_)
    if (row.checked) names.push_back(row.path + row.name);
  return names;
}

int TZipEntryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TZipEntryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant TZipEntryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const TRow& row = rows_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case 0: return Visible(row.name);
        case 1: return QString::number(static_cast<qulonglong>(row.size));
        case 2: return Visible(row.path);
      }
      break;
    case Qt::CheckStateRole:
      if (index.column() == 0) return row.checked ? Qt::Checked : Qt::Unchecked;
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
    switch (section) {
      case 0: return QStringLiteral("File name");
      case 1: return QStringLiteral("Size");
      case 2: return QStringLiteral("Path");
    }
  } else if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue((section == 1 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  return {};
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
  close_ = new QAction(QStringLiteral("Close"), this);
  close_->setObjectName(QStringLiteral("CloseZIP"));
  close_->setShortcut(QKeySequence(Qt::Key_Escape));
  for (QAction* a : {extractSelected_, extractAll_, close_}) addAction(a);
  fileMenu->addAction(extractSelected_);
  fileMenu->addAction(extractAll_);
  fileMenu->addSeparator()->setObjectName(QStringLiteral("N1"));
  fileMenu->addAction(close_);
  connect(extractSelected_, &QAction::triggered, this, &TZIPpanel::ExtractSelectedFilesClick);
  connect(extractAll_, &QAction::triggered, this, &TZIPpanel::ExtractFilesClick);
  connect(close_, &QAction::triggered, this, &TZIPpanel::CloseZIPClick);

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
  model_->Reset({});
  statusBar_->clearMessage();
  reader.SetZipName(archivePath);
  reader.ReadZip();
  // A damaged directory is said before any entry is shown: the list may be
  // incomplete.
  damage_ = QString::fromStdString(reader.DirectoryReport().Damage());
  if (!damage_.isEmpty()) {
    setWindowTitle(QStringLiteral("ZIP - ") + shownName + QStringLiteral(" [damaged]"));
    statusBar_->showMessage(damage_);
  }
  std::vector<TZipEntryModel::TRow> rows;
  const int count = reader.Count();
  rows.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const zip::TZipHeaderInfo& e = reader.Entry(i);
    // Directory entries have no row: the directory bit, or no name after the
    // last "/" (an entry such as "docs/" written without the bit).
    if ((reader.ExternalFileAttributes(i) & 0x10) != 0 || e.Filename().empty()) continue;
    rows.push_back({std::string(e.Filename()), std::string(e.Directory()), reader.UncompressedSize(i), false});
  }
  model_->Reset(std::move(rows));
  if (model_->rowCount() > 0) listView_->setCurrentIndex(model_->index(0, 0));
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
  // Space ticks or unticks the row under the cursor, whichever cell is current.
  if (watched == listView_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
    const QModelIndex current = listView_->currentIndex();
    if (current.isValid()) {
      const auto row = static_cast<size_t>(current.row());
      model_->SetChecked(current.row(), !model_->Rows()[row].checked);
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TZIPpanel::RunExtract(const std::vector<std::string>& names) {
  if (extract_) extract_(names);
  // The window ends after one extraction, whatever its outcome.
  done(QDialog::Accepted);
}

void TZIPpanel::ExtractSelectedFilesClick() { RunExtract(model_->TickedNames()); }

void TZIPpanel::ExtractFilesClick() { RunExtract({}); }

void TZIPpanel::CloseZIPClick() { reject(); }

}  // namespace vantrel::zipui
