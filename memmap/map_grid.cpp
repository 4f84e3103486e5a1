#include "memmap/map_grid.h"

#include <algorithm>
#include <cstring>

#include "analysis/hex_text.h"

namespace varnok {

namespace {

// Bits first..first + count - 1 of a row word; count is 1 to 32.
std::uint32_t ColumnMask(std::uint32_t first, std::uint32_t count) {
  const std::uint32_t ones = count >= 32 ? 0xFFFFFFFFu : ((1u << count) - 1u);
  return ones << first;
}

}  // namespace

char PrintableChar(std::uint8_t byte) {
  return (byte >= 0x20 && byte <= 0x7E) ? static_cast<char>(byte) : '.';
}

DecodedCell DecodeCell(std::int32_t column, std::string_view text) {
  DecodedCell result;
  std::string_view rest = text;
  // The ASCII text may begin with "." or "!" as data, so only byte cells carry a marker.
  if (column != MapGrid::AsciiColumn && !text.empty()) {
    if (text.front() == '.') {
      result.kind = CellKind::FilledByte;
      rest.remove_prefix(1);
    } else if (text.front() == '!') {
      result.kind = CellKind::StartVectorByte;
      rest.remove_prefix(1);
    }
  }
  const auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && is_blank(rest.back())) rest.remove_suffix(1);
  result.text.assign(rest);
  return result;
}

void MapGrid::Build(std::uint32_t lowest, std::uint32_t highest) {
  base_ = lowest;
  // The difference wraps, so a range that crosses 0xFFFFFFFF is laid out like any other.
  data_rows_ = ((highest - lowest) >> 5) + 1;
  const std::uint64_t span = std::uint64_t{data_rows_} * kBytesPerRow;
  const std::uint64_t leaf_span = std::uint64_t{kPageBytes} * kPagesPerLeaf;
  leaves_.clear();
  leaves_.resize(static_cast<std::size_t>((span + leaf_span - 1) / leaf_span));
  leaves_.shrink_to_fit();
  page_count_ = 0;
  mark_tables_ = 0;
  regions_.reset();
}

std::uint32_t MapGrid::BaseAddress() const { return base_; }

std::int32_t MapGrid::RowCount() const { return static_cast<std::int32_t>(data_rows_) + 1; }

const MapGrid::Page* MapGrid::FindPage(std::uint32_t offset) const {
  const std::uint32_t page = offset >> kPageShift;
  const Leaf* leaf = leaves_[page >> kLeafShift].get();
  return leaf == nullptr ? nullptr : leaf->pages[page & (kPagesPerLeaf - 1)].get();
}

MapGrid::Page& MapGrid::PageAt(std::uint32_t offset) {
  const std::uint32_t page = offset >> kPageShift;
  auto& leaf = leaves_[page >> kLeafShift];
  if (!leaf) leaf = std::make_unique<Leaf>();
  auto& slot = leaf->pages[page & (kPagesPerLeaf - 1)];
  if (!slot) {
    // The bytes stay uninitialised (the filled bits start cleared): only bytes under a filled bit are read.
    slot = std::make_unique_for_overwrite<Page>();
    ++page_count_;
  }
  return *slot;
}

RowCells MapGrid::Row(std::int32_t row) const {
  RowCells cells;
  if (row < 1 || row >= RowCount()) return cells;
  const std::uint32_t row_offset = static_cast<std::uint32_t>(row - 1) * kBytesPerRow;
  const Page* page = FindPage(row_offset);
  if (page == nullptr) return cells;
  const std::uint32_t in_page = row_offset & (kPageBytes - 1);
  const std::uint32_t row_in_page = in_page / kBytesPerRow;
  cells.filled = page->filled[row_in_page];
  cells.start_vector = page->marked ? (*page->marked)[row_in_page] : 0;
  if (cells.filled != 0) std::memcpy(cells.bytes.data(), page->bytes.data() + in_page, kBytesPerRow);
  return cells;
}

