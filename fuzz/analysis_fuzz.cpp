// Feeds arbitrary bytes through the whole analysis run and lays every successful run's blocks out in a memory map.
// The first byte chooses the map option (bit 0), the ranges (bit 1) and the read-block size (bits 2 to 7), so that
// lines cross block edges; the same input read in whole blocks on the scalar paths, and parsed in chunks on several
// threads, must give the same result, and a map filled while the input is read the same map.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analysis_run.h"
#include "cpu_features.h"
#include "memmap/map_filler.h"
#include "memmap/map_grid.h"

namespace {

struct Outcome {
  varnok::AnalysisDisplay display;
  varnok::AnalysisState state;
  varnok::RunResult result;
  std::vector<varnok::DataRange> ranges;
  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> blocks;
};

void Analyse(Outcome& o, std::string_view text, std::size_t block_size, const varnok::RunRequest& request) {
  o.result = varnok::RunAnalysisOn(varnok::TextModeInput::FromMemory(text, block_size), request, o.state, o.display);
  o.ranges = o.state.Ranges.List();
  for (const varnok::DataBlock b : o.state.DataBlocks) o.blocks.push_back({b.Address, {b.Data, b.Data + b.Length}});
}

bool SameResult(const Outcome& a, const Outcome& b) {
  const varnok::RunTotals& x = a.result.totals;
  const varnok::RunTotals& y = b.result.totals;
  return a.result.kind == b.result.kind && a.result.line == b.result.line && x.records == y.records &&
         x.data_bytes == y.data_bytes && x.lowest == y.lowest && x.highest == y.highest && x.exec == y.exec &&
         a.result.header == b.result.header && a.ranges == b.ranges && a.blocks == b.blocks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  varnok::RunRequest request;
  request.map_option = (data[0] & 1) != 0;
  request.ranges = (data[0] & 2) != 0;
  const std::size_t pick = data[0] >> 2;
  const std::size_t block_size = pick == 0 ? varnok::TextModeInput::kBlockSize : pick * pick;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  Outcome small;
  Analyse(small, text, block_size, request);
  // In whole blocks on the scalar paths: no fast reading of whole data records either.
  varnok::SetAvx2Enabled(false);
  Outcome whole;
  Analyse(whole, text, varnok::TextModeInput::kBlockSize, request);
  varnok::SetAvx2Enabled(true);
  if (!SameResult(small, whole)) __builtin_trap();
  // Chunks small enough that their edges fall anywhere in the lines, on two or three threads.
  varnok::RunRequest many_threads = request;
  many_threads.parallel.threads = 2 + (size & 1);
  many_threads.parallel.chunk_size = 1 + (size * 7 + data[0]) % 300;
  many_threads.parallel.min_size = 0;
  Outcome many;
  Analyse(many, text, block_size, many_threads);
  if (!SameResult(small, many)) __builtin_trap();

  const varnok::RunResult& result = small.result;
  if (result.Parsed() && request.map_option) {
    varnok::MapGrid grid;
    grid.Build(result.totals.lowest, result.totals.highest);
    varnok::FillFromBlocks(grid, small.state.DataBlocks, result.totals.exec);
    std::uint64_t filled = 0;
    for (std::int32_t row = grid.NextWrittenRow(0); row > 0; row = grid.NextWrittenRow(row)) {
      filled += static_cast<std::uint64_t>(std::popcount(grid.Row(row).filled));
      for (std::int32_t column = 0; column < grid.ColumnCount(); ++column) {
        (void)varnok::DecodeCell(column, grid.Cell(column, row));
        (void)grid.AddressReadout(column, row);
      }
    }
    // A map filled while the input is read, on several threads, holds what the map of the kept blocks holds.
    varnok::MapFiller filler;
    varnok::RunRequest with_filler = many_threads;
    with_filler.sink = &filler;
    Outcome read;
    Analyse(read, text, block_size, with_filler);
    varnok::MapGrid from_filler;
    filler.Finish(from_filler, result.totals.lowest, result.totals.highest, result.totals.exec);
    if (!read.result.Parsed() || from_filler.RowCount() != grid.RowCount()) __builtin_trap();
    for (std::int32_t row = grid.NextWrittenRow(0); row > 0; row = grid.NextWrittenRow(row)) {
      const varnok::RowCells a = grid.Row(row);
      const varnok::RowCells b = from_filler.Row(row);
      if (a.filled != b.filled || a.start_vector != b.start_vector) __builtin_trap();
      for (std::uint32_t c = 0; c < varnok::MapGrid::kBytesPerRow; ++c) {
        if ((a.filled >> c & 1) != 0 && a.bytes[c] != b.bytes[c]) __builtin_trap();
      }
    }
    if (from_filler.WrittenRowCount() != grid.WrittenRowCount()) __builtin_trap();
    // Without a record past 0xFFFFFFFF the map holds exactly the addresses the ranges list.
    if (request.ranges && result.totals.HasLowest() && !small.ranges.empty() &&
        small.ranges.back().last <= result.totals.highest) {
      std::uint64_t covered = 0;
      for (const varnok::DataRange& range : small.ranges) covered += std::uint64_t{range.last} - range.first + 1;
      if (covered != filled) __builtin_trap();
    }
    // The navigation answers: the regions hold every filled address, and a match found is made of filled bytes.
    std::uint64_t in_regions = 0;
    for (const varnok::MapRegion& region : grid.Regions()) in_regions += region.Size();
    if (in_regions != filled) __builtin_trap();
    (void)grid.ScrollMarks(1 + static_cast<int>(data[0] % 64));
    const std::uint8_t pattern[] = {data[0], static_cast<std::uint8_t>(size)};
    const std::size_t length = 1 + data[0] % 2;
    if (const auto at = grid.FindForward({pattern, length}, 0)) {
      const varnok::CellPos cell = grid.AddressToCell(grid.BaseAddress() + *at);
      if (!grid.ByteAt(cell.column, cell.row).filled) __builtin_trap();
    }
    (void)grid.FindBackward({pattern, length}, 0);
    for (std::int32_t row = 1; row < grid.RowCount() && row < 4; ++row) {
      (void)grid.NextRegionRow(row);
      (void)grid.PreviousRegionRow(row);
    }
  }
  return 0;
}
