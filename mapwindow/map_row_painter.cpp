#include "map_row_painter.h"

#include <QPainter>
#include <QPalette>

#include <string>

#include "text/line_text.h"
#include "map_legend.h"
#include "ui/fonts.h"
#include "ui/text.h"

namespace varnok {

namespace {

const QColor kCream(255, 251, 240);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
// The band of a row's region in the address column, wide enough to tell at a glance; the address moves right of it.
constexpr int kBandWidth = 6;
// The cells of the last match of Find: a colour of its own beside the legend's and the selected row's.
const QColor kAqua(0, 255, 255);

// The fixed-pitch face at the grid font's height.
QFont AsciiFont(const QFont& cell_font) {
  QFont font = ui::FixedFont();
  if (cell_font.pixelSize() > 0) {
    font.setPixelSize(cell_font.pixelSize());
  } else {
    font.setPointSizeF(cell_font.pointSizeF());
  }
  return font;
}

}  // namespace

MapRowPainter::MapRowPainter(const MapGrid& map, const QFont& cell_font, const QPaintDevice* device,
                             MatchTest in_match)
    : map_(map),
      in_match_(std::move(in_match)),
      cell_font_(cell_font),
      ascii_font_(AsciiFont(cell_font)),
      cell_metrics_(cell_font_, device),
      ascii_metrics_(ascii_font_, device) {}

std::optional<std::size_t> MapRowPainter::CachedBand(std::int32_t row) {
  CachedRow(row);
  return cached_band_;
}

const RowCells& MapRowPainter::CachedRow(std::int32_t row) {
  if (row != cached_row_) {
    cached_cells_ = map_.Row(row);
    if (other_ != nullptr) cached_other_ = other_->Row(row);
    cached_diff_ = other_ != nullptr ? CompareRow(cached_cells_, cached_other_) : RowDiff{};
    const std::uint32_t address = map_.RowAddress(row);
    cached_inside_ = cover_ != nullptr ? cover_->InsideMask(address) : ~0u;
    cached_band_ = cover_ != nullptr ? cover_->RegionOfRow(address) : std::nullopt;
    cached_row_ = row;
  }
  return cached_cells_;
}

const QStaticText& MapRowPainter::ByteText(std::uint8_t value) {
  std::optional<QStaticText>& text = byte_texts_[value];
  if (!text) {
    text.emplace(ui::ToQt(HexText(value, 2)));
    text->setTextFormat(Qt::PlainText);
    text->prepare(QTransform(), cell_font_);
  }
  return *text;
}

void MapRowPainter::PaintCell(QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                              GridDrawState state, const QPalette& pal) {
  const bool byte_column = column >= 1 && column <= 32;
  CellKind kind = CellKind::UnusedByte;
  const QColor* diff_colour = nullptr;
  std::uint8_t value = static_cast<std::uint8_t>(column - 1);  // a header cell shows its column's offset
  if (byte_column && row > 0) {
    const RowCells& cells = CachedRow(row);
    const std::uint32_t bit = 1u << (column - 1);
    // A byte only the other image holds shows that image's value, not the empty cell's.
    value = (cells.filled & bit)                 ? cells.bytes[static_cast<std::size_t>(column - 1)]
            : (cached_diff_.only_in_b & bit) ? cached_other_.bytes[static_cast<std::size_t>(column - 1)]
                                             : std::uint8_t{0xFF};
    kind = (cells.start_vector & bit) ? CellKind::StartVectorByte
           : (cells.filled & bit)    ? CellKind::FilledByte
                                     : CellKind::UnusedByte;
    diff_colour = (cached_diff_.only_in_a & bit)   ? &map_colours::kOnlyInA
                  : (cached_diff_.only_in_b & bit) ? &map_colours::kOnlyInB
                  : (cached_diff_.different & bit) ? &map_colours::kDifferent
                  : ((cells.filled & bit) && !(cached_inside_ & bit)) ? &map_colours::kOutside
                                                                      : nullptr;
  }

  const QFont* font = &cell_font_;
  const QFontMetrics* metrics = &cell_metrics_;
  QColor brush;
  QColor pen;
  QRect fill = rect;
  if (state.fixed) {
    brush = kCream;
    pen = pal.color(QPalette::WindowText);
    const QColor light = pal.color(QPalette::Light);
    const QColor shadow = pal.color(QPalette::Dark);
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width() - 1, 1), light);
    painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height() - 1), light);
    painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), shadow);
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), shadow);
    fill = rect.adjusted(1, 1, -1, -1);
    if (column == 0 && row > 0 && cover_ != nullptr) {
      painter.fillRect(fill, brush);
      // The band of the row's region along the cell's left edge, over the frame's light edge, so that it ends
      // before the address's first digit.
      if (const std::optional<std::size_t> band = CachedBand(row)) {
        constexpr std::size_t kBands = std::size(map_colours::kRegionBands);
        painter.fillRect(QRect(rect.left(), fill.top(), kBandWidth, fill.height()),
                         map_colours::kRegionBands[*band % kBands]);
      }
      fill = QRect();
    }
  } else if (column == MapGrid::AsciiColumn) {
    brush = pal.color(QPalette::Window);
    pen = pal.color(QPalette::ButtonText);
    font = &ascii_font_;
    metrics = &ascii_metrics_;
  } else if (byte_column && in_match_ && in_match_(column, row)) {
    brush = kAqua;
    pen = kBlack;
  } else if (diff_colour != nullptr) {
    // A difference keeps its colour on the selected row too: the focus frame marks that row.
    brush = *diff_colour;
    pen = kBlack;
  } else if (state.selected) {
    brush = kind == CellKind::FilledByte ? kBlue : kind == CellKind::StartVectorByte ? kRed : kBlack;
    pen = kWhite;
  } else {
    brush = kind == CellKind::FilledByte        ? map_colours::kFilled
            : kind == CellKind::StartVectorByte ? map_colours::kStartVector
                                                : map_colours::kUnused;
    pen = kBlack;
  }
  painter.fillRect(fill, brush);

  QRect text_rect = rect;
  if (column == MapGrid::AsciiColumn && row == 0) {
    text_rect.setLeft(text_rect.left() + 42);
  } else if (byte_column) {
    text_rect.setLeft(text_rect.left() + 1);
  } else {
    text_rect.setLeft(text_rect.left() + (column == 0 && row > 0 && cover_ != nullptr ? kBandWidth + 2 : 2));
  }
  painter.setPen(pen);
  // One line, left-aligned and vertically centred on the font's full height, clipped to the cell.
  const QPoint top_left(text_rect.left(), text_rect.top() + (text_rect.height() - metrics->height()) / 2);

  if (byte_column) {
    // Byte and column-number texts repeat on every row: their laid-out form is kept.
    const QStaticText& text = ByteText(value);
    const bool clip = text.size().width() > text_rect.width();
    if (clip) {
      painter.save();
      painter.setClipRect(text_rect, Qt::IntersectClip);
    }
    painter.drawStaticText(top_left, text);
    if (clip) painter.restore();
    return;
  }

  // The header labels; a row's address; its ASCII text, shown without the blanks at either end.
  std::string shown;
  if (row == 0) {
    shown = map_.Cell(column, 0);
  } else if (column == 0) {
    AppendHex(shown, map_.RowAddress(row), 8);
  } else {
    AppendAscii(shown, CachedRow(row));
    shown.erase(shown.find_last_not_of(' ') + 1);
    shown.erase(0, shown.find_first_not_of(' '));
  }
  if (shown.empty()) return;
  const QString text = ui::ToQt(shown);
  const bool clip = metrics->horizontalAdvance(text) > text_rect.width();
  if (clip) {
    painter.save();
    painter.setClipRect(text_rect, Qt::IntersectClip);
  }
  if (font != &cell_font_) painter.setFont(*font);
  painter.drawText(QPoint(top_left.x(), top_left.y() + metrics->ascent()), text);
  if (font != &cell_font_) painter.setFont(cell_font_);
  if (clip) painter.restore();
}

}  // namespace varnok
