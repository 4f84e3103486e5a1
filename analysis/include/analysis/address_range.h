#pragma once

#include <cstdint>

namespace varnok {

// A range of addresses, both ends included. A range of a memory map that runs past 0xFFFFFFFF goes on at 0, and
// then its last address lies below its first.
struct AddressRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;

  // The number of addresses, 1 to 2^32.
  std::uint64_t Size() const { return std::uint64_t{last - first} + 1; }
  bool operator==(const AddressRange&) const = default;
};

}  // namespace varnok
