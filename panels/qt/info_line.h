// info_line.h - the line below a panel that tells the marks and the space
// left, shortened to the width it gets.
//
// The line is one text in two parts joined by " | ": what matters most (the
// marks: how many and their bytes) and the rest (the volume's free space, or
// what a source says of itself, its least important words last). When the
// whole does not fit, the rest is cut short with "…" first, then left out;
// then the marks lose their bytes before their count. Nothing is ever cut at
// the edge: what is left out ends in "…". The whole text stays the label's
// text and is its tooltip while the line shows less.
#pragma once

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
// `width` unless not even "…" fits (then it is empty).
QString FitInfoText(const TInfoText& text, const QFontMetrics& metrics, int width);

class TInfoLine : public QLabel {
  Q_OBJECT

 public:
  explicit TInfoLine(QWidget* parent = nullptr);

  // The line to show; text() is then its whole text.
  void SetLine(const TInfoText& line);
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
  // A text set through setText is taken as a line of one part.
  void TakeTextSetDirectly();
  void Refit();

  TInfoText line_;
  QString whole_;  // line_'s, to tell a text set through setText
};

}  // namespace vantrel::panels
