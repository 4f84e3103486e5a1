#include "analysis/gathering_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "support/no_memory.h"

namespace varnok {
namespace {

using Piece = std::pair<std::uint32_t, std::int32_t>;  // address, length
constexpr std::int32_t k64K = 64 << 10;

// Keeps the blocks as they are handed on, adopting them when asked to; refuses them when asked to.
struct BlockLog : BlockSink {
  bool adopts = false;
  int adopted = 0;
  bool refuse = false;
  std::vector<Piece> blocks;
  bool bytes_right = true;  // every byte handed on is the one its record held at its address

  bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override {
    if (refuse) return false;
    blocks.emplace_back(address, length);
    for (std::int32_t i = 0; i < length; ++i) {
      bytes_right = bytes_right && data[i] == static_cast<std::uint8_t>(address + static_cast<std::uint32_t>(i));
    }
    return true;
  }
  bool AdoptsBlocks() const override { return adopts; }
  bool AdoptBlock(std::uint32_t address, std::int32_t length, std::uint8_t* data, std::size_t capacity,
                  BlockDeallocator free) override {
    ++adopted;
    return BlockSink::AdoptBlock(address, length, data, capacity, free);
  }
};

TEST(GatheringSinkTest, HandsOnBlocksOfRecordsThatFollowOneAnother) {
  using Order = GatheringSink::Order;
  const struct {
    const char* name;
    Order order;
    std::vector<Piece> records;
    std::vector<Piece> blocks;  // handed on once the records are flushed
    bool gave_up = false;
    bool no_buffer = false;  // the buffer cannot be had: the first record is refused
    bool refused = false;    // the wrapped sink refuses every block: so is the record that hands one on
  } cases[] = {
      {"records that follow one another", Order::kAny, {{0x10, 4}, {0x14, 4}, {0x18, 8}}, {{0x10, 16}}},
      {"a gap, then a step back", Order::kAny, {{0x10, 4}, {0x20, 4}, {0x8, 4}}, {{0x10, 4}, {0x20, 4}, {0x8, 4}}},
      {"a record of no bytes", Order::kAny, {{0x10, 4}, {0x40, 0}, {0x14, 4}}, {{0x10, 8}}},
      {"a block ends at 64 KiB", Order::kAny, {{0, 0x6000}, {0x6000, 0x6000}, {0xC000, 0x6000}},
       {{0, 0xC000}, {0xC000, 0x6000}}},
      {"a record of 64 KiB goes on as it is", Order::kAny, {{0, 16}, {0x10, k64K}, {0x10010, 16}},
       {{0, 16}, {0x10, k64K}, {0x10010, 16}}},
      {"on across 0xFFFFFFFF", Order::kAny, {{0xFFFFFFF0, 16}, {0, 16}}, {{0xFFFFFFF0, 32}}},
      {"up the addresses", Order::kUpOnly, {{0x10, 4}, {0x14, 4}, {0x40, 4}}, {{0x10, 8}, {0x40, 4}}},
      {"up to 0xFFFFFFFF", Order::kUpOnly, {{0xFFFFFFF0, 16}}, {{0xFFFFFFF0, 16}}},
      {"back", Order::kUpOnly, {{0x20, 4}, {0x10, 4}, {0x30, 4}}, {}, true},
      {"overlap", Order::kUpOnly, {{0x20, 4}, {0x23, 4}}, {}, true},
      {"past 0xFFFFFFFF", Order::kUpOnly, {{0x10, 4}, {0xFFFFFFF0, 17}}, {}, true},
      {"no buffer", Order::kAny, {{0x10, 4}}, {}, false, true},
      {"the sink refuses", Order::kAny, {{0x10, 4}, {0x20, 4}, {0x30, 4}}, {}, false, false, true},
  };
  std::vector<std::uint8_t> bytes(2 * k64K);
  // A sink that keeps its blocks gets the same ones, adopting those that fill more than half the buffer.
  for (const auto& c : cases) for (const bool adopts : {false, true}) {
    BlockLog log;
    log.adopts = adopts;
    log.refuse = c.refused;
    GatheringSink sink(log, c.order, c.no_buffer ? &test::NoMemory : &std::malloc);
    for (std::size_t i = 0; i < c.records.size(); ++i) {
      const auto [address, length] = c.records[i];
      for (std::int32_t k = 0; k < length; ++k) bytes[k] = static_cast<std::uint8_t>(address + k);
      const bool refused = (c.no_buffer && i == 0) || (c.refused && i == 1);
      EXPECT_EQ(sink.Take(address, length, bytes.data()), !refused) << c.name << ", record " << i;
    }
    EXPECT_EQ(sink.Flush(), !c.refused) << c.name;
    EXPECT_EQ(log.blocks, c.blocks) << c.name;
    EXPECT_TRUE(log.bytes_right) << c.name;
    EXPECT_EQ(sink.GaveUp(), c.gave_up) << c.name;
    const auto well_filled = std::count_if(c.blocks.begin(), c.blocks.end(), [](const Piece& block) {
      return block.second > k64K / 2 && block.second < k64K;
    });
    EXPECT_EQ(log.adopted, adopts ? well_filled : 0) << c.name;
  }
}

}  // namespace
}  // namespace varnok
