#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/block_sink.h"

namespace varnok::test {

// Takes a run's records as a map would: records that follow one another up the addresses come out as one block,
// however the run hands them over. With no_memory it refuses every record.
struct RecordingSink : BlockSink {
  using Blocks = std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>;

  bool no_memory = false;
  Blocks blocks;

  bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override {
    if (no_memory) return false;
    if (length == 0) return true;
    // Addresses wrap past 0xFFFFFFFF, as in the map.
    if (blocks.empty() || blocks.back().first + static_cast<std::uint32_t>(blocks.back().second.size()) != address) {
      blocks.push_back({address, {}});
    }
    blocks.back().second.insert(blocks.back().second.end(), data, data + length);
    return true;
  }
};

}  // namespace varnok::test
