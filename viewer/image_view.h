// image_view.h - TImageView, the image mode of the viewer: the picture scaled
// down to fit the window, or at its original size with scroll bars.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>

namespace vantrel::viewer {

class TImageView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TImageView(QWidget* parent = nullptr);

  void SetImage(const QImage& image);
  const QImage& Image() const { return image_; }
  // Original size (true) or scaled to fit (false, the default).
  bool OriginalSize() const { return original_; }
  void SetOriginalSize(bool original);
  // The rectangle the picture is drawn in, in viewport coordinates.
  QRect ImageRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void UpdateScrollBars();

  QImage image_;
  bool original_ = false;
};

// Decodes `bytes` as an image in any format Qt can read (by content, not by
// name); a null image when it is none.
QImage DecodeImage(const QByteArray& bytes);
// Whether the first bytes look like an image format Qt can read.
bool LooksLikeImage(const QByteArray& head);

}  // namespace vantrel::viewer
