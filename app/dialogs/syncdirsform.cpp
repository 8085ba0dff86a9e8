// syncdirsform.cpp - the window of Synchronize directories and its table.
#include "app/dialogs/syncdirsform.h"

#include <algorithm>
#include <cstdint>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include "app/dialogs/messages.h"
#include "panels/dirmodel.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

using tools::TSyncAction;
using tools::TSyncKind;
using tools::TSyncRow;
using tools::TSyncSide;

namespace {

constexpr TSyncKind kKinds[] = {TSyncKind::OnlyLeft,   TSyncKind::OnlyRight, TSyncKind::LeftNewer,
                                TSyncKind::RightNewer, TSyncKind::Differ,    TSyncKind::KindClash};
// The filter boxes, one per kind, in the order above.
constexpr const char* kFilterNames[] = {"ShowOnlyLeft", "ShowOnlyRight", "ShowLeftNewer",
                                        "ShowRightNewer", "ShowDiffer", "ShowClash"};
constexpr const char* kFilterTexts[] = {"Only &left", "Only &right", "&Newer left",
                                        "Newer r&ight", "Di&fferent", "C&lashes"};

QString SideText(const TSyncSide& side, const TSyncRow& row) {
  using platform::EntryKind;
  if (!side.Present()) return {};
  const platform::FileTime time = platform::FileTimeFromUnix(side.timeNs / 1'000'000'000, side.timeNs % 1'000'000'000);
  const QString when = QString::fromStdString(panels::DateText(time) + " " + panels::TimeText(time));
  QString what;
  switch (side.kind) {
    case EntryKind::Directory:
      what = row.files == 0   ? QStringLiteral("DIR")
             : row.files == 1 ? platform::Worded("DIR 1 file")
                              : platform::WordedCount("DIR %1 files", "DIR %1 files", row.files);
      break;
    case EntryKind::Symlink: what = QStringLiteral("LINK"); break;
    default: what = platform::ToDisplay(platform::FormatThousands(side.size)); break;
  }
  return what + QStringLiteral("  ") + when;
}

QString KindText(TSyncKind kind) {
  switch (kind) {
    case TSyncKind::OnlyLeft: return platform::Worded("only on the left");
    case TSyncKind::OnlyRight: return platform::Worded("only on the right");
    case TSyncKind::LeftNewer: return platform::Worded("newer on the left");
    case TSyncKind::RightNewer: return platform::Worded("newer on the right");
    case TSyncKind::Differ: return platform::Worded("same time, other size or data");
    case TSyncKind::KindClash: return platform::Worded("a file on one side, a directory or link on the other");
  }
  return {};
}

}  // namespace

QString ActionText(TSyncAction action) {
  switch (action) {
    case TSyncAction::Leave: return QStringLiteral("=");
    case TSyncAction::ToRight: return QStringLiteral("\u2192");
    case TSyncAction::ToLeft: return QStringLiteral("\u2190");
    case TSyncAction::Delete: return platform::Worded("Delete");
  }
  return {};
}

// ---------------------------------------------------------------------------
// TSyncModel

void TSyncModel::SetPlan(tools::TSyncPlan plan) {
  beginResetModel();
  plan_ = std::move(plan);
  Filter();
  endResetModel();
}

void TSyncModel::SetKindShown(TSyncKind kind, bool shown) {
  beginResetModel();
  shown_[static_cast<size_t>(kind)] = shown;
  Filter();
  endResetModel();
}

void TSyncModel::Filter() {
  visible_.clear();
  for (size_t i = 0; i < plan_.rows.size(); ++i)
    if (shown_[static_cast<size_t>(plan_.rows[i].kind)]) visible_.push_back(i);
}

int TSyncModel::SetAction(const std::vector<int>& rows, TSyncAction action) {
  int taken = 0;
  for (int row : rows) {
    if (row < 0 || row >= rowCount()) continue;
    TSyncRow& r = RowAt(row);
    if (!tools::ActionAllowed(plan_, r, action)) continue;
    r.action = action;
    ++taken;
    emit dataChanged(index(row, kAction), index(row, kAction));
  }
  return taken;
}

tools::TSyncPlan TSyncModel::Shown() const {
  tools::TSyncPlan shown = plan_;
  shown.rows.clear();
  for (size_t i : visible_) shown.rows.push_back(plan_.rows[i]);
  return shown;
}

int TSyncModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(visible_.size());
}

int TSyncModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant TSyncModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TSyncRow& row = plan_.rows[visible_[static_cast<size_t>(index.row())]];
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case kName: return platform::ToDisplay(row.path);
      case kLeft: return SideText(row.left, row);
      case kAction: return ActionText(row.action);
      case kRight: return SideText(row.right, row);
      default: return {};
    }
  }
  if (role == Qt::ToolTipRole) return KindText(row.kind);
  if (role == Qt::TextAlignmentRole && index.column() == kAction) return int(Qt::AlignCenter);
  if (role == Qt::FontRole && index.column() == kAction) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  return {};
}

QVariant TSyncModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kName: return platform::Worded("Name");
    case kLeft: return platform::Worded("Left");
    case kAction: return platform::Worded("Action");
    case kRight: return platform::Worded("Right");
    default: return {};
  }
}

// ---------------------------------------------------------------------------
// TSyncDirsForm

TSyncDirsForm::TSyncDirsForm(QWidget* parent, const std::string& left, const std::string& right,
                             const tools::TSyncOptions& options, TRun run, TResolve resolve)
    : QDialog(parent), run_(std::move(run)), resolve_(std::move(resolve)), initial_{left, right} {
  setObjectName(QStringLiteral("SyncDirsForm"));
  setWindowTitle(platform::Worded("Synchronize directories"));
  auto edit = [this](const char* name, const QString& text) {
    auto* e = new QLineEdit(text, this);
    e->setObjectName(QLatin1String(name));
    return e;
  };
  auto check = [this](const char* name, const char* text, bool on) {
    auto* box = new QCheckBox(platform::Worded(text), this);
    box->setObjectName(QLatin1String(name));
    box->setChecked(on);
    return box;
  };
  leftEdit_ = edit("LeftEdit", platform::ToDisplay(left));
  rightEdit_ = edit("RightEdit", platform::ToDisplay(right));
  masksEdit_ = edit("MasksEdit", QString::fromStdString(options.masks));
  direction_ = new QComboBox(this);
  direction_->setObjectName(QStringLiteral("DirectionBox"));
  direction_->addItems({platform::Worded("Both ways"), platform::Worded("Left to right")});
  direction_->setCurrentIndex(options.bothWays ? 0 : 1);

  auto* grid = new QGridLayout;
  auto label = [this](const char* text, QWidget* buddy) {
    auto* l = new QLabel(platform::Worded(text), this);
    l->setBuddy(buddy);
    return l;
  };
  grid->addWidget(label("L&eft:", leftEdit_), 0, 0);
  grid->addWidget(leftEdit_, 0, 1);
  grid->addWidget(label("Ri&ght:", rightEdit_), 1, 0);
  grid->addWidget(rightEdit_, 1, 1);
  grid->addWidget(label("F&iles:", masksEdit_), 2, 0);
  grid->addWidget(masksEdit_, 2, 1);
  grid->addWidget(label("Dire&ction:", direction_), 3, 0);
  grid->addWidget(direction_, 3, 1, Qt::AlignLeft);

  auto* criteria = new QHBoxLayout;
  criteria->addWidget(check("DateCheck", "By &date", options.byDate));
  criteria->addWidget(check("SizeCheck", "By si&ze", options.bySize));
  criteria->addWidget(check("ContentCheck", "By c&ontent", options.byContent));
  criteria->addWidget(check("RecursiveCheck", "S&ubdirectories", options.recursive));
  criteria->addWidget(check("EmptyDirsCheck", "E&mpty directories", options.emptyDirectories));
  QCheckBox* deleteExtra = check("DeleteExtraCheck", "Delete what only the right &has", options.deleteExtra);
  deleteExtra->setEnabled(!options.bothWays);
  connect(direction_, &QComboBox::currentIndexChanged, deleteExtra, [deleteExtra](int i) { deleteExtra->setEnabled(i == 1); });
  criteria->addWidget(deleteExtra);
  criteria->addStretch(1);

  auto* filters = new QHBoxLayout;
  filters->addWidget(new QLabel(platform::Worded("Show:"), this));
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    QCheckBox* box = check(kFilterNames[i], kFilterTexts[i], true);
    const TSyncKind kind = kKinds[i];
    connect(box, &QCheckBox::toggled, this, [this, kind](bool on) {
      model_.SetKindShown(kind, on);
      UpdateSummary();
    });
    filters->addWidget(box);
  }
  filters->addStretch(1);

  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("SyncTable"));
  table_->setModel(&model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->horizontalHeader()->setSectionResizeMode(TSyncModel::kName, QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(TSyncModel::kAction, QHeaderView::ResizeToContents);
  table_->setColumnWidth(TSyncModel::kLeft, 190);
  table_->setColumnWidth(TSyncModel::kRight, 190);
  table_->installEventFilter(this);

  auto button = [this](const char* name, const char* text) {
    auto* b = new QPushButton(platform::Worded(text), this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
  };
  auto* actions = new QHBoxLayout;
  actions->addWidget(new QLabel(platform::Worded("Selected rows:"), this));
  const std::pair<const char*, const char*> actionButtons[] = {
      {"ToRightButton", "Copy \u2192 (Right)"}, {"ToLeftButton", "Copy \u2190 (Left)"},
      {"DeleteButton", "Delete (Del)"}, {"LeaveButton", "Leave = (Space)"}};
  const TSyncAction actionOf[] = {TSyncAction::ToRight, TSyncAction::ToLeft, TSyncAction::Delete, TSyncAction::Leave};
  for (size_t i = 0; i < std::size(actionButtons); ++i) {
    QPushButton* b = button(actionButtons[i].first, actionButtons[i].second);
    b->setFocusPolicy(Qt::NoFocus);
    const TSyncAction action = actionOf[i];
    connect(b, &QPushButton::clicked, this, [this, action] { SetSelectedAction(action); });
    actions->addWidget(b);
  }
  actions->addStretch(1);

  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("SyncSummary"));
  compareButton_ = button("CompareButton", "Com&pare");
  compareButton_->setAutoDefault(true);
  compareButton_->setDefault(true);
  syncButton_ = button("SyncButton", "&Synchronize");
  syncButton_->setEnabled(false);
  backgroundButton_ = button("BackgroundButton", "Background (F2)");
  backgroundButton_->setEnabled(false);
  backgroundButton_->setToolTip(platform::Worded("Synchronize as a job behind the window; the window closes"));
  auto* f2 = new QShortcut(QKeySequence(Qt::Key_F2), this);
  connect(f2, &QShortcut::activated, this, [this] {
    if (backgroundButton_->isEnabled()) Synchronize(true);
  });
  QPushButton* close = button("CloseButton", "Close");
  connect(compareButton_, &QPushButton::clicked, this, &TSyncDirsForm::Compare);
  connect(syncButton_, &QPushButton::clicked, this, [this] { Synchronize(false); });
  connect(backgroundButton_, &QPushButton::clicked, this, [this] { Synchronize(true); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(summary_, 1);
  bottom->addWidget(compareButton_);
  bottom->addWidget(syncButton_);
  bottom->addWidget(backgroundButton_);
  bottom->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(criteria);
  layout->addLayout(filters);
  layout->addWidget(table_, 1);
  layout->addLayout(actions);
  layout->addLayout(bottom);
  resize(860, 520);
  UpdateSummary();
  compareButton_->setFocus();
}

QCheckBox* TSyncDirsForm::Check(const char* name) const { return findChild<QCheckBox*>(QLatin1String(name)); }

tools::TSyncOptions TSyncDirsForm::Options() const {
  tools::TSyncOptions options;
  options.byDate = Check("DateCheck")->isChecked();
  options.bySize = Check("SizeCheck")->isChecked();
  options.byContent = Check("ContentCheck")->isChecked();
  options.recursive = Check("RecursiveCheck")->isChecked();
  options.emptyDirectories = Check("EmptyDirsCheck")->isChecked();
  options.bothWays = direction_->currentIndex() == 0;
  options.deleteExtra = !options.bothWays && Check("DeleteExtraCheck")->isChecked();
  options.masks = masksEdit_->text().trimmed().toStdString();
  return options;
}

void TSyncDirsForm::Compare() {
  tools::TSyncPlace places[2];
  QLineEdit* edits[2] = {leftEdit_, rightEdit_};
  for (int i = 0; i < 2; ++i) {
    // The panels' paths as they are, also names that are not UTF-8.
    const std::string path =
        edits[i]->text() == platform::ToDisplay(initial_[i]) ? initial_[i] : edits[i]->text().toStdString();
    std::string error;
    places[i].path = path;
    if (resolve_ && !resolve_(path, places[i], &error)) {
      ShowMessage(this, MessageKind::Warning, windowTitle(), platform::ToDisplay(error));
      edits[i]->setFocus();
      return;
    }
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  tools::TDirSync sync;
  tools::TSyncPlan plan = sync.Plan(places[0], places[1], Options());
  QApplication::restoreOverrideCursor();
  model_.SetPlan(std::move(plan));
  syncButton_->setEnabled(model_.rowCount() > 0);
  backgroundButton_->setEnabled(model_.rowCount() > 0);
  UpdateSummary();
  if (model_.rowCount() > 0) {
    table_->setFocus();
    table_->selectRow(0);
  }
}

void TSyncDirsForm::Synchronize(bool background) {
  const tools::TSyncPlan shown = model_.Shown();
  bool any = false;
  for (const TSyncRow& row : shown.rows) any = any || row.action != TSyncAction::Leave;
  if (!any || !run_) return;
  if (!run_(shown, background)) {
    accept();  // the job goes on behind; the panels are read again at its end
    return;
  }
  Compare();  // what is left to do, if anything
  activateWindow();
}

void TSyncDirsForm::SetSelectedAction(TSyncAction action) {
  std::vector<int> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) rows.push_back(index.row());
  model_.SetAction(rows, action);
  UpdateSummary();
}

QString SyncTotalsText(const int counts[4], uint64_t bytes, int hidden, size_t unreadable) {
  // The bytes' part takes the form of their count.
  const QString toCopy = platform::WordedCount("%1 byte to copy", "%1 bytes to copy", static_cast<long long>(std::min<uint64_t>(bytes, INT64_MAX)),
                                               platform::ToDisplay(platform::FormatThousands(bytes)));
  QString text = platform::Worded("%1 to the right, %2 to the left, %3 to delete, %4 left alone; %5")
                     .arg(QString::number(counts[1]), QString::number(counts[2]), QString::number(counts[3]),
                          QString::number(counts[0]), toCopy);
  if (hidden > 0) text += QLatin1Char(' ') + platform::WordedCount("(%1 row hidden, left alone)", "(%1 rows hidden, left alone)", hidden);
  if (unreadable > 0) text += QStringLiteral("; ") + platform::Worded("%1 not readable").arg(unreadable);
  return text;
}

void TSyncDirsForm::UpdateSummary() {
  const tools::TSyncPlan& plan = model_.Plan();
  int counts[4] = {};
  QString readOnly;
  if (!plan.leftReadOnly.empty()) readOnly += QStringLiteral("; ") + platform::Worded("the left is only read: %1").arg(platform::ToDisplay(plan.leftReadOnly));
  if (!plan.rightReadOnly.empty()) readOnly += QStringLiteral("; ") + platform::Worded("the right is only read: %1").arg(platform::ToDisplay(plan.rightReadOnly));
  uint64_t bytes = 0;
  for (int i = 0; i < model_.rowCount(); ++i) {
    const TSyncRow& row = model_.RowAt(i);
    ++counts[static_cast<int>(row.action)];
    if (row.action == TSyncAction::ToRight) bytes += row.left.size;
    if (row.action == TSyncAction::ToLeft) bytes += row.right.size;
  }
  const int hidden = static_cast<int>(plan.rows.size()) - model_.rowCount();
  QString text = SyncTotalsText(counts, bytes, hidden, plan.unreadable.size()) + readOnly;
  summary_->setText(text);
  if (!plan.unreadable.empty()) {
    QString list;
    for (const tools::TUnreadable& u : plan.unreadable)
      list += platform::ToDisplay(u.Path) + QStringLiteral(": ") + platform::ToDisplay(u.Reason) + QLatin1Char('\n');
    summary_->setToolTip(list.trimmed());
  } else {
    summary_->setToolTip({});
  }
}

bool TSyncDirsForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched != table_ || event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
  switch (key->key()) {
    case Qt::Key_Right: SetSelectedAction(TSyncAction::ToRight); return true;
    case Qt::Key_Left: SetSelectedAction(TSyncAction::ToLeft); return true;
    case Qt::Key_Delete: SetSelectedAction(TSyncAction::Delete); return true;
    case Qt::Key_Space: SetSelectedAction(TSyncAction::Leave); return true;
    case Qt::Key_F2:  // also when the window is not the active one
      if (backgroundButton_->isEnabled()) Synchronize(true);
      return true;
    default: return false;
  }
}

}  // namespace vantrel::app
