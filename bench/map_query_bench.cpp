// The map's questions that the window asks of large maps: scroll bar marks, the region list and find.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "memmap/map_grid.h"

namespace {

constexpr std::uint32_t kImageBytes = 256u << 20;
constexpr std::uint32_t kImageAddress = 0x10000000;

// Data in every one of the 1,048,576 pages of a 4 GiB map, for a groove of 1,000 pixels.
void BM_ScrollMarksEveryPageOf4GiB(benchmark::State& state) {
  varnok::MapGrid grid;
  grid.Build(0x00000000, 0xFFFFFFFF);
  const std::uint8_t bytes[16] = {};
  for (std::uint64_t page = 0; page < (std::uint64_t{1} << 20); ++page) {
    grid.FillBlock(static_cast<std::uint32_t>(page << 12) + 0x100, sizeof bytes, bytes);
  }
  grid.MarkStartVector(0x80000000);
  for (auto _ : state) benchmark::DoNotOptimize(grid.ScrollMarks(1000));
  state.counters["store_MiB"] = static_cast<double>(grid.MemoryBytes()) / (1 << 20);
}
BENCHMARK(BM_ScrollMarksEveryPageOf4GiB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// 100,000 regions of 16 bytes, 4 KiB apart; each pass works them out anew, as a fill does when it ends.
void BM_Regions100000(benchmark::State& state) {
  varnok::MapGrid grid;
  grid.Build(0x00000000, 0xFFFFFFFF);
  const std::uint8_t bytes[16] = {};
  for (std::uint32_t region = 0; region < 100000; ++region) grid.FillBlock(region << 12, sizeof bytes, bytes);
  std::size_t count = 0;
  for (auto _ : state) {
    grid.FindRegions();
    count = grid.Regions().size();
    benchmark::DoNotOptimize(count);
  }
  state.counters["regions"] = static_cast<double>(count);
}
BENCHMARK(BM_Regions100000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// A 256 MiB image of pseudo-random bytes in one 4 GiB map.
const varnok::MapGrid& Image() {
  static const varnok::MapGrid grid = [] {
    varnok::MapGrid map;
    map.Build(0x00000000, 0xFFFFFFFF);
    std::vector<std::uint8_t> block(252);
    std::uint32_t seed = 0x12345678;
    for (std::uint32_t at = 0; at < kImageBytes; at += static_cast<std::uint32_t>(block.size())) {
      for (auto& byte : block) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
      }
      const auto length = static_cast<std::int32_t>(std::min<std::uint32_t>(252, kImageBytes - at));
      map.FillBlock(kImageAddress + at, length, block.data());
    }
    constexpr std::string_view kAtEnd = "VERSION 1.0.1.18";
    map.FillBlock(kImageAddress + kImageBytes - kAtEnd.size(), kAtEnd.size(),
                  reinterpret_cast<const std::uint8_t*>(kAtEnd.data()));
    return map;
  }();
  return grid;
}

std::vector<std::uint8_t> Pattern(std::string_view text) { return {text.begin(), text.end()}; }

// Forward from the map's start over all 256 MiB: arg 0 a pattern that is absent, arg 1 the string at the image's end.
void BM_FindForward256MiB(benchmark::State& state) {
  const varnok::MapGrid& grid = Image();
  const std::vector<std::uint8_t> pattern =
      Pattern(state.range(0) == 0 ? "\xDE\xAD\xBE\xEF\x01\x02" : "VERSION 1.0.1.18");
  for (auto _ : state) benchmark::DoNotOptimize(grid.FindForward(pattern, 0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_FindForward256MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// Backward from the image's end over all 256 MiB, for a pattern that is absent.
void BM_FindBackward256MiB(benchmark::State& state) {
  const varnok::MapGrid& grid = Image();
  const std::vector<std::uint8_t> pattern = Pattern("\xDE\xAD\xBE\xEF\x01\x02");
  for (auto _ : state) benchmark::DoNotOptimize(grid.FindBackward(pattern, kImageAddress + kImageBytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
}
BENCHMARK(BM_FindBackward256MiB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
