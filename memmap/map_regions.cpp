// Regions, region jumps and scroll bar marks: all worked out from the filled spans, never row by row.
#include <algorithm>

#include "map_spans.h"
#include "memmap/map_grid.h"

namespace varnok {

const std::vector<MapRegion>& MapGrid::Regions() const {
  if (regions_) return *regions_;
  std::vector<MapRegion> regions;
  std::uint64_t first = 0;
  std::uint64_t end = 0;
  bool open = false;
  const auto close = [&] {
    regions.push_back(MapRegion{base_ + static_cast<std::uint32_t>(first), base_ + static_cast<std::uint32_t>(end - 1)});
  };
  ForEachSpan(0, [&](std::uint64_t offset, const std::uint8_t*, std::uint64_t length) {
    if (open && offset == end) {
      end += length;
      return true;
    }
    if (open) close();
    first = offset;
    end = offset + length;
    open = true;
    return true;
  });
  if (open) close();
  regions_ = std::move(regions);
  return *regions_;
}

namespace {

// Where a region's first row stands among the data rows (1-based).
std::int32_t StartRow(const MapRegion& region, std::uint32_t base) {
  return static_cast<std::int32_t>((region.first - base) >> 5) + 1;
}

}  // namespace

std::optional<std::int32_t> MapGrid::NextRegionRow(std::int32_t row) const {
  const std::vector<MapRegion>& regions = Regions();
  const auto next = std::upper_bound(regions.begin(), regions.end(), row, [&](std::int32_t r, const MapRegion& region) {
    return r < StartRow(region, base_);
  });
  if (next == regions.end()) return std::nullopt;
  return StartRow(*next, base_);
}

std::optional<std::int32_t> MapGrid::PreviousRegionRow(std::int32_t row) const {
  const std::vector<MapRegion>& regions = Regions();
  const auto after = std::lower_bound(regions.begin(), regions.end(), row, [&](const MapRegion& region, std::int32_t r) {
    return StartRow(region, base_) < r;
  });
  if (after == regions.begin()) return std::nullopt;
  return StartRow(*std::prev(after), base_);
}

namespace {

// The pixel rows whose data rows meet the zero-based rows first..last, for `pixels` pixel rows over `rows` data rows:
// pixel i stands for rows i * rows / pixels up to (i + 1) * rows / pixels, exclusive, and at least for its first one.
struct PixelSpan {
  std::uint64_t first;
  std::uint64_t last;
};

PixelSpan PixelsOfRows(std::uint64_t first, std::uint64_t last, std::uint64_t rows, std::uint64_t pixels) {
  const auto ceil_div = [](std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; };
  const std::uint64_t by_end = ceil_div((first + 1) * pixels, rows) - 1;
  const std::uint64_t by_start = ceil_div(first * pixels, rows);
  return PixelSpan{std::min(by_end, by_start), std::min(pixels - 1, ((last + 1) * pixels - 1) / rows)};
}

}  // namespace

std::vector<std::uint8_t> MapGrid::ScrollMarks(int pixels) const {
  if (pixels <= 0) return {};
  std::vector<std::uint8_t> marks(static_cast<std::size_t>(pixels), 0);
  const auto count = static_cast<std::uint64_t>(pixels);
  const auto mark = [&](std::uint64_t first_row, std::uint64_t last_row, std::uint8_t bit) {
    const PixelSpan span = PixelsOfRows(first_row, last_row, data_rows_, count);
    for (std::uint64_t i = span.first; i <= span.last; ++i) marks[i] |= bit;
  };
  ForEachSpan(0, [&](std::uint64_t offset, const std::uint8_t*, std::uint64_t length) {
    mark(offset / kBytesPerRow, (offset + length - 1) / kBytesPerRow, kFilledMark);
    return true;
  });
  for (std::int32_t row = NextWrittenRow(0); row > 0; row = NextWrittenRow(row)) {
    if (Row(row).start_vector != 0) {
      const auto index = static_cast<std::uint64_t>(row - 1);
      mark(index, index, kStartVectorMark);
    }
  }
  return marks;
}

}  // namespace varnok
