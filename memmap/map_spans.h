#pragma once

// The span walks of MapGrid: the filled bytes of the store as runs of consecutive map offsets.
#include <bit>
#include <cstdint>
#include <vector>

#include "memmap/map_grid.h"

namespace varnok {

namespace spans {

// Appends the runs of set bits of a page's filled words as (first, end) positions within the page.
template <typename Words>
void PageRuns(const Words& filled, std::vector<std::pair<std::uint32_t, std::uint32_t>>& runs) {
  runs.clear();
  const std::uint32_t bits = static_cast<std::uint32_t>(filled.size()) * 32;
  const auto bit_at = [&](std::uint32_t position) { return (filled[position >> 5] >> (position & 31)) & 1u; };
  std::uint32_t position = 0;
  while (position < bits) {
    const std::uint32_t word = filled[position >> 5] >> (position & 31);
    if (word == 0) {
      position = (position | 31) + 1;
      continue;
    }
    position += static_cast<std::uint32_t>(std::countr_zero(word));
    const std::uint32_t first = position;
    while (position < bits && bit_at(position)) ++position;
    runs.emplace_back(first, position);
  }
}

}  // namespace spans

template <typename Visit>
void MapGrid::ForEachSpan(std::uint64_t from, Visit&& visit) const {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
  const std::uint64_t pages = (Span() + kPageBytes - 1) / kPageBytes;
  for (std::uint64_t page = from / kPageBytes; page < pages; ++page) {
    const Leaf* leaf = leaves_[page >> kLeafShift].get();
    if (leaf == nullptr) continue;
    const Page* stored = leaf->pages[page & (kPagesPerLeaf - 1)].get();
    if (stored == nullptr) continue;
    spans::PageRuns(stored->filled, runs);
    const std::uint64_t page_offset = page * kPageBytes;
    for (const auto& [first, end] : runs) {
      if (page_offset + end <= from) continue;
      if (!visit(page_offset + first, stored->bytes.data() + first, std::uint64_t{end - first})) return;
    }
  }
}

template <typename Visit>
void MapGrid::ForEachSpanBackward(std::uint64_t before, Visit&& visit) const {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
  const std::uint64_t limit = std::min(before, Span());
  if (limit == 0) return;
  for (std::uint64_t page = (limit - 1) / kPageBytes + 1; page-- > 0;) {
    const Leaf* leaf = leaves_[page >> kLeafShift].get();
    if (leaf == nullptr) continue;
    const Page* stored = leaf->pages[page & (kPagesPerLeaf - 1)].get();
    if (stored == nullptr) continue;
    spans::PageRuns(stored->filled, runs);
    const std::uint64_t page_offset = page * kPageBytes;
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
      if (page_offset + run->first >= before) continue;
      if (!visit(page_offset + run->first, stored->bytes.data() + run->first, std::uint64_t{run->second - run->first})) {
        return;
      }
    }
  }
}

}  // namespace varnok
