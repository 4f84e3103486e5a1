#include "analysis/data_ranges.h"

#include <algorithm>
#include <iterator>

namespace varnok {

void DataRanges::AddSlowly(std::uint32_t address, std::uint32_t length) {
  if (length == 0) return;
  const std::uint64_t end = std::uint64_t{address} + length - 1;
  if (end > 0xFFFFFFFFu) {
    // Addresses wrap modulo 2^32, but 0xFFFFFFFF and 0 are not neighbours in address order.
    AddRange(address, 0xFFFFFFFFu);
    AddRange(0, static_cast<std::uint32_t>(end));
  } else {
    AddRange(address, static_cast<std::uint32_t>(end));
  }
}

void DataRanges::AddRange(std::uint32_t first, std::uint32_t last) {
  std::uint32_t merged_first = first;
  std::uint32_t merged_last = last;
  auto it = ranges_.upper_bound(first);
  if (it != ranges_.begin()) {
    const auto before = std::prev(it);
    if (std::uint64_t{before->second} + 1 >= first) it = before;
  }
  while (it != ranges_.end() && it->first <= std::uint64_t{merged_last} + 1) {
    merged_first = std::min(merged_first, it->first);
    merged_last = std::max(merged_last, it->second);
    it = ranges_.erase(it);
  }
  recent_ = ranges_.emplace_hint(it, merged_first, merged_last);
  recent_limit_ = it == ranges_.end() ? std::uint64_t{1} << 32 : it->first;
}

void DataRanges::Clear() {
  ranges_.clear();
  recent_ = ranges_.end();
}

}  // namespace varnok
