#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// The class of a byte cell, told by the first character of its text.
enum class CellKind { UnusedByte, FilledByte, StartVectorByte };

struct CellPos {
  std::int32_t column = 0;
  std::int32_t row = 0;
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

  // The text of a cell; empty for a position outside the table.
  std::string Cell(std::int32_t column, std::int32_t row) const;

  CellPos AddressToCell(std::uint32_t address) const;
  // Writes the bytes from address on; a length of 0 or less, and addresses without a cell, change nothing.
  void FillBlock(std::uint32_t address, std::int32_t length, const std::uint8_t* data);
  // Marks the start vector; an address without a cell changes nothing.
  void MarkStartVector(std::uint32_t address);
  // "0x" and the address of a byte cell of a data row; nothing for any other position.
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

}  // namespace varnok
