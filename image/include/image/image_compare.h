#pragma once

#include <cstdint>
#include <functional>

#include "analysis/address_range.h"
#include "memmap/map_grid.h"

namespace varnok {

// How two loaded images differ over a range of addresses.
enum class DiffKind : std::uint8_t { OnlyInA, OnlyInB, Different };

// A maximal range of addresses that differ in one way.
struct DiffRange {
  DiffKind kind = DiffKind::Different;
  AddressRange range;

  bool operator==(const DiffRange&) const = default;
};

// Compares the bytes two maps hold, whatever their base addresses, and calls report with every range where they
// differ, in address order from 0x00000000 to 0xFFFFFFFF; stops when report returns false. Reads both stores span
// by span, copying nothing.
void CompareImages(const MapGrid& a, const MapGrid& b, const std::function<bool(const DiffRange&)>& report);

// The number of addresses a map holds a byte for.
std::uint64_t LoadedBytes(const MapGrid& grid);

}  // namespace varnok
