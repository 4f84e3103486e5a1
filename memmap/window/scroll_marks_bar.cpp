#include "scroll_marks_bar.h"

#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <new>

#include "map_legend.h"

namespace varnok {

namespace {

// The marks leave this much of the groove free on either side, so that the groove stays recognisable.
constexpr int kMarkInset = 2;
// Over the slider the marks keep to a lane this wide at its right edge, so that the slider stays visible and the
// data under it is still told.
constexpr int kSliderLane = 3;
// The slider's outline: dark outside, light inside, so that it stands out on any mark and on the bare groove.
const QColor kOutlineOuter(0, 0, 0);
const QColor kOutlineInner(255, 255, 255);

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
      marks_ = source_ ? source_(groove.height()) : std::vector<std::uint8_t>();
    } catch (const std::bad_alloc&) {
      marks_.clear();
    }
  }
  const QRect slider = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
  const QRect wide(groove.left() + kMarkInset, groove.top(), groove.width() - 2 * kMarkInset, groove.height());
  const QRect lane(wide.right() + 1 - kSliderLane, groove.top(), kSliderLane, groove.height());
  QPainter painter(this);
  const int rows = std::min(groove.height(), static_cast<int>(marks_.size()));
  // Runs of equal marks are filled as one rectangle: a map with data everywhere costs one fill, not one per pixel.
  for (int y = 0; y < rows;) {
    const std::uint8_t mark = marks_[static_cast<std::size_t>(y)];
    int end = y + 1;
    while (end < rows && marks_[static_cast<std::size_t>(end)] == mark) ++end;
    if (mark != 0) {
      const QColor colour = (mark & 2) ? map_colours::kStartVector : map_colours::kFilled;
      const int top = groove.top() + y;
      const int bottom = groove.top() + end - 1;
      // Above and below the slider the mark spans the groove; beside it, only the lane.
      for (int from = top; from <= bottom;) {
        const bool over_slider = from >= slider.top() && from <= slider.bottom();
        const int to = over_slider ? std::min(bottom, slider.bottom())
                       : from < slider.top() ? std::min(bottom, slider.top() - 1)
                                             : bottom;
        const QRect& across = over_slider ? lane : wide;
        painter.fillRect(QRect(across.left(), from, across.width(), to - from + 1), colour);
        from = to + 1;
      }
    }
    y = end;
  }
  if (slider.isEmpty()) return;
  painter.setBrush(Qt::NoBrush);
  painter.setPen(kOutlineOuter);
  painter.drawRect(slider.adjusted(0, 0, -1, -1));
  if (slider.width() > 2 && slider.height() > 2) {
    painter.setPen(kOutlineInner);
    painter.drawRect(slider.adjusted(1, 1, -2, -2));
  }
}

}  // namespace varnok
