#pragma once

#include <cstdint>

#include "analysis/analysis_run.h"
#include "line_parser.h"
#include "s0_header.h"

namespace varnok {

// Ends the run as failed at `line` (FreeRun), with the header read so far.
RunResult FailRun(RunKind kind, std::int64_t line, RunHeader&& header, AnalysisState& state);
// Ends the run as the parser's outcome says, with the header read so far.
RunResult FailRun(const LineOutcome& outcome, RunHeader&& header, AnalysisState& state);

// Ends the run as parsed: closes the input and returns the totals and the header.
RunResult FinishRun(const RunTotals& totals, RunHeader&& header, AnalysisState& state);

// The run over state.InFile (open, nothing read yet) on the calling thread.
RunResult AnalyseOnOneThread(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display);

// The same run with request.parallel.threads parser threads, the calling thread reading and joining their results;
// where no thread can be started, the one-thread run.
RunResult AnalyseInParallel(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display);

}  // namespace varnok
