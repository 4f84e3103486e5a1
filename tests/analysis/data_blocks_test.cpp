#include "analysis/data_blocks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace varnok {
namespace {

// The bytes a store has taken from its allocator and not given back.
std::size_t held = 0;

void* CountedAllocate(std::size_t size) {
  held += size;
  auto* memory = static_cast<std::size_t*>(std::malloc(sizeof(std::size_t) + size));
  *memory = size;
  return memory + 1;
}

void CountedFree(void* pointer) {
  std::size_t* memory = static_cast<std::size_t*>(pointer) - 1;
  held -= *memory;
  std::free(memory);
}

TEST(DataBlockStore, ReadsBackEveryBlockInOrderAcrossChunks) {
  DataBlockStore store;
  std::vector<std::pair<std::uint32_t, std::int32_t>> written;
  // Enough blocks of varied sizes to fill several chunks, with empty blocks at chunk ends.
  for (std::uint32_t i = 0; i < 30000; ++i) {
    const auto length = static_cast<std::int32_t>(i % 7 == 0 ? 0 : (i * 37) % 253);
    std::uint8_t* data = store.Append(i * 0x100, length);
    ASSERT_NE(data, nullptr);
    for (std::int32_t k = 0; k < length; ++k) data[k] = static_cast<std::uint8_t>(i + k);
    written.push_back({i * 0x100, length});
  }
  EXPECT_EQ(store.Append(1, -1), nullptr);
  ASSERT_EQ(store.size(), written.size());
  std::size_t index = 0;
  for (const DataBlock block : store) {
    ASSERT_LT(index, written.size());
    EXPECT_EQ(block.Address, written[index].first);
    ASSERT_EQ(block.Length, written[index].second);
    for (std::int32_t k = 0; k < block.Length; ++k) {
      ASSERT_EQ(block.Data[k], static_cast<std::uint8_t>(index + k));
    }
    ++index;
  }
  EXPECT_EQ(index, written.size());
}

TEST(DataBlockStore, CostsItsDataPlusEightBytesPerBlockPlusOneChunk) {
  DataBlockStore store;
  store.SetAllocator(&CountedAllocate, &CountedFree);
  std::size_t data = 0;
  for (int i = 0; i < 200000; ++i) {
    ASSERT_NE(store.Append(static_cast<std::uint32_t>(i), 32), nullptr);
    data += 32;
  }
  EXPECT_LE(held, data + 8 * store.size() + DataBlockStore::kChunkSize);
  store.Clear();
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(held, 0u);
  EXPECT_EQ(store.begin(), store.end());
}

}  // namespace
}  // namespace varnok
