#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "analysis/data_blocks.h"

namespace varnok {

// Exit statuses of varnok-scan.
inline constexpr int kScanSuccess = 0;
inline constexpr int kScanAnalysisError = 1;
inline constexpr int kScanUsageError = 2;
inline constexpr int kScanOutOfMemory = 3;

// Runs varnok-scan with the arguments after the program name; writes the report to out and
// diagnostics to err and returns the exit status. The allocator serves the kept data blocks.
int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            BlockAllocator allocate = &std::malloc, BlockDeallocator deallocate = &std::free);

// A field value as the report prints it: bytes outside 0x20..0x7E and the backslash as \xNN.
std::string EscapeValue(const std::string& text);

}  // namespace varnok
