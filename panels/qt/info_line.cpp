// info_line.cpp - shortening the info line to its width, and painting it.
#include "panels/qt/info_line.h"

#include <algorithm>

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace vantrel::panels {

namespace {

const QString kBar = QStringLiteral(" | ");

// The rest cut short is shown only while this many of its characters are
// left (or all of a shorter one): "free 1,2…" says nothing.
constexpr qsizetype kLeastOfRest = 10;

int WidthOf(const QFontMetrics& metrics, const QString& text) { return metrics.horizontalAdvance(text); }

// `text` ended with "…" where `width` ends; empty when not even "…" fits.
QString CutEnd(const QFontMetrics& metrics, const QString& text, int width) {
  if (width <= 0) return {};
  QString cut = metrics.elidedText(text, Qt::ElideRight, width);
  return WidthOf(metrics, cut) <= width ? cut : QString();
}

}  // namespace

QString TInfoText::Whole() const {
  const QString first = First();
  if (first.isEmpty()) return rest;
  return rest.isEmpty() ? first : first + kBar + rest;
}

QString FitInfoText(const TInfoText& text, const QFontMetrics& metrics, int width) {
  const QString whole = text.Whole();
  if (WidthOf(metrics, whole) <= width) return whole;
  const QString first = text.First();
  if (first.isEmpty()) return CutEnd(metrics, text.rest, width);
  // 1. The rest shortens.
  if (!text.rest.isEmpty()) {
    const QString rest = CutEnd(metrics, text.rest, width - WidthOf(metrics, first + kBar));
    if (rest.size() - 1 >= std::min(kLeastOfRest, text.rest.size())) return first + kBar + rest;
  }
  // 2. It goes.
  if (WidthOf(metrics, first) <= width) return first;
  // 3. The first part loses what follows its count, then what precedes it,
  //    while the count stays whole (with "…" while that fits).
  if (!text.count.isEmpty()) {
    for (const QString& kept : {text.head + text.count, text.count}) {
      if (text.tail.isEmpty()) {
        if (WidthOf(metrics, kept) <= width) return kept;
        continue;
      }
      const QString tail = CutEnd(metrics, text.tail, width - WidthOf(metrics, kept));
      if (!tail.isEmpty()) return kept + tail;
    }
    if (WidthOf(metrics, text.count) <= width) return text.count;
  }
  // 4. Not even the count fits: as much as does.
  return CutEnd(metrics, first, width);
}

TInfoLine::TInfoLine(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

void TInfoLine::SetLine(const TInfoText& line) {
  line_ = line;
  whole_ = line.Whole();
  setText(whole_);
  Refit();
}

QString TInfoLine::ShownText() const {
  const TInfoText line = text() == whole_ ? line_ : TInfoText{{}, {}, {}, text()};
  return FitInfoText(line, fontMetrics(), TextRect().width());
}

QRect TInfoLine::TextRect() const {
  // As a label lays out its text: the margin all round, then the indent on
  // the side the text is aligned to (half an "x" when framed and unset).
  QRect rect = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
  int indent = this->indent();
  if (indent < 0 && frameWidth() > 0) indent = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin();
  if (indent > 0) {
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
    if (align & Qt::AlignLeft) rect.setLeft(rect.left() + indent);
    if (align & Qt::AlignRight) rect.setRight(rect.right() - indent);
    if (align & Qt::AlignTop) rect.setTop(rect.top() + indent);
    if (align & Qt::AlignBottom) rect.setBottom(rect.bottom() - indent);
  }
  return rect;
}

void TInfoLine::TakeTextSetDirectly() {
  if (text() == whole_) return;
  line_ = TInfoText{{}, {}, {}, text()};
  whole_ = text();
  Refit();
}

void TInfoLine::Refit() {
  setToolTip(ShownText() == whole_ ? QString() : whole_);
  update();
}

void TInfoLine::paintEvent(QPaintEvent*) {
  TakeTextSetDirectly();
  QPainter painter(this);
  drawFrame(&painter);
  QStyleOption option;
  option.initFrom(this);
  const int flags = static_cast<int>(QStyle::visualAlignment(layoutDirection(), alignment())) | Qt::TextSingleLine;
  style()->drawItemText(&painter, TextRect(), flags, option.palette, isEnabled(), ShownText(), foregroundRole());
}

void TInfoLine::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Refit();
}

void TInfoLine::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
      event->type() == QEvent::LayoutDirectionChange)
    Refit();
}

}  // namespace vantrel::panels
