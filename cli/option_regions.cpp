#include "option_regions.h"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "cli/scan.h"
#include "image/crc.h"
#include "regions/linker_script.h"
#include "text/line_text.h"
#include "text/number_reader.h"

namespace varnok {
namespace {

// Reads the scripts (their warnings go to err) and adds every region, refusing a name given twice; false with
// the message on err.
bool CollectRegions(const RegionOptions& given, std::vector<MemoryRegion>& regions, std::ostream& err) {
  const DiskScriptFiles files;
  std::unordered_map<std::string, std::size_t> by_name;
  for (const RegionSource& source : given.sources) {
    std::vector<MemoryRegion> found;
    if (const std::string* path = std::get_if<std::string>(&source)) {
      ScriptRead read = ReadLinkerScript(*path, given.scripts, files);
      if (read.error) {
        err << "varnok-scan: " << ScriptErrorText(*read.error) << '\n';
        return false;
      }
      for (const ScriptWarning& warning : read.warnings) {
        err << "varnok-scan: " << PlaceText(warning.place.file, warning.place.line) << ": warning: " << warning.message
            << '\n';
      }
      found = std::move(read.regions);
    } else {
      found.push_back(std::get<MemoryRegion>(source));
    }
    for (MemoryRegion& region : found) {
      if (const auto earlier = by_name.find(region.name); earlier != by_name.end()) {
        const MemoryRegion& first = regions[earlier->second];
        err << "varnok-scan: " << PlaceText(region.source, region.line) << ": region '" << EscapeValue(region.name)
            << "' defined twice, first at " << PlaceText(first.source, first.line) << '\n';
        return false;
      }
      by_name.emplace(region.name, regions.size());
      regions.push_back(std::move(region));
    }
  }
  return true;
}

// The index of the region named; none with a usage error on err.
std::optional<std::size_t> RegionIndex(const ReportLayout& layout, std::string_view name, std::ostream& err,
                                       int& status) {
  for (std::size_t i = 0; i < layout.regions.size(); ++i) {
    if (layout.regions[i].name == name) return i;
  }
  status = UsageError(err, "no region named '" + EscapeValue(std::string(name)) + "'");
  return std::nullopt;
}

// A share from 0 to 100 with at most two decimals, in hundredths.
std::optional<std::uint32_t> ParsePercent(std::string_view text) {
  const std::size_t dot = text.find('.');
  NumberFormat whole_format;
  whole_format.max = 100;
  const std::optional<std::uint64_t> whole = NumberValue(text.substr(0, dot), whole_format);
  if (!whole) return std::nullopt;
  std::uint64_t hundredths = *whole * 100;
  if (dot != std::string_view::npos) {
    const std::string_view decimals = text.substr(dot + 1);
    NumberFormat decimal_format;
    decimal_format.max_digits = 2;
    const std::optional<std::uint64_t> part = NumberValue(decimals, decimal_format);
    if (!part) return std::nullopt;
    hundredths += decimals.size() == 1 ? *part * 10 : *part;
  }
  if (hundredths > 10000) return std::nullopt;
  return static_cast<std::uint32_t>(hundredths);
}

// Turns --max-use and --require into each region's demands; false with a usage error on err.
bool DemandRegions(const RegionOptions& given, ReportLayout& layout, std::ostream& err, int& status) {
  if (given.max_uses.empty() && given.requires_data.empty()) return true;
  if (layout.regions.empty()) {
    status = UsageError(err, "--max-use and --require need regions (--region or --memory)");
    return false;
  }
  layout.demands.assign(layout.regions.size(), RegionDemand{});
  const auto region_named = [&](std::string_view name) -> RegionDemand* {
    const std::optional<std::size_t> index = RegionIndex(layout, name, err, status);
    return index ? &layout.demands[*index] : nullptr;
  };
  // A limit for every region first, so that a region's own limit wins whatever the order.
  for (const bool named : {false, true}) {
    for (const std::string& limit : given.max_uses) {
      const std::size_t equals = limit.find('=');
      if ((equals != std::string::npos) != named) continue;
      const std::string text = named ? limit.substr(equals + 1) : limit;
      const std::optional<std::uint32_t> percent = ParsePercent(text);
      if (!percent) {
        status = UsageError(err, "the limit is a share from 0 to 100, not '" + EscapeValue(text) + "'");
        return false;
      }
      std::vector<RegionDemand*> targets;
      if (named) {
        RegionDemand* demand = region_named(limit.substr(0, equals));
        if (demand == nullptr) return false;
        targets.push_back(demand);
      } else {
        for (RegionDemand& demand : layout.demands) targets.push_back(&demand);
      }
      for (RegionDemand* demand : targets) {
        demand->max_use = percent;
        demand->max_use_text = text;
      }
    }
  }
  for (const std::string& name : given.requires_data) {
    RegionDemand* demand = region_named(name);
    if (demand == nullptr) return false;
    demand->required = true;
  }
  return true;
}

// "[REGION:]DIGEST": a SHA-256 in 64 hex digits, else a CRC in hex (0x optional, once) as wide as the CRC at most.
std::optional<DigestExpectation> ParseExpectation(std::string_view text, const ReportLayout& layout,
                                                  std::ostream& err, int& status) {
  DigestExpectation expectation;
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos) {
    expectation.region = RegionIndex(layout, text.substr(0, colon), err, status);
    if (!expectation.region) return std::nullopt;
    text.remove_prefix(colon + 1);
  }
  NumberFormat hex;
  hex.base = 16;
  hex.max_digits = 2;
  if (text.size() == 64) {
    for (std::size_t i = 0; i < 32; ++i) {
      const std::optional<std::uint64_t> byte = NumberValue(text.substr(2 * i, 2), hex);
      if (!byte) break;
      expectation.sha256[i] = static_cast<std::uint8_t>(*byte);
      if (i == 31) return expectation;
    }
  }
  hex.hex_prefix = true;
  hex.max_digits = layout.crc == CrcKind::kCrc16Ccitt ? 4 : 8;
  if (const std::optional<std::uint64_t> crc = NumberValue(text, hex)) {
    expectation.crc = static_cast<std::uint32_t>(*crc);
    return expectation;
  }
  status = UsageError(err, "an expected digest is a SHA-256 (64 hex digits) or a " +
                               std::string(CrcKindName(layout.crc)) + " in hex, not '" +
                               EscapeValue(std::string(text)) + "'");
  return std::nullopt;
}

// Turns --digest-region and --expect into the layout's region digests and expectations; false with a usage error.
bool ExpectDigests(const RegionOptions& given, ReportLayout& layout, std::ostream& err, int& status) {
  if (!given.digest_regions.empty()) {
    layout.digest_regions.assign(layout.regions.size(), false);
    for (const std::string& name : given.digest_regions) {
      const std::optional<std::size_t> index = RegionIndex(layout, name, err, status);
      if (!index) return false;
      layout.digest_regions[*index] = true;
    }
  }
  for (const std::string& text : given.expectations) {
    std::optional<DigestExpectation> expectation = ParseExpectation(text, layout, err, status);
    if (!expectation) return false;
    // A region's expected digest needs the region's digest.
    if (expectation->region && !layout.digest_regions.empty()) layout.digest_regions[*expectation->region] = true;
    layout.expectations.push_back(*expectation);
  }
  return true;
}

}  // namespace

bool MakeRegions(ScanOptions& options, std::ostream& err, int& status) {
  // Read after every option, so that -L and --defsym apply to each script wherever they stand.
  if (!CollectRegions(options.given, options.layout.regions, err)) {
    status = kScanUsageError;
    return false;
  }
  return DemandRegions(options.given, options.layout, err, status) &&
         ExpectDigests(options.given, options.layout, err, status);
}

}  // namespace varnok
