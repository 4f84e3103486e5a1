#include "image/image_compare.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "address_spans.h"

namespace varnok {
namespace {

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
  AddressSpans cursor_a(a);
  AddressSpans cursor_b(b);
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

std::uint64_t LoadedBytes(const MapGrid& grid) {
  AddressSpans spans(grid);
  std::uint64_t bytes = 0;
  for (std::optional<FilledSpan> span = spans.From(0); span; span = spans.From(span->offset + span->length)) {
    bytes += span->length;
  }
  return bytes;
}

}  // namespace varnok
