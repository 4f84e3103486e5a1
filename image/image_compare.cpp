#include "image/image_compare.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "address_spans.h"
#include "row_marks.h"
#include "analysis/hex_text.h"

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

void CompareImages(const MapGrid& a, const MapGrid& b, const std::function<bool(const DiffRange&)>& report,
                   std::uint32_t from) {
  AddressSpans cursor_a(a);
  AddressSpans cursor_b(b);
  DiffJoiner joiner(report);
  std::uint64_t at = from;
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

RowDiff CompareRow(const RowCells& a, const RowCells& b) {
  RowDiff diff;
  diff.only_in_a = a.filled & ~b.filled;
  diff.only_in_b = b.filled & ~a.filled;
  const std::uint32_t both = a.filled & b.filled;
  for (std::uint32_t c = 0; c < MapGrid::kBytesPerRow; ++c) {
    if ((both & (1u << c)) && a.bytes[c] != b.bytes[c]) diff.different |= 1u << c;
  }
  return diff;
}

DiffList ListDifferences(const MapGrid& a, const MapGrid& b, std::size_t most) {
  DiffList list;
  CompareImages(a, b, [&](const DiffRange& diff) {
    list.bytes += diff.range.Size();
    ++list.count;
    if (list.ranges.size() < most) {
      list.ranges.push_back(diff);
    } else {
      list.more_bytes += diff.range.Size();
    }
    return true;
  });
  return list;
}

std::vector<std::uint8_t> DifferenceMarks(const MapGrid& a, const MapGrid& b, int pixels, std::uint8_t mark) {
  if (pixels <= 0) return {};
  RowMarks marks(a, pixels, mark);
  CompareImages(a, b, [&](const DiffRange& diff) {
    marks.Add(diff.range);
    return true;
  });
  return marks.Take();
}

std::string DiffLine(const DiffRange& diff) {
  std::string line = diff.kind == DiffKind::OnlyInA   ? "Only in A: "
                     : diff.kind == DiffKind::OnlyInB ? "Only in B: "
                                                      : "Different: ";
  line += AddressText(diff.range.first);
  line += " - ";
  line += AddressText(diff.range.last);
  return line;
}

std::string ExecutionDiffLine(const std::optional<std::uint32_t>& exec_a, const std::optional<std::uint32_t>& exec_b) {
  std::string line = "Execution address: ";
  line += exec_a ? AddressText(*exec_a) : "none";
  line += " in A, ";
  line += exec_b ? AddressText(*exec_b) : "none";
  line += " in B";
  return line;
}

std::string MoreDifferencesLine(std::uint64_t bytes) {
  return "... and " + std::to_string(bytes) + " more differing bytes";
}

std::string DiffCountLine(std::uint64_t bytes, std::uint64_t ranges, std::uint64_t loaded_a, std::uint64_t loaded_b) {
  return "Differences: " + std::to_string(bytes) + " bytes in " + std::to_string(ranges) + " ranges (A: " +
         std::to_string(loaded_a) + " bytes, B: " + std::to_string(loaded_b) + " bytes)";
}

std::string CompareReadout(std::uint32_t address, const ByteCell& a, const ByteCell& b) {
  std::string text = AddressText(address);
  text += ": ";
  text += a.filled ? HexText(a.value, 2) : "none";
  text += " in A, ";
  text += b.filled ? HexText(b.value, 2) : "none";
  text += " in B";
  return text;
}

}  // namespace varnok
