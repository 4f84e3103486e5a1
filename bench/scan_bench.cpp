// What the progress line costs varnok-scan on an input large enough to show it: the same run with and without
// a terminal on the error stream (the line goes to a stream that drops it).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/scan.h"
#include "support/srec_builder.h"

namespace {

// About 89 MB of S3 text: above the size from which the progress line shows.
const std::string& ImagePath() {
  static const std::string path = [] {
    const std::string name = "/tmp/varnok_scan_bench_" + std::to_string(::getpid()) + ".s";
    std::ofstream file(name, std::ios::binary | std::ios::trunc);
    std::string chunk;
    const std::vector<std::uint8_t> data(32, 0x5A);
    for (std::uint32_t address = 0; address < (36u << 20); address += 32) {
      varnok::test::AppendRecord(chunk, 3, address, data.data(), data.size());
      chunk += '\n';
      if (chunk.size() > (1u << 20)) {
        file << chunk;
        chunk.clear();
      }
    }
    file << chunk;
    return name;
  }();
  [[maybe_unused]] static const int removal = std::atexit([] { std::remove(path.c_str()); });
  return path;
}

class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type ch) override { return traits_type::not_eof(ch); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void BM_ScanWithProgressLine(benchmark::State& state) {
  const std::string& path = ImagePath();
  NullBuffer null;
  std::ostream out(&null), err(&null);
  varnok::ScanContext context;
  context.terminal_columns = state.range(0) != 0 ? 80 : 0;
  for (auto _ : state) benchmark::DoNotOptimize(varnok::RunScan({path}, out, err, context));
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.tellg()));
}
BENCHMARK(BM_ScanWithProgressLine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
