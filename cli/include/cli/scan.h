#pragma once

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/block_sink.h"
#include "analysis/run_summary.h"

namespace varnok {

// Exit statuses of varnok-scan. With several files the most severe one counts: 4, 3, 1, then 5.
inline constexpr int kScanSuccess = 0;
inline constexpr int kScanAnalysisError = 1;
inline constexpr int kScanUsageError = 2;
inline constexpr int kScanOutOfMemory = 3;
inline constexpr int kScanOutputError = 4;
inline constexpr int kScanOutsideRegions = 5;  // a valid file loads data outside every memory region given
// Exit statuses of varnok-scan --diff, as cmp and diff have them.
inline constexpr int kDiffSame = 0;
inline constexpr int kDiffDifferent = 1;
inline constexpr int kDiffTrouble = 2;

// What varnok-scan takes from its process besides the arguments.
struct ScanContext {
  int stdin_fd = 0;          // what the FILE "-" reads
  int terminal_columns = 0;  // the width of the terminal on the error stream; 0 when it is not a terminal
  // The errno of the report's failed write, when the output knows it.
  std::function<int()> write_error;
  // Serve the buffer in which the map gathers the records of a run.
  BlockAllocator allocate = &std::malloc;
  BlockDeallocator deallocate = &std::free;
};

// Runs varnok-scan with the arguments after the program name; writes the report to out and diagnostics to err
// and returns the exit status.
int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            const ScanContext& context = {});

}  // namespace varnok
