#include "mapwindow/map_grid_view.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>

#include "scroll_marks_bar.h"

namespace varnok {

MapGridView::MapGridView(const MapGrid& grid, QWidget* parent)
    : QAbstractScrollArea(parent), grid_(grid), marks_bar_(new ScrollMarksBar(this)) {
  setVerticalScrollBar(marks_bar_);
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setMouseTracking(true);
  // paintEvent covers every pixel of the update rectangle, so the viewport needs no fill of its own.
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  verticalScrollBar()->setSingleStep(1);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) { layout_.SetTopRow(value); });
  UpdateScrollRange();
}

void MapGridView::SetColumnWidth(std::int32_t column, int width) {
  layout_.SetColumnWidth(column, width);
  viewport()->update();
}

int MapGridView::ColumnWidth(std::int32_t column) const { return layout_.ColumnWidth(column); }

void MapGridView::SetOnDrawCell(DrawCellHandler handler) {
  on_draw_cell_ = std::move(handler);
  viewport()->update();
}

void MapGridView::SetOnMouseMove(MouseMoveHandler handler) { on_mouse_move_ = std::move(handler); }

void MapGridView::SetMarksSource(MarksSource source) { marks_bar_->SetMarksSource(std::move(source)); }

void MapGridView::InvalidateMarks() { marks_bar_->InvalidateMarks(); }

void MapGridView::Reset() {
  row_ = 1;
  anchor_ = 1;
  layout_.SetRowCount(grid_.RowCount());
  UpdateScrollRange();
  verticalScrollBar()->setValue(1);
  viewport()->update();
  marks_bar_->InvalidateMarks();
}

void MapGridView::SelectRow(std::int32_t row) { MoveTo(row, false); }

void MapGridView::ExtendSelection(std::int32_t row) { MoveTo(row, true); }

void MapGridView::MoveTo(std::int32_t row, bool extend) {
  const std::int32_t last = RowCount() - 1;
  if (last < 1) return;
  row = std::clamp<std::int32_t>(row, 1, last);
  const std::int32_t old_first = FirstSelectedRow();
  const std::int32_t old_last = LastSelectedRow();
  row_ = row;
  if (!extend) anchor_ = row;
  SetTopRow(layout_.TopRowShowing(row));
  InvalidateRows(old_first, old_last);
  InvalidateRows(FirstSelectedRow(), LastSelectedRow());
}

void MapGridView::SelectRowCentred(std::int32_t row) {
  const std::int32_t last = RowCount() - 1;
  if (last < 1) return;
  row = std::clamp<std::int32_t>(row, 1, last);
  // The scroll bar clamps the top row, so rows near either end of the map stay where they can be.
  SetTopRow(row - (VisibleRowCount() - 1) / 2);
  SelectRow(row);
}

void MapGridView::SetTopRow(std::int32_t row) { verticalScrollBar()->setValue(row); }

QRect MapGridView::CellRect(std::int32_t column, std::int32_t row) const {
  const PixelRect rect = layout_.CellRect(column, row);
  return rect.Empty() ? QRect() : QRect(rect.left, rect.top, rect.width, rect.height);
}

void MapGridView::InvalidateRows(std::int32_t first, std::int32_t last) {
  first = std::max(first, TopRow());
  last = std::min(last, layout_.LastRowInView());
  if (first > last) return;
  viewport()->update(
      QRect(0, layout_.RowTop(first), viewport()->width(), (last - first + 1) * GridLayout::kRowPitch));
}

void MapGridView::UpdateScrollRange() {
  layout_.SetViewportHeight(viewport()->height());
  const ScrollRange range = layout_.ScrollBarRange();
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(range.minimum, range.maximum);
  bar->setPageStep(range.page);
  layout_.SetTopRow(bar->value());
}

