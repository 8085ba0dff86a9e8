// hex_view.h - THexView, the hex mode of the viewer: offset, sixteen bytes in
// hex and the same bytes as characters, one row each. Rows are computed from
// their offsets, so any size scrolls the same.
#pragma once

#include <cstdint>
#include <optional>

#include <QStringList>

#include "viewer/document.h"
#include "viewer/row_scroll_area.h"

namespace vantrel::viewer {

class THexView : public TRowScrollArea {
  Q_OBJECT

 public:
  static constexpr int kBytesPerRow = 16;

  explicit THexView(TViewDocument& document, QWidget* parent = nullptr);

  uint64_t TopOffset() const { return topRow_ * kBytesPerRow; }
  uint64_t RowCount() const;
  void ScrollRows(int64_t rows) override;
  void ScrollToStart() override { SetTopRow(0); }
  void ScrollToEnd() override { SetTopRow(LastTopRow()); }
  // Shows the row of `offset`, unless it is on screen already.
  void ShowOffset(uint64_t offset);
  void SetHit(std::optional<TTextHit> hit);
  void DocumentChanged();
  int PageRows() const override;

  // One row as drawn: "00000010  48 65 6C ...  Hello...".
  QString RowText(uint64_t row);
  QStringList VisibleRows();

 signals:
  void positionChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void SliderMoved(int value) override { SetTopRow(static_cast<uint64_t>(value) * scale_); }
  int SliderValue() const override { return static_cast<int>(topRow_ / scale_); }

 private:
  uint64_t LastTopRow() const;
  void SetTopRow(uint64_t row);
  void UpdateScrollBar();
  int OffsetDigits() const;

  TViewDocument& doc_;
  uint64_t topRow_ = 0;
  std::optional<TTextHit> hit_;
  uint64_t scale_ = 1;
  int charWidth_ = 8;
  int lineHeight_ = 16;
};

}  // namespace vantrel::viewer
