#include "regions/memory_regions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnok {
namespace {

using Regions = std::vector<MemoryRegion>;

TEST(ParseRegionOption, ReadsNameStartAndSize) {
  const struct {
    const char* text;
    std::optional<MemoryRegion> region;
  } cases[] = {
      {"FLASH=0x08000000,512K", MemoryRegion{"FLASH", 0x08000000, 512 * 1024}},
      {"TOP=0xFFF00000,1M", MemoryRegion{"TOP", 0xFFF00000, 1 << 20}},
      {"PAST=0xFFF00000,2M", std::nullopt},
      {"EMPTY=0x100,0", MemoryRegion{"EMPTY", 0x100, 0}},
      {"=0,1", std::nullopt},
      {"NOSIZE=0", std::nullopt},
      {"BAD=1K,1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseRegionOption(c.text), c.region) << c.text;
}

TEST(MeasureRegions, CountsUsedBytesAndWhatLiesOutside) {
  const Regions regions = {{"FLASH", 0x1000, 0x1000}, {"BOOT", 0x1000, 0x100}, {"RAM", 0x4000, 0x100}};
  const struct {
    const char* name;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> loaded;  // address, length
    std::vector<std::uint64_t> used;
    std::vector<AddressRange> outside;
  } cases[] = {
      {"nothing loaded", {}, {0, 0, 0}, {}},
      {"inside", {{0x1000, 0x200}, {0x4000, 0x10}}, {0x200, 0x100, 0x10}, {}},
      {"both sides", {{0xF00, 0x2200}}, {0x1000, 0x100, 0}, {{0xF00, 0xFFF}, {0x2000, 0x30FF}}},
      {"between and above", {{0x3000, 0x1200}}, {0, 0, 0x100}, {{0x3000, 0x3FFF}, {0x4100, 0x41FF}}},
      {"several records in one region, one record over two",
       {{0x1000, 0x10}, {0x1800, 0x10}, {0x1FF0, 0x20}, {0x3F00, 0x300}},
       {0x30, 0x10, 0x100}, {{0x2000, 0x200F}, {0x3F00, 0x3FFF}, {0x4100, 0x41FF}}},
  };
  for (const auto& c : cases) {
    DataRanges loaded;
    for (const auto& [address, length] : c.loaded) loaded.Add(address, length);
    const RegionUsage usage = MeasureRegions(regions, loaded);
    EXPECT_EQ(usage.used, c.used) << c.name;
    EXPECT_EQ(usage.outside, c.outside) << c.name;
  }
}

}  // namespace
}  // namespace varnok
