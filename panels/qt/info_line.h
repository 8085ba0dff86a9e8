// info_line.h - the lines above and below a panel (the directory, the entry
// under the cursor, the marks and the space left), each shortened to the
// width it gets in the way that keeps what matters most in it.
//
// The marks line is one text in two parts joined by " | ": what matters most
// (the marks: how many and their bytes) and the rest (the volume's free
// space, or what a source says of itself, its least important words last).
// When the whole does not fit, the rest is cut short with "…" first, then
// left out; then the marks lose their bytes before their count.
//
// The entry line keeps the words around the name (its size, its dates) and
// shortens the name in its middle, keeping its start and its extension; the
// directory line keeps the path's last components, "…" standing for those
// before them.
//
// Nothing is ever cut at the edge: what is left out shows as "…". The whole
// text stays the label's text and is its tooltip while the line shows less.
#pragma once

#include <functional>

#include <QLabel>
#include <QString>

class QFontMetrics;

namespace vantrel::panels {

// The parts of an info line. `head` + `count` + `tail` is the first part
// (empty when nothing is marked), `count` the piece of it kept longest.
struct TInfoText {
  QString head, count, tail;
  QString rest;
  QString First() const { return head + count + tail; }
  QString Whole() const;
};

// What of `text` shows in `width` pixels of `metrics`; never wider than
// `width` unless not even "…" fits (then it is empty). The same holds for
// the other lines' fitting below.
QString FitInfoText(const TInfoText& text, const QFontMetrics& metrics, int width);

// The line of one entry: `name` between the words before and after it;
// `ending` is the end of the name kept when it is shortened (its extension;
// empty to keep as much of its end as of its start).
struct TEntryText {
  QString head, name, tail;
  QString ending;
  QString Whole() const { return head + name + tail; }
};
QString FitEntryText(const TEntryText& text, const QFontMetrics& metrics, int width);
// `name` in `width`: whole, or at least `least` characters of its start,
// "…" and `ending`; empty when that does not fit.
QString ShortenedName(const QString& name, const QString& ending, const QFontMetrics& metrics, int width,
                      int least = 1);
// A path in `width`: whole, or its first component, "…" and as many of its
// last components as fit (the first left out too when it takes the room of
// one of them); at worst the last component shortened.
QString FitPath(const QString& path, const QFontMetrics& metrics, int width);

class TInfoLine : public QLabel {
  Q_OBJECT

 public:
  // What is shown of a whole text in a width of a font.
  using TFit = std::function<QString(const QFontMetrics& metrics, int width)>;

  explicit TInfoLine(QWidget* parent = nullptr);

  // The line to show; text() is then its whole text. A text set through
  // setText is cut at its end (or as SetPathText fits it, once that has
  // been called).
  void SetLine(const TInfoText& line);
  void SetEntryLine(const TEntryText& line);
  void SetPathText(const QString& path);
  // What is painted at the present width and font (worked out at each
  // paint: a line is short, and a hidden one gets no resize events).
  QString ShownText() const;
  // Where the text is painted, inside the frame and the indent.
  QRect TextRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Show(const QString& whole, TFit fit);
  // A text set through setText is taken as a line of one part.
  void TakeTextSetDirectly();
  void Refit();

  TFit fit_;
  QString whole_;  // fit_'s, to tell a text set through setText
  bool paths_ = false;
};

}  // namespace vantrel::panels
