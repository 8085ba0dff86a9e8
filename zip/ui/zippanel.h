// zippanel.h - TZIPpanel, the ZIP window: the entries of one archive in a
// check-box list, and the commands that extract all of them or the ticked ones.
//
// The window reads the archive through the reader it is given (the main
// window's archive component) and lists one row per file entry, sorted by
// name: "File name", "Size" (the uncompressed size, right-aligned), "Path"
// (the entry's stored directory) and "Modified" (the entry's time in local
// time: its exact time where the archive keeps one, else its DOS time).
// Directory entries get no row. Extracting is
// the program's business: the window hands the chosen names to its extract
// handler and closes.
//
// The rows live in a table model holding only the index of each row's entry
// in the reader's directory (4 bytes and a tick a row): names and sizes are
// read from the reader's entries when a row is painted, so that an archive of
// hundreds of thousands of entries is listed at the speed of reading its
// directory and costs little beyond the directory itself.
//
// F3 (and Enter) on a row views that entry: the window hands its path to the
// view handler and stays open.
//
// The "Code page" menu says in which code page names stored without Unicode
// text are read: "Automatic" (the reader's choice, shown beside it) or one
// page by hand. A choice reads the directory again at once and re-shows the
// names, ticks kept; extracting from the window then uses the same names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QAbstractTableModel>
#include <QStringList>
#include <QDialog>

class QAction;
class QActionGroup;
class QMenu;
class QStatusBar;
class QTableView;
class QToolBar;
class QToolButton;

namespace vantrel::zip {
class TZipHeaderInfo;
class TZipReader;
}

namespace vantrel::zipui {

// Bytes of a name as a window shows them: control characters as visible
// symbols, invalid UTF-8 as U+FFFD.
QString Visible(std::string_view bytes);

// A time as the window shows it: "05.12.2026 09:05:07", local time.
QString LocalTimeText(int64_t unixSeconds);

// The rows of the ZIP window.
class TZipEntryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TZipEntryModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Shows the directory entries `entries` of `reader` (which must not read
  // another directory while the rows are shown), sorted by name (ASCII
  // letters folded, then by the bytes, then by path), none ticked. A null
  // reader empties the list.
  void Reset(const zip::TZipReader* reader, std::vector<uint32_t> entries);
  // The row's entry: Filename, Directory ("" or ending in "/"), uncompressed
  // size; empty for a row that is not there.
  std::string_view Name(int row) const;
  std::string_view Path(int row) const;
  uint64_t Size(int row) const;
  // The entry's modification time (seconds since 1970, UTC); 0 for no row.
  int64_t Modified(int row) const;
  // The directory index of the row's entry, or -1.
  int EntryIndex(int row) const;
  bool Checked(int row) const;
  void SetChecked(int row, bool checked);
  // Directory + Filename of every ticked row, in the list's order.
  std::vector<std::string> TickedNames() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The column titles can be translated.
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;

 private:
  // The entry shown in `row`, or null (no such row, or the reader's
  // directory changed under the list).
  const zip::TZipHeaderInfo* EntryAt(int row) const;

  const zip::TZipReader* reader_ = nullptr;
  std::vector<uint32_t> rows_;  // directory indices in display order
  std::vector<bool> checked_;
  QStringList titles_{QStringLiteral("File name"), QStringLiteral("Size"), QStringLiteral("Path"),
                      QStringLiteral("Modified")};
};

class TZIPpanel : public QDialog {
  Q_OBJECT

 public:
  // Runs the extraction of `names` (empty = every entry), with their stored
  // directories or, when `keepPaths` is false, each file straight into the
  // destination.
  using TExtractHandler = std::function<void(const std::vector<std::string>& names, bool keepPaths)>;
  // Shows the entry `path` (Directory + Filename) in the viewer.
  using TViewHandler = std::function<void(const std::string& path)>;

  explicit TZIPpanel(QWidget* parent = nullptr);

  // Shows "ZIP - <shownName>" as the caption, makes `archivePath` the
  // reader's ZipName, reads its directory and fills the rows. The reader's
  // errors propagate; the rows are then empty.
  void Load(zip::TZipReader& reader, const std::string& archivePath, const QString& shownName);

  void SetExtractHandler(TExtractHandler handler) { extract_ = std::move(handler); }
  void SetViewHandler(TViewHandler handler) { viewHandler_ = std::move(handler); }
  // Runs "Repair archive": writes a new archive from what the damaged one
  // still holds (the command is there only for a damaged archive).
  void SetRepairHandler(std::function<void()> handler) { repair_ = std::move(handler); }
  // What is wrong with the directory of the archive loaded last ("" when it
  // was read whole). The caption then ends in "[damaged]".
  const QString& Damage() const { return damage_; }
  // What the status bar says about the archive: its damage, the bytes of a
  // self-extracting stub before it, or nothing.
  QString StatusText() const;

  // Reads the names again in `page` (kCodePageAuto: the reader's choice),
  // keeping the ticks and the cursor on their entries. A reading error is
  // said in the status bar and leaves the list empty.
  void SetCodePage(const std::string& page);
  // Told the page chosen in the menu (to remember it for this archive).
  void SetCodePageHandler(std::function<void(const std::string& page)> handler) {
    codePageChanged_ = std::move(handler);
  }
  QMenu* CodePageMenu() const { return codePageMenu_; }
  // The menu's item for `page` ("" for Automatic), or null.
  QAction* CodePageAction(const std::string& page) const;

  TZipEntryModel* Model() const { return model_; }
  QTableView* ListView() const { return listView_; }
  QAction* ExtractSelectedFiles() const { return extractSelected_; }
  QAction* ExtractFiles() const { return extractAll_; }
  QAction* CloseZIP() const { return close_; }
  // Checked: extraction leaves the stored directories out (off by default,
  // kept while the program runs).
  QAction* WithoutPaths() const { return withoutPaths_; }
  QAction* ViewFile() const { return viewFile_; }
  QAction* RepairArchive() const { return repairAction_; }

 protected:
  void showEvent(QShowEvent* event) override;
  // Empties the list when the window closes: the rows point into the reader,
  // which other commands use next.
  void done(int result) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ExtractSelectedFilesClick();
  void ExtractFilesClick();
  void CloseZIPClick();
  void ViewFileClick();
  void RunExtract(const std::vector<std::string>& names);
  // Reads the directory (again) and fills the rows; the reader's errors
  // propagate.
  void ReadEntries();
  // Ticks the menu item of the reader's page; "Automatic" names the page
  // the reader chose.
  void ShowCodePage();
  // "Automatic", with the page it found, in the language chosen.
  void WordAutomaticCodePage();

  TZipEntryModel* model_;
  QTableView* listView_;
  QToolBar* toolBar_;
  QStatusBar* statusBar_;
  QAction* extractSelected_;
  QAction* extractAll_;
  QAction* close_;
  QAction* withoutPaths_;
  QAction* viewFile_;
  TExtractHandler extract_;
  TViewHandler viewHandler_;
  QAction* repairAction_;
  std::function<void()> repair_;
  QString damage_;
  QString stub_;
  zip::TZipReader* reader_ = nullptr;
  QMenu* codePageMenu_;
  QActionGroup* codePages_;
  std::function<void(const std::string&)> codePageChanged_;
};

}  // namespace vantrel::zipui
