// Regions, region jumps and scroll bar marks: all worked out from the filled spans, never row by row.
#include <algorithm>

#include "map_store.h"
#include "memmap/map_grid.h"
#include "memmap/row_marks.h"

namespace varnok {

std::optional<FilledSpan> MapGrid::SpanFrom(std::uint64_t from, PageCursor& cursor) const {
  std::optional<FilledSpan> found;
  ForEachSpan(*store_, cursor, from, [&](std::uint64_t offset, const std::uint8_t* data, std::uint64_t length) {
    const std::uint64_t skip = from > offset ? from - offset : 0;
    found = FilledSpan{offset + skip, static_cast<std::uint32_t>(length - skip), data + skip};
    return false;
  });
  return found;
}

void MapGrid::FindRegions() {
  std::vector<AddressRange> regions;
  std::uint64_t first = 0;
  std::uint64_t end = 0;
  bool open = false;
  const auto close = [&] {
    regions.push_back(
        AddressRange{base_ + static_cast<std::uint32_t>(first), base_ + static_cast<std::uint32_t>(end - 1)});
  };
  PageCursor cursor;
  ForEachSpan(*store_, cursor, 0, [&](std::uint64_t offset, const std::uint8_t*, std::uint64_t length) {
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
  regions.shrink_to_fit();
  regions_ = std::move(regions);
}

namespace {

// Where a region's first row stands among the data rows (1-based).
std::int32_t StartRow(const AddressRange& region, std::uint32_t base) {
  return static_cast<std::int32_t>((region.first - base) >> 5) + 1;
}

}  // namespace

std::optional<std::int32_t> MapGrid::NextRegionRow(std::int32_t row) const {
  const std::vector<AddressRange>& regions = regions_;
  const auto next = std::upper_bound(regions.begin(), regions.end(), row, [&](std::int32_t r, const AddressRange& region) {
    return r < StartRow(region, base_);
  });
  if (next == regions.end()) return std::nullopt;
  return StartRow(*next, base_);
}

std::optional<std::int32_t> MapGrid::PreviousRegionRow(std::int32_t row) const {
  const std::vector<AddressRange>& regions = regions_;
  const auto after =
      std::lower_bound(regions.begin(), regions.end(), row,
                       [&](const AddressRange& region, std::int32_t r) { return StartRow(region, base_) < r; });
  if (after == regions.begin()) return std::nullopt;
  return StartRow(*std::prev(after), base_);
}

std::vector<std::uint8_t> MapGrid::ScrollMarks(int pixels) const {
  RowMarks marks(*this, pixels, kFilledMark);
  if (marks.Pixels() == 0) return {};
  // Pages come in map order, so the first pixel of interest only moves forward. A page that one pixel alone
  // covers marks it without a look inside: for a 4 GiB map that is nearly every page.
  MapStore::PageSpans spans;
  std::size_t pixel = 0;
  PageCursor cursor;
  store_->ForEachPage(cursor, 0, MapStore::kEnd, [&](std::uint64_t page_offset, const std::uint8_t* page) {
    const std::uint64_t first = page_offset / kBytesPerRow;
    const std::uint64_t last = std::min<std::uint64_t>(first + MapStore::kRowsPerPage, data_rows_) - 1;
    pixel = marks.PixelAfter(pixel, first);
    if (pixel == marks.Pixels()) return false;
    if (marks.Alone(pixel, first, last)) {
      marks.Mark(pixel, kFilledMark);
      return true;
    }
    std::size_t span_pixel = pixel;
    const std::size_t runs = store_->SpansOf(page, spans);
    for (std::size_t i = 0; i < runs; ++i) {
      const std::uint64_t offset = page_offset + spans[i].start;
      const std::uint64_t run_first = offset / kBytesPerRow;
      span_pixel = marks.PixelAfter(span_pixel, run_first);
      marks.MarkRowsFrom(span_pixel, run_first, (offset + spans[i].length - 1) / kBytesPerRow, kFilledMark);
    }
    return true;
  });
  for (const std::uint32_t offset : marks_) {
    const std::uint64_t row = offset / kBytesPerRow;
    marks.MarkRows(row, row, kStartVectorMark);
  }
  return marks.Take();
}

}  // namespace varnok
