// fmpanel.cpp - drawing, geometry and input of the file panel control.
#include "panels/qt/fmpanel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPointer>
#include <QScrollBar>

#include "panels/panel_source.h"
#include "panels/qt/livelisting.h"
#include "platform/fs.h"
#include "platform/qt/icons.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"

namespace vantrel::panels {

using platform::ToDisplay;

TFMPanel::TFMPanel(QWidget* parent)
    : QAbstractScrollArea(parent), boldMetrics_(QFont()), regularMetrics_(QFont()) {
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  verticalScrollBar()->setSingleStep(1);
  typeAhead_ = new QTimer(this);
  typeAhead_->setSingleShot(true);
  connect(typeAhead_, &QTimer::timeout, this, &TFMPanel::ReleaseHeldKeys);

  model_.OnDirectoryLine = [this](const std::string& line) {
    if (dirPanel_ != nullptr) dirPanel_->SetPathText(ToDisplay(line));
  };
  model_.OnInfoLine = [this](const std::string&) { UpdateInfoLine(); };
  model_.OnListingChanged = [this] { ListingChanged(); };
  model_.OnListingRefreshed = [this] { ListingRefreshed(); };
  // A new order for a large listing comes from a thread of its own. The
  // model calls this only while it (and so this panel) is there; a call
  // queued for a panel that is gone is dropped.
  model_.PostToWindow = [this](std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
  };
  live_ = new TLiveListing(model_, this);
  connect(live_, &TLiveListing::directoryGone, this, &TFMPanel::DirectoryGone);
  FontChanged();
}

TFMPanel::~TFMPanel() {
  StopReading();
  delete live_;  // before the model it refreshes
  live_ = nullptr;
}

// The bridge between the reading thread and the window's: the thread queues
// slices and, once per batch, asks the window's thread to take them.
struct TFMPanel::TSliceQueue {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<TListingSlice> slices;
  bool wakePosted = false;
  bool done = false;
  std::string directory;  // a reread's: the listing it replaces

  // The sink a reading hands its slices to; `take` runs on the window's
  // thread once per batch, and not at all once the panel is gone.
  static TDirectoryReading::TSink Sink(const std::shared_ptr<TSliceQueue>& queue, QPointer<TFMPanel> self,
                                       void (TFMPanel::*take)()) {
    return [queue, self, take](TListingSlice&& slice) {
      std::lock_guard lock(queue->mutex);
      queue->done = queue->done || slice.done;
      queue->slices.push_back(std::move(slice));
      queue->arrived.notify_all();
      if (queue->wakePosted) return;
      queue->wakePosted = true;
      QMetaObject::invokeMethod(self.data(), [self, take] { if (self) (self.data()->*take)(); }, Qt::QueuedConnection);
    };
  }
  // Waits up to `limit` for the last slice.
  void WaitDone(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, limit, [&] { return done; });
  }
  std::deque<TListingSlice> Take() {
    std::deque<TListingSlice> ready;
    std::lock_guard lock(mutex);
    ready.swap(slices);
    wakePosted = false;
    return ready;
  }
};

void TFMPanel::SetDirectoryOpener(TDirectoryOpener opener) {
  opener_ = opener;
  live_->SetDirectoryOpener(std::move(opener));
}

bool TFMPanel::ReadDirectory(const std::string& path, std::string* error) {
  // The refresh after a command reads the directory again: a listing of its
  // own stays, with its entries examined again. Any other directory leaves it.
  if (model_.IsListing() && path == Directory()) return Reread();
  if (IsSchemePath(path)) {  // a place of no file, listed by its source
    StopReading();
    return model_.ReadDirectory(path, error);
  }
  // Places inside the source shown are at hand: nothing to wait for.
  for (std::shared_ptr<TPanelSource> s = model_.Source(); s != nullptr; s = s->Outer()) {
    std::string place;
    if (PlaceBelow(s->Root(), path, place)) {
      StopReading();
      return model_.ReadDirectory(path, error);
    }
  }
  return StartReading(path, error);
}

