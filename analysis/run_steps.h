#pragma once

#include <cstdint>

#include "analysis/analysis_run.h"
#include "line_parser.h"
#include "s0_header.h"

namespace varnok {

// Takes an S0 record's texts into the run's header: the module and description always, the version only when the
// record has one.
void MergeHeader(RunHeader& into, S0Header&& header);

// Ends the run as failed at `line` (FreeRun), with the header read so far.
RunResult FailRun(RunKind kind, std::int64_t line, RunHeader&& header, AnalysisState& state);

// Ends the run as parsed: closes the input and keeps the totals in the state and in the result.
RunResult FinishRun(std::int64_t lines, const RecordTotals& records, RunHeader&& header, AnalysisState& state);

// The run over state.InFile (open, nothing read yet) on the calling thread.
RunResult AnalyseOnOneThread(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display);

// The same run with request.parallel.threads parser threads, the calling thread reading and joining their results;
// where no thread can be started, the one-thread run.
RunResult AnalyseInParallel(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display);

}  // namespace varnok
