// row_scroll_area.cpp - scroll bar actions, keys and the wheel as row steps.
#include "viewer/row_scroll_area.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

namespace vantrel::viewer {

TRowScrollArea::TRowScrollArea(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &TRowScrollArea::ScrollBarAction);
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
}

void TRowScrollArea::ScrollBarAction(int action) {
  QScrollBar* bar = verticalScrollBar();
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: ScrollRows(1); break;
    case QAbstractSlider::SliderSingleStepSub: ScrollRows(-1); break;
    case QAbstractSlider::SliderPageStepAdd: ScrollRows(PageRows() - 1); break;
    case QAbstractSlider::SliderPageStepSub: ScrollRows(-(PageRows() - 1)); break;
    case QAbstractSlider::SliderToMinimum: ScrollToStart(); break;
    case QAbstractSlider::SliderToMaximum: ScrollToEnd(); break;
    case QAbstractSlider::SliderMove: SliderMoved(bar->sliderPosition()); return;
    default: return;
  }
  // The bar shows where the view is, not where the action would have put it.
  bar->setSliderPosition(SliderValue());
}

void TRowScrollArea::scrollContentsBy(int, int) { viewport()->update(); }

void TRowScrollArea::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Down: ScrollRows(1); break;
    case Qt::Key_Up: ScrollRows(-1); break;
    case Qt::Key_PageDown: case Qt::Key_Space: ScrollRows(PageRows() - 1); break;
    case Qt::Key_PageUp: ScrollRows(-(PageRows() - 1)); break;
    case Qt::Key_Home: ScrollToStart(); break;
    case Qt::Key_End: ScrollToEnd(); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
  }
  event->accept();
}

void TRowScrollArea::wheelEvent(QWheelEvent* event) {
  const int steps = event->angleDelta().y() / 40;  // three rows a notch
  if (steps != 0) ScrollRows(-steps);
  const int dx = event->angleDelta().x();
  if (dx != 0) horizontalScrollBar()->setValue(horizontalScrollBar()->value() - dx);
  event->accept();
}

}  // namespace vantrel::viewer
