// Hot paths of the analysis: record checks, line reading and whole runs over in-memory images.
#include <benchmark/benchmark.h>

#include <string>

#include "analysis/analysis_run.h"
#include "analysis/hex_fields.h"
#include "analysis/line_reader.h"
#include "analysis/recorded_display.h"

namespace {

std::string Image(int records, int per_record) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int r = 0; r < records; ++r) {
    unsigned sum = 0;
    std::string line = "S3";
    auto put = [&](unsigned byte) {
      line += kHex[(byte >> 4) & 0xF];
      line += kHex[byte & 0xF];
      sum += byte;
    };
    put(static_cast<unsigned>(per_record + 5));
    const unsigned address = static_cast<unsigned>(r * per_record);
    for (int i = 3; i >= 0; --i) put((address >> (8 * i)) & 0xFF);
    for (int i = 0; i < per_record; ++i) put(static_cast<unsigned>(r * 7 + i) & 0xFF);
    line += kHex[(~sum >> 4) & 0xF];
    line += kHex[~sum & 0xF];
    out += line + "\r\n";
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

void BM_Run(benchmark::State& state) {
  const std::string image = Image(20000, static_cast<int>(state.range(0)));
  const bool map = state.range(1) != 0;
  varnok::AnalysisState analysis;
  for (auto _ : state) {
    varnok::RecordedDisplay display;
    display.map_option = map;
    varnok::RunAnalysisOn(varnok::TextModeInput::FromMemory(image), analysis, display);
    benchmark::DoNotOptimize(display.status);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}
BENCHMARK(BM_Run)->Args({32, 0})->Args({250, 0})->Args({32, 1});

}  // namespace