namespace {

ByteCell ByteOf(const RowCells& cells, std::uint32_t index) {
  const std::uint32_t bit = 1u << index;
  ByteCell cell;
  cell.filled = (cells.filled & bit) != 0;
  if (cell.filled) {
    cell.value = cells.bytes[index];
    cell.kind = CellKind::FilledByte;
  }
  // The mark keeps the two digits the cell showed before it.
  if (cells.start_vector & bit) cell.kind = CellKind::StartVectorByte;
  return cell;
}

// A byte cell's text: the marker ("." filled, "!" start vector, none unused) and two hex digits.
void AppendByteCell(std::string& out, const ByteCell& cell) {
  if (cell.kind == CellKind::FilledByte) out.push_back('.');
  if (cell.kind == CellKind::StartVectorByte) out.push_back('!');
  AppendHex(out, cell.value, 2);
}

void AppendAscii(std::string& out, const RowCells& cells) {
  for (std::uint32_t c = 0; c < MapGrid::kBytesPerRow; ++c) {
    out.push_back((cells.filled & (1u << c)) ? PrintableChar(cells.bytes[c]) : '.');
  }
}

}  // namespace

ByteCell MapGrid::ByteAt(std::int32_t column, std::int32_t row) const {
  if (column < 1 || column > 32) return {};
  return ByteOf(Row(row), static_cast<std::uint32_t>(column - 1));
}

std::uint32_t MapGrid::RowAddress(std::int32_t row) const {
  return base_ + static_cast<std::uint32_t>(row - 1) * kBytesPerRow;
}

std::optional<std::uint32_t> MapGrid::CellAddress(std::int32_t column, std::int32_t row) const {
  if (row <= 0 || row >= RowCount() || column <= 0 || column > 32) return std::nullopt;
  return RowAddress(row) + static_cast<std::uint32_t>(column - 1);
}

std::string MapGrid::Cell(std::int32_t column, std::int32_t row) const {
  if (column < 0 || column >= kColumnCount || row < 0 || row >= RowCount()) return {};
  std::string text;
  if (row == 0) {
    if (column == 0) return "Address";
    if (column == AsciiColumn) return "~~~~~~~ ASCII ~~~~~~~";
    AppendHex(text, static_cast<std::uint32_t>(column - 1), 2);
  } else if (column == 0) {
    AppendHex(text, RowAddress(row), 8);
  } else if (column == AsciiColumn) {
    AppendAscii(text, Row(row));
  } else {
    AppendByteCell(text, ByteAt(column, row));
  }
  return text;
}

void MapGrid::AppendRowText(std::int32_t row, std::string& out) const {
  if (row < 0 || row >= RowCount()) return;
  if (row == 0) {
    for (std::int32_t column = 0; column < kColumnCount; ++column) {
      if (column > 0) out.push_back(' ');
      out += Cell(column, 0);
    }
    return;
  }
  AppendHex(out, RowAddress(row), 8);
  const RowCells cells = Row(row);
  for (std::uint32_t c = 0; c < kBytesPerRow; ++c) {
    out.push_back(' ');
    AppendByteCell(out, ByteOf(cells, c));
  }
  out.push_back(' ');
  AppendAscii(out, cells);
}

CellPos MapGrid::AddressToCell(std::uint32_t address) const {
  const std::uint32_t offset = address - base_;
  // offset >> 5 is at most 0x07FFFFFF, so the row always fits a signed 32-bit integer.
  return CellPos{static_cast<std::int32_t>(offset & 0x1F) + 1, static_cast<std::int32_t>(offset >> 5) + 1};
}

void MapGrid::FillBlock(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  if (length <= 0 || data == nullptr) return;
  regions_.reset();
  const std::uint64_t span = std::uint64_t{data_rows_} * kBytesPerRow;
  std::uint64_t done = 0;
  const auto total = static_cast<std::uint64_t>(length);
  while (done < total) {
    const std::uint32_t offset = address - base_ + static_cast<std::uint32_t>(done);
    if (offset >= span) {
      // Addresses without a cell are passed over until the offset wraps back to BaseAddress.
      done += (std::uint64_t{1} << 32) - offset;
      continue;
    }
    const std::uint32_t in_page = offset & (kPageBytes - 1);
    const std::uint64_t chunk =
        std::min({total - done, span - offset, std::uint64_t{kPageBytes - in_page}});
    Page& page = PageAt(offset);
    std::memcpy(page.bytes.data() + in_page, data + done, static_cast<std::size_t>(chunk));

    std::uint32_t position = in_page;
    const std::uint32_t end = in_page + static_cast<std::uint32_t>(chunk);
    while (position < end) {
      const std::uint32_t column = position & (kBytesPerRow - 1);
      const std::uint32_t count = std::min(kBytesPerRow - column, end - position);
      const std::uint32_t mask = ColumnMask(column, count);
      const std::uint32_t row = position / kBytesPerRow;
      page.filled[row] |= mask;
      // A later write replaces the start vector mark, as it replaces the cell text.
      if (page.marked) (*page.marked)[row] &= ~mask;
      position += count;
    }
    done += chunk;
  }
}

