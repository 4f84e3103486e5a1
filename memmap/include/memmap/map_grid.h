#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/address_range.h"

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

// A run of filled map offsets within one page of the grid's store; its bytes stay valid until the next FillBlock.
struct FilledSpan {
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  const std::uint8_t* data = nullptr;
};

// Where a walk over a map's pages stands, so that its next search starts there instead of at a leaf's first page.
// Each walk owns its own, so that walks may run on several threads at once; a cursor serves until the next write.
struct PageCursor {
  const std::uint8_t* leaf = nullptr;
  std::size_t position = 0;
};

// One character of the ASCII column: the byte itself from 0x20 to 0x7E, "." for every other byte.
constexpr char PrintableChar(std::uint8_t byte) {
  return (byte >= 0x20 && byte <= 0x7E) ? static_cast<char>(byte) : '.';
}

// Appends the ASCII column's text of a row: 32 characters, PrintableChar of each filled byte, "." elsewhere.
void AppendAscii(std::string& out, const RowCells& cells);

class MapStore;

// The memory map as a table of 34 columns (address, 32 bytes, ASCII) and N + 1 rows (header, data).
// Only the written bytes are stored; every other cell reads as unused. Before Build only the header row exists.
// The const members change nothing, so that any number of threads may read a grid that nobody writes.
class MapGrid {
 public:
  static constexpr std::int32_t kColumnCount = 34;
  static constexpr std::int32_t AsciiColumn = 33;
  static constexpr std::uint32_t kBytesPerRow = 32;

  MapGrid();
  ~MapGrid();
  MapGrid(MapGrid&&) noexcept;
  MapGrid& operator=(MapGrid&&) noexcept;

  // Lays out the range lowest..highest (modulo 2^32) in rows of 32 bytes from lowest on, with nothing written.
  void Build(std::uint32_t lowest, std::uint32_t highest);

  std::uint32_t BaseAddress() const;
  std::int32_t RowCount() const;  // N + 1, header row included

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
  // The regions are gone until the next FindRegions. On std::bad_alloc the grid holds a consistent part of the block.
  void FillBlock(std::uint32_t address, std::int32_t length, const std::uint8_t* data);
  // Marks the start vector; an address without a cell changes nothing.
  void MarkStartVector(std::uint32_t address);
  // Lays the grid out anew over lowest..highest, which holds every row it has, keeping its bytes, marks and regions.
  // Where lowest is the base address the rows are only added; otherwise the bytes move a leaf at a time, so that
  // they are held twice for one leaf only.
  void Widen(std::uint32_t lowest, std::uint32_t highest);

  // Appends the row's text as the map's text gives it (map_text.h); nothing for a row outside the table.
  void AppendRowText(std::int32_t row, std::string& out) const;

  // Calls visit(address, cells) for every data row that holds a filled or start-vector cell, in row order, until
  // it returns false.
  void ForEachWrittenRow(const std::function<bool(std::uint32_t address, const RowCells& cells)>& visit) const;
  // The same for the rows whose map offsets lie from `from` up to `to`, exclusive (both multiples of 32).
  void ForEachWrittenRowBetween(std::uint64_t from, std::uint64_t to,
                                const std::function<bool(std::uint32_t address, const RowCells& cells)>& visit) const;
  // The map offsets past the last data row: every row's offset lies below it.
  std::uint64_t Span() const { return std::uint64_t{data_rows_} * kBytesPerRow; }
  // The number of rows that ForEachWrittenRow visits.
  std::uint64_t WrittenRowCount() const;

  // The filled span that holds map offset `from` or the first one after it, cut to begin at `from`; nothing after
  // the last. Spans that touch across a page border come one after the other. The search starts where the cursor
  // stands, so that asking span after span costs no search from a leaf's start.
  std::optional<FilledSpan> SpanFrom(std::uint64_t from, PageCursor& cursor) const;