bool TFMPanel::StartReading(const std::string& path, std::string* error) {
  const std::string absolute =
      !path.empty() && path[0] == '/' ? path : platform::JoinPath(platform::GetCurrentDir(), path);
  if (!model_.Reading()) {
    // Escape goes back here; a reading that replaces another goes back to
    // where the first one started.
    const TFileEntry* current = CurrentEntry();
    previousDir_ = Directory();
    previousCursor_ = current != nullptr ? current->FileName : std::string();
  }
  StopReading();
  readPath_ = absolute;
  readingBegan_ = std::chrono::steady_clock::now();
  wantedCursor_.clear();
  cursorMoved_ = false;
  auto queue = std::make_shared<TSliceQueue>();
  slices_ = queue;
  reading_ = std::make_unique<TDirectoryReading>(absolute, model_.SortType(), model_.SortDescending(),
                                                 TSliceQueue::Sink(queue, this, &TFMPanel::TakeSlices), opener_);
  // A directory that answers at once is listed whole before returning, as
  // the callers expect; only a slow one is shown while it is read.
  queue->WaitDone(std::chrono::milliseconds(kReadWaitMs));
  std::deque<TListingSlice> ready = queue->Take();
  for (TListingSlice& slice : ready) {
    if (slice.done && !slice.error.empty() && !model_.Reading()) {
      // Not entered: perhaps a file shown as a folder, else the error.
      reading_.reset();
      slices_.reset();
      const std::string reason = slice.error;
      if (model_.ReadDirectory(absolute, error)) return true;
      if (error != nullptr && error->empty()) *error = reason;
      return false;
    }
    ApplySlice(std::move(slice));
  }
  // Nothing yet: the directory's own answer is awaited.
  if (reading_ != nullptr && !model_.Reading()) model_.BeginReading(absolute);
  if (!ready.empty()) RowsArrived();
  return true;
}

void TFMPanel::TakeSlices() {
  const std::shared_ptr<TSliceQueue> queue = slices_;
  if (queue == nullptr) return;
  std::deque<TListingSlice> ready = queue->Take();
  if (ready.empty()) return;
  for (TListingSlice& slice : ready) {
    if (!ApplySlice(std::move(slice))) {
      // The directory could not be entered after all: back to where the
      // panel was, and the window says why.
      const QString dir = ToDisplay(readPath_);
      const QString reason = ToDisplay(slice.error);
      CancelReading();
      emit readingFailed(dir, reason);
      return;
    }
    if (slices_ != nullptr && slices_ != queue) return;  // a new reading began meanwhile
  }
  RowsArrived();
}

bool TFMPanel::ApplySlice(TListingSlice&& slice) {
  if (slice.opened) {
    model_.BeginReading(slice.directory);
    return true;
  }
  if (slice.done && !slice.error.empty() && model_.Count() == 0) return false;
  if (!model_.Reading()) {
    // The listing was replaced by other means (a search's results, a
    // source): this reading is of no use any more.
    StopReading();
    return true;
  }
  model_.AddRows(std::move(slice.added), slice.positions);
  if (!slice.done) return true;
  reading_.reset();
  slices_.reset();
  model_.EndReading(std::move(slice.diskLine));
  live_->Follow(Directory());
  ReleaseHeldKeys();  // after the rows and the cursor are in
  emit readingDone();
  return true;
}

// New rows are in: the cursor stays on its entry and on its screen row as far
// as the list allows; a name asked for by PlaceCursorOn is looked for.
void TFMPanel::RowsArrived() {
  const int offset = Cursor() - TopIndex();
  UpdateScrollBars();
  if (!wantedCursor_.empty() && !cursorMoved_) {
    const int index = model_.IndexOfName(wantedCursor_);
    if (index > 0 || (Count() > 0 && Entries()[0]->FileName == wantedCursor_)) {
      wantedCursor_.clear();
      model_.SetCursor(index);
      verticalScrollBar()->setValue(std::max(0, index - PageRows() / 2));
    }
  } else {
    verticalScrollBar()->setValue(Cursor() - offset);
  }
  if (!model_.Reading()) wantedCursor_.clear();
  if (!heldKeys_.empty() && !AwaitsRows()) ReleaseHeldKeys();
  viewport()->update();
  UpdateFileLine();
  UpdateInfoLine();
}

void TFMPanel::StopReading() {
  if (reading_ != nullptr) reading_->Stop();
  reading_.reset();
  slices_.reset();
  StopReread();  // of the listing being replaced
}

void TFMPanel::StopReread() {
  if (reread_ != nullptr) reread_->Stop();
  reread_.reset();
  rereadSlices_.reset();
  rereadCursor_.clear();
}

bool TFMPanel::StartReread(const std::string& directory) {
  StopReread();
  auto queue = std::make_shared<TSliceQueue>();
  queue->directory = directory;
  rereadSlices_ = queue;
  reread_ = std::make_unique<TDirectoryReading>(directory, model_.SortType(), model_.SortDescending(),
                                                TSliceQueue::Sink(queue, this, &TFMPanel::TakeSlicesOfReread), opener_,
                                                TDirectoryReading::TPace::Whole);
  // A directory that answers at once is current when this returns, as the
  // commands that change it expect.
  queue->WaitDone(std::chrono::milliseconds(kReadWaitMs));
  return TakeReread();
}

