#include "memmap/map_grid_view.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>

namespace varnok {

namespace {

// Every row occupies its height plus the grid line below it; every column its width plus the line right of it.
constexpr int kRowPitch = MapGridView::kRowHeight + MapGridView::kLineWidth;

}  // namespace

MapGridView::MapGridView(const MapGrid& grid, QWidget* parent) : QAbstractScrollArea(parent), grid_(grid) {
  widths_.fill(kDefaultColumnWidth);
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setMouseTracking(true);
  // paintEvent covers every pixel of the update rectangle, so the viewport needs no fill of its own.
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  verticalScrollBar()->setSingleStep(1);
  UpdateScrollRange();
}

void MapGridView::SetColumnWidth(std::int32_t column, int width) {
  if (column < 0 || column >= MapGrid::kColumnCount) return;
  widths_[static_cast<std::size_t>(column)] = std::max(0, width);
  viewport()->update();
}

int MapGridView::ColumnWidth(std::int32_t column) const {
  if (column < 0 || column >= MapGrid::kColumnCount) return 0;
  return widths_[static_cast<std::size_t>(column)];
}

void MapGridView::SetOnDrawCell(DrawCellHandler handler) {
  on_draw_cell_ = std::move(handler);
  viewport()->update();
}

void MapGridView::SetOnMouseMove(MouseMoveHandler handler) { on_mouse_move_ = std::move(handler); }

void MapGridView::Reset() {
  row_ = 1;
  UpdateScrollRange();
  verticalScrollBar()->setValue(1);
  viewport()->update();
}

std::int32_t MapGridView::RowCount() const { return std::max<std::int32_t>(grid_.RowCount(), 1); }

void MapGridView::SelectRow(std::int32_t row) {
  const std::int32_t last = RowCount() - 1;
  if (last < 1) return;
  row = std::clamp<std::int32_t>(row, 1, last);
  const std::int32_t old = row_;
  row_ = row;
  const std::int32_t top = TopRow();
  const std::int32_t page = VisibleRowCount();
  if (row < top) {
    SetTopRow(row);
  } else if (row > top + page - 1) {
    SetTopRow(row - page + 1);
  }
  InvalidateRows(old, old);
  InvalidateRows(row, row);
}

std::int32_t MapGridView::TopRow() const { return verticalScrollBar()->value(); }

void MapGridView::SetTopRow(std::int32_t row) { verticalScrollBar()->setValue(row); }

std::int32_t MapGridView::VisibleRowCount() const {
  return std::max(1, (viewport()->height() - kRowPitch) / kRowPitch);
}

CellPos MapGridView::MouseCoord(int x, int y) const {
  CellPos pos{-1, -1};
  if (x >= 0) {
    int right = 0;
    for (std::int32_t c = 0; c < MapGrid::kColumnCount; ++c) {
      // The grid line right of a cell belongs to that cell.
      right += widths_[static_cast<std::size_t>(c)] + kLineWidth;
      if (x < right) {
        pos.column = c;
        break;
      }
    }
  }
  if (y >= 0) {
    if (y < kRowPitch) {
      pos.row = 0;
    } else {
      const std::int64_t row = static_cast<std::int64_t>(TopRow()) + (y - kRowPitch) / kRowPitch;
      if (row < RowCount()) pos.row = static_cast<std::int32_t>(row);
    }
  }
  return pos;
}

QRect MapGridView::CellRect(std::int32_t column, std::int32_t row) const {
  if (column < 0 || column >= MapGrid::kColumnCount || row < 0 || row >= RowCount()) return {};
  if (row != 0 && (row < TopRow() || row > LastRowInView())) return {};
  return QRect(ColumnLeft(column), RowTop(row), widths_[static_cast<std::size_t>(column)], kRowHeight);
}

void MapGridView::InvalidateRows(std::int32_t first, std::int32_t last) {
  first = std::max(first, TopRow());
  last = std::min(last, LastRowInView());
  if (first > last) return;
  viewport()->update(QRect(0, RowTop(first), viewport()->width(), (last - first + 1) * kRowPitch));
}

void MapGridView::InvalidateCell(std::int32_t column, std::int32_t row) {
  const QRect rect = CellRect(column, row);
  if (!rect.isEmpty()) viewport()->update(rect);
}

int MapGridView::ColumnLeft(std::int32_t column) const {
  int left = 0;
  for (std::int32_t c = 0; c < column; ++c) left += widths_[static_cast<std::size_t>(c)] + kLineWidth;
  return left;
}

int MapGridView::ColumnsRight() const { return ColumnLeft(MapGrid::kColumnCount); }

int MapGridView::RowTop(std::int32_t row) const { return row == 0 ? 0 : (row - TopRow() + 1) * kRowPitch; }

std::int32_t MapGridView::LastRowInView() const {
  // A partly visible row at the bottom is in view too.
  const int rows = (viewport()->height() - kRowPitch + kRowPitch - 1) / kRowPitch;
  return std::min<std::int32_t>(TopRow() + std::max(rows, 0) - 1, RowCount() - 1);
}

void MapGridView::UpdateScrollRange() {
  const std::int32_t data_rows = RowCount() - 1;
  const std::int32_t page = VisibleRowCount();
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(1, std::max(1, data_rows - page + 1));
  bar->setPageStep(page);
}

void MapGridView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setFont(font());
  const QRect dirty = event->rect();
  const QColor grid_colour = palette().color(QPalette::Window);

