#include "memmap/map_grid.h"
#include "memmap/map_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {
namespace {

constexpr std::int32_t kLastRowOf4GiB = 134217728;

MapGrid Built(std::uint32_t lowest, std::uint32_t highest) {
  MapGrid grid;
  grid.Build(lowest, highest);
  return grid;
}

std::vector<std::string> RowTexts(const MapGrid& grid, std::int32_t row) {
  std::vector<std::string> texts;
  for (std::int32_t column = 0; column < MapGrid::kColumnCount; ++column) texts.push_back(grid.Cell(column, row));
  return texts;
}

void ExpectRowUnused(const MapGrid& grid, std::int32_t row) {
  for (std::int32_t column = 1; column <= 32; ++column) EXPECT_EQ(grid.Cell(column, row), "FF") << column;
  EXPECT_EQ(grid.Cell(MapGrid::AsciiColumn, row), std::string(32, '.'));
}

struct LayoutCase {
  std::uint32_t lowest;
  std::uint32_t highest;
  std::int32_t row_count;
  std::string first_label;
  std::string last_label;
};

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, RowsAndLabelsCoverTheRangeUpToTheHighestAddress) {
  const LayoutCase& c = GetParam();
  const MapGrid grid = Built(c.lowest, c.highest);
  EXPECT_EQ(grid.BaseAddress(), c.lowest);
  EXPECT_EQ(grid.RowCount(), c.row_count);
  EXPECT_EQ(grid.Cell(0, 1), c.first_label);
  EXPECT_EQ(grid.Cell(0, c.row_count - 1), c.last_label);
  EXPECT_EQ(grid.AddressToCell(c.highest).row, c.row_count - 1);
  ExpectRowUnused(grid, 1);
  ExpectRowUnused(grid, c.row_count - 1);
  EXPECT_EQ(grid.Cell(0, c.row_count), "");
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, LayoutTest,
    ::testing::Values(LayoutCase{0x00001000, 0x00001000, 2, "00001000", "00001000"},
                      LayoutCase{0x00001000, 0x0000101F, 2, "00001000", "00001000"},
                      LayoutCase{0x00001000, 0x00001020, 3, "00001000", "00001020"},
                      LayoutCase{0x00001005, 0x00001044, 3, "00001005", "00001025"},
                      LayoutCase{0xFFFFFFFF, 0x00000000, 2, "FFFFFFFF", "FFFFFFFF"},
                      LayoutCase{0xFFFFFFF0, 0x00000030, 4, "FFFFFFF0", "00000030"},
                      LayoutCase{0x00000000, 0xFFFFFFFF, kLastRowOf4GiB + 1, "00000000", "FFFFFFE0"}));

TEST(MapGridTest, HeaderRowTexts) {
  const MapGrid grid = Built(0x1000, 0x1000);
  EXPECT_EQ(grid.Cell(0, 0), "Address");
  EXPECT_EQ(grid.Cell(1, 0), "00");
  EXPECT_EQ(grid.Cell(11, 0), "0A");
  EXPECT_EQ(grid.Cell(32, 0), "1F");
  EXPECT_EQ(grid.Cell(33, 0), "~~~~~~~ ASCII ~~~~~~~");
}

TEST(MapGridTest, PositionsOutsideTheTableHaveEmptyTexts) {
  const MapGrid grid = Built(0x1000, 0x1000);
  for (const CellPos pos : {CellPos{-1, 1}, CellPos{34, 1}, CellPos{1, -1}, CellPos{1, 2}}) {
    EXPECT_EQ(grid.Cell(pos.column, pos.row), "") << pos.column << "," << pos.row;
  }
}

TEST(MapGridTest, BuildingTheWholeAddressSpaceStoresNoRows) {
  const MapGrid grid = Built(0x00000000, 0xFFFFFFFF);
  EXPECT_LT(grid.MemoryBytes(), 64u * 1024u);
  EXPECT_EQ(grid.WrittenRowCount(), 0u);
}

