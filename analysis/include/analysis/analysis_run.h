#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "analysis/analysis_display.h"
#include "analysis/data_blocks.h"
#include "analysis/text_input.h"

namespace varnok {

// The fields of one analysis run; the main window owns one and keeps it between runs.
struct AnalysisState {
  std::unique_ptr<TextModeInput> InFile;
  std::int32_t ByteCount = 0;
  std::uint32_t RecAddress = 0;
  std::uint32_t RecEnd = 0;
  std::uint32_t TotalBytes = 0;
  std::uint32_t LowestAddr = 0xFFFFFFFFu;
  std::uint32_t HighestAddr = 0;
  bool HasExecAddr = false;
  std::uint32_t ExecAddr = 0;
  DataBlockStore DataBlocks;
};

// "Start parsing...": clears the previous results, opens display.InputPath() in text mode, analyses
// it line by line and writes the status, the result fields and, with the map option on, the map.
void RunAnalysis(AnalysisState& state, AnalysisDisplay& display);

// The same run over an input that is already open (for in-memory inputs: tests and the fuzzer).
void RunAnalysisOn(std::unique_ptr<TextModeInput> input, AnalysisState& state, AnalysisDisplay& display);

// Frees every kept data block.
void ClearDataBlocks(AnalysisState& state);

}  // namespace varnok
