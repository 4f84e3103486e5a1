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

// The addresses from `first` up to `end`, which lies past them.
AddressRange Range(std::uint64_t first, std::uint64_t end) {
  return AddressRange{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end - 1)};
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
  // The loaded ranges, one past their ends, with the bytes loaded below each: a region's use is then the bytes
  // below its end less those below its origin, found by bisection, so that many regions over many records cost
  // (regions + records) times a logarithm, not their product.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  std::vector<std::uint64_t> before = {0};
  loaded.ForEach([&](AddressRange range) {
    ranges.emplace_back(range.first, std::uint64_t{range.last} + 1);
    before.push_back(before.back() + ranges.back().second - ranges.back().first);
  });
  const auto loaded_below = [&](std::uint64_t address) {
    const auto after = std::upper_bound(ranges.begin(), ranges.end(), address,
                                        [](std::uint64_t a, const auto& range) { return a < range.first; });
    const auto i = static_cast<std::size_t>(after - ranges.begin());
    if (i == 0) return std::uint64_t{0};
    return before[i - 1] + std::min(address, ranges[i - 1].second) - ranges[i - 1].first;
  };
  // The regions' union as sorted, disjoint ranges, one past their ends.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> covered;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const std::uint64_t origin = regions[i].origin;
    const std::uint64_t end = origin + regions[i].length;
    usage.used[i] = loaded_below(end) - loaded_below(origin);
    if (regions[i].length > 0) covered.emplace_back(origin, end);
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
  // Both lists are in address order: one walk over each, the union's cursor kept from one loaded range to the next.
  std::size_t next = 0;
  for (const auto& [first, end] : ranges) {
    while (next < merged.size() && merged[next].second <= first) ++next;
    std::uint64_t at = first;
    for (std::size_t j = next; j < merged.size() && merged[j].first < end; ++j) {
      if (merged[j].first > at) usage.outside.push_back(Range(at, merged[j].first));
      at = std::max(at, merged[j].second);
    }
    if (at < end) usage.outside.push_back(Range(at, end));
  }
  return usage;
}

}  // namespace varnok