struct CellCase {
  std::uint32_t lowest;
  std::uint32_t address;
  std::int32_t column;
  std::int32_t row;
};

class AddressToCellTest : public ::testing::TestWithParam<CellCase> {};

TEST_P(AddressToCellTest, CountsFromTheBaseAddressModulo4GiB) {
  const CellCase& c = GetParam();
  const CellPos pos = Built(c.lowest, c.lowest + 0x40).AddressToCell(c.address);
  EXPECT_EQ(pos.column, c.column);
  EXPECT_EQ(pos.row, c.row);
}

INSTANTIATE_TEST_SUITE_P(Addresses, AddressToCellTest,
                         ::testing::Values(CellCase{0x00001005, 0x00001005, 1, 1},
                                           CellCase{0x00001005, 0x00001024, 32, 1},
                                           CellCase{0x00001005, 0x00001025, 1, 2},
                                           CellCase{0x00001005, 0x00001044, 32, 2},
                                           CellCase{0x00001005, 0x00001004, 32, 0x08000000},
                                           CellCase{0xFFFFFFF0, 0x0000000F, 32, 1},
                                           CellCase{0xFFFFFFF0, 0x00000010, 1, 2}));

TEST(MapGridFillTest, BytesShowAsHexAndPrintableCharacters) {
  MapGrid grid = Built(0x00001005, 0x00001044);
  const std::uint8_t bytes[] = {0x41, 0x42, 0x20, 0x7F, 0x80};
  grid.FillBlock(0x00001005, 5, bytes);
  const std::vector<std::string> expected_cells = {".41", ".42", ".20", ".7F", ".80", "FF"};
  for (std::int32_t column = 1; column <= 6; ++column) {
    EXPECT_EQ(grid.Cell(column, 1), expected_cells[static_cast<std::size_t>(column - 1)]);
  }
  EXPECT_EQ(grid.Cell(33, 1), "AB " + std::string(29, '.'));
  ExpectRowUnused(grid, 2);
}

TEST(MapGridFillTest, LengthZeroOrNegativeWritesNothing) {
  MapGrid grid = Built(0x00001000, 0x0000103F);
  const std::uint8_t bytes[] = {0x11, 0x22};
  for (const std::int32_t length : {0, -1, -2147483647 - 1}) {
    grid.FillBlock(0x00001000, length, bytes);
  }
  ExpectRowUnused(grid, 1);
  EXPECT_EQ(grid.WrittenRowCount(), 0u);
}

TEST(MapGridFillTest, LaterWriteWinsInCellAndAscii) {
  MapGrid grid = Built(0x00001000, 0x0000101F);
  const std::uint8_t first[] = {0x41, 0x42, 0x43, 0x44};
  const std::uint8_t second[] = {0x01, 0x7A};
  grid.FillBlock(0x00001000, 4, first);
  grid.FillBlock(0x00001001, 2, second);
  const std::vector<std::string> texts = RowTexts(grid, 1);
  EXPECT_EQ(texts[1] + texts[2] + texts[3] + texts[4] + texts[5], ".41.01.7A.44FF");
  EXPECT_EQ(grid.Cell(33, 1).substr(0, 5), "A.zD.");
}

struct SpanningCase {
  const char* name;
  std::uint32_t lowest;
  std::uint32_t highest;
  std::uint32_t address;
  std::uint32_t length;
};

class SpanningFillTest : public ::testing::TestWithParam<SpanningCase> {};

