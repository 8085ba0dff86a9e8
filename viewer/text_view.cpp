// text_view.cpp - layout, painting and scrolling of the text mode.
#include "viewer/text_view.h"

#include <algorithm>
#include <cmath>

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>

namespace vantrel::viewer {

namespace {

constexpr int kTabWidth = 8;
constexpr qsizetype kLineCacheLimit = 4096;
constexpr int kMargin = 4;
// The vertical bar covers at most this many steps; larger files scale.
constexpr uint64_t kBarSteps = 1u << 30;

}  // namespace

QString ShownText(const QString& raw) {
  QString shown;
  shown.reserve(raw.size());
  for (QChar c : raw) {
    const char16_t u = c.unicode();
    if (u == '\t') {
      shown.append(QString(kTabWidth - shown.size() % kTabWidth, QLatin1Char(' ')));
    } else if (u < 0x20 || u == 0x7F) {
      shown.append(QChar(0x00B7));
    } else {
      shown.append(c);
    }
  }
  return shown;
}

TTextView::TTextView(TViewDocument& document, QWidget* parent)
    : TRowScrollArea(parent), doc_(document) {
  setObjectName(QStringLiteral("TextView"));
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  FontChanged();
  top_.offset = doc_.TextStart();
  UpdateScrollBars();
}

void TTextView::FontChanged() {
  const QFontMetrics fm(font());
  // A column is one character's advance, which may be a fraction of a pixel.
  charWidth_ = std::max<qreal>(1, QFontMetricsF(font()).horizontalAdvance(QLatin1Char('M')));
  lineHeight_ = std::max(1, fm.height());
  endTop_.reset();
  viewport()->update();
}

void TTextView::changeEvent(QEvent* event) {
  TRowScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) FontChanged();
}

