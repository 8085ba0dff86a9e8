// hex_view.cpp - rows of sixteen bytes.
#include "viewer/hex_view.h"

#include <algorithm>

#include <QFontDatabase>
#include <QPainter>
#include <QScrollBar>

namespace vantrel::viewer {

namespace {

constexpr uint64_t kBarSteps = 1u << 30;
constexpr int kMargin = 4;

// The character shown for a byte in the text column: printable characters
// of the single-byte encoding, a dot for the rest.
QChar ShownByte(TEncoding encoding, unsigned char byte) {
  if (byte < 0x20 || byte == 0x7F) return QLatin1Char('.');
  if (byte < 0x80) return QLatin1Char(static_cast<char>(byte));
  if (UnitBytes(encoding) == 2 || encoding == TEncoding::Utf8) return QLatin1Char('.');
  const QChar c = Decode(encoding, std::string_view(reinterpret_cast<const char*>(&byte), 1)).at(0);
  return c.isPrint() ? c : QLatin1Char('.');
}

}  // namespace

THexView::THexView(TViewDocument& document, QWidget* parent)
    : TRowScrollArea(parent), doc_(document) {
  setObjectName(QStringLiteral("HexView"));
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  const QFontMetrics fm(font());
  charWidth_ = std::max(1, fm.horizontalAdvance(QLatin1Char('M')));
  lineHeight_ = std::max(1, fm.height());
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  UpdateScrollBar();
}

uint64_t THexView::RowCount() const { return std::max<uint64_t>(1, (doc_.Size() + kBytesPerRow - 1) / kBytesPerRow); }

int THexView::PageRows() const { return std::max(1, viewport()->height() / lineHeight_); }

uint64_t THexView::LastTopRow() const {
  const uint64_t page = static_cast<uint64_t>(PageRows());
  return RowCount() > page ? RowCount() - page : 0;
}

int THexView::OffsetDigits() const {
  int digits = 8;
  while (digits < 16 && (doc_.Size() >> (4 * digits)) != 0) ++digits;
  return digits;
}

QString THexView::RowText(uint64_t row) {
  const uint64_t offset = row * kBytesPerRow;
  const std::string_view bytes = doc_.Bytes(offset, offset + kBytesPerRow);
  QString text = QStringLiteral("%1 ").arg(offset, OffsetDigits(), 16, QLatin1Char('0')).toUpper();
  QString chars;
  for (int i = 0; i < kBytesPerRow; ++i) {
    if (i == 8) text += QLatin1Char(' ');
    if (static_cast<size_t>(i) < bytes.size()) {
      const auto b = static_cast<unsigned char>(bytes[static_cast<size_t>(i)]);
      text += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
      chars += ShownByte(doc_.Encoding(), b);
    } else {
      text += QStringLiteral("   ");
    }
  }
  return text + QStringLiteral("  ") + chars;
}

QStringList THexView::VisibleRows() {
  QStringList rows;
  for (uint64_t r = topRow_; r < topRow_ + static_cast<uint64_t>(PageRows()) && r * kBytesPerRow < doc_.Size(); ++r)
    rows << RowText(r);
  return rows;
}

void THexView::SetTopRow(uint64_t row) {
  topRow_ = std::min(row, LastTopRow());
  UpdateScrollBar();
  viewport()->update();
  emit positionChanged();
}

void THexView::ScrollRows(int64_t rows) {
  if (rows < 0 && static_cast<uint64_t>(-rows) > topRow_)
    SetTopRow(0);
  else
    SetTopRow(topRow_ + static_cast<uint64_t>(rows));
}

void THexView::ShowOffset(uint64_t offset) {
  const uint64_t row = offset / kBytesPerRow;
  if (row >= topRow_ && row < topRow_ + static_cast<uint64_t>(PageRows())) {
    viewport()->update();
    return;
  }
  const uint64_t context = static_cast<uint64_t>(std::min(3, PageRows() / 3));
  SetTopRow(row > context ? row - context : 0);
}

void THexView::SetHit(std::optional<TTextHit> hit) {
  hit_ = hit;
  if (hit_) ShowOffset(hit_->offset);
  viewport()->update();
  emit positionChanged();
}

void THexView::DocumentChanged() {
  hit_.reset();
  viewport()->update();
}

void THexView::UpdateScrollBar() {
  const uint64_t last = LastTopRow();
  scale_ = std::max<uint64_t>(1, (last + kBarSteps - 1) / kBarSteps);
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, static_cast<int>(last / scale_));
  bar->setPageStep(std::max(1, static_cast<int>(PageRows() / scale_)));
  bar->setValue(SliderValue());
  const int width = (OffsetDigits() + 3 * kBytesPerRow + 4 + kBytesPerRow) * charWidth_ + 2 * kMargin;
  horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
}

void THexView::resizeEvent(QResizeEvent* event) {
  TRowScrollArea::resizeEvent(event);
  topRow_ = std::min(topRow_, LastTopRow());
  UpdateScrollBar();
}

void THexView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QPalette& pal = palette();
  painter.fillRect(viewport()->rect(), pal.color(QPalette::Base));
  painter.setFont(font());
  const int ascent = QFontMetrics(font()).ascent();
  const int x0 = kMargin - horizontalScrollBar()->value();
  const int digits = OffsetDigits();
  int y = 0;
  for (uint64_t r = topRow_; r <= topRow_ + static_cast<uint64_t>(PageRows()) && r * kBytesPerRow < doc_.Size(); ++r) {
    if (hit_) {
      // Highlight the hit's bytes in both columns.
      const uint64_t rowStart = r * kBytesPerRow;
      for (int i = 0; i < kBytesPerRow; ++i) {
        const uint64_t at = rowStart + static_cast<uint64_t>(i);
        if (at < hit_->offset || at >= hit_->offset + hit_->length) continue;
        const int hexColumn = digits + 2 + 3 * i + (i >= 8 ? 1 : 0);
        const int charColumn = digits + 3 * kBytesPerRow + 4 + i;
        painter.fillRect(QRect(x0 + hexColumn * charWidth_, y, 2 * charWidth_, lineHeight_),
                         pal.color(QPalette::Highlight));
        painter.fillRect(QRect(x0 + charColumn * charWidth_, y, charWidth_, lineHeight_),
                         pal.color(QPalette::Highlight));
      }
    }
    painter.setPen(pal.color(QPalette::Text));
    painter.drawText(x0, y + ascent, RowText(r));
    y += lineHeight_;
  }
}

}  // namespace vantrel::viewer
