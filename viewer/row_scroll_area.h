// row_scroll_area.h - TRowScrollArea, what the text and hex views share: they
// scroll by rows of their own, not by pixels, so the scroll bar's arrows and
// pages, the scrolling keys and the wheel all become row steps, and a
// dragged slider asks the view where that fraction of the file is.
#pragma once

#include <cstdint>

#include <QAbstractScrollArea>

namespace vantrel::viewer {

class TRowScrollArea : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TRowScrollArea(QWidget* parent = nullptr);

  virtual void ScrollRows(int64_t rows) = 0;  // negative: up
  virtual void ScrollToStart() = 0;
  virtual void ScrollToEnd() = 0;
  virtual int PageRows() const = 0;

 protected:
  // The slider was dragged to `value`.
  virtual void SliderMoved(int value) = 0;
  // Where the slider belongs for what is on screen.
  virtual int SliderValue() const = 0;

  // Up, Down, Page Up, Page Down, Space, Home and End.
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void ScrollBarAction(int action);
};

}  // namespace vantrel::viewer
