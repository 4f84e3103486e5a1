// Regions, region jumps, scroll bar marks, find and the filler.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "memmap/find_text.h"
#include "memmap/map_filler.h"
#include "memmap/map_grid.h"

namespace varnok {
namespace {

constexpr std::int32_t kLastRowOf4GiB = 134217728;

struct Block {
  std::uint32_t address;
  std::string bytes;
};

MapGrid Filled(std::uint32_t lowest, std::uint32_t highest, const std::vector<Block>& blocks) {
  MapGrid grid;
  grid.Build(lowest, highest);
  for (const Block& block : blocks) {
    grid.FillBlock(block.address, static_cast<std::int32_t>(block.bytes.size()),
                   reinterpret_cast<const std::uint8_t*>(block.bytes.data()));
  }
  grid.FindRegions();
  return grid;
}

TEST(RegionsTest, MaximalRunsOfFilledAddressesInMapOrder) {
  const struct {
    const char* name;
    std::uint32_t lowest;
    std::uint32_t highest;
    std::vector<Block> blocks;
    std::vector<AddressRange> regions;
  } cases[] = {
      {"one byte", 0x1000, 0x1FFF, {{0x1234, "A"}}, {{0x1234, 0x1234}}},
      {"adjacent", 0x1000, 0x1FFF, {{0x1010, std::string(16, 'b')}, {0x1000, std::string(16, 'a')}},
       {{0x1000, 0x101F}}},
      {"overlapping", 0x1000, 0x1FFF, {{0x1000, std::string(32, 'a')}, {0x1008, "b"}, {0x1018, std::string(16, 'c')}},
       {{0x1000, 0x1027}}},
      {"touching 0xFFFFFFFF", 0xFFFFFF00, 0xFFFFFFFF, {{0xFFFFFF00, "A"}, {0xFFFFFFF0, std::string(16, 'a')}},
       {{0xFFFFFF00, 0xFFFFFF00}, {0xFFFFFFF0, 0xFFFFFFFF}}},
      {"map that wraps", 0xFFFFFFF0, 0x40, {{0, std::string(17, 'a')}, {0xFFFFFFF0, std::string(16, 'b')}, {0x40, "c"}},
       {{0xFFFFFFF0, 0x10}, {0x40, 0x40}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Filled(c.lowest, c.highest, c.blocks).Regions(), c.regions) << c.name;
  EXPECT_EQ((AddressRange{0xFFFFFFF0, 0x10}.Size()), 33u);
  EXPECT_EQ((AddressRange{0, 0xFFFFFFFF}.Size()), std::uint64_t{1} << 32);
}

TEST(RegionsTest, NextAndPreviousRegionRows) {
  // Regions start in rows 1, 3 (two of them), 200 and the last row of the 4 GiB.
  const MapGrid grid = Filled(0, 0xFFFFFFFF,
                              {{0x00, "abcdefgh"}, {0x40, "ab"}, {0x50, "cd"}, {0x18E0, std::string(100, 'x')},
                               {0xFFFFFFF0, std::string(16, 'z')}});
  const struct {
    std::int32_t row;
    std::optional<std::int32_t> next;
    std::optional<std::int32_t> previous;
  } cases[] = {{0, 1, std::nullopt},  {1, 3, std::nullopt},         {2, 3, 1},
               {3, 200, 1},           {200, kLastRowOf4GiB, 3},     {kLastRowOf4GiB, std::nullopt, 200}};
  for (const auto& c : cases) {
    EXPECT_EQ(grid.NextRegionRow(c.row), c.next) << c.row;
    EXPECT_EQ(grid.PreviousRegionRow(c.row), c.previous) << c.row;
  }
  EXPECT_EQ(Filled(0, 0xFFFFFFFF, {}).NextRegionRow(0), std::nullopt);
}

// The marks as the groove's pixels are defined: pixel i stands for rows 1 + i*N/p up to 1 + (i+1)*N/p, at least one.
std::vector<std::uint8_t> MarksByRows(const MapGrid& grid, int pixels) {
  const std::int64_t rows = grid.RowCount() - 1;
  std::vector<std::uint8_t> marks(static_cast<std::size_t>(pixels), 0);
  for (std::int64_t i = 0; i < pixels; ++i) {
    const std::int64_t first = 1 + i * rows / pixels;
    for (std::int64_t row = first; row < std::max(first + 1, 1 + (i + 1) * rows / pixels); ++row) {
      const RowCells cells = grid.Row(static_cast<std::int32_t>(row));
      if (cells.filled != 0) marks[static_cast<std::size_t>(i)] |= MapGrid::kFilledMark;
      if (cells.start_vector != 0) marks[static_cast<std::size_t>(i)] |= MapGrid::kStartVectorMark;
    }
  }
  return marks;
}

TEST(ScrollMarksTest, AgreeWithTheRowsOfEveryPixel) {
  std::mt19937 random(7);
  for (const std::uint32_t rows : {1u, 3u, 7u, 129u, 1000u}) {
    for (const int pixels : {1, 5, 64, 333}) {  // one row over many pixels, many rows over few
      MapGrid grid;
      grid.Build(0x100, 0x100 + rows * 32 - 1);
      const std::uint8_t byte = 0;
      for (int k = 0; k < 3; ++k) grid.FillBlock(0x100 + random() % (rows * 32), 1, &byte);
      grid.MarkStartVector(0x100 + random() % (rows * 32));
      EXPECT_EQ(grid.ScrollMarks(pixels), MarksByRows(grid, pixels)) << rows << " rows, " << pixels << " pixels";
    }
  }
}

// One row is among the shapes above; here the numbers are large.
TEST(ScrollMarksTest, TheWhole4GiB) {
  MapGrid whole = Filled(0, 0xFFFFFFFF, {{0, "A"}, {0xFFFFFFFF, "Z"}});
  whole.MarkStartVector(0x80000000);
  std::vector<std::uint8_t> expected(1000, 0);
  expected[0] = expected[999] = MapGrid::kFilledMark;
  expected[500] = MapGrid::kStartVectorMark;
  EXPECT_EQ(whole.ScrollMarks(1000), expected);
  EXPECT_TRUE(whole.ScrollMarks(0).empty());
}

std::vector<std::uint8_t> Pattern(std::string_view text) { return {text.begin(), text.end()}; }

TEST(FindTest, FindsTheMatchInMapOrder) {
  const struct {
    const char* name;
    std::uint32_t lowest;
    std::uint32_t highest;
    std::vector<Block> blocks;
    std::string pattern;
    bool forward;
    std::uint32_t from;
    std::optional<std::uint32_t> found;
  } cases[] = {
      {"across blocks and a page border", 0, 0xFFFF, {{0x0FFF, "R"}, {0x0FFD, "VE"}, {0x1000, "SION"}}, "VERSION",
       true, 0, 0x0FFD},
      {"at the last address", 0, 0xFFFFFFFF, {{0xFFFFFFF9, "VERSION"}}, "VERSION", true, 0x100, 0xFFFFFFF9},
      {"not from the last address to the first", 0, 0xFFFFFFFF, {{0xFFFFFFFD, "VER"}, {0, "SION"}}, "VERSION", true,
       0, std::nullopt},
      {"wraps forward", 0x100, 0x1FF, {{0x120, "abcabc"}}, "abc", true, 0x24, 0x20},
      {"wraps backward", 0x100, 0x1FF, {{0x120, "abcabc"}}, "abc", false, 0x20, 0x23},
      {"later write wins", 0x100, 0x1FF, {{0x120, "VERSION"}, {0x123, "X"}}, "VERSION", true, 0, std::nullopt},
      {"in a map that wraps", 0xFFFFFFF0, 0x20, {{0xFFFFFFFE, "VERSION"}}, "VERSION", true, 0, 0x0E},
      {"empty pattern", 0x100, 0x1FF, {{0x120, "VERSION"}}, "", false, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    const MapGrid grid = Filled(c.lowest, c.highest, c.blocks);
    const std::vector<std::uint8_t> pattern = Pattern(c.pattern);
    EXPECT_EQ(c.forward ? grid.FindForward(pattern, c.from) : grid.FindBackward(pattern, c.from), c.found) << c.name;
  }
}

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
      const std::uint32_t near_border = 4096 * (1 + random() % 2) - random() % 8;
      const std::uint32_t offset = (k % 2 == 0 ? near_border : random()) % (kSpan - length);
      std::vector<std::uint8_t> bytes(length);
      for (auto& byte : bytes) byte = static_cast<std::uint8_t>('a' + random() % 3);
      grid.FillBlock(kBase + offset, static_cast<std::int32_t>(length), bytes.data());
      std::copy(bytes.begin(), bytes.end(), plain.begin() + offset);
    }
    const auto matches_at = [&](const std::vector<std::uint8_t>& pattern, std::uint32_t at) {
      return at + pattern.size() <= kSpan && std::equal(pattern.begin(), pattern.end(), plain.begin() + at);
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
    std::vector<std::uint8_t> bytes;  // none: refused
  } cases[] = {
      {"DE AD BE EF", {0xDE, 0xAD, 0xBE, 0xEF}}, {"deadbeef", {0xDE, 0xAD, 0xBE, 0xEF}}, {"  0a\t0B  ", {0x0A, 0x0B}},
      {"\"VERSION\"", Pattern("VERSION")},      {" \"a \"b\" ", Pattern("a \"b")},   {"", {}},
      {"   ", {}},  {"DEA", {}},  {"DEA DBEEF", {}},  {"0xDE", {}},  {"\"VERSION", {}},  {"\"", {}},  {"\"\"", {}},
  };
  for (const auto& c : cases) {
    const FindPattern pattern = ParseFindText(c.text);
    EXPECT_EQ(pattern.bytes, c.bytes) << c.text;
    EXPECT_EQ(pattern.error.empty(), !c.bytes.empty()) << c.text;
    EXPECT_EQ(pattern.error.find('\n'), std::string::npos) << c.text;
  }
  EXPECT_EQ(ParseFindText(" DE G0").error,
            "Character 5 is not a hex digit: use hex bytes such as DE AD BE EF, or text in double quotes.");
}

// The filler writes records that follow one another as one block and moves or copies its store into the grid; the
// map ends as if each record were written in turn.
TEST(MapFillerTest, HoldsWhatWritingEveryBlockInTurnHolds) {
  struct Shape {
    const char* name;
    std::uint32_t lowest, highest;
    std::vector<std::pair<std::uint32_t, std::int32_t>> blocks;  // address, length
  };
  const Shape shapes[] = {
      {"records up the addresses, past 64 KiB", 0x1000, 0x31FFF, {}},
      {"a later record inside the run it follows", 0x0, 0xFFFF, {{0x0, 32}, {0x20, 32}, {0x8, 4}, {0x40, 32}, {0x10, 40}}},
      {"a run across 0xFFFFFFFF", 0xFFFFFF00, 0xFF, {{0xFFFFFFE0, 16}, {0xFFFFFFF0, 16}, {0x0, 16}, {0x10, 0}}},
      {"a block of 64 KiB between records", 0x0, 0x2FFFF, {{0x0, 16}, {0x10, 65536}, {0x10010, 16}, {0x5, 3}}},
      {"the lowest record a MiB below the first", 0x100000, 0x2FFFFF,
       {{0x200000, 100}, {0x2FFFF0, 16}, {0x100000, 50}}},
      {"the lowest record an odd distance below the first", 0x1234, 0x20FFFF, {{0x200000, 100}, {0x1234, 50}}},
      {"bytes past the highest address in its row's leaf", 0x0, 0x3F, {{0x0, 16}, {0x30, 32}}},
      {"bytes past the highest address in another leaf", 0x0, 0xFF, {{0x0, 16}, {0x200000, 32}}},
      {"no bytes", 0x10, 0x10, {{0x10, 0}}},
  };
  for (const Shape& shape : shapes) {
    std::vector<std::pair<std::uint32_t, std::int32_t>> blocks = shape.blocks;
    if (blocks.empty()) {
      for (std::uint32_t a = shape.lowest; a + 40 <= shape.highest; a += 40) blocks.emplace_back(a, 40);
    }
    const std::uint32_t start_vector = shape.lowest + 5;
    MapFiller filler;
    MapGrid expected;
    expected.Build(shape.lowest, shape.highest);
    std::uint8_t value = 1;
    for (const auto& [address, length] : blocks) {
      const std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length), value++);
      ASSERT_TRUE(filler.Take(address, length, bytes.data()));
      expected.FillBlock(address, length, bytes.data());
    }
    expected.MarkStartVector(start_vector);
    expected.FindRegions();
    MapGrid filled;
    ASSERT_TRUE(filler.Finish(filled, shape.lowest, shape.highest, start_vector));
    filled.FindRegions();
    ASSERT_EQ(filled.RowCount(), expected.RowCount()) << shape.name;
    ASSERT_EQ(filled.Regions(), expected.Regions()) << shape.name;
    EXPECT_EQ(filled.WrittenRowCount(), expected.WrittenRowCount()) << shape.name;
    for (std::int32_t row = 1; row < filled.RowCount(); ++row) {
      const RowCells got = filled.Row(row);
      const RowCells want = expected.Row(row);
      ASSERT_EQ(got.filled, want.filled) << shape.name << ", row " << row;
      ASSERT_EQ(got.start_vector, want.start_vector) << shape.name << ", row " << row;
      for (std::uint32_t c = 0; c < MapGrid::kBytesPerRow; ++c) {
        if (got.filled >> c & 1) {
          ASSERT_EQ(got.bytes[c], want.bytes[c]) << shape.name << ", row " << row;
        }
      }
    }
  }
}

}  // namespace
}  // namespace varnok