void TFMPanel::TakeSlicesOfReread() { TakeReread(); }

bool TFMPanel::TakeReread() {
  const std::shared_ptr<TSliceQueue> queue = rereadSlices_;
  if (queue == nullptr) return true;
  for (TListingSlice& slice : queue->Take()) {
    if (!slice.done) continue;
    reread_.reset();
    rereadSlices_.reset();
    if (!slice.error.empty()) {
      // Gone, or it failed part of the way: a listing with holes would
      // show files as deleted that are not.
      if (!model_.Reading() && Directory() == queue->directory && !platform::IsDirectory(queue->directory)) {
        DirectoryGone();
        return false;
      }
      return true;
    }
    // Nothing happens when the panel went elsewhere meanwhile.
    const std::string wanted = std::move(rereadCursor_);
    rereadCursor_.clear();
    if (!model_.Refresh(queue->directory, std::move(slice.added), std::move(slice.diskLine))) return true;
    // Read in an order changed since: put in the one shown.
    if (slice.sortType != model_.SortType() || slice.descending != model_.SortDescending())
      model_.SetSortOrder(model_.SortType(), model_.SortDescending());
    if (!wanted.empty() && !cursorMoved_) PlaceCursorWhenListed(wanted);
    return true;
  }
  return true;
}

void TFMPanel::CancelReading() {
  if (!model_.Reading() && reading_ == nullptr) return;
  DropHeldKeys();  // they were typed for the directory given up
  StopReading();
  const std::string back = previousDir_.empty() ? platform::NearestExistingDirectory("/") : previousDir_;
  const std::string name = previousCursor_;
  if (!ReadDirectory(back)) ReadDirectory(platform::NearestExistingDirectory(back));
  if (!name.empty()) PlaceCursorOn(name);
}

void TFMPanel::PlaceCursorOn(const std::string& name) {
  const int index = IndexOfName(name);
  if (index > 0 || (Count() > 0 && Entries()[0]->FileName == name)) {
    SetCursor(index);
    return;
  }
  SetCursor(0);
  if (model_.Reading()) {
    wantedCursor_ = name;
    cursorMoved_ = false;
  }
}

void TFMPanel::PlaceCursorWhenListed(const std::string& name) {
  const int index = IndexOfName(name);
  if (index > 0 || (Count() > 0 && Entries()[0]->FileName == name)) {
    SetCursor(index);
    return;
  }
  if (reread_ != nullptr) {
    rereadCursor_ = name;
    cursorMoved_ = false;
  } else if (model_.Reading()) {
    wantedCursor_ = name;
    cursorMoved_ = false;
  }
}

void TFMPanel::SetSortType(uint8_t value) {
  model_.SetSortType(value);
  if (model_.Reading()) StartReading(readPath_, nullptr);
}

void TFMPanel::SortEntries(uint8_t order) {
  model_.SortEntries(order);
  viewport()->update();
  UpdateFileLine();
}

void TFMPanel::ShowListing(const std::string& directory, const std::string& title,
                           TPanelModel::Entries entries) {
  model_.ShowListing(directory, title, std::move(entries));
}

bool TFMPanel::Reread() {
  const std::string dir = Directory();
  if (dir.empty()) return false;
  if (model_.Reading()) return true;  // what the reading finds is current already
  if (model_.IsListing()) {
    model_.RestatListing();
    return true;
  }
  if (!model_.InSource()) {
    live_->Follow(dir);  // a live re-read under way would only repeat this one
    return StartReread(dir);
  }
  TPanelModel::Entries entries;
  std::string diskLine;
  if (!model_.ListAgain(entries, diskLine)) {
    DirectoryGone();
    return false;
  }
  return model_.Refresh(dir, std::move(entries), std::move(diskLine));
}

void TFMPanel::SetLive(bool live) { live_->SetEnabled(live); }

bool TFMPanel::Live() const { return live_->Enabled(); }

// The cursor and the marks were kept by name; the rows around the cursor stay
// where they were on screen as far as the list allows.
void TFMPanel::ListingRefreshed() {
  const int offset = Cursor() - TopIndex();
  UpdateScrollBars();
  verticalScrollBar()->setValue(Cursor() - offset);
  SetCursor(Cursor());
  viewport()->update();
  UpdateFileLine();
  UpdateInfoLine();
  emit listingRefreshed();
}

