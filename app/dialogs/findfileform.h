// findfileform.h - TFindFileForm, "Find file:": searches a tree for one
// wildcard mask and lists every match with its path, size and date; "Go to
// file" takes the panel that opened it to a chosen match.
//
// Beyond the mask, a search may ask for text in the files ("Containing
// text", with case, whole words, a regular expression or hex bytes, in one
// or more encodings), for sizes and modification dates within limits, and
// for the entries of archives. A content search shows each file's first
// matching line. "Feed to panel" shows the results in the panel as a listing
// of its own, where the usual commands work on them. What could not be read
// is counted under the list and shown by "Unreadable...".
//
// Enter or a double click on a result row does what "Go to file" does.
//
// The search runs on a thread of its own while the Start handler waits in
// the window's event loop: the rows found so far appear every 50 ms (in one
// insertion each time, never one repaint per row), and Close or Escape
// stops the search.
#pragma once

#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QDialog>

#include "tools/file_search.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace vantrel::tools {
class TArchiveFormat;
class TSearchRun;
}

namespace vantrel::app {

struct TPanelSide;

// The rows of the result list. Rows found during a search wait in a pending
// list until Flush shows them, all in one insertion.
class TFoundFilesModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TFoundFilesModel(QObject* parent = nullptr);

  void Clear();
  void Add(tools::TFoundFile&& found) { pending_.push_back(std::move(found)); }
  void Flush();
  const tools::TFoundFile& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
  const std::vector<tools::TFoundFile>& Rows() const { return rows_; }
  int PendingCount() const { return static_cast<int>(pending_.size()); }
  // Whether the "Line" column shows (a content search).
  void SetShowLines(bool show);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // "Date": local date in the system's short format, a blank, the time in
  // its long format.
  QString DateText(platform::FileTime time) const;

 private:
  std::vector<tools::TFoundFile> rows_;
  std::vector<tools::TFoundFile> pending_;
  QString dateFormat_;
  QString timeFormat_;
  bool showLines_ = false;
};

class TFindFileForm : public QDialog {
  Q_OBJECT

 public:
  explicit TFindFileForm(QWidget* parent = nullptr);
  ~TFindFileForm() override;

  // The side whose panel Go to file moves.
  void SetTarget(const TPanelSide* side) { target_ = side; }
  const TPanelSide* Target() const { return target_; }

  QLineEdit* MaskEdit() const { return maskEdit_; }
  QLineEdit* PathEdit() const { return pathEdit_; }
  QLineEdit* ContentEdit() const { return contentEdit_; }
  QCheckBox* CaseCheck() const { return caseCheck_; }
  QCheckBox* WordsCheck() const { return wordsCheck_; }
  QCheckBox* RegexCheck() const { return regexCheck_; }
  QCheckBox* HexCheck() const { return hexCheck_; }
  QCheckBox* Utf8Check() const { return utf8Check_; }
  QCheckBox* Utf16LECheck() const { return utf16LECheck_; }
  QCheckBox* Utf16BECheck() const { return utf16BECheck_; }
  QCheckBox* PageCheck() const { return pageCheck_; }
  QComboBox* PageCombo() const { return pageCombo_; }
  QLineEdit* MinSizeEdit() const { return minSizeEdit_; }
  QLineEdit* MaxSizeEdit() const { return maxSizeEdit_; }
  QCheckBox* FromCheck() const { return fromCheck_; }
  QCheckBox* ToCheck() const { return toCheck_; }
  QDateEdit* FromDate() const { return fromDate_; }
  QDateEdit* ToDate() const { return toDate_; }
  QCheckBox* ArchivesCheck() const { return archivesCheck_; }
  QPushButton* StartButton() const { return startButton_; }
  QPushButton* CloseButton() const { return closeButton_; }
  QPushButton* HelpButton() const { return helpButton_; }
  QPushButton* GoToButton() const { return goToButton_; }
  QPushButton* FeedButton() const { return feedButton_; }
  QPushButton* UnreadableButton() const { return unreadableButton_; }
  QLabel* StatusLabel() const { return statusLabel_; }
  QTableView* ResultsView() const { return resultsView_; }
  QProgressBar* Animate() const { return animate_; }
  TFoundFilesModel* Model() const { return model_; }
  bool Searching() const { return searching_; }
  // What the last search could not read.
  const std::vector<tools::TUnreadable>& Unreadable() const { return unreadable_; }

  void StartButtonClick();
  void GoToButtonClick();
  // Shows the results in the target panel as a listing of their own.
  void FeedButtonClick();
  // Lists what could not be read, with the reasons.
  void UnreadableButtonClick();

  // Close and Escape: while a search runs they stop it and the window closes
  // when it has ended.
  void reject() override;

  // "10", "10K", "1.5 M", "2G" (binary units; empty: no limit). False when
  // the text is none of these.
  static bool ParseSize(const QString& text, uint64_t& bytes);

 protected:
  void showEvent(QShowEvent* event) override;
  // Enter on a result row goes to that file, as "Go to file" does.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The criteria as the fields say; false (with the reason shown) when a
  // field cannot be read.
  bool ReadCriteria(tools::TSearchCriteria& criteria, std::unique_ptr<tools::TContentMatcher>& matcher);
  void TakeResults();
  void UpdateStatus(bool finished);
  void UpdateContentOptions();

  const TPanelSide* target_ = nullptr;
  QLineEdit* maskEdit_;
  QLineEdit* pathEdit_;
  QLineEdit* contentEdit_;
  QCheckBox* caseCheck_;
  QCheckBox* wordsCheck_;
  QCheckBox* regexCheck_;
  QCheckBox* hexCheck_;
  QCheckBox* utf8Check_;
  QCheckBox* utf16LECheck_;
  QCheckBox* utf16BECheck_;
  QCheckBox* pageCheck_;
  QComboBox* pageCombo_;
  QLineEdit* minSizeEdit_;
  QLineEdit* maxSizeEdit_;
  QCheckBox* fromCheck_;
  QCheckBox* toCheck_;
  QDateEdit* fromDate_;
  QDateEdit* toDate_;
  QCheckBox* archivesCheck_;
  QPushButton* startButton_;
  QPushButton* closeButton_;
  QPushButton* helpButton_;
  QPushButton* goToButton_;
  QPushButton* feedButton_;
  QPushButton* unreadableButton_;
  QLabel* statusLabel_;
  QTableView* resultsView_;
  QProgressBar* animate_;
  TFoundFilesModel* model_;
  std::unique_ptr<tools::TSearchRun> run_;
  std::vector<tools::TUnreadable> unreadable_;
  std::string searchRoot_;  // the directory the last search started in
  // The archive formats "Search in archives" looks into.
  std::vector<const tools::TArchiveFormat*> archiveFormats_;
  bool searching_ = false;
  bool closeRequested_ = false;
};

}  // namespace vantrel::app