  // Works out the regions: the maximal runs of filled addresses, blocks that touch or overlap merged into one. Who
  // shows or digests a filled map calls it once the fill has ended.
  void FindRegions();
  // Every region in map order (from BaseAddress on), so that one that runs past 0xFFFFFFFF has last < first; as
  // FindRegions found them, none after a later FillBlock or Build.
  const std::vector<AddressRange>& Regions() const { return regions_; }
  // The first data row of the nearest region that starts in a row after `row`, or before `row`; nothing when no
  // region does.
  std::optional<std::int32_t> NextRegionRow(std::int32_t row) const;
  std::optional<std::int32_t> PreviousRegionRow(std::int32_t row) const;

  // Bits of a ScrollMarks entry.
  static constexpr std::uint8_t kFilledMark = 1;
  static constexpr std::uint8_t kStartVectorMark = 2;
  // One entry per pixel row of a scroll bar's groove, `pixels` in all (none for pixels <= 0): entry i stands for the
  // data rows from 1 + i * N / pixels up to 1 + (i + 1) * N / pixels, exclusive, and for at least that first row
  // (N data rows, integer division); kFilledMark when one of them holds a filled cell, kStartVectorMark when one
  // holds the start vector.
  std::vector<std::uint8_t> ScrollMarks(int pixels) const;

  // Find works on map offsets (address - BaseAddress). A match is pattern.size() consecutive filled addresses
  // within the map whose bytes equal the pattern, wherever rows and pages split them; a match never runs from the
  // map's last address on to its first.
  // The first match that starts at from_offset or after it, else the first one before it (the search wraps once);
  // nothing for an empty pattern or when there is no match. A new search from a selected row r starts at
  // (r - 1) * 32 + 1, after the row's first cell; "find next" starts at the current match's offset + 1.
  std::optional<std::uint32_t> FindForward(std::span<const std::uint8_t> pattern, std::uint32_t from_offset) const;
  // The last match that starts before before_offset, else the last one at or after it (the search wraps once);
  // "find previous" passes the current match's offset.
  std::optional<std::uint32_t> FindBackward(std::span<const std::uint8_t> pattern, std::uint32_t before_offset) const;

  // Every byte that the grid's store of written data holds, the allocator's share included: bytes, runs, page
  // records, the leaf index, start vector marks and the regions. At most 1.25 bytes per filled address plus
  // 80 bytes per FillBlock plus 1 MB, whatever the blocks' shape.
  std::size_t MemoryBytes() const;

 private:
  friend class MapFiller;

  // True when the offset from BaseAddress lies in a data row.
  bool HasCell(std::uint32_t offset) const { return (offset >> 5) < data_rows_; }
  // The first and the last match that starts at an offset from lo up to hi, exclusive.
  std::optional<std::uint64_t> FirstMatch(std::span<const std::uint8_t> pattern, std::uint64_t lo,
                                          std::uint64_t hi) const;
  std::optional<std::uint64_t> LastMatch(std::span<const std::uint8_t> pattern, std::uint64_t lo,
                                         std::uint64_t hi) const;

  std::uint32_t base_ = 0;
  std::uint32_t data_rows_ = 0;
  std::unique_ptr<MapStore> store_;  // the written bytes by map offset
  std::vector<std::uint32_t> marks_;  // map offsets of start vector marks, ascending
  std::vector<AddressRange> regions_;
};

// The range that rows laid out from rows->first on (a grid's data rows, their addresses up to 0xFFFFFFFF) cover once
// they also hold lowest..highest: its first address lies a whole number of rows below rows->first where that stays
// at or above 0, and nothing wraps past 0xFFFFFFFF. Without rows, lowest..highest itself.
AddressRange CoveringRange(const std::optional<AddressRange>& rows, std::uint32_t lowest, std::uint32_t highest);
// The addresses of a grid's data rows, up to 0xFFFFFFFF; nothing for a grid without data.
std::optional<AddressRange> RowsRange(const MapGrid& grid);

// Told how far a fill has got and how far it goes; returning false cancels the fill.
using FillProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

}  // namespace varnok