void MapGrid::MarkStartVector(std::uint32_t address) {
  const std::uint32_t offset = address - base_;
  if (!HasCell(offset)) return;
  Page& page = PageAt(offset);
  if (!page.marked) {
    page.marked = std::make_unique<std::array<std::uint32_t, kRowsPerPage>>();
    ++mark_tables_;
  }
  const std::uint32_t in_page = offset & (kPageBytes - 1);
  (*page.marked)[in_page / kBytesPerRow] |= 1u << (in_page & (kBytesPerRow - 1));
}

std::optional<std::string> MapGrid::AddressReadout(std::int32_t column, std::int32_t row) const {
  const std::optional<std::uint32_t> address = CellAddress(column, row);
  if (!address) return std::nullopt;
  return AddressText(*address);
}

std::int32_t MapGrid::NextWrittenRow(std::int32_t row) const {
  // Data row r has the zero-based index r - 1, so the first candidate's index is row itself.
  std::uint32_t index = row < 0 ? 0u : static_cast<std::uint32_t>(row);
  while (index < data_rows_) {
    const std::uint32_t offset = index * kBytesPerRow;
    const std::uint32_t page_number = offset >> kPageShift;
    const Leaf* leaf = leaves_[page_number >> kLeafShift].get();
    if (leaf == nullptr) {
      index = ((page_number >> kLeafShift) + 1) * kPagesPerLeaf * kRowsPerPage;
      continue;
    }
    const Page* page = leaf->pages[page_number & (kPagesPerLeaf - 1)].get();
    if (page != nullptr) {
      for (std::uint32_t r = index % kRowsPerPage; r < kRowsPerPage; ++r) {
        const std::uint32_t marks = page->marked ? (*page->marked)[r] : 0;
        if ((page->filled[r] | marks) != 0) {
          const std::uint32_t found = (page_number * kRowsPerPage) + r;
          return found < data_rows_ ? static_cast<std::int32_t>(found) + 1 : -1;
        }
      }
    }
    index = (page_number + 1) * kRowsPerPage;
  }
  return -1;
}

std::size_t MapGrid::MemoryBytes() const {
  std::size_t bytes = leaves_.capacity() * sizeof(std::unique_ptr<Leaf>);
  for (const auto& leaf : leaves_) {
    if (leaf) bytes += sizeof(Leaf);
  }
  bytes += page_count_ * sizeof(Page);
  bytes += mark_tables_ * sizeof(std::array<std::uint32_t, kRowsPerPage>);
  if (regions_) bytes += regions_->capacity() * sizeof(MapRegion);
  return bytes;
}

bool FillFromBlocks(MapGrid& grid, DataBlockStore& blocks, std::optional<std::uint32_t> start_vector,
                    const FillProgress& progress) {
  const std::uint64_t total = blocks.DataBytes();
  std::uint64_t done = 0;
  std::uint64_t next_report = kFillProgressStep;
  bool cancelled = false;
  blocks.Consume([&](const DataBlock& block) {
    grid.FillBlock(block.Address, block.Length, block.Data);
    if (block.Length > 0) done += static_cast<std::uint64_t>(block.Length);
    if (progress && done >= next_report) {
      next_report = done + kFillProgressStep;
      cancelled = !progress(done, total);
    }
    return !cancelled;
  });
  if (cancelled) return false;
  if (start_vector) grid.MarkStartVector(*start_vector);
  return true;
}

}  // namespace varnok
