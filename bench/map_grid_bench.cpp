#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "memmap/map_grid.h"
#include "memmap/map_text.h"

namespace {

constexpr std::uint32_t kImageBytes = 256u << 20;
constexpr std::uint32_t kImageAddress = 0x10000000;
constexpr std::int32_t kScreenRows = 45;

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageBytes);
  std::uint32_t state = 0x12345678;
  for (auto& byte : image) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return image;
}

// The widest range a file can give: 134,217,728 data rows that nobody wrote.
void BM_Build4GiB(benchmark::State& state) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    varnok::MapGrid grid;
    grid.Build(0x00000000, 0xFFFFFFFF);
    benchmark::DoNotOptimize(grid.RowCount());
    bytes = grid.MemoryBytes();
  }
  state.counters["store_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Build4GiB);

// A 256 MiB image in blocks of the given size, as data records deliver it, into a 4 GiB map.
void BM_Fill256MiB(benchmark::State& state) {
  const auto block = static_cast<std::int32_t>(state.range(0));
  const std::vector<std::uint8_t> image = Image();
  std::size_t bytes = 0;
  for (auto _ : state) {
    varnok::MapGrid grid;
    grid.Build(0x00000000, 0xFFFFFFFF);
    for (std::uint32_t at = 0; at < kImageBytes; at += static_cast<std::uint32_t>(block)) {
      const auto length = static_cast<std::int32_t>(std::min<std::uint32_t>(static_cast<std::uint32_t>(block), kImageBytes - at));
      grid.FillBlock(kImageAddress + at, length, image.data() + at);
    }
    grid.MarkStartVector(kImageAddress);
    bytes = grid.MemoryBytes();
    benchmark::DoNotOptimize(bytes);
    state.PauseTiming();
    {
      varnok::MapGrid released = std::move(grid);
    }
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
  state.counters["bytes_per_filled_address"] = static_cast<double>(bytes) / kImageBytes;
  state.counters["store_MiB"] = static_cast<double>(bytes) / (1 << 20);
}
BENCHMARK(BM_Fill256MiB)->Arg(16)->Arg(32)->Arg(252)->Arg(64 << 10)->Unit(benchmark::kMillisecond)->Iterations(3);

// One screen of cells (45 rows of 34 columns) at the top or at the end of a 4 GiB map.
void BM_CellScreen(benchmark::State& state) {
  varnok::MapGrid grid;
  grid.Build(0x00000000, 0xFFFFFFFF);
  const std::vector<std::uint8_t> bytes(kScreenRows * varnok::MapGrid::kBytesPerRow, 0x41);
  grid.FillBlock(0x00000000, static_cast<std::int32_t>(bytes.size()), bytes.data());
  grid.FillBlock(0xFFFFFFFFu - static_cast<std::uint32_t>(bytes.size()) + 1, static_cast<std::int32_t>(bytes.size()),
                 bytes.data());
  grid.MarkStartVector(0x00000010);
  const std::int32_t top = state.range(0) == 0 ? 1 : grid.RowCount() - kScreenRows;
  for (auto _ : state) {
    for (std::int32_t row = top; row < top + kScreenRows; ++row) {
      for (std::int32_t column = 0; column < varnok::MapGrid::kColumnCount; ++column) {
        std::string text = grid.Cell(column, row);
        benchmark::DoNotOptimize(text);
      }
    }
  }
}
BENCHMARK(BM_CellScreen)->ArgName("at_end")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The map's text of a filled 256 MiB image (about 1.3 GB of rows), made a buffer at a time and thrown away: the
// rate at which --map and "Save map as text..." can hand text to the system. Argument 1 marks every 64th byte of
// a row as unused, so that no row takes the whole-row path.
void BM_MapText256MiB(benchmark::State& state) {
  const std::vector<std::uint8_t> image = Image();
  varnok::MapGrid grid;
  grid.Build(kImageAddress, kImageAddress + kImageBytes - 1);
  for (std::uint32_t at = 0; at < kImageBytes; at += 64) {
    grid.FillBlock(kImageAddress + at, state.range(0) == 0 ? 64 : 63, image.data() + at);
  }
  grid.MarkStartVector(kImageAddress);
  std::size_t text_bytes = 0;
  for (auto _ : state) {
    text_bytes = 0;
    varnok::MapTextWriter::ForEachChunk(grid, [&](std::string_view text, std::uint64_t) {
      benchmark::DoNotOptimize(text.data());
      text_bytes += text.size();
      return true;
    });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text_bytes));
  state.counters["text_MB"] = static_cast<double>(text_bytes) / 1e6;
}
BENCHMARK(BM_MapText256MiB)->ArgName("gaps")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
