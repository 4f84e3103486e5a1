// Hot paths of the analysis: record checks, line reading and whole runs over in-memory images.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/hex_fields.h"
#include "analysis/line_reader.h"
#include "memmap/map_filler.h"
#include "support/srec_builder.h"

namespace {

// S3 records of per_record bytes from address 0 on, each ended by `end`.
std::string Image(int records, int per_record, const char* end = "\r\n") {
  std::string out;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(per_record));
  for (int r = 0; r < records; ++r) {
    for (int i = 0; i < per_record; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(r * 7 + i);
    varnok::test::AppendRecord(out, 3, static_cast<std::uint32_t>(r * per_record), data.data(), data.size());
    out += end;
  }
  return out;
}

void BM_ChecksumOk(benchmark::State& state) {
  const std::string line = Image(1, static_cast<int>(state.range(0)));
  const auto n = static_cast<std::int32_t>(varnok::HexToInt(line.data() + 2, 2));
  for (auto _ : state) benchmark::DoNotOptimize(varnok::ChecksumOk(line.data() + 2, n + 1));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}
BENCHMARK(BM_ChecksumOk)->Arg(32)->Arg(250);

void BM_ReadLine(benchmark::State& state) {
  const std::string image = Image(20000, 32);
  for (auto _ : state) {
    auto input = varnok::TextModeInput::FromMemory(image);
    varnok::LineBuffer buffer;
    int lines = 0;
    while (varnok::ReadLine(*input, buffer.text, varnok::kLineLimit) >= 0) ++lines;
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}
BENCHMARK(BM_ReadLine);

// Runs the analysis over image for every iteration of state; with `warnings` the collector hears every record, with
// `map` a map filler takes them.
void RunOver(benchmark::State& state, const std::string& image, varnok::RunRequest request, bool warnings = false,
             bool map = false) {
  varnok::AnalysisState analysis;
  for (auto _ : state) {
    varnok::WarningCollector collector;
    request.warnings = warnings ? &collector : nullptr;
    varnok::MapFiller filler;
    request.sink = map ? &filler : nullptr;
    varnok::AnalysisDisplay display;
    const varnok::RunResult result =
        varnok::RunAnalysisOn(varnok::TextModeInput::FromMemory(image), request, analysis, display);
    benchmark::DoNotOptimize(result.totals.records);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}

// Arguments: data bytes per record, the map option, the ranges option, the warnings.
void BM_Run(benchmark::State& state) {
  varnok::RunRequest request;
  request.ranges = state.range(2) != 0;
  RunOver(state, Image(20000, static_cast<int>(state.range(0))), request, state.range(3) != 0, state.range(1) != 0);
}
BENCHMARK(BM_Run)
    ->Args({32, 0, 0, 0})
    ->Args({32, 0, 0, 1})
    ->Args({32, 0, 1, 0})
    ->Args({250, 0, 0, 0})
    ->Args({250, 0, 0, 1})
    ->Args({250, 0, 1, 0})
    ->Args({32, 1, 0, 0});

// Where one input becomes worth several threads. Arguments: KiB of text (S3 records of 32 bytes), threads.
void BM_RunThreads(benchmark::State& state) {
  varnok::RunRequest request;
  request.parallel.threads = static_cast<unsigned>(state.range(1));
  request.parallel.min_size = 0;
  RunOver(state, Image(static_cast<int>(state.range(0) * 1024 / 79), 32, "\n"), request);
}
BENCHMARK(BM_RunThreads)->ArgsProduct({{64, 256, 512, 1024, 2048, 8192}, {1, 2}})->UseRealTime();

}  // namespace
