#include "scroll_marks_bar.h"

#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <new>

#include "map_legend.h"

namespace varnok {

namespace {

// The marks leave this much of the groove free on either side, so that the groove stays recognisable.
constexpr int kMarkInset = 2;
// Over the slider the marks keep to a lane this wide at its right edge, so that the slider stays visible and the
// data under it is still told.
constexpr int kSliderLane = 3;
// A mark is at least this many pixel rows high, so that a single row of data in a map of millions still shows.
constexpr int kMinMarkHeight = 3;
// The slider's outline: dark outside, light inside, so that it stands out on any mark and on the bare groove.
const QColor kOutlineOuter(0, 0, 0);
const QColor kOutlineInner(255, 255, 255);

// The marks grown to at least kMinMarkHeight rows each: every mark also colours the row above and below it, and a
// mark at either end of the groove the two rows beside it.
std::vector<std::uint8_t> Thickened(const std::vector<std::uint8_t>& marks) {
  const std::size_t rows = marks.size();
  if (rows < kMinMarkHeight) return marks;
  std::vector<std::uint8_t> thick(marks);
  for (std::size_t y = 0; y < rows; ++y) {
    if (marks[y] == 0) continue;
    const std::size_t top = y == 0 ? 0 : std::min(y - 1, rows - kMinMarkHeight);
    for (std::size_t row = top; row < top + kMinMarkHeight; ++row) thick[row] |= marks[y];
  }
  return thick;
}

}  // namespace

ScrollMarksBar::ScrollMarksBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

void ScrollMarksBar::SetMarksSource(MarksSource source) {
  source_ = std::move(source);
  InvalidateMarks();
}

void ScrollMarksBar::InvalidateMarks() {
  marks_valid_ = false;
  update();
}

void ScrollMarksBar::resizeEvent(QResizeEvent* event) {
  QScrollBar::resizeEvent(event);
  if (event->size().height() != event->oldSize().height()) marks_valid_ = false;
}

void ScrollMarksBar::paintEvent(QPaintEvent* event) {
  // The toolkit paints the bar as usual, pressed and hovered parts included; the marks go on the groove beside
  // the slider, which they never cover.
  QScrollBar::paintEvent(event);
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect groove = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, this);
  if (!marks_valid_) {
    marks_valid_ = true;
    // No exception leaves a paint event: without the memory for its marks the bar is shown without them.
    try {
      marks_ = source_ ? Thickened(source_(groove.height())) : std::vector<std::uint8_t>();
    } catch (const std::bad_alloc&) {
      marks_.clear();
    }
  }
  const QRect slider = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
  const QRect wide(groove.left() + kMarkInset, groove.top(), groove.width() - 2 * kMarkInset, groove.height());
  const QRect lane(wide.right() + 1 - kSliderLane, groove.top(), kSliderLane, groove.height());
  QPainter painter(this);
  // Above and below the slider a mark spans the groove; over it, only the lane, painted after the slider's outline
  // so that the outline never hides a mark.
  PaintMarks(painter, groove, wide, [&slider](int y) { return y < slider.top() || y > slider.bottom(); });
  if (slider.isEmpty()) return;
  painter.setBrush(Qt::NoBrush);
  painter.setPen(kOutlineOuter);
  painter.drawRect(slider.adjusted(0, 0, -1, -1));
  if (slider.width() > 2 && slider.height() > 2) {
    painter.setPen(kOutlineInner);
    painter.drawRect(slider.adjusted(1, 1, -2, -2));
  }
  PaintMarks(painter, groove, lane, [&slider](int y) { return y >= slider.top() && y <= slider.bottom(); });
}

void ScrollMarksBar::PaintMarks(QPainter& painter, const QRect& groove, const QRect& across,
                                const std::function<bool(int y)>& here) const {
  const int rows = std::min(groove.height(), static_cast<int>(marks_.size()));
  // Runs of equal marks are filled as one rectangle: a map with data everywhere costs one fill per run, not one per
  // pixel.
  for (int y = 0; y < rows;) {
    const std::uint8_t mark = marks_[static_cast<std::size_t>(y)];
    const bool shown = here(groove.top() + y);
    int end = y + 1;
    while (end < rows && marks_[static_cast<std::size_t>(end)] == mark && here(groove.top() + end) == shown) ++end;
    if (mark != 0 && shown) {
      const QColor colour = (mark & 2)   ? map_colours::kStartVector
                            : (mark & 4) ? map_colours::kDifferent
                            : (mark & 8) ? map_colours::kOutside
                                         : map_colours::kFilled;
      painter.fillRect(QRect(across.left(), groove.top() + y, across.width(), end - y), colour);
    }
    y = end;
  }
}

}  // namespace varnok
