#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "analysis/data_ranges.h"

namespace varnok {

// A named range of the target's memory, such as its flash or its RAM.
struct MemoryRegion {
  std::string name;
  std::uint32_t origin = 0;
  std::uint64_t length = 0;  // up to 2^32 - origin

  bool operator==(const MemoryRegion&) const = default;
};

// The region of a "NAME=START,SIZE" option: numbers in hex (0x) or decimal, SIZE with an optional K or M suffix;
// nothing when the text is not one or the region does not fit below 2^32.
std::optional<MemoryRegion> ParseRegionOption(std::string_view text);

// Why a linker script gives no regions, and on which line.
struct ScriptError {
  std::int64_t line = 0;
  std::string message;

  bool operator==(const ScriptError&) const = default;
};

// The regions of the MEMORY commands of a GNU ld linker script, in their order; whatever else the script says is
// skipped. Reads comments, attributes, ORIGIN/org/o and LENGTH/len/l, numbers in hex, octal and decimal with K
// and M suffixes, + - * / and parentheses, and ORIGIN(NAME) and LENGTH(NAME) of regions named before.
std::variant<std::vector<MemoryRegion>, ScriptError> ReadMemoryCommand(std::string_view script);

// How loaded data falls into the regions.
struct RegionUsage {
  std::vector<std::uint64_t> used;  // the loaded addresses in each region, in the regions' order
  std::vector<AddressRange> outside;   // the loaded addresses outside every region, in address order
};

RegionUsage MeasureRegions(const std::vector<MemoryRegion>& regions, const DataRanges& loaded);

}  // namespace varnok
