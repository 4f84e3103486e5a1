// Regions, region jumps and scroll bar marks: all worked out from the filled spans, never row by row.
#include <algorithm>

#include "map_store.h"
#include "memmap/map_grid.h"

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
  if (pixels <= 0) return {};
  const auto count = static_cast<std::size_t>(pixels);
  std::vector<std::uint8_t> marks(count, 0);
  // Pixel i stands for the zero-based rows starts[i] up to its end, and at least for its first row; the pixels
  // overlap when there are fewer rows than pixels.
  std::vector<std::uint64_t> starts(count + 1);
  for (std::size_t i = 0; i <= count; ++i) starts[i] = i * std::uint64_t{data_rows_} / count;
  const auto end_of = [&](std::size_t i) { return std::max(starts[i + 1], starts[i] + 1); };
  // Marks the pixels that meet rows first..last, from the first pixel that does not end before `first` on.
  const auto mark_rows = [&](std::size_t from, std::uint64_t first, std::uint64_t last, std::uint8_t bit) {
    for (std::size_t i = from; i < count && starts[i] <= last; ++i) {
      if (end_of(i) > first) marks[i] |= bit;
    }
  };
  // Pages come in map order, so the first pixel of interest only moves forward. A page that one pixel alone
  // covers marks it without a look inside: for a 4 GiB map that is nearly every page.
  MapStore::PageSpans spans;
  std::size_t pixel = 0;
  PageCursor cursor;
  store_->ForEachPage(cursor, 0, MapStore::kEnd, [&](std::uint64_t page_offset, const std::uint8_t* page) {
    const std::uint64_t first = page_offset / kBytesPerRow;
    const std::uint64_t last = std::min<std::uint64_t>(first + MapStore::kRowsPerPage, data_rows_) - 1;
    while (pixel < count && end_of(pixel) <= first) ++pixel;
    if (pixel == count) return false;
    if (starts[pixel] <= first && end_of(pixel) > last && (pixel + 1 == count || starts[pixel + 1] > last)) {
      marks[pixel] |= kFilledMark;
      return true;
    }
    std::size_t span_pixel = pixel;
    const std::size_t runs = store_->SpansOf(page, spans);
    for (std::size_t i = 0; i < runs; ++i) {
      const std::uint64_t offset = page_offset + spans[i].start;
      const std::uint64_t run_first = offset / kBytesPerRow;
      while (span_pixel < count && end_of(span_pixel) <= run_first) ++span_pixel;
      mark_rows(span_pixel, run_first, (offset + spans[i].length - 1) / kBytesPerRow, kFilledMark);
    }
    return true;
  });
  for (const std::uint32_t offset : marks_) {
    const std::uint64_t row = offset / kBytesPerRow;
    const auto after = std::upper_bound(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(count), row);
    // The pixel that starts last at or before the row, and the ones before it that still reach it.
    std::size_t from = static_cast<std::size_t>(after - starts.begin());
    while (from > 0 && end_of(from - 1) > row) --from;
    mark_rows(from, row, row, kStartVectorMark);
  }
  return marks;
}

}  // namespace varnok
