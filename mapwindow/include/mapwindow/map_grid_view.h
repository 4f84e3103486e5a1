#pragma once

#include <QAbstractScrollArea>
#include <QRect>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "memmap/grid_layout.h"
#include "memmap/map_grid.h"

class QPainter;

namespace varnok {

class ScrollMarksBar;

// The state of a cell handed to the draw handler.
struct GridDrawState {
  bool fixed = false;     // column 0 or row 0
  bool selected = false;  // a non-fixed cell of the current row
  bool focused = false;   // a non-fixed cell of the current row while the grid has the keyboard focus
};

// A string grid over a MapGrid of any size (up to 134,217,729 rows): one fixed row and column,
// rows 24 px high, 1-px grid lines, whole-row selection of one row or, with Shift, a range. The vertical scroll
// bar's value is the top data row; only the rows in view are painted and positions map to cells by arithmetic. The
// scroll bar's groove shows marks where the rows hold data.
class MapGridView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Paints one cell completely into rect (viewport coordinates, grid lines excluded). The painter comes
  // with the grid's font set and must be handed back with it.
  using DrawCellHandler =
      std::function<void(QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                         GridDrawState state)>;
  // Receives every mouse movement over the grid, in viewport coordinates.
  using MouseMoveHandler = std::function<void(Qt::KeyboardModifiers shift, int x, int y)>;
  // The scroll bar's marks for a groove of `pixels` pixel rows, one entry each: bit 0 filled cells, bit 1 the
  // start vector, bit 2 a difference, bit 3 data outside the target's regions.
  using MarksSource = std::function<std::vector<std::uint8_t>(int pixels)>;

  static constexpr int kDefaultColumnWidth = GridLayout::kDefaultColumnWidth;
  static constexpr int kRowHeight = GridLayout::kRowHeight;
  static constexpr int kLineWidth = GridLayout::kLineWidth;

  // Keeps a reference to grid, which must outlive the view.
  MapGridView(const MapGrid& grid, QWidget* parent);

  void SetColumnWidth(std::int32_t column, int width);
  int ColumnWidth(std::int32_t column) const;

  void SetOnDrawCell(DrawCellHandler handler);
  void SetOnMouseMove(MouseMoveHandler handler);
  void SetMarksSource(MarksSource source);
  // Asks the marks' source again before the scroll bar's next paint.
  void InvalidateMarks();

  // Rereads the row count after the model was built and makes the first data row current and topmost.
  void Reset();

  std::int32_t RowCount() const { return layout_.RowCount(); }
  // The grid's geometry as it stands: column widths, rows, viewport height and top row.
  const GridLayout& Layout() const { return layout_; }
  // The current row; 1 when the map has data rows.
  std::int32_t Row() const { return row_; }
  // The selected rows: from the row where the selection began to the current row, the lower first.
  std::int32_t FirstSelectedRow() const { return std::min(anchor_, row_); }
  std::int32_t LastSelectedRow() const { return std::max(anchor_, row_); }
  // Makes row current and the only selected one (clamped to the data rows) and scrolls it into view.
  void SelectRow(std::int32_t row);
  // Makes row current (clamped to the data rows), the selection reaching from where it began to there, and scrolls
  // it into view.
  void ExtendSelection(std::int32_t row);
  // Makes row current (clamped to the data rows) and scrolls it to the middle of the view, as far as the rows go.
  void SelectRowCentred(std::int32_t row);
  // The data row shown directly under the header row.
  std::int32_t TopRow() const { return layout_.TopRow(); }
  void SetTopRow(std::int32_t row);
  // The number of data rows that fit completely below the header row, at least 1.
  std::int32_t VisibleRowCount() const { return layout_.VisibleRowCount(); }

  // The column and row under a viewport position; each is -1 where the position lies outside the cells.
  CellPos MouseCoord(int x, int y) const { return layout_.HitTest(x, y); }
  // The rectangle of a cell in viewport coordinates, grid lines excluded; empty when it is out of view.
  QRect CellRect(std::int32_t column, std::int32_t row) const;

  // Repaints the cells of the rows first..last that are in view.
  void InvalidateRows(std::int32_t first, std::int32_t last);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void UpdateScrollRange();
  // Moves the current row, and the anchor with it unless extend, and repaints what changed.
  void MoveTo(std::int32_t row, bool extend);
  void PaintDefaultCell(QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                        GridDrawState state) const;

  const MapGrid& grid_;
  ScrollMarksBar* const marks_bar_;
  GridLayout layout_;
  std::int32_t row_ = 1;
  std::int32_t anchor_ = 1;  // where the selection began
  DrawCellHandler on_draw_cell_;
  MouseMoveHandler on_mouse_move_;
};

}  // namespace varnok
