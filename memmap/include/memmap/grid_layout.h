#pragma once

#include <array>
#include <cstdint>

#include "memmap/map_grid.h"

namespace varnok {

// A rectangle in viewport pixels.
struct PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;

  bool Empty() const { return width <= 0 || height <= 0; }
  bool operator==(const PixelRect&) const = default;
};

// The range of a vertical scroll bar whose value is the top data row.
struct ScrollRange {
  std::int32_t minimum = 1;
  std::int32_t maximum = 1;
  std::int32_t page = 1;
  bool operator==(const ScrollRange&) const = default;
};

// A run of rows or columns; empty when first > last.
struct IndexSpan {
  std::int32_t first = 0;
  std::int32_t last = -1;
};

// The pixel geometry of the memory map's grid, free of any widget: one fixed header row and address column,
// rows 24 pixels high, 1-pixel grid lines below every row and right of every column (a line belongs to the cell
// before it), and a viewport that shows the header row and then data rows from the top row down.
class GridLayout {
 public:
  static constexpr int kDefaultColumnWidth = 16;
  static constexpr int kRowHeight = 24;
  static constexpr int kLineWidth = 1;
  static constexpr int kRowPitch = kRowHeight + kLineWidth;

  GridLayout();

  void SetColumnWidth(std::int32_t column, int width);
  int ColumnWidth(std::int32_t column) const;
  int ColumnLeft(std::int32_t column) const;
  // The first x after the last column's grid line.
  int ColumnsRight() const { return lefts_.back(); }

  // Rows of the table, the header row included; at least 1.
  void SetRowCount(std::int32_t rows);
  std::int32_t RowCount() const { return rows_; }
  void SetViewportHeight(int height) { viewport_height_ = height; }
  // The data row shown right under the header row, as the scroll bar holds it.
  void SetTopRow(std::int32_t row) { top_row_ = row; }
  std::int32_t TopRow() const { return top_row_; }

  // The data rows that fit completely below the header row, at least 1.
  std::int32_t VisibleRowCount() const;
  // The last data row with any pixel in view.
  std::int32_t LastRowInView() const;
  ScrollRange ScrollBarRange() const;
  // The top row that brings row into view with the least scrolling.
  std::int32_t TopRowShowing(std::int32_t row) const;

  int RowTop(std::int32_t row) const;
  // The first y below the grid line of the last row in view.
  int RowsBottom() const;
  // The column and row under a viewport position; each is -1 where the position lies outside the cells.
  CellPos HitTest(int x, int y) const;
  // A cell's rectangle without its grid lines; empty when it is out of view.
  PixelRect CellRect(std::int32_t column, std::int32_t row) const;
  // The columns that the pixel columns left..right touch.
  IndexSpan ColumnsIn(int left, int right) const;
  // The data rows in view that the pixel rows top..bottom touch.
  IndexSpan DataRowsIn(int top, int bottom) const;

 private:
  std::array<int, MapGrid::kColumnCount> widths_{};
  std::array<int, MapGrid::kColumnCount + 1> lefts_{};
  std::int32_t rows_ = 1;
  int viewport_height_ = 0;
  std::int32_t top_row_ = 1;
};

}  // namespace varnok
