#pragma once

#include <QScrollBar>

#include <cstdint>
#include <functional>
#include <vector>

class QPainter;

namespace varnok {

// A vertical scroll bar whose groove shows where the rows it scrolls through hold data: at each pixel row a
// yellow mark for filled cells, a fuchsia one for the start vector, a vermillion one for a difference, a bluish green one for data outside the target's regions, each at least 3 pixel rows high; over the slider
// only a narrow lane at its edge, on top of the slider. The slider has a dark and a light outline, so that it stays
// visible however dense the marks are. The marks are asked for again only after InvalidateMarks or a change of the
// groove's height, never on a plain repaint.
class ScrollMarksBar : public QScrollBar {
 public:
  // The marks for a groove of `pixels` pixel rows, one entry each: bit 0 filled cells, bit 1 the start vector, bit 2
  // a difference from the image compared with, bit 3 data outside the target's regions (each in its legend colour).
  using MarksSource = std::function<std::vector<std::uint8_t>(int pixels)>;

  explicit ScrollMarksBar(QWidget* parent);

  void SetMarksSource(MarksSource source);
  // Asks the source again before the next paint.
  void InvalidateMarks();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Fills the marks of the groove's pixel rows for which here(y) holds, across the given columns.
  void PaintMarks(QPainter& painter, const QRect& groove, const QRect& across,
                  const std::function<bool(int y)>& here) const;

  MarksSource source_;
  std::vector<std::uint8_t> marks_;
  bool marks_valid_ = false;
};

}  // namespace varnok
