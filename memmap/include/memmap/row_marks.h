#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/address_range.h"
#include "memmap/map_grid.h"

namespace varnok {

// Scroll-bar marks of address ranges over a grid's data rows, one entry per pixel row of the groove, laid out as
// MapGrid::ScrollMarks lays out its own: pixel i stands for the rows from i * N / pixels on, and for at least its
// first one.
class RowMarks {
 public:
  RowMarks(const MapGrid& grid, int pixels, std::uint8_t mark)
      : base_(grid.BaseAddress()),
        rows_(static_cast<std::uint64_t>(grid.RowCount() - 1)),
        marks_(static_cast<std::size_t>(std::max(pixels, 0)), 0),
        mark_(mark) {}

  // Marks the pixels of the rows the range covers; a range that starts outside the rows marks none.
  void Add(const AddressRange& range) {
    const std::uint64_t first = (range.first - base_) / MapGrid::kBytesPerRow;
    if (first >= rows_) return;
    std::uint64_t last = (range.last - base_) / MapGrid::kBytesPerRow;
    // A range that runs on past the map's last address ends with the map.
    if (last < first || last >= rows_) last = rows_ - 1;
    // The first pixel that does not end before the range's first row, found by halving.
    std::size_t low = 0;
    std::size_t high = marks_.size();
    while (low < high) {
      const std::size_t middle = (low + high) / 2;
      if (End(middle) <= first) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    for (std::size_t i = low; i < marks_.size() && Start(i) <= last; ++i) marks_[i] = mark_;
  }

  std::vector<std::uint8_t> Take() { return std::move(marks_); }

 private:
  std::uint64_t Start(std::size_t i) const { return i * rows_ / marks_.size(); }
  std::uint64_t End(std::size_t i) const { return std::max(Start(i + 1), Start(i) + 1); }

  std::uint32_t base_;
  std::uint64_t rows_;
  std::vector<std::uint8_t> marks_;
  std::uint8_t mark_;
};

}  // namespace varnok
