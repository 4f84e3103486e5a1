#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/data_ranges.h"

namespace varnok {

// A named range of the target's memory, such as its flash or its RAM.
struct MemoryRegion {
  MemoryRegion() = default;
  MemoryRegion(std::string region_name, std::uint32_t region_origin, std::uint64_t region_length,
               std::string region_source = {}, std::int64_t region_line = 0)
      : name(std::move(region_name)),
        origin(region_origin),
        length(region_length),
        source(std::move(region_source)),
        line(region_line) {}

  std::string name;
  std::uint32_t origin = 0;
  std::uint64_t length = 0;  // up to 2^32 - origin
  // Where it is defined, for messages: a script file (with its line) or an option; not part of ==.
  std::string source;
  std::int64_t line = 0;  // 0 when the source has no lines

  bool operator==(const MemoryRegion& other) const {
    return name == other.name && origin == other.origin && length == other.length;
  }
};

// The region of a "NAME=START,SIZE" option: numbers in hex (0x) or decimal, SIZE with an optional K or M suffix;
// nothing when the text is not one or the region does not fit below 2^32.
std::optional<MemoryRegion> ParseRegionOption(std::string_view text);

// How loaded data falls into the regions.
struct RegionUsage {
  std::vector<std::uint64_t> used;  // the loaded addresses in each region, in the regions' order
  std::vector<AddressRange> outside;   // the loaded addresses outside every region, in address order
};

RegionUsage MeasureRegions(const std::vector<MemoryRegion>& regions, const DataRanges& loaded);

}  // namespace varnok