void TFMPanel::DirectoryGone() {
  const std::string dir = Directory();
  if (model_.InSource()) {
    // A place inside the source that is no more: its root, else the
    // directory the source's file is in.
    const std::string root = model_.Source()->Root();
    if (dir != root && ReadDirectory(root)) return;
    ReadDirectory(platform::NearestExistingDirectory(root));
    emit directoryGone();
    return;
  }
  if (platform::IsDirectory(dir)) {
    // Moved away and something else took its name: show what is there now.
    ReadDirectory(dir);
    return;
  }
  const std::string parent = platform::NearestExistingDirectory(dir);
  if (!ReadDirectory(parent)) return;
  // The cursor on the entry that led towards the directory that went away.
  const size_t from = Directory() == "/" ? 1 : Directory().size() + 1;
  if (dir.size() > from) {
    const std::string child = dir.substr(from, dir.find('/', from) - from);
    const int index = IndexOfName(child);
    if (index > 0 || (Count() > 0 && Entries()[0]->FileName == child)) SetCursor(index);
  }
  emit directoryGone();
}

// Every read rebuilds the listing: no marks, cursor on the first entry.
void TFMPanel::ListingChanged() {
  // A directory being read is watched once all of it is in.
  live_->Follow(model_.InSource() || model_.Reading() ? std::string() : Directory());
  UpdateScrollBars();
  verticalScrollBar()->setValue(0);
  viewport()->update();
  UpdateFileLine();
  emit directoryRead();
}

// ---------------------------------------------------------------------------
// Geometry

int TFMPanel::ItemHeightForCharHeight(int charHeight) {
  // Exact integer arithmetic: |h| * 13 / 10, halves to the even neighbour.
  const int tenths = std::abs(charHeight) * 13;
  int rows = tenths / 10;
  const int rest = tenths % 10;
  if (rest > 5 || (rest == 5 && (rows % 2) != 0)) ++rows;
  return rows;
}

int TFMPanel::CharHeightOf(const QFont& font, int dpiY) {
  if (font.pixelSize() > 0) return font.pixelSize();
  // A point size becomes pixels as the desktop does: size * dpi / 72, rounded.
  return static_cast<int>(font.pointSizeF() * dpiY / 72.0 + 0.5);
}

void TFMPanel::FontChanged() {
  boldFont_ = font();
  boldFont_.setBold(true);
  boldMetrics_ = QFontMetrics(boldFont_);
  regularMetrics_ = QFontMetrics(font());
  for (auto& texts : texts_) texts.clear();
  itemHeight_ = std::max(1, ItemHeightForCharHeight(CharHeightOf(font(), logicalDpiY())));
  // Texts of the new size in columns of the old one would be cut.
  FitColumns();
  UpdateScrollBars();
  viewport()->update();
}

void TFMPanel::FitColumns() {
  const TColumnWidths fit = FittingColumnWidths();
  extWidth_ = fit.ext;
  sizeWidth_ = fit.size;
  dateWidth_ = fit.date;
  timeWidth_ = fit.time;
  viewport()->update();
  emit columnsChanged();
}

int TFMPanel::ShownNameWidth() const {
  // Each column after the name starts one pixel right of the previous edge.
  const int others = extWidth_ + sizeWidth_ + dateWidth_ + timeWidth_ + 4;
  return std::max(nameWidth_, viewport()->width() - others - 1);
}

TFMPanel::TColumnWidths TFMPanel::FittingColumnWidths() const {
  // A cell starts one pixel right of the previous edge; a few pixels more keep
  // neighbouring texts apart.
  constexpr int kGap = 6;
  const auto fit = [this](const std::string& text) {
    return boldMetrics_.horizontalAdvance(QString::fromStdString(text)) + kGap;
  };
  TFileEntry big;
  big.FileSize = 999999999999ULL;
  // The last second of a year: two-digit day and month, the latest hour.
  const platform::FileTime late = platform::FileTimeFromUnix(1767225599, 0);
  return {std::max(fit(".jpeg"), fit(".JPEG")),
          fit(SizeText(big)),
          fit(DateText(late)),
          fit(TimeText(late))};
}

int TFMPanel::TopIndex() const { return verticalScrollBar()->value(); }

int TFMPanel::PageRows() const { return std::max(1, viewport()->height() / itemHeight_); }

int TFMPanel::IndexAt(const QPoint& pos) const {
  if (pos.y() < 0) return -1;
  const int index = TopIndex() + pos.y() / itemHeight_;
  return index < Count() ? index : -1;
}

QRect TFMPanel::RowRect(int index) const {
  return QRect(0, (index - TopIndex()) * itemHeight_, viewport()->width(), itemHeight_);
}

void TFMPanel::UpdateScrollBars() {
  const int page = PageRows();
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(page);
  bar->setRange(0, std::max(0, Count() - page));
}

