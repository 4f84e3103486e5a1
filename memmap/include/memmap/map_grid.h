#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/data_blocks.h"

namespace varnok {

// The class of a byte cell, told by the first character of its text.
enum class CellKind { UnusedByte, FilledByte, StartVectorByte };

struct CellPos {
  std::int32_t column = 0;
  std::int32_t row = 0;
};

// What a byte cell of a data row holds. Its display text is `value` as two hex digits: the byte when the cell was
// filled, 0xFF ("FF") when it is unused.
struct ByteCell {
  CellKind kind = CellKind::UnusedByte;
  bool filled = false;
  std::uint8_t value = 0xFF;
};

// One data row: bit c - 1 of a mask stands for byte column c; bytes[c - 1] is valid where the filled bit is set.
struct RowCells {
  std::uint32_t filled = 0;
  std::uint32_t start_vector = 0;
  std::array<std::uint8_t, 32> bytes{};
};

struct DecodedCell {
  CellKind kind = CellKind::UnusedByte;
  std::string text;  // the display text
};

// One character of the ASCII column: the byte itself from 0x20 to 0x7E, "." for every other byte.
char PrintableChar(std::uint8_t byte);

// Colour class and display text of a cell's text; the ASCII column is never taken as marked.
DecodedCell DecodeCell(std::int32_t column, std::string_view text);

// The memory map as a table of 34 columns (address, 32 bytes, ASCII) and N + 1 rows (header, data).
// Only rows that were written are stored; every other row reads as unused. Before Build only the header row exists.
class MapGrid {
 public:
  static constexpr std::int32_t kColumnCount = 34;
  static constexpr std::int32_t AsciiColumn = 33;
  static constexpr std::uint32_t kBytesPerRow = 32;

  // Lays out the range lowest..highest (modulo 2^32) in rows of 32 bytes from lowest on.
  void Build(std::uint32_t lowest, std::uint32_t highest);

  std::uint32_t BaseAddress() const;
  std::int32_t RowCount() const;  // N + 1, header row included
  std::int32_t ColumnCount() const { return kColumnCount; }

  // The filled and start-vector columns of a data row and its bytes; all clear for rows outside the table.
  RowCells Row(std::int32_t row) const;
  // A byte cell (columns 1 to 32) of a data row; unused outside the table.
  ByteCell ByteAt(std::int32_t column, std::int32_t row) const;
  // The first address of a data row.
  std::uint32_t RowAddress(std::int32_t row) const;
  // The address of a byte cell of a data row; nothing for any other position.
  std::optional<std::uint32_t> CellAddress(std::int32_t column, std::int32_t row) const;

  // The text of a cell; empty for a position outside the table.
  std::string Cell(std::int32_t column, std::int32_t row) const;

  CellPos AddressToCell(std::uint32_t address) const;
  // Writes the bytes from address on; a length of 0 or less, and addresses without a cell, change nothing.
  void FillBlock(std::uint32_t address, std::int32_t length, const std::uint8_t* data);
  // Marks the start vector; an address without a cell changes nothing.
  void MarkStartVector(std::uint32_t address);
  // CellAddress as text: "0x" and 8 hex digits.
  std::optional<std::string> AddressReadout(std::int32_t column, std::int32_t row) const;
  // The first data row after `row` that holds a filled or start-vector cell, or -1 when there is none.
  std::int32_t NextWrittenRow(std::int32_t row) const;

  // Appends the row's 34 cell texts joined by one blank (the form in which varnok-scan prints a row);
  // nothing for a row outside the table.
  void AppendRowText(std::int32_t row, std::string& out) const;

  // Bytes held by the store of written rows and its index.
  std::size_t MemoryBytes() const;

 private:
  // A page holds kPageBytes consecutive addresses counted from BaseAddress: whole rows only.
  static constexpr std::uint32_t kPageShift = 12;
  static constexpr std::uint32_t kPageBytes = 1u << kPageShift;
  static constexpr std::uint32_t kRowsPerPage = kPageBytes / kBytesPerRow;
  static constexpr std::uint32_t kLeafShift = 10;
  static constexpr std::uint32_t kPagesPerLeaf = 1u << kLeafShift;

  struct Page {
    std::array<std::uint8_t, kPageBytes> bytes;        // valid where the filled bit is set
    std::array<std::uint32_t, kRowsPerPage> filled{};  // bit c - 1 of a row: column c was filled
    std::unique_ptr<std::array<std::uint32_t, kRowsPerPage>> marked;  // start vector bits, made on demand
  };
  struct Leaf {
    std::array<std::unique_ptr<Page>, kPagesPerLeaf> pages;
  };

  const Page* FindPage(std::uint32_t offset) const;
  Page& PageAt(std::uint32_t offset);
  // True when the offset from BaseAddress lies in a data row.
  bool HasCell(std::uint32_t offset) const { return (offset >> 5) < data_rows_; }

  std::uint32_t base_ = 0;
  std::uint32_t data_rows_ = 0;
  std::vector<std::unique_ptr<Leaf>> leaves_;
  std::size_t page_count_ = 0;
  std::size_t mark_tables_ = 0;
};

// Writes the kept blocks into a built grid in their order, then marks the start vector: the map of one analysis run.
void FillFromBlocks(MapGrid& grid, const DataBlockStore& blocks, std::optional<std::uint32_t> start_vector);

}  // namespace varnok
