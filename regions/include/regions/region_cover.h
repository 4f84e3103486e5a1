#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "analysis/address_range.h"
#include "regions/linker_script.h"
#include "regions/memory_regions.h"
#include "memmap/map_grid.h"

namespace varnok {

// The line varnok-scan prints of a region's use: "Region FLASH: 0x08000000 - 0x0807FFFF, 61552 of 524288 bytes used
// (11.74 %)", or "Region NAME: 0x20000000, empty (0 bytes)" for a region of no bytes.
std::string RegionUsageLine(const MemoryRegion& region, std::uint64_t used);
// "Outside regions: 0x08080000 - 0x080800FF".
std::string OutsideRegionsLine(const AddressRange& range);

// The regions of the MEMORY commands of the linker script at path (INCLUDE looked up as settings say, the files read
// through files), read as varnok-scan --memory reads it, or why it cannot be read as varnok-scan says it:
// "FILE:LINE: what". Its warnings go to `warnings` when given, as "FILE:LINE: what".
std::variant<std::vector<MemoryRegion>, std::string> ReadRegionsScript(const std::string& path,
                                                                      const ScriptSettings& settings = {},
                                                                      const ScriptFiles& files = DiskScriptFiles{},
                                                                      std::vector<std::string>* warnings = nullptr);

// Where the target's regions lie, row by row of a memory map.
class RegionCover {
 public:
  explicit RegionCover(const std::vector<MemoryRegion>& regions);

  // The addresses among the 32 from `first` on that lie in a region, as bits (bit i for first + i); an address past
  // 0xFFFFFFFF lies in none.
  std::uint32_t InsideMask(std::uint32_t first) const;
  // The region, in the regions' order, that holds the first of the 32 addresses from `first` on that lies in one;
  // none when none does.
  std::optional<std::size_t> RegionOfRow(std::uint32_t first) const;

 private:
  std::vector<MemoryRegion> regions_;
};

// One entry per pixel row of a scroll bar's groove over a grid's data rows, as MapGrid::ScrollMarks lays them out:
// `mark` where one of the pixel's rows holds an address of the ranges (in address order), 0 elsewhere.
std::vector<std::uint8_t> RangeMarks(const MapGrid& grid, const std::vector<AddressRange>& ranges, int pixels,
                                     std::uint8_t mark);

}  // namespace varnok
