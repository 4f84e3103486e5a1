#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "memmap/map_grid.h"

namespace varnok {

// The map as text, as varnok-scan --map prints it, "Save map as text..." writes it and Copy copies a row of it:
// the header row, then every data row that holds a filled or start-vector cell, in row order. A data row is the
// address in 8 hex digits, the 32 byte cells and the ASCII column, joined by one blank; a byte cell is two hex
// digits, led by "." when filled and by "!" at the start vector. The header row pads "Address" to the address
// column and each column number to the 3 characters of a filled cell, so that its numbers stand over the digits.

// The longest row's text, without its line end.
inline constexpr std::size_t kMapTextRowMax = 8 + MapGrid::kBytesPerRow * 4 + 1 + MapGrid::kBytesPerRow;

// Writes the text of a data row with these cells at out (room for kMapTextRowMax bytes) and returns its end.
char* FormatMapRow(std::uint32_t address, const RowCells& cells, char* out);

// The header row's text.
std::string_view MapTextHeader();

// Fills a buffer with map rows, each ended by "\n", and hands over whole rows at a time: the header first, then the
// written rows. The text of a whole map is far larger than the memory it takes, so it is made a buffer at a time.
class MapTextWriter {
 public:
  // The size of the text handed over at a time, apart from the last.
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

  // Calls take(std::string_view text, std::uint64_t rows) with successive pieces of the text and the data rows in
  // them (the header row is not counted); each piece ends at a line end. Stops when take returns false, and then
  // returns false.
  template <typename Take>
  static bool ForEachChunk(const MapGrid& grid, Take&& take);

  // The same text made by up to `threads` threads, a stretch of the map each at a time, so that it comes as fast as
  // the cores make it; take is called on any of them, one call at a time, in the order of the text, with the pieces
  // of one stretch at a time (of any size). On one thread, or where no other can be started, ForEachChunk above.
  using TakeText = std::function<bool(std::string_view text, std::uint64_t rows)>;
  static bool ForEachChunk(const MapGrid& grid, const TakeText& take, unsigned threads);

  // Calls take(std::string_view row) with each row's text, without its line end, until take returns false.
  template <typename Take>
  static void ForEachRow(const MapGrid& grid, Take&& take);
};

template <typename Take>
bool MapTextWriter::ForEachChunk(const MapGrid& grid, Take&& take) {
  // The chunk's tail keeps room for one more row and its line end.
  auto buffer = std::make_unique_for_overwrite<char[]>(kChunkBytes + kMapTextRowMax + 1);
  char* const begin = buffer.get();
  char* const limit = begin + kChunkBytes;
  const std::string_view header = MapTextHeader();
  char* out = std::copy(header.begin(), header.end(), begin);
  *out++ = '\n';
  std::uint64_t rows = 0;
  bool go_on = true;
  grid.ForEachWrittenRow([&](std::uint32_t address, const RowCells& cells) {
    out = FormatMapRow(address, cells, out);
    *out++ = '\n';
    ++rows;
    if (out < limit) return true;
    go_on = take(std::string_view(begin, static_cast<std::size_t>(out - begin)), rows);
    out = begin;
    rows = 0;
    return go_on;
  });
  if (!go_on) return false;
  return out == begin || take(std::string_view(begin, static_cast<std::size_t>(out - begin)), rows);
}

template <typename Take>
void MapTextWriter::ForEachRow(const MapGrid& grid, Take&& take) {
  if (!take(MapTextHeader())) return;
  char row[kMapTextRowMax];
  grid.ForEachWrittenRow([&](std::uint32_t address, const RowCells& cells) {
    return take(std::string_view(row, static_cast<std::size_t>(FormatMapRow(address, cells, row) - row)));
  });
}

}  // namespace varnok
