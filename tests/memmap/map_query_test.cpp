// Regions, region jumps, scroll bar marks, find and the fill from kept blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "analysis/data_blocks.h"
#include "memmap/find_text.h"
#include "memmap/map_grid.h"

namespace varnok {
namespace {

constexpr std::int32_t kLastRowOf4GiB = 134217728;

struct Block {
  std::uint32_t address;
  std::vector<std::uint8_t> bytes;
};

Block Bytes(std::uint32_t address, std::uint32_t length, std::uint8_t first = 0x41) {
  Block block{address, std::vector<std::uint8_t>(length)};
  for (std::uint32_t i = 0; i < length; ++i) block.bytes[i] = static_cast<std::uint8_t>(first + i);
  return block;
}

MapGrid Filled(std::uint32_t lowest, std::uint32_t highest, const std::vector<Block>& blocks) {
  MapGrid grid;
  grid.Build(lowest, highest);
  for (const Block& block : blocks) {
    grid.FillBlock(block.address, static_cast<std::int32_t>(block.bytes.size()), block.bytes.data());
  }
  return grid;
}

struct RegionCase {
  const char* name;
  std::uint32_t lowest;
  std::uint32_t highest;
  std::vector<Block> blocks;
  std::vector<MapRegion> regions;
  std::vector<std::uint64_t> sizes;
};

class RegionsTest : public ::testing::TestWithParam<RegionCase> {};

TEST_P(RegionsTest, MaximalRunsOfFilledAddressesInMapOrder) {
  const RegionCase& c = GetParam();
  const MapGrid grid = Filled(c.lowest, c.highest, c.blocks);
  EXPECT_EQ(grid.Regions(), c.regions);
  std::vector<std::uint64_t> sizes;
  for (const MapRegion& region : grid.Regions()) sizes.push_back(region.Size());
  EXPECT_EQ(sizes, c.sizes);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, RegionsTest,
    ::testing::Values(
        RegionCase{"Empty", 0x1000, 0x1FFF, {}, {}, {}},
        RegionCase{"OneByte", 0x1000, 0x1FFF, {Bytes(0x1234, 1)}, {{0x1234, 0x1234}}, {1}},
        RegionCase{"Adjacent", 0x1000, 0x1FFF, {Bytes(0x1010, 16), Bytes(0x1000, 16)}, {{0x1000, 0x101F}}, {32}},
        RegionCase{"Overlapping",
                   0x1000,
                   0x1FFF,
                   {Bytes(0x1000, 32), Bytes(0x1008, 4), Bytes(0x1018, 16)},
                   {{0x1000, 0x1027}},
                   {40}},
        RegionCase{"OneGapApart",
                   0x1000,
                   0x1FFF,
                   {Bytes(0x1000, 1), Bytes(0x1002, 1)},
                   {{0x1000, 0x1000}, {0x1002, 0x1002}},
                   {1, 1}},
        RegionCase{"AcrossPages", 0, 0xFFFFFFFF, {Bytes(0x0FF0, 0x2020)}, {{0x0FF0, 0x300F}}, {0x2020}},
        RegionCase{"Touching4GiB",
                   0xFFFFFF00,
                   0xFFFFFFFF,
                   {Bytes(0xFFFFFF00, 1), Bytes(0xFFFFFFF0, 16)},
                   {{0xFFFFFF00, 0xFFFFFF00}, {0xFFFFFFF0, 0xFFFFFFFF}},
                   {1, 16}},
        RegionCase{"MapThatWraps",
                   0xFFFFFFF0,
                   0x00000040,
                   {Bytes(0x00000000, 17), Bytes(0xFFFFFFF0, 16), Bytes(0x40, 1)},
                   {{0xFFFFFFF0, 0x00000010}, {0x40, 0x40}},
                   {33, 1}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(RegionJumpTest, NextAndPreviousRegionRows) {
  // Regions start in rows 1, 3 (two of them), 200 and the last row of the 4 GiB.
  const MapGrid grid = Filled(0, 0xFFFFFFFF,
                              {Bytes(0x00, 8), Bytes(0x40, 2), Bytes(0x50, 2), Bytes(0x18E0, 100),
                               Bytes(0xFFFFFFF0, 16)});
  const struct {
    std::int32_t row;
    std::optional<std::int32_t> next;
    std::optional<std::int32_t> previous;
  } cases[] = {
      {0, 1, std::nullopt},   {1, 3, std::nullopt},   {2, 3, 1},           {3, 200, 1},
      {4, 200, 3},            {200, kLastRowOf4GiB, 3}, {201, kLastRowOf4GiB, 200},
      {kLastRowOf4GiB, std::nullopt, 200},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(grid.NextRegionRow(c.row), c.next) << c.row;
    EXPECT_EQ(grid.PreviousRegionRow(c.row), c.previous) << c.row;
  }
  const MapGrid empty = Filled(0, 0xFFFFFFFF, {});
  EXPECT_EQ(empty.NextRegionRow(0), std::nullopt);
  EXPECT_EQ(empty.PreviousRegionRow(kLastRowOf4GiB), std::nullopt);
}

// The marks as the groove's pixels are defined: pixel i stands for rows 1 + i*N/p up to 1 + (i+1)*N/p, at least one.
std::vector<std::uint8_t> MarksByRows(const MapGrid& grid, int pixels) {
  const auto rows = static_cast<std::int64_t>(grid.RowCount() - 1);
  std::vector<std::uint8_t> marks(static_cast<std::size_t>(pixels), 0);
  for (std::int64_t i = 0; i < pixels; ++i) {
    const std::int64_t first = 1 + i * rows / pixels;
    const std::int64_t end = std::max(first + 1, 1 + (i + 1) * rows / pixels);
    for (std::int64_t row = first; row < end; ++row) {
      const RowCells cells = grid.Row(static_cast<std::int32_t>(row));
      if (cells.filled != 0) marks[static_cast<std::size_t>(i)] |= MapGrid::kFilledMark;
      if (cells.start_vector != 0) marks[static_cast<std::size_t>(i)] |= MapGrid::kStartVectorMark;
    }
  }
  return marks;
}

TEST(ScrollMarksTest, AgreeWithTheRowsOfEveryPixel) {
  std::mt19937 random(7);
  for (const std::uint32_t rows : {1u, 2u, 3u, 7u, 64u, 129u, 1000u}) {
    for (const int pixels : {1, 2, 5, 64, 333}) {
      MapGrid grid;
      grid.Build(0x100, 0x100 + rows * 32 - 1);
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t offset = random() % (rows * 32);
        const std::uint8_t byte = 0;
        grid.FillBlock(0x100 + offset, 1, &byte);
      }
      grid.MarkStartVector(0x100 + random() % (rows * 32));
      EXPECT_EQ(grid.ScrollMarks(pixels), MarksByRows(grid, pixels)) << rows << " rows, " << pixels << " pixels";
    }
  }
}

TEST(ScrollMarksTest, OneRowAndTheWhole4GiB) {
  MapGrid one = Filled(0x1000, 0x1000, {Bytes(0x1000, 1)});
  EXPECT_EQ(one.ScrollMarks(4), std::vector<std::uint8_t>(4, MapGrid::kFilledMark));
  one.MarkStartVector(0x1000);
  EXPECT_EQ(one.ScrollMarks(3), std::vector<std::uint8_t>(3, MapGrid::kFilledMark | MapGrid::kStartVectorMark));
  EXPECT_TRUE(one.ScrollMarks(0).empty());

  MapGrid whole = Filled(0, 0xFFFFFFFF, {Bytes(0, 1), Bytes(0xFFFFFFFF, 1)});
  whole.MarkStartVector(0x80000000);
  std::vector<std::uint8_t> expected(1000, 0);
  expected[0] = MapGrid::kFilledMark;
  expected[500] = MapGrid::kStartVectorMark;
  expected[999] = MapGrid::kFilledMark;
  EXPECT_EQ(whole.ScrollMarks(1000), expected);
  EXPECT_EQ(Filled(0, 0xFFFFFFFF, {}).ScrollMarks(8), std::vector<std::uint8_t>(8, 0));
}

std::vector<std::uint8_t> Pattern(std::string_view text) { return {text.begin(), text.end()}; }

struct FindCase {
  const char* name;
  std::uint32_t lowest;
  std::uint32_t highest;
  std::vector<Block> blocks;
  std::string pattern;
  bool forward;
  std::uint32_t from;
  std::optional<std::uint32_t> found;
};

Block Text(std::uint32_t address, std::string_view text) { return Block{address, Pattern(text)}; }

class FindTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTest, FindsTheMatchInMapOrder) {
  const FindCase& c = GetParam();
  const MapGrid grid = Filled(c.lowest, c.highest, c.blocks);
  const std::vector<std::uint8_t> pattern = Pattern(c.pattern);
  EXPECT_EQ(c.forward ? grid.FindForward(pattern, c.from) : grid.FindBackward(pattern, c.from), c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FindTest,
    ::testing::Values(
        FindCase{"AcrossAPageBorder", 0, 0xFFFF, {Text(0x0FFD, "VERSION")}, "VERSION", true, 0, 0x0FFD},
        FindCase{"AcrossBlocks", 0, 0xFFFF, {Text(0x0FFF, "R"), Text(0x0FFD, "VE"), Text(0x1000, "SION")},
                 "VERSION", true, 0, 0x0FFD},
        FindCase{"NotAcrossAGap", 0, 0xFFFF, {Text(0x0FFD, "VER"), Text(0x1001, "SION")}, "VERSION", true, 0,
                 std::nullopt},
        FindCase{"AtTheLastAddress", 0, 0xFFFFFFFF, {Text(0xFFFFFFF9, "VERSION")}, "VERSION", true, 0x100,
                 0xFFFFFFF9},
        FindCase{"BackwardAtTheLastAddress", 0, 0xFFFFFFFF, {Text(0xFFFFFFF9, "VERSION")}, "VERSION", false, 0,
                 0xFFFFFFF9},
        FindCase{"NotFromTheLastAddressToTheFirst", 0, 0xFFFFFFFF, {Text(0xFFFFFFFD, "VER"), Text(0, "SION")},
                 "VERSION", true, 0, std::nullopt},
        FindCase{"FromItsOwnOffset", 0x100, 0x1FF, {Text(0x120, "abcabc")}, "abc", true, 0x20, 0x20},
        FindCase{"AfterTheCurrentMatch", 0x100, 0x1FF, {Text(0x120, "abcabc")}, "abc", true, 0x21, 0x23},
        FindCase{"WrapsForward", 0x100, 0x1FF, {Text(0x120, "abcabc")}, "abc", true, 0x24, 0x20},
        FindCase{"BeforeTheCurrentMatch", 0x100, 0x1FF, {Text(0x120, "abcabc")}, "abc", false, 0x23, 0x20},
        FindCase{"WrapsBackward", 0x100, 0x1FF, {Text(0x120, "abcabc")}, "abc", false, 0x20, 0x23},
        FindCase{"OnlyMatchWrapsToItself", 0x100, 0x1FF, {Text(0x120, "abc")}, "abc", true, 0x21, 0x20},
        FindCase{"LaterWriteWins", 0x100, 0x1FF, {Text(0x120, "VERSION"), Text(0x123, "X")}, "VERSION", true, 0,
                 std::nullopt},
        FindCase{"LaterBytesAreFound", 0x100, 0x1FF, {Text(0x120, "VERXION"), Text(0x123, "S")}, "VERSION", true,
                 0, 0x20},
        FindCase{"InAMapThatWraps", 0xFFFFFFF0, 0x20, {Text(0xFFFFFFFE, "VERSION")}, "VERSION", true, 0, 0x0E},
        FindCase{"LongerThanTheData", 0x100, 0x1FF, {Text(0x120, "VERSIO")}, "VERSION", true, 0, std::nullopt},
        FindCase{"EmptyPattern", 0x100, 0x1FF, {Text(0x120, "VERSION")}, "", true, 0, std::nullopt}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Random blocks, many of them across page borders and over each other, against a plain byte array of the map.
TEST(FindTest, AgreesWithAPlainScanOfTheFilledBytes) {
  constexpr std::uint32_t kBase = 0x7000;
  constexpr std::uint32_t kSpan = 3 * 4096;
  std::mt19937 random(11);
  for (int round = 0; round < 20; ++round) {
    MapGrid grid;
    grid.Build(kBase, kBase + kSpan - 1);
    std::vector<int> plain(kSpan, -1);
    for (int k = 0; k < 60; ++k) {
      const std::uint32_t length = 1 + random() % (k % 3 == 0 ? 40 : 6);
      const std::uint32_t offset = (k % 2 == 0 ? 4096 * (1 + random() % 2) - random() % 8 : random()) % (kSpan - length);
      std::vector<std::uint8_t> bytes(length);
      for (auto& byte : bytes) byte = static_cast<std::uint8_t>('a' + random() % 3);
      grid.FillBlock(kBase + offset, static_cast<std::int32_t>(length), bytes.data());
      for (std::uint32_t i = 0; i < length; ++i) plain[offset + i] = bytes[i];
    }
    const auto matches_at = [&](const std::vector<std::uint8_t>& pattern, std::uint32_t at) {
      if (at + pattern.size() > kSpan) return false;
      for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (plain[at + i] != pattern[i]) return false;
      }
      return true;
    };
    for (int query = 0; query < 40; ++query) {
      std::vector<std::uint8_t> pattern(1 + random() % 5);
      for (auto& byte : pattern) byte = static_cast<std::uint8_t>('a' + random() % 3);
      const std::uint32_t from = random() % kSpan;
      std::optional<std::uint32_t> forward;
      std::optional<std::uint32_t> backward;
      for (std::uint32_t step = 0; step < kSpan && !forward; ++step) {
        if (matches_at(pattern, (from + step) % kSpan)) forward = (from + step) % kSpan;
      }
      for (std::uint32_t step = 1; step <= kSpan && !backward; ++step) {
        if (matches_at(pattern, (from + kSpan - step) % kSpan)) backward = (from + kSpan - step) % kSpan;
      }
      ASSERT_EQ(grid.FindForward(pattern, from), forward) << "round " << round << " from " << from;
      ASSERT_EQ(grid.FindBackward(pattern, from), backward) << "round " << round << " before " << from;
    }
  }
}

TEST(FindTextTest, HexPairsOrQuotedText) {
  const struct {
    std::string_view text;
    std::vector<std::uint8_t> bytes;
    bool refused;
  } cases[] = {
      {"DE AD BE EF", {0xDE, 0xAD, 0xBE, 0xEF}, false},
      {"deadbeef", {0xDE, 0xAD, 0xBE, 0xEF}, false},
      {"  0a\t0B  ", {0x0A, 0x0B}, false},
      {"\"VERSION\"", Pattern("VERSION"), false},
      {" \"a \"b\" ", Pattern("a \"b"), false},
      {"\"\xE4\"", {0xE4}, false},
      {"", {}, true},
      {"   ", {}, true},
      {"DEA", {}, true},
      {"DEA DBEEF", {}, true},
      {"0xDE", {}, true},
      {"DE-AD", {}, true},
      {"\"VERSION", {}, true},
      {"\"", {}, true},
      {"\"\"", {}, true},
      {"VERSION", {}, true},
  };
  for (const auto& c : cases) {
    const FindPattern pattern = ParseFindText(c.text);
    EXPECT_EQ(pattern.bytes, c.bytes) << c.text;
    EXPECT_EQ(!pattern.error.empty(), c.refused) << c.text;
    EXPECT_EQ(pattern.error.find('\n'), std::string::npos) << c.text;
  }
  EXPECT_EQ(ParseFindText(" DE G0").error,
            "Character 5 is not a hex digit: use hex bytes such as DE AD BE EF, or text in double quotes.");
}

TEST(FillFromBlocksTest, ReportsProgressFreesTheBlocksAndCanBeCancelled) {
  constexpr std::uint32_t kBlock = 250;
  constexpr std::uint32_t kBlocks = (9u << 20) / kBlock;
  const auto keep = [](DataBlockStore& store) {
    for (std::uint32_t i = 0; i < kBlocks; ++i) std::memset(store.Append(i * kBlock, kBlock), 0x5A, kBlock);
  };
  DataBlockStore store;
  keep(store);
  MapGrid grid;
  grid.Build(0, kBlocks * kBlock);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  EXPECT_TRUE(FillFromBlocks(grid, store, 0x20, [&](std::uint64_t done, std::uint64_t total) {
    calls.emplace_back(done, total);
    EXPECT_LT(store.AllocatedBytes(), 2 * DataBlockStore::kChunkSize + (9u << 20) - done);
    return true;
  }));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_GE(calls[0].first, kFillProgressStep);
  EXPECT_GE(calls[1].first, calls[0].first + kFillProgressStep);
  EXPECT_EQ(calls[0].second, std::uint64_t{kBlocks} * kBlock);
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(grid.Regions(), (std::vector<MapRegion>{{0, kBlocks * kBlock - 1}}));
  EXPECT_EQ(grid.ByteAt(1, 2).kind, CellKind::StartVectorByte);

  keep(store);
  MapGrid cancelled;
  cancelled.Build(0, kBlocks * kBlock);
  std::uint64_t done_when_cancelled = 0;
  EXPECT_FALSE(FillFromBlocks(cancelled, store, 0x20, [&](std::uint64_t done, std::uint64_t) {
    done_when_cancelled = done;
    return false;
  }));
  EXPECT_TRUE(store.empty());
  ASSERT_EQ(cancelled.Regions().size(), 1u);
  EXPECT_EQ(cancelled.Regions()[0].Size(), done_when_cancelled);
  EXPECT_EQ(cancelled.ByteAt(1, 2).kind, CellKind::FilledByte);  // not marked
}

}  // namespace
}  // namespace varnok
