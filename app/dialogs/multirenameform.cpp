// multirenameform.cpp - the Multi-rename window over tools/multi_rename.
#include "app/dialogs/multirenameform.h"

#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/dialogs/messages.h"
#include "app/dialogs/name_dialog.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

using tools::TRenameState;

// ---------------------------------------------------------------------------
// The preview

void TRenamePreviewModel::SetPlan(tools::TRenamePlan plan) {
  beginResetModel();
  plan_ = std::move(plan);
  endResetModel();
}

QString TRenamePreviewModel::ProblemText(const tools::TRenamePlan& plan, int row) {
  const tools::TRenameRow& r = plan.rows[static_cast<size_t>(row)];
  switch (r.state) {
    case TRenameState::Invalid: return platform::Worded("Invalid name");
    case TRenameState::Collides: return platform::Worded("Same name as row %1").arg(r.other + 1);
    case TRenameState::Exists: return platform::Worded("Exists already");
    case TRenameState::Unchanged:
    case TRenameState::Ok: break;
  }
  return {};
}

int TRenamePreviewModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(plan_.rows.size());
}

int TRenamePreviewModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant TRenamePreviewModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const tools::TRenameRow& row = plan_.rows[static_cast<size_t>(index.row())];
  const bool problem = !ProblemText(plan_, index.row()).isEmpty();
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case 0: return platform::ToDisplay(row.oldName);
      case 1: return platform::ToDisplay(row.newName);
      case 2: return ProblemText(plan_, index.row());
      default: return {};
    }
  }
  // Red reads as a warning on light and dark palettes alike.
  if (role == Qt::ForegroundRole && problem) return QColor(0xE0, 0x40, 0x40);
  if (role == Qt::ForegroundRole && row.state == TRenameState::Unchanged && index.column() == 1)
    return QColor(Qt::gray);
  return {};
}

QVariant TRenamePreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0: return platform::Worded("Old name");
    case 1: return platform::Worded("New name");
    case 2: return platform::Worded("Problem");
    default: return {};
  }
}

// ---------------------------------------------------------------------------
// The window

namespace {

QSpinBox* MakeSpin(QWidget* parent, const char* name, int min, int max, int value) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QLatin1String(name));
  spin->setRange(min, max);
  spin->setValue(value);
  return spin;
}

}  // namespace

