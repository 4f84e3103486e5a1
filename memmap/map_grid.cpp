#include "memmap/map_grid.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "text/line_text.h"
#include "map_store.h"
#include "memmap/map_text.h"

namespace varnok {

MapGrid::MapGrid() : store_(std::make_unique<MapStore>(0)) {}
MapGrid::~MapGrid() = default;
MapGrid::MapGrid(MapGrid&&) noexcept = default;
MapGrid& MapGrid::operator=(MapGrid&&) noexcept = default;

void MapGrid::Build(std::uint32_t lowest, std::uint32_t highest) {
  // The difference wraps, so a range that crosses 0xFFFFFFFF is laid out like any other.
  const std::uint32_t rows = ((highest - lowest) >> 5) + 1;
  store_ = std::make_unique<MapStore>(std::uint64_t{rows} * kBytesPerRow);
  base_ = lowest;
  data_rows_ = rows;
  marks_.clear();
  marks_.shrink_to_fit();
  regions_ = {};
}

std::uint32_t MapGrid::BaseAddress() const { return base_; }

std::int32_t MapGrid::RowCount() const { return static_cast<std::int32_t>(data_rows_) + 1; }

RowCells MapGrid::Row(std::int32_t row) const {
  RowCells cells;
  if (row < 1 || row >= RowCount()) return cells;
  const std::uint32_t row_offset = static_cast<std::uint32_t>(row - 1) * kBytesPerRow;
  PageCursor cursor;
  cells.filled = store_->ReadRow(cursor, row_offset, cells.bytes.data());
  for (auto mark = std::lower_bound(marks_.begin(), marks_.end(), row_offset);
       mark != marks_.end() && *mark - row_offset < kBytesPerRow; ++mark) {
    cells.start_vector |= 1u << (*mark - row_offset);
  }
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

}  // namespace

void AppendAscii(std::string& out, const RowCells& cells) {
  for (std::uint32_t c = 0; c < MapGrid::kBytesPerRow; ++c) {
    out.push_back((cells.filled & (1u << c)) ? PrintableChar(cells.bytes[c]) : '.');
  }
}

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
    out += MapTextHeader();
    return;
  }
  char text[kMapTextRowMax];
  out.append(text, FormatMapRow(RowAddress(row), Row(row), text));
}

CellPos MapGrid::AddressToCell(std::uint32_t address) const {
  const std::uint32_t offset = address - base_;
  // offset >> 5 is at most 0x07FFFFFF, so the row always fits a signed 32-bit integer.
  return CellPos{static_cast<std::int32_t>(offset & 0x1F) + 1, static_cast<std::int32_t>(offset >> 5) + 1};
}

void MapGrid::FillBlock(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  if (length <= 0 || data == nullptr) return;
  if (!regions_.empty()) regions_ = {};
  const std::uint64_t span = Span();
  std::uint64_t done = 0;
  const auto total = static_cast<std::uint64_t>(length);
  while (done < total) {
    const std::uint32_t offset = address - base_ + static_cast<std::uint32_t>(done);
    if (offset >= span) {
      // Addresses without a cell are passed over until the offset wraps back to BaseAddress.
      done += (std::uint64_t{1} << 32) - offset;
      continue;
    }
    const auto chunk = static_cast<std::uint32_t>(std::min(total - done, span - offset));
    // A later write replaces the start vector mark, as it replaces the cell text.
    const auto first = std::lower_bound(marks_.begin(), marks_.end(), offset);
    marks_.erase(first, std::lower_bound(first, marks_.end(), std::uint64_t{offset} + chunk,
                                         [](std::uint32_t mark, std::uint64_t end) { return mark < end; }));
    store_->Write(offset, chunk, data + done);
    done += chunk;
  }
}

void MapGrid::MarkStartVector(std::uint32_t address) {
  const std::uint32_t offset = address - base_;
  if (!HasCell(offset)) return;
  const auto at = std::lower_bound(marks_.begin(), marks_.end(), offset);
  if (at == marks_.end() || *at != offset) marks_.insert(at, offset);
}

void MapGrid::Widen(std::uint32_t lowest, std::uint32_t highest) {
  const std::uint32_t rows = ((highest - lowest) >> 5) + 1;
  if (lowest == base_) {
    store_->Grow(std::uint64_t{rows} * kBytesPerRow);
    data_rows_ = std::max(data_rows_, rows);
    return;
  }
  MapGrid wider;
  wider.Build(lowest, highest);
  for (std::size_t leaf = 0; leaf < store_->LeafCount(); ++leaf) {
    store_->TakeLeaf(leaf, [&](std::uint64_t offset, const std::uint8_t* data, std::uint32_t length) {
      wider.FillBlock(base_ + static_cast<std::uint32_t>(offset), static_cast<std::int32_t>(length), data);
    });
  }
  for (const std::uint32_t mark : marks_) wider.MarkStartVector(base_ + mark);
  wider.regions_ = std::move(regions_);
  *this = std::move(wider);
}

