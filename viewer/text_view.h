// text_view.h - TTextView, the text mode of the viewer.
//
// It shows the document from a top position (a line start, and in wrap mode
// a row within that line) downwards, decoding and laying out only the lines
// on screen. The vertical scroll bar stands for byte offsets, not line
// numbers: dragging it to a fraction of the bar shows the line at that
// fraction of the file, so no line has to be counted to scroll anywhere.
#pragma once

#include <cstdint>
#include <optional>

#include <QHash>
#include <QStringList>

#include "viewer/document.h"
#include "viewer/row_scroll_area.h"

namespace vantrel::viewer {

class TTextView : public TRowScrollArea {
  Q_OBJECT

 public:
  explicit TTextView(TViewDocument& document, QWidget* parent = nullptr);

  bool Wrap() const { return wrap_; }
  void SetWrap(bool wrap);

  // The first byte on screen and the first byte after the screen.
  uint64_t TopOffset() const { return top_.offset; }
  uint64_t BottomOffset();
  // Whether the last line of the file is on screen.
  bool AtEnd();

  void ScrollRows(int64_t rows) override;
  void ScrollToStart() override;
  void ScrollToEnd() override;
  // Shows the line holding `pos` near the top, unless it is on screen
  // already; with `atTop`, at the top whatever is on screen.
  void ShowOffset(uint64_t pos, bool atTop = false);

  // The found text to highlight (and show).
  void SetHit(std::optional<TTextHit> hit);
  const std::optional<TTextHit>& Hit() const { return hit_; }

  // The encoding changed: everything decoded is stale.
  void DocumentChanged();

  // The rows on screen, as drawn (tabs expanded, control characters shown
  // as dots).
  QStringList VisibleRows();
  int PageRows() const override;

 signals:
  void positionChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void SliderMoved(int value) override;
  int SliderValue() const override;

 private:
  // A place on screen: a line start and, in wrap mode, a row of that line.
  struct TPos {
    uint64_t offset = 0;
    int64_t row = 0;
    bool operator<(const TPos& o) const {
      return offset != o.offset ? offset < o.offset : row < o.row;
    }
  };
  // One line as shown: its end and its characters as drawn.
  struct TLine {
    uint64_t end = 0;
    QString raw;    // decoded, without the line feed
    QString shown;  // tabs expanded, control characters replaced
  };
  struct TRow {
    uint64_t lineStart = 0;
    int64_t row = 0;
    QString text;
    int firstColumn = 0;  // the column of text[0] within the line
  };

  const TLine& LineAt(uint64_t start);
  int64_t RowsOf(uint64_t start);
  int Columns() const;
  std::vector<TRow> Layout();
  bool Step(TPos& pos, int64_t rows);
  TPos EndTop();
  void SetTop(TPos pos);
  void ClampTop();
  void UpdateScrollBars();
  void FontChanged();
  // The columns of the hit within line `start`, or false when it is elsewhere.
  bool HitColumns(uint64_t start, const TLine& line, int& first, int& last);

  TViewDocument& doc_;
  bool wrap_ = false;
  TPos top_;
  std::optional<TPos> endTop_;
  std::optional<TTextHit> hit_;
  QHash<uint64_t, TLine> lines_;
  qreal charWidth_ = 8;  // the advance of one column, in pixels
  int lineHeight_ = 16;
  int maxColumns_ = 0;  // the widest line seen, for the horizontal bar
  uint64_t scale_ = 1;  // bytes per step of the vertical bar
  bool syncing_ = false;
};

// The text of a decoded line as drawn: tabs to the next multiple of eight
// columns, other control characters as a middle dot.
QString ShownText(const QString& raw);

}  // namespace vantrel::viewer
