// info_line.cpp - shortening a panel's lines to their width, and painting them.
#include "panels/qt/info_line.h"

#include <algorithm>

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTextBoundaryFinder>

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

const QString kDots = QStringLiteral("\u2026");

// A name shortened in its middle keeps this many characters of its start
// while the words after it still have room: "Annual_r…pdf" still tells
// which file it is, the size beside it more than "A…pdf" would.
constexpr int kLeastOfName = 6;

// Where the characters of `text` start, and its end: an accent stays with
// its letter, a pair of surrogates with its mate.
QList<qsizetype> CharacterStarts(const QString& text) {
  QList<qsizetype> starts{0};
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) starts.push_back(at);
  if (starts.back() != text.size()) starts.push_back(text.size());
  return starts;
}

// The name keeping `kept` characters besides `ending` around "…": all of
// them from its start when it has an ending, else half of them from its
// end. The whole name when that is all of it.
QString NameKeeping(const QString& name, const QString& ending, qsizetype kept) {
  const QString body = name.left(name.size() - ending.size());
  const QList<qsizetype> at = CharacterStarts(body);
  const qsizetype count = at.size() - 1;
  if (kept >= count) return name;
  if (!ending.isEmpty()) return body.left(at[kept]) + kDots + ending;
  const qsizetype fromEnd = kept / 2;
  return body.left(at[kept - fromEnd]) + kDots + body.mid(at[count - fromEnd]);
}

// The name shortened to the most characters (at least `least`) for which
// `fits` holds of the line it makes; empty when none does. A text is
// measured whole, as it is painted: widths of pieces need not add up.
QString LongestFitting(const QString& name, const QString& ending, int least,
                       const std::function<bool(const QString&)>& fits) {
  // An ending that is all of the name, or no ending of it, is kept as the
  // end of a name without one.
  const QString kept = name.endsWith(ending) && ending.size() < name.size() ? ending : QString();
  const qsizetype count = CharacterStarts(name.left(name.size() - kept.size())).size() - 1;
  // Widths grow with the characters kept.
  qsizetype low = std::max(least, 1), high = count - 1;
  if (low > high || !fits(NameKeeping(name, kept, low))) return {};
  while (low < high) {
    const qsizetype mid = (low + high + 1) / 2;
    if (fits(NameKeeping(name, kept, mid)))
      low = mid;
    else
      high = mid - 1;
  }
  return NameKeeping(name, kept, low);
}

}  // namespace

QString ShortenedName(const QString& name, const QString& ending, const QFontMetrics& metrics, int width,
                      int least) {
  if (WidthOf(metrics, name) <= width) return name;
  return LongestFitting(name, ending, least, [&](const QString& shown) { return WidthOf(metrics, shown) <= width; });
}

QString FitEntryText(const TEntryText& text, const QFontMetrics& metrics, int width) {
  const QString whole = text.Whole();
  if (WidthOf(metrics, whole) <= width) return whole;
  if (text.name.isEmpty()) return CutEnd(metrics, whole, width);
  // 1. The name shortens in its middle, down to the start it keeps longest.
  const QString name = LongestFitting(text.name, text.ending, kLeastOfName, [&](const QString& shown) {
    return WidthOf(metrics, text.head + shown + text.tail) <= width;
  });
  if (!name.isEmpty()) return text.head + name + text.tail;
  // 2. The words after it are cut short while enough of them is left.
  if (!text.tail.isEmpty()) {
    const QString least = text.head + NameKeeping(text.name, text.ending, kLeastOfName);
    for (int room = width - WidthOf(metrics, least); room > 0; --room) {
      const QString tail = CutEnd(metrics, text.tail, room);
      if (tail.size() - 1 < std::min(kLeastOfRest, text.tail.size())) break;
      if (WidthOf(metrics, least + tail) <= width) return least + tail;
    }
  }
  // 3. The line from its start, the name's start first.
  return CutEnd(metrics, whole, width);
}

QString FitPath(const QString& path, const QFontMetrics& metrics, int width) {
  if (WidthOf(metrics, path) <= width) return path;
  const QString left = kDots + QLatin1Char('/');
  // The first component with the slashes around it ("/home/", "trash://"),
  // kept while there is room for it.
  const auto slashesFrom = [&path](qsizetype at) {
    while (at < path.size() && path[at] == QLatin1Char('/')) ++at;
    return at;
  };
  const qsizetype firstEnd = path.indexOf(QLatin1Char('/'), slashesFrom(0));
  const qsizetype headEnd = firstEnd < 0 ? path.size() : slashesFrom(firstEnd);
  const QString head = path.left(headEnd);
  // The most components of the end that fit, with the head when it does.
  for (qsizetype from = headEnd; from < path.size();) {
    const QString tail = path.mid(from);
    if (from > headEnd && WidthOf(metrics, head + left + tail) <= width) return head + left + tail;
    if (WidthOf(metrics, left + tail) <= width) return left + tail;
    const qsizetype next = path.indexOf(QLatin1Char('/'), from);
    if (next < 0) break;
    from = slashesFrom(next);
  }
  // Not even the last component: it is shortened as a name.
  qsizetype lastStart = path.size();
  while (lastStart > 0 && path[lastStart - 1] == QLatin1Char('/')) --lastStart;
  lastStart = path.lastIndexOf(QLatin1Char('/'), lastStart - 1) + 1;
  const QString last = path.mid(lastStart);
  if (lastStart > 0 && !last.isEmpty()) {
    const QString name =
        LongestFitting(last, {}, 1, [&](const QString& shown) { return WidthOf(metrics, left + shown) <= width; });
    if (!name.isEmpty()) return left + name;
  }
  const QString shortened = ShortenedName(path, {}, metrics, width);
  return shortened.isEmpty() ? CutEnd(metrics, path, width) : shortened;
}

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
  Show(line.Whole(), [line](const QFontMetrics& metrics, int width) { return FitInfoText(line, metrics, width); });
}

void TInfoLine::SetEntryLine(const TEntryText& line) {
  Show(line.Whole(), [line](const QFontMetrics& metrics, int width) { return FitEntryText(line, metrics, width); });
}

void TInfoLine::SetPathText(const QString& path) {
  paths_ = true;
  Show(path, [path](const QFontMetrics& metrics, int width) { return FitPath(path, metrics, width); });
}

void TInfoLine::Show(const QString& whole, TFit fit) {
  fit_ = std::move(fit);
  whole_ = whole;
  setText(whole);
  Refit();
}

QString TInfoLine::ShownText() const {
  const int width = TextRect().width();
  if (fit_ && text() == whole_) return fit_(fontMetrics(), width);
  return paths_ ? FitPath(text(), fontMetrics(), width) : FitInfoText({{}, {}, {}, text()}, fontMetrics(), width);
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
  if (fit_ && text() == whole_) return;
  const QString whole = text();
  if (paths_)
    SetPathText(whole);
  else
    SetLine({{}, {}, {}, whole});
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