void TFMPanel::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  PlaceQuickSearch();
  emit columnsChanged();
}

void TFMPanel::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) FontChanged();
  if (event->type() == QEvent::PaletteChange) viewport()->update();
}

void TFMPanel::scrollContentsBy(int, int dy) {
  // Move the pixels already drawn; only the rows scrolled in are painted.
  if (std::abs(dy) < PageRows())
    viewport()->scroll(0, dy * itemHeight_);
  else
    viewport()->update();
}

void TFMPanel::UpdateRow(int index) {
  if (index < 0 || index >= Count()) return;
  const int top = TopIndex();
  if (index < top || index > top + PageRows()) return;  // not on screen
  viewport()->update(RowRect(index));
}

// ---------------------------------------------------------------------------
// Widths and colours

#define VANTREL_WIDTH_SETTER(Name, member) \
  void TFMPanel::Set##Name(int value) {     \
    member = value;                         \
    viewport()->update();                   \
    emit columnsChanged();                  \
  }
VANTREL_WIDTH_SETTER(NameWidth, nameWidth_)
VANTREL_WIDTH_SETTER(ExtWidth, extWidth_)
VANTREL_WIDTH_SETTER(SizeWidth, sizeWidth_)
VANTREL_WIDTH_SETTER(DateWidth, dateWidth_)
VANTREL_WIDTH_SETTER(TimeWidth, timeWidth_)
#undef VANTREL_WIDTH_SETTER

#define VANTREL_COLOR_SETTER(Name, member)          \
  void TFMPanel::Set##Name(platform::TColor value) { \
    member = value;                                  \
    viewport()->update();                            \
  }
VANTREL_COLOR_SETTER(Color, color_)
VANTREL_COLOR_SETTER(CursorColor, cursorColor_)
VANTREL_COLOR_SETTER(FileColor, fileColor_)
VANTREL_COLOR_SETTER(SelectedColor, selectedColor_)
VANTREL_COLOR_SETTER(CurrentColor, currentColor_)
VANTREL_COLOR_SETTER(CurSelColor, curSelColor_)
#undef VANTREL_COLOR_SETTER

// ---------------------------------------------------------------------------
// Cursor and marks

void TFMPanel::SetCursor(int index) {
  if (Count() == 0) return;
  index = std::clamp(index, 0, Count() - 1);
  const int old = Cursor();
  model_.SetCursor(index);
  // Scroll just enough to show the cursor row whole.
  const int top = TopIndex();
  const int page = PageRows();
  if (index < top)
    verticalScrollBar()->setValue(index);
  else if (index >= top + page)
    verticalScrollBar()->setValue(index - page + 1);
  if (old != index) {
    cursorMoved_ = true;
    UpdateRow(old);
    UpdateRow(index);
    UpdateFileLine();
    emit selectionChanged();
  }
}

void TFMPanel::SetMarked(int index, bool marked) {
  if (index < 0 || index >= Count() || IsMarked(index) == marked) return;
  model_.SetMarked(index, marked);
  UpdateRow(index);
  UpdateInfoLine();
  emit selectionChanged();
}

// The disk-space line, preceded by the marks' count and size while any entry
// is marked. A narrow panel shortens the disk-space line first (an archive's
// read-only reason comes last), then the marks' bytes, then their wording.
void TFMPanel::UpdateInfoLine() {
  if (infoPanel_ == nullptr) return;
  TInfoText line;
  line.rest = ToDisplay(model_.DiskLine());
  if (const int marked = model_.MarkedCount(); marked > 0) {
    const TLinePieces marks = MarkedLinePieces(marked, model_.MarkedBytes());
    line.head = ToDisplay(marks.head), line.count = ToDisplay(marks.middle), line.tail = ToDisplay(marks.tail);
  }
  infoPanel_->SetLine(line);
}

void TFMPanel::MarksChanged() {
  viewport()->update();
  UpdateInfoLine();
  emit selectionChanged();
}

void TFMPanel::RewordLines() {
  model_.RewordDiskLine();  // the info line follows through OnInfoLine
  UpdateFileLine();
}

namespace {

// A line about the entry `name` as the file line shows it: a narrow panel
// shortens the name, keeping its extension.
TEntryText ShownEntryLine(const TLinePieces& line, bool directory) {
  const std::string ending = directory ? std::string() : ExtensionOf(line.middle);
  return {ToDisplay(line.head), ToDisplay(line.middle), ToDisplay(line.tail), ToDisplay(ending)};
}

}  // namespace

