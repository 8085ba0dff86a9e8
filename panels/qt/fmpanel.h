// fmpanel.h - TFMPanel, the owner-drawn list that shows one directory.
//
// The control draws the entries of its TPanelModel in five columns (16-pixel
// icon and name, extension, size, date, time), moves a cursor and toggles
// marks the way a multiple-selection list box does. Rows are not widgets or
// items: every paint builds only the visible rows from the entry records, and
// a mark or a cursor move repaints only the rows it changes, so a directory
// of a hundred thousand entries costs no more per key than a small one.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QAbstractScrollArea>
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QKeyEvent>
#include <QStaticText>
#include <QTimer>

#include "panels/dir_reading.h"
#include "panels/dirmodel.h"
#include "panels/qt/info_line.h"
#include "platform/qt/colors.h"

class QLabel;
class QLineEdit;

namespace vantrel::panels {

class TLiveListing;

class TFMPanel : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TFMPanel(QWidget* parent = nullptr);
  ~TFMPanel() override;

  // --- The text lines the panel writes (any may be null) ---
  TInfoLine* DirPanel() const { return dirPanel_; }    // the directory, at each read
  TInfoLine* FilePanel() const { return filePanel_; }  // the cursor entry's information line
  // The disk-space line, at each read, after the marks while any are.
  TInfoLine* InfoPanel() const { return infoPanel_; }
  void SetDirPanel(TInfoLine* line) { dirPanel_ = line; }
  void SetFilePanel(TInfoLine* line) { filePanel_ = line; }
  void SetInfoPanel(TInfoLine* line) { infoPanel_ = line; }
  // The file line tells the size of `entry` (all it holds, for a directory).
  void ShowSizeLine(const TFileEntry& entry, uint64_t bytes);

  // --- The listing (see TPanelModel) ---
  TPanelModel& Model() { return model_; }
  const TPanelModel& Model() const { return model_; }
  // The information and disk-space lines again, in the wording in use
  // (after a translation).
  void RewordLines();
  // Reads a local directory on a thread of its own (see TDirectoryReading):
  // a small one is listed whole before this returns, as before; a large one
  // shows its first rows at once and the rest as they are read; one that
  // does not answer shows "Reading…" until it does, or until Escape goes
  // back to the directory shown before. False, with `error`, when the
  // directory cannot be entered within the short wait; a failure found
  // later goes back as Escape does and is told through readingFailed.
  bool ReadDirectory(const std::string& path, std::string* error = nullptr);
  // A directory is being read.
  bool Reading() const { return model_.Reading(); }
  // Stops the reading and shows the directory shown before it.
  void CancelReading();
  // The cursor on the entry named `name`; while the directory is still being
  // read and it has not come yet, it goes there when it comes (unless the
  // cursor was moved meanwhile).
  void PlaceCursorOn(const std::string& name);
  // After a command made `name`: the cursor goes to it now when it is
  // listed, else when the reread or the reading under way brings it,
  // unless the cursor was moved meanwhile. Nowhere when it never comes.
  void PlaceCursorWhenListed(const std::string& name);
  // How directories are opened for reading, rereads and live rereads
  // included (tests give a slow one).
  void SetDirectoryOpener(TDirectoryOpener opener);
  // How long ReadDirectory waits for a whole listing before it shows the
  // rows as they come.
  static constexpr int kReadWaitMs = 200;
  // Keys typed while a directory being read shows nothing but "..", or not
  // yet the row the cursor is to land on, wait for those rows, up to this
  // long after the reading began (then they act on what has come): Backspace
  // then Enter acts on the directory just left, as when the parent answers
  // at once. Escape cancels the reading and the keys.
  static constexpr int kTypeAheadMs = 1000;
  // Takes a key press that has to wait for the listing (see kTypeAheadMs);
  // false when it may act now. Whoever sees the panel's keys first calls it.
  bool HoldKey(const QKeyEvent& key);
  // Reads the directory again with the cursor on the same name and the marks
  // on the same names (Ctrl+R). A directory that is gone takes the panel to
  // its nearest existing parent. A local directory is read on the reading
  // thread: what comes within the short wait is shown before this returns,
  // a slow one replaces the listing when it comes (the panel keeps working
  // meanwhile, and Escape or another directory drops it).
  bool Reread();
  // A reread is under way.
  bool Rereading() const { return reread_ != nullptr; }
  // A listing of its own (see TPanelModel::ShowListing); Reread, and
  // ReadDirectory of the listing's own directory, examine its entries again
  // instead of reading the directory.
  void ShowListing(const std::string& directory, const std::string& title, TPanelModel::Entries entries);
  // Live: changes made by other programs show within a fifth of a second (on
  // by default; see TLiveListing).
  void SetLive(bool live);
  bool Live() const;
  TLiveListing* LiveListing() const { return live_; }
  // A new order; a directory being read is read again in it.
  void SetSortType(uint8_t value);
  void SortEntries(uint8_t order);
  const std::string& Directory() const { return model_.Directory(); }
  const TPanelModel::Entries& Entries() const { return model_.GetEntries(); }
  uint8_t SortType() const { return model_.SortType(); }
  int Count() const { return model_.Count(); }
  const TFileEntry* CurrentEntry() const { return model_.CurrentEntry(); }
  int IndexOfName(std::string_view name) const { return model_.IndexOfName(name); }
  std::vector<const TFileEntry*> GetMarkedEntries() const { return model_.GetMarkedEntries(); }

