#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "analysis/analysis_display.h"
#include "analysis/block_sink.h"
#include "analysis/data_ranges.h"
#include "analysis/record_warnings.h"
#include "analysis/run_result.h"
#include "analysis/text_input.h"

namespace varnok {

// The fields of one analysis run; the main window owns one and keeps it between runs.
struct AnalysisState {
  std::unique_ptr<TextModeInput> InFile;
  DataRanges Ranges;
};

// How one input may be parsed on several threads: its text is read in chunks cut at line starts, the chunks are
// parsed side by side and their results joined in file order, so that the run shows and returns exactly what the
// one-thread run does.
struct ParallelParse {
  // Below this size the threads cost more than they bring (BM_RunThreads in bench/analysis_bench.cpp).
  static constexpr std::uint64_t kMinSize = 2u << 20;
  // Small enough that a chunk's text is still in the cache of the core that read it when that core parses it.
  static constexpr std::size_t kChunkSize = 256u << 10;

  unsigned threads = 1;  // the threads that read and parse, the calling one included; 1 keeps the one-thread path
  std::uint64_t min_size = kMinSize;  // smaller inputs take the one-thread path; one of unknown size counts as empty
  std::size_t chunk_size = kChunkSize;  // the characters a chunk gathers before it is cut at a line start
};

// The cores this process may run on, at least 1.
unsigned UsableCores();

// What "Start parsing..." analyses.
struct RunRequest {
  std::string path;            // the input file
  bool regular_only = false;  // refuse anything but a regular file, so that a FIFO never holds the run up
  bool ranges = false;        // collect the addresses that data records write in state.Ranges
  WarningCollector* warnings = nullptr;  // given every record that passes its checks, in file order
  // The map option: takes every data record's bytes for the memory map; null without it. A failed run leaves in it
  // what it took so far.
  BlockSink* sink = nullptr;
  ParallelParse parallel;
};

// "Start parsing...": frees what the previous run kept, opens request.path in text mode, analyses it line by line,
// telling display how far it has got, and returns what it found. With a sink, the data bytes of every record go to
// it while they are read, and with ranges the addresses they cover are kept in state.Ranges until the next run; a
// failed run keeps none.
RunResult RunAnalysis(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display);

// The same run over an input that is already open (standard input, in-memory inputs); the request's path and
// regular_only are not looked at, and a null input fails as a file that cannot be opened.
RunResult RunAnalysisOn(std::unique_ptr<TextModeInput> input, const RunRequest& request, AnalysisState& state,
                        AnalysisDisplay& display);

// Drops what a run keeps, also for one whose reading had finished (its map step ran out of memory): closes the
// input and frees the kept ranges.
void FreeRun(AnalysisState& state);

}  // namespace varnok
