#pragma once

#include <cstdint>

#include "analysis/analysis_run.h"
#include "line_parser.h"
#include "s0_header.h"

namespace varnok {

// Shows an S0 record's texts: the module and description always, the version only when the record has one.
void ShowHeader(const S0Header& header, AnalysisDisplay& display);

// Ends the run as failed at `line` (ShowFailure).
RunResult FailRun(RunKind kind, std::int64_t line, AnalysisState& state, AnalysisDisplay& display);

// Ends the run as parsed: closes the input, keeps the totals in the state and shows them with the status.
RunResult FinishRun(std::int64_t lines, const RecordTotals& records, AnalysisState& state, AnalysisDisplay& display);

// The run over state.InFile (open, nothing read yet) on the calling thread.
RunResult AnalyseOnOneThread(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display);

// The same run with request.parallel.threads parser threads, the calling thread reading and joining their results;
// where no thread can be started, the one-thread run.
RunResult AnalyseInParallel(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display);

}  // namespace varnok
