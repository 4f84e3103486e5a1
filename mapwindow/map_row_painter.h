#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QStaticText>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "image/image_compare.h"
#include "regions/region_cover.h"
#include "memmap/map_grid.h"
#include "mapwindow/map_grid_view.h"

class QPaintDevice;
class QPainter;
class QPalette;

namespace varnok {

// Paints the map window's cells: the header and address columns raised on cream, the bytes in their legend
// colour (darker on the selected row, aqua where the last match lies), the ASCII column in a fixed-pitch face.
class MapRowPainter {
 public:
  // Whether a byte cell lies in the highlighted match.
  using MatchTest = std::function<bool(std::int32_t column, std::int32_t row)>;

  // Keeps a reference to map, which must outlive the painter; cell_font is the grid's font on device.
  MapRowPainter(const MapGrid& map, const QFont& cell_font, const QPaintDevice* device, MatchTest in_match);

  // Paints one cell completely into rect; the painter comes and goes with the cell font set.
  void PaintCell(QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect, GridDrawState state,
                 const QPalette& palette);
  // Drops the kept row after the map's data changed.
  void ForgetRow() { cached_row_ = -1; }
  // Paints the cells that differ from other (laid out over the same rows) in the comparison's colours; null ends it.
  // Keeps a reference to other, which must outlive the painter or the next call.
  void SetOther(const MapGrid* other) {
    other_ = other;
    ForgetRow();
  }
  // Paints a band of each row's region in the address column and the filled cells outside every region in their
  // colour; null ends it. Keeps a reference to cover, which must outlive the painter or the next call.
  void SetCover(const RegionCover* cover) {
    cover_ = cover;
    ForgetRow();
  }

 private:
  // The bytes and marks of a data row, kept from one cell to the next while a row is painted.
  const RowCells& CachedRow(std::int32_t row);
  std::optional<std::size_t> CachedBand(std::int32_t row);
  const QStaticText& ByteText(std::uint8_t value);

  const MapGrid& map_;
  MatchTest in_match_;
  QFont cell_font_;
  QFont ascii_font_;
  QFontMetrics cell_metrics_;
  QFontMetrics ascii_metrics_;
  // The laid-out two-digit texts "00" to "FF", made when first drawn.
  std::array<std::optional<QStaticText>, 256> byte_texts_;
  const MapGrid* other_ = nullptr;
  const RegionCover* cover_ = nullptr;
  std::int32_t cached_row_ = -1;
  RowCells cached_cells_;
  RowDiff cached_diff_;  // of the kept row, while comparing
  RowCells cached_other_;  // the other image's cells of the kept row, while comparing
  std::uint32_t cached_inside_ = ~0u;  // the kept row's byte columns inside a region, or all without regions
  std::optional<std::size_t> cached_band_;  // the kept row's region
};

}  // namespace varnok