  // --- Cursor (caret) and marks; each repaints only what changed ---
  int Cursor() const { return model_.Cursor(); }
  // Moves the cursor (clamped to the list) and scrolls it into view.
  void SetCursor(int index);
  bool IsMarked(int index) const { return model_.IsMarked(index); }
  void SetMarked(int index, bool marked);
  void ToggleMark(int index) { SetMarked(index, !IsMarked(index)); }

  // --- Marking many entries at once (one repaint each) ---
  // Marks (or unmarks) the files whose names match one of `masks` ("*.txt;
  // *.doc": wildcards, separated by ";" or ","). Returns how many changed.
  int MarkByMask(const std::string& masks, bool mark);
  // Inverts the marks of all files; directories keep theirs.
  void InvertFileMarks();
  // Marks every file.
  void MarkAllFiles();
  // Moves the cursor to `index` marking the entries it passes over, starting
  // with the one under the cursor (Shift with a cursor key); `inclusive` marks
  // the entry it lands on too (Shift+Home, Shift+End). The entries take the
  // opposite of the cursor entry's mark; ".." is never marked.
  void MoveMarking(int index, bool inclusive = false);

  // --- Quick search: a small field over the bottom of the list ---
  // Opens the field with `text` in it (Ctrl+S: empty; Alt+letter: the letter).
  void OpenQuickSearch(const QString& text = {});
  void CloseQuickSearch();
  bool QuickSearchOpen() const;
  // The cursor bar is drawn: the panel or its quick-search field has the focus.
  bool ShowsCursor() const;
  QLineEdit* QuickSearchEdit() const { return quickSearch_; }
  // The first entry at or after `from` (before, when `step` is -1) whose name
  // matches the quick-search text; -1 when none does.
  int FindQuickSearch(const QString& text, int from, int step) const;

  // --- Geometry ---
  int ItemHeight() const { return itemHeight_; }
  int TopIndex() const;
  // Rows that fit wholly in the visible area (at least 1).
  int PageRows() const;
  // The entry index under a viewport point, or -1 below the last entry.
  int IndexAt(const QPoint& viewportPos) const;
  // The rectangle of row `index` in viewport coordinates.
  QRect RowRect(int index) const;

  // Row height for a character height in pixels: |height| * 1.3, rounded to
  // the nearest integer with halves going to the even neighbour.
  static int ItemHeightForCharHeight(int charHeight);
  // The character height in pixels of a font on a device of `dpiY`.
  static int CharHeightOf(const QFont& font, int dpiY);

  // --- Column widths, pixels; setting one repaints at once ---
  // NameWidth is the narrowest the name column gets: it takes whatever width
  // the other columns leave in the panel (ShownNameWidth).
  int NameWidth() const { return nameWidth_; }
  int ShownNameWidth() const;
  int ExtWidth() const { return extWidth_; }
  int SizeWidth() const { return sizeWidth_; }
  int DateWidth() const { return dateWidth_; }
  int TimeWidth() const { return timeWidth_; }
  void SetNameWidth(int value);
  void SetExtWidth(int value);
  void SetSizeWidth(int value);
  void SetDateWidth(int value);
  void SetTimeWidth(int value);

  // Widths that show, in the panel's font, a four-letter extension, a size of
  // 999,999,999,999, a whole date and a time: the widths of a settings file
  // that names none.
  struct TColumnWidths {
    int ext, size, date, time;
  };
  TColumnWidths FittingColumnWidths() const;
  // Gives the four columns after the name their fitting widths.
  void FitColumns();

  // --- The six colours (0x00BBGGRR or a system colour number) ---
  platform::TColor Color() const { return color_; }
  platform::TColor CursorColor() const { return cursorColor_; }
  platform::TColor FileColor() const { return fileColor_; }
  platform::TColor SelectedColor() const { return selectedColor_; }
  platform::TColor CurrentColor() const { return currentColor_; }
  platform::TColor CurSelColor() const { return curSelColor_; }
  void SetColor(platform::TColor value);
  void SetCursorColor(platform::TColor value);
  void SetFileColor(platform::TColor value);
  void SetSelectedColor(platform::TColor value);
  void SetCurrentColor(platform::TColor value);
  void SetCurSelColor(platform::TColor value);

  // The colours a row is painted with. A cursor colour equal to the
  // background (the default) gives a bar in the palette's highlight colour,
  // with the highlighted-text colour where the cursor text colours are those
  // of the other rows; the panel without the focus shows it faintly.
  struct TRowColors {
    QColor background, text;
  };
  TRowColors RowColors(bool cursor, bool marked, bool active) const;

