// Feeds arbitrary bytes through the whole analysis run and lays every successful run's records out in a memory map.
// The first byte chooses the map option (bit 0), the ranges (bit 1) and the read-block size (bits 2 to 7), so that
// lines cross block edges; the same input read one character at a time (every line on the general reading), and
// parsed in chunks on several threads, must give the same result, and a map filled while the input is read the same
// map. Every variant of the vectorised functions must answer as the scalar one does on the input's text.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis_run.h"
#include "byte_scan.h"
#include "analysis/cpu_features.h"
#include "hex_fields_variants.h"
#include "memmap/map_filler.h"
#include "memmap/map_grid.h"
#include "support/recording_sink.h"
#include "support/range_list.h"

namespace {

struct Outcome {
  varnok::AnalysisDisplay display;
  varnok::AnalysisState state;
  varnok::RunResult result;
  std::vector<varnok::AddressRange> ranges;
  varnok::test::RecordingSink sink;  // with the map option, unless the request brings a sink of its own
};

// The run of `request`, its records handed to o.sink with the map option.
void Analyse(Outcome& o, std::string_view text, std::size_t block_size, bool map_option, varnok::RunRequest request) {
  if (map_option && request.sink == nullptr) request.sink = &o.sink;
  o.result = varnok::RunAnalysisOn(varnok::TextModeInput::FromMemory(text, block_size), request, o.state, o.display);
  o.ranges = varnok::test::ListOf(o.state.Ranges);
}

// The AVX2 variants against the scalar ones at every line start of the text: the byte scans for the characters that
// end lines and the text mode's input, the whole data records from there on, and the checksum and the bytes of the
// run that the line's byte count gives.
void CompareVariants(std::string_view text) {
#if defined(__x86_64__)
  static const bool avx2 = varnok::CpuHasAvx2();
  if (!avx2) return;
  // The byte scans may read 31 bytes past the end; a run is read up to 2 * 256 characters from the line's third.
  std::string padded(text);
  padded.resize(text.size() + 2 * 256 + 32, '0');
  varnok::WholeRecord scalar_records[4];
  varnok::WholeRecord avx2_records[4];
  std::uint8_t scalar_record_bytes[4 * varnok::kWholeRecordBytes];
  std::uint8_t avx2_record_bytes[4 * varnok::kWholeRecordBytes];
  std::uint8_t scalar_bytes[256];
  std::uint8_t avx2_bytes[256];
  for (std::size_t at = 0; at < text.size();) {
    const char* p = padded.data() + at;
    const std::size_t n = text.size() - at;
    if (varnok::FindEitherByteScalar(p, n, '\n', '\r') != varnok::FindEitherByteAvx2(p, n, '\n', '\r')) __builtin_trap();
    if (varnok::FindEitherByteScalar(p, n, '\r', 0x1A) != varnok::FindEitherByteAvx2(p, n, '\r', 0x1A)) __builtin_trap();
    const std::size_t count = varnok::WholeDataRecordsScalar(p, n, scalar_records, 4, scalar_record_bytes);
    if (count != varnok::WholeDataRecordsAvx2(p, n, avx2_records, 4, avx2_record_bytes)) __builtin_trap();
    for (std::size_t i = 0; i < count; ++i) {
      if (scalar_records[i].address != avx2_records[i].address || scalar_records[i].length != avx2_records[i].length) {
        __builtin_trap();
      }
      const std::uint8_t* scalar = scalar_record_bytes + i * varnok::kWholeRecordBytes;
      if (!std::equal(scalar, scalar + scalar_records[i].length / 2 - 1, avx2_record_bytes + i * varnok::kWholeRecordBytes)) {
        __builtin_trap();
      }
    }
    const auto m = static_cast<std::int32_t>((varnok::HexToInt(p + 2, 2) & 0xFF) + 1);
    if (varnok::ChecksumOkScalar(p + 2, m) != varnok::ChecksumOkAvx2(p + 2, m)) __builtin_trap();
    varnok::DecodeHexBytesScalar(p + 2, m - 1, scalar_bytes);
    varnok::DecodeHexBytesAvx2(p + 2, m - 1, avx2_bytes);
    if (!std::equal(scalar_bytes, scalar_bytes + m - 1, avx2_bytes)) __builtin_trap();
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
#else
  (void)text;
#endif
}

// The records a failed run handed over before it ended are not compared: the many-thread run hands them in runs.
bool SameResult(const Outcome& a, const Outcome& b) {
  return a.result == b.result && a.ranges == b.ranges && (!a.result.Parsed() || a.sink.blocks == b.sink.blocks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool map_option = (data[0] & 1) != 0;
  varnok::RunRequest request;
  request.ranges = (data[0] & 2) != 0;
  const std::size_t pick = data[0] >> 2;
  const std::size_t block_size = pick == 0 ? varnok::TextModeInput::kBlockSize : pick * pick;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  CompareVariants(text);
  Outcome small;
  Analyse(small, text, block_size, map_option, request);
  // One character at a time no whole record is ever buffered: no fast reading of whole data records.
  Outcome general;
  Analyse(general, text, 1, map_option, request);
  if (!SameResult(small, general)) __builtin_trap();
  // Chunks small enough that their edges fall anywhere in the lines, on two or three threads.
  varnok::RunRequest many_threads = request;
  many_threads.parallel.threads = 2 + (size & 1);
  many_threads.parallel.chunk_size = 1 + (size * 7 + data[0]) % 300;
  many_threads.parallel.min_size = 0;
  Outcome many;
  Analyse(many, text, block_size, map_option, many_threads);
  if (!SameResult(small, many)) __builtin_trap();

  const varnok::RunResult& result = small.result;
  if (result.Parsed() && map_option) {
    // The map of every record written in turn: what the filler must make of the same records.
    varnok::MapGrid grid;
    grid.Build(result.totals.lowest, result.totals.highest);
    for (const auto& [address, bytes] : small.sink.blocks) {
      grid.FillBlock(address, static_cast<std::int32_t>(bytes.size()), bytes.data());
    }
    if (result.totals.exec) grid.MarkStartVector(*result.totals.exec);
    grid.FindRegions();
    std::uint64_t filled = 0;
    std::vector<std::int32_t> written;
    grid.ForEachWrittenRow([&](std::uint32_t address, const varnok::RowCells& cells) {
      filled += static_cast<std::uint64_t>(std::popcount(cells.filled));
      written.push_back(grid.AddressToCell(address).row);
      return true;
    });
    for (const std::int32_t row : written) {
      for (std::int32_t column = 0; column < varnok::MapGrid::kColumnCount; ++column) {
        (void)grid.Cell(column, row);
        (void)grid.CellAddress(column, row);
      }
    }
    // A map filled while the input is read, on several threads, holds what the map of the records holds.
    varnok::MapFiller filler;
    varnok::RunRequest with_filler = many_threads;
    with_filler.sink = &filler;
    Outcome read;
    Analyse(read, text, block_size, map_option, with_filler);
    varnok::MapGrid from_filler;
    filler.Finish(from_filler, result.totals.lowest, result.totals.highest, result.totals.exec);
    if (!read.result.Parsed() || from_filler.RowCount() != grid.RowCount()) __builtin_trap();
    for (const std::int32_t row : written) {
      const varnok::RowCells a = grid.Row(row);
      const varnok::RowCells b = from_filler.Row(row);
      if (a.filled != b.filled || a.start_vector != b.start_vector) __builtin_trap();
      for (std::uint32_t c = 0; c < varnok::MapGrid::kBytesPerRow; ++c) {
        if ((a.filled >> c & 1) != 0 && a.bytes[c] != b.bytes[c]) __builtin_trap();
      }
    }
    from_filler.FindRegions();
    if (from_filler.WrittenRowCount() != written.size() || from_filler.Regions() != grid.Regions()) __builtin_trap();
    // Without a record past 0xFFFFFFFF the map holds exactly the addresses the ranges list.
    if (request.ranges && result.totals.HasLowest() && !small.ranges.empty() &&
        small.ranges.back().last <= result.totals.highest) {
      std::uint64_t covered = 0;
      for (const varnok::AddressRange& range : small.ranges) covered += range.Size();
      if (covered != filled) __builtin_trap();
    }
    // The navigation answers: the regions hold every filled address, and a match found is made of filled bytes.
    std::uint64_t in_regions = 0;
    for (const varnok::AddressRange& region : grid.Regions()) in_regions += region.Size();
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
