#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/address_range.h"
#include "memmap/map_grid.h"

namespace varnok {

// Scroll-bar marks over a grid's data rows, one entry per pixel row of the groove: pixel i stands for the zero-based
// data rows from i * N / pixels up to (i + 1) * N / pixels, exclusive, and for at least its first one (N data rows);
// the pixels overlap when there are fewer rows than pixels.
class RowMarks {
 public:
  RowMarks(const MapGrid& grid, int pixels, std::uint8_t mark)
      : base_(grid.BaseAddress()),
        rows_(static_cast<std::uint64_t>(grid.RowCount() - 1)),
        marks_(static_cast<std::size_t>(std::max(pixels, 0)), 0),
        starts_(marks_.size() + 1),
        mark_(mark) {
    for (std::size_t i = 0; i < starts_.size(); ++i) starts_[i] = marks_.empty() ? 0 : i * rows_ / marks_.size();
  }

  // Marks the pixels of the rows the range covers; a range that starts outside the rows marks none.
  void Add(const AddressRange& range) {
    const std::uint64_t first = (range.first - base_) / MapGrid::kBytesPerRow;
    if (first >= rows_) return;
    std::uint64_t last = (range.last - base_) / MapGrid::kBytesPerRow;
    // A range that runs on past the map's last address ends with the map.
    if (last < first || last >= rows_) last = rows_ - 1;
    MarkRows(first, last, mark_);
  }

  // Sets `bit` on the pixels that meet the rows first..last.
  void MarkRows(std::uint64_t first, std::uint64_t last, std::uint8_t bit) {
    MarkRowsFrom(PixelAt(first), first, last, bit);
  }

  // The number of pixels.
  std::size_t Pixels() const { return marks_.size(); }
  // The first pixel that does not end before `row`, found by halving.
  std::size_t PixelAt(std::uint64_t row) const { return Seek(0, marks_.size(), row); }
  // The first pixel from `from` on that does not end before `row`, for a walk whose rows only move forward.
  std::size_t PixelAfter(std::size_t from, std::uint64_t row) const {
    while (from < marks_.size() && End(from) <= row) ++from;
    return from;
  }
  // Whether pixel i, which does not end before `first`, is the only one that meets the rows first..last.
  bool Alone(std::size_t i, std::uint64_t first, std::uint64_t last) const {
    return starts_[i] <= first && End(i) > last && (i + 1 == marks_.size() || starts_[i + 1] > last);
  }
  // Sets `bit` on pixel i.
  void Mark(std::size_t i, std::uint8_t bit) { marks_[i] |= bit; }
  // Sets `bit` on the pixels from `from` (the first that does not end before `first`) on that meet rows first..last.
  void MarkRowsFrom(std::size_t from, std::uint64_t first, std::uint64_t last, std::uint8_t bit) {
    for (std::size_t i = from; i < marks_.size() && starts_[i] <= last; ++i) {
      if (End(i) > first) marks_[i] |= bit;
    }
  }

  std::vector<std::uint8_t> Take() { return std::move(marks_); }

 private:
  std::uint64_t End(std::size_t i) const { return std::max(starts_[i + 1], starts_[i] + 1); }
  std::size_t Seek(std::size_t low, std::size_t high, std::uint64_t row) const {
    while (low < high) {
      const std::size_t middle = (low + high) / 2;
      if (End(middle) <= row) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    return low;
  }

  std::uint32_t base_;
  std::uint64_t rows_;
  std::vector<std::uint8_t> marks_;
  std::vector<std::uint64_t> starts_;  // the first row of each pixel, and N after the last
  std::uint8_t mark_;
};

}  // namespace varnok
