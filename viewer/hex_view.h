// hex_view.h - THexView, the hex mode of the viewer: offset, sixteen bytes in
// hex and the same bytes as characters, one row each. Rows are computed from
// their offsets, so any size scrolls the same.
#pragma once

#include <cstdint>
#include <optional>

#include <QAbstractScrollArea>
#include <QStringList>

#include "viewer/document.h"

namespace vantrel::viewer {

class THexView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int kBytesPerRow = 16;

  explicit THexView(TViewDocument& document, QWidget* parent = nullptr);

  uint64_t TopOffset() const { return topRow_ * kBytesPerRow; }
  uint64_t RowCount() const;
  void ScrollRows(int64_t rows);
  void ScrollToStart() { SetTopRow(0); }
  void ScrollToEnd() { SetTopRow(LastTopRow()); }
  // Shows the row of `offset`, unless it is on screen already.
  void ShowOffset(uint64_t offset);
  void SetHit(std::optional<TTextHit> hit);
  void DocumentChanged();
  int PageRows() const;

  // One row as drawn: "00000010  48 65 6C ...  Hello...".
  QString RowText(uint64_t row);
  QStringList VisibleRows();

 signals:
  void positionChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  uint64_t LastTopRow() const;
  void SetTopRow(uint64_t row);
  void UpdateScrollBar();
  void ScrollBarAction(int action);
  int OffsetDigits() const;

  TViewDocument& doc_;
  uint64_t topRow_ = 0;
  std::optional<TTextHit> hit_;
  uint64_t scale_ = 1;
  int charWidth_ = 8;
  int lineHeight_ = 16;
};

}  // namespace vantrel::viewer