  const std::int32_t top = TopRow();
  const std::int32_t last = LastRowInView();
  std::int32_t first_row = top + std::max(0, (dirty.top() - kRowPitch) / kRowPitch);
  std::int32_t last_row = std::min(last, top + std::max(-1, (dirty.bottom() - kRowPitch) / kRowPitch));
  if (dirty.bottom() < kRowPitch) last_row = first_row - 1;
  const bool header = dirty.top() < kRowPitch;

  std::int32_t first_col = 0;
  std::int32_t last_col = -1;
  std::array<int, MapGrid::kColumnCount> lefts{};
  for (std::int32_t c = 0, x = 0; c < MapGrid::kColumnCount; ++c) {
    lefts[static_cast<std::size_t>(c)] = x;
    const int next = x + widths_[static_cast<std::size_t>(c)] + kLineWidth;
    if (next <= dirty.left()) first_col = c + 1;
    if (x <= dirty.right()) last_col = c;
    x = next;
  }
  const int columns_right = ColumnsRight();

  const bool focused = hasFocus();
  auto paint_row = [&](std::int32_t row) {
    const int y = RowTop(row);
    for (std::int32_t c = first_col; c <= last_col; ++c) {
      const QRect rect(lefts[static_cast<std::size_t>(c)], y, widths_[static_cast<std::size_t>(c)], kRowHeight);
      GridDrawState state;
      state.fixed = c == 0 || row == 0;
      state.selected = !state.fixed && row == row_;
      state.focused = state.selected && focused;
      if (on_draw_cell_) {
        on_draw_cell_(painter, c, row, rect, state);
      } else {
        PaintDefaultCell(painter, c, row, rect, state);
      }
    }
  };
  if (header) paint_row(0);
  for (std::int32_t row = first_row; row <= last_row; ++row) paint_row(row);

  // Grid lines in the toolkit's table line colour, then the grid's own colour outside the cells.
  QStyleOption option;
  option.initFrom(this);
  const QColor line_colour =
      QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
  const int rows_bottom = (last < top ? 1 : last - top + 2) * kRowPitch;
  const int lines_bottom = std::min(rows_bottom, dirty.bottom() + 1);
  for (std::int32_t c = first_col; c <= last_col && lines_bottom > dirty.top(); ++c) {
    const int x = lefts[static_cast<std::size_t>(c)] + widths_[static_cast<std::size_t>(c)];
    painter.fillRect(QRect(x, dirty.top(), kLineWidth, lines_bottom - dirty.top()), line_colour);
  }
  auto line_below = [&](std::int32_t row) {
    painter.fillRect(QRect(0, RowTop(row) + kRowHeight, columns_right, kLineWidth), line_colour);
  };
  if (header) line_below(0);
  for (std::int32_t row = first_row; row <= last_row; ++row) line_below(row);
  if (dirty.right() >= columns_right) {
    painter.fillRect(QRect(columns_right, dirty.top(), dirty.right() + 1 - columns_right, dirty.height()),
                     grid_colour);
  }
  if (dirty.bottom() >= rows_bottom) {
    painter.fillRect(QRect(dirty.left(), rows_bottom, dirty.width(), dirty.bottom() + 1 - rows_bottom), grid_colour);
  }

  if (focused && row_ >= first_row && row_ <= last_row) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = QRect(lefts[1], RowTop(row_), columns_right - kLineWidth - lefts[1], kRowHeight);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
  }
}

void MapGridView::PaintDefaultCell(QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                                   GridDrawState state) const {
  const QPalette& pal = palette();
  painter.fillRect(rect, state.fixed ? pal.color(QPalette::Button)
                                     : pal.color(state.selected ? QPalette::Highlight : QPalette::Base));
  painter.setPen(pal.color(state.selected ? QPalette::HighlightedText : QPalette::Text));
  const std::string text = grid_.Cell(column, row);
  painter.drawText(rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void MapGridView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

void MapGridView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      SelectRow(row_ - 1);
      break;
    case Qt::Key_Down:
      SelectRow(row_ + 1);
      break;
    case Qt::Key_PageUp:
      SelectRow(row_ - VisibleRowCount());
      break;
    case Qt::Key_PageDown:
      SelectRow(row_ + VisibleRowCount());
      break;
    case Qt::Key_Home:
      SelectRow(1);
      break;
    case Qt::Key_End:
      SelectRow(RowCount() - 1);
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  event->accept();
}

void MapGridView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const QPoint pos = event->position().toPoint();
  const CellPos cell = MouseCoord(pos.x(), pos.y());
  if (cell.column >= 1 && cell.row >= 1) SelectRow(cell.row);
  event->accept();
}

void MapGridView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->buttons() & Qt::LeftButton) {
    const CellPos cell = MouseCoord(pos.x(), pos.y());
    if (cell.column >= 1 && cell.row >= 1) SelectRow(cell.row);
  }
  if (on_mouse_move_) on_mouse_move_(event->modifiers(), pos.x(), pos.y());
  event->accept();
}

void MapGridView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  InvalidateRows(row_, row_);
}

void MapGridView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  InvalidateRows(row_, row_);
}

void MapGridView::scrollContentsBy(int /*dx*/, int /*dy*/) { viewport()->update(); }

}  // namespace varnok
