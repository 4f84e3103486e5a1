#include "regions/memory_regions.h"

#include <algorithm>

#include "text/number_reader.h"

namespace varnok {
namespace {

constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 32;

bool Fits(std::uint64_t origin, std::uint64_t length) { return origin < kAddressSpace && length <= kAddressSpace - origin; }

// A whole number in hex (0x) or decimal up to 2^32, with a K or M suffix where allowed.
std::optional<std::uint64_t> ParseNumber(std::string_view text, bool suffix) {
  NumberFormat format;
  format.hex_prefix = true;
  format.size_suffix = suffix;
  format.max = kAddressSpace;
  return NumberValue(text, format);
}

}  // namespace

std::optional<MemoryRegion> ParseRegionOption(std::string_view text) {
  const std::size_t equals = text.find('=');
  const std::size_t comma = text.find(',', equals == std::string_view::npos ? 0 : equals);
  if (equals == 0 || equals == std::string_view::npos || comma == std::string_view::npos) return std::nullopt;
  const std::optional<std::uint64_t> origin = ParseNumber(text.substr(equals + 1, comma - equals - 1), false);
  const std::optional<std::uint64_t> length = ParseNumber(text.substr(comma + 1), true);
  if (!origin || !length || !Fits(*origin, *length)) return std::nullopt;
  return MemoryRegion{std::string(text.substr(0, equals)), static_cast<std::uint32_t>(*origin), *length};
}

RegionUsage MeasureRegions(const std::vector<MemoryRegion>& regions, const DataRanges& loaded) {
  RegionUsage usage;
  usage.used.assign(regions.size(), 0);
  // The regions' union as sorted, disjoint ranges, one past their ends.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> covered;
  for (const MemoryRegion& region : regions) {
    if (region.length > 0) covered.emplace_back(region.origin, region.origin + region.length);
  }
  std::sort(covered.begin(), covered.end());
  std::vector<std::pair<std::uint64_t, std::uint64_t>> merged;
  for (const auto& range : covered) {
    if (!merged.empty() && range.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, range.second);
    } else {
      merged.push_back(range);
    }
  }
  loaded.ForEach([&](AddressRange range) {
    const std::uint64_t first = range.first;
    const std::uint64_t end = std::uint64_t{range.last} + 1;
    for (std::size_t i = 0; i < regions.size(); ++i) {
      const std::uint64_t from = std::max<std::uint64_t>(first, regions[i].origin);
      const std::uint64_t to = std::min(end, regions[i].origin + regions[i].length);
      if (from < to) usage.used[i] += to - from;
    }
    std::uint64_t at = first;
    for (const auto& [cover_first, cover_end] : merged) {
      if (cover_end <= at) continue;
      if (cover_first >= end) break;
      if (cover_first > at) usage.outside.push_back(AddressRange{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(cover_first - 1)});
      at = std::max(at, cover_end);
    }
    if (at < end) usage.outside.push_back(AddressRange{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end - 1)});
  });
  return usage;
}

}  // namespace varnok
