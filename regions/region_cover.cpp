#include "regions/region_cover.h"

#include <algorithm>
#include <utility>

#include "text/line_text.h"
#include "regions/linker_script.h"
#include "memmap/row_marks.h"

namespace varnok {

std::string RegionUsageLine(const MemoryRegion& region, std::uint64_t used) {
  std::string line = "Region " + EscapeValue(region.name) + ": " + AddressText(region.origin);
  if (region.length == 0) {
    // A region of no bytes has no last address, and no share of it can be used.
    line += ", empty (0 bytes)";
    return line;
  }
  line += " - ";
  line += AddressText(region.origin + static_cast<std::uint32_t>(region.length - 1));
  line += ", " + std::to_string(used) + " of " + std::to_string(region.length) + " bytes used (" +
          PercentText(used, region.length) + " %)";
  return line;
}

std::string OutsideRegionsLine(const AddressRange& range) {
  return "Outside regions: " + AddressText(range.first) + " - " + AddressText(range.last);
}

std::variant<std::vector<MemoryRegion>, std::string> ReadRegionsScript(const std::string& path,
                                                                      const ScriptSettings& settings,
                                                                      const ScriptFiles& files,
                                                                      std::vector<std::string>* warnings) {
  ScriptRead read = ReadLinkerScript(path, settings, files);
  if (read.error) return ScriptErrorText(*read.error);
  if (warnings != nullptr) {
    for (const ScriptWarning& warning : read.warnings) {
      warnings->push_back(PlaceText(warning.place.file, warning.place.line) + ": " + warning.message);
    }
  }
  return std::move(read.regions);
}

RegionCover::RegionCover(const std::vector<MemoryRegion>& regions) : regions_(regions) {}

std::uint32_t RegionCover::InsideMask(std::uint32_t first) const {
  const std::uint64_t row_first = first;
  const std::uint64_t row_end = std::min<std::uint64_t>(row_first + MapGrid::kBytesPerRow, std::uint64_t{1} << 32);
  std::uint32_t mask = 0;
  for (const MemoryRegion& region : regions_) {
    const std::uint64_t from = std::max<std::uint64_t>(row_first, region.origin);
    const std::uint64_t to = std::min<std::uint64_t>(row_end, std::uint64_t{region.origin} + region.length);
    for (std::uint64_t address = from; address < to; ++address) mask |= 1u << (address - row_first);
  }
  return mask;
}

std::optional<std::size_t> RegionCover::RegionOfRow(std::uint32_t first) const {
  const std::uint64_t row_first = first;
  const std::uint64_t row_end = std::min<std::uint64_t>(row_first + MapGrid::kBytesPerRow, std::uint64_t{1} << 32);
  std::optional<std::size_t> found;
  std::uint64_t found_from = row_end;
  for (std::size_t i = 0; i < regions_.size(); ++i) {
    const std::uint64_t from = std::max<std::uint64_t>(row_first, regions_[i].origin);
    const std::uint64_t to = std::min<std::uint64_t>(row_end, std::uint64_t{regions_[i].origin} + regions_[i].length);
    // Regions that overlap leave the row to the first of them in the regions' order.
    if (from < to && from < found_from) {
      found = i;
      found_from = from;
    }
  }
  return found;
}

std::vector<std::uint8_t> RangeMarks(const MapGrid& grid, const std::vector<AddressRange>& ranges, int pixels,
                                     std::uint8_t mark) {
  if (pixels <= 0) return {};
  RowMarks marks(grid, pixels, mark);
  for (const AddressRange& range : ranges) marks.Add(range);
  return marks.Take();
}

}  // namespace varnok
