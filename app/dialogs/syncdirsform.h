// syncdirsform.h - Synchronize directories: the two directories, the file
// masks and criteria; Compare lists the differences with an action per row,
// which the user may change (buttons, or Right, Left, Delete and Space on
// the selected rows); filters hide kinds of rows; Synchronize carries out
// the actions of the listed rows as one operation, then compares again;
// Background (F2) hands the run to a job that goes on behind the window,
// which then closes. A side may be a place inside an archive.
#pragma once

#include <functional>
#include <vector>

#include <QAbstractTableModel>
#include <QDialog>

#include "tools/dir_sync.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace vantrel::app {

// The rows of a plan that pass the kind filters, as a table.
class TSyncModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum TColumn { kName, kLeft, kAction, kRight, kColumns };

  explicit TSyncModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
  void SetPlan(tools::TSyncPlan plan);
  const tools::TSyncPlan& Plan() const { return plan_; }
  // Which kinds show (index: the kind's value).
  void SetKindShown(tools::TSyncKind kind, bool shown);
  bool KindShown(tools::TSyncKind kind) const { return shown_[static_cast<size_t>(kind)]; }
  // The plan's row behind table row `row`.
  tools::TSyncRow& RowAt(int row) { return plan_.rows[visible_[static_cast<size_t>(row)]]; }
  // Sets the action of the table rows where it is allowed; how many took it.
  int SetAction(const std::vector<int>& rows, tools::TSyncAction action);
  // The plan with the hidden rows left alone: what Synchronize carries out.
  tools::TSyncPlan Shown() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void Filter();

  tools::TSyncPlan plan_;
  std::vector<size_t> visible_;
  bool shown_[6] = {true, true, true, true, true, true};
};

// The text an action shows in its column.
QString ActionText(tools::TSyncAction action);

class TSyncDirsForm : public QDialog {
  Q_OBJECT

 public:
  // `run` carries out a plan (the operation window, its questions), in the
  // background when asked; true when it ended in front, and the dialog then
  // compares again; otherwise the dialog closes.
  using TRun = std::function<bool(const tools::TSyncPlan& plan, bool background)>;
  // What a typed path is: a local directory, or a place inside an archive;
  // false with `error` when it is neither. Without one, every path is local.
  using TResolve = std::function<bool(const std::string& path, tools::TSyncPlace& place, std::string* error)>;
  TSyncDirsForm(QWidget* parent, const std::string& left, const std::string& right,
                const tools::TSyncOptions& options, TRun run, TResolve resolve = {});

  tools::TSyncOptions Options() const;
  TSyncModel& Model() { return model_; }
  QTableView* Table() const { return table_; }
  QLineEdit* LeftEdit() const { return leftEdit_; }
  QLineEdit* RightEdit() const { return rightEdit_; }
  QLineEdit* MasksEdit() const { return masksEdit_; }
  QComboBox* DirectionBox() const { return direction_; }
  QCheckBox* Check(const char* name) const;
  QPushButton* CompareButton() const { return compareButton_; }
  QPushButton* SyncButton() const { return syncButton_; }
  QPushButton* BackgroundButton() const { return backgroundButton_; }
  QLabel* SummaryLabel() const { return summary_; }

  void Compare();
  void Synchronize(bool background = false);
  // The selected rows get `action` where it is allowed.
  void SetSelectedAction(tools::TSyncAction action);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateSummary();

  TSyncModel model_;
  TRun run_;
  TResolve resolve_;
  std::string initial_[2];
  QLineEdit* leftEdit_ = nullptr;
  QLineEdit* rightEdit_ = nullptr;
  QLineEdit* masksEdit_ = nullptr;
  QComboBox* direction_ = nullptr;
  QTableView* table_ = nullptr;
  QLabel* summary_ = nullptr;
  QPushButton* compareButton_ = nullptr;
  QPushButton* syncButton_ = nullptr;
  QPushButton* backgroundButton_ = nullptr;
};

// The summary below the rows: the rows of each action (counts: left alone,
// to the right, to the left, to delete), the bytes to copy, the rows hidden
// and the directories not read, each count with the form it takes.
QString SyncTotalsText(const int counts[4], uint64_t bytes, int hidden, size_t unreadable);

}  // namespace vantrel::app
