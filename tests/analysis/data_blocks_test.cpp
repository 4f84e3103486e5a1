#include "analysis/data_blocks.h"

#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace varnok {
namespace {

TEST(DataBlockStore, ReadsBackEveryBlockInOrderAcrossChunks) {
  DataBlockStore store;
  std::vector<std::pair<std::uint32_t, std::int32_t>> written;
  // Enough blocks of varied sizes to fill several chunks, with empty blocks at chunk ends.
  for (std::uint32_t i = 0; store.AllocatedBytes() < 3 * DataBlockStore::kChunkSize; ++i) {
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
  std::size_t data = 0;
  for (int i = 0; i < 200000; ++i) {
    ASSERT_NE(store.Append(static_cast<std::uint32_t>(i), 32), nullptr);
    data += 32;
  }
  EXPECT_LE(store.AllocatedBytes(), data + 8 * store.size() + DataBlockStore::kChunkSize);
  store.Clear();
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.AllocatedBytes(), 0u);
  EXPECT_EQ(store.begin(), store.end());
}

}  // namespace
}  // namespace varnok

namespace varnok {
namespace {

// Consuming hands the blocks over in order and gives each chunk back once its blocks are gone, so that the copy
// the map makes and the kept blocks never both stay whole; stopping or throwing leaves the store empty.
TEST(DataBlockStore, ConsumeFreesChunksAsItGoes) {
  DataBlockStore store;
  const auto fill = [&] {
    for (std::uint32_t i = 0; store.AllocatedBytes() < 3 * DataBlockStore::kChunkSize; ++i) {
      *store.Append(i, 200) = static_cast<std::uint8_t>(i);
    }
  };
  fill();
  const std::size_t blocks = store.size();
  EXPECT_EQ(store.DataBytes(), 200u * blocks);
  std::size_t taken = 0;
  store.Consume([&](const DataBlock& block) {
    EXPECT_EQ(block.Address, taken);
    EXPECT_EQ(block.Data[0], static_cast<std::uint8_t>(taken++));
    EXPECT_LE(store.AllocatedBytes(), 3 * DataBlockStore::kChunkSize - (taken - 1) * 208 + DataBlockStore::kChunkSize);
    return true;
  });
  EXPECT_EQ(taken, blocks);
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.AllocatedBytes() + store.DataBytes(), 0u);

  fill();
  taken = 0;
  store.Consume([&](const DataBlock&) { return ++taken < 3; });
  EXPECT_EQ(taken, 3u);
  EXPECT_EQ(store.AllocatedBytes(), 0u);
  fill();
  EXPECT_THROW(store.Consume([](const DataBlock&) -> bool { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.begin(), store.end());
}

}  // namespace
}  // namespace varnok