  // A left click moves the cursor only (Ctrl+click marks, Shift+click marks
  // a range); with ClickMarks it also toggles the clicked entry's mark.
  bool ClickMarks() const { return clickMarks_; }
  void SetClickMarks(bool on) { clickMarks_ = on; }

 signals:
  // The panel got the keyboard focus.
  void entered();
  // A left double-click on an entry.
  void dblClick();
  // A right click on entry `index` (the cursor is already there), or the
  // Menu key or Shift+F10 on the cursor entry.
  void contextMenuRequested(int index, const QPoint& globalPos);
  // A read replaced the listing (directory line and drive may have changed).
  void directoryRead();
  // The listing changed under the panel: a live re-read or Reread, with the
  // cursor and the marks kept by name.
  void listingRefreshed();
  // The directory was deleted; the panel now shows its nearest existing parent.
  void directoryGone();
  // A reading that went on past ReadDirectory failed (the panel went back).
  void readingFailed(const QString& directory, const QString& error);
  // A reading finished: every row is in.
  void readingDone();
  // The cursor moved or a mark changed.
  void selectionChanged();
  // The columns' widths or the panel's width changed.
  void columnsChanged();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // What the reading thread hands over, waiting for the window's thread.
  struct TSliceQueue;
  bool StartReading(const std::string& path, std::string* error);
  void TakeSlices();
  // Applies one slice; false when the reading failed before it began.
  bool ApplySlice(TListingSlice&& slice);
  void RowsArrived();
  void StopReading();
  // Keys have to wait (see kTypeAheadMs).
  bool AwaitsRows() const;
  // Sends the held keys to the panel again, in order; or forgets them.
  void ReleaseHeldKeys();
  void DropHeldKeys();
  bool StartReread(const std::string& directory);
  void TakeSlicesOfReread();
  // Applies a finished reread; false when the directory is gone.
  bool TakeReread();
  void StopReread();
  void ListingChanged();
  void ListingRefreshed();
  void UpdateInfoLine();
  void MarksChanged();
  void QuickSearchKey(QKeyEvent* event);
  void PlaceQuickSearch();
  bool eventFilter(QObject* watched, QEvent* event) override;
  void DirectoryGone();
  void FontChanged();
  void UpdateScrollBars();
  void UpdateFileLine();
  void UpdateRow(int index);
  void PageMove(bool down);
  void LeftClick(int index, Qt::KeyboardModifiers mods);
  void ShowMenuAtCursor();
  void DrawRow(QPainter& painter, int index, const QRect& rect, bool cursor, bool active);
  void DrawCell(QPainter& painter, int left, int right, int top, const QString& text, bool bold);

  // A text laid out in the regular (files) or bold (directories) font, with
  // its width in pixels.
  struct TLaidOutText {
    QStaticText text;
    int width = 0;
  };
  const TLaidOutText& LaidOut(const QString& text, bool bold);
  // Bounded: past the limit the table starts afresh.
  static constexpr qsizetype kTextCacheLimit = 8192;

  TPanelModel model_;
  TLiveListing* live_ = nullptr;
  std::unique_ptr<TDirectoryReading> reading_;
  std::shared_ptr<TSliceQueue> slices_;
  std::unique_ptr<TDirectoryReading> reread_;  // the directory shown, read again
  std::shared_ptr<TSliceQueue> rereadSlices_;
  TDirectoryOpener opener_ = OpenLocalDirectory;
  std::string readPath_;          // the directory asked for
  std::string previousDir_;       // where Escape goes back to
  std::string previousCursor_;    // and the entry it puts the cursor on
  std::string wantedCursor_;      // PlaceCursorOn's name, until its row comes
  std::string rereadCursor_;      // PlaceCursorWhenListed's, until the reread comes
  bool cursorMoved_ = false;      // moved by hand since the reading (or the name) began
  std::chrono::steady_clock::time_point readingBegan_;
  struct THeldKey {
    int key;
    Qt::KeyboardModifiers modifiers;
    QString text;
  };
  std::vector<THeldKey> heldKeys_;
  QTimer* typeAhead_ = nullptr;  // releases the held keys when the wait is over
  QLineEdit* quickSearch_ = nullptr;
  int pageFrom_ = 0;  // the cursor before the last page move
  TInfoLine* dirPanel_ = nullptr;
  TInfoLine* filePanel_ = nullptr;
  TInfoLine* infoPanel_ = nullptr;

  int nameWidth_ = 100;
  int extWidth_ = 30;
  int sizeWidth_ = 70;
  int dateWidth_ = 70;
  int timeWidth_ = 70;

  platform::TColor color_ = platform::clWindow;
  platform::TColor cursorColor_ = platform::clWindow;
  platform::TColor fileColor_ = platform::clWindowText;
  platform::TColor selectedColor_ = platform::clRed;
  platform::TColor currentColor_ = platform::clWindowText;
  platform::TColor curSelColor_ = platform::clRed;

  bool clickMarks_ = false;

  int itemHeight_ = 17;
  QFont boldFont_;
  QFontMetrics boldMetrics_;
  QFontMetrics regularMetrics_;
  QHash<QString, TLaidOutText> texts_[2];  // regular, bold
};

}  // namespace vantrel::panels
