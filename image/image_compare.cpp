#include "image/image_compare.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace varnok {
namespace {

// The filled spans of one map by address: the first span piece at or after an address.
class SpanCursor {
 public:
  explicit SpanCursor(const MapGrid& grid) : grid_(grid), base_(grid.BaseAddress()) {}

  // The first filled address at or after `at`, with the bytes from there to the end of its span; nothing after
  // the last. The span found last serves again for any later address before its end, so that walking one image
  // while the other has a long gap or has ended costs no searches.
  std::optional<FilledSpan> From(std::uint64_t at) {
    const std::uint64_t from = at > base_ ? at - base_ : 0;
    if (from < searched_ || (span_ && from >= span_->offset + span_->length)) {
      span_ = grid_.SpanFrom(from, cursor_);
      searched_ = from;
    }
    if (!span_) return std::nullopt;
    FilledSpan piece = *span_;
    const std::uint64_t skip = from > piece.offset ? from - piece.offset : 0;
    piece.offset = base_ + piece.offset + skip;  // an address from here on
    piece.length -= static_cast<std::uint32_t>(skip);
    piece.data += skip;
    return piece;
  }

 private:
  const MapGrid& grid_;
  const std::uint64_t base_;
  PageCursor cursor_;
  std::optional<FilledSpan> span_ = grid_.SpanFrom(0, cursor_);  // the first span at or after searched_
  std::uint64_t searched_ = 0;
};

// Joins ranges of one kind that touch, since spans end at page borders.
class DiffJoiner {
 public:
  explicit DiffJoiner(const std::function<bool(const DiffRange&)>& report) : report_(report) {}

  bool Add(DiffKind kind, std::uint64_t first, std::uint64_t end) {
    if (open_ && open_->kind == kind && std::uint64_t{open_->range.last} + 1 == first) {
      open_->range.last = static_cast<std::uint32_t>(end - 1);
      return true;
    }
    const bool go_on = Flush();
    open_ = DiffRange{kind, {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end - 1)}};
    return go_on;
  }

  bool Flush() {
    if (!open_) return true;
    const DiffRange range = *open_;
    open_.reset();
    return report_(range);
  }

 private:
  const std::function<bool(const DiffRange&)>& report_;
  std::optional<DiffRange> open_;
};

}  // namespace

void CompareImages(const MapGrid& a, const MapGrid& b, const std::function<bool(const DiffRange&)>& report) {
  SpanCursor cursor_a(a);
  SpanCursor cursor_b(b);
  DiffJoiner joiner(report);
  std::uint64_t at = 0;
  for (;;) {
    const std::optional<FilledSpan> span_a = cursor_a.From(at);
    const std::optional<FilledSpan> span_b = cursor_b.From(at);
    if (!span_a && !span_b) break;
    const std::uint64_t start_a = span_a ? span_a->offset : UINT64_MAX;
    const std::uint64_t start_b = span_b ? span_b->offset : UINT64_MAX;
    const std::uint64_t end_a = span_a ? start_a + span_a->length : UINT64_MAX;
    const std::uint64_t end_b = span_b ? start_b + span_b->length : UINT64_MAX;
    if (start_a != start_b) {
      // Only one image holds the addresses up to where the other one's next span begins.
      const bool in_a = start_a < start_b;
      const std::uint64_t first = std::min(start_a, start_b);
      const std::uint64_t end = in_a ? std::min(end_a, start_b) : std::min(end_b, start_a);
      if (!joiner.Add(in_a ? DiffKind::OnlyInA : DiffKind::OnlyInB, first, end)) return;
      at = end;
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(std::min(end_a, end_b) - start_a);
    const std::uint8_t* bytes_a = span_a->data;
    const std::uint8_t* bytes_b = span_b->data;
    if (std::memcmp(bytes_a, bytes_b, length) != 0) {
      for (std::size_t i = 0; i < length;) {
        if (bytes_a[i] == bytes_b[i]) {
          ++i;
          continue;
        }
        std::size_t j = i + 1;
        while (j < length && bytes_a[j] != bytes_b[j]) ++j;
        if (!joiner.Add(DiffKind::Different, start_a + i, start_a + j)) return;
        i = j;
      }
    }
    at = start_a + length;
  }
  joiner.Flush();
}

}  // namespace varnok
