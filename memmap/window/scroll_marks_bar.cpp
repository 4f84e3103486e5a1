#include "scroll_marks_bar.h"

#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionSlider>

namespace varnok {

namespace {

const QColor kFilledMark(255, 255, 0);
const QColor kStartVectorMark(255, 0, 255);
// The marks leave this much of the groove free on either side, so that the groove stays recognisable.
constexpr int kMarkInset = 2;

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

QRect ScrollMarksBar::Groove() const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, this);
}

void ScrollMarksBar::resizeEvent(QResizeEvent* event) {
  QScrollBar::resizeEvent(event);
  if (event->size().height() != event->oldSize().height()) marks_valid_ = false;
}

void ScrollMarksBar::paintEvent(QPaintEvent* /*event*/) {
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect groove = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, this);
  if (!marks_valid_) {
    marks_ = source_ ? source_(groove.height()) : std::vector<std::uint8_t>();
    marks_valid_ = true;
  }

  QPainter painter(this);
  // The bar is drawn in two passes, everything but the slider first, so that the marks lie between groove and slider.
  const QStyle::SubControls all = option.subControls;
  option.subControls = all & ~QStyle::SC_ScrollBarSlider;
  style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);

  const int left = groove.left() + kMarkInset;
  const int width = groove.width() - 2 * kMarkInset;
  const int rows = std::min(groove.height(), static_cast<int>(marks_.size()));
  // Runs of equal marks are filled as one rectangle: a map with data everywhere costs one fill, not one per pixel.
  for (int y = 0; y < rows;) {
    const std::uint8_t mark = marks_[static_cast<std::size_t>(y)];
    int end = y + 1;
    while (end < rows && marks_[static_cast<std::size_t>(end)] == mark) ++end;
    if (mark != 0) {
      painter.fillRect(QRect(left, groove.top() + y, width, end - y), (mark & 2) ? kStartVectorMark : kFilledMark);
    }
    y = end;
  }

  option.subControls = all & QStyle::SC_ScrollBarSlider;
  if (option.subControls != QStyle::SC_None) style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
}

}  // namespace varnok