void MapGridView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setFont(font());
  const QRect dirty = event->rect();
  const QColor grid_colour = palette().color(QPalette::Window);

  const IndexSpan rows = layout_.DataRowsIn(dirty.top(), dirty.bottom());
  const bool header = dirty.top() < GridLayout::kRowPitch;
  const IndexSpan columns = layout_.ColumnsIn(dirty.left(), dirty.right());
  const int columns_right = layout_.ColumnsRight();

  const bool focused = hasFocus();
  const std::int32_t first_selected = FirstSelectedRow();
  const std::int32_t last_selected = LastSelectedRow();
  auto paint_row = [&](std::int32_t row) {
    const int y = layout_.RowTop(row);
    for (std::int32_t c = columns.first; c <= columns.last; ++c) {
      const QRect rect(layout_.ColumnLeft(c), y, layout_.ColumnWidth(c), kRowHeight);
      GridDrawState state;
      state.fixed = c == 0 || row == 0;
      state.selected = !state.fixed && row >= first_selected && row <= last_selected;
      state.focused = state.selected && focused;
      if (on_draw_cell_) {
        on_draw_cell_(painter, c, row, rect, state);
      } else {
        PaintDefaultCell(painter, c, row, rect, state);
      }
    }
  };
  if (header) paint_row(0);
  for (std::int32_t row = rows.first; row <= rows.last; ++row) paint_row(row);

  // Grid lines in the toolkit's table line colour, then the grid's own colour outside the cells.
  QStyleOption option;
  option.initFrom(this);
  const QColor line_colour =
      QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
  const int rows_bottom = layout_.RowsBottom();
  const int lines_bottom = std::min(rows_bottom, dirty.bottom() + 1);
  for (std::int32_t c = columns.first; c <= columns.last && lines_bottom > dirty.top(); ++c) {
    const int x = layout_.ColumnLeft(c) + layout_.ColumnWidth(c);
    painter.fillRect(QRect(x, dirty.top(), kLineWidth, lines_bottom - dirty.top()), line_colour);
  }
  auto line_below = [&](std::int32_t row) {
    painter.fillRect(QRect(0, layout_.RowTop(row) + kRowHeight, columns_right, kLineWidth), line_colour);
  };
  if (header) line_below(0);
  for (std::int32_t row = rows.first; row <= rows.last; ++row) line_below(row);
  if (dirty.right() >= columns_right) {
    painter.fillRect(QRect(columns_right, dirty.top(), dirty.right() + 1 - columns_right, dirty.height()),
                     grid_colour);
  }
  if (dirty.bottom() >= rows_bottom) {
    painter.fillRect(QRect(dirty.left(), rows_bottom, dirty.width(), dirty.bottom() + 1 - rows_bottom), grid_colour);
  }

  if (focused && row_ >= rows.first && row_ <= rows.last) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    const int left = layout_.ColumnLeft(1);
    focus.rect = QRect(left, layout_.RowTop(row_), columns_right - kLineWidth - left, kRowHeight);
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
  // Shift keeps where the selection began, so that the keys select a range.
  const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
  switch (event->key()) {
    case Qt::Key_Up:
      MoveTo(row_ - 1, extend);
      break;
    case Qt::Key_Down:
      MoveTo(row_ + 1, extend);
      break;
    case Qt::Key_PageUp:
      MoveTo(row_ - VisibleRowCount(), extend);
      break;
    case Qt::Key_PageDown:
      MoveTo(row_ + VisibleRowCount(), extend);
      break;
    case Qt::Key_Home:
      MoveTo(1, extend);
      break;
    case Qt::Key_End:
      MoveTo(RowCount() - 1, extend);
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  event->accept();
}

void MapGridView::mousePressEvent(QMouseEvent* event) {
  // A right click selects the row under the mouse first, so that the context menu acts on that row.
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const QPoint pos = event->position().toPoint();
  const CellPos cell = MouseCoord(pos.x(), pos.y());
  if (cell.column >= 1 && cell.row >= 1) {
    // A right click inside a range keeps it, so that the context menu acts on all of it.
    const bool in_range = cell.row >= FirstSelectedRow() && cell.row <= LastSelectedRow();
    if (event->button() != Qt::RightButton || !in_range) {
      MoveTo(cell.row, event->modifiers().testFlag(Qt::ShiftModifier));
    }
  }
  event->accept();
}

void MapGridView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->buttons() & Qt::LeftButton) {
    const CellPos cell = MouseCoord(pos.x(), pos.y());
    // A drag selects the rows it passes over.
    if (cell.column >= 1 && cell.row >= 1) ExtendSelection(cell.row);
  }
  if (on_mouse_move_) on_mouse_move_(event->modifiers(), pos.x(), pos.y());
  event->accept();
}

void MapGridView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  InvalidateRows(FirstSelectedRow(), LastSelectedRow());
}

void MapGridView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  InvalidateRows(FirstSelectedRow(), LastSelectedRow());
}

void MapGridView::scrollContentsBy(int /*dx*/, int /*dy*/) { viewport()->update(); }

}  // namespace varnok