std::optional<AddressRange> RowsRange(const MapGrid& grid) {
  if (grid.Regions().empty()) return std::nullopt;
  const std::uint64_t last = std::min<std::uint64_t>(std::uint64_t{grid.BaseAddress()} + grid.Span() - 1, 0xFFFFFFFFu);
  return AddressRange{grid.BaseAddress(), static_cast<std::uint32_t>(last)};
}

AddressRange CoveringRange(const std::optional<AddressRange>& rows, std::uint32_t lowest, std::uint32_t highest) {
  if (!rows) return AddressRange{lowest, highest};
  const std::uint64_t base = rows->first;
  // A lower first address keeps the rows: it steps down from the base a whole row at a time, unless that would pass
  // below 0.
  const std::uint64_t step =
      lowest >= base ? 0 : (base - lowest + MapGrid::kBytesPerRow - 1) / MapGrid::kBytesPerRow * MapGrid::kBytesPerRow;
  const std::uint64_t first = step <= base ? base - step : lowest;
  return AddressRange{static_cast<std::uint32_t>(first), std::max(rows->last, highest)};
}

void MapGrid::ForEachWrittenRow(const std::function<bool(std::uint32_t, const RowCells&)>& visit) const {
  ForEachWrittenRowBetween(0, Span(), visit);
}

void MapGrid::ForEachWrittenRowBetween(std::uint64_t from, std::uint64_t to,
                                       const std::function<bool(std::uint32_t, const RowCells&)>& visit) const {
  // The pages are walked once, a page's rows at a time; start vector marks are merged in as the walk passes them.
  auto mark = std::lower_bound(marks_.begin(), marks_.end(), from);
  RowCells cells;
  // Adds the marks of the row at row_offset to cells.start_vector.
  const auto take_marks = [&](std::uint32_t row_offset) {
    for (; mark != marks_.end() && *mark - row_offset < kBytesPerRow; ++mark) {
      cells.start_vector |= 1u << (*mark - row_offset);
    }
  };
  // Visits the rows before `end` that hold nothing but a mark.
  const auto marked_rows_before = [&](std::uint64_t end) {
    while (mark != marks_.end() && *mark < end) {
      const std::uint32_t row_offset = *mark & ~(kBytesPerRow - 1);
      cells.filled = 0;
      cells.start_vector = 0;
      take_marks(row_offset);
      if (!visit(base_ + row_offset, cells)) return false;
    }
    return true;
  };
  MapStore::RowMasks masks;
  const auto scratch = std::make_unique_for_overwrite<std::uint8_t[]>(MapStore::kPageBytes);
  bool go_on = true;
  PageCursor cursor;
  store_->ForEachPage(cursor, from, to, [&](std::uint64_t page_offset, const std::uint8_t* page) {
    go_on = marked_rows_before(std::max(page_offset, from));
    const std::uint8_t* bytes = store_->RowsOf(page, masks, scratch.get());
    for (std::uint32_t r = 0; go_on && r < MapStore::kRowsPerPage; ++r) {
      const auto row_offset = static_cast<std::uint32_t>(page_offset) + r * kBytesPerRow;
      if (row_offset < from || row_offset >= to) continue;
      cells.filled = masks[r];
      cells.start_vector = 0;
      take_marks(row_offset);
      if (cells.filled == 0 && cells.start_vector == 0) continue;
      std::memcpy(cells.bytes.data(), bytes + r * kBytesPerRow, kBytesPerRow);
      go_on = visit(base_ + row_offset, cells);
    }
    return go_on;
  });
  if (go_on) marked_rows_before(to);
}

std::uint64_t MapGrid::WrittenRowCount() const {
  std::uint64_t rows = 0;
  ForEachWrittenRowBetween(0, Span(), [&rows](std::uint32_t, const RowCells&) {
    ++rows;
    return true;
  });
  return rows;
}

std::size_t MapGrid::MemoryBytes() const {
  return store_->MemoryBytes() + marks_.capacity() * sizeof(std::uint32_t) +
         regions_.capacity() * sizeof(AddressRange);
}

}  // namespace varnok