void TTextView::SetWrap(bool wrap) {
  if (wrap == wrap_) return;
  wrap_ = wrap;
  top_.row = 0;
  endTop_.reset();
  setHorizontalScrollBarPolicy(wrap_ ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
  ClampTop();
  UpdateScrollBars();
  viewport()->update();
  emit positionChanged();
}

void TTextView::DocumentChanged() {
  lines_.clear();
  endTop_.reset();
  hit_.reset();
  maxColumns_ = 0;
  top_ = {doc_.LineStartAt(top_.offset), 0};
  ClampTop();
  UpdateScrollBars();
  viewport()->update();
  emit positionChanged();
}

int TTextView::PageRows() const { return std::max(1, viewport()->height() / lineHeight_); }

int TTextView::Columns() const {
  return std::max(1, static_cast<int>((viewport()->width() - 2 * kMargin) / charWidth_));
}

// ---------------------------------------------------------------------------
// Lines and rows

const TTextView::TLine& TTextView::LineAt(uint64_t start) {
  if (const auto hit = lines_.constFind(start); hit != lines_.constEnd()) return *hit;
  if (lines_.size() >= kLineCacheLimit) lines_.clear();
  TLine line;
  line.end = doc_.NextLineStart(start);
  line.raw = doc_.LineText(start, line.end);
  line.shown = ShownText(line.raw);
  return *lines_.insert(start, line);
}

int64_t TTextView::RowsOf(uint64_t start) {
  if (!wrap_) return 1;
  const qsizetype length = LineAt(start).shown.size();
  return std::max<int64_t>(1, (length + Columns() - 1) / Columns());
}

// Moves `pos` by `rows` rows; false when it stopped early at either end.
bool TTextView::Step(TPos& pos, int64_t rows) {
  for (; rows > 0; --rows) {
    if (pos.row + 1 < RowsOf(pos.offset)) {
      ++pos.row;
      continue;
    }
    const uint64_t next = doc_.NextLineStart(pos.offset);
    if (next >= doc_.Size()) return false;
    pos = {next, 0};
  }
  for (; rows < 0; ++rows) {
    if (pos.row > 0) {
      --pos.row;
      continue;
    }
    if (pos.offset <= doc_.TextStart()) return false;
    const uint64_t prev = doc_.PrevLineStart(pos.offset);
    pos = {prev, RowsOf(prev) - 1};
  }
  return true;
}

// The top position that shows the last row at the bottom of the screen.
TTextView::TPos TTextView::EndTop() {
  if (!endTop_) {
    const uint64_t last = doc_.LastLineStart();
    TPos pos{last, RowsOf(last) - 1};
    Step(pos, -(PageRows() - 1));
    endTop_ = pos;
  }
  return *endTop_;
}

void TTextView::ClampTop() {
  const TPos end = EndTop();
  if (end < top_) top_ = end;
  if (top_.offset < doc_.TextStart()) top_ = {doc_.TextStart(), 0};
}

void TTextView::SetTop(TPos pos) {
  top_ = pos;
  ClampTop();
  UpdateScrollBars();
  viewport()->update();
  emit positionChanged();
}

std::vector<TTextView::TRow> TTextView::Layout() {
  std::vector<TRow> rows;
  const int page = PageRows() + 1;  // the partly visible row at the bottom too
  const int columns = Columns();
  TPos pos = top_;
  while (static_cast<int>(rows.size()) < page && pos.offset < doc_.Size()) {
    const TLine& line = LineAt(pos.offset);
    if (wrap_) {
      const int first = static_cast<int>(pos.row * columns);
      rows.push_back({pos.offset, pos.row, line.shown.mid(first, columns), first});
    } else {
      rows.push_back({pos.offset, 0, line.shown, 0});
    }
    if (!Step(pos, 1)) break;
  }
  if (rows.empty() && doc_.Size() <= doc_.TextStart()) rows.push_back({doc_.TextStart(), 0, {}, 0});
  return rows;
}

QStringList TTextView::VisibleRows() {
  QStringList texts;
  const int page = PageRows();
  for (const TRow& row : Layout()) {
    if (texts.size() >= page) break;
    texts << row.text;
  }
  return texts;
}

uint64_t TTextView::BottomOffset() {
  const std::vector<TRow> rows = Layout();
  if (rows.empty()) return doc_.Size();
  const size_t shown = std::min<size_t>(rows.size(), static_cast<size_t>(PageRows()));
  return LineAt(rows[shown - 1].lineStart).end;
}

bool TTextView::AtEnd() { return !(top_ < EndTop()); }

// ---------------------------------------------------------------------------
// Scrolling

void TTextView::ScrollRows(int64_t rows) {
  TPos pos = top_;
  const TPos end = EndTop();
  if (rows > 0) {
    for (int64_t i = 0; i < rows && pos < end; ++i)
      if (!Step(pos, 1)) break;
  } else {
    Step(pos, rows);
  }
  SetTop(pos);
}

void TTextView::ScrollToStart() { SetTop({doc_.TextStart(), 0}); }

void TTextView::ScrollToEnd() { SetTop(EndTop()); }

void TTextView::ShowOffset(uint64_t pos, bool atTop) {
  const uint64_t start = doc_.LineStartAt(pos);
  int64_t row = 0;
  if (wrap_) {
    // The row that holds `pos`: the columns before it, tabs expanded.
    const TLine& line = LineAt(start);
    const QString before = doc_.LineText(start, std::min(pos, line.end));
    const qsizetype column = ShownText(line.raw.left(before.size())).size();
    row = std::min<int64_t>(column / Columns(), RowsOf(start) - 1);
  }
  const TPos target{start, row};
  if (atTop) {
    SetTop(target);
    return;
  }
  if (!(target < top_)) {
    // Already on screen?
    TPos probe = top_;
    for (int i = 0; i < PageRows(); ++i) {
      if (probe.offset == target.offset && probe.row == target.row) {
        viewport()->update();
        return;
      }
      if (!Step(probe, 1)) break;
    }
  }
  TPos newTop = target;
  Step(newTop, -std::min(3, PageRows() / 3));  // some lines of context above
  SetTop(newTop);
}

void TTextView::SetHit(std::optional<TTextHit> hit) {
  hit_ = hit;
  if (hit_) {
    ShowOffset(hit_->offset);
    if (!wrap_) {
      // Bring the hit's columns into view horizontally.
      const uint64_t start = doc_.LineStartAt(hit_->offset);
      int first = 0, last = 0;
      if (HitColumns(start, LineAt(start), first, last)) {
        QScrollBar* bar = horizontalScrollBar();
        const int x0 = static_cast<int>(first * charWidth_), x1 = static_cast<int>(std::ceil(last * charWidth_));
        const int width = viewport()->width() - 2 * kMargin;
        if (x0 < bar->value() || x1 > bar->value() + width) {
          maxColumns_ = std::max(maxColumns_, last + 1);
          UpdateScrollBars();
          bar->setValue(std::max(0, x0 - width / 3));
        }
      }
    }
  }
  viewport()->update();
  emit positionChanged();
}

bool TTextView::HitColumns(uint64_t start, const TLine& line, int& first, int& last) {
  if (!hit_ || hit_->offset + hit_->length <= start || hit_->offset >= line.end) return false;
  const uint64_t from = std::max(hit_->offset, start);
  const uint64_t to = std::min(hit_->offset + hit_->length, line.end);
  const qsizetype a = Decode(doc_.Encoding(), doc_.Bytes(start, from)).size();
  const qsizetype b = a + Decode(doc_.Encoding(), doc_.Bytes(from, to)).size();
  first = static_cast<int>(ShownText(line.raw.left(a)).size());
  last = static_cast<int>(ShownText(line.raw.left(std::min(b, line.raw.size()))).size());
  return last > first;
}

void TTextView::UpdateScrollBars() {
  if (syncing_) return;
  syncing_ = true;
  const uint64_t base = doc_.TextStart();
  const uint64_t span = EndTop().offset - base;
  scale_ = std::max<uint64_t>(1, (span + kBarSteps - 1) / kBarSteps);
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, static_cast<int>(span / scale_));
  // A page is about as many bytes as the screen shows.
  const uint64_t shown = std::max<uint64_t>(1, BottomOffset() - top_.offset);
  bar->setPageStep(static_cast<int>(std::clamp<uint64_t>(shown / scale_, 1, kBarSteps)));
  bar->setSingleStep(1);
  bar->setValue(SliderValue());

  QScrollBar* hbar = horizontalScrollBar();
  const int width = viewport()->width() - 2 * kMargin;
  hbar->setRange(0, wrap_ ? 0 : std::max(0, static_cast<int>(std::ceil(maxColumns_ * charWidth_)) - width));
  hbar->setPageStep(std::max(1, width));
  hbar->setSingleStep(static_cast<int>(std::lround(charWidth_ * 4)));
  syncing_ = false;
}

