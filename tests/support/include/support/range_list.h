#pragma once

#include <vector>

#include "analysis/address_range.h"
#include "analysis/data_ranges.h"

namespace varnok::test {

// The ranges in address order, to compare with an expected list.
inline std::vector<AddressRange> ListOf(const DataRanges& ranges) {
  std::vector<AddressRange> list;
  ranges.ForEach([&list](AddressRange range) { list.push_back(range); });
  return list;
}

}  // namespace varnok::test
