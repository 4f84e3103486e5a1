#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "memmap/map_grid.h"

namespace varnok {

// The filled bytes of a map in address order, from 0x00000000 to 0xFFFFFFFF, whatever its base address: a map that
// runs past 0xFFFFFFFF is read from its part at 0 on, then from its base address up.
class AddressSpans {
 public:
  explicit AddressSpans(const MapGrid& grid)
      : grid_(grid),
        base_(grid.BaseAddress()),
        wrap_((std::uint64_t{1} << 32) - base_),
        high_end_(std::min(grid.Span(), wrap_)) {}

  // The filled bytes from the first filled address at or after `at` on, up to the end of their span or to
  // 0xFFFFFFFF, with `offset` holding their first address; nothing after the last. The bytes found last serve again
  // for any later address before their end, so that walking one image while the other has a long gap or has ended
  // costs no searches.
  std::optional<FilledSpan> From(std::uint64_t at) {
    if (at < searched_ || (found_ && at >= found_->offset + found_->length)) {
      found_ = Search(at);
      searched_ = at;
    }
    if (!found_) return std::nullopt;
    FilledSpan piece = *found_;
    const std::uint64_t skip = at > piece.offset ? at - piece.offset : 0;
    piece.offset += skip;
    piece.length -= static_cast<std::uint32_t>(skip);
    piece.data += skip;
    return piece;
  }

 private:
  std::optional<FilledSpan> Search(std::uint64_t at) {
    // The map offsets from wrap_ on hold the addresses from 0 on.
    if (grid_.Span() > wrap_ && at < grid_.Span() - wrap_) {
      if (std::optional<FilledSpan> span = Piece(low_cursor_, at + wrap_, grid_.Span())) {
        span->offset -= wrap_;
        return span;
      }
    }
    const std::uint64_t from = at > base_ ? at - base_ : 0;
    std::optional<FilledSpan> span = Piece(high_cursor_, from, high_end_);
    if (span) span->offset += base_;
    return span;
  }

  // The first span from map offset `from` on, cut at `end`.
  std::optional<FilledSpan> Piece(PageCursor& cursor, std::uint64_t from, std::uint64_t end) const {
    if (from >= end) return std::nullopt;
    std::optional<FilledSpan> span = grid_.SpanFrom(from, cursor);
    if (!span || span->offset >= end) return std::nullopt;
    span->length = static_cast<std::uint32_t>(std::min<std::uint64_t>(span->length, end - span->offset));
    return span;
  }

  const MapGrid& grid_;
  const std::uint64_t base_;
  const std::uint64_t wrap_;      // the map offset of address 0; 2^32 for a map based at 0
  const std::uint64_t high_end_;  // the map offset after the part from the base address up
  PageCursor low_cursor_;
  PageCursor high_cursor_;
  std::optional<FilledSpan> found_;  // the first bytes at or after searched_
  std::uint64_t searched_ = std::uint64_t{1} << 32;
};

}  // namespace varnok