// Dragged to a fraction of the bar: the line at that fraction of the file.
void TTextView::SliderMoved(int value) {
  if (value >= verticalScrollBar()->maximum()) {
    ScrollToEnd();
    return;
  }
  SetTop({doc_.LineStartAt(doc_.TextStart() + static_cast<uint64_t>(value) * scale_), 0});
}

int TTextView::SliderValue() const { return static_cast<int>((top_.offset - doc_.TextStart()) / scale_); }

void TTextView::resizeEvent(QResizeEvent* event) {
  TRowScrollArea::resizeEvent(event);
  endTop_.reset();
  if (wrap_) top_.row = std::min(top_.row, RowsOf(top_.offset) - 1);
  ClampTop();
  UpdateScrollBars();
}

// Besides the row keys: Left and Right scroll sideways, Home goes to the
// start of the line first and then to the start of the file.
void TTextView::keyPressEvent(QKeyEvent* event) {
  QScrollBar* hbar = horizontalScrollBar();
  switch (event->key()) {
    case Qt::Key_Home:
      if ((event->modifiers() & Qt::ControlModifier) || wrap_ || hbar->value() == 0) ScrollToStart();
      hbar->setValue(0);
      break;
    case Qt::Key_Right: hbar->setValue(hbar->value() + hbar->singleStep()); break;
    case Qt::Key_Left: hbar->setValue(hbar->value() - hbar->singleStep()); break;
    default: TRowScrollArea::keyPressEvent(event); return;
  }
  event->accept();
}

// ---------------------------------------------------------------------------
// Painting

void TTextView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QPalette& pal = palette();
  painter.fillRect(viewport()->rect(), pal.color(QPalette::Base));
  painter.setFont(font());
  const QFontMetricsF fm(font());
  const qreal ascent = fm.ascent();
  const int scrollX = wrap_ ? 0 : horizontalScrollBar()->value();
  const int width = viewport()->width();
  const int visibleColumns = static_cast<int>(width / charWidth_) + 2;
  const int firstVisible = wrap_ ? 0 : static_cast<int>(scrollX / charWidth_);
  int widest = maxColumns_;
  int y = 0;
  for (const TRow& row : Layout()) {
    const TLine& line = LineAt(row.lineStart);
    widest = std::max(widest, static_cast<int>(std::min<qsizetype>(line.shown.size(), 1 << 20)));
    // Only the columns on screen are drawn: a long line costs no more than a short one.
    const QString part = wrap_ ? row.text : row.text.mid(firstVisible, visibleColumns);
    const qreal x = kMargin + (wrap_ ? 0 : firstVisible * charWidth_ - scrollX);
    // The hit's characters within `part`, if any.
    int first = 0, last = 0;
    qsizetype a = 0, b = 0;
    if (HitColumns(row.lineStart, line, first, last)) {
      const int partColumn = row.firstColumn + firstVisible;
      a = std::clamp<qsizetype>(first - partColumn, 0, part.size());
      b = std::clamp<qsizetype>(last - partColumn, 0, part.size());
    }
    const qreal baseline = y + ascent;
    painter.setPen(pal.color(QPalette::Text));
    if (b <= a) {
      painter.drawText(QPointF(x, baseline), part);
    } else {
      // Before, hit and after are drawn once each, every piece where the
      // text before it ends, so the highlight sits exactly under its
      // characters whatever their advance.
      const QString before = part.left(a), hit = part.mid(a, b - a), after = part.mid(b);
      const qreal xa = x + fm.horizontalAdvance(before);
      const qreal xb = xa + fm.horizontalAdvance(hit);
      painter.fillRect(QRectF(xa, y, xb - xa, lineHeight_), pal.color(QPalette::Highlight));
      painter.drawText(QPointF(x, baseline), before);
      painter.drawText(QPointF(xb, baseline), after);
      painter.setPen(pal.color(QPalette::HighlightedText));
      painter.drawText(QPointF(xa, baseline), hit);
    }
    y += lineHeight_;
  }
  if (!wrap_ && widest > maxColumns_) {
    maxColumns_ = widest;
    UpdateScrollBars();
  }
}

}  // namespace vantrel::viewer
