#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
// Only rows that were written are stored; every other row reads as unused.
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

 private:
  // Implementation detail owned by the memmap model.
};

}  // namespace varnok
