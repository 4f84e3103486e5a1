#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "memmap/map_filler.h"
#include "memmap/map_grid.h"

namespace varnok::test {

// A record's load address and bytes.
struct Block {
  std::uint32_t address;
  std::string bytes;
};

// The map of every byte the blocks load, written in their order as the analysis hands them over: the map that
// varnok-scan digests and compares.
inline MapGrid GridOf(const std::vector<Block>& blocks) {
  MapFiller filler;
  for (const Block& block : blocks) {
    filler.Take(block.address, static_cast<std::int32_t>(block.bytes.size()),
                reinterpret_cast<const std::uint8_t*>(block.bytes.data()));
  }
  MapGrid grid;
  filler.FinishWhole(grid);
  return grid;
}

}  // namespace varnok::test
