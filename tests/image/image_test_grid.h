#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "memmap/map_grid.h"

namespace varnok::test {

// A record's load address and bytes.
struct Block {
  std::uint32_t address;
  std::string bytes;
};

// The map of the blocks, written in their order as the analysis hands them over, with its regions found.
inline MapGrid GridOf(const std::vector<Block>& blocks) {
  MapGrid grid;
  std::uint32_t lowest = 0xFFFFFFFFu;
  std::uint32_t highest = 0;
  for (const Block& block : blocks) {
    lowest = std::min(lowest, block.address);
    highest = std::max(highest, block.address + static_cast<std::uint32_t>(block.bytes.size()) - 1);
  }
  grid.Build(lowest, highest);
  for (const Block& block : blocks) {
    grid.FillBlock(block.address, static_cast<std::int32_t>(block.bytes.size()),
                   reinterpret_cast<const std::uint8_t*>(block.bytes.data()));
  }
  grid.FindRegions();
  return grid;
}

}  // namespace varnok::test
