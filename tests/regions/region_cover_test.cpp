#include "regions/region_cover.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace varnok {
namespace {

// Each row of a map over the target's regions: the region whose band its address cell shows, and which of its
// byte columns lie outside every region (their filled cells take the outside colour).
TEST(RegionCover, TellsEachRowItsBandAndItsCellsOutside) {
  const std::vector<MemoryRegion> regions = {
      {"FLASH", 0x08000000, 0x80000}, {"BOOT", 0x08000000, 0x10}, {"RAM", 0x20000010, 0x20}, {"EMPTY", 0x30000000, 0}};
  const RegionCover cover(regions);
  const struct {
    std::uint32_t row;
    std::optional<std::size_t> band;
    std::uint32_t inside;
  } cases[] = {
      {0x08000000, 0, 0xFFFFFFFF},                     // the first of two regions that hold the row
      {0x0807FFF0, 0, 0x0000FFFF},                     // the row runs out of FLASH half-way
      {0x07FFFFF0, 0, 0xFFFF0000},                     // and into it
      {0x20000000, 2, 0xFFFF0000},                     // RAM from the row's 17th address on
      {0x20000020, 2, 0x0000FFFF},
      {0x30000000, std::nullopt, 0},                   // a region of no bytes holds none
      {0xFFFFFFF0, std::nullopt, 0},                   // past 0xFFFFFFFF lies in no region
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cover.RegionOfRow(c.row), c.band) << std::hex << c.row;
    EXPECT_EQ(cover.InsideMask(c.row), c.inside) << std::hex << c.row;
  }
}

}  // namespace
}  // namespace varnok
