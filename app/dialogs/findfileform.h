// findfileform.h - TFindFileForm, "Find file:": searches a tree for one
// wildcard mask and lists every match with its path, size and date; "Go to
// file" takes the panel that opened it to a chosen match.
//
// Enter or a double click on a result row does what "Go to file" does.
//
// The search runs inside the Start handler but serves the window's events
// about every 50 ms, so the window repaints, the rows found so far appear in
// batches (never one repaint per row), and Close or Escape stops it.
#pragma once

#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QDialog>

#include "app/commands/file_search.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace vantrel::app {

struct TPanelSide;

// The rows of the result list. Rows found during a search wait in a pending
// list until Flush shows them, all in one insertion.
class TFoundFilesModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TFoundFilesModel(QObject* parent = nullptr);

  void Clear();
  void Add(TFoundFile&& found) { pending_.push_back(std::move(found)); }
  void Flush();
  const TFoundFile& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
  int PendingCount() const { return static_cast<int>(pending_.size()); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // "Date": local date in the system's short format, a blank, the time in
  // its long format.
  QString DateText(platform::FileTime time) const;

 private:
  std::vector<TFoundFile> rows_;
  std::vector<TFoundFile> pending_;
  QString dateFormat_;
  QString timeFormat_;
};

class TFindFileForm : public QDialog {
  Q_OBJECT

 public:
  explicit TFindFileForm(QWidget* parent = nullptr);

  // The side whose panel Go to file moves.
  void SetTarget(const TPanelSide* side) { target_ = side; }
  const TPanelSide* Target() const { return target_; }

  QLineEdit* MaskEdit() const { return maskEdit_; }
  QLineEdit* PathEdit() const { return pathEdit_; }
  QPushButton* StartButton() const { return startButton_; }
  QPushButton* CloseButton() const { return closeButton_; }
  QPushButton* HelpButton() const { return helpButton_; }
  QPushButton* GoToButton() const { return goToButton_; }
  QTableView* ResultsView() const { return resultsView_; }
  QProgressBar* Animate() const { return animate_; }
  TFoundFilesModel* Model() const { return model_; }
  bool Searching() const { return searching_; }

  void StartButtonClick();
  void GoToButtonClick();

  // Close and Escape: while a search runs they stop it and the window closes
  // when it has ended.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  // Enter on a result row goes to that file, as "Go to file" does.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const TPanelSide* target_ = nullptr;
  QLineEdit* maskEdit_;
  QLineEdit* pathEdit_;
  QPushButton* startButton_;
  QPushButton* closeButton_;
  QPushButton* helpButton_;
  QPushButton* goToButton_;
  QTableView* resultsView_;
  QProgressBar* animate_;
  TFoundFilesModel* model_;
  bool searching_ = false;
  bool stopRequested_ = false;
  bool closeRequested_ = false;
};

}  // namespace vantrel::app