// The information line follows the cursor while the panel has the focus.
void TFMPanel::UpdateFileLine() {
  if (filePanel_ == nullptr || !ShowsCursor()) return;
  const TFileEntry* entry = CurrentEntry();
  if (entry == nullptr) return;
  const std::string line =
      model_.InSource() && !entry->IsDotDot() ? model_.Source()->EntryLine(*entry) : std::string();
  filePanel_->SetEntryLine(
      ShownEntryLine(line.empty() ? InfoLinePieces(*entry) : EntryLinePieces(*entry, line), entry->IsDirectory()));
}

void TFMPanel::ShowSizeLine(const TFileEntry& entry, uint64_t bytes) {
  if (filePanel_ == nullptr) return;
  const TPanelTexts texts = PanelTexts();
  const std::string_view form = CountedForm(texts, texts.sizeLine, bytes);
  filePanel_->SetEntryLine(
      ShownEntryLine(FillInPieces(form, entry.FileName, platform::FormatThousands(bytes)), entry.IsDirectory()));
}

// ---------------------------------------------------------------------------
// Drawing

void TFMPanel::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const QRect area = event->rect();
  const int top = TopIndex();
  const int first = top + std::max(0, area.top()) / itemHeight_;
  const int last = std::min(Count() - 1, top + area.bottom() / itemHeight_);
  const bool active = ShowsCursor();

  // Below the last entry there is only the panel's own background.
  const int filledBottom = (last - top + 1) * itemHeight_;
  if (filledBottom <= area.bottom())
    painter.fillRect(QRect(area.left(), filledBottom, area.width(), area.bottom() - filledBottom + 1),
                     platform::ColorToQColor(color_, palette()));

  for (int i = first; i <= last; ++i) DrawRow(painter, i, RowRect(i), i == Cursor(), active);
  if (Count() == 0 && model_.Reading()) {
    painter.setPen(platform::ColorToQColor(fileColor_, palette()));
    painter.drawText(RowRect(0).adjusted(platform::kSmallIconSize + 2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     ToDisplay(PanelTexts().reading));
  }
}