// Every address of the block that has a cell reads back its byte, wherever rows, pages or 2^32 split it.
TEST_P(SpanningFillTest, EveryByteLandsInItsOwnCell) {
  const SpanningCase& c = GetParam();
  MapGrid grid = Built(c.lowest, c.highest);
  std::vector<std::uint8_t> bytes(c.length);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0x30 + i % 64);
  grid.FillBlock(c.address, static_cast<std::int32_t>(c.length), bytes.data());
  for (std::uint32_t i = 0; i < c.length; ++i) {
    const CellPos pos = grid.AddressToCell(c.address + i);
    ASSERT_GE(pos.row, 1);
    ASSERT_LT(pos.row, grid.RowCount());
    const std::string hex = grid.Cell(pos.column, pos.row);
    ASSERT_TRUE(grid.ByteAt(pos.column, pos.row).filled) << i;
    EXPECT_EQ(std::stoi(hex.substr(1), nullptr, 16), bytes[i]) << i;
    EXPECT_EQ(grid.Cell(33, pos.row)[static_cast<std::size_t>(pos.column - 1)], PrintableChar(bytes[i])) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Blocks, SpanningFillTest,
                         ::testing::Values(SpanningCase{"AcrossRows", 0x00001005, 0x00001100, 0x00001020, 40},
                                           SpanningCase{"AcrossPages", 0x00000000, 0x0000FFFF, 0x00000FF0, 0x30},
                                           SpanningCase{"ManyPages", 0x00000007, 0x0001FFFF, 0x00000100, 0x9000},
                                           SpanningCase{"Across4GiB", 0xFFFFFFF0, 0x0000003F, 0xFFFFFFFA, 0x20},
                                           SpanningCase{"LastByteOf4GiB", 0x00000000, 0xFFFFFFFF, 0xFFFFFFE0, 0x20}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Addresses without a cell are left alone; the parts of a block that do have cells are still written.
TEST(MapGridFillTest, AddressesWithoutACellChangeNothing) {
  MapGrid grid = Built(0x00001000, 0x0000101F);
  std::vector<std::uint8_t> bytes(0x1100, 0x41);
  grid.FillBlock(0x00001020, 0x10, bytes.data());
  grid.FillBlock(0x00000F00, 0x10, bytes.data());
  grid.MarkStartVector(0x00001020);
  grid.MarkStartVector(0x00000FFF);
  ExpectRowUnused(grid, 1);
  EXPECT_EQ(grid.WrittenRowCount(), 0u);
  EXPECT_EQ(grid.RowCount(), 2);

  grid.FillBlock(0x00000FF0, 0x18, bytes.data());
  EXPECT_EQ(grid.Cell(8, 1), ".41");
  EXPECT_EQ(grid.Cell(9, 1), "FF");

  // From 0xFFFFFFF0 the block wraps to 0 and reaches the map again at 0x1000 after 0x1010 bytes.
  MapGrid wrapped = Built(0x00001000, 0x0000101F);
  wrapped.FillBlock(0xFFFFFFF0, 0x1014, bytes.data());
  EXPECT_EQ(wrapped.Cell(4, 1), ".41");
  EXPECT_EQ(wrapped.Cell(5, 1), "FF");
}

TEST(MapGridMarkTest, MarkingTwiceKeepsTheHexDigitsAndLeavesTheAsciiText) {
  MapGrid grid = Built(0x00001005, 0x00001044);
  const std::uint8_t bytes[] = {0x41, 0x42, 0x20, 0x7F, 0x80};
  grid.FillBlock(0x00001005, 5, bytes);
  for (int time = 0; time < 2; ++time) {
    grid.MarkStartVector(0x00001006);
    grid.MarkStartVector(0x00001010);
  }
  EXPECT_EQ(grid.Cell(2, 1), "!42");
  EXPECT_EQ(grid.Cell(12, 1), "!FF");
  EXPECT_EQ(grid.Cell(33, 1), "AB " + std::string(29, '.'));
}

TEST(MapGridMarkTest, LaterFillReplacesTheMark) {
  MapGrid grid = Built(0x00001000, 0x0000101F);
  grid.MarkStartVector(0x00001003);
  grid.MarkStartVector(0x00001004);
  const std::uint8_t bytes[] = {0x61, 0x62};
  grid.FillBlock(0x00001003, 2, bytes);
  EXPECT_EQ(grid.Cell(4, 1), ".61");
  EXPECT_EQ(grid.Cell(5, 1), ".62");
  EXPECT_EQ(grid.Cell(33, 1).substr(0, 6), "...ab.");
}

TEST(PrintableCharTest, OnlyBlankToTildeShowThemselves) {
  const struct {
    std::uint8_t byte;
    char shown;
  } cases[] = {{0x00, '.'}, {0x1F, '.'}, {0x20, ' '}, {0x21, '!'}, {0x41, 'A'},
               {0x7E, '~'}, {0x7F, '.'}, {0x80, '.'}, {0xFF, '.'}};
  for (const auto& c : cases) EXPECT_EQ(PrintableChar(c.byte), c.shown) << int{c.byte};
}

struct CellAddressCase {
  std::uint32_t lowest;
  std::int32_t column;
  std::int32_t row;
  std::optional<std::uint32_t> address;
};

class CellAddressTest : public ::testing::TestWithParam<CellAddressCase> {};

TEST_P(CellAddressTest, ByteCellsOfDataRowsOnly) {
  const CellAddressCase& c = GetParam();
  EXPECT_EQ(Built(c.lowest, c.lowest + 0x3F).CellAddress(c.column, c.row), c.address);
}

INSTANTIATE_TEST_SUITE_P(Positions, CellAddressTest,
                         ::testing::Values(CellAddressCase{0x00001005, 3, 2, 0x00001027},
                                           CellAddressCase{0x00001005, 1, 1, 0x00001005},
                                           CellAddressCase{0x00001005, 32, 2, 0x00001044},
                                           CellAddressCase{0xFFFFFFF0, 32, 1, 0x0000000F},
                                           CellAddressCase{0x00001005, 0, 2, std::nullopt},
                                           CellAddressCase{0x00001005, 33, 2, std::nullopt},
                                           CellAddressCase{0x00001005, 3, 0, std::nullopt},
                                           CellAddressCase{0x00001005, -1, -1, std::nullopt},
                                           CellAddressCase{0x00001005, 3, 3, std::nullopt}));

// The one-pass walk that writes the map's text visits exactly the rows, masks and bytes that the row-by-row
// queries give, whatever the pages hold and wherever the marks fall.
TEST(WrittenRowWalkTest, AgreesWithRowByRowQueries) {
  std::uint8_t bytes[9000];
  for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  struct Shape {
    const char* name;
    std::uint32_t lowest, highest;
    std::function<void(MapGrid&)> write;
  };
  const Shape shapes[] = {
      {"across the whole address space", 0x00000000, 0xFFFFFFFF,
       [&](MapGrid& g) {
         g.FillBlock(0x00000000, 1, bytes);
         g.FillBlock(0x00000FFF, 2, bytes);
         g.FillBlock(0x12345678, 64, bytes);
         g.MarkStartVector(0x80000000);
         g.FillBlock(0xFFFFFFFF, 1, bytes);
       }},
      {"sparse runs across a page border, marks between", 0x00000000, 0x0000FFFF,
       [&](MapGrid& g) {
         g.FillBlock(0x00000FF0, 40, bytes);
         g.FillBlock(0x00003001, 3, bytes);
         g.MarkStartVector(0x00000040);
         g.MarkStartVector(0x00002000);
         g.MarkStartVector(0x00003002);
       }},
      {"dense pages, a mark before, inside and after them", 0x00000000, 0x000FFFFF,
       [&](MapGrid& g) {
         g.MarkStartVector(0x00000010);
         g.FillBlock(0x00010000, sizeof bytes, bytes);
         g.MarkStartVector(0x00010400);
         g.MarkStartVector(0x00011FFF);
         g.MarkStartVector(0x000FFFFF);
       }},
      {"unaligned base wrapping past 0xFFFFFFFF", 0xFFFFF005, 0x00001004,
       [&](MapGrid& g) {
         g.FillBlock(0xFFFFFFF0, 64, bytes);
         g.MarkStartVector(0x00001004);
         g.MarkStartVector(0xFFFFF006);
       }},
      {"marks only", 0x00000000, 0x00FFFFFF,
       [&](MapGrid& g) {
         g.MarkStartVector(0x00000000);
         g.MarkStartVector(0x00ABCDEF);
       }},
      {"a run across the edge of a stretch of text, marks on both sides", 0x00000000, 0x000FFFFF,
       [&](MapGrid& g) {
         g.FillBlock(0x0003FFF0, 40, bytes);
         g.MarkStartVector(0x0003FFE0);
         g.MarkStartVector(0x00040000);
         g.MarkStartVector(0x0007FFFF);
       }},
  };
  for (const Shape& shape : shapes) {
    MapGrid grid = Built(shape.lowest, shape.highest);
    shape.write(grid);
    std::vector<std::pair<std::uint32_t, RowCells>> expected;
    const auto expect_row = [&](std::int32_t row) {
      const RowCells cells = grid.Row(row);
      if (cells.filled != 0 || cells.start_vector != 0) expected.emplace_back(grid.RowAddress(row), cells);
    };
    if (grid.RowCount() == kLastRowOf4GiB + 1) {
      // Too many rows to read one by one: these are the ones the writes and the mark reach.
      for (const std::int32_t row : {1, 0x80, 0x81, 0x91A2B4, 0x91A2B5, 0x91A2B6, 0x4000001, kLastRowOf4GiB}) {
        expect_row(row);
      }
      ASSERT_EQ(expected.size(), 8u);
    } else {
      for (std::int32_t row = 1; row < grid.RowCount(); ++row) expect_row(row);
    }
    std::vector<std::pair<std::uint32_t, RowCells>> walked;
    grid.ForEachWrittenRow([&](std::uint32_t address, const RowCells& cells) {
      walked.emplace_back(address, cells);
      return true;
    });
    ASSERT_EQ(walked.size(), expected.size()) << shape.name;
    EXPECT_EQ(grid.WrittenRowCount(), expected.size()) << shape.name;
    // The text made on several threads is the text made on one; a refusal stops it.
    std::string one_thread;
    MapTextWriter::ForEachChunk(grid, [&](std::string_view text, std::uint64_t) {
      one_thread += text;
      return true;
    });
    for (const unsigned threads : {2u, 3u}) {
      std::string text;
      std::uint64_t rows = 0;
      EXPECT_TRUE(MapTextWriter::ForEachChunk(grid, [&](std::string_view piece, std::uint64_t n) {
        text += piece;
        rows += n;
        return true;
      }, threads));
      EXPECT_EQ(text, one_thread) << shape.name << ", " << threads << " threads";
      EXPECT_EQ(rows, expected.size()) << shape.name << ", " << threads << " threads";
      int calls = 0;
      const bool whole =
          MapTextWriter::ForEachChunk(grid, [&](std::string_view, std::uint64_t) { return ++calls < 2; }, threads);
      EXPECT_LE(calls, 2) << shape.name;
      EXPECT_EQ(whole, calls < 2) << shape.name;
    }
    for (std::size_t i = 0; i < walked.size(); ++i) {
      const auto& [address, cells] = walked[i];
      EXPECT_EQ(address, expected[i].first) << shape.name << " row " << i;
      EXPECT_EQ(cells.filled, expected[i].second.filled) << shape.name << " row " << i;
      EXPECT_EQ(cells.start_vector, expected[i].second.start_vector) << shape.name << " row " << i;
      for (std::uint32_t c = 0; c < 32; ++c) {
        if (cells.filled & (1u << c)) {
          EXPECT_EQ(cells.bytes[c], expected[i].second.bytes[c]) << shape.name;
        }
      }
    }
  }
}

// A row's printed text is its cell texts joined by blanks, whatever the row holds.
TEST(RowTextTest, JoinsTheCellTextsOfEveryKindOfRow) {
  MapGrid grid;
  grid.Build(0xFFFFFF00u, 0x00000100u);
  const std::uint8_t bytes[] = {0x41, 0x00, 0xFF, 0x20, 0x7E, 0x80, 0x5C};
  grid.FillBlock(0xFFFFFFFCu, sizeof bytes, bytes);
  grid.FillBlock(0x00000050u, 1, bytes);
  grid.MarkStartVector(0xFFFFFFFDu);
  grid.MarkStartVector(0x00000060u);
  // Whole rows, one of them with the start vector on a filled cell.
  std::uint8_t full[64];
  for (std::size_t i = 0; i < sizeof full; ++i) full[i] = static_cast<std::uint8_t>(i * 37 + 5);
  grid.FillBlock(0x00000080u, sizeof full, full);
  grid.MarkStartVector(0x000000BFu);
  for (std::int32_t row : {1, 8, 9, 11, 12, 13, 14, 15, grid.RowCount() - 1, grid.RowCount(), -1}) {
    std::string expected;
    if (row >= 0 && row < grid.RowCount()) {
      for (std::int32_t column = 0; column < MapGrid::kColumnCount; ++column) {
        if (column > 0) expected += ' ';
        expected += grid.Cell(column, row);
      }
    }
    std::string text = "keep:";
    grid.AppendRowText(row, text);
    EXPECT_EQ(text, "keep:" + expected) << "row " << row;
  }
  // The header's column numbers stand over the digits of a whole row's cells, its titles over the address and
  // the ASCII column.
  std::string header;
  std::string whole;
  grid.AppendRowText(0, header);
  grid.AppendRowText(14, whole);
  EXPECT_EQ(header.substr(0, 9), "Address  ");
  for (std::int32_t column = 1; column <= 32; ++column) {
    const std::size_t digits = 9 + 4 * static_cast<std::size_t>(column - 1) + 1;
    EXPECT_EQ(header.substr(digits - 2, 4), "  " + grid.Cell(column, 0)) << column;
    EXPECT_EQ(whole.substr(digits - 1, 3), grid.Cell(column, 14)) << column;
  }
  EXPECT_EQ(header.substr(whole.size() - 32), grid.Cell(MapGrid::AsciiColumn, 0));
}

// The typed answers behind the cell texts, and the texts: kind, filled flag, shown value and text of every kind of
// byte cell; a filled FF is told from an unused cell only by its marker.
TEST(TypedCellTest, ByteCellsAndRowMasks) {
  MapGrid grid = Built(0x00001000, 0x0000103F);
  const std::uint8_t bytes[] = {0x3A, 0xFF};
  grid.FillBlock(0x00001001, 2, bytes);
  grid.MarkStartVector(0x00001001);
  grid.MarkStartVector(0x00001004);
  const struct {
    std::int32_t column;
    CellKind kind;
    bool filled;
    std::uint8_t value;
    const char* text;
  } cases[] = {
      {1, CellKind::UnusedByte, false, 0xFF, "FF"},      {2, CellKind::StartVectorByte, true, 0x3A, "!3A"},
      {3, CellKind::FilledByte, true, 0xFF, ".FF"},      {5, CellKind::StartVectorByte, false, 0xFF, "!FF"},
  };
  for (const auto& c : cases) {
    const ByteCell cell = grid.ByteAt(c.column, 1);
    EXPECT_EQ(cell.kind, c.kind) << c.column;
    EXPECT_EQ(cell.filled, c.filled) << c.column;
    EXPECT_EQ(cell.value, c.value) << c.column;
    EXPECT_EQ(grid.Cell(c.column, 1), c.text) << c.column;
  }
  const RowCells row = grid.Row(1);
  EXPECT_EQ(row.filled, 0b110u);
  EXPECT_EQ(row.start_vector, 0b10010u);
  EXPECT_EQ(grid.Row(2).filled | grid.Row(2).start_vector, 0u);
  EXPECT_EQ(grid.Row(3).filled, 0u);  // outside the table
}

}  // namespace
}  // namespace varnok
