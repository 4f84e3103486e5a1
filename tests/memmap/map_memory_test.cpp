// The store behind MapGrid: every byte reads back as written whatever the order and shape of the writes, and its
// memory stays within 1.25 bytes per filled address plus 80 bytes per block plus 1 MB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "memmap/map_grid.h"

namespace varnok {
namespace {

struct Write {
  std::uint32_t address;
  std::uint32_t length;
};

// The filled addresses of the writes, counted from their merged intervals.
std::uint64_t FilledAddresses(std::vector<Write> writes) {
  std::sort(writes.begin(), writes.end(), [](const Write& a, const Write& b) { return a.address < b.address; });
  std::uint64_t filled = 0;
  std::uint64_t end = 0;
  for (const Write& w : writes) {
    const std::uint64_t first = std::max<std::uint64_t>(w.address, end);
    const std::uint64_t last = std::uint64_t{w.address} + w.length;
    if (last > first) filled += last - first;
    end = std::max(end, last);
  }
  return filled;
}

struct ShapeCase {
  const char* name;
  std::uint32_t highest;
  std::function<std::vector<Write>()> writes;
};

// Blocks of `length` bytes, one every `stride` addresses from `first` on, over `span` addresses.
std::function<std::vector<Write>()> Every(std::uint64_t stride, std::uint32_t length, std::uint64_t span,
                                          std::uint32_t first = 0) {
  return [=] {
    std::vector<Write> writes;
    for (std::uint64_t at = first; at + length <= span; at += stride) {
      writes.push_back({static_cast<std::uint32_t>(at), length});
    }
    return writes;
  };
}

std::function<std::vector<Write>()> Reversed(std::function<std::vector<Write>()> make) {
  return [=] {
    std::vector<Write> writes = make();
    std::reverse(writes.begin(), writes.end());
    return writes;
  };
}

class MemoryBoundTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(MemoryBoundTest, FollowsTheFilledAddressesAndTheBlocks) {
  const ShapeCase& c = GetParam();
  const std::vector<Write> writes = c.writes();
  MapGrid grid;
  grid.Build(0, c.highest);
  const std::vector<std::uint8_t> bytes(8192, 0x5A);
  for (const Write& w : writes) grid.FillBlock(w.address, static_cast<std::int32_t>(w.length), bytes.data());
  grid.MarkStartVector(c.highest);
  grid.FindRegions();
  const std::uint64_t filled = FilledAddresses(writes);
  std::uint64_t in_regions = 0;
  for (const AddressRange& region : grid.Regions()) in_regions += region.Size();
  EXPECT_EQ(in_regions, filled);
  const double bound = 1.25 * static_cast<double>(filled) + 80.0 * static_cast<double>(writes.size()) + 1e6;
  EXPECT_LE(static_cast<double>(grid.MemoryBytes()), bound)
      << writes.size() << " blocks, " << filled << " filled, " << grid.MemoryBytes() << " bytes";
}

constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

INSTANTIATE_TEST_SUITE_P(
    Shapes, MemoryBoundTest,
    ::testing::Values(
        ShapeCase{"Dense16", 0x3FFFFF, Every(16, 16, 4 << 20)},
        ShapeCase{"Dense252Descending", 0x3FFFFF, Reversed(Every(252, 252, 4 << 20))},
        ShapeCase{"WholePages", 0xFFFFFF, Every(8192, 8192, 16 << 20)},
        ShapeCase{"WholePagesFromSlabs", 0x1FFFFFF, Every(8192, 8192, 32 << 20)},
        ShapeCase{"ByteEvery4KiB", 0x0FFFFFFF, Every(4096, 1, 256 << 20)},
        ShapeCase{"ByteEveryOtherAddress", 0x3FFFF, Every(2, 1, 256 << 10)},
        ShapeCase{"Overlapping", 0xFFFFF, Every(40, 100, 1 << 20)},
        ShapeCase{"StraddlingPages12", 0xFFFFFFFF, Every(8192, 12, k4GiB, 4090)},
        ShapeCase{"StraddlingPages30Descending", 0xFFFFFF, Reversed(Every(8192, 30, 16 << 20, 4081))},
        ShapeCase{"StraddlingLeaves30", 0xFFFFFFFF, Every(2 << 20, 30, k4GiB, (1 << 20) - 15)},
        ShapeCase{"StartVectorFarAway", 0xFFFFFFFF, Every(16, 16, 4096)}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Writes of every size, order and overlap against a plain copy of the map: every row reads back the later bytes,
// and the written rows and the regions are the plain copy's.
TEST(MapStoreTest, EveryRowAgreesWithAPlainCopy) {
  constexpr std::uint32_t kBase = 0x00F00010;  // rows and pages start off the 32- and 4096-byte grid of addresses
  constexpr std::uint32_t kSpan = 3u << 20;
  std::mt19937 random(3);
  MapGrid grid;
  grid.Build(kBase, kBase + kSpan - 1);
  std::vector<std::uint8_t> bytes(kSpan, 0);
  std::vector<bool> filled(kSpan, false);
  std::vector<std::uint8_t> block(10000);
  const auto write = [&](std::uint32_t offset, std::uint32_t length) {
    length = std::min(length, kSpan - offset);
    for (std::uint32_t i = 0; i < length; ++i) {
      block[i] = static_cast<std::uint8_t>(random());
      bytes[offset + i] = block[i];
      filled[offset + i] = true;
    }
    grid.FillBlock(kBase + offset, static_cast<std::int32_t>(length), block.data());
  };
  // Descending and ascending runs of records, scattered small and large writes, and rewrites over all of them.
  for (std::uint32_t at = 0x40000; at >= 0x20000; at -= 16) write(at, 16);
  for (std::uint32_t at = 0x100000; at < 0x140000; at += 300) write(at, 252);
  for (int k = 0; k < 20000; ++k) {
    const std::uint32_t size = k % 50 == 0 ? 1 + random() % 10000 : 1 + random() % (k % 3 == 0 ? 64 : 8);
    write(random() % kSpan, size);
  }
  std::uint64_t written = 0;
  for (std::int32_t row = 1; row < grid.RowCount(); ++row) {
    const RowCells cells = grid.Row(row);
    const std::uint32_t offset = static_cast<std::uint32_t>(row - 1) * 32;
    if (cells.filled != 0) ++written;
    for (std::uint32_t c = 0; c < 32; ++c) {
      ASSERT_EQ((cells.filled >> c) & 1u, filled[offset + c] ? 1u : 0u) << "row " << row << " column " << c + 1;
      if (filled[offset + c]) {
        ASSERT_EQ(cells.bytes[c], bytes[offset + c]) << "row " << row << " column " << c + 1;
      }
    }
  }
  EXPECT_EQ(grid.WrittenRowCount(), written);
  std::vector<AddressRange> regions;
  for (std::uint32_t offset = 0; offset < kSpan; ++offset) {
    if (!filled[offset]) continue;
    if (!regions.empty() && regions.back().last == kBase + offset - 1) {
      regions.back().last = kBase + offset;
    } else {
      regions.push_back({kBase + offset, kBase + offset});
    }
  }
  grid.FindRegions();
  EXPECT_EQ(grid.Regions(), regions);
}

}  // namespace
}  // namespace varnok
