// multirenameform.h - TMultiRenameForm, "Multi-rename": new names for the
// marked entries from a mask, search and replace and a change of case, with
// a live preview that shows every conflict before anything is renamed.
//
// The window opens with the name mask focused; Enter renames. A batch with a
// conflict is refused as a whole (the rows say why); a batch that worked can
// be undone with "Undo last" from its log, also in a later session.
#pragma once

#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QDialog>

#include "tools/multi_rename.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace vantrel::app {

// The preview rows: old name, new name, what is wrong with it.
class TRenamePreviewModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetPlan(tools::TRenamePlan plan);
  const tools::TRenamePlan& Plan() const { return plan_; }
  // The text of a row's problem ("Collides with row 2"); empty when none.
  static QString ProblemText(const tools::TRenamePlan& plan, int row);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  tools::TRenamePlan plan_;
};

class TMultiRenameForm final : public QDialog {
  Q_OBJECT

 public:
  // `sources` are the entries to rename, relative to `dir`; the log of the
  // last batch is kept at `logPath`.
  TMultiRenameForm(QWidget* parent, std::string dir, std::vector<tools::TRenameSource> sources,
                   std::string logPath);

  QLineEdit* NameMaskEdit() const { return nameMask_; }
  QLineEdit* ExtMaskEdit() const { return extMask_; }
  QSpinBox* StartSpin() const { return start_; }
  QSpinBox* StepSpin() const { return step_; }
  QSpinBox* WidthSpin() const { return width_; }
  QLineEdit* SearchEdit() const { return search_; }
  QLineEdit* ReplaceEdit() const { return replace_; }
  QCheckBox* RegexCheck() const { return regex_; }
  QComboBox* CaseCombo() const { return case_; }
  QTableView* PreviewView() const { return preview_; }
  QLabel* StatusLabel() const { return status_; }
  QPushButton* RenameButton() const { return renameButton_; }
  QPushButton* UndoButton() const { return undoButton_; }
  TRenamePreviewModel* Model() const { return model_; }

  // The rules as the fields say now.
  tools::TRenameRules Rules() const;
  // Recomputes the preview at once (it follows every change by itself).
  void UpdatePreview();
  // What was renamed: the old and new paths (relative to the directory).
  const tools::TRenamePairs& Done() const { return done_; }

  void RenameButtonClick();
  void UndoButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void InsertPlaceholder(const QString& text);

  std::string dir_;
  std::vector<tools::TRenameSource> sources_;
  std::string logPath_;
  tools::TRenamePairs done_;
  bool maskOk_ = false;
  QLineEdit* nameMask_;
  QLineEdit* extMask_;
  QSpinBox* start_;
  QSpinBox* step_;
  QSpinBox* width_;
  QLineEdit* search_;
  QLineEdit* replace_;
  QCheckBox* regex_;
  QComboBox* case_;
  QTableView* preview_;
  QLabel* status_;
  QPushButton* renameButton_;
  QPushButton* undoButton_;
  QTimer* previewTimer_;
  TRenamePreviewModel* model_;
};

// "3 of 10 entries get a new name.": the sentence takes the form of the
// count of changes, its "of 10 entries" the form of the count of rows.
QString RenameCountText(size_t changes, size_t rows);

}  // namespace vantrel::app