namespace {

QString FromStd(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

const TFMPanel::TLaidOutText& TFMPanel::LaidOut(const QString& text, bool bold) {
  QHash<QString, TLaidOutText>& texts = texts_[bold ? 1 : 0];
  if (const auto hit = texts.constFind(text); hit != texts.constEnd()) return *hit;
  if (texts.size() >= kTextCacheLimit) texts.clear();
  TLaidOutText laid{QStaticText(text), 0};
  laid.text.setTextFormat(Qt::PlainText);
  laid.text.setTextWidth(-1);
  laid.text.prepare(QTransform(), bold ? boldFont_ : font());
  laid.width = static_cast<int>(std::ceil(laid.text.size().width()));
  return *texts.insert(text, laid);
}

// One cell's text: left-aligned at the top, one line, cut with an ellipsis
// when it does not fit. Sizes, dates, times and extensions repeat from row to
// row, so each distinct text is laid out once and then only drawn.
void TFMPanel::DrawCell(QPainter& painter, int left, int right, int top, const QString& text,
                        bool bold) {
  const int width = right - left;
  if (width <= 0 || text.isEmpty()) return;
  const TLaidOutText* laid = &LaidOut(text, bold);
  if (laid->width > width) {
    const QString cut = (bold ? boldMetrics_ : regularMetrics_).elidedText(text, Qt::ElideRight, width);
    if (cut.isEmpty()) return;
    laid = &LaidOut(cut, bold);
  }
  painter.setFont(bold ? boldFont_ : font());
  painter.drawStaticText(left, top, laid->text);
}

namespace {

// `a` moved towards `b` by `share` (0: a, 1: b).
QColor Mix(const QColor& a, const QColor& b, double share) {
  const auto mix = [share](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * share)); };
  return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

}  // namespace

TFMPanel::TRowColors TFMPanel::RowColors(bool cursor, bool marked, bool active) const {
  const QPalette& pal = palette();
  const QColor back = platform::ColorToQColor(color_, pal);
  QColor text = platform::ColorToQColor(marked ? selectedColor_ : fileColor_, pal);
  // Pure red on a dark background is hard to read: the default mark colour
  // is lightened there.
  if (marked && selectedColor_ == platform::clRed && back.lightness() < 128) text = QColor(255, 110, 110);
  if (!cursor) return {back, text};
  const bool bar = cursorColor_ == color_;
  const QColor barColor =
      bar ? pal.color(QPalette::Active, QPalette::Highlight) : platform::ColorToQColor(cursorColor_, pal);
  if (!active) return {Mix(back, barColor, 0.3), text};
  if (!bar) return {barColor, platform::ColorToQColor(marked ? curSelColor_ : currentColor_, pal)};
  const QColor onBar = pal.color(QPalette::Active, QPalette::HighlightedText);
  if (marked)
    return {barColor, curSelColor_ == selectedColor_ ? Mix(text, onBar, 0.45)
                                                     : platform::ColorToQColor(curSelColor_, pal)};
  return {barColor, currentColor_ == fileColor_ ? onBar : platform::ColorToQColor(currentColor_, pal)};
}

void TFMPanel::DrawRow(QPainter& painter, int index, const QRect& rect, bool cursor, bool active) {
  const TFileEntry& entry = *Entries()[static_cast<size_t>(index)];
  const TRowColors colors = RowColors(cursor, IsMarked(index), active);
  painter.fillRect(rect, colors.background);
  painter.setPen(colors.text);

  // Cells: the name after the 16-pixel icon, then each column one pixel
  // right of the previous one's edge.
  const int left = rect.left();
  const int top = rect.top() + std::max(0, (rect.height() - regularMetrics_.height()) / 2);
  const int nameRight = left + ShownNameWidth();
  const int extLeft = nameRight + 1;
  const int sizeLeft = extLeft + extWidth_ + 1;
  const int dateLeft = sizeLeft + sizeWidth_ + 1;
  const int timeLeft = dateLeft + dateWidth_ + 1;

  // Directories stand out by their icon and a bold name.
  const bool dir = entry.IsDirectory();
  DrawCell(painter, left + platform::kSmallIconSize + 2, nameRight, top, ToDisplay(NameText(entry)), dir);
  DrawCell(painter, extLeft, extLeft + extWidth_, top, ToDisplay(ExtText(entry)), false);
  DrawCell(painter, sizeLeft, sizeLeft + sizeWidth_, top, FromStd(SizeText(entry)), false);
  DrawCell(painter, dateLeft, dateLeft + dateWidth_, top, FromStd(DateText(entry.LastWriteTime)), false);
  DrawCell(painter, timeLeft, timeLeft + timeWidth_, top, FromStd(TimeText(entry.LastWriteTime)), false);

  // The icon centred in the row's height.
  const QPixmap& icon = platform::SmallFileIcon(entry.FileName, dir);
  painter.drawPixmap(QRect(left, rect.top() + (rect.height() - platform::kSmallIconSize) / 2, platform::kSmallIconSize,
                           platform::kSmallIconSize),
                     icon);
}

// ---------------------------------------------------------------------------
// Input: the keys and clicks of a multiple-selection list box

void TFMPanel::PageMove(bool down) {
  pageFrom_ = Cursor();
  // The cursor first goes to the last (first) row on screen; from there a
  // page is the visible rows less one, so one row stays in sight.
  const int page = PageRows();
  const int top = TopIndex();
  const int cursor = Cursor();
  if (down) {
    const int bottom = top + page - 1;
    SetCursor(cursor < bottom ? bottom : cursor + std::max(1, page - 1));
  } else {
    SetCursor(cursor > top ? top : cursor - std::max(1, page - 1));
  }
}

bool TFMPanel::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // Alt with a letter or digit is the quick search here, before any
    // menu's underlined letter.
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier && !key->text().isEmpty() &&
        key->text().at(0).isLetterOrNumber()) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

bool TFMPanel::HoldKey(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Escape:  // cancels the reading
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr:
      return false;
    default:
      break;
  }
  if (!heldKeys_.empty()) {  // the later keys keep their place behind them
    heldKeys_.push_back({key.key(), key.modifiers(), key.text()});
    return true;
  }
  if (!AwaitsRows()) return false;
  const auto waited = std::chrono::steady_clock::now() - readingBegan_;
  const auto wait = std::chrono::milliseconds(kTypeAheadMs);
  if (waited >= wait) return false;
  heldKeys_.push_back({key.key(), key.modifiers(), key.text()});
  typeAhead_->start(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait - waited).count()));
  return true;
}

bool TFMPanel::AwaitsRows() const {
  if (!model_.Reading()) return false;
  // Nothing to act on yet but "..", or not yet the row the cursor goes to.
  return Count() <= 1 || (!wantedCursor_.empty() && !cursorMoved_);
}

void TFMPanel::ReleaseHeldKeys() {
  typeAhead_->stop();
  std::vector<THeldKey> keys;
  keys.swap(heldKeys_);
  // Posted, so that they come in through whoever watches the panel's keys
  // and after what is already queued; a key that starts another slow
  // reading holds those behind it again.
  for (const THeldKey& k : keys)
    QCoreApplication::postEvent(this, new QKeyEvent(QEvent::KeyPress, k.key, k.modifiers, k.text));
}

