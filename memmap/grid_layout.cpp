#include "memmap/grid_layout.h"

#include <algorithm>

namespace varnok {

GridLayout::GridLayout() {
  widths_.fill(kDefaultColumnWidth);
  SetColumnWidth(0, kDefaultColumnWidth);
}

void GridLayout::SetColumnWidth(std::int32_t column, int width) {
  if (column < 0 || column >= MapGrid::kColumnCount) return;
  widths_[static_cast<std::size_t>(column)] = std::max(0, width);
  for (std::size_t c = 0; c < widths_.size(); ++c) lefts_[c + 1] = lefts_[c] + widths_[c] + kLineWidth;
}

int GridLayout::ColumnWidth(std::int32_t column) const {
  if (column < 0 || column >= MapGrid::kColumnCount) return 0;
  return widths_[static_cast<std::size_t>(column)];
}

int GridLayout::ColumnLeft(std::int32_t column) const {
  return lefts_[static_cast<std::size_t>(std::clamp<std::int32_t>(column, 0, MapGrid::kColumnCount))];
}

void GridLayout::SetRowCount(std::int32_t rows) { rows_ = std::max<std::int32_t>(rows, 1); }

std::int32_t GridLayout::VisibleRowCount() const {
  return std::max(1, (viewport_height_ - kRowPitch) / kRowPitch);
}

std::int32_t GridLayout::LastRowInView() const {
  // A partly visible row at the bottom is in view too.
  const int rows = std::max(0, (viewport_height_ - kRowPitch + kRowPitch - 1) / kRowPitch);
  return std::min<std::int64_t>(std::int64_t{top_row_} + rows - 1, rows_ - 1);
}

ScrollRange GridLayout::ScrollBarRange() const {
  const std::int32_t page = VisibleRowCount();
  return {1, std::max(1, rows_ - 1 - page + 1), page};
}

std::int32_t GridLayout::TopRowShowing(std::int32_t row) const {
  const std::int32_t page = VisibleRowCount();
  if (row < top_row_) return row;
  if (row > top_row_ + page - 1) return row - page + 1;
  return top_row_;
}

int GridLayout::RowTop(std::int32_t row) const { return row == 0 ? 0 : (row - top_row_ + 1) * kRowPitch; }

int GridLayout::RowsBottom() const {
  const std::int32_t last = LastRowInView();
  return (last < top_row_ ? 1 : last - top_row_ + 2) * kRowPitch;
}

CellPos GridLayout::HitTest(int x, int y) const {
  CellPos pos{-1, -1};
  if (x >= 0 && x < ColumnsRight()) {
    pos.column = static_cast<std::int32_t>(std::upper_bound(lefts_.begin(), lefts_.end(), x) - lefts_.begin()) - 1;
  }
  if (y >= 0) {
    if (y < kRowPitch) {
      pos.row = 0;
    } else {
      const std::int64_t row = std::int64_t{top_row_} + (y - kRowPitch) / kRowPitch;
      if (row < rows_) pos.row = static_cast<std::int32_t>(row);
    }
  }
  return pos;
}

PixelRect GridLayout::CellRect(std::int32_t column, std::int32_t row) const {
  if (column < 0 || column >= MapGrid::kColumnCount || row < 0 || row >= rows_) return {};
  if (row != 0 && (row < top_row_ || row > LastRowInView())) return {};
  return {ColumnLeft(column), RowTop(row), widths_[static_cast<std::size_t>(column)], kRowHeight};
}

IndexSpan GridLayout::ColumnsIn(int left, int right) const {
  IndexSpan span{0, -1};
  for (std::int32_t c = 0; c < MapGrid::kColumnCount; ++c) {
    if (ColumnLeft(c + 1) <= left) span.first = c + 1;
    if (ColumnLeft(c) <= right) span.last = c;
  }
  return span;
}

IndexSpan GridLayout::DataRowsIn(int top, int bottom) const {
  if (bottom < kRowPitch) return {top_row_, top_row_ - 1};
  const std::int32_t first = top_row_ + std::max(0, (top - kRowPitch) / kRowPitch);
  const std::int32_t last = std::min<std::int64_t>(LastRowInView(), std::int64_t{top_row_} + (bottom - kRowPitch) / kRowPitch);
  return {first, last};
}

}  // namespace varnok
