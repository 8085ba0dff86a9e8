// image_view.cpp - fit or original size.
#include "viewer/image_view.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QScrollBar>

namespace vantrel::viewer {

TImageView::TImageView(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QStringLiteral("ImageView"));
  setFocusPolicy(Qt::StrongFocus);
}

void TImageView::SetImage(const QImage& image) {
  image_ = image;
  UpdateScrollBars();
  viewport()->update();
}

void TImageView::SetOriginalSize(bool original) {
  original_ = original;
  setHorizontalScrollBarPolicy(original ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(original ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  UpdateScrollBars();
  viewport()->update();
}

QRect TImageView::ImageRect() const {
  if (image_.isNull()) return {};
  const QSize area = viewport()->size();
  QSize size = image_.size();
  if (original_) {
    const int x = size.width() < area.width() ? (area.width() - size.width()) / 2
                                               : -horizontalScrollBar()->value();
    const int y = size.height() < area.height() ? (area.height() - size.height()) / 2
                                                 : -verticalScrollBar()->value();
    return QRect(QPoint(x, y), size);
  }
  // Larger pictures shrink to the window; smaller ones keep their size.
  if (size.width() > area.width() || size.height() > area.height())
    size.scale(area, Qt::KeepAspectRatio);
  return QRect(QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2), size);
}

void TImageView::UpdateScrollBars() {
  const QSize area = viewport()->size();
  const QSize size = original_ ? image_.size() : QSize();
  horizontalScrollBar()->setRange(0, std::max(0, size.width() - area.width()));
  verticalScrollBar()->setRange(0, std::max(0, size.height() - area.height()));
  horizontalScrollBar()->setPageStep(area.width());
  verticalScrollBar()->setPageStep(area.height());
}

void TImageView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void TImageView::scrollContentsBy(int, int) { viewport()->update(); }

void TImageView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().color(QPalette::Dark));
  if (image_.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, !original_);
  painter.drawImage(ImageRect(), image_);
}

QImage DecodeImage(const QByteArray& bytes) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  reader.setAutoTransform(true);
  return reader.read();
}

bool LooksLikeImage(const QByteArray& head) {
  QBuffer buffer;
  buffer.setData(head);
  buffer.open(QIODevice::ReadOnly);
  // Formats written as text (XPM, XBM, SVG) are texts first: they open as text.
  const QByteArray format = QImageReader::imageFormat(&buffer);
  return !format.isEmpty() && format != "xpm" && format != "xbm" && format != "svg" &&
         format != "svgz";
}

}  // namespace vantrel::viewer