TMultiRenameForm::TMultiRenameForm(QWidget* parent, std::string dir,
                                   std::vector<tools::TRenameSource> sources, std::string logPath)
    : QDialog(parent), dir_(std::move(dir)), sources_(std::move(sources)), logPath_(std::move(logPath)) {
  setObjectName(QStringLiteral("MultiRenameForm"));
  setWindowTitle(platform::Worded("Multi-rename"));
  setModal(true);

  nameMask_ = new QLineEdit(QStringLiteral("[N]"), this);
  nameMask_->setObjectName(QStringLiteral("NameMaskEdit"));
  extMask_ = new QLineEdit(QStringLiteral("[E]"), this);
  extMask_->setObjectName(QStringLiteral("ExtMaskEdit"));
  start_ = MakeSpin(this, "StartSpin", -999999999, 999999999, 1);
  step_ = MakeSpin(this, "StepSpin", -99999, 99999, 1);
  width_ = MakeSpin(this, "WidthSpin", 1, 20, 1);
  search_ = new QLineEdit(this);
  search_->setObjectName(QStringLiteral("SearchEdit"));
  replace_ = new QLineEdit(this);
  replace_->setObjectName(QStringLiteral("ReplaceEdit"));
  regex_ = new QCheckBox(platform::Worded("Regular expression"), this);
  regex_->setObjectName(QStringLiteral("RegexCheck"));
  case_ = new QComboBox(this);
  case_->setObjectName(QStringLiteral("CaseCombo"));
  case_->addItems({platform::Worded("Unchanged"), platform::Worded("lower case"), platform::Worded("UPPER CASE"),
                   platform::Worded("First letter upper"), platform::Worded("Each Word Upper")});

  // Buttons that put a placeholder into the name mask, where its cursor is;
  // they never take the keyboard from it.
  auto* placeholders = new QHBoxLayout;
  placeholders->setSpacing(2);
  const struct {
    const char *text, *insert, *tip;
  } kPlaceholders[] = {
      {"[N]", "[N]", "Name"},           {"[N#-#]", "[N1-3]", "Characters of the name"},
      {"[E]", "[E]", "Extension"},      {"[C]", "[C]", "Counter"},
      {"[Y][M][D]", "[Y]-[M]-[D]", "Date"}, {"[h][m][s]", "[h][m][s]", "Time"},
      {"[P]", "[P]", "Directory name"},
  };
  for (const auto& p : kPlaceholders) {
    auto* button = new QToolButton(this);
    button->setText(QLatin1String(p.text));
    button->setToolTip(platform::Worded(p.tip));
    button->setFocusPolicy(Qt::NoFocus);
    const QString insert = QLatin1String(p.insert);
    connect(button, &QToolButton::clicked, this, [this, insert] { InsertPlaceholder(insert); });
    placeholders->addWidget(button);
  }
  placeholders->addStretch(1);

  auto* grid = new QGridLayout;
  int row = 0;
  auto addRow = [&](const char* label, QWidget* field, QWidget* second = nullptr, const char* secondLabel = nullptr) {
    auto* l = new QLabel(platform::Worded(label), this);
    l->setBuddy(field);
    grid->addWidget(l, row, 0);
    grid->addWidget(field, row, 1);
    if (second != nullptr) {
      auto* l2 = new QLabel(platform::Worded(secondLabel), this);
      l2->setBuddy(second);
      grid->addWidget(l2, row, 2);
      grid->addWidget(second, row, 3);
    }
    ++row;
  };
  addRow("&Name mask:", nameMask_, extMask_, "E&xtension:");
  grid->addLayout(placeholders, row++, 1, 1, 3);
  auto* counter = new QHBoxLayout;
  for (auto [label, spin] : {std::pair{"Start:", start_}, std::pair{"Step:", step_}, std::pair{"Width:", width_}}) {
    auto* l = new QLabel(platform::Worded(label), this);
    l->setBuddy(spin);
    counter->addWidget(l);
    counter->addWidget(spin);
  }
  counter->addStretch(1);
  auto* counterLabel = new QLabel(platform::Worded("Counter:"), this);
  grid->addWidget(counterLabel, row, 0);
  grid->addLayout(counter, row++, 1, 1, 3);
  addRow("&Search for:", search_, replace_, "Replace &with:");
  grid->addWidget(regex_, row++, 1);
  addRow("C&ase:", case_);
  grid->setColumnStretch(1, 3);
  grid->setColumnStretch(3, 1);

  model_ = new TRenamePreviewModel(this);
  preview_ = new QTableView(this);
  preview_->setObjectName(QStringLiteral("PreviewView"));
  preview_->setModel(model_);
  preview_->setShowGrid(false);
  preview_->setWordWrap(false);
  preview_->setSelectionBehavior(QAbstractItemView::SelectRows);
  preview_->setSelectionMode(QAbstractItemView::SingleSelection);
  preview_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  preview_->setTabKeyNavigation(false);
  preview_->verticalHeader()->hide();
  preview_->verticalHeader()->setDefaultSectionSize(preview_->fontMetrics().height() + 4);
  preview_->horizontalHeader()->setStretchLastSection(true);
  preview_->horizontalHeader()->resizeSection(0, 220);
  preview_->horizontalHeader()->resizeSection(1, 220);
  preview_->setMinimumSize(640, 240);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("StatusLabel"));
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);

  renameButton_ = new QPushButton(platform::Worded("&Rename"), this);
  renameButton_->setObjectName(QStringLiteral("RenameButton"));
  renameButton_->setDefault(true);
  undoButton_ = new QPushButton(platform::Worded("&Undo last"), this);
  undoButton_->setObjectName(QStringLiteral("UndoButton"));
  undoButton_->setAutoDefault(false);
  undoButton_->setToolTip(platform::Worded("Gives the entries of the last multi-rename their old names back"));
  undoButton_->setEnabled(access(logPath_.c_str(), F_OK) == 0);
  auto* cancel = new QPushButton(platform::Worded("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  cancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(undoButton_);
  buttons->addStretch(1);
  buttons->addWidget(renameButton_);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(preview_, 1);
  layout->addWidget(status_);
  layout->addLayout(buttons);

  previewTimer_ = new QTimer(this);
  previewTimer_->setSingleShot(true);
  previewTimer_->setInterval(0);
  connect(previewTimer_, &QTimer::timeout, this, &TMultiRenameForm::UpdatePreview);
  auto later = [this] { previewTimer_->start(); };
  for (QLineEdit* edit : {nameMask_, extMask_, search_, replace_}) connect(edit, &QLineEdit::textChanged, this, later);
  for (QSpinBox* spin : {start_, step_, width_}) connect(spin, &QSpinBox::valueChanged, this, later);
  connect(regex_, &QCheckBox::toggled, this, later);
  connect(case_, &QComboBox::currentIndexChanged, this, later);
  connect(renameButton_, &QPushButton::clicked, this, &TMultiRenameForm::RenameButtonClick);
  connect(undoButton_, &QPushButton::clicked, this, &TMultiRenameForm::UndoButtonClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  UpdatePreview();
}

void TMultiRenameForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  nameMask_->setFocus();
  nameMask_->selectAll();
}

tools::TRenameRules TMultiRenameForm::Rules() const {
  tools::TRenameRules rules;
  rules.nameMask = TypedName(nameMask_->text());
  rules.extMask = TypedName(extMask_->text());
  rules.counterStart = start_->value();
  rules.counterStep = step_->value();
  rules.counterWidth = width_->value();
  rules.search = TypedName(search_->text());
  rules.replace = TypedName(replace_->text());
  rules.regex = regex_->isChecked();
  rules.caseChange = static_cast<tools::TCaseChange>(case_->currentIndex());
  return rules;
}

void TMultiRenameForm::InsertPlaceholder(const QString& text) {
  nameMask_->insert(text);
  nameMask_->setFocus();
}

QString RenameCountText(size_t changes, size_t rows) {
  const QString ofRows = platform::WordedCount("of %1 entry", "of %1 entries", static_cast<long long>(rows));
  return platform::WordedForm("%1 %2 gets a new name.", "%1 %2 get a new name.", static_cast<long long>(changes))
      .arg(QString::number(changes), ofRows);
}

void TMultiRenameForm::UpdatePreview() {
  tools::TRenamer renamer;
  std::string error;
  maskOk_ = renamer.Compile(Rules(), &error);
  if (!maskOk_) {
    status_->setText(platform::ToDisplay(error));
    return;  // the rows keep showing the last names that could be made
  }
  model_->SetPlan(tools::PlanRenames(dir_, sources_, renamer));
  const tools::TRenamePlan& plan = model_->Plan();
  QString text = RenameCountText(plan.changes, plan.rows.size());
  if (plan.problems > 0)
    text += QLatin1Char(' ') + platform::WordedCount("%1 conflict: nothing can be renamed until it is resolved.",
                                                         "%1 conflicts: nothing can be renamed until they are resolved.",
                                                         plan.problems);
  status_->setText(text);
}

void TMultiRenameForm::RenameButtonClick() {
  UpdatePreview();  // the directory may have changed since the last keystroke
  const QString caption = platform::Worded("Multi-rename");
  if (!maskOk_) {
    ShowMessage(this, MessageKind::Warning, caption, status_->text());
    return;
  }
  const tools::TRenamePlan& plan = model_->Plan();
  if (plan.problems > 0) {
    for (size_t i = 0; i < plan.rows.size(); ++i) {
      if (!TRenamePreviewModel::ProblemText(plan, static_cast<int>(i)).isEmpty()) {
        preview_->selectRow(static_cast<int>(i));
        break;
      }
    }
    ShowMessage(this, MessageKind::Warning, caption,
                platform::WordedCount("Nothing was renamed: %1 of the new names conflicts (the row in red says why).",
                                      "Nothing was renamed: %1 of the new names conflict (the rows in red say why).",
                                      plan.problems));
    return;
  }
  tools::TRenamePairs pairs;
  for (const tools::TRenameRow& row : plan.rows)
    if (row.state == TRenameState::Ok) pairs.emplace_back(row.oldName, row.newName);
  if (pairs.empty()) {
    reject();
    return;
  }
  const tools::TRenameResult result = tools::ApplyRenames(dir_, pairs);
  if (!result.ok) {
    ShowMessage(this, MessageKind::Warning, caption,
                QStringLiteral("Nothing was renamed.\n") + platform::ToDisplay(result.error));
    UpdatePreview();
    return;
  }
  done_ = pairs;
  std::string error;
  if (!tools::WriteRenameLog(logPath_, dir_, pairs, &error))
    ShowMessage(this, MessageKind::Warning, caption,
                platform::Worded("The entries were renamed, but the log to undo it could not be written: %1")
                    .arg(platform::ToDisplay(error)));
  accept();
}

void TMultiRenameForm::UndoButtonClick() {
  const tools::TRenameResult result = tools::UndoRenames(logPath_);
  if (!result.ok) {
    ShowMessage(this, MessageKind::Warning, platform::Worded("Multi-rename"),
                QStringLiteral("The last multi-rename was not undone.\n") + platform::ToDisplay(result.error));
    undoButton_->setEnabled(access(logPath_.c_str(), F_OK) == 0);
    return;
  }
  // The entries this window was opened for have other names now.
  accept();
}

}  // namespace vantrel::app
