#pragma once

#include <ostream>

#include "cli/scan.h"
#include "options.h"

namespace varnok {

// varnok-scan --diff: analyses the two files, at once when the jobs allow, compares what they load and returns the
// exit status.
int RunDiff(const ScanOptions& options, const ScanContext& context, std::ostream& out, std::ostream& err);

}  // namespace varnok
