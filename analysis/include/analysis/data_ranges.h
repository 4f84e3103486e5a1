#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "analysis/address_range.h"

namespace varnok {

// The addresses that data records wrote, as disjoint ranges in address order: adjacent and overlapping
// records merge. Memory follows the number of ranges, never the number of records or bytes.
class DataRanges {
 public:
  DataRanges() = default;
  DataRanges(const DataRanges&) = delete;
  DataRanges& operator=(const DataRanges&) = delete;

  // Adds the `length` addresses from `address` on; a record that runs past 0xFFFFFFFF goes on at 0 as a
  // second range. A length of 0 adds nothing.
  void Add(std::uint32_t address, std::uint32_t length) {
    // Records mostly follow one another: one that starts inside or right after the recent range and stops
    // short of the next range only moves the recent range's end.
    const std::uint64_t end = std::uint64_t{address} + length;  // one past the record's last address
    if (recent_ != ranges_.end() && length != 0 && address >= recent_->first &&
        address <= std::uint64_t{recent_->second} + 1 && end < recent_limit_) {
      if (end - 1 > recent_->second) recent_->second = static_cast<std::uint32_t>(end - 1);
      return;
    }
    AddSlowly(address, length);
  }
  // Adds the addresses from first to last, both included (first <= last): a range of any size up to all 2^32.
  void AddRange(std::uint32_t first, std::uint32_t last);
  void Clear();

  std::size_t size() const { return ranges_.size(); }
  bool empty() const { return ranges_.empty(); }

  // Calls visit with every range in address order: the maximal runs of added addresses.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const auto& [first, last] : ranges_) visit(AddressRange{first, last});
  }

 private:
  void AddSlowly(std::uint32_t address, std::uint32_t length);

  std::map<std::uint32_t, std::uint32_t> ranges_;  // first -> last
  // The range the last record touched and the first address of the range after it (2^32 when none).
  std::map<std::uint32_t, std::uint32_t>::iterator recent_ = ranges_.end();
  std::uint64_t recent_limit_ = 0;
};

}  // namespace varnok