void TFMPanel::DropHeldKeys() {
  typeAhead_->stop();
  heldKeys_.clear();
}

void TFMPanel::keyPressEvent(QKeyEvent* event) {
  if (HoldKey(*event)) return;
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  // Quick search: Ctrl+S, or Alt with a letter, which then stands in the field.
  if (event->key() == Qt::Key_S && mods == Qt::ControlModifier) {
    OpenQuickSearch();
    return;
  }
  if (mods == Qt::AltModifier && !event->text().isEmpty() && event->text().at(0).isLetterOrNumber()) {
    OpenQuickSearch(event->text());
    return;
  }
  if (event->key() == Qt::Key_Escape && mods == Qt::NoModifier && model_.Reading()) {
    CancelReading();
    event->accept();
    return;
  }
  if (Count() == 0) {
    QAbstractScrollArea::keyPressEvent(event);
    return;
  }
  const bool gray = (event->modifiers() & Qt::KeypadModifier) != 0;
  if (gray && event->key() == Qt::Key_Asterisk && mods == Qt::NoModifier) {
    InvertFileMarks();
    return;
  }
  if (event->key() == Qt::Key_A && mods == Qt::ControlModifier) {
    MarkAllFiles();
    return;
  }
  int target = -1;
  switch (event->key()) {
    case Qt::Key_Up: target = Cursor() - 1; break;
    case Qt::Key_Down: target = Cursor() + 1; break;
    case Qt::Key_PageUp: PageMove(false); break;
    case Qt::Key_PageDown: PageMove(true); break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = Count() - 1; break;
    case Qt::Key_Space: ToggleMark(Cursor()); break;
    case Qt::Key_Menu: ShowMenuAtCursor(); break;
    case Qt::Key_F10:
      if (event->modifiers() != Qt::ShiftModifier) {
        event->ignore();
        return;
      }
      ShowMenuAtCursor();
      break;
    default:
      // Everything else goes to the window (Enter, Insert, F8 and the rest).
      event->ignore();
      return;
  }
  if (mods == Qt::ShiftModifier && (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown)) {
    // The page move above has placed the cursor; mark what it passed.
    const int to = Cursor();
    model_.SetCursor(pageFrom_);
    MoveMarking(to);
  } else if (target >= 0 || event->key() == Qt::Key_Up) {
    if (mods == Qt::ShiftModifier)
      MoveMarking(target, event->key() == Qt::Key_Home || event->key() == Qt::Key_End);
    else
      SetCursor(target);
  }
  event->accept();
}

void TFMPanel::mousePressEvent(QMouseEvent* event) {
  const int index = IndexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton) {
    if (index >= 0) LeftClick(index, event->modifiers());
  } else if (event->button() == Qt::RightButton) {
    // The cursor goes to the entry; the marks stay as they are.
    if (index >= 0) {
      SetCursor(index);
      emit contextMenuRequested(index, event->globalPosition().toPoint());
    }
  }
  event->accept();
}

// A plain click moves the cursor; Ctrl+click toggles the mark; Shift+click
// marks every entry from the cursor to the clicked one.
void TFMPanel::LeftClick(int index, Qt::KeyboardModifiers mods) {
  mods &= Qt::ShiftModifier | Qt::ControlModifier;
  if (mods == Qt::ShiftModifier) {
    const int from = std::min(Cursor(), index);
    const int to = std::max(Cursor(), index);
    for (int i = from; i <= to; ++i)
      if (!Entries()[static_cast<size_t>(i)]->IsDotDot()) model_.SetMarked(i, true);
    SetCursor(index);
    MarksChanged();
    return;
  }
  SetCursor(index);
  if (mods == Qt::ControlModifier || clickMarks_) ToggleMark(index);
}

// The Menu key and Shift+F10: the menu opens below the cursor row's name.
void TFMPanel::ShowMenuAtCursor() {
  const QRect row = RowRect(Cursor());
  emit contextMenuRequested(Cursor(), viewport()->mapToGlobal(QPoint(row.left() + 2 * platform::kSmallIconSize, row.bottom())));
}

void TFMPanel::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of the double-click has already been delivered (with
  // ClickMarks it toggled the mark back); only the double-click itself is
  // left to report.
  event->accept();
  if (event->button() == Qt::LeftButton && IndexAt(event->position().toPoint()) >= 0)
    emit dblClick();
}

void TFMPanel::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  UpdateRow(Cursor());
  UpdateFileLine();
  emit entered();
}

void TFMPanel::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  UpdateRow(Cursor());
}

}  // namespace vantrel::panels
